// The emulated target, driven through the real command link as the tool does.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device/diagnostics.h"
#include "device/ibr_commands.h"
#include "emulator/demo_images.h"
#include "emulator/emulated_target.h"

namespace {

constexpr uint32_t kBlock = kEmuEraseBlockSize;

// What the target answered to one hand-built request block.
struct RawAnswer {
    PassThroughResult result;
    uint8_t scsiStatus = 0xEE;
    uint8_t senseKey = 0xEE;
};

std::vector<uint8_t> Pattern(size_t size, uint8_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

class EmulatedTargetTest : public ::testing::Test {
protected:
    bool SetAddress(uint32_t address) { return link.CMD_IbrSetAddress(handle, reply, address); }
    bool Write(const std::vector<uint8_t>& bytes)
    {
        return link.CMD_IbrWrite(handle, bytes.data(), static_cast<uint32_t>(bytes.size()));
    }
    std::vector<uint8_t> Read(uint32_t length)
    {
        std::vector<uint8_t> bytes(length, 0xA5);
        EXPECT_TRUE(link.CMD_IbrRead(handle, bytes.data(), length));
        return bytes;
    }
    bool Erase() { return link.CMD_IbrBlockErase(handle, reply); }
    uint8_t Status()
    {
        EXPECT_TRUE(link.CMD_IbrGetSTS(handle, reply));
        return reply[0];
    }
    uint8_t State()
    {
        EXPECT_TRUE(link.CMD_IbrGetState(handle, reply));
        return reply[0];
    }
    bool Ping(DeviceHandle device) { return link.CMD_IbrPing(device, reply); }
    std::vector<uint8_t> FlashAt(uint32_t offset, uint32_t length)
    {
        const std::vector<uint8_t> flash = target.Flash();
        return {flash.begin() + offset, flash.begin() + offset + length};
    }
    std::vector<uint8_t> SramAt(uint32_t offset, uint32_t length)
    {
        const std::vector<uint8_t> sram = target.Sram();
        return {sram.begin() + offset, sram.begin() + offset + length};
    }
    RawAnswer Raw(const IbrCommand& command, void* buffer, DeviceHandle device = nullptr)
    {
        auto block = std::make_unique<IbrRequestBlock>();
        BuildRequestBlock(*block, command, buffer);
        RawAnswer answer;
        answer.result = target.Send(device ? device : handle, *block, buffer);
        answer.scsiStatus = block->spt.ScsiStatus;
        answer.senseKey = block->sense[2];
        return answer;
    }
    // Loads code into SRAM in 4096-byte pieces, the last one padded to a page.
    void LoadSram(std::vector<uint8_t> code)
    {
        code.resize((code.size() + 255) / 256 * 256, 0);
        ASSERT_TRUE(SetAddress(0));
        for (size_t at = 0; at < code.size(); at += 4096) {
            const size_t n = std::min<size_t>(4096, code.size() - at);
            ASSERT_TRUE(Write({code.begin() + at, code.begin() + at + n}));
        }
    }
    void EnterFlashMode() { target.SetBootState(kFlashLoaderState); }

    DiagnosticCapture quiet; // the link's result lines stay out of the test output
    VirtualClock clock;
    EmulatedTarget target{clock};
    IbrLink link{target};
    DeviceHandle handle = target.Open();
    uint8_t reply[kIbrLongReplyLength] = {};
};

} // namespace

TEST_F(EmulatedTargetTest, FreshDeviceIsInBootRomWithOnlyTheIdentityTextProgrammed)
{
    ASSERT_TRUE(link.CMD_IbrGetChipID(handle, reply));
    EXPECT_EQ(reply[0], kEmuCompanyId);
    EXPECT_EQ(reply[1], kEmuChipId);
    EXPECT_TRUE(Ping(handle));
    EXPECT_EQ(State(), kBootRomState);

    // The identity reads in the boot ROM; nothing else is programmed.
    ASSERT_TRUE(SetAddress(kIbrFlashBase + kEmuIdBlockOffset));
    const std::vector<uint8_t> block = Read(32);
    EXPECT_EQ(std::string(block.begin() + 16, block.begin() + 29), "Vane_TX_V1020");
    const std::vector<uint8_t> flash = target.Flash();
    EXPECT_EQ(flash.size(), kEmuDefaultFlashSize);
    EXPECT_EQ(std::count_if(flash.begin(), flash.end(), [](uint8_t b) { return b != 0xFF; }), 17);
}

TEST_F(EmulatedTargetTest, CurrentAddressAdvancesByWhatEachCommandCovered)
{
    EnterFlashMode();
    const std::vector<uint8_t> first = Pattern(512, 1), second = Pattern(256, 99);
    ASSERT_TRUE(SetAddress(kIbrFlashBase + 0x100));
    ASSERT_TRUE(Write(first));
    ASSERT_TRUE(Write(second));
    EXPECT_EQ(target.CurrentAddress(), kIbrFlashBase + 0x100 + 768);
    EXPECT_EQ(FlashAt(0x100, 512), first);
    EXPECT_EQ(FlashAt(0x300, 256), second);

    ASSERT_TRUE(SetAddress(kIbrFlashBase + 0x100));
    EXPECT_EQ(Read(512), first);
    EXPECT_EQ(Read(256), second);
    EXPECT_EQ(target.CurrentAddress(), kIbrFlashBase + 0x400);

    // Erases go block by block without an address in between.
    ASSERT_TRUE(Erase());
    EXPECT_EQ(target.CurrentAddress(), kIbrFlashBase + kBlock);
    EXPECT_EQ(Status(), kEmuEraseBusyStatus); // one busy poll by default
    EXPECT_EQ(Status(), 0);
    ASSERT_TRUE(Erase());
    EXPECT_EQ(target.CurrentAddress(), kIbrFlashBase + 2 * kBlock);

    ASSERT_TRUE(SetAddress(0));
    ASSERT_TRUE(Write(Pattern(4096, 5)));
    Read(10);
    EXPECT_EQ(target.CurrentAddress(), 4106u);
    EXPECT_EQ(SramAt(0, 4096), Pattern(4096, 5));
}

TEST_F(EmulatedTargetTest, FlashProgramsLikeNorAndErasesTheBlockHoldingTheAddress)
{
    EnterFlashMode();
    target.LoadFlash(0, std::vector<uint8_t>(3 * kBlock, 0xF0));
    ASSERT_TRUE(SetAddress(kIbrFlashBase));
    ASSERT_TRUE(Write(std::vector<uint8_t>(256, 0x3C))); // no erase first: bits only clear
    EXPECT_EQ(FlashAt(0, 256), std::vector<uint8_t>(256, 0x30));

    ASSERT_TRUE(SetAddress(kIbrFlashBase + kBlock + 123));
    ASSERT_TRUE(Erase());
    EXPECT_EQ(target.CurrentAddress(), kIbrFlashBase + 2 * kBlock);
    EXPECT_EQ(FlashAt(kBlock - 1, 1), std::vector<uint8_t>{0xF0});
    EXPECT_EQ(FlashAt(kBlock, kBlock), std::vector<uint8_t>(kBlock, 0xFF));
    EXPECT_EQ(FlashAt(2 * kBlock, 1), std::vector<uint8_t>{0xF0});
    Status();
    ASSERT_TRUE(SetAddress(kIbrFlashBase + kBlock));
    ASSERT_TRUE(Write(std::vector<uint8_t>(256, 0x3C)));
    EXPECT_EQ(FlashAt(kBlock, 256), std::vector<uint8_t>(256, 0x3C));

    // The last block: the address ends at the end of the flash, where nothing is left to erase.
    ASSERT_TRUE(SetAddress(kIbrFlashBase + kEmuDefaultFlashSize - 1));
    ASSERT_TRUE(Erase());
    EXPECT_EQ(target.CurrentAddress(), kIbrFlashBase + kEmuDefaultFlashSize);
    Status();
    EXPECT_EQ(Raw(MakeBlockErase(), reply).scsiStatus, kScsiCheckCondition);
}

TEST_F(EmulatedTargetTest, EraseStaysBusyForTheConfiguredPollsOrTime)
{
    EnterFlashMode();
    TimingModel timing;
    timing.erasePolls = 3;
    target.SetTiming(timing);
    ASSERT_TRUE(SetAddress(kIbrFlashBase));
    ASSERT_TRUE(Erase());
    for (int poll = 0; poll < 3; ++poll) EXPECT_EQ(Status(), kEmuEraseBusyStatus);
    EXPECT_EQ(Status(), 0);

    timing.eraseBlockMs = 150; // time now decides, however often the host polls
    target.SetTiming(timing);
    ASSERT_TRUE(Erase());
    for (int i = 0; i < 10; ++i) EXPECT_EQ(Status(), kEmuEraseBusyStatus);
    clock.Advance(149);
    EXPECT_EQ(Status(), kEmuEraseBusyStatus);
    clock.Advance(1);
    EXPECT_EQ(Status(), 0);
}

TEST_F(EmulatedTargetTest, WriteOrEraseWhileBusyIsLostButTheAddressStillAdvances)
{
    EnterFlashMode();
    TimingModel timing;
    timing.erasePolls = 2;
    target.SetTiming(timing);
    target.LoadFlash(kBlock, std::vector<uint8_t>(2 * kBlock, 0xAA));
    ASSERT_TRUE(SetAddress(kIbrFlashBase));
    ASSERT_TRUE(Erase());

    ASSERT_TRUE(Write(std::vector<uint8_t>(256, 0x00)));
    EXPECT_EQ(target.CurrentAddress(), kIbrFlashBase + kBlock + 256);
    ASSERT_TRUE(Erase());
    EXPECT_EQ(target.CurrentAddress(), kIbrFlashBase + 2 * kBlock);
    EXPECT_EQ(FlashAt(kBlock, 2 * kBlock), std::vector<uint8_t>(2 * kBlock, 0xAA));

    // The lost erase did not restart the busy time.
    EXPECT_EQ(Status(), kEmuEraseBusyStatus);
    EXPECT_EQ(Status(), kEmuEraseBusyStatus);
    EXPECT_EQ(Status(), 0);
    ASSERT_TRUE(Write(std::vector<uint8_t>(256, 0x00)));
    EXPECT_EQ(FlashAt(2 * kBlock, 256), std::vector<uint8_t>(256, 0x00));

    // SRAM is not behind the busy flash chip.
    ASSERT_TRUE(Erase());
    ASSERT_TRUE(SetAddress(0));
    ASSERT_TRUE(Write(Pattern(256, 3)));
    EXPECT_EQ(SramAt(0, 256), Pattern(256, 3));
}

TEST_F(EmulatedTargetTest, BootRomRefusesFlashProgrammingWithACompletedCheckCondition)
{
    const std::vector<uint8_t> before = target.Flash();
    std::vector<uint8_t> data(256, 0x00);
    ASSERT_TRUE(SetAddress(kIbrFlashBase + kEmuIdBlockOffset));

    RawAnswer write = Raw(MakeWrite(256), data.data());
    EXPECT_TRUE(write.result.completed);
    EXPECT_EQ(write.scsiStatus, kScsiCheckCondition);
    EXPECT_EQ(write.senseKey, kSenseIllegalRequest);
    RawAnswer erase = Raw(MakeBlockErase(), reply);
    EXPECT_TRUE(erase.result.completed);
    EXPECT_EQ(erase.scsiStatus, kScsiCheckCondition);
    EXPECT_TRUE(Erase()); // the link reports only the transport
    EXPECT_EQ(target.Flash(), before);
    EXPECT_EQ(target.CurrentAddress(), kIbrFlashBase + kEmuIdBlockOffset);

    ASSERT_TRUE(SetAddress(0)); // SRAM downloads work in the boot ROM
    EXPECT_EQ(Raw(MakeWrite(256), data.data()).scsiStatus, kScsiGood);
}

TEST_F(EmulatedTargetTest, OutOfRangeRequestsAreRefusedAndChangeNothing)
{
    EnterFlashMode();
    const std::vector<uint8_t> flashBefore = target.Flash();
    std::vector<uint8_t> buffer(4096, 0x11);

    ASSERT_TRUE(SetAddress(kIbrFlashBase + kEmuDefaultFlashSize - 100));
    RawAnswer read = Raw(MakeRead(200), buffer.data());
    EXPECT_EQ(read.scsiStatus, kScsiCheckCondition);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 200), std::vector<uint8_t>(200, 0xFF));
    EXPECT_EQ(buffer[200], 0x11);
    EXPECT_EQ(target.CurrentAddress(), kIbrFlashBase + kEmuDefaultFlashSize - 100);
    EXPECT_EQ(Raw(MakeWrite(256), buffer.data()).scsiStatus, kScsiCheckCondition);

    ASSERT_TRUE(SetAddress(kEmuSramSize - 100));
    EXPECT_EQ(Raw(MakeWrite(256), buffer.data()).scsiStatus, kScsiCheckCondition);
    EXPECT_EQ(Raw(MakeRead(256), buffer.data()).scsiStatus, kScsiCheckCondition);
    EXPECT_EQ(target.Sram(), std::vector<uint8_t>(kEmuSramSize, 0x00));
    EXPECT_EQ(Raw(MakeBlockErase(), reply).scsiStatus, kScsiCheckCondition); // SRAM does not erase

    ASSERT_TRUE(SetAddress(0x20000000)); // neither memory
    EXPECT_EQ(Raw(MakeRead(16), buffer.data()).scsiStatus, kScsiCheckCondition);
    EXPECT_EQ(target.CurrentAddress(), 0x20000000u);
    EXPECT_EQ(target.Flash(), flashBefore);
}

TEST_F(EmulatedTargetTest, MalformedRequestsCompleteWithACheckConditionAndLeaveTheBuffer)
{
    EnterFlashMode();
    auto changed = [](IbrCommand command, auto change) {
        change(command);
        return command;
    };
    const std::vector<std::pair<const char*, IbrCommand>> cases = {
        {"unknown opcode", changed(MakePing(), [](IbrCommand& c) { c.cdb[0] = 0x12; })},
        {"unknown sub-code", changed(MakePing(), [](IbrCommand& c) { c.cdb[1] = 0x00; })},
        {"read length mismatch", changed(MakeRead(64), [](IbrCommand& c) { c.transferLength = 65; })},
        {"write inward", changed(MakeWrite(64), [](IbrCommand& c) { c.dataIn = kIbrDataIn; })},
        {"read outward", changed(MakeRead(64), [](IbrCommand& c) { c.dataIn = kIbrDataOut; })},
        {"oversized read", MakeRead(kEmuMaxTransferLength + 1)},
        {"oversized write", changed(MakeWrite(0), [](IbrCommand& c) { c.transferLength = 0x7FFFFFFF; })},
        {"erase without 01", changed(MakeBlockErase(), [](IbrCommand& c) { c.cdb[2] = 0; })},
    };
    ASSERT_TRUE(SetAddress(kIbrFlashBase));
    const std::vector<uint8_t> flashBefore = target.Flash();
    std::vector<uint8_t> buffer(kEmuMaxTransferLength + 1, 0x5A);
    for (const auto& [name, command] : cases) {
        SCOPED_TRACE(name);
        RawAnswer answer = Raw(command, buffer.data());
        EXPECT_TRUE(answer.result.completed);
        EXPECT_EQ(answer.scsiStatus, kScsiCheckCondition);
        EXPECT_EQ(answer.senseKey, kSenseIllegalRequest);
        EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0x5A), static_cast<long>(buffer.size()));
    }
    EXPECT_EQ(target.CurrentAddress(), kIbrFlashBase);
    EXPECT_EQ(target.Flash(), flashBefore);

    // No memory behind a non-empty transfer: the system refuses it.
    RawAnswer noBuffer = Raw(MakeRead(16), nullptr);
    EXPECT_FALSE(noBuffer.result.completed);
    EXPECT_EQ(noBuffer.result.systemError, kEmuErrorInvalidParameter);
}

TEST_F(EmulatedTargetTest, ExecutingTheFlashLoaderReturnsAsANewVolumeInFlashMode)
{
    std::vector<BusEvent> heard;
    bool presentInsideListener = true;
    target.SetBusListener([&](const BusEvent& event) {
        heard.push_back(event);
        presentInsideListener = target.Present(); // would deadlock if called under the lock
    });
    LoadSram(MakeDemoFlashLoader());
    ASSERT_TRUE(link.CMD_IbrExecute(handle, reply));

    EXPECT_FALSE(target.Present());
    EXPECT_EQ(target.Open(), nullptr);
    RawAnswer stale = Raw(MakePing(), reply);
    EXPECT_FALSE(stale.result.completed);
    EXPECT_EQ(stale.result.systemError, kEmuErrorNotConnected);
    EXPECT_EQ(target.ErrorText(stale.result.systemError), "The device is not connected.");
    clock.Advance(1499);
    EXPECT_FALSE(target.Present());

    clock.Advance(1);
    EXPECT_EQ(target.Generation(), 2u);
    EXPECT_FALSE(Ping(handle)); // the old handle stays stale
    DeviceHandle fresh = target.Open();
    ASSERT_NE(fresh, nullptr);
    EXPECT_NE(fresh, handle);
    handle = fresh;
    EXPECT_EQ(State(), kFlashLoaderState);

    const std::vector<BusEvent> events = target.TakeBusEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, BusEvent::Removal);
    EXPECT_EQ(events[0].generation, 1u);
    EXPECT_EQ(events[1].kind, BusEvent::Arrival);
    EXPECT_EQ(events[1].generation, 2u);
    EXPECT_TRUE(target.TakeBusEvents().empty());
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[1].kind, BusEvent::Arrival);
    EXPECT_TRUE(presentInsideListener);

    // Code without the marker restarts the plain boot ROM.
    LoadSram(Pattern(1000, 42));
    ASSERT_TRUE(link.CMD_IbrExecute(handle, reply));
    clock.Advance(1500);
    handle = target.Open();
    EXPECT_EQ(State(), kBootRomState);
    EXPECT_EQ(target.Generation(), 3u);
}

TEST_F(EmulatedTargetTest, UnplugAndPlugPowerCycleTheTarget)
{
    EnterFlashMode();
    target.LoadFlash(0, {1, 2, 3});
    LoadSram(MakeDemoFlashLoader());
    target.Unplug();
    EXPECT_FALSE(target.Present());
    EXPECT_FALSE(Ping(handle));
    target.Plug();
    EXPECT_TRUE(target.Present());
    EXPECT_EQ(target.Generation(), 2u);
    EXPECT_FALSE(Ping(handle));
    EXPECT_EQ(target.BootState(), kBootRomState);
    EXPECT_EQ(target.Sram(), std::vector<uint8_t>(kEmuSramSize, 0x00));
    EXPECT_EQ(FlashAt(0, 3), (std::vector<uint8_t>{1, 2, 3}));

    // Unplugged while re-enumerating: the pending return is cancelled.
    handle = target.Open();
    LoadSram(MakeDemoFlashLoader());
    ASSERT_TRUE(link.CMD_IbrExecute(handle, reply));
    target.Unplug();
    clock.Advance(10000);
    EXPECT_FALSE(target.Present());
    const std::vector<BusEvent> events = target.TakeBusEvents();
    ASSERT_EQ(events.size(), 3u); // removal, arrival (plug), removal (execute)
    EXPECT_EQ(events[2].kind, BusEvent::Removal);
}

TEST_F(EmulatedTargetTest, FailedCommandNumbersCountEveryCommandAndMatchTheTrace)
{
    FaultPlan faults;
    faults.failCommand = 3;
    faults.failSubCode = kIbrSubRead;
    faults.failSubCodeNth = 2;
    target.SetFaults(faults);
    ASSERT_TRUE(SetAddress(0));                       // 1
    ASSERT_TRUE(Ping(handle));                        // 2
    EXPECT_FALSE(Write(Pattern(256, 1)));             // 3: fails, does nothing
    EXPECT_EQ(target.CurrentAddress(), 0u);
    EXPECT_EQ(target.Sram()[1], 0x00);
    std::vector<uint8_t> buffer(16);
    EXPECT_TRUE(link.CMD_IbrRead(handle, buffer.data(), 16));  // 4: first read
    EXPECT_TRUE(Ping(handle));                                 // 5
    EXPECT_FALSE(link.CMD_IbrRead(handle, buffer.data(), 16)); // 6: second read
    EXPECT_TRUE(link.CMD_IbrRead(handle, buffer.data(), 16));  // 7

    const std::vector<std::string> trace = target.Trace();
    ASSERT_EQ(trace.size(), 7u);
    for (size_t i = 0; i < trace.size(); ++i) {
        const bool failed = i == 2 || i == 5;
        EXPECT_EQ(trace[i].ends_with(" fail"), failed) << trace[i];
    }

    target.Faults().failSubCode = kIbrSubPing;
    target.Faults().failSubCodeEvery = true;
    EXPECT_FALSE(Ping(handle));
    EXPECT_FALSE(Ping(handle));
    EXPECT_TRUE(link.CMD_IbrRead(handle, buffer.data(), 16));
}

TEST_F(EmulatedTargetTest, LeavingTheBusForGoodOrForAWhile)
{
    FaultPlan faults;
    faults.leaveBeforeCommand = 2;
    target.SetFaults(faults);
    EnterFlashMode();
    EXPECT_TRUE(Ping(handle));
    EXPECT_FALSE(Ping(handle));
    EXPECT_FALSE(target.Present());
    clock.Advance(100000);
    EXPECT_FALSE(target.Present());

    target.Plug();
    handle = target.Open();
    faults.leaveBeforeCommand = target.CommandCount() + 1;
    faults.leaveForever = false;
    target.SetFaults(faults);
    EnterFlashMode();
    EXPECT_FALSE(Ping(handle));
    clock.Advance(1500);
    EXPECT_TRUE(target.Present());
    EXPECT_EQ(target.Generation(), 3u);
    EXPECT_EQ(target.BootState(), kBootRomState); // came back restarted

    handle = target.Open();
    target.Faults().neverReturnAfterExecute = true;
    LoadSram(MakeDemoFlashLoader());
    ASSERT_TRUE(link.CMD_IbrExecute(handle, reply));
    clock.Advance(100000);
    EXPECT_FALSE(target.Present());
}

TEST_F(EmulatedTargetTest, AnEraseThatNeverFinishesStaysBusyWhateverTheTime)
{
    EnterFlashMode();
    FaultPlan faults;
    faults.eraseNeverFinishesAt = 4;
    target.SetFaults(faults);
    ASSERT_TRUE(SetAddress(kIbrFlashBase)); // 1
    ASSERT_TRUE(Erase());                   // 2
    EXPECT_EQ(Status(), kEmuEraseBusyStatus);
    ASSERT_TRUE(Erase());                   // 4
    for (int i = 0; i < 100; ++i) ASSERT_EQ(Status(), kEmuEraseBusyStatus);
    clock.Advance(3600 * 1000);
    EXPECT_EQ(Status(), kEmuEraseBusyStatus);

    target.Unplug();
    target.Plug();
    handle = target.Open();
    EnterFlashMode();
    faults.everyEraseNeverFinishes = true;
    target.SetFaults(faults);
    ASSERT_TRUE(SetAddress(kIbrFlashBase));
    ASSERT_TRUE(Erase());
    clock.Advance(3600 * 1000);
    EXPECT_EQ(Status(), kEmuEraseBusyStatus);
}

TEST_F(EmulatedTargetTest, ReplyFaultsFlipAByteOrReplaceTheStart)
{
    target.LoadFlash(0, Pattern(64, 0));
    FaultPlan faults;
    faults.flipReadAt = 2;
    faults.flipOffset = 10;
    faults.replySubCode = kIbrSubGetChipId;
    faults.replyBytes = {0x11, 0x22};
    target.SetFaults(faults);
    ASSERT_TRUE(SetAddress(kIbrFlashBase)); // 1
    std::vector<uint8_t> expected = Pattern(64, 0);
    expected[10] ^= 0xFF;
    EXPECT_EQ(Read(64), expected);          // 2
    EXPECT_EQ(Read(0), std::vector<uint8_t>{}); // 3: an empty reply has nothing to flip
    EXPECT_EQ(FlashAt(0, 64), Pattern(64, 0)); // the flash itself is intact

    ASSERT_TRUE(link.CMD_IbrGetChipID(handle, reply));
    EXPECT_EQ(reply[0], 0x11);
    EXPECT_EQ(reply[1], 0x22);

    // An offset past the reply lands on its last byte.
    target.Faults().flipReadAt = target.CommandCount() + 2;
    target.Faults().flipOffset = 1000;
    ASSERT_TRUE(SetAddress(kIbrFlashBase));
    expected = Pattern(8, 0);
    expected[7] ^= 0xFF;
    EXPECT_EQ(Read(8), expected);

    // A chosen reply changes the answer, not the target: flash mode is still refused.
    target.Faults().replySubCode = kIbrSubGetState;
    target.Faults().replyBytes = {kFlashLoaderState};
    EXPECT_EQ(State(), kFlashLoaderState);
    ASSERT_TRUE(SetAddress(kIbrFlashBase));
    std::vector<uint8_t> data(256, 0);
    EXPECT_EQ(Raw(MakeWrite(256), data.data()).scsiStatus, kScsiCheckCondition);
}

TEST_F(EmulatedTargetTest, StatusAfterAWriteSequenceIsZeroOrTheChosenValue)
{
    EnterFlashMode();
    ASSERT_TRUE(SetAddress(kIbrFlashBase));
    ASSERT_TRUE(Write(Pattern(256, 1)));
    EXPECT_EQ(Status(), 0);

    target.Faults().finalStatus = 2;
    EXPECT_EQ(Status(), 2);
    EXPECT_EQ(Status(), 2); // the status holds until the next operation
    ASSERT_TRUE(SetAddress(kIbrFlashBase));
    ASSERT_TRUE(Erase());
    EXPECT_EQ(Status(), kEmuEraseBusyStatus);
    EXPECT_EQ(Status(), 0); // an erase is not a write sequence
}

TEST_F(EmulatedTargetTest, TraceHasOneLinePerCommandInTheWireFormat)
{
    std::vector<std::string> heard;
    target.SetTraceListener([&](const std::string& line) { heard.push_back(line); });
    ASSERT_TRUE(SetAddress(0));
    ASSERT_TRUE(Write(std::vector<uint8_t>(4660, 0)));
    ASSERT_TRUE(SetAddress(kIbrFlashBase));
    Read(65536);
    target.Unplug();
    EXPECT_FALSE(Ping(handle));

    const std::vector<std::string> expected = {
        "06 55 00 00 00 00 00 00 00 00 in 3583 5 ok",
        "06 72 34 12 00 00 00 00 00 00 out 4660 30 ok",
        "06 55 00 00 00 40 00 00 00 00 in 3583 5 ok",
        "06 71 00 00 01 00 00 00 00 00 in 65536 2 ok",
        "06 51 01 00 00 00 00 00 00 00 in 8 1 fail",
    };
    EXPECT_EQ(target.Trace(), expected);
    EXPECT_EQ(heard, expected);
    EXPECT_EQ(target.CommandCount(), 5u);
    target.ClearTrace();
    EXPECT_TRUE(target.Trace().empty());
    EXPECT_EQ(target.CommandCount(), 5u);
}

TEST_F(EmulatedTargetTest, TimingModelSleepsOnTheInjectedClockWithoutLosingFractions)
{
    Ping(handle);
    EXPECT_EQ(clock.SleepCount(), 0u); // the default model takes no time

    TimingModel timing;
    timing.commandLatencyUs = 300;
    target.SetTiming(timing);
    for (int i = 0; i < 10; ++i) Ping(handle);
    EXPECT_EQ(clock.TotalSleptMs(), 3u);

    // 16 KiB to flash on the realistic device: 1 ms + 16384 B at 35 MB/s + 64 pages of 0.7 ms.
    EnterFlashMode();
    target.SetTiming(TimingModel::Realistic());
    ASSERT_TRUE(SetAddress(kIbrFlashBase));
    const uint64_t before = clock.TotalSleptMs();
    const std::vector<uint8_t> chunk(16384, 0x00);
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(Write(chunk));
    EXPECT_EQ(clock.TotalSleptMs() - before, 4626u); // 100 x 46.268 ms, not 100 x 46

    // An erase is busy for its block time; the host's 50 ms polls see it end.
    const uint64_t eraseStart = clock.NowMs();
    ASSERT_TRUE(Erase());
    while (Status() != 0) clock.Sleep(50);
    EXPECT_GE(clock.NowMs() - eraseStart, 150u);
    EXPECT_LT(clock.NowMs() - eraseStart, 210u);
}
