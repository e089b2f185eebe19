// The SPI flash download: identity step, code image, data image, series
// number and completion, on the job's worker thread.
#include <cstdio>
#include <cstring>

#include "app/rodediz_dlg.h"
#include "operations/job_math.h"
#include "device/diagnostics.h"
#include "operations/hex_text.h"
#include "operations/kept_bytes.h"
#include "operations/piece_source.h"

namespace {

constexpr uint32_t kEraseBlockSize = 65536;
constexpr int kFlashModeReplies = 101;
constexpr int kFirstSetAddressAttempts = 101;
constexpr uint32_t kErasePollMs = 50;
// A 64 KiB SPI NOR erase takes at most about 2 s; a status that stays busy
// longer than this means the erase will not finish.
constexpr uint32_t kEraseTimeoutMs = 5000;
constexpr uint32_t kSettleMs = 10;
constexpr uint32_t kSeriesOffsetLimitUnknownSize = 0x1000000; // 16 MiB, the reach of 3-byte SPI addresses
constexpr uint32_t kLastSeriesPosition = 0xFFFC;              // the number's 4 bytes stay in one block

const std::string kWriteCodeStatus = "Write CODE to SPI Flash ...";
const std::string kWriteDataStatus = "Write DATA to SPI Flash ...";

// A message as one status-line text (the window keeps its blanks).
std::string NewlinesAsBlanks(std::string text)
{
    for (char& c : text)
        if (c == '\n') c = ' ';
    return text;
}

} // namespace

bool CRODEdizDlg::CompareBuffer(const uint8_t* expected, const uint8_t* actual, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i) {
        if (expected[i] != actual[i]) {
            DiagPrintf("Failed cont=%d\n", static_cast<int>(i));
            return false;
        }
    }
    return true;
}

bool CRODEdizDlg::WaitForFlashMode()
{
    // A failed command counts as a reply without flash mode: what the buffer
    // holds then is left from an earlier command.
    for (int i = 0; i < kFlashModeReplies; ++i)
        if (m_link.CMD_IbrGetState(m_hDevice, m_abyReply) && m_abyReply[0] == kIbrStateFlash) return true;
    return false;
}

CRODEdizDlg::EraseEnd CRODEdizDlg::EraseBlocks(uint32_t blocks, const std::string& note)
{
    IClock& clock = Services().clock;
    int progress = 0;
    uint8_t reply[kIbrShortReplyLength];
    SetStatusLine("Block Erasing ...");
    for (uint32_t k = 1; k <= blocks; ++k) {
        DiagPrintf("Send CMD_Block EraseSetting ...\n");
        DiagPrintf("count =%d,pos=%d \n", static_cast<int>(blocks - k + 1), progress);
        if (!m_link.CMD_IbrBlockErase(m_hDevice, reply)) {
            AfxMessageBox("Block Erase FAILED" + note);
            m_ctlProgress.SetPos(0);
            MarkJobFailed("Block Erase FAILED" + note);
            return EraseEnd::EraseFailed;
        }
        progress = static_cast<int>(100 * k / blocks);
        m_ctlProgress.SetPos(progress);
        UpdateData(true);
        DiagPrintf("CMD_GetStatus to check if erase finished ...\n");
        const uint64_t started = clock.NowMs();
        for (;;) {
            std::memset(reply, 0, sizeof reply);
            if (!m_link.CMD_IbrGetSTS(m_hDevice, reply)) {
                // The block counts as done: the read-back after writing tells
                // whether it was erased.
                AfxMessageBox("Get Status FAILED" + note);
                SetStatusLine("");
                m_ctlProgress.SetPos(0);
                break;
            }
            char status[32];
            std::snprintf(status, sizeof status, "GetStatus=0x%x", static_cast<int>(static_cast<int8_t>(reply[0])));
            m_strStatus = status;
            if (reply[0] == 0) {
                DiagPrintf("\n");
                break;
            }
            if (clock.NowMs() - started >= kEraseTimeoutMs) {
                AfxMessageBox("Get Status FAILED" + note);
                m_ctlProgress.SetPos(0);
                SetStatusLine(NewlinesAsBlanks("Get Status FAILED" + note));
                MarkJobFailed("Get Status FAILED" + note);
                return EraseEnd::PollTimedOut;
            }
            DiagPrintf("...");
            clock.Sleep(kErasePollMs);
            m_ctlProgress.SetPos(progress);
            UpdateData(true);
        }
    }
    return EraseEnd::Done;
}

bool CRODEdizDlg::SeriesOffsetInRange()
{
    m_strSeriesOffset = GetDlgItemText(IDC_OFFSET_EDIT);
    uint32_t offset = 0;
    ParseHex(m_strSeriesOffset, offset);
    m_nSeriesOffset = offset;
    DiagPrintf("SeriesOffset =%x\n", m_nSeriesOffset);
    // The flash size is not known until something fills it: until then the
    // largest flash that three-byte SPI addressing reaches is the limit.
    uint32_t flashSize = kSeriesOffsetLimitUnknownSize;
    uint32_t known = 0;
    if (ParseHex(m_strFlashSize, known) && known != 0) flashSize = known;
    if (m_nSeriesOffset >= flashSize) {
        MessageBox("\nOffset address is larger than SPI flash size.\n ", "Warning", MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    if ((m_nSeriesOffset & 0xFFFF) > kLastSeriesPosition) {
        MessageBox("Offset address out of range (the number needs 4 bytes within one 64 KiB block).", "Warning",
                   MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    return true;
}

void CRODEdizDlg::CompleteDownload()
{
    EnableJobControls(true);
    m_btnExecute.EnableWindow(true);
    // "Complete!" only when every step the job ran succeeded.
    SetStatusLine(JobFailed() ? NewlinesAsBlanks(LastJobFailure()) : "Complete!");
    m_jobOutcome = JobFailed() || g_bDeclined ? JobOutcome::Failed : JobOutcome::Succeeded;
    m_bBusy = false;
    if (m_bConnected) SetTimer(kTimerGetVersion, kGetVersionDelayMs);
}

void CRODEdizDlg::DownloadSpiFlash()
{
    m_ctlProgress.SetPos(0);
    m_bBusy = true;
    EnableJobControls(false);
    m_btnExecute.EnableWindow(false);
    auto end = [&](const std::string& failure) {
        MarkJobFailed(failure);
        m_jobOutcome = JobOutcome::Failed;
        m_bBusy = false;
        EnableJobControls(true);
    };
    if (m_hDevice == nullptr) {
        AfxMessageBox("No Device Handle");
        return end("No Device Handle");
    }
    if (Window()->GetCheck(IDC_SERIES_OPTION) && !SeriesOffsetInRange()) {
        SetStatusLine("");
        m_ctlProgress.SetPos(0);
        return end("Offset address out of range");
    }
    g_bDeclined = false;
    WriteIdentity();
    if (Window()->GetCheck(IDC_CODE_OPTION) && !g_bDeclined) {
        StepEnd code = DownloadCodeImage();
        if (code == StepEnd::Ended) return;
        if (code == StepEnd::Completion) return CompleteDownload();
    }
    if (Window()->GetCheck(IDC_DATA_OPTION)) DownloadSpiData();
    if (Window()->GetCheck(IDC_SERIES_OPTION)) {
        if (!BurnSeriesNumber()) {
            if (!JobFailed()) MarkJobFailed("Series number not burned");
            m_jobOutcome = JobOutcome::Failed;
            m_bBusy = false;
            return;
        }
        AdvanceSeriesNumber();
    }
    CompleteDownload();
}

CRODEdizDlg::StepEnd CRODEdizDlg::DownloadCodeImage()
{
    const std::string path = CodePathSnapshot();
    std::string error;
    std::unique_ptr<IFile> file;
    // The failure exit: busy flag and controls back, the Execute button stays disabled.
    auto failureExit = [&](const std::string& failure) {
        if (file) file->Close();
        if (!failure.empty()) MarkJobFailed(failure);
        m_jobOutcome = JobOutcome::Failed;
        m_bBusy = false;
        EnableJobControls(true);
        return StepEnd::Ended;
    };

    file = Services().files.Open(path, FileOpenMode::Read, error);
    if (!file) {
        AfxMessageBox(error);
        return failureExit(error);
    }
    const uint64_t length = file->Length();
    const uint32_t blocks = CeilDiv(length, kEraseBlockSize);
    if (m_hDevice == nullptr) {
        AfxMessageBox("No Device Handle");
        return failureExit("No Device Handle");
    }
    if (!WaitForFlashMode()) {
        AfxMessageBox("Download fail! Reboot target please!");
        SetStatusLine("");
        return failureExit("Download fail! Reboot target please!");
    }
    bool addressSet = false;
    for (int i = 0; i < kFirstSetAddressAttempts && !addressSet; ++i) addressSet = m_link.CMD_IbrSetAddressFlashShort(m_hDevice, m_abyReply);
    if (!addressSet) {
        AfxMessageBox("Set Address FAILED");
        SetStatusLine("");
        return failureExit("Set Address FAILED");
    }
    uint8_t reply[kIbrShortReplyLength] = {};
    if (!m_link.CMD_IbrGetSTS(m_hDevice, reply)) {
        AfxMessageBox("Get Status FAILED#2");
        SetStatusLine("");
        m_ctlProgress.SetPos(0);
    }
    EraseEnd erased = EraseBlocks(blocks);
    if (erased != EraseEnd::Done) return failureExit(""); // the erase has reported its failure

    auto setAddressFailed = [&] {
        AfxMessageBox("Set Address FAILED");
        SetStatusLine("Set Address FAILED");
        m_ctlProgress.SetPos(0);
        return failureExit("Set Address FAILED");
    };
    if (!m_link.CMD_IbrSetAddressFlashLong(m_hDevice, m_abyLongReply)) return setAddressFailed();
    Services().clock.Sleep(kSettleMs);

    PieceSource writeSource(nullptr, 0, *file);
    if (!WriteFlashPieces(writeSource, length, kWriteCodeStatus, "")) return failureExit("Write fail");

    file->Close();
    file.reset();
    DiagPrintf("CMD_IbrGetSTS\n");
    std::memset(reply, 0, sizeof reply);
    if (!m_link.CMD_IbrGetSTS(m_hDevice, reply)) {
        AfxMessageBox("Get STS fail");
        m_ctlProgress.SetPos(0);
        return failureExit("Get STS fail");
    }
    if (reply[0] == 2) {
        m_ctlProgress.SetPos(0);
        AfxMessageBox("Write data to SPI Flash failed!!!\nBecause signature is not match.");
        MarkJobFailed("Write data to SPI Flash failed!!!\nBecause signature is not match.");
        return StepEnd::Completion;
    }
    if (reply[0] != 0) {
        SetStatusLine("Get Unknown status");
        AfxMessageBox("Write Data to SPI Flash Failed ");
        MarkJobFailed("Get Unknown status");
        return StepEnd::Completion;
    }
    m_ctlProgress.SetPos(100);

    // Verification: read back in 64 KiB pieces and compare with the image.
    std::memset(m_readBackBuffer.get(), 0, kReadBackPiece);
    m_ctlProgress.SetPos(0);
    if (!m_link.CMD_IbrSetAddressFlashLong(m_hDevice, m_abyLongReply)) return setAddressFailed();
    file = Services().files.Open(path, FileOpenMode::Read, error);
    if (!file) {
        AfxMessageBox(error);
        return failureExit(error);
    }
    m_ctlProgress.SetPos(0);
    SetStatusLine("Data Compare...");
    PieceSource verifySource(nullptr, 0, *file);
    const ReadBackEnd verified = ReadBackFlashPieces(verifySource, file->Length(), nullptr, false);
    if (verified == ReadBackEnd::ReadFailed) {
        file->Close();
        SetStatusLine("Read back FAILED");
        return failureExit("Read back FAILED");
    }
    if (verified == ReadBackEnd::Differs) {
        AfxMessageBox("Compare Error!!");
        MarkJobFailed("Compare Error!!");
        file->Close();
        return StepEnd::Completion;
    }
    m_ctlProgress.SetPos(100);
    file->Close();
    return StepEnd::Continue;
}

void CRODEdizDlg::DownloadSpiData()
{
    m_ctlProgress.SetPos(0);
    auto endStep = [&](const std::string& failure) { MarkJobFailed(failure); };
    if (m_hDevice == nullptr) {
        AfxMessageBox("No Device Handle");
        return endStep("No Device Handle");
    }
    const std::string path = DataPathSnapshot();
    std::string error;
    auto file = Services().files.Open(path, FileOpenMode::Read, error);
    if (!file) {
        AfxMessageBox(error);
        return endStep(error);
    }
    uint32_t start = 0;
    ParseHex(GetDlgItemText(IDC_DATA_START), start);
    m_nSpiSeriesOffset = start;
    DiagPrintf("SeriesOffset =%x\n", m_nSpiSeriesOffset);
    const uint32_t base = kIbrFlashBase + (start & 0xFFFF0000);
    const uint32_t head = start & 0xFFFF;
    const uint64_t length = file->Length();
    const uint64_t total = length + head;
    DiagPrintf("file_len=%d\n", static_cast<int>(total));

    if (!WaitForFlashMode()) {
        AfxMessageBox("Download fail! Reboot target please!");
        SetStatusLine("");
        return endStep("Download fail! Reboot target please!");
    }
    auto setBase = [&] { return m_link.CMD_IbrSetAddress(m_hDevice, m_abyLongReply, base); };
    if (!setBase()) {
        AfxMessageBox("Set Data Address FAILED");
        SetStatusLine("");
        return endStep("Set Data Address FAILED");
    }
    // The block in front of the start is kept: read it before erasing.
    if (!m_link.CMD_IbrRead(m_hDevice, m_keepBuffer.get(), kEraseBlockSize)) {
        SetStatusLine("");
        return endStep("Read of the kept bytes FAILED");
    }
    // The kept head is written back after the erase: a second read must agree,
    // and a copy is kept, where it can be, until the write-back is verified.
    KeptBytesCopy copy(Services().files);
    if (head > 0) {
        if (!setBase() || !m_link.CMD_IbrRead(m_hDevice, m_readBackBuffer.get(), kEraseBlockSize)) {
            SetStatusLine("");
            return endStep("Read of the kept bytes FAILED");
        }
        if (!SameBytes(m_keepBuffer.get(), m_readBackBuffer.get(), head)) {
            AfxMessageBox("Read of the kept bytes FAILED (two reads differ, nothing erased)");
            return endStep("Read of the kept bytes FAILED (two reads differ, nothing erased)");
        }
        copy.Keep(base - kIbrFlashBase, m_keepBuffer.get(), head);
    }
    if (!setBase()) {
        copy.Discard(); // nothing erased yet
        AfxMessageBox("Set Data Address FAILED");
        SetStatusLine("");
        return endStep("Set Data Address FAILED");
    }
    uint8_t reply[kIbrShortReplyLength] = {};
    if (!m_link.CMD_IbrGetSTS(m_hDevice, reply)) {
        AfxMessageBox("Get Status FAILED#2");
        SetStatusLine("");
        m_ctlProgress.SetPos(0);
    }
    // From the erase on, every failure names the kept copy (while there is one).
    auto noted = [&](const std::string& text) { return text + copy.Note(); };
    if (EraseBlocks(CeilDiv(total, kEraseBlockSize), copy.Note()) != EraseEnd::Done) return; // its failure is reported

    DiagPrintf("Set Start Address %x\n", base);
    if (!setBase()) {
        AfxMessageBox(noted("Set Data Address FAILED"));
        return endStep(noted("Set Data Address FAILED"));
    }
    Services().clock.Sleep(kSettleMs);
    DiagPrintf("Total Length = %d , Block Size =%d ,Loop= %d\n", static_cast<int>(total), static_cast<int>(kWriteChunkSize),
               static_cast<int>(CeilDiv(total, kWriteChunkSize)));

    PieceSource writeSource(m_keepBuffer.get(), head, *file);
    if (!WriteFlashPieces(writeSource, total, kWriteDataStatus, copy.Note())) return endStep(noted("Write fail"));
    file->Close();

    DiagPrintf("CMD_IbrGetSTS\n");
    std::memset(reply, 0, sizeof reply);
    if (!m_link.CMD_IbrGetSTS(m_hDevice, reply)) {
        AfxMessageBox(noted("Get STS fail"));
        m_ctlProgress.SetPos(0);
        return endStep(noted("Get STS fail"));
    }
    if (reply[0] == 2) {
        m_ctlProgress.SetPos(0);
        AfxMessageBox(noted("Write data to SPI Flash failed!!!\nBecause signature is not match."));
        SetStatusLine("Write data to SPI Flash failed!!! Because signature is not match.");
        return endStep(noted("Write data to SPI Flash failed!!!\nBecause signature is not match."));
    }
    if (reply[0] != 0) {
        SetStatusLine("Get Unknown status");
        AfxMessageBox(noted("Write Data to SPI Flash Failed "));
        return endStep(noted("Get Unknown status"));
    }
    m_ctlProgress.SetPos(100);

    std::memset(m_readBackBuffer.get(), 0, kReadBackPiece);
    m_ctlProgress.SetPos(0);
    if (!setBase()) {
        AfxMessageBox(noted("Set Data Address FAILED"));
        return endStep(noted("Set Data Address FAILED"));
    }
    file = Services().files.Open(path, FileOpenMode::Read, error);
    if (!file) {
        AfxMessageBox(noted(error));
        return endStep(noted(error));
    }
    SetStatusLine("Data Compare...");
    DiagPrintf("file.GetLength()=%d\n", static_cast<int>(file->Length()));
    PieceSource verifySource(m_keepBuffer.get(), head, *file);
    const ReadBackEnd verified = ReadBackFlashPieces(verifySource, file->Length() + head, &copy, true);
    if (verified == ReadBackEnd::ReadFailed) {
        SetStatusLine(NewlinesAsBlanks(noted("Read back FAILED")));
        return endStep(noted("Read back FAILED"));
    }
    if (verified == ReadBackEnd::Differs) {
        AfxMessageBox(noted("Compare Error!!"));
        SetStatusLine("Data Compare fail");
        return endStep(noted("Compare Error!!"));
    }
    file->Close();
    SetStatusLine("Complete!");
}
