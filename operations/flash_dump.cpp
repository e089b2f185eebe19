// The SPI flash dump: the first N bytes of the flash into the chosen file.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "app/rodediz_dlg.h"
#include "operations/job_math.h"
#include "device/diagnostics.h"

namespace {

constexpr uint32_t kDumpPiece = 4096;
constexpr uint32_t kDumpBufferSize = 65536;
constexpr uint32_t kDumpPauseMs = 500;
// The largest flash that three-byte SPI addresses reach, while the size is unknown.
constexpr uint64_t kDumpLimitUnknownSize = 0x1000000;
constexpr char kSizeRefused[] = "Please Check Read Data Size Value";
constexpr char kPathRefused[] = "Please check selected path is exist!!!";

// The leading decimal number of text as atoi reads it (blanks, a sign,
// digits), without atoi's undefined overflow: false for a negative value or
// one above limit. Text without digits gives 0.
bool ParseDumpSize(const std::string& text, uint64_t limit, uint32_t& size)
{
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    uint64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
        if (value > limit) return false;
    }
    if (negative && value != 0) return false;
    size = static_cast<uint32_t>(value);
    return true;
}


} // namespace

void CRODEdizDlg::DumpSpiFlash()
{
    m_bBusy = true;
    EnableJobControls(false);
    auto end = [&] {
        m_bBusy = false;
        EnableJobControls(true);
    };
    if (!m_link.CMD_IbrSetAddressFlashShort(m_hDevice, m_abyReply)) {
        AfxMessageBox("Set Address FAILED");
        MarkJobFailed("Set Address FAILED");
        m_bBusy = false;
        m_ctlProgress.SetPos(0);
        EnableJobControls(true);
        return;
    }
    if (ReadFlashToFile()) {
        DiagPrintf("Read Data and Save OK\n");
        return end();
    }
    AfxMessageBox("Read Data and Save FAILED\n");
    m_ctlProgress.SetPos(0);
    DiagPrintf("Read Data and Save FAILED\n");
    // The status line would otherwise keep "Downloading SPI Data..." after a failure.
    SetStatusLine("Read Data and Save FAILED");
    if (!JobFailed()) MarkJobFailed("Read Data and Save FAILED"); // the step's own failure names the cause
    end();
}

bool CRODEdizDlg::ReadFlashToFile()
{
    uint8_t* buffer = m_readBackBuffer.get();
    std::memset(buffer, 0, kDumpBufferSize);
    auto refuse = [&](const char* text) {
        AfxMessageBox(text);
        MarkJobFailed(text);
        return false;
    };

    const std::string sizeText = GetDlgItemText(IDC_DUMP_LENGTH);
    if (sizeText.empty()) return refuse(kSizeRefused);
    uint64_t limit = kDumpLimitUnknownSize;
    unsigned known = 0;
    if (std::sscanf(m_strFlashSize.c_str(), "%x", &known) == 1 && known != 0) limit = known;
    uint32_t total = 0;
    if (!ParseDumpSize(sizeText, limit, total)) return refuse(kSizeRefused);

    SetStatusLine("Open File to write...");
    // Only a path the user chose after selecting the dump mode is written:
    // the path may still name the firmware image of the download modes.
    std::unique_ptr<IFile> file;
    const std::string path = CodePathSnapshot();
    if (m_bDumpPathChosen) {
        std::string error;
        file = Services().files.Open(path, FileOpenMode::CreateWrite, error);
    }
    if (!file) {
        m_ctlProgress.SetPos(0);
        return refuse(kPathRefused);
    }

    uint32_t remaining = total;
    uint32_t done = 0;
    do {
        SetStatusLine("Downloading SPI Data...");
        const uint32_t n = remaining > kDumpPiece ? kDumpPiece : remaining;
        remaining -= n;
        DiagPrintf("Len=%d\n", static_cast<int>(n));
        done += n;
        if (!m_link.CMD_IbrRead(m_hDevice, buffer, n)) {
            DiagPrintf("Get File Data Failed !\n");
            file->Close();
            MarkJobFailed("Get File Data Failed !");
            return false;
        }
        if (!file->Write(buffer, n)) {
            // A full disk: the file does not hold the flash's bytes.
            DiagPrintf("Save File Data Failed !\n");
            file->Close();
            MarkJobFailed("Save File Data Failed !");
            return false;
        }
        m_ctlProgress.SetPos(Percent(done, total));
    } while (remaining > 0);
    file->Close();

    // A reply damaged on its way would be in the file unnoticed: the flash is
    // read once more and compared with what the file holds.
    SetStatusLine("Data Compare...");
    std::string error;
    auto written = Services().files.Open(path, FileOpenMode::Read, error);
    if (!written || !m_link.CMD_IbrSetAddressFlashShort(m_hDevice, m_abyReply)) {
        MarkJobFailed("Dump Compare Error !");
        return false;
    }
    uint8_t* saved = m_compareBuffer.get();
    for (uint32_t at = 0; at < total; at += kDumpPiece) {
        const uint32_t n = total - at > kDumpPiece ? kDumpPiece : total - at;
        if (!m_link.CMD_IbrRead(m_hDevice, buffer, n) || written->Read(saved, n) != n || !CompareBuffer(saved, buffer, n)) {
            DiagPrintf("Dump Compare Error !\n");
            written->Close();
            MarkJobFailed("Dump Compare Error !");
            return false;
        }
    }
    written->Close();

    SetStatusLine("Downloading SPI Data...OK");
    m_ctlProgress.SetPos(100);
    Services().clock.Sleep(kDumpPauseMs);
    SetStatusLine("Complete!");
    return true;
}
