// The main dialog: construction, data exchange, message map, start-up,
// timers, the in-place editors, job controls and closing.
#include "app/rodediz_dlg.h"

#include <thread>

#include "device/diagnostics.h"
#include "firmware/image_name.h"

std::atomic<bool> g_bDeclined{false};

namespace {

constexpr int kWriteBufferSize = 16384 + 256;
constexpr int kBlockBufferSize = 65536;

const char* const kModeRows[] = {
    "Download to SRAM                     ",
    "Download to SPI Flash                ",
    "Dump SPI Flash with                  ",
};

// Controls whose redrawing is switched off at the end of start-up, in this order.
const int kRedrawOffControls[] = {IDC_ID_TEXT, IDC_GET_VER, IDC_READ_ID_HEX, IDC_WRITE_ID,
                                  IDC_CHECK_ID, IDC_CODE_BUTTON, IDC_CODE_OPTION, IDC_PRODUCT_LINE};

// The controls of the series-number option, in the order they are switched.
const int kSeriesOptionControls[] = {IDC_SERIES_OPTION_LABEL, IDC_OFFSET_LABEL, IDC_NUMBER_LABEL,
                                     IDC_OFFSET_EDIT,         IDC_OFFSET_DISPLAY, IDC_SERIES_EDIT};

} // namespace

CRODEdizDlg::CRODEdizDlg(DialogServices services)
    : CDialog(IDD_RODEDIZ_DIALOG),
      m_services(services),
      m_link(services.passThrough),
      m_writeBuffer(new uint8_t[kWriteBufferSize]()),
      m_readBackBuffer(new uint8_t[kBlockBufferSize]()),
      m_compareBuffer(new uint8_t[kBlockBufferSize]()),
      m_keepBuffer(new uint8_t[kBlockBufferSize]())
{
}

CRODEdizDlg::~CRODEdizDlg()
{
    // Threads use members declared after the keeper: they must end first.
    m_bClosing = true;
    m_threads.WaitAll([](const std::function<bool()>& done) {
        while (!done()) std::this_thread::yield();
    });
}

void CRODEdizDlg::DoDataExchange(CDataExchange& dx)
{
    DDX_Control(dx, IDC_STATUS, m_ctlStatus);
    DDX_Control(dx, IDC_PROGRESS, m_ctlProgress);
    DDX_Control(dx, IDC_PROGRESS_TEXT, m_ctlProgressText);
    DDX_Control(dx, IDC_EXIT, m_btnExit);
    DDX_Control(dx, IDC_RECONNECT, m_btnReconnect);
    DDX_Control(dx, IDC_CODE_BUTTON, m_btnCode);
    DDX_Control(dx, IDC_EXECUTE, m_btnExecute);
    DDX_Control(dx, IDC_MODE, m_cbMode);
    DDX_Text(dx, IDC_SERIES_EDIT, m_strSeriesEdit);
    DDV_MaxChars(dx, m_strSeriesEdit, 8);
    DDX_Text(dx, IDC_OFFSET_EDIT, m_strOffsetEdit);
    DDV_MaxChars(dx, m_strOffsetEdit, 8);
    DDX_Control(dx, IDC_SERIES_EDIT, m_editSeries);
    DDX_Control(dx, IDC_OFFSET_EDIT, m_editOffset);
}

const MessageMap& CRODEdizDlg::GetMessageMap() const
{
    using D = CRODEdizDlg;
    static const MessageMap map = {
        OnMessageEntry<D>(WM_SYSCOMMAND, &D::OnSysCommandMessage),
        OnMessageEntry<D>(WM_PAINT, &D::OnPaintMessage),
        OnMessageEntry<D>(WM_QUERYDRAGICON, &D::OnQueryDragIcon),
        OnCommandEntry<D>(BN_CLICKED, IDC_CODE_BUTTON, &D::OnCodeButton),
        OnCommandEntry<D>(BN_CLICKED, IDC_EXIT, &D::OnOK),
        OnCommandEntry<D>(BN_CLICKED, IDC_RECONNECT, &D::OnReconnect),
        OnCommandEntry<D>(BN_CLICKED, IDC_EXECUTE, &D::OnExecute),
        OnMessageEntry<D>(WM_CTLCOLOR, &D::OnCtlColorMessage),
        OnMessageEntry<D>(WM_TIMER, &D::OnTimerMessage),
        DefaultEntry(WM_ERASEBKGND),
        DefaultEntry(WM_KEYDOWN),
        DefaultEntry(WM_CHAR),
        NothingEntry(EN_CHANGE, IDC_SERIES_EDIT),
        DefaultEntry(WM_MOUSEMOVE),
        OnMessageEntry<D>(WM_DROPFILES, &D::OnDropFilesMessage),
        OnCommandEntry<D>(CBN_SELCHANGE, IDC_MODE, &D::OnSelchangeMode),
        NothingEntry(BN_CLICKED, IDC_CODE_NAME_TIP),
        NothingEntry(EN_SETFOCUS, IDC_CODE_PATH),
        NothingEntry(EN_CHANGE, IDC_CODE_PATH),
        NothingEntry(EN_KILLFOCUS, IDC_CODE_PATH),
        NothingEntry(CBN_DROPDOWN, IDC_MODE),
        OnCommandEntry<D>(EN_UPDATE, IDC_CODE_PATH, &D::OnUpdateCodePath),
        OnCommandEntry<D>(STN_DBLCLK, IDC_OFFSET_DISPLAY, &D::OnOffsetDisplayDblClk),
        OnCommandEntry<D>(EN_KILLFOCUS, IDC_OFFSET_EDIT, &D::OnOffsetEditKillFocus),
        OnCommandEntry<D>(STN_DBLCLK, IDC_SERIES_DISPLAY, &D::OnSeriesDisplayDblClk),
        OnCommandEntry<D>(EN_KILLFOCUS, IDC_SERIES_EDIT, &D::OnSeriesEditKillFocus),
        OnMessageEntry<D>(WM_SETFOCUS, &D::OnSetFocusMessage),
        OnMessageEntry<D>(WM_LBUTTONDOWN, &D::OnLButtonDownMessage),
        OnCommandEntry<D>(BN_CLICKED, IDC_SERIES_OPTION, &D::ApplySeriesOption),
        OnCommandEntry<D>(STN_CLICKED, IDC_SERIES_OPTION_LABEL, &D::ToggleSeriesOption),
        NothingEntry(EN_CHANGE, IDC_OFFSET_EDIT),
        NothingEntry(EN_CHANGE, IDC_SERIES_EDIT),
        OnCommandEntry<D>(EN_SETFOCUS, IDC_OFFSET_EDIT, &D::OnOffsetEditSetFocus),
        OnCommandEntry<D>(EN_SETFOCUS, IDC_SERIES_EDIT, &D::OnSeriesEditSetFocus),
        DefaultEntry(WM_WINDOWPOSCHANGED),
        DefaultEntry(WM_WINDOWPOSCHANGING),
        OnCommandEntry<D>(BN_CLICKED, IDC_DATA_BUTTON, &D::OnDataButton),
        NothingEntry(STN_DBLCLK, IDC_DATA_START),
        NothingEntry(BN_CLICKED, IDC_DATA_OPTION),
        NothingEntry(BN_CLICKED, IDC_CODE_OPTION),
        NothingEntry(EN_UPDATE, IDC_DATA_PATH),
        OnCommandEntry<D>(BN_CLICKED, IDC_READ_ID_HEX, &D::OnReadIdHex),
        OnCommandEntry<D>(BN_CLICKED, IDC_WRITE_ID, &D::OnWriteId),
        OnCommandEntry<D>(BN_CLICKED, IDC_GET_VER, &D::OnGetVer),
        // A second entry for dropped files; the first one above always wins.
        OnMessageEntry<D>(WM_DROPFILES, &D::OnDropFilesMessage),
    };
    return map;
}

bool CRODEdizDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    IDialogWindow* w = Window();
    if (w->HasSystemMenu()) {
        std::string about = w->LoadString(IDS_ABOUTBOX);
        if (!about.empty()) w->AppendSystemMenu(IDM_ABOUTBOX, about);
    }
    w->SetIcon(m_hIcon);

    InitDefaultFiles();
    StartConnectThread();
    SetupProgressBar();
    SetupToolTips();

    for (const char* row : kModeRows) m_cbMode.AddString(row);
    m_cbMode.SetCurSel(kModeRowSpi);

    w->DragAcceptFiles(true);
    SetTimer(kTimerFileInfo, kFileInfoPeriodMs);
    m_bFlashMode = false;

    switch (SelectedMode()) {
    case kModeRowSram: m_btnExecute.SetWindowText("Download"); break;
    case kModeRowSpi: m_btnExecute.SetWindowText("Upgrade"); break;
    default: m_btnExecute.SetWindowText("Dump"); break;
    }

    SetupEditColours();
    SetupButtonPictures();
    SetDlgItemText(IDC_OFFSET_DISPLAY, "0");
    SetDlgItemText(IDC_SERIES_DISPLAY, "0");
    for (int id : kRedrawOffControls) w->SetRedraw(id, false);
    SetDlgItemText(IDC_MODEL, kModelLabel);
    ShowVersion("Current version: Unknown", false);
    return true;
}

intptr_t CRODEdizDlg::OnSysCommandMessage(const Message& m)
{
    OnSysCommand(static_cast<uint32_t>(m.wParam));
    if ((m.wParam & 0xFFF0) == IDM_ABOUTBOX) return 0;
    return Default(m);
}

void CRODEdizDlg::OnSysCommand(uint32_t id)
{
    if ((id & 0xFFF0) == IDM_ABOUTBOX) Window()->ShowAboutBox();
}

intptr_t CRODEdizDlg::OnQueryDragIcon(const Message&) { return m_hIcon; }

intptr_t CRODEdizDlg::OnPaintMessage(const Message&)
{
    // The window layer paints through OnPaint with a canvas of its own.
    return 0;
}

intptr_t CRODEdizDlg::OnCtlColorMessage(const Message&)
{
    // The window layer asks OnCtlColor for the control it colours.
    return 0;
}

intptr_t CRODEdizDlg::OnTimerMessage(const Message& m)
{
    OnTimer(m.wParam);
    return 0;
}

intptr_t CRODEdizDlg::OnDropFilesMessage(const Message& m)
{
    if (m.dropped != nullptr) OnDropFiles(*m.dropped);
    return 0;
}

intptr_t CRODEdizDlg::OnSetFocusMessage(const Message& m)
{
    intptr_t result = Default(m);
    CommitOffsetEditor();
    CommitSeriesEditor();
    return result;
}

intptr_t CRODEdizDlg::OnLButtonDownMessage(const Message& m)
{
    CommitOffsetEditor();
    CommitSeriesEditor();
    return Default(m);
}

void CRODEdizDlg::OnTimer(uintptr_t timerId)
{
    if (timerId == kTimerFileInfo) {
        RefreshCodeFileInfo(CodePathSnapshot());
        RefreshDataFileInfo(DataPathSnapshot());
    } else if (timerId == kTimerGetVersion) {
        RunVersionReadOrDefer();
        KillTimer(kTimerGetVersion);
    }
}

void CRODEdizDlg::RunVersionReadOrDefer()
{
    // The version read sends a set-address and a read: never in the middle of
    // a job or a monitor run, whose next commands rely on the current address.
    if (m_bBusy || m_bInJob) {
        m_bVersionReadPending = true;
        return;
    }
    m_bVersionReadPending = false;
    OnGetVer();
}

void CRODEdizDlg::StartPendingVersionRead()
{
    if (m_bVersionReadPending.exchange(false) && m_bConnected && !m_bClosing) SetTimer(kTimerGetVersion, kGetVersionDelayMs);
}

bool CRODEdizDlg::PreTranslateMessage(const Message& m)
{
    // Tooltips see every message through the window layer itself.
    if (m.message == WM_LBUTTONDOWN && m.controlId == IDC_CODE_PATH) SetDlgItemText(IDC_CODE_PATH, CodePathSnapshot());
    if (m.message == WM_KEYDOWN && m.wParam == VK_RETURN) {
        CommitOffsetEditor();
        CommitSeriesEditor();
        OnExecute();
        // Taken here: the dialog's default-button handling never sees Return,
        // so Return never closes the dialog.
        return true;
    }
    return CDialog::PreTranslateMessage(m);
}

intptr_t CRODEdizDlg::WindowProc(const Message& m)
{
    if (m.message == WM_DEVICECHANGE) {
        if (m.wParam == DBT_DEVICEARRIVAL) {
            DiagPrintf("Find USB Device\n");
            if (!m_bConnected && !m_bBusy && !m_bClosing) StartConnectThread();
        } else if (m.wParam == DBT_DEVICEREMOVECOMPLETE && m_bConnected) {
            uint8_t reply[kIbrShortReplyLength] = {};
            if (!m_link.CMD_IbrPing(m_hDevice, reply)) {
                DiagPrintf("Find USB Disconnect\n");
                SetDeviceStatus("Disconnected");
                SetDlgItemText(IDC_PRODUCT_LINE, "Unknown");
                ShowVersion("Current version: Unknown", false);
                Window()->EnableWindow(IDC_EXIT, true);
                Window()->EnableWindow(IDC_RECONNECT, true);
                m_bConnected = false;
            }
        }
    }
    return CDialog::WindowProc(m);
}

void CRODEdizDlg::EnableJobControls(bool enable)
{
    m_cbMode.EnableWindow(enable);
    Window()->DragAcceptFiles(enable);
    if (Window()->GetCheck(IDC_CODE_OPTION)) Window()->EnableWindow(IDC_CODE_BUTTON, enable);
    if (Window()->GetCheck(IDC_DATA_OPTION)) Window()->EnableWindow(IDC_DATA_BUTTON, enable);
}

// --- the in-place editors of the series offset and number ---

void CRODEdizDlg::ApplySeriesOption()
{
    bool on = Window()->GetCheck(IDC_SERIES_OPTION);
    for (int id : kSeriesOptionControls) Window()->EnableWindow(id, on);
}

void CRODEdizDlg::ToggleSeriesOption()
{
    Window()->SetCheck(IDC_SERIES_OPTION, !Window()->GetCheck(IDC_SERIES_OPTION));
    ApplySeriesOption();
}

void CRODEdizDlg::OnOffsetDisplayDblClk()
{
    if (!Window()->GetCheck(IDC_SERIES_OPTION)) return;
    Window()->ShowWindow(IDC_OFFSET_EDIT, true);
    Window()->ShowWindow(IDC_OFFSET_DISPLAY, false);
    Window()->SetFocus(IDC_OFFSET_EDIT);
}

void CRODEdizDlg::OnSeriesDisplayDblClk()
{
    if (!Window()->GetCheck(IDC_SERIES_OPTION)) return;
    Window()->ShowWindow(IDC_SERIES_EDIT, true);
    Window()->ShowWindow(IDC_SERIES_DISPLAY, false);
    Window()->SetFocus(IDC_SERIES_EDIT);
}

void CRODEdizDlg::OnOffsetEditSetFocus() { m_strOffsetBefore = GetDlgItemText(IDC_OFFSET_EDIT); }
void CRODEdizDlg::OnSeriesEditSetFocus() { m_strSeriesBefore = GetDlgItemText(IDC_SERIES_EDIT); }
void CRODEdizDlg::OnOffsetEditKillFocus() { CommitOffsetEditor(); }
void CRODEdizDlg::OnSeriesEditKillFocus() { CommitSeriesEditor(); }

namespace {

void CommitEditor(IDialogWindow& w, int edit, int display, const std::string& before)
{
    w.ShowWindow(edit, false);
    if (!w.GetCheck(IDC_SERIES_OPTION)) return;
    w.ShowWindow(display, true);
    std::string text = w.GetWindowText(edit);
    if (text.empty()) {
        w.SetWindowText(edit, before);
        text = before;
    }
    w.SetWindowText(display, text);
}

} // namespace

void CRODEdizDlg::CommitOffsetEditor() { CommitEditor(*Window(), IDC_OFFSET_EDIT, IDC_OFFSET_DISPLAY, m_strOffsetBefore); }
void CRODEdizDlg::CommitSeriesEditor() { CommitEditor(*Window(), IDC_SERIES_EDIT, IDC_SERIES_DISPLAY, m_strSeriesBefore); }

// --- closing ---

void CRODEdizDlg::WaitForThreads()
{
    m_threads.WaitAll([this](const std::function<bool()>& done) { Window()->PumpMessagesUntil(done); });
}

void CRODEdizDlg::OnOK()
{
    if (!UpdateData(true)) return;
    // A job still running finishes first: the device is never left half written.
    m_bClosing = true;
    WaitForThreads();
    EndDialog(IDOK);
}

void CRODEdizDlg::OnCancel()
{
    m_bClosing = true;
    WaitForThreads();
    EndDialog(IDCANCEL);
}

// --- paths shared with the job threads ---

std::string CRODEdizDlg::CodePathSnapshot()
{
    std::lock_guard<std::mutex> lock(m_pathMutex);
    return m_strCodePath;
}

std::string CRODEdizDlg::DataPathSnapshot()
{
    std::lock_guard<std::mutex> lock(m_pathMutex);
    return m_strDataPath;
}

void CRODEdizDlg::SetCodePath(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_pathMutex);
    m_strCodePath = path;
}

void CRODEdizDlg::SetDataPath(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_pathMutex);
    m_strDataPath = path;
}
