// The Linux device tree: targets found by udev, walked by the dialog's own
// discovery, opened as their sg nodes (the system calls replaced).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "device/diagnostics.h"
#include "device/volume_discovery.h"
#include "framework/messages.h"
#include "platform/linux/access_hint.h"
#include "platform/linux/udev_device_tree.h"
#include "platform/linux/udev_hotplug_monitor.h"

namespace {

TargetLocation At(const std::string& port, unsigned lun, const std::string& node)
{
    TargetLocation t;
    t.portPath = port;
    t.lun = lun;
    t.sgNode = node;
    return t;
}

class FakeSystem {
public:
    UdevTreeBackend Backend()
    {
        UdevTreeBackend b;
        b.scan = [this](std::vector<TargetLocation>& targets, std::string& error) {
            ++scans;
            targets = present;
            SortTargets(targets);
            error = "udev is not available";
            return scanWorks;
        };
        b.open = [this](const std::string& node, int& errorNumber, std::string& errorText) -> DeviceHandle {
            opened.push_back(node);
            auto refusal = refused.find(node);
            if (refusal != refused.end()) {
                errorNumber = refusal->second;
                errorText = std::strerror(errorNumber);
                return nullptr;
            }
            return reinterpret_cast<DeviceHandle>(next++);
        };
        b.close = [this](DeviceHandle h) { closed.push_back(h); };
        return b;
    }
    std::vector<TargetLocation> present;
    bool scanWorks = true;
    int scans = 0;
    std::map<std::string, int> refused;
    std::vector<std::string> opened;
    std::vector<DeviceHandle> closed;
    uintptr_t next = 0x100;
};

// The letters discovery finds, as FindTargetVolume gets them.
std::string Discover(IDeviceTree& tree)
{
    std::lock_guard<std::mutex> lock(DiscoveryMutex());
    g_driveLetters.clear();
    EnumerateRemovableVolumes(tree, "USB\\VID_0416&PID_B190");
    return std::string(g_driveLetters.begin(), g_driveLetters.end());
}

class UdevTree : public ::testing::Test {
protected:
    void SetUp() override { SilenceDiagnostics(); }
    void TearDown() override { ResetDiagnosticSinks(); }
    FakeSystem system;
};

TEST_F(UdevTree, EachTargetIsAVolumeOfItsOwnInStableOrder)
{
    system.present = {At("1-1.10", 0, "/dev/sg4"), At("1-1.9", 0, "/dev/sg7")};
    UdevDeviceTree tree({}, system.Backend());
    EXPECT_EQ(Discover(tree), "DE");
    const std::vector<TargetLocation> targets = tree.Targets();
    ASSERT_EQ(targets.size(), 2u);
    EXPECT_EQ(targets[0].sgNode, "/dev/sg7") << "1-1.9 comes before 1-1.10";

    DeviceHandle handle = nullptr;
    std::string error;
    ASSERT_TRUE(tree.OpenVolume("\\\\.\\D:", handle, error)) << error;
    EXPECT_EQ(tree.NodeOf(handle), "/dev/sg7");
    ASSERT_TRUE(tree.OpenVolume("\\\\.\\e:", handle, error));
    EXPECT_EQ(system.opened, (std::vector<std::string>{"/dev/sg7", "/dev/sg4"}));
    EXPECT_FALSE(tree.OpenVolume("\\\\.\\F:", handle, error));
    EXPECT_EQ(handle, nullptr);
    EXPECT_FALSE(tree.OpenVolume("\\\\.\\C:", handle, error));
    EXPECT_FALSE(tree.OpenVolume("/dev/sg7", handle, error));
    EXPECT_EQ(system.opened.size(), 2u) << "only the target volumes open anything";
}

TEST_F(UdevTree, TheUsbNodeCarriesTheTargetsIdentifiersAndPort)
{
    system.present = {At("3-2", 0, "/dev/sg1"), At("3-2", 1, "/dev/sg2")};
    UdevDeviceTree tree({}, system.Backend());
    EXPECT_EQ(Discover(tree), "DE") << "two LUNs of one device: two volumes";
    DeviceInfoSet all = tree.GetPresentDevices();
    std::vector<std::string> usbIds;
    DeviceInfo info;
    for (uint32_t i = 0; tree.EnumDeviceInfo(all, i, info); ++i) {
        std::string id;
        uint32_t caps = 0;
        if (tree.GetDeviceInstanceId(all, info, id) && tree.GetDeviceCapabilities(all, info, caps) && (caps & kDevCapRemovable))
            usbIds.push_back(id);
    }
    tree.DestroyDeviceInfoList(all);
    EXPECT_EQ(usbIds, (std::vector<std::string>{"USB\\VID_0416&PID_B190\\3-2"}));
}

TEST_F(UdevTree, NoTargetOrNoUdevMeansNoVolume)
{
    UdevDeviceTree tree({}, system.Backend());
    EXPECT_EQ(Discover(tree), "");
    system.scanWorks = false;
    DiagnosticCapture diagnostics;
    EXPECT_EQ(Discover(tree), "");
    EXPECT_TRUE(diagnostics.Contains("udev is not available"));
    EXPECT_EQ(system.scans, 2) << "every enumeration asks udev anew";
}

TEST_F(UdevTree, TheChosenDeviceOnly)
{
    system.present = {At("1-1", 0, "/dev/sg0"), At("1-2", 0, "/dev/sg1")};
    UdevDeviceTree byPort(*DeviceSelector::Parse("1-2"), system.Backend());
    EXPECT_EQ(Discover(byPort), "D");
    ASSERT_EQ(byPort.Targets().size(), 1u);
    EXPECT_EQ(byPort.Targets()[0].sgNode, "/dev/sg1");

    UdevDeviceTree byNode(*DeviceSelector::Parse("sg0"), system.Backend());
    EXPECT_EQ(Discover(byNode), "D");
    // The target re-enumerates at its port with a new node.
    system.present = {At("1-1", 0, "/dev/sg2"), At("1-2", 0, "/dev/sg0")};
    EXPECT_EQ(Discover(byNode), "D");
    EXPECT_EQ(byNode.Targets()[0].sgNode, "/dev/sg2");
}

TEST_F(UdevTree, MissingRightsAreExplainedOncePerNode)
{
    system.present = {At("1-1", 0, "/dev/sg3")};
    system.refused["/dev/sg3"] = EACCES;
    UdevDeviceTree tree({}, system.Backend());
    std::vector<std::string> lines;
    tree.SetAccessProblemListener([&](const std::string& line) { lines.push_back(line); });
    ASSERT_EQ(Discover(tree), "D");
    DeviceHandle handle = nullptr;
    std::string error;
    EXPECT_FALSE(tree.OpenVolume("\\\\.\\D:", handle, error));
    EXPECT_EQ(error, std::strerror(EACCES));
    EXPECT_FALSE(tree.OpenVolume("\\\\.\\D:", handle, error));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], AccessProblemLine("/dev/sg3"));
    EXPECT_NE(lines[0].find("60-vane-upgrade.rules"), std::string::npos);
    EXPECT_NE(lines[0].find("root"), std::string::npos);

    system.refused["/dev/sg3"] = ENODEV; // gone, not forbidden: no advice
    UdevDeviceTree other({}, system.Backend());
    other.SetAccessProblemListener([&](const std::string& line) { lines.push_back(line); });
    Discover(other);
    EXPECT_FALSE(other.OpenVolume("\\\\.\\D:", handle, error));
    EXPECT_EQ(lines.size(), 1u);
}

TEST_F(UdevTree, HandlesAreClosedOnceAndAtTheEnd)
{
    system.present = {At("1-1", 0, "/dev/sg0")};
    std::vector<DeviceHandle> closed;
    {
        UdevDeviceTree tree({}, system.Backend());
        Discover(tree);
        DeviceHandle a = nullptr, b = nullptr;
        std::string error;
        ASSERT_TRUE(tree.OpenVolume("\\\\.\\D:", a, error));
        ASSERT_TRUE(tree.OpenVolume("\\\\.\\D:", b, error));
        tree.CloseVolume(a);
        tree.CloseVolume(a);                                   // twice: once only
        tree.CloseVolume(reinterpret_cast<DeviceHandle>(0x9)); // not ours
        EXPECT_EQ(system.closed, (std::vector<DeviceHandle>{a}));
        closed.push_back(a);
        closed.push_back(b);
    }
    EXPECT_EQ(system.closed, closed) << "the handle still open is closed with the tree";
}

TEST(HotplugFilterTest, ArrivalsOfTargetsAndRemovalsOfKnownNodes)
{
    HotplugFilter filter;
    filter.Known("/sys/devices/x/sg0");
    EXPECT_EQ(filter.OnEvent("add", "/sys/devices/y/sg1", true), DBT_DEVICEARRIVAL);
    EXPECT_FALSE(filter.OnEvent("add", "/sys/devices/z/sg2", false)) << "another device";
    EXPECT_FALSE(filter.OnEvent("change", "/sys/devices/y/sg1", true));
    EXPECT_EQ(filter.OnEvent("remove", "/sys/devices/x/sg0", false), DBT_DEVICEREMOVECOMPLETE);
    EXPECT_EQ(filter.OnEvent("remove", "/sys/devices/y/sg1", false), DBT_DEVICEREMOVECOMPLETE);
    EXPECT_FALSE(filter.OnEvent("remove", "/sys/devices/y/sg1", false)) << "removed once";
    EXPECT_FALSE(filter.OnEvent("remove", "/sys/devices/z/sg2", false));
}

} // namespace
