// The emulated target's request-block decoder: any sequence of request
// blocks (any CDB, direction, lengths, sense room, handles, buffers) and bus
// changes. The target must never touch memory outside the buffer it was
// given, never crash, and keep its promises: a refused request changes no
// memory, a reply never exceeds the transfer length.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>

#include "device/ibr_commands.h"
#include "emulator/emulated_target.h"

namespace {

constexpr uint32_t kFlashSize = 128 * 1024; // small: every command compares the memories
constexpr size_t kMostCommands = 64;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    VirtualClock clock;
    EmulatedTarget target(clock, kFlashSize);
    target.SetBootState(in.ConsumeBool() ? kFlashLoaderState : in.ConsumeIntegral<uint8_t>());
    TimingModel timing;
    timing.erasePolls = in.ConsumeIntegralInRange<uint32_t>(0, 3);
    target.SetTiming(timing);
    DeviceHandle session = target.Open();
    auto block = std::make_unique<IbrRequestBlock>();

    for (size_t n = 0; n < kMostCommands && in.remaining_bytes() > 0; ++n) {
        switch (in.ConsumeIntegralInRange<int>(0, 9)) {
        case 0: target.Unplug(); continue;
        case 1: target.Plug(); session = target.Open(); continue;
        case 2: clock.Advance(in.ConsumeIntegralInRange<uint32_t>(0, 3000)); continue;
        default: break;
        }
        std::memset(block.get(), 0, sizeof(IbrRequestBlock));
        block->spt.Length = kIbrPassThroughLength;
        block->spt.CdbLength = kIbrCdbLength;
        // Mostly the vendor opcode and a known sub-code, so that the commands get past the first check.
        block->spt.Cdb[0] = in.ConsumeBool() ? kIbrOpcode : in.ConsumeIntegral<uint8_t>();
        static const uint8_t kSubCodes[] = {kIbrSubPing, kIbrSubGetChipId, kIbrSubRead, kIbrSubSetAddress, kIbrSubBlockErase,
                                            kIbrSubWrite, kIbrSubExecute, kIbrSubGetStatus, kIbrSubGetState};
        block->spt.Cdb[1] = in.ConsumeBool() ? in.PickValueInArray(kSubCodes) : in.ConsumeIntegral<uint8_t>();
        for (int i = 2; i < 16; ++i) block->spt.Cdb[i] = in.ConsumeIntegral<uint8_t>();
        block->spt.DataIn = in.ConsumeIntegralInRange<uint8_t>(0, 2);
        block->spt.SenseInfoLength = in.ConsumeIntegral<uint8_t>();
        block->spt.TimeOutValue = in.ConsumeIntegral<uint32_t>();
        // A length the CDB agrees with, or anything at all.
        uint32_t length = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 70000) : in.ConsumeIntegral<uint32_t>();
        if (in.ConsumeBool()) {
            const uint8_t sub = block->spt.Cdb[1];
            if (sub == kIbrSubWrite) {
                length &= 0xFFFF;
                block->spt.Cdb[2] = static_cast<uint8_t>(length);
                block->spt.Cdb[3] = static_cast<uint8_t>(length >> 8);
            } else if (sub == kIbrSubRead) {
                std::memcpy(&block->spt.Cdb[2], &length, 4);
            }
        }
        block->spt.DataTransferLength = length;

        // The buffer holds exactly the transfer length (up to what the bus
        // could carry and a little more); a longer claim gets a small buffer
        // that the target must leave alone.
        const bool huge = length > kEmuMaxTransferLength + 4096;
        std::vector<uint8_t> buffer(huge ? 16 : length);
        for (uint8_t& b : buffer) b = static_cast<uint8_t>(in.ConsumeIntegral<uint8_t>());
        const std::vector<uint8_t> before = buffer;
        const bool nullBuffer = in.ConsumeIntegralInRange<int>(0, 15) == 0;
        uint8_t nothing[1] = {};
        void* dataBuffer = nullBuffer ? nullptr : (buffer.empty() ? static_cast<void*>(nothing) : buffer.data());

        DeviceHandle device = session;
        switch (in.ConsumeIntegralInRange<int>(0, 7)) {
        case 0: device = nullptr; break;
        case 1: device = reinterpret_cast<DeviceHandle>(static_cast<uintptr_t>(in.ConsumeIntegral<uint32_t>())); break;
        default: break;
        }
        const std::vector<uint8_t> flash = target.Flash();
        const std::vector<uint8_t> sram = target.Sram();
        const PassThroughResult result = target.Send(device, *block, dataBuffer);
        if (!result.completed) {
            if (result.systemError == 0) __builtin_trap();             // a failure always has its code
            if (!nullBuffer && buffer != before) __builtin_trap();     // and never touched the buffer
            if (target.Flash() != flash) __builtin_trap();             // nor the memories
        } else if (block->spt.ScsiStatus == kScsiCheckCondition) {
            if (target.Flash() != flash || target.Sram() != sram) __builtin_trap(); // a refusal changes nothing
        }
        if (huge && buffer != before) __builtin_trap();
    }
    return 0;
}
