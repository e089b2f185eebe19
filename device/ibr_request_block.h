#pragma once
// The request block of one vendor command: the system's SCSI pass-through
// structure, a filler word and the sense area, handed to the system as both
// input and output buffer.
#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
#include <ntddscsi.h>
using IbrPassThrough = SCSI_PASS_THROUGH_DIRECT;
#else
// Elsewhere the block mirrors the 32-bit Windows layout field for field, so the
// same tests assert the same offsets on every platform. DataBuffer keeps only
// the low 32 bits of the buffer address for the record; the pass-through port
// receives the real pointer beside the block.
struct IbrPassThrough {
    uint16_t Length;
    uint8_t ScsiStatus;
    uint8_t PathId;
    uint8_t TargetId;
    uint8_t Lun;
    uint8_t CdbLength;
    uint8_t SenseInfoLength;
    uint8_t DataIn;
    uint8_t Padding[3];
    uint32_t DataTransferLength;
    uint32_t TimeOutValue;
    uint32_t DataBuffer;
    uint32_t SenseInfoOffset;
    uint8_t Cdb[16];
};
static_assert(sizeof(IbrPassThrough) == 44);
#endif

constexpr size_t kIbrSenseAreaSize = 65536;
constexpr uint8_t kIbrSenseInfoLength = 24;
constexpr uint8_t kIbrCdbLength = 10;
constexpr uint8_t kIbrTargetId = 1;

struct IbrRequestBlock {
    IbrPassThrough spt;
    uint32_t filler;
    uint8_t sense[kIbrSenseAreaSize];
};

#if !defined(_WIN64)
// 32-bit Windows and the mirror: byte for byte the documented table.
static_assert(offsetof(IbrRequestBlock, spt) == 0);
static_assert(offsetof(IbrPassThrough, ScsiStatus) == 2);
static_assert(offsetof(IbrPassThrough, TargetId) == 4);
static_assert(offsetof(IbrPassThrough, CdbLength) == 6);
static_assert(offsetof(IbrPassThrough, SenseInfoLength) == 7);
static_assert(offsetof(IbrPassThrough, DataIn) == 8);
static_assert(offsetof(IbrPassThrough, DataTransferLength) == 12);
static_assert(offsetof(IbrPassThrough, TimeOutValue) == 16);
static_assert(offsetof(IbrPassThrough, DataBuffer) == 20);
static_assert(offsetof(IbrPassThrough, SenseInfoOffset) == 24);
static_assert(offsetof(IbrPassThrough, Cdb) == 28);
static_assert(offsetof(IbrRequestBlock, filler) == 44);
static_assert(offsetof(IbrRequestBlock, sense) == 48);
static_assert(sizeof(IbrRequestBlock) == 65584);
#else
// 64-bit Windows: the structure has its natural sizes (56 bytes, DataBuffer at
// 24); Length and SenseInfoOffset are filled from the real layout, and the
// block is padded to the alignment of its pointer.
static_assert(sizeof(IbrPassThrough) == 56);
static_assert(offsetof(IbrRequestBlock, spt) == 0);
static_assert(offsetof(IbrPassThrough, ScsiStatus) == 2);
static_assert(offsetof(IbrPassThrough, TargetId) == 4);
static_assert(offsetof(IbrPassThrough, CdbLength) == 6);
static_assert(offsetof(IbrPassThrough, SenseInfoLength) == 7);
static_assert(offsetof(IbrPassThrough, DataIn) == 8);
static_assert(offsetof(IbrPassThrough, DataTransferLength) == 12);
static_assert(offsetof(IbrPassThrough, TimeOutValue) == 16);
static_assert(offsetof(IbrPassThrough, DataBuffer) == 24);
static_assert(offsetof(IbrPassThrough, SenseInfoOffset) == 32);
static_assert(offsetof(IbrPassThrough, Cdb) == 36);
static_assert(offsetof(IbrRequestBlock, filler) == 56);
static_assert(offsetof(IbrRequestBlock, sense) == 60);
static_assert(sizeof(IbrRequestBlock) == 65600);
#endif

constexpr uint16_t kIbrPassThroughLength = sizeof(IbrPassThrough);
constexpr uint32_t kIbrSenseInfoOffset = offsetof(IbrRequestBlock, sense);
constexpr uint32_t kIbrRequestBlockSize = sizeof(IbrRequestBlock);

// Direction codes of DataIn.
constexpr uint8_t kIbrDataOut = 0; // host to target
constexpr uint8_t kIbrDataIn = 1;  // target to host

// Stores the buffer address in the block in the platform's way.
inline void StoreDataBuffer(void*& field, void* buffer) { field = buffer; }
inline void StoreDataBuffer(uint32_t& field, void* buffer) { field = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(buffer)); }
inline void SetRequestDataBuffer(IbrRequestBlock& block, void* buffer) { StoreDataBuffer(block.spt.DataBuffer, buffer); }
