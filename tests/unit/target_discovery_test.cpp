// Finding the target's volume in the device tree and opening it.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/rodediz_dlg.h"
#include "app/volume_slots.h"
#include "device/diagnostics.h"
#include "device/volume_discovery.h"
#include "dialog_fixture.h"
#include "emulator/emulated_device_tree.h"
#include "emulator/memory_device_tree.h"
#include "platform/headless/headless_window.h"
#include "ports/registry.h"
#include "programs/vane_upgrade/chosen_target_tree.h"

namespace {

const std::string kTargetHardwareId = "USB\\VID_0416&PID_B190";
const std::string kTargetUsbId = "USB\\VID_0416&PID_B190\\VANE0001";
const std::string kOpenRefused = "Access is denied.";

std::string VolumeNameNumbered(int n)
{
    return "\\\\?\\Volume{" + std::to_string(10000000 + n) + "-0000-11ef-8000-806e6f6e6963}\\";
}

// The nodes of one USB mass-storage device as the system shows them.
struct UsbStorage {
    DevNode usb = kNoDevNode;
    DevNode disk = kNoDevNode;
    DevNode volume = kNoDevNode;
    std::string interfacePath;
    std::string volumeName;
};

// A machine's device tree, scripted: a root, the volume manager and one hub.
struct Machine {
    Machine()
    {
        root = tree.AddNode("HTREE\\ROOT\\0");
        volumeManager = tree.AddNode("ROOT\\VOLMGR\\0000", root);
        hub = tree.AddNode("USB\\ROOT_HUB30\\4&2E2A9F3&0&0", root);
    }

    // The removable USB node, its disk child, and a volume node under the
    // volume manager that the disk's removal relations name, at letter.
    UsbStorage AddUsbStorage(const std::string& usbId, char letter)
    {
        const int n = ++devices;
        UsbStorage s;
        s.usb = tree.AddNode(usbId, hub, kDevCapRemovable);
        s.disk = tree.AddNode("USBSTOR\\DISK&VEN_MAKER" + std::to_string(n) + "\\0&" + std::to_string(n), s.usb);
        const std::string volumeId = "STORAGE\\VOLUME\\_??_USBSTOR#DISK&VEN_MAKER" + std::to_string(n);
        s.volume = tree.AddNode(volumeId, volumeManager);
        tree.Node(s.disk).removalRelations = {volumeId};
        s.interfacePath = "\\\\?\\STORAGE#Volume#_??_USBSTOR#Disk&Ven_Maker" + std::to_string(n)
                          + "#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}";
        tree.Node(s.volume).volumeInterfaces = {s.interfacePath};
        s.volumeName = VolumeNameNumbered(n);
        tree.SetVolumeName(s.interfacePath + "\\", s.volumeName);
        if (letter != 0) tree.MountLetter(letter, s.volumeName);
        return s;
    }

    // The same volume mounted at more letters.
    void AlsoMount(const UsbStorage& s, const std::string& letters)
    {
        for (char letter : letters) tree.MountLetter(letter, s.volumeName);
    }

    MemoryDeviceTree tree;
    DevNode root = kNoDevNode;
    DevNode volumeManager = kNoDevNode;
    DevNode hub = kNoDevNode;
    int devices = 0;
};

std::vector<char> Enumerate(Machine& machine)
{
    g_driveLetters.clear();
    EnumerateRemovableVolumes(machine.tree, kTargetHardwareId);
    return g_driveLetters;
}

std::vector<char> Letters(const std::string& letters) { return {letters.begin(), letters.end()}; }

// The main dialog on a scripted machine, its window attached but not opened
// (so no monitor run starts on its own).
class DiscoveryDialog {
public:
    DiscoveryDialog() : services{clock, passThrough, machine.tree, registry, PlatformFileSystem()}, dlg(services),
                        window(dlg, clock, &clock)
    {
        dlg.Attach(&window);
    }
    ~DiscoveryDialog() { dlg.Detach(); }

    bool Find() { return dlg.FindTargetVolume("B190"); }

    VirtualClock clock;
    NullPassThrough passThrough;
    Machine machine;
    MemoryRegistry registry;
    DialogServices services;
    CRODEdizDlg dlg;
    HeadlessWindow window;
};

bool AllSlotsNull(const CRODEdizDlg& dlg)
{
    for (DeviceHandle h : dlg.m_hVolume)
        if (h != nullptr) return false;
    return true;
}

std::string HandleLine(DeviceHandle h)
{
    char line[32];
    std::snprintf(line, sizeof line, "Handle=0x%x\n", static_cast<unsigned>(reinterpret_cast<uintptr_t>(h)));
    return line;
}

} // namespace

// ---------------------------------------------------------------- the match flag

TEST(HardwareIdMatch, FollowsTheLastUsbDeviceNodeOnly)
{
    g_bHardwareIdMatch = false;
    UpdateHardwareIdMatch("usb\\vid_0416&pid_b190\\vane0001", kTargetHardwareId);
    EXPECT_TRUE(g_bHardwareIdMatch) << "any case matches";
    UpdateHardwareIdMatch("USBSTOR\\DISK&VEN_VANE\\0", kTargetHardwareId);
    EXPECT_TRUE(g_bHardwareIdMatch) << "a node of another kind leaves the flag alone";
    UpdateHardwareIdMatch("USB\\VID_0416&PID_B191\\X", kTargetHardwareId);
    EXPECT_FALSE(g_bHardwareIdMatch) << "another product clears it";
    UpdateHardwareIdMatch("STORAGE\\VOLUME\\X", kTargetHardwareId);
    EXPECT_FALSE(g_bHardwareIdMatch);
    UpdateHardwareIdMatch("USB\\VID_0416&PID_B190", kTargetHardwareId);
    EXPECT_TRUE(g_bHardwareIdMatch) << "the prefix alone is the whole 21 characters";
    UpdateHardwareIdMatch("USB\\VID_0416&PID_B19", kTargetHardwareId);
    EXPECT_FALSE(g_bHardwareIdMatch) << "a shorter ID is not the prefix";
}

TEST(MultiString, StopsAtTheEmptyTextAndNeverReadsPastTheBuffer)
{
    auto chars = [](const std::string& s) { return std::vector<char>(s.begin(), s.end()); };
    EXPECT_EQ(SplitMultiString(chars(std::string("AB\0C\0\0ignored\0", 14))), (std::vector<std::string>{"AB", "C"}));
    EXPECT_EQ(SplitMultiString(chars(std::string("AB\0CD", 5))), (std::vector<std::string>{"AB"}));
    EXPECT_TRUE(SplitMultiString({}).empty());
    EXPECT_TRUE(SplitMultiString(std::vector<char>(1, 0)).empty());
}

// ---------------------------------------------------------------- enumeration

TEST(RemovableVolumes, OneTargetVolumeAtE)
{
    Machine m;
    m.AddUsbStorage(kTargetUsbId, 'E');
    m.tree.MountLetter('C', VolumeNameNumbered(99));
    DiagnosticCapture lines;
    EXPECT_EQ(Enumerate(m), Letters("E"));
    EXPECT_EQ(lines.Count("Instance id " + kTargetUsbId + "\n\n"), 1u);
    EXPECT_EQ(lines.Count("Device Descriptor Device - Drive (E:)\n"), 1u);
    EXPECT_EQ(m.tree.LiveSets(), 0) << "both sets destroyed";
    EXPECT_EQ(m.tree.LiveLookups(), 0) << "the library released after each node";
    EXPECT_EQ(g_hRemovableSet, nullptr);
}

TEST(RemovableVolumes, LowerCaseInstanceIdMatches)
{
    Machine m;
    m.AddUsbStorage("usb\\vid_0416&pid_b190\\vane0001", 'E');
    EXPECT_EQ(Enumerate(m), Letters("E"));
}

TEST(RemovableVolumes, AnotherProductClearsTheMatchForItsVolumes)
{
    Machine m;
    m.AddUsbStorage(kTargetUsbId, 'E');
    m.AddUsbStorage("USB\\VID_0416&PID_B191\\OTHER", 'F');
    EXPECT_EQ(Enumerate(m), Letters("E"));

    Machine reversed;
    reversed.AddUsbStorage("USB\\VID_0416&PID_B191\\OTHER", 'F');
    reversed.AddUsbStorage(kTargetUsbId, 'E');
    EXPECT_EQ(Enumerate(reversed), Letters("E"));
}

TEST(RemovableVolumes, DeviceWithoutUsbNodeIsTakenOnlyWhileTheFlagHolds)
{
    // A removable card reader seen as a SCSI disk: no "USB\VID" node in its tree.
    auto addReader = [](Machine& m, char letter) {
        const DevNode reader = m.tree.AddNode("SCSI\\DISK&VEN_CARD&PROD_READER\\1&0", m.root, kDevCapRemovable);
        const DevNode volume = m.tree.AddNode("STORAGE\\VOLUME\\CARD", reader);
        const std::string path = "\\\\?\\STORAGE#Volume#CARD#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}";
        m.tree.Node(volume).volumeInterfaces = {path};
        m.tree.SetVolumeName(path + "\\", VolumeNameNumbered(50));
        m.tree.MountLetter(letter, VolumeNameNumbered(50));
    };
    Machine after;
    after.AddUsbStorage(kTargetUsbId, 'E');
    addReader(after, 'G');
    EXPECT_EQ(Enumerate(after), Letters("EG"));

    Machine before;
    addReader(before, 'G');
    before.AddUsbStorage(kTargetUsbId, 'E');
    EXPECT_EQ(Enumerate(before), Letters("E"));

    Machine cleared;
    cleared.AddUsbStorage(kTargetUsbId, 'E');
    cleared.AddUsbStorage("USB\\VID_0781&PID_5567\\STICK", 'F');
    addReader(cleared, 'G');
    EXPECT_EQ(Enumerate(cleared), Letters("E"));
}

TEST(RemovableVolumes, NoTargetGivesNoLetters)
{
    Machine m;
    m.AddUsbStorage("USB\\VID_0781&PID_5567\\STICK", 'F');
    EXPECT_TRUE(Enumerate(m).empty());

    Machine failedSet;
    failedSet.AddUsbStorage(kTargetUsbId, 'E');
    failedSet.tree.failPresentSet = true;
    EXPECT_TRUE(Enumerate(failedSet).empty());

    Machine failedRemovableSet;
    failedRemovableSet.AddUsbStorage(kTargetUsbId, 'E');
    failedRemovableSet.tree.failCreateSet = true;
    EXPECT_TRUE(Enumerate(failedRemovableSet).empty());
    EXPECT_EQ(failedRemovableSet.tree.LiveSets(), 0) << "the set of all devices destroyed all the same";
}

TEST(RemovableVolumes, UnreadableNodesContributeNothingAndTheWalkGoesOn)
{
    Machine m;
    const UsbStorage first = m.AddUsbStorage(kTargetUsbId, 'E');
    const UsbStorage second = m.AddUsbStorage("USB\\VID_0416&PID_B190\\VANE0002", 'F');
    m.tree.Node(first.volume).instanceIdReadable = false;
    EXPECT_EQ(Enumerate(m), Letters("F"));

    m.tree.Node(first.volume).instanceIdReadable = true;
    m.tree.Node(second.volume).interfaceListReadable = false;
    EXPECT_EQ(Enumerate(m), Letters("E"));

    m.tree.Node(second.volume).interfaceListReadable = true;
    m.tree.Node(first.usb).capabilitiesReadable = false; // not known to be removable: not walked
    EXPECT_EQ(Enumerate(m), Letters("F"));

    Machine noLookup;
    noLookup.AddUsbStorage(kTargetUsbId, 'E');
    noLookup.tree.failResolve = true;
    EXPECT_TRUE(Enumerate(noLookup).empty());
}

TEST(RemovableVolumes, InterfaceWithoutVolumeNameEndsItsList)
{
    Machine m;
    const UsbStorage s = m.AddUsbStorage(kTargetUsbId, 'E');
    const std::string unmounted = "\\\\?\\STORAGE#Volume#UNMOUNTED";
    m.tree.Node(s.volume).volumeInterfaces = {unmounted, s.interfacePath};
    EXPECT_TRUE(Enumerate(m).empty());
    m.tree.Node(s.volume).volumeInterfaces = {s.interfacePath, unmounted};
    EXPECT_EQ(Enumerate(m), Letters("E"));
}

TEST(RemovableVolumes, LoopingTreeEndsAndKeepsItsLetters)
{
    Machine m;
    const UsbStorage s = m.AddUsbStorage(kTargetUsbId, 'E');
    m.tree.SetChildOverride(s.disk, s.disk);                 // its own child
    m.tree.Node(s.volume).removalRelations = {kTargetUsbId}; // back to the top
    const DevNode extra = m.tree.AddNode("USB\\VID_0416&PID_B190\\VANE0001&MI_01", s.usb);
    m.tree.SetSiblingOverride(extra, s.disk);                // disk, extra, disk, ...: a circle
    EXPECT_EQ(Enumerate(m), Letters("E"));
}

TEST(RemovableVolumes, VolumeReachedAgainAsAMemberRepeatsItsLetter)
{
    Machine m;
    const UsbStorage s = m.AddUsbStorage(kTargetUsbId, 'E');
    m.tree.Node(s.volume).capabilities = kDevCapRemovable;
    EXPECT_EQ(Enumerate(m), Letters("EE"));
}

TEST(DeviceDescriptor, NamesEveryLetterFoundSoFar)
{
    Machine m;
    const UsbStorage first = m.AddUsbStorage(kTargetUsbId, 'E');
    m.AlsoMount(first, "F");
    const UsbStorage second = m.AddUsbStorage("USB\\VID_0416&PID_B190\\VANE0002", 'H');
    m.tree.Node(first.usb).friendlyName = "Vane Transmitter";
    m.tree.Node(second.usb).deviceDescription = "USB Mass Storage Device";
    DiagnosticCapture lines;
    Enumerate(m);
    EXPECT_EQ(lines.Count("Device Descriptor Vane Transmitter - Drive (E:,F:)\n"), 1u);
    EXPECT_EQ(lines.Count("Device Descriptor USB Mass Storage Device - Drive (E:,F:,H:)\n"), 1u);
}

TEST(DeviceDescriptor, IsCutTo199Characters)
{
    Machine m;
    const UsbStorage s = m.AddUsbStorage(kTargetUsbId, 'E');
    m.tree.Node(s.usb).friendlyName = std::string(195, 'n');
    DiagnosticCapture lines;
    Enumerate(m);
    EXPECT_EQ(lines.Count("Device Descriptor " + std::string(195, 'n') + " - D\n"), 1u);
}

TEST(RemovableVolumes, EmulatedMachineShowsOnlyTheTargetAtItsLetterOnceMounted)
{
    VirtualClock clock;
    EmulatedTarget target(clock);
    EmulatedDeviceTree tree(target, {.otherUsbStick = true});
    g_driveLetters.clear();
    EnumerateRemovableVolumes(tree, kTargetHardwareId);
    EXPECT_EQ(g_driveLetters, Letters("E"));

    target.Unplug();
    g_driveLetters.clear();
    EnumerateRemovableVolumes(tree, kTargetHardwareId);
    EXPECT_TRUE(g_driveLetters.empty());
    DeviceHandle handle = nullptr;
    std::string error;
    EXPECT_FALSE(tree.OpenVolume("\\\\.\\E:", handle, error));
    EXPECT_EQ(handle, nullptr);
    EXPECT_FALSE(error.empty());

    // Plugged in on a machine that mounts slowly: no letter until the volume is mounted.
    EmulatedDeviceTree slowMount(target, {.letterDelayMs = 1500});
    target.Plug();
    g_driveLetters.clear();
    EnumerateRemovableVolumes(slowMount, kTargetHardwareId);
    EXPECT_TRUE(g_driveLetters.empty());
    EXPECT_FALSE(slowMount.TargetLetterMounted());
    clock.Advance(1500);
    EnumerateRemovableVolumes(slowMount, kTargetHardwareId);
    EXPECT_EQ(g_driveLetters, Letters("E"));
    EXPECT_TRUE(slowMount.TargetLetterMounted());
}

// ---------------------------------------------------------------- FindTargetVolume

TEST(FindTargetVolume, OneVolumeAtE)
{
    DiscoveryDialog d;
    d.machine.AddUsbStorage(kTargetUsbId, 'E');
    if (sizeof(uintptr_t) == 8) d.machine.tree.SetHandleValues(static_cast<uintptr_t>(0xABCD00001230ull), 4);
    DiagnosticCapture lines;
    EXPECT_TRUE(d.Find());
    EXPECT_EQ(d.dlg.m_strHardwareId, kTargetHardwareId);
    EXPECT_EQ(g_driveLetters, Letters("E"));
    EXPECT_EQ(d.dlg.m_strVolumePath[0], "\\\\.\\E:");
    EXPECT_EQ(d.dlg.m_nVolumeIndex, 0);
    const DeviceHandle device = d.dlg.m_hDevice;
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(d.dlg.m_hVolume[0], device);
    EXPECT_EQ(lines.Count("Mass Storage Connected !\n"), 1u);
    EXPECT_EQ(lines.Count(HandleLine(device)), 1u);
    if (sizeof(uintptr_t) == 8) {
        EXPECT_EQ(lines.Count("Handle=0x1230\n"), 1u) << "its low 32 bits";
    }
}

TEST(FindTargetVolume, NoTargetLeavesEverySlotNullAndClosesWhatItDropped)
{
    DiscoveryDialog d;
    const UsbStorage s = d.machine.AddUsbStorage(kTargetUsbId, 'E');
    ASSERT_TRUE(d.Find());
    const DeviceHandle earlier = d.dlg.m_hDevice;

    d.machine.tree.RemoveNode(s.usb);
    DiagnosticCapture lines;
    EXPECT_FALSE(d.Find());
    EXPECT_EQ(lines.Count(" No Device found\n"), 1u);
    EXPECT_EQ(lines.Count("Mass Storage Connected !\n"), 0u);
    EXPECT_TRUE(AllSlotsNull(d.dlg));
    EXPECT_EQ(d.dlg.m_hDevice, nullptr) << "no command may use the closed handle";
    EXPECT_EQ(d.machine.tree.ClosedHandles(), std::vector<DeviceHandle>{earlier}) << "closed once";
}

TEST(FindTargetVolume, RediscoveryClosesTheEarlierHandle)
{
    DiscoveryDialog d;
    d.machine.AddUsbStorage(kTargetUsbId, 'E');
    ASSERT_TRUE(d.Find());
    const DeviceHandle earlier = d.dlg.m_hDevice;
    d.dlg.m_hDevice = nullptr; // as the SRAM loader leaves it before the target re-enumerates
    ASSERT_TRUE(d.Find());
    EXPECT_EQ(d.machine.tree.ClosedHandles(), std::vector<DeviceHandle>{earlier});
    EXPECT_NE(d.dlg.m_hDevice, nullptr);
    EXPECT_NE(d.dlg.m_hDevice, earlier);
}

TEST(FindTargetVolume, FirstLetterRefusedSecondOpens)
{
    DiscoveryDialog d;
    const UsbStorage s = d.machine.AddUsbStorage(kTargetUsbId, 'E');
    d.machine.AlsoMount(s, "F");
    d.machine.tree.FailOpen("\\\\.\\E:", kOpenRefused);
    DiagnosticCapture lines;
    EXPECT_TRUE(d.Find());
    EXPECT_EQ(d.dlg.m_nVolumeIndex, 1);
    EXPECT_EQ(d.dlg.m_hVolume[0], nullptr);
    ASSERT_NE(d.dlg.m_hVolume[1], nullptr);
    EXPECT_EQ(d.dlg.m_hDevice, d.dlg.m_hVolume[1]);
    EXPECT_EQ(d.dlg.m_strVolumePath[1], "\\\\.\\F:");
    const std::string text = lines.Text();
    const std::string refusal = "\n.\\dudivivur 145 Result: " + kOpenRefused + "\nNo device found!\n";
    ASSERT_NE(text.find(refusal), std::string::npos) << text;
    EXPECT_LT(text.find(refusal), text.find("Handle=0x"));
}

TEST(FindTargetVolume, LettersFoundButNoneOpensIsStillTrue)
{
    DiscoveryDialog d;
    d.machine.AddUsbStorage(kTargetUsbId, 'E');
    d.machine.tree.FailOpen("\\\\.\\E:", kOpenRefused);
    d.dlg.m_nVolumeIndex = 5;
    EXPECT_TRUE(d.Find());
    EXPECT_EQ(d.dlg.m_hDevice, nullptr);
    EXPECT_TRUE(AllSlotsNull(d.dlg));
    EXPECT_EQ(d.dlg.m_nVolumeIndex, 5) << "no volume opened: the index is not touched";
}

TEST(FindTargetVolume, NinthLetterIsTriedWithAPathOfItsOwn)
{
    DiscoveryDialog d;
    const UsbStorage s = d.machine.AddUsbStorage(kTargetUsbId, 'D');
    d.machine.AlsoMount(s, "EFGHIJKL");
    for (char letter : std::string("DEFGHIJK")) d.machine.tree.FailOpen(VolumePathOf(letter), kOpenRefused);
    EXPECT_TRUE(d.Find());
    EXPECT_EQ(d.machine.tree.OpenedPaths().size(), 9u);
    EXPECT_EQ(d.machine.tree.OpenedPaths().back(), "\\\\.\\L:");
    EXPECT_EQ(d.dlg.m_nVolumeIndex, 8);
    EXPECT_NE(d.dlg.m_hVolume[8], nullptr);
    EXPECT_EQ(d.dlg.m_hDevice, d.dlg.m_hVolume[8]);
    EXPECT_EQ(d.dlg.m_strVolumePath[7], "\\\\.\\K:");
}

TEST(FindTargetVolume, LettersBeyondTheHandleSlotsAreNotTried)
{
    DiscoveryDialog d;
    const UsbStorage s = d.machine.AddUsbStorage(kTargetUsbId, 'A');
    d.machine.AlsoMount(s, "BCDEFGHIJKLMNOPQRSTUVWXYZ");
    // A second interface of the same volume: every letter is found twice (52).
    const std::string second = "\\\\?\\STORAGE#Volume#SECOND";
    d.machine.tree.Node(s.volume).volumeInterfaces.push_back(second);
    d.machine.tree.SetVolumeName(second + "\\", s.volumeName);
    for (char letter = 'A'; letter <= 'Z'; ++letter) d.machine.tree.FailOpen(VolumePathOf(letter), kOpenRefused);
    DiagnosticCapture lines;
    EXPECT_TRUE(d.Find());
    EXPECT_EQ(g_driveLetters.size(), 52u);
    EXPECT_EQ(d.machine.tree.OpenedPaths().size(), static_cast<size_t>(kVolumeSlots));
    EXPECT_EQ(lines.Count("No device found!\n"), static_cast<size_t>(kVolumeSlots));
    EXPECT_EQ(lines.Count("No handle slot for drive G: and 19 more letters: not tried\n"), 1u);
    EXPECT_EQ(d.dlg.m_hDevice, nullptr);
    EXPECT_TRUE(AllSlotsNull(d.dlg));
}

TEST(FindTargetVolume, EmulatedTargetReenumeratesAsANewVolume)
{
    DialogRig rig;
    ASSERT_TRUE(rig.dlg->m_bConnected);
    const DeviceHandle first = rig.dlg->m_hDevice;
    const std::string firstVolume = rig.tree.TargetVolumeName();
    ASSERT_NE(first, nullptr);

    rig.target.Unplug();
    rig.WaitIdle();
    rig.target.Plug();
    rig.WaitIdle();
    ASSERT_TRUE(rig.dlg->m_bConnected);
    const DeviceHandle second = rig.dlg->m_hDevice;
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_NE(rig.tree.TargetVolumeName(), firstVolume);
    EXPECT_EQ(rig.tree.ClosedHandles(), std::vector<DeviceHandle>{first});
    EXPECT_EQ(rig.tree.OpenTargetHandles(), 1u);
    uint8_t reply[8] = {};
    EXPECT_FALSE(rig.dlg->Link().CMD_IbrPing(first, reply)) << "the earlier handle is stale";
    EXPECT_TRUE(rig.dlg->Link().CMD_IbrPing(second, reply));
}

// ---------------------------------------------------------------- one target of several (vane-upgrade --device on Windows)

TEST(ChosenTarget, PortShowsOnlyItsTargetAndALetterIsFollowedByItsPortThroughReenumeration)
{
    DiagnosticCapture lines;
    Machine m;
    const UsbStorage first = m.AddUsbStorage(kTargetUsbId, 'E');
    std::map<DevNode, std::string> ports{{first.usb, "Port_#0001.Hub_#0001"}};
    auto portOf = [&ports](DevNode node) { return ports.count(node) != 0 ? ports[node] : std::string(); };
    auto enumerate = [](IDeviceTree& tree) {
        g_driveLetters.clear();
        EnumerateRemovableVolumes(tree, kTargetHardwareId);
        return g_driveLetters;
    };

    // Chosen by letter: other letters do not open; the one that does names its target's port.
    ChosenTargetTree byLetter(m.tree, "e:", portOf);
    EXPECT_EQ(enumerate(byLetter), Letters("E"));
    DeviceHandle handle = nullptr;
    std::string error;
    EXPECT_FALSE(byLetter.OpenVolume("\\\\.\\F:", handle, error));
    ASSERT_TRUE(byLetter.OpenVolume("\\\\.\\E:", handle, error));
    EXPECT_EQ(byLetter.NodeOf(handle), "E:");
    EXPECT_EQ(byLetter.Port(), "Port_#0001.Hub_#0001");
    byLetter.CloseVolume(handle);

    // The target comes back with another letter, and a second target takes E:
    // the choice follows the first target's port.
    m.tree.UnmountLetter('E');
    m.tree.MountLetter('G', first.volumeName);
    const UsbStorage second = m.AddUsbStorage("USB\\VID_0416&PID_B190\\VANE0002", 'E');
    ports[second.usb] = "Port_#0002.Hub_#0001";
    EXPECT_EQ(enumerate(byLetter), Letters("G"));
    EXPECT_TRUE(byLetter.OpenVolume("\\\\.\\G:", handle, error));

    // Chosen by port: the other target's volumes are not found; every set is released.
    ChosenTargetTree all(m.tree, "", portOf);
    EXPECT_EQ(enumerate(all), Letters("GE"));
    ChosenTargetTree bySecondPort(m.tree, "Port_#0002.Hub_#0001", portOf);
    EXPECT_EQ(enumerate(bySecondPort), Letters("E"));
    EXPECT_EQ(m.tree.LiveSets(), 0);

    // With both attached, a letter cannot tell its port: the choice stays the letter, no port is named.
    ChosenTargetTree byLetterOfTwo(m.tree, "E:", portOf);
    EXPECT_EQ(enumerate(byLetterOfTwo), Letters("GE"));
    ASSERT_TRUE(byLetterOfTwo.OpenVolume("\\\\.\\E:", handle, error));
    EXPECT_FALSE(byLetterOfTwo.OpenVolume("\\\\.\\G:", handle, error));
    EXPECT_EQ(byLetterOfTwo.Port(), "") << "no guess at which target's port the letter is";
}
