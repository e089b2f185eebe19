#include "gadget/scsi_disk.h"

#include <algorithm>
#include <cstring>

namespace {

enum Opcode : uint8_t {
    kTestUnitReady = 0x00,
    kRequestSense = 0x03,
    kRead6 = 0x08,
    kWrite6 = 0x0A,
    kInquiry = 0x12,
    kModeSense6 = 0x1A,
    kStartStopUnit = 0x1B,
    kPreventAllowMediumRemoval = 0x1E,
    kReadFormatCapacities = 0x23,
    kReadCapacity10 = 0x25,
    kRead10 = 0x28,
    kWrite10 = 0x2A,
    kVerify10 = 0x2F,
    kSynchronizeCache10 = 0x35,
    kModeSense10 = 0x5A,
    kServiceActionIn16 = 0x9E,
};
constexpr uint8_t kServiceReadCapacity16 = 0x10;

constexpr uint8_t kPageCaching = 0x08;
constexpr uint8_t kPageAll = 0x3F;
constexpr uint8_t kWriteProtectBit = 0x80; // device-specific parameter of the mode header

uint32_t Be16(const uint8_t* at) { return static_cast<uint32_t>(at[0]) << 8 | at[1]; }
uint32_t Be32(const uint8_t* at) { return Be16(at) << 16 | Be16(at + 2); }

void PutBe(std::vector<uint8_t>& out, uint64_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutText(std::vector<uint8_t>& out, const std::string& text, size_t width)
{
    for (size_t i = 0; i < width; ++i) out.push_back(i < text.size() ? static_cast<uint8_t>(text[i]) : ' ');
}

// The CDB length each group of opcodes has.
size_t CdbLengthOf(uint8_t opcode)
{
    switch (opcode >> 5) {
    case 0: return 6;
    case 1:
    case 2: return 10;
    case 4: return 16;
    case 5: return 12;
    default: return 6;
    }
}

} // namespace

ScsiDisk::ScsiDisk(std::vector<uint8_t> volume, DiskIdentity identity)
    : volume_(std::move(volume)), identity_(std::move(identity))
{
    const size_t blocks = std::max<size_t>(1, (volume_.size() + kDiskBlockSize - 1) / kDiskBlockSize);
    volume_.resize(blocks * kDiskBlockSize, 0);
    ClearSense();
}

bool ScsiDisk::Knows(uint8_t opcode)
{
    switch (opcode) {
    case kTestUnitReady:
    case kRequestSense:
    case kRead6:
    case kWrite6:
    case kInquiry:
    case kModeSense6:
    case kStartStopUnit:
    case kPreventAllowMediumRemoval:
    case kReadFormatCapacities:
    case kReadCapacity10:
    case kRead10:
    case kWrite10:
    case kVerify10:
    case kSynchronizeCache10:
    case kModeSense10:
    case kServiceActionIn16: return true;
    default: return false;
    }
}

void ScsiDisk::SetSense(uint8_t key, uint8_t asc, uint8_t ascq)
{
    sense_.assign(kFixedSenseLength, 0);
    sense_[0] = 0x70; // current error, fixed format
    sense_[2] = key;
    sense_[7] = kFixedSenseLength - 8;
    sense_[12] = asc;
    sense_[13] = ascq;
}

void ScsiDisk::SetSense(const uint8_t* fixedSense, size_t length)
{
    sense_.assign(kFixedSenseLength, 0);
    std::memcpy(sense_.data(), fixedSense, std::min(length, kFixedSenseLength));
    // A device always reports a sense it can describe: fill in the format
    // bytes when the source left them out.
    if ((sense_[0] & 0x7F) != 0x70 && (sense_[0] & 0x7F) != 0x71) sense_[0] = 0x70;
    if (sense_[7] == 0) sense_[7] = kFixedSenseLength - 8;
}

void ScsiDisk::ClearSense() { SetSense(kSenseKeyNoSense, 0, 0); }

ScsiOutcome ScsiDisk::Fail(uint8_t key, uint8_t asc, uint8_t ascq)
{
    SetSense(key, asc, ascq);
    ScsiOutcome outcome;
    outcome.failed = true;
    return outcome;
}

ScsiOutcome ScsiDisk::Reply(std::vector<uint8_t> data, uint32_t allocationLength)
{
    ScsiOutcome outcome;
    if (data.size() > allocationLength) data.resize(allocationLength);
    outcome.direction = DataDirection::In;
    outcome.data = std::move(data);
    return outcome;
}

ScsiOutcome ScsiDisk::Execute(const uint8_t* cdb, size_t cdbLength, const std::vector<uint8_t>& out)
{
    if (cdb == nullptr || cdbLength == 0) return Fail(kSenseKeyIllegalRequest, kAscInvalidCommandOpcode);
    const uint8_t opcode = cdb[0];
    if (opcode != kRequestSense) ClearSense();
    if (!Knows(opcode)) return Fail(kSenseKeyIllegalRequest, kAscInvalidCommandOpcode);
    if (cdbLength < CdbLengthOf(opcode)) return Fail(kSenseKeyIllegalRequest, kAscInvalidFieldInCdb);

    switch (opcode) {
    case kTestUnitReady:
    case kStartStopUnit:
    case kPreventAllowMediumRemoval:
    case kSynchronizeCache10: return ScsiOutcome{};
    case kVerify10: {
        const uint64_t lba = Be32(cdb + 2);
        if (lba + Be16(cdb + 7) > BlockCount()) return Fail(kSenseKeyIllegalRequest, kAscLbaOutOfRange);
        return ScsiOutcome{};
    }
    case kRequestSense: return RequestSense(cdb);
    case kInquiry: return Inquiry(cdb);
    case kModeSense6: return ModeSense(cdb, false);
    case kModeSense10: return ModeSense(cdb, true);
    case kReadFormatCapacities: return ReadFormatCapacities(cdb);
    case kReadCapacity10: {
        std::vector<uint8_t> data;
        PutBe(data, BlockCount() - 1, 4);
        PutBe(data, kDiskBlockSize, 4);
        return Reply(std::move(data), 8);
    }
    case kServiceActionIn16: return ReadCapacity16(cdb);
    case kRead6: {
        const uint32_t lba = (static_cast<uint32_t>(cdb[1] & 0x1F) << 16) | Be16(cdb + 2);
        return Read(lba, cdb[4] == 0 ? 256 : cdb[4]);
    }
    case kRead10: return Read(Be32(cdb + 2), Be16(cdb + 7));
    case kWrite6: return Write(cdb[4] == 0 ? 256 : cdb[4], out);
    case kWrite10: return Write(Be16(cdb + 7), out);
    default: return Fail(kSenseKeyIllegalRequest, kAscInvalidCommandOpcode);
    }
}

ScsiOutcome ScsiDisk::RequestSense(const uint8_t* cdb)
{
    std::vector<uint8_t> data = sense_;
    ClearSense(); // reported once
    return Reply(std::move(data), cdb[4]);
}

ScsiOutcome ScsiDisk::Inquiry(const uint8_t* cdb)
{
    const uint32_t allocation = Be16(cdb + 3);
    const bool vitalProductData = (cdb[1] & 0x01) != 0;
    const uint8_t page = cdb[2];
    std::vector<uint8_t> data;
    if (!vitalProductData) {
        if (page != 0) return Fail(kSenseKeyIllegalRequest, kAscInvalidFieldInCdb);
        data = {0x00, 0x80, 0x02, 0x02, 31, 0x00, 0x00, 0x00}; // disk, removable, SCSI-2, format 2
        PutText(data, identity_.vendor, 8);
        PutText(data, identity_.product, 16);
        PutText(data, identity_.revision, 4);
        return Reply(std::move(data), allocation);
    }
    data = {0x00, page, 0x00, 0x00};
    switch (page) {
    case 0x00: data.insert(data.end(), {0x00, 0x80, 0x83}); break; // the pages there are
    case 0x80: PutText(data, identity_.serial, identity_.serial.size()); break;
    case 0x83: { // one designator: T10 vendor identification
        const std::vector<uint8_t> head = {0x02, 0x01, 0x00}; // ASCII, T10 vendor ID, logical unit
        data.insert(data.end(), head.begin(), head.end());
        data.push_back(static_cast<uint8_t>(8 + identity_.serial.size()));
        PutText(data, identity_.vendor, 8);
        PutText(data, identity_.serial, identity_.serial.size());
        break;
    }
    default: return Fail(kSenseKeyIllegalRequest, kAscInvalidFieldInCdb);
    }
    data[3] = static_cast<uint8_t>(data.size() - 4);
    return Reply(std::move(data), allocation);
}

// Mode pages: only the caching page (write cache off, as the volume is read-only).
ScsiOutcome ScsiDisk::ModeSense(const uint8_t* cdb, bool tenByte)
{
    const uint8_t pageCode = cdb[2] & 0x3F;
    const uint8_t control = cdb[2] >> 6; // 0 current, 1 changeable, 2 default, 3 saved
    if (control == 3) return Fail(kSenseKeyIllegalRequest, 0x39); // saving parameters not supported
    std::vector<uint8_t> pages;
    if (pageCode == kPageCaching || pageCode == kPageAll) {
        pages = {kPageCaching, 0x12};
        pages.resize(2 + 0x12, 0x00); // WCE = 0, RCD = 0; no changeable fields either
    } else {
        return Fail(kSenseKeyIllegalRequest, kAscInvalidFieldInCdb);
    }
    std::vector<uint8_t> data;
    if (tenByte) {
        PutBe(data, 6 + pages.size(), 2);
        data.insert(data.end(), {0x00, kWriteProtectBit, 0x00, 0x00, 0x00, 0x00}); // no block descriptors
    } else {
        data = {static_cast<uint8_t>(3 + pages.size()), 0x00, kWriteProtectBit, 0x00};
    }
    data.insert(data.end(), pages.begin(), pages.end());
    return Reply(std::move(data), tenByte ? Be16(cdb + 7) : cdb[4]);
}

ScsiOutcome ScsiDisk::ReadCapacity16(const uint8_t* cdb)
{
    if ((cdb[1] & 0x1F) != kServiceReadCapacity16) return Fail(kSenseKeyIllegalRequest, kAscInvalidFieldInCdb);
    std::vector<uint8_t> data;
    PutBe(data, BlockCount() - 1, 8);
    PutBe(data, kDiskBlockSize, 4);
    data.resize(32, 0);
    return Reply(std::move(data), Be32(cdb + 10));
}

ScsiOutcome ScsiDisk::ReadFormatCapacities(const uint8_t* cdb)
{
    std::vector<uint8_t> data = {0x00, 0x00, 0x00, 0x08}; // one capacity descriptor
    PutBe(data, BlockCount(), 4);
    data.push_back(0x02); // formatted media
    PutBe(data, kDiskBlockSize, 3);
    return Reply(std::move(data), Be16(cdb + 7));
}

ScsiOutcome ScsiDisk::Read(uint64_t lba, uint32_t blocks)
{
    if (lba + blocks > BlockCount()) return Fail(kSenseKeyIllegalRequest, kAscLbaOutOfRange);
    ScsiOutcome outcome;
    outcome.direction = DataDirection::In;
    const auto first = volume_.begin() + static_cast<std::ptrdiff_t>(lba * kDiskBlockSize);
    outcome.data.assign(first, first + static_cast<std::ptrdiff_t>(uint64_t{blocks} * kDiskBlockSize));
    return outcome;
}

// The volume is read-only: the data is taken (so the host's phase ends
// normally) and the command refused.
ScsiOutcome ScsiDisk::Write(uint32_t blocks, const std::vector<uint8_t>& out)
{
    (void)out;
    ScsiOutcome outcome = Fail(kSenseKeyDataProtect, kAscWriteProtected);
    outcome.direction = DataDirection::Out;
    outcome.wantedOut = blocks * kDiskBlockSize;
    return outcome;
}
