// The connection monitor: finds the target, checks that it answers, shows
// the outcome and schedules the version read; records the USB identifiers.
#include <cstdio>

#include "app/rodediz_dlg.h"
#include "device/diagnostics.h"

namespace {

constexpr char kRegistryPath[] = "SOFTWARE\\Ruzorez Auto-Copy";
constexpr char kVendorId[] = "0416";
constexpr char kProductId[] = "B190";
constexpr int kMonitorAttempts = 10;
constexpr int kPingTries = 4;

} // namespace

unsigned CRODEdizDlg::ConnectThreadProc(void* dialog)
{
    static_cast<CRODEdizDlg*>(dialog)->ConnectTarget(kMonitorAttempts);
    return 0;
}

bool CRODEdizDlg::StartConnectThread()
{
    // One run at a time: the flag is taken before the thread exists, so two
    // arrivals in quick succession or Re-Connect during a run start nothing;
    // nor does a job thread that has released the flag but not yet ended.
    // A closing dialog starts none either: Re-Connect handled while it waits
    // for its threads (or after) would leave a run going past its end.
    if (m_bClosing || m_bInJob || m_bBusy.exchange(true)) return false;
    m_threads.Start([this] { ConnectThreadProc(this); });
    return true;
}

void CRODEdizDlg::OnReconnect()
{
    StartConnectThread();
}

void CRODEdizDlg::ConnectTarget(int maxAttempts)
{
    // Run from inside a job (the flash loader's reconnect), the job holds the
    // busy flag and the job controls; the run leaves both as they are.
    const bool insideJob = m_bInJob;
    auto release = [&] {
        if (!insideJob) m_bBusy = false;
    };
    auto enableControls = [&](bool enable) {
        if (!insideJob) EnableJobControls(enable);
    };

    if (!insideJob) m_bBusy = true;
    m_strStatus = "Detecting target ...";
    SetDeviceStatus(m_strStatus);
    Window()->EnableWindow(IDC_CODE_NAME_TIP, true);
    Window()->EnableWindow(IDC_CODE_PATH, true);
    SetDlgItemText(IDC_PRODUCT_LINE, "Refresh...");
    m_bConnected = false;
    enableControls(false);

    bool found = false;
    int attempt = 0;
    do {
        WriteRegistryIds(kProductId);
        found = FindTargetVolume(kProductId);
        Services().clock.Sleep(100);
        ++attempt;
        if (!s_bFirstConnect) {
            char text[32];
            std::snprintf(text, sizeof text, "Connecting...(%d)", attempt);
            m_strStatus = text;
            SetDeviceStatus(m_strStatus);
        }
    } while (!found && attempt < maxAttempts && !m_bClosing);
    s_bFirstConnect = false;

    if (found) {
        m_bConnected = true;
        m_strStatus = "Connected";
        SetDeviceStatus(m_strStatus);
        SetStatusLine("");
        bool answered = false;
        for (int i = 0; i < kPingTries && !answered; ++i) {
            answered = m_link.CMD_IbrPing(m_hDevice, m_abyReply);
            if (!answered) Services().clock.Sleep(100);
        }
        if (!answered) {
            m_strStatus = "Disconected";
            SetDeviceStatus(m_strStatus);
            release();
            enableControls(true);
            return;
        }
        ShowTargetModel();
        release();
        enableControls(true);
        SetTimer(kTimerGetVersion, kGetVersionDelayMs);
        return;
    }

    SetDeviceStatus("Disconnected");
    SetDlgItemText(IDC_PRODUCT_LINE, "Unknown");
    release();
    m_bFlashMode = false;
    for (int i = 0; i < kPingTries; ++i) {
        if (m_link.CMD_IbrGetState(m_hDevice, m_abyReply) && m_abyReply[0] == kIbrStateFlash) {
            m_bFlashMode = true;
            break;
        }
    }
    enableControls(true);
}

void CRODEdizDlg::ShowTargetModel()
{
    if (m_hDevice == nullptr) return;
    uint8_t reply[kIbrShortReplyLength] = {};
    if (!m_link.CMD_IbrGetChipID(m_hDevice, reply)) {
        SetDlgItemText(IDC_PRODUCT_LINE, "Unknown");
        return;
    }
    char company[8];
    char chip[8];
    std::snprintf(company, sizeof company, "%x", reply[0]);
    std::snprintf(chip, sizeof chip, "%x", reply[1]);
    DiagPrintf("CompanyID =%s\n", company);
    DiagPrintf("ChipID =%s\n", chip);
    m_strStatus = "Vane";
    const std::string second = " ";
    m_strFlashSize.clear();
    SetDlgItemText(IDC_PRODUCT_LINE, m_strStatus + "  " + second);
}

void CRODEdizDlg::WriteRegistryIds(const std::string& pid)
{
    IRegistry& registry = Services().registry;
    // Values are 4 bytes without terminator; a shorter text is padded with zeros.
    char pidData[4] = {};
    pid.copy(pidData, sizeof pidData);
    m_hRegKey = registry.OpenKey(kRegistryPath);
    if (m_hRegKey == nullptr) {
        m_hRegKey = registry.CreateKey(kRegistryPath);
        if (m_hRegKey == nullptr) {
            DiagPrintf("Create Key error !");
            return;
        }
        registry.SetStringValue(m_hRegKey, "vid", kVendorId, 4);
        registry.SetStringValue(m_hRegKey, "pid", pidData, 4);
    }
    registry.SetStringValue(m_hRegKey, "vid", kVendorId, 4);
    registry.SetStringValue(m_hRegKey, "pid", pidData, 4);
    // Closed after use: each attempt opens it anew, so nothing leaks per attempt.
    registry.CloseKey(m_hRegKey);
    m_hRegKey = nullptr;
}
