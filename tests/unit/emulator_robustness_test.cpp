// The emulated target under load and under garbage: many threads at once, and
// random request blocks that must never crash it (run under ASan and UBSan).
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "device/diagnostics.h"
#include "device/ibr_commands.h"
#include "emulator/emulated_target.h"

TEST(EmulatorRobustness, ConcurrentRequestsAreServedOneAtATime)
{
    DiagnosticCapture quiet;
    VirtualClock clock;
    EmulatedTarget target(clock);
    IbrLink link(target);
    std::atomic<uint64_t> sent{0}, wrongReplies{0}, heardEvents{0};
    target.SetBusListener([&](const BusEvent&) { ++heardEvents; });

    auto worker = [&] {
        DeviceHandle handle = target.Open();
        uint8_t reply[kIbrShortReplyLength];
        for (int i = 0; i < 400; ++i) {
            if (handle == nullptr) {
                handle = target.Open();
                continue;
            }
            ++sent;
            const bool chip = i % 2 == 0;
            const bool completed = chip ? link.CMD_IbrGetChipID(handle, reply) : link.CMD_IbrPing(handle, reply);
            if (!completed) {
                handle = target.Open(); // the plugging thread made it stale
                continue;
            }
            // A reply mixed up with another thread's would show here.
            if (chip ? reply[0] != kEmuCompanyId || reply[1] != kEmuChipId : reply[0] != 'I') ++wrongReplies;
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back(worker);
    uint64_t takenEvents = 0;
    for (int i = 0; i < 50; ++i) {
        (i % 2 ? target.Plug() : target.Unplug());
        takenEvents += target.TakeBusEvents().size();
        target.Present();
        target.Generation();
    }
    target.Plug();
    for (std::thread& thread : threads) thread.join();
    takenEvents += target.TakeBusEvents().size();

    EXPECT_EQ(wrongReplies.load(), 0u);
    EXPECT_EQ(target.CommandCount(), sent.load());
    EXPECT_EQ(target.Trace().size(), sent.load());
    EXPECT_EQ(takenEvents, 50u);
    EXPECT_EQ(heardEvents.load(), takenEvents);
    EXPECT_EQ(target.Generation(), 26u);
}

TEST(EmulatorRobustness, DecoderSurvivesRandomRequestBlocks)
{
    VirtualClock clock;
    EmulatedTarget target(clock, 512 * 1024);
    TimingModel timing;
    timing.reenumerateMs = 0; // an Execute comes straight back
    target.SetTiming(timing);
    std::mt19937 random(20240611);
    auto byte = [&] { return static_cast<uint8_t>(random()); };
    const uint8_t subCodes[] = {0x51, 0x85, 0x71, 0x55, 0x8B, 0x72, 0x60, 0x89, 0x91};
    const uint32_t lengths[] = {0, 1, 8, 255, 256, 3583, 65535, 65536, 65537, 0xFFFFFFFF};

    auto block = std::make_unique<IbrRequestBlock>();
    // Exactly the largest transfer, so that ASan sees any byte past it.
    std::vector<uint8_t> buffer(kEmuMaxTransferLength);
    for (uint8_t& b : buffer) b = byte();
    DeviceHandle handle = target.Open();
    DeviceHandle stale = handle;
    constexpr int kRounds = 3000;
    for (int round = 0; round < kRounds; ++round) {
        if (!target.Present()) target.Plug();
        if (random() % 8 == 0) stale = handle, handle = target.Open();
        target.SetBootState(random() % 2 ? kFlashLoaderState : kBootRomState);

        auto* raw = reinterpret_cast<uint8_t*>(&block->spt);
        for (size_t i = 0; i < sizeof block->spt; ++i) raw[i] = byte();
        if (random() % 4) block->spt.Cdb[0] = kIbrOpcode;
        if (random() % 4) block->spt.Cdb[1] = subCodes[random() % std::size(subCodes)];
        uint32_t address = random() % 2 ? kIbrFlashBase + random() % (600 * 1024) : random() % (70 * 1024);
        if (block->spt.Cdb[1] == kIbrSubSetAddress) std::memcpy(&block->spt.Cdb[2], &address, 4);
        const uint32_t length = random() % 2 ? lengths[random() % std::size(lengths)] : random() % 70000;
        block->spt.DataTransferLength = length;
        if (random() % 2) std::memcpy(&block->spt.Cdb[2], &length, random() % 2 ? 4 : 2);
        if (random() % 2) block->spt.DataIn = block->spt.Cdb[1] == kIbrSubWrite ? kIbrDataOut : kIbrDataIn;

        const uint32_t pick = random() % 16;
        DeviceHandle device = pick == 0 ? nullptr : pick == 1 ? stale : pick == 2 ? reinterpret_cast<DeviceHandle>(0x10) : handle;
        void* data = random() % 32 == 0 ? nullptr : buffer.data();
        const PassThroughResult result = target.Send(device, *block, data);
        if (result.completed) {
            ASSERT_TRUE(block->spt.ScsiStatus == kScsiGood || block->spt.ScsiStatus == kScsiCheckCondition);
        }
    }
    EXPECT_EQ(target.CommandCount(), static_cast<uint64_t>(kRounds));
    target.Plug();
    IbrLink link(target);
    uint8_t reply[kIbrShortReplyLength];
    EXPECT_TRUE(link.CMD_IbrPing(target.Open(), reply));
}
