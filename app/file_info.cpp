// The file information of the code and data images shown in the window.
#include "app/rodediz_dlg.h"
#include "firmware/image_name.h"

namespace {

struct FileInfoTexts {
    std::string name, date, size;
    uint64_t length = 0;
};

// Reads name, date and size of a file; false when it cannot be opened or its status read.
bool ReadFileInfo(IFileSystem& files, const std::string& path, FileInfoTexts& info, bool& opened)
{
    opened = false;
    if (path.empty()) return false;
    std::string error;
    auto file = files.Open(path, FileOpenMode::Read, error);
    if (!file) return false;
    opened = true;
    FileStatus status;
    if (!file->Status(status)) {
        file->Close();
        return false;
    }
    std::tm local{};
    info.name = FileNameOf(path);
    info.date = DateText(files.ToLocalTime(status.modifiedTime, local) ? &local : nullptr);
    info.size = SizeText(status.length);
    info.length = status.length;
    file->Close();
    return true;
}

} // namespace

void CRODEdizDlg::RefreshCodeFileInfo(std::string path)
{
    FileInfoTexts info;
    bool opened = false;
    bool ok = ReadFileInfo(Services().files, path, info, opened);
    if (opened && m_toolTip.IsCreated()) {
        if (!m_bPathTipsAdded) {
            // The path tools join the tooltip control the first time there is a path to show.
            m_toolTip.AddTool(IDC_CODE_PATH, path);
            m_toolTip.AddTool(IDC_CODE_NAME_TIP, path);
            m_toolTip.AddTool(IDC_DATA_PATH, "");
            m_bPathTipsAdded = true;
        }
        m_toolTip.UpdateTipText(path, IDC_CODE_PATH);
        m_toolTip.UpdateTipText(path, IDC_CODE_NAME_TIP);
    }
    if (ok) {
        SetDlgItemText(IDC_CODE_NAME, info.name);
        SetDlgItemText(IDC_ID_TEXT, info.name);
        SetDlgItemText(IDC_CODE_DATE, info.date);
        SetDlgItemText(IDC_CODE_SIZE, info.size);
        m_nCodeSize = static_cast<int32_t>(static_cast<uint32_t>(info.length));
        return;
    }
    // In Dump mode the path names an output file that need not exist yet.
    if (SelectedMode() == kModeRowDump) return;
    SetCodePath("");
    m_nCodeSize = 0;
    SetDlgItemText(IDC_CODE_NAME_TIP, "");
    SetDlgItemText(IDC_CODE_PATH, "");
    SetDlgItemText(IDC_CODE_NAME, "Unknown");
    SetDlgItemText(IDC_CODE_DATE, "Unknown");
    SetDlgItemText(IDC_CODE_SIZE, "Unknown");
}

void CRODEdizDlg::RefreshDataFileInfo(std::string path)
{
    FileInfoTexts info;
    bool opened = false;
    bool ok = ReadFileInfo(Services().files, path, info, opened);
    if (opened && m_toolTip.IsCreated() && m_bPathTipsAdded) m_toolTip.UpdateTipText(path, IDC_DATA_PATH);
    if (ok) {
        SetDlgItemText(IDC_DATA_NAME, info.name);
        SetDlgItemText(IDC_DATA_DATE, info.date);
        SetDlgItemText(IDC_DATA_SIZE, info.size);
        return;
    }
    if (SelectedMode() == kModeRowDump) return;
    SetDataPath("");
    SetDlgItemText(IDC_DATA_NAME, "Unknown");
    SetDlgItemText(IDC_DATA_DATE, "Unknown");
    SetDlgItemText(IDC_DATA_SIZE, "Unknown");
}

void CRODEdizDlg::ShowCodePath(const std::string& path) { SetDlgItemText(IDC_CODE_PATH, path); }
void CRODEdizDlg::ShowDataPath(const std::string& path) { SetDlgItemText(IDC_DATA_PATH, path); }

void CRODEdizDlg::InitDefaultFiles()
{
    m_szExePath = Services().files.ProgramPath();
    m_cbMode.SetCurSel(kModeRowSpi);
    Window()->SetCheck(IDC_CODE_OPTION, true);
    Window()->SetCheck(IDC_DATA_OPTION, false);
    Window()->SetCheck(IDC_CHECK_ID, true);

    SetDlgItemText(IDC_CODE_NAME_TIP, kDefaultCodeImagePath);
    ShowCodePath(kDefaultCodeImagePath);
    SetCodePath(kDefaultCodeImagePath);
    RefreshCodeFileInfo(kDefaultCodeImagePath);

    SetDlgItemText(IDC_OFFSET_EDIT, "0");
    SetDlgItemText(IDC_OFFSET_DISPLAY, "0");
    SetDlgItemText(IDC_SERIES_EDIT, "1");
    Window()->SetCheck(IDC_SERIES_OPTION, false);
    ApplySeriesOption();

    const bool dump = SelectedMode() == kModeRowDump;
    Window()->EnableWindow(IDC_DUMP_LENGTH, dump);
    Window()->ShowWindow(IDC_DUMP_LENGTH, dump);
    Window()->EnableWindow(IDC_DUMP_UNIT, dump);
    Window()->ShowWindow(IDC_DUMP_UNIT, dump);
}
