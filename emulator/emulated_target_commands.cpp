// What the emulated boot ROM and flash loader do with a command that reached
// them: decode the CDB, act on the memories, answer with a status and a reply.
#include <algorithm>
#include <cstring>

#include "device/ibr_commands.h"
#include "emulator/emulated_target.h"

namespace {

// Additional sense codes of the refusals.
constexpr uint8_t kAscInvalidOpcode = 0x20;
constexpr uint8_t kAscOutOfRange = 0x21;
constexpr uint8_t kAscInvalidField = 0x24;
constexpr uint8_t kAscSequenceError = 0x2C; // a flash command while only the boot ROM runs

constexpr uint32_t kPageSize = 256;
constexpr uint8_t kPingReply[kIbrShortReplyLength] = {'I', 'B', 'R', 0, 1, 2, 0, 0}; // name, version 1.2

uint32_t LittleEndian32(const uint8_t* at)
{
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
           static_cast<uint32_t>(at[3]) << 24;
}

uint32_t LittleEndian16(const uint8_t* at) { return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8; }

bool KnownSubCode(uint8_t subCode)
{
    switch (subCode) {
    case kIbrSubPing:
    case kIbrSubGetChipId:
    case kIbrSubRead:
    case kIbrSubSetAddress:
    case kIbrSubBlockErase:
    case kIbrSubWrite:
    case kIbrSubExecute:
    case kIbrSubGetStatus:
    case kIbrSubGetState: return true;
    default: return false;
    }
}

// How much of a reply fits the request: nothing at all for a length beyond what
// the bus carries, as such a request is refused without touching its buffer.
uint32_t ReplyRoom(uint32_t transferLength) { return transferLength <= kEmuMaxTransferLength ? transferLength : 0; }

uint8_t ExpectedDirection(uint8_t subCode) { return subCode == kIbrSubWrite ? kIbrDataOut : kIbrDataIn; }

// Fixed-format sense data, as much of it as the request has room for.
void WriteSense(IbrRequestBlock& block, uint8_t senseCode)
{
    uint8_t sense[18] = {};
    sense[0] = 0x70;                 // current error, fixed format
    sense[2] = kSenseIllegalRequest; // sense key
    sense[7] = sizeof sense - 8;     // additional length
    sense[12] = senseCode;
    std::memcpy(block.sense, sense, std::min<size_t>(sizeof sense, block.spt.SenseInfoLength));
}

std::vector<uint8_t> ShortReply(uint8_t first, uint8_t second = 0)
{
    std::vector<uint8_t> reply(kIbrShortReplyLength, 0);
    reply[0] = first;
    reply[1] = second;
    return reply;
}

} // namespace

EmulatedTarget::Outcome EmulatedTarget::Refusal(uint8_t senseCode)
{
    Outcome outcome;
    outcome.status = kScsiCheckCondition;
    outcome.senseCode = senseCode;
    return outcome;
}

void EmulatedTarget::ServeLocked(const Request& request, IbrRequestBlock& block)
{
    Outcome outcome = RunLocked(request);
    ApplyReplyFaults(request, outcome.reply);
    const uint32_t room = ReplyRoom(request.length);
    uint32_t bytesMoved = 0;
    if (request.dataIn == kIbrDataIn) {
        bytesMoved = std::min<uint32_t>(static_cast<uint32_t>(outcome.reply.size()), room);
        if (bytesMoved > 0) std::memcpy(request.data, outcome.reply.data(), bytesMoved);
    } else if (request.dataIn == kIbrDataOut) {
        bytesMoved = room;
    }
    block.spt.ScsiStatus = outcome.status;
    if (outcome.status == kScsiCheckCondition) WriteSense(block, outcome.senseCode);
    SpendTimeLocked(bytesMoved, outcome.programmedPages);

    // The reply is out before the code starts and the target drops off the bus.
    if (outcome.aftermath == Aftermath::LeaveForLoader) {
        LeaveLocked(!faults_.neverReturnAfterExecute, kFlashLoaderState);
        failingOpens_ = faults_.failOpensAfterLoader;
    }
    if (outcome.aftermath == Aftermath::LeaveForBootRom) LeaveLocked(true, kBootRomState);
}

EmulatedTarget::Outcome EmulatedTarget::RunLocked(const Request& request)
{
    const uint8_t subCode = request.cdb[1];
    if (request.cdb[0] != kIbrOpcode || !KnownSubCode(subCode)) return Refusal(kAscInvalidOpcode);
    if (request.dataIn != ExpectedDirection(subCode)) return Refusal(kAscInvalidField);
    if (request.length > kEmuMaxTransferLength) return Refusal(kAscInvalidField);
    switch (subCode) {
    case kIbrSubPing: return PingReply();
    case kIbrSubGetChipId: return ChipIdReply();
    case kIbrSubRead: return ReadLocked(request);
    case kIbrSubSetAddress: return SetAddressLocked(request);
    case kIbrSubBlockErase: return BlockEraseLocked(request);
    case kIbrSubWrite: return WriteLocked(request);
    case kIbrSubExecute: return ExecuteLocked();
    case kIbrSubGetStatus: return StatusLocked();
    case kIbrSubGetState: return StateReply();
    default: return Refusal(kAscInvalidOpcode);
    }
}

EmulatedTarget::Outcome EmulatedTarget::PingReply() const
{
    Outcome outcome;
    outcome.reply.assign(std::begin(kPingReply), std::end(kPingReply));
    return outcome;
}

EmulatedTarget::Outcome EmulatedTarget::ChipIdReply() const
{
    Outcome outcome;
    outcome.reply = ShortReply(kEmuCompanyId, kEmuChipId);
    return outcome;
}

EmulatedTarget::Outcome EmulatedTarget::StateReply() const
{
    Outcome outcome;
    outcome.reply = ShortReply(bootState_);
    return outcome;
}

EmulatedTarget::Outcome EmulatedTarget::ReadLocked(const Request& request)
{
    const uint32_t length = LittleEndian32(&request.cdb[2]);
    if (length != request.length) return Refusal(kAscInvalidField);
    const uint8_t* memory = MemoryAt(address_, length);
    if (memory == nullptr) {
        Outcome outcome = Refusal(kAscOutOfRange);
        outcome.reply.assign(length, 0xFF);
        return outcome;
    }
    Outcome outcome;
    outcome.reply.assign(memory, memory + length);
    address_ += length;
    return outcome;
}

EmulatedTarget::Outcome EmulatedTarget::SetAddressLocked(const Request& request)
{
    // Any address is accepted; the commands that use it check its range.
    address_ = LittleEndian32(&request.cdb[2]);
    return Outcome{};
}

EmulatedTarget::Outcome EmulatedTarget::BlockEraseLocked(const Request& request)
{
    if (request.cdb[2] != 0x01) return Refusal(kAscInvalidField);
    if (bootState_ != kFlashLoaderState) return Refusal(kAscSequenceError);
    if (!InFlash(address_, 1)) return Refusal(kAscOutOfRange);
    const uint32_t blockStart = (address_ - kIbrFlashBase) & ~(kEmuEraseBlockSize - 1);
    // A chip still erasing ignores the command; the loader moves on all the same.
    if (!EraseBusyLocked()) {
        const uint32_t blockEnd = std::min(blockStart + kEmuEraseBlockSize, flashSize_);
        std::fill(flash_.begin() + blockStart, flash_.begin() + blockEnd, 0xFF);
        StartEraseBusyLocked(request.number);
        lastWasWrite_ = false;
    }
    address_ = kIbrFlashBase + blockStart + kEmuEraseBlockSize;
    return Outcome{};
}

EmulatedTarget::Outcome EmulatedTarget::WriteLocked(const Request& request)
{
    const uint32_t length = LittleEndian16(&request.cdb[2]);
    if (length != request.length) return Refusal(kAscInvalidField);
    uint8_t* memory = MemoryAt(address_, length);
    if (memory == nullptr) return Refusal(kAscOutOfRange);
    Outcome outcome;
    if (InFlash(address_, length)) {
        if (bootState_ != kFlashLoaderState) return Refusal(kAscSequenceError);
        // NOR programming only clears bits; a busy chip ignores the program command.
        if (!EraseBusyLocked()) {
            for (uint32_t i = 0; i < length; ++i) memory[i] &= request.data[i];
            outcome.programmedPages = (length + kPageSize - 1) / kPageSize;
        }
    } else if (length > 0) {
        std::memcpy(memory, request.data, length);
    }
    address_ += length;
    lastWasWrite_ = true;
    return outcome;
}

EmulatedTarget::Outcome EmulatedTarget::ExecuteLocked() const
{
    Outcome outcome;
    outcome.aftermath = SramHoldsFlashLoader() ? Aftermath::LeaveForLoader : Aftermath::LeaveForBootRom;
    return outcome;
}

EmulatedTarget::Outcome EmulatedTarget::StatusLocked()
{
    Outcome outcome;
    outcome.reply = ShortReply(0);
    if (EraseBusyLocked()) {
        if (!eraseForever_ && !eraseTimed_) --erasePollsLeft_;
        outcome.reply[0] = kEmuEraseBusyStatus;
    } else if (lastWasWrite_ && faults_.finalStatus >= 0) {
        outcome.reply[0] = static_cast<uint8_t>(faults_.finalStatus);
    }
    return outcome;
}

void EmulatedTarget::ApplyReplyFaults(const Request& request, std::vector<uint8_t>& reply) const
{
    const std::vector<uint8_t>& chosen = faults_.replyBytes;
    if (!chosen.empty() && request.cdb[0] == kIbrOpcode && request.cdb[1] == faults_.replySubCode) {
        if (reply.size() < chosen.size()) reply.resize(chosen.size(), 0);
        std::copy(chosen.begin(), chosen.end(), reply.begin());
    }
    const size_t delivered = std::min<size_t>(reply.size(), ReplyRoom(request.length));
    if (faults_.flipReadAt == request.number && delivered > 0) {
        reply[std::min<size_t>(faults_.flipOffset, delivered - 1)] ^= 0xFF;
    }
}

// Sleeps whole milliseconds and carries the rest, so that many short commands
// add up to the right total.
void EmulatedTarget::SpendTimeLocked(uint32_t bytesMoved, uint32_t programmedPages)
{
    pendingNs_ += uint64_t{timing_.commandLatencyUs} * 1000;
    pendingNs_ += uint64_t{programmedPages} * timing_.pageProgramUs * 1000;
    if (timing_.busBytesPerMs > 0) pendingNs_ += uint64_t{bytesMoved} * 1000000 / timing_.busBytesPerMs;
    uint64_t wholeMs = pendingNs_ / 1000000;
    pendingNs_ %= 1000000;
    while (wholeMs > 0) {
        const uint32_t step = static_cast<uint32_t>(std::min<uint64_t>(wholeMs, UINT32_MAX));
        clock_.Sleep(step);
        wholeMs -= step;
    }
}

// --- memories and erase busy -------------------------------------------------------

bool EmulatedTarget::InFlash(uint32_t address, uint32_t length) const
{
    return address >= kIbrFlashBase && uint64_t{address - kIbrFlashBase} + length <= flashSize_;
}

bool EmulatedTarget::InSram(uint32_t address, uint32_t length) const
{
    return uint64_t{address} + length <= kEmuSramSize;
}

uint8_t* EmulatedTarget::MemoryAt(uint32_t address, uint32_t length)
{
    if (InSram(address, length)) return sram_.data() + address;
    if (InFlash(address, length)) return flash_.data() + (address - kIbrFlashBase);
    return nullptr;
}

bool EmulatedTarget::SramHoldsFlashLoader() const
{
    return std::memcmp(sram_.data(), kFlashLoaderMarker, sizeof kFlashLoaderMarker) == 0;
}

bool EmulatedTarget::EraseBusyLocked()
{
    if (!eraseBusy_) return false;
    if (eraseForever_) return true;
    const bool finished = eraseTimed_ ? clock_.NowMs() >= eraseDoneAtMs_ : erasePollsLeft_ == 0;
    if (finished) eraseBusy_ = false;
    return eraseBusy_;
}

void EmulatedTarget::StartEraseBusyLocked(uint64_t commandNumber)
{
    eraseBusy_ = true;
    eraseForever_ = faults_.everyEraseNeverFinishes || faults_.eraseNeverFinishesAt == commandNumber;
    eraseTimed_ = timing_.eraseBlockMs > 0;
    eraseDoneAtMs_ = clock_.NowMs() + timing_.eraseBlockMs;
    erasePollsLeft_ = timing_.erasePolls;
}
