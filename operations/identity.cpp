// The identity block: the name of the image last written, which carries the
// device's model tag and firmware version.
#include <cstring>

#include "app/rodediz_dlg.h"
#include "device/diagnostics.h"
#include "firmware/image_name.h"
#include "operations/kept_bytes.h"

namespace {

constexpr uint32_t kIdBlockAddress = 0x40040000;
constexpr uint32_t kIdBlockSize = 256;
constexpr uint32_t kIdTextOffset = 16;
constexpr uint32_t kIdTextRoom = kIdBlockSize - kIdTextOffset; // 240 characters
constexpr uint32_t kVersionTextLength = 13;
constexpr uint32_t kEraseTimeoutMs = 5000;
constexpr char kQuestionCaption[] = "Warning!!";

uint32_t DeviceVersion(const uint8_t* block)
{
    auto digit = [&](int i) { return static_cast<uint32_t>(block[kIdTextOffset + i]) - '0'; };
    return digit(9) * 100u + digit(10) * 10u + digit(11);
}

} // namespace

bool CRODEdizDlg::WaitStatusIdle(uint32_t timeoutMs)
{
    IClock& clock = Services().clock;
    const uint64_t start = clock.NowMs();
    uint8_t reply[kIbrShortReplyLength];
    for (;;) {
        std::memset(reply, 0, sizeof reply);
        if (!m_link.CMD_IbrGetSTS(m_hDevice, reply)) return false;
        if (reply[0] == 0) return true;
        if (clock.NowMs() - start >= timeoutMs) return false;
        clock.Sleep(50);
    }
}

void CRODEdizDlg::OnWriteId()
{
    // From its button: refused while anything else holds the target.
    if (m_bBusy.exchange(true)) return;
    EnableJobControls(false);
    WriteIdentity();
    m_bBusy = false;
    EnableJobControls(true);
}

void CRODEdizDlg::WriteIdentity()
{
    // A failure inside a download job makes the job fail, without ending it.
    auto fail = [&](const std::string& message) {
        AfxMessageBox(message);
        MarkJobFailed(message);
    };
    // The user's answer, not a failure: the download skips the code image.
    auto decline = [&] { g_bDeclined = true; };

    DeviceHandle device = m_hDevice;
    if (device == nullptr) return fail("No Device Handle");
    uint8_t block[kIdBlockSize] = {};
    if (!m_link.CMD_IbrSetAddress(device, m_abyLongReply, kIdBlockAddress)) return fail("Set Address FAILED");
    if (!m_link.CMD_IbrRead(device, block, kIdBlockSize)) return fail("Read ID FAILED");

    if (Window()->GetCheck(IDC_CHECK_ID)) {
        for (size_t p = 0; p < kModelTagLength; ++p) {
            if (block[kIdTextOffset + p] == static_cast<uint8_t>(kModelTag[p])) continue;
            if (MessageBox(kIncompatibleQuestion, kQuestionCaption, MB_OKCANCEL) != IDOK) return decline();
            break;
        }
        const std::string imageName = GetDlgItemText(IDC_CODE_NAME);
        const std::optional<uint32_t> imageVersion = VersionNumberOf(imageName);
        if (!imageVersion) {
            // Too short to carry a version: it does not follow the naming convention.
            AfxMessageBox(" Input File Error!!");
            g_bDeclined = true;
            MarkJobFailed(" Input File Error!!");
            return;
        }
        if (*imageVersion < DeviceVersion(block)) {
            if (MessageBox("Update File Version is old!\nContinue to upgrade?", kQuestionCaption, MB_OKCANCEL) != IDOK)
                return decline();
        }
        if (!HasModelTag(imageName)) {
            AfxMessageBox(" Input File Error!!");
            g_bDeclined = true;
            MarkJobFailed(" Input File Error!!");
            return;
        }
    }

    // The block's other bytes are written back after the erase: a second read
    // must agree with the first, and a copy is kept, where it can be, until
    // the write-back is verified (a failure in between names it).
    uint8_t check[kIdBlockSize] = {};
    if (!m_link.CMD_IbrSetAddress(device, m_abyLongReply, kIdBlockAddress)) return fail("Set ID Address FAILED");
    if (!m_link.CMD_IbrRead(device, check, kIdBlockSize)) return fail("Read ID FAILED");
    if (!SameBytes(block, check, kIdBlockSize)) return fail("Read ID FAILED (two reads differ, nothing erased)");
    KeptBytesCopy copy(Services().files);
    copy.Keep(kIdBlockAddress - kIbrFlashBase, block, kIdBlockSize);
    auto failKept = [&](const std::string& message) { fail(message + copy.Note()); };

    if (!m_link.CMD_IbrSetAddress(device, m_abyLongReply, kIdBlockAddress)) {
        copy.Discard(); // nothing erased yet
        return fail("Set ID Address FAILED");
    }
    uint8_t reply[kIbrShortReplyLength] = {};
    if (!m_link.CMD_IbrBlockErase(device, reply)) return failKept("Chip ID Erase FAILED");
    // A program command sent while the erase still runs is ignored by the
    // flash chip: wait for the erase before writing the block back.
    if (!WaitStatusIdle(kEraseTimeoutMs)) return failKept("Chip ID Erase FAILED");
    if (!m_link.CMD_IbrSetAddress(device, m_abyLongReply, kIdBlockAddress)) return failKept("Set ID Address FAILED");

    std::string text = GetDlgItemText(IDC_ID_TEXT);
    if (text.size() > kIdTextRoom) {
        DiagPrintf("Identity text longer than %u characters, stored cut to %u\n", kIdTextRoom, kIdTextRoom);
        text.resize(kIdTextRoom);
    }
    std::memcpy(block + kIdTextOffset, text.data(), text.size());
    if (!m_link.CMD_IbrWrite(device, block, kIdBlockSize)) return failKept("Write fail");
    if (!m_link.CMD_IbrSetAddress(device, m_abyLongReply, kIdBlockAddress)) return failKept("Set ID Address FAILED");
    if (!m_link.CMD_IbrRead(device, check, kIdBlockSize)) return failKept("Read ID FAILED");
    if (!SameBytes(block, check, kIdBlockSize)) return failKept("Write ID FAILED (the block reads back different)");
    copy.Discard();
}

bool CRODEdizDlg::ReadIdentityHead(uint8_t* block, uint32_t length)
{
    DeviceHandle device = m_hDevice;
    if (device == nullptr) {
        AfxMessageBox("No Device Handle");
        return false;
    }
    if (!m_link.CMD_IbrSetAddress(device, m_abyLongReply, kIdBlockAddress)) {
        AfxMessageBox("Set Address FAILED");
        m_ctlProgress.SetPos(0);
        return false;
    }
    if (!m_link.CMD_IbrRead(device, block, length)) {
        AfxMessageBox("Read ID FAILED");
        m_ctlProgress.SetPos(0);
        return false;
    }
    return true;
}

void CRODEdizDlg::OnGetVer()
{
    if (m_bBusy.exchange(true)) return;
    EnableJobControls(false);
    ShowVersion("Unknown", false);
    uint8_t block[32] = {};
    if (ReadIdentityHead(block, sizeof block)) {
        std::string version;
        for (uint32_t i = 0; i < kVersionTextLength && block[kIdTextOffset + i] != 0; ++i)
            version += static_cast<char>(block[kIdTextOffset + i]);
        ShowVersion("Current version:" + version, true, version);
    }
    m_bBusy = false;
    EnableJobControls(true);
}

void CRODEdizDlg::OnReadIdHex()
{
    if (m_bBusy.exchange(true)) return;
    EnableJobControls(false);
    {
        std::lock_guard<std::mutex> lock(m_outcomeMutex);
        m_outcome.identityRead = false;
        m_outcome.identityHex.clear();
    }
    uint8_t block[20] = {};
    if (ReadIdentityHead(block, sizeof block)) {
        static const char kDigits[] = "0123456789ABCDEF";
        std::string hex;
        for (uint8_t b : block) {
            hex += kDigits[b >> 4];
            hex += kDigits[b & 0x0F];
        }
        {
            std::lock_guard<std::mutex> lock(m_outcomeMutex);
            m_outcome.identityRead = true;
            m_outcome.identityHex = hex;
        }
        SetDlgItemText(IDC_ID_HEX, hex);
    }
    m_bBusy = false;
    EnableJobControls(true);
}
