// The mode list and the ways a file becomes the code or data image:
// the browse buttons, dropped files and the typed path.
#include "app/rodediz_dlg.h"
#include "device/diagnostics.h"

namespace {

constexpr char kFileFilter[] = "Binary files(*.bin) |*.bin|All files(*.*)|*.*||";
constexpr uint64_t kSramImageLimit = 32768;

FileDialogSpec OpenDialog(unsigned flags, const std::string& folder)
{
    FileDialogSpec spec;
    spec.title = "Choose Open file...";
    spec.filter = kFileFilter;
    spec.defaultExtension = "bin";
    spec.flags = flags;
    spec.nameBufferSize = 10000;
    spec.initialFolder = folder;
    return spec;
}

} // namespace

void CRODEdizDlg::OnSelchangeMode()
{
    IDialogWindow& w = *Window();
    const int row = SelectedMode();
    if (row == kModeRowSram || row == kModeRowDump) {
        m_btnExecute.SetWindowText(row == kModeRowSram ? "Download" : "Dump");
        m_btnCode.SetWindowText(row == kModeRowSram ? "Code" : "Path");
        w.SetCheck(IDC_SERIES_OPTION, false);
        w.SetCheck(IDC_DATA_OPTION, false);
        w.SetCheck(IDC_CODE_OPTION, true);
    } else if (row == kModeRowSpi) {
        m_btnExecute.SetWindowText("Burn");
        m_btnCode.SetWindowText("Code");
    }
    // A dump writes only where the user pointed it after choosing the mode.
    m_bDumpPathChosen = false;
    ApplySeriesOption();

    m_link.CMD_IbrGetState(m_hDevice, m_abyReply);
    m_bFlashMode = m_abyReply[0] == kIbrStateFlash;
    if (m_bFlashMode && row == kModeRowSram) {
        AfxMessageBox("Please reboot the target for SDRAM download!");
        m_cbMode.SetCurSel(kModeRowSpi);
        return;
    }
    const bool dump = SelectedMode() == kModeRowDump;
    w.EnableWindow(IDC_DUMP_LENGTH, dump);
    w.ShowWindow(IDC_DUMP_LENGTH, dump);
    w.EnableWindow(IDC_DUMP_UNIT, dump);
    w.ShowWindow(IDC_DUMP_UNIT, dump);
    ShowCodePath(CodePathSnapshot());
}

void CRODEdizDlg::OnCodeButton()
{
    IDialogWindow& w = *Window();
    FileDialogResult chosen;
    switch (SelectedMode()) {
    case kModeRowSram: {
        if (!w.RunFileDialog(OpenDialog(OFN_HIDEREADONLY, ""), chosen)) return;
        SetCodePath(chosen.path);
        UpdateData(false);
        std::string error;
        auto file = Services().files.Open(chosen.path, FileOpenMode::Read, error);
        if (!file) {
            AfxMessageBox(error);
            return;
        }
        const uint64_t length = file->Length();
        file->Close();
        if (length <= kSramImageLimit) {
            ShowCodePath(chosen.path);
            RefreshCodeFileInfo(chosen.path);
        } else {
            AfxMessageBox("File Size is larger than 32K!!!");
        }
        return;
    }
    case kModeRowSpi:
        if (!w.RunFileDialog(OpenDialog(OFN_FILEMUSTEXIST, CodePathSnapshot()), chosen)) return;
        SetCodePath(chosen.path);
        UpdateData(false);
        ShowCodePath(chosen.path);
        RefreshCodeFileInfo(chosen.path);
        return;
    case kModeRowDump: {
        FileDialogSpec spec;
        spec.save = true;
        spec.title = "Choose Save file...";
        spec.filter = kFileFilter;
        spec.defaultExtension = "bin";
        spec.flags = OFN_OVERWRITEPROMPT;
        spec.initialName = "Dump";
        spec.nameBufferSize = 260;
        spec.initialFolder = m_szExePath;
        if (!w.RunFileDialog(spec, chosen)) return;
        DiagPrintf("a\n");
        DiagPrintf("b\n");
        SetCodePath(chosen.path);
        m_bDumpPathChosen = true;
        UpdateData(false);
        ShowCodePath(chosen.path);
        RefreshCodeFileInfo(chosen.path);
        return;
    }
    default:
        return;
    }
}

void CRODEdizDlg::OnDataButton()
{
    if (SelectedMode() != kModeRowSpi) return;
    FileDialogResult chosen;
    if (!Window()->RunFileDialog(OpenDialog(OFN_FILEMUSTEXIST, CodePathSnapshot()), chosen)) return;
    SetDataPath(chosen.path);
    UpdateData(false);
    ShowDataPath(chosen.path);
    RefreshDataFileInfo(chosen.path);
}

void CRODEdizDlg::OnDropFiles(const std::vector<std::string>& files)
{
    UpdateData(true);
    if (files.empty()) return;
    std::string path = files.front().substr(0, 260);
    Point cursor = Window()->GetCursorPos();
    DiagPrintf("POS_Y=%d\n", cursor.y);
    if (cursor.y >= Window()->GetWindowRect(IDC_DATA_BUTTON).top && SelectedMode() == kModeRowSpi) return;
    SetCodePath(path);
    if (SelectedMode() == kModeRowDump) m_bDumpPathChosen = true;
    ShowCodePath(path);
    RefreshCodeFileInfo(path);
}

void CRODEdizDlg::OnUpdateCodePath()
{
    IDialogWindow& w = *Window();
    w.EnableWindow(IDC_CODE_PATH, true);
    const std::string path = w.GetWindowText(IDC_CODE_PATH);
    std::string error;
    IFileSystem& files = Services().files;
    std::unique_ptr<IFile> file;
    if (SelectedMode() == kModeRowDump) {
        file = files.Open(path, FileOpenMode::Read, error);
        // A typed output path that does not exist yet is created, empty.
        if (!file) file = files.Open(path, FileOpenMode::CreateReadWrite, error);
    } else {
        file = files.Open(path, FileOpenMode::Read, error);
    }
    if (!file) {
        w.SetWindowText(IDC_CODE_NAME, error);
        w.SetWindowText(IDC_CODE_DATE, "");
        w.SetWindowText(IDC_CODE_SIZE, "");
        m_nCodeSize = 0;
        return;
    }
    file->Close();
    if (SelectedMode() == kModeRowDump && path != CodePathSnapshot()) m_bDumpPathChosen = true;
    SetCodePath(path);
}
