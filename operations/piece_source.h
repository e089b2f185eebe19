#pragma once
// The source of the bytes written to the flash or compared with it: first the
// kept head of a block (read off the flash before its erase, none for a whole
// image), then the image file. Pieces of kept bytes behave like file reads.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "device/diagnostics.h"
#include "ports/file_system.h"

// The flash loops' pieces: writes of 16 KiB, read-backs of 64 KiB.
constexpr uint32_t kWriteChunkSize = 16384;
constexpr uint32_t kReadBackPiece = 65536;

class PieceSource {
public:
    PieceSource(const uint8_t* kept, uint32_t keptLength, IFile& file)
        : kept_(kept), keptLeft_(keptLength), keptLength_(keptLength), file_(file)
    {
    }
    // Fills buffer with the next piece, at most pieceSize bytes, and returns
    // its length; a piece never spans the kept bytes and the file. 0 at the end.
    uint32_t Next(uint8_t* buffer, uint32_t pieceSize)
    {
        if (keptLeft_ > 0) {
            uint32_t n = std::min(pieceSize, keptLeft_);
            std::memcpy(buffer, kept_ + (keptLength_ - keptLeft_), n);
            keptLeft_ -= n;
            DiagPrintf("t_count=%d\n", static_cast<int>(keptLeft_));
            return n;
        }
        return static_cast<uint32_t>(file_.Read(buffer, pieceSize));
    }
    bool InKeptBytes() const { return keptLeft_ > 0; }
    uint32_t KeptLeft() const { return keptLeft_; }

private:
    const uint8_t* kept_;
    uint32_t keptLeft_;
    uint32_t keptLength_;
    IFile& file_;
};
