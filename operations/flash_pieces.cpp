// The write and read-back loops that the flash download's code image and
// data step share: fixed buffers, nothing allocated per piece.
#include <cstring>

#include "app/rodediz_dlg.h"
#include "device/diagnostics.h"
#include "operations/job_math.h"
#include "operations/kept_bytes.h"
#include "operations/piece_source.h"

namespace {

constexpr uint32_t kPageSize = 256;

uint32_t RoundUpToPage(uint32_t n) { return (n + kPageSize - 1) / kPageSize * kPageSize; }

} // namespace

bool CRODEdizDlg::WriteFlashPieces(PieceSource& source, uint64_t total, const std::string& status,
                                   const std::string& note)
{
    uint8_t* buffer = m_writeBuffer.get();
    int64_t remaining = static_cast<int64_t>(CeilDiv(total, kPageSize)) * kPageSize;
    uint64_t written = 0;
    do {
        SetStatusLine(status);
        uint32_t n = source.Next(buffer, kWriteChunkSize);
        if (n < kWriteChunkSize) {
            std::memset(buffer + n, 0, kWriteChunkSize - n);
            n = RoundUpToPage(n);
            if (n == 0) n = kWriteChunkSize;
        }
        remaining -= n;
        written += n;
        DiagPrintf("Send CMD_IbrWrite...\n");
        if (!m_link.CMD_IbrWrite(m_hDevice, buffer, n)) {
            AfxMessageBox("Write fail" + note);
            SetStatusLine("Write fail");
            m_ctlProgress.SetPos(0);
            return false;
        }
        m_ctlProgress.SetPos(Percent(written, total));
    } while (remaining > 0);
    return true;
}

CRODEdizDlg::ReadBackEnd CRODEdizDlg::ReadBackFlashPieces(PieceSource& source, uint64_t total,
                                                          KeptBytesCopy* keptCopy, bool tracePieces)
{
    uint64_t left = total;
    uint64_t done = 0;
    do {
        const bool keptPiece = source.InKeptBytes();
        const uint32_t pieceSize = keptPiece ? source.KeptLeft() : kReadBackPiece;
        const uint32_t expected =
            keptPiece ? pieceSize : static_cast<uint32_t>(std::min<uint64_t>(left, kReadBackPiece));
        const uint32_t n = source.Next(m_compareBuffer.get(), pieceSize);
        // The file shrank or was replaced while the job ran: what is on the
        // flash can no longer be checked against it.
        if (n < expected) return ReadBackEnd::Differs;
        left -= n;
        if (tracePieces) {
            DiagPrintf("rest_len=%d\n", static_cast<int>(left));
            DiagPrintf("Read=%d\n", static_cast<int>(n));
        }
        if (!m_link.CMD_IbrRead(m_hDevice, m_readBackBuffer.get(), n)) return ReadBackEnd::ReadFailed;
        if (!CompareBuffer(m_compareBuffer.get(), m_readBackBuffer.get(), n)) return ReadBackEnd::Differs;
        if (keptPiece && keptCopy != nullptr) keptCopy->Discard(); // the kept head is back and verified
        done += n;
        m_ctlProgress.SetPos(Percent(done, total));
    } while (left > 0);
    return ReadBackEnd::Verified;
}
