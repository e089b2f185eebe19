#pragma once
// The standard SCSI commands of the gadget: what a host's disk and generic
// drivers send while they probe and use a small read-only volume (INQUIRY with
// its vital product data, TEST UNIT READY, REQUEST SENSE, READ CAPACITY, MODE
// SENSE, READ, medium removal, cache synchronisation ...). Anything else is
// refused with CHECK CONDITION and ILLEGAL REQUEST sense. Pure: bytes in,
// bytes out.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "gadget/bulk_only.h"

constexpr uint32_t kDiskBlockSize = 512;
constexpr size_t kFixedSenseLength = 18;

// Sense keys and additional sense codes the disk reports.
constexpr uint8_t kSenseKeyNoSense = 0x00;
constexpr uint8_t kSenseKeyIllegalRequest = 0x05;
constexpr uint8_t kSenseKeyDataProtect = 0x07;
constexpr uint8_t kAscInvalidCommandOpcode = 0x20;
constexpr uint8_t kAscLbaOutOfRange = 0x21;
constexpr uint8_t kAscInvalidFieldInCdb = 0x24;
constexpr uint8_t kAscWriteProtected = 0x27;

struct ScsiOutcome {
    bool failed = false;                           // CHECK CONDITION (the sense is kept for REQUEST SENSE)
    DataDirection direction = DataDirection::None; // of the command's data
    std::vector<uint8_t> data;                     // In: what the device sends, within the allocation length
    uint32_t wantedOut = 0;                        // Out: bytes the command takes from the host
};

struct DiskIdentity {
    std::string vendor = "VANE";            // INQUIRY: 8 characters, padded with spaces
    std::string product = "TX Transmitter"; // 16
    std::string revision = "1.00";          // 4
    std::string serial = "VANE0001";        // unit serial number page
};

class ScsiDisk {
public:
    // The volume is cut or padded (zeros) to whole blocks; at least one block.
    explicit ScsiDisk(std::vector<uint8_t> volume, DiskIdentity identity = {});

    // Runs one command. out holds the host's data-out bytes (empty for none).
    ScsiOutcome Execute(const uint8_t* cdb, size_t cdbLength, const std::vector<uint8_t>& out);

    // The sense REQUEST SENSE returns next: fixed format, as a failed command left it.
    void SetSense(uint8_t key, uint8_t asc, uint8_t ascq = 0);
    void SetSense(const uint8_t* fixedSense, size_t length);
    void ClearSense();
    const std::vector<uint8_t>& Sense() const { return sense_; }

    uint32_t BlockCount() const { return static_cast<uint32_t>(volume_.size() / kDiskBlockSize); }
    const std::vector<uint8_t>& Volume() const { return volume_; }

    // Whether an opcode is one of this disk's (the vendor opcode is not).
    static bool Knows(uint8_t opcode);

private:
    ScsiOutcome Fail(uint8_t key, uint8_t asc, uint8_t ascq = 0);
    ScsiOutcome Reply(std::vector<uint8_t> data, uint32_t allocationLength);
    ScsiOutcome Inquiry(const uint8_t* cdb);
    ScsiOutcome RequestSense(const uint8_t* cdb);
    ScsiOutcome ModeSense(const uint8_t* cdb, bool tenByte);
    ScsiOutcome ReadCapacity16(const uint8_t* cdb);
    ScsiOutcome ReadFormatCapacities(const uint8_t* cdb);
    ScsiOutcome Read(uint64_t lba, uint32_t blocks);
    ScsiOutcome Write(uint32_t blocks, const std::vector<uint8_t>& out);

    std::vector<uint8_t> volume_;
    DiskIdentity identity_;
    std::vector<uint8_t> sense_;
};
