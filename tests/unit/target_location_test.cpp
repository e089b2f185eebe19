// Finding targets from sysfs attributes: identifiers, port paths, LUNs, order, --device.
#include <gtest/gtest.h>

#include "platform/linux/target_location.h"

namespace {

TargetLocation At(const std::string& port, unsigned lun, const std::string& node)
{
    TargetLocation t;
    t.portPath = port;
    t.lun = lun;
    t.sgNode = node;
    return t;
}

TEST(UsbIdAttribute, FourHexDigitsInEitherCase)
{
    EXPECT_EQ(ParseUsbIdAttribute("0416\n"), 0x0416);
    EXPECT_EQ(ParseUsbIdAttribute(" b190 "), 0xB190);
    EXPECT_EQ(ParseUsbIdAttribute("B190"), 0xB190);
    for (const char* bad : {"", "416", "04160", "0x16", "b19g", "-416", "04 6"})
        EXPECT_FALSE(ParseUsbIdAttribute(bad).has_value()) << bad;
    EXPECT_TRUE(IsTargetUsbDevice("0416\n", "b190\n"));
    EXPECT_TRUE(IsTargetUsbDevice("0416", "B190"));
    EXPECT_FALSE(IsTargetUsbDevice("0416", "b191"));
    EXPECT_FALSE(IsTargetUsbDevice("0781", "b190"));
    EXPECT_FALSE(IsTargetUsbDevice("", ""));
}

TEST(PortPath, BusAndPortsOnly)
{
    EXPECT_EQ(ParsePortPath("1-1.4"), (std::vector<unsigned>{1, 1, 4}));
    EXPECT_EQ(ParsePortPath("2-3"), (std::vector<unsigned>{2, 3}));
    for (const char* bad : {"usb1", "1-1:1.0", "1-", "-1", "1-1..2", "a-1", "1-1.x", ""})
        EXPECT_FALSE(ParsePortPath(bad).has_value()) << bad;
}

TEST(ScsiLun, FourNumbersSeparatedByColons)
{
    EXPECT_EQ(ParseScsiLun("6:0:0:0"), 0u);
    EXPECT_EQ(ParseScsiLun("6:0:0:1"), 1u);
    for (const char* bad : {"6:0:0", "6:0:0:1:2", "host6", "6:0:x:1", "6:0:0:"}) EXPECT_FALSE(ParseScsiLun(bad).has_value()) << bad;
}

TEST(TargetOrder, ByPortNumericallyThenLun)
{
    std::vector<TargetLocation> targets = {At("2-1", 0, "/dev/sg1"), At("1-1.10", 0, "/dev/sg2"), At("1-1.9", 1, "/dev/sg5"),
                                           At("1-1.9", 0, "/dev/sg7"), At("weird", 0, "/dev/sg0")};
    SortTargets(targets);
    std::vector<std::string> nodes;
    for (const auto& t : targets) nodes.push_back(t.sgNode);
    EXPECT_EQ(nodes, (std::vector<std::string>{"/dev/sg7", "/dev/sg5", "/dev/sg2", "/dev/sg1", "/dev/sg0"}));
}

TEST(DeviceSelectorTest, PortPathOrNode)
{
    auto byPort = DeviceSelector::Parse("1-1.4");
    ASSERT_TRUE(byPort);
    EXPECT_FALSE(byPort->ByNode());
    EXPECT_TRUE(byPort->Matches(At("1-1.4", 0, "/dev/sg3")));
    EXPECT_FALSE(byPort->Matches(At("1-1.5", 0, "/dev/sg3")));

    for (const char* node : {"/dev/sg2", "sg2"}) {
        auto byNode = DeviceSelector::Parse(node);
        ASSERT_TRUE(byNode) << node;
        EXPECT_EQ(byNode->Text(), "/dev/sg2");
    }
    for (const char* bad : {"", "sda", "/dev/sda", "sg", "sgx", "/dev/sg2/..", "1-"}) EXPECT_FALSE(DeviceSelector::Parse(bad)) << bad;
    EXPECT_TRUE(DeviceSelector().Matches(At("9-9", 3, "/dev/sg9")));
}

} // namespace
