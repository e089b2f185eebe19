// The series number: written into the 64 KiB flash block that holds its
// offset as the last step of a flash download, then advanced by one.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "app/rodediz_dlg.h"
#include "device/diagnostics.h"
#include "operations/hex_text.h"
#include "operations/kept_bytes.h"

namespace {

constexpr uint32_t kSeriesBlockSize = 65536;
constexpr uint32_t kSeriesWritePiece = 16384;
// A 64 KiB erase takes at most about 2 s on SPI NOR flash.
constexpr uint32_t kSeriesEraseTimeoutMs = 5000;
constexpr char kEmptyFields[] = "[Offset] or [Number] field value is empty!!";

} // namespace

bool CRODEdizDlg::BurnSeriesNumber()
{
    uint8_t* block = m_keepBuffer.get();
    uint8_t* readBack = m_readBackBuffer.get();
    std::memset(block, 0, kSeriesBlockSize);
    std::memset(readBack, 0, kSeriesBlockSize);
    m_bBusy = true;
    EnableJobControls(false);

    // Every failure releases the target and the controls and says what failed
    // on the status line; the number in the edit stays as it was.
    auto fail = [&](const std::string& failure) {
        EnableJobControls(true);
        SetStatusLine(failure);
        m_bBusy = false;
        MarkJobFailed(failure);
        return false;
    };

    const DeviceHandle device = m_hDevice;
    if (device == nullptr) {
        AfxMessageBox("No Device Handle");
        return fail("No Device Handle");
    }
    // Reads edit 1007 into m_strSeriesOffset/m_nSeriesOffset again: the edit
    // stays editable while the job runs, and a position past 0xFFFC would
    // place the number beyond the end of the block copy.
    if (!SeriesOffsetInRange()) return fail("Offset address out of range");
    m_strSeriesNumber = GetDlgItemText(IDC_SERIES_DISPLAY);
    if (Window()->GetCheck(IDC_SERIES_OPTION) && (m_strSeriesOffset.empty() || m_strSeriesNumber.empty())) {
        AfxMessageBox(kEmptyFields);
        return fail(kEmptyFields);
    }
    // The number is taken before the erase: one that cannot be read must not
    // leave the block erased.
    const std::string numberText = GetDlgItemText(IDC_SERIES_EDIT);
    uint32_t number = 0;
    if (!ParseHex(numberText, number)) {
        AfxMessageBox(kEmptyFields);
        return fail(kEmptyFields);
    }

    const uint32_t blockAddress = kIbrFlashBase + (m_nSeriesOffset & 0xFFFF0000u);
    const uint32_t position = m_nSeriesOffset & 0xFFFFu;
    DiagPrintf("StartAddress=0x%x\n", blockAddress);
    auto setBlockAddress = [&] { return m_link.CMD_IbrSetAddress(device, m_abyLongReply, blockAddress); };

    if (!setBlockAddress()) return fail("Set Address FAILED");
    if (!m_link.CMD_IbrRead(device, block, kSeriesBlockSize)) return fail("Read Series Block FAILED");
    // The block is written back after the erase: a second read must agree with
    // the first, and a copy is kept, where it can be, until the write-back is
    // verified.
    if (!setBlockAddress() || !m_link.CMD_IbrRead(device, readBack, kSeriesBlockSize)) return fail("Read Series Block FAILED");
    if (!SameBytes(block, readBack, kSeriesBlockSize)) {
        AfxMessageBox("Read Series Block FAILED (two reads differ, nothing erased)");
        return fail("Read Series Block FAILED (two reads differ, nothing erased)");
    }
    KeptBytesCopy copy(Services().files);
    copy.Keep(blockAddress - kIbrFlashBase, block, kSeriesBlockSize);
    auto noted = [&](const std::string& text) { return text + copy.Note(); };
    if (!setBlockAddress()) {
        copy.Discard(); // nothing erased yet
        return fail("Set Address FAILED");
    }

    uint8_t reply[kIbrShortReplyLength] = {};
    // A write sent while the erase still runs is lost on real flash: wait for it.
    if (!m_link.CMD_IbrBlockErase(device, reply) || !WaitStatusIdle(kSeriesEraseTimeoutMs)) {
        AfxMessageBox(noted("Block Erase FAILED"));
        m_ctlProgress.SetPos(0);
        return fail(noted("Block Erase FAILED"));
    }
    if (!setBlockAddress()) return fail(noted("Set Address FAILED"));

    m_strSeriesNumber = numberText;
    m_nSeriesNumber = number;
    for (int i = 0; i < 4; ++i) block[position + i] = static_cast<uint8_t>(m_nSeriesNumber >> (8 * i));

    for (uint32_t piece = 0; piece < kSeriesBlockSize; piece += kSeriesWritePiece) {
        if (!m_link.CMD_IbrWrite(device, block + piece, kSeriesWritePiece)) {
            AfxMessageBox(noted("Write fail"));
            m_ctlProgress.SetPos(0);
            fail(noted("Write fail"));
            DiagPrintf("XXX...\n");
            return false;
        }
    }

    if (!setBlockAddress()) return fail(noted("Set Address FAILED"));
    if (!m_link.CMD_IbrRead(device, readBack, kSeriesBlockSize)) return fail(noted("Read back FAILED"));
    if (!CompareBuffer(block, readBack, kSeriesBlockSize)) {
        AfxMessageBox(noted("Compare Error!!"));
        return fail(noted("Compare Error!!"));
    }
    copy.Discard(); // written back and verified
    if (!m_link.CMD_IbrSetAddress(device, m_abyLongReply, 0)) return fail("Set Address FAILED");
    return true;
}

void CRODEdizDlg::AdvanceSeriesNumber()
{
    m_strSeriesNumber = GetDlgItemText(IDC_SERIES_EDIT);
    const uint32_t next = HexTextToUInt(m_strSeriesNumber) + 1u;
    char text[16];
    std::snprintf(text, sizeof text, "%x", next);
    std::string shown = text;
    for (char& c : shown) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    {
        std::lock_guard<std::mutex> lock(m_outcomeMutex);
        m_outcome.seriesAdvanced = true;
        m_outcome.nextSeriesNumber = next;
    }
    SetDlgItemText(IDC_SERIES_EDIT, shown);
}
