#include "emulator/emulated_device_tree.h"

#include <cstdio>

#include "device/interface_classes.h"

namespace {

constexpr uint32_t kDevCapSurpriseRemovalOk = 0x80;
constexpr DevNode kTargetNodeBase = 0x1000;
const char kCannotFindText[] = "The system cannot find the file specified.";
const char kAccessDeniedText[] = "Access is denied.";
const char kDiskModel[] = "DISK&VEN_VANE&PROD_TRANSMITTER&REV_1.00";
const char kDiskModelMixedCase[] = "Disk&Ven_Vane&Prod_Transmitter&Rev_1.00";

std::string RootOf(char letter) { return std::string{letter, ':', '\\'}; }

} // namespace

EmulatedDeviceTree::EmulatedDeviceTree(EmulatedTarget& target, EmulatedTreeOptions options)
    : target_(target), options_(std::move(options))
{
    AddMachineNodes();
    if (options_.otherUsbStick) AddOtherUsbStick();
}

void EmulatedDeviceTree::AddMachineNodes()
{
    const DevNode root = AddNode("HTREE\\ROOT\\0");
    volumeManager_ = AddNode("ROOT\\VOLMGR\\0000", root);
    Node(volumeManager_).deviceDescription = "Volume Manager";

    const std::string systemVolumeId = "STORAGE\\VOLUME\\{6C1E0D52-0000-0000-0000-100000000000}#0000000000100000";
    const DevNode systemVolume = AddNode(systemVolumeId, volumeManager_);
    const std::string systemInterface = "\\\\?\\STORAGE#Volume#{6c1e0d52-0000-0000-0000-100000000000}#0000000000100000#"
                                        + std::string(kVolumeInterfaceClass);
    Node(systemVolume).deviceDescription = "Generic volume";
    Node(systemVolume).volumeInterfaces = {systemInterface};
    const std::string systemVolumeName = "\\\\?\\Volume{0d4c3b2a-1f2e-11ee-9a8b-806e6f6e6963}\\";
    SetVolumeName(systemInterface + "\\", systemVolumeName);
    MountLetter('C', systemVolumeName);

    const DevNode controller = AddNode("PCI\\VEN_8086&DEV_A36D&SUBSYS_00000000&REV_10\\3&11583659&0&A0", root);
    Node(controller).deviceDescription = "USB xHCI Compliant Host Controller";
    hub_ = AddNode("USB\\ROOT_HUB30\\4&2E2A9F3&0&0", controller);
    Node(hub_).deviceDescription = "USB Root Hub (USB 3.0)";
}

void EmulatedDeviceTree::AddOtherUsbStick()
{
    const std::string serial = "4C530001220114117420";
    const DevNode usb = AddNode("USB\\VID_0781&PID_5567\\" + serial, hub_, kDevCapRemovable | kDevCapSurpriseRemovalOk);
    Node(usb).deviceDescription = "USB Mass Storage Device";
    const std::string diskModel = "DISK&VEN_SANDISK&PROD_CRUZER_BLADE&REV_1.00";
    const DevNode disk = AddNode("USBSTOR\\" + diskModel + "\\" + serial + "&0", usb);
    Node(disk).friendlyName = "Other Cruzer USB Device";
    Node(disk).deviceDescription = "Disk drive";
    const std::string volumeId = "STORAGE\\VOLUME\\_??_USBSTOR#" + diskModel + "#" + serial + "&0#"
                                 + kDiskInterfaceClassUpper;
    const DevNode volume = AddNode(volumeId, volumeManager_);
    Node(volume).deviceDescription = "Generic volume";
    const std::string interfacePath = "\\\\?\\STORAGE#Volume#_??_USBSTOR#Disk&Ven_SanDisk&Prod_Cruzer_Blade&Rev_1.00#"
                                      + serial + "&0#" + kDiskInterfaceClass + "#" + kVolumeInterfaceClass;
    Node(volume).volumeInterfaces = {interfacePath};
    Node(disk).removalRelations = {volumeId};
    const std::string volumeName = "\\\\?\\Volume{2b7d5e90-8a11-11ee-b1c4-806e6f6e6963}\\";
    SetVolumeName(interfacePath + "\\", volumeName);
    MountLetter(options_.otherStickLetter, volumeName);
}

std::string EmulatedDeviceTree::TargetUsbId() const
{
    return "USB\\VID_0416&PID_B190\\" + options_.serial;
}

std::string EmulatedDeviceTree::TargetDiskId() const
{
    return std::string("USBSTOR\\") + kDiskModel + "\\" + options_.serial + "&0";
}

std::string EmulatedDeviceTree::TargetVolumeId() const
{
    return std::string("STORAGE\\VOLUME\\_??_USBSTOR#") + kDiskModel + "#" + options_.serial + "&0#"
           + kDiskInterfaceClassUpper;
}

std::string EmulatedDeviceTree::TargetInterfacePath() const
{
    return std::string("\\\\?\\STORAGE#Volume#_??_USBSTOR#") + kDiskModelMixedCase + "#" + options_.serial + "&0#"
           + kDiskInterfaceClass + "#" + kVolumeInterfaceClass;
}

std::string EmulatedDeviceTree::VolumeNameOfGeneration(uint32_t generation)
{
    char name[64];
    std::snprintf(name, sizeof name, "\\\\?\\Volume{7a3e5b10-%04x-11ef-a6c1-806e6f6e6963}\\",
                  static_cast<unsigned>(generation & 0xFFFF));
    return name;
}

std::string EmulatedDeviceTree::TargetVolumeName()
{
    return VolumeNameOfGeneration(target_.Generation());
}

size_t EmulatedDeviceTree::OpenTargetHandles()
{
    std::lock_guard<std::mutex> lock(handlesMutex_);
    return targetHandles_.size();
}

std::vector<DeviceTreeNode> EmulatedDeviceTree::PresentNodesLocked()
{
    std::vector<DeviceTreeNode> nodes = ScriptedNodesLocked();
    if (!target_.Present()) return nodes;
    // A new enumeration brings new node values, as a replugged device gets.
    const DevNode base = kTargetNodeBase + (target_.Generation() & 0xFFFFF) * 0x10;

    DeviceTreeNode usb;
    usb.node = base + 1;
    usb.instanceId = TargetUsbId();
    usb.parent = hub_;
    usb.capabilities = kDevCapRemovable | kDevCapSurpriseRemovalOk;
    usb.deviceDescription = "USB Mass Storage Device";

    DeviceTreeNode volume;
    volume.node = base + 3;
    volume.instanceId = TargetVolumeId();
    volume.parent = volumeManager_;
    volume.deviceDescription = "Generic volume";
    volume.volumeInterfaces = {TargetInterfacePath()};

    DeviceTreeNode disk;
    disk.node = base + 2;
    disk.instanceId = TargetDiskId();
    disk.parent = usb.node;
    disk.friendlyName = "Vane Transmitter USB Device";
    disk.deviceDescription = "Disk drive";
    disk.removalRelations = {volume.instanceId};

    nodes.push_back(usb);
    nodes.push_back(disk);
    nodes.push_back(volume);
    return nodes;
}

bool EmulatedDeviceTree::VolumeNameLocked(const std::string& mountPoint, std::string& volumeName)
{
    const std::string wanted = UpperCaseOf(mountPoint);
    const bool isTargetMount =
        wanted == UpperCaseOf(TargetInterfacePath() + "\\") || wanted == UpperCaseOf(RootOf(options_.targetLetter));
    if (!isTargetMount) return ScriptedVolumeNameLocked(mountPoint, volumeName);
    if (!target_.Present()) return false;
    if (wanted == UpperCaseOf(RootOf(options_.targetLetter)) && !LetterAssigned()) return false;
    volumeName = VolumeNameOfGeneration(target_.Generation());
    return true;
}

bool EmulatedDeviceTree::LetterAssigned() { return target_.MsOnBus() >= options_.letterDelayMs; }

bool EmulatedDeviceTree::TargetLetterMounted() { return target_.Present() && LetterAssigned(); }

bool EmulatedDeviceTree::OpenLocked(const std::string& path, DeviceHandle& handle, std::string& errorText)
{
    const std::string targetPath = std::string("\\\\.\\") + options_.targetLetter + ":";
    if (UpperCaseOf(path) != UpperCaseOf(targetPath)) {
        // Another volume of the machine: raw access is refused to the tool.
        errorText = UpperCaseOf(path) == "\\\\.\\C:" ? kAccessDeniedText : kCannotFindText;
        return false;
    }
    handle = target_.Open();
    if (handle == nullptr) {
        errorText = kCannotFindText;
        return false;
    }
    std::lock_guard<std::mutex> lock(handlesMutex_);
    targetHandles_.insert(handle);
    return true;
}

void EmulatedDeviceTree::CloseLocked(DeviceHandle handle)
{
    std::lock_guard<std::mutex> lock(handlesMutex_);
    targetHandles_.erase(handle);
}
