// --emulate: the flash file between runs, the fault options, the wire trace.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "device/diagnostics.h"
#include "device/ibr_commands.h"
#include "emulator/emulated_target.h"
#include "programs/vane_upgrade/emulation.h"
#include "programs/vane_upgrade/tracing_pass_through.h"

namespace fs = std::filesystem;

namespace {

class FlashFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("vane-flash-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        path_ = (dir_ / "flash.bin").string();
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::vector<uint8_t> Contents()
    {
        std::ifstream in(path_, std::ios::binary | std::ios::ate);
        std::vector<uint8_t> bytes(static_cast<size_t>(in.tellg()));
        in.seekg(0);
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return bytes;
    }
    VirtualClock clock_;
    fs::path dir_;
    std::string path_;
};

TEST_F(FlashFile, MissingFileIsCreatedAsAFreshDevice)
{
    EmulatedTarget target(clock_);
    std::string error;
    ASSERT_TRUE(LoadFlashFile(path_, target, error)) << error;
    const std::vector<uint8_t> file = Contents();
    ASSERT_EQ(file.size(), kEmuDefaultFlashSize);
    EXPECT_EQ(file, target.Flash());
    EXPECT_EQ(file[0], 0xFF);
    const std::string identity(reinterpret_cast<const char*>(&file[kEmuIdBlockOffset + 16]), std::strlen(kEmuDefaultIdentity));
    EXPECT_EQ(identity, kEmuDefaultIdentity);
}

TEST_F(FlashFile, ContentsSurviveBetweenRuns)
{
    {
        EmulatedTarget first(clock_);
        std::string error;
        ASSERT_TRUE(LoadFlashFile(path_, first, error));
        first.LoadFlash(0, {1, 2, 3});
        ASSERT_TRUE(SaveFlashFile(path_, first, error)) << error;
    }
    EmulatedTarget second(clock_);
    std::string error;
    ASSERT_TRUE(LoadFlashFile(path_, second, error)) << error;
    EXPECT_EQ(second.Flash()[2], 3);
}

TEST_F(FlashFile, WrongSizeIsRefusedAndTheFileLeftAlone)
{
    std::ofstream(path_, std::ios::binary) << std::string(1000, 'A');
    EmulatedTarget target(clock_);
    std::string error;
    EXPECT_FALSE(LoadFlashFile(path_, target, error));
    EXPECT_NE(error.find("1000 bytes"), std::string::npos) << error;
    EXPECT_EQ(Contents(), std::vector<uint8_t>(1000, 'A'));
    EXPECT_FALSE(LoadFlashFile(dir_.string(), target, error)) << "a folder is not a flash file";
}

TEST(FaultOptions, EachKindFillsItsPartOfThePlan)
{
    const FaultPlan plan = MakeFaultPlan({{FaultOption::Kind::Fail, 3}, {FaultOption::Kind::Leave, 5}, {FaultOption::Kind::Flip, 7},
                                          {FaultOption::Kind::Busy, 9}, {FaultOption::Kind::Status, 2}});
    EXPECT_EQ(plan.failCommand, 3u);
    EXPECT_EQ(plan.leaveBeforeCommand, 5u);
    EXPECT_TRUE(plan.leaveForever);
    EXPECT_EQ(plan.flipReadAt, 7u);
    EXPECT_EQ(plan.eraseNeverFinishesAt, 9u);
    EXPECT_EQ(plan.finalStatus, 2);
    const FaultPlan none = MakeFaultPlan({});
    EXPECT_EQ(none.failCommand, 0u);
    EXPECT_EQ(none.finalStatus, -1);
}

TEST(WireTrace, TheTracerWritesWhatTheTargetRecords)
{
    DiagnosticCapture quiet;
    VirtualClock clock;
    EmulatedTarget target(clock);
    FaultPlan faults;
    faults.failCommand = 3;
    target.SetFaults(faults);
    std::vector<std::string> lines;
    TracingPassThrough tracer(target, [&](const std::string& line) { lines.push_back(line); });
    IbrLink link(tracer);
    DeviceHandle device = target.Open();
    uint8_t reply[kIbrLongReplyLength] = {};
    uint8_t data[256] = {};
    EXPECT_TRUE(link.CMD_IbrPing(device, reply));
    EXPECT_TRUE(link.CMD_IbrSetAddress(device, reply, 0x40040000));
    EXPECT_FALSE(link.CMD_IbrRead(device, data, sizeof data));
    EXPECT_TRUE(link.CMD_IbrWrite(device, data, sizeof data));
    EXPECT_EQ(lines, target.Trace());
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], "06 55 00 00 04 40 00 00 00 00 in 3583 5 ok");
    EXPECT_EQ(lines[2], "06 71 00 01 00 00 00 00 00 00 in 256 2 fail");
    EXPECT_EQ(lines[3], "06 72 00 01 00 00 00 00 00 00 out 256 30 ok");
}

} // namespace
