// Code into the target's SRAM: the SRAM download job, and the flash loader
// that brings the target into flash mode before a download.
#include <cstring>

#include "app/rodediz_dlg.h"
#include "operations/job_math.h"
#include "device/diagnostics.h"
#include "firmware/image_name.h"

namespace {

constexpr uint32_t kSramImageLimit = 32768;
constexpr uint32_t kSramPiece = 4096;
constexpr uint32_t kTransferBufferSize = 10240;
constexpr uint32_t kSramPauseMs = 500;
constexpr int kReconnectRuns = 10;
constexpr int kReconnectAttempts = 30;


// A short piece grows to the next page boundary past it: n + 256 - n mod 256.
uint32_t ExtendPiece(uint32_t n) { return n < kSramPiece ? n + 256 - n % 256 : n; }


} // namespace

void CRODEdizDlg::DownloadSram()
{
    EnableJobControls(false);
    IClock& clock = Services().clock;
    std::unique_ptr<IFile> file;
    auto end = [&](const std::string& failure) {
        if (file) file->Close();
        if (!failure.empty()) MarkJobFailed(failure);
        m_jobOutcome = failure.empty() ? JobOutcome::Succeeded : JobOutcome::Failed;
        m_bBusy = false;
        EnableJobControls(true);
    };
    // The transfer buffer is cleared once: an extended piece carries what it held.
    uint8_t* buffer = m_writeBuffer.get();
    std::memset(buffer, 0, kTransferBufferSize < 16384 ? kTransferBufferSize : 16384);

    if (m_hDevice == nullptr) {
        AfxMessageBox("No Device Handle");
        return end("No Device Handle");
    }
    clock.Sleep(kSramPauseMs);
    if (!m_link.CMD_IbrSetAddressSram(m_hDevice, m_abyLongReply)) {
        SetDeviceStatus("Send IBR SetAddress CMD Failed");
        return end("Send IBR SetAddress CMD Failed");
    }
    const std::string path = CodePathSnapshot();
    std::string error;
    file = Services().files.Open(path, FileOpenMode::Read, error);
    if (!file) {
        AfxMessageBox(error.substr(0, 255));
        return end(error);
    }
    const uint64_t length = file->Length();
    if (length > kSramImageLimit) {
        AfxMessageBox("File Size is larger than 32K!!!");
        return end("File Size is larger than 32K!!!");
    }
    clock.Sleep(kSramPauseMs);
    // Exactly the image: one piece per 4096 bytes begun.
    const uint32_t pieces = CeilDiv(length, kSramPiece);
    uint64_t readSoFar = 0;
    for (uint32_t p = 0; p < pieces; ++p) {
        DiagPrintf("Write Data to SRAM\n");
        uint32_t n = static_cast<uint32_t>(file->Read(buffer, kSramPiece));
        readSoFar += n;
        m_ctlProgress.SetPos(Percent(readSoFar, length));
        n = ExtendPiece(n);
        DiagPrintf("Write len=%d\n", static_cast<int>(n));
        if (!m_link.CMD_IbrWrite(m_hDevice, buffer, n)) {
            AfxMessageBox("Write fail");
            SetDeviceStatus("Ready");
            return end("Write fail");
        }
    }
    file->Close();
    file.reset();
    if (!m_link.CMD_IbrSetAddressSram(m_hDevice, m_abyLongReply)) {
        SetDeviceStatus("Send IBR SetAddress CMD Failed");
        return end("Send IBR SetAddress CMD Failed");
    }
    file = Services().files.Open(path, FileOpenMode::Read, error);
    if (!file) {
        AfxMessageBox("Please check selected path is exist !");
        return end("Please check selected path is exist !");
    }
    m_ctlProgress.SetPos(0);
    SetStatusLine("Data Compare...");
    clock.Sleep(kSramPauseMs);
    const uint64_t compareLength = file->Length();
    std::memset(m_readBackBuffer.get(), 0, 65536);
    DiagPrintf("file_len=%d\n", static_cast<int>(compareLength));
    int64_t remaining = static_cast<int64_t>(compareLength);
    uint64_t done = 0;
    do {
        const uint32_t expected = static_cast<uint32_t>(std::min<int64_t>(remaining, kSramPiece));
        uint32_t n = static_cast<uint32_t>(file->Read(m_compareBuffer.get(), kSramPiece));
        DiagPrintf("len=%d\n", static_cast<int>(n));
        done += n;
        remaining -= n;
        DiagPrintf("rest_len=%d\n", static_cast<int>(remaining));
        if (!m_link.CMD_IbrRead(m_hDevice, m_readBackBuffer.get(), n)) {
            DiagPrintf("Get File Data Failed !\n");
            SetStatusLine("Read back FAILED");
            return end("Read back FAILED");
        }
        if (n < expected || !CompareBuffer(m_compareBuffer.get(), m_readBackBuffer.get(), n)) {
            DiagPrintf("Compare Error !\n");
            // The code is not started; say why instead of ending silently.
            SetStatusLine("Compare Error");
            return end("Compare Error");
        }
        m_ctlProgress.SetPos(Percent(done, compareLength));
    } while (remaining > 0);
    file->Close();
    file.reset();

    SetStatusLine("Complete!");
    clock.Sleep(kSramPauseMs);
    SetDeviceStatus("Disconnected");
    DiagPrintf("OK");
    DiagDebugOutput("Execute\n");
    if (!m_link.CMD_IbrExecute(m_hDevice, m_abyLongReply)) {
        AfxMessageBox("Send Execute CMD Failed");
        SetStatusLine("Send Execute CMD Failed");
        return end("Send Execute CMD Failed");
    }
    m_ctlProgress.SetPos(100);
    SetStatusLine("Complete! Executing ...");
    clock.Sleep(kSramPauseMs);
    end("");
}

void CRODEdizDlg::LoadFlashLoader()
{
    m_bBusy = true;
    auto end = [&](const std::string& failure) {
        if (!failure.empty()) {
            MarkJobFailed(failure);
            m_jobOutcome = JobOutcome::Failed;
        }
        m_bBusy = false;
        EnableJobControls(true);
    };
    // The exits that would otherwise end without a word.
    auto endShown = [&](const std::string& failure) {
        if (!m_bClosing) AfxMessageBox(failure);
        SetStatusLine(failure);
        end(failure);
    };
    if (m_hDevice == nullptr) {
        AfxMessageBox("No Device Handle");
        return end("No Device Handle");
    }
    if (!m_link.CMD_IbrSetAddressSram(m_hDevice, m_abyLongReply)) return endShown("Set Address FAILED");
    m_szExePath = Services().files.ProgramPath();
    std::string error;
    auto file = Services().files.Open(kFlashLoaderPath, FileOpenMode::Read, error);
    if (!file) {
        SetStatusLine("");
        AfxMessageBox(error);
        return end(error);
    }
    uint8_t* buffer = m_writeBuffer.get();
    std::memset(buffer, 0, kTransferBufferSize < 16384 ? kTransferBufferSize : 16384);
    const uint32_t pieces = CeilDiv(file->Length(), kSramPiece);
    for (uint32_t p = 0; p < pieces; ++p) {
        DiagPrintf("Write Data to SRAM\n");
        uint32_t n = ExtendPiece(static_cast<uint32_t>(file->Read(buffer, kSramPiece)));
        if (!m_link.CMD_IbrWrite(m_hDevice, buffer, n)) {
            file->Close();
            return endShown("Write fail");
        }
    }
    file->Close();
    DiagDebugOutput("Execute\n");
    if (!m_link.CMD_IbrExecute(m_hDevice, m_abyLongReply)) {
        AfxMessageBox("Send Execute CMD Failed");
        return end("Send Execute CMD Failed");
    }
    m_bFlashMode = true;
    // The target leaves the bus and comes back as a new volume: the old
    // handle is never used again (the next discovery closes it).
    m_hDevice = nullptr;
    Services().clock.Sleep(kSramPauseMs);
    for (int run = 0; run < kReconnectRuns && !m_bClosing; ++run) {
        ConnectTarget(kReconnectAttempts);
        // A volume found but not yet open (its node still being set up) is
        // no target to download to: the next run finds it again.
        if (m_bConnected && m_hDevice != nullptr) {
            DownloadSpiFlash();
            m_bBusy = false;
            return;
        }
    }
    endShown("The target did not come back after the flash loader started");
}
