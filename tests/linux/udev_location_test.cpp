// Finding targets through libudev on a scripted device tree (umockdev), and
// hotplug events from it.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "device/diagnostics.h"
#include "device/volume_discovery.h"
#include "framework/messages.h"
#include "platform/linux/udev_device_tree.h"
#include "platform/linux/udev_hotplug_monitor.h"
#include "platform/linux/udev_target_scan.h"
#include "tests/linux/udev_testbed.h"

namespace {

std::vector<TargetLocation> Scan()
{
    std::vector<TargetLocation> targets;
    std::string error;
    EXPECT_TRUE(ScanUdevTargets(targets, error)) << error;
    return targets;
}

std::vector<std::string> Nodes(const std::vector<TargetLocation>& targets)
{
    std::vector<std::string> nodes;
    for (const TargetLocation& t : targets) nodes.push_back(t.sgNode);
    return nodes;
}

class UdevLocation : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(umockdev_in_mock_environment()) << "run this program under umockdev-wrapper";
        SilenceDiagnostics();
    }
    void TearDown() override { ResetDiagnosticSinks(); }
    UdevTestbed bed;
};

TEST_F(UdevLocation, NoTargetOnAnEmptyMachine)
{
    EXPECT_TRUE(Scan().empty());
}

TEST_F(UdevLocation, OneTargetWithItsPortLunAndNode)
{
    const UdevTestbed::Added added = bed.AddStorage("1-1.4", "0416", "b190", 6, 2);
    const std::vector<TargetLocation> targets = Scan();
    ASSERT_EQ(targets.size(), 1u);
    EXPECT_EQ(targets[0].portPath, "1-1.4");
    EXPECT_EQ(targets[0].lun, 0u);
    EXPECT_EQ(targets[0].sgNode, "/dev/sg2");
    EXPECT_EQ(targets[0].usbSysPath, added.usb);
}

TEST_F(UdevLocation, TwoTargetsInPortOrderWhateverTheirNodes)
{
    bed.AddStorage("1-1.10", "0416", "B190", 7, 1); // upper case from a hand-written rule or a quirk
    bed.AddStorage("1-1.9", "0416", "b190", 6, 5);
    bed.AddLun(6, 1, 3);
    const std::vector<TargetLocation> targets = Scan();
    EXPECT_EQ(Nodes(targets), (std::vector<std::string>{"/dev/sg5", "/dev/sg3", "/dev/sg1"}));
    ASSERT_EQ(targets.size(), 3u);
    EXPECT_EQ(targets[1].lun, 1u);
}

TEST_F(UdevLocation, OtherDevicesAreIgnored)
{
    bed.AddStorage("1-2", "0416", "b191", 6, 0); // same maker, another product
    bed.AddStorage("1-3", "0781", "b190", 7, 1); // another maker
    bed.AddStorage("1-4", "0416", "b190", 8, 2);
    EXPECT_EQ(Nodes(Scan()), (std::vector<std::string>{"/dev/sg2"}));
}

TEST_F(UdevLocation, DiscoveryOpensTheChosenTargetsNode)
{
    bed.AddStorage("2-1", "0416", "b190", 6, 4);
    bed.AddStorage("2-2", "0416", "b190", 7, 6);
    UdevTreeBackend backend = UdevTreeBackend::System();
    std::vector<std::string> opened;
    backend.open = [&](const std::string& node, int&, std::string&) -> DeviceHandle {
        opened.push_back(node);
        return reinterpret_cast<DeviceHandle>(0x10 + opened.size());
    };
    backend.close = [](DeviceHandle) {};
    UdevDeviceTree tree(*DeviceSelector::Parse("2-2"), backend);
    {
        std::lock_guard<std::mutex> lock(DiscoveryMutex());
        g_driveLetters.clear();
        EnumerateRemovableVolumes(tree, "USB\\VID_0416&PID_B190");
        EXPECT_EQ(std::string(g_driveLetters.begin(), g_driveLetters.end()), "D");
    }
    DeviceHandle handle = nullptr;
    std::string error;
    ASSERT_TRUE(tree.OpenVolume("\\\\.\\D:", handle, error)) << error;
    EXPECT_EQ(opened, (std::vector<std::string>{"/dev/sg6"}));
}

// Collects the events the monitor delivers.
class Heard {
public:
    void Add(uintptr_t event)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(event);
        cv_.notify_all();
    }
    // Waits (bounded) until count events arrived.
    std::vector<uintptr_t> WaitFor(size_t count)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait_for(lock, std::chrono::seconds(5), [&] { return events_.size() >= count; });
        return events_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<uintptr_t> events_;
};

TEST_F(UdevLocation, HotplugReportsTheTargetArrivingAndLeaving)
{
    const UdevTestbed::Added present = bed.AddStorage("1-1", "0416", "b190", 6, 0);
    Heard heard;
    UdevHotplugMonitor monitor;
    std::string error;
    ASSERT_TRUE(monitor.Start([&](uintptr_t e) { heard.Add(e); }, error)) << error;

    // Adding a device to the testbed sends its "add" events.
    bed.AddStorage("1-2", "0781", "5567", 7, 1); // another maker's stick: no event
    const UdevTestbed::Added arriving = bed.AddStorage("1-3", "0416", "b190", 8, 2);
    bed.Uevent(present.sg, "remove"); // present before the monitor started: known all the same
    bed.Uevent(arriving.sg, "remove");
    EXPECT_EQ(heard.WaitFor(3), (std::vector<uintptr_t>{DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE, DBT_DEVICEREMOVECOMPLETE}));
    monitor.Stop();
}

} // namespace
