#include "platform/linux/udev_device_tree.h"

#include <cctype>

#include "device/diagnostics.h"
#include "device/interface_classes.h"
#include "platform/linux/access_hint.h"
#include "platform/linux/sg_io_pass_through.h"
#include "platform/linux/udev_target_scan.h"

namespace {

constexpr uint32_t kDevCapSurpriseRemovalOk = 0x80;
constexpr DevNode kRootNode = 1;
constexpr DevNode kVolumeManagerNode = 2;
constexpr DevNode kFirstUsbNode = 0x1000;
constexpr DevNode kNodesPerUsbDevice = 0x100;
const char kUsbPrefix[] = "USB\\VID_0416&PID_B190\\";
const char kDiskModel[] = "DISK&VEN_VANE&PROD_TRANSMITTER";
const char kNoSuchVolumeText[] = "No such device";

// "\\.\D:" -> 'D'; 0 for any other path.
char LetterOfVolumePath(const std::string& path)
{
    if (path.size() != 6 || path.compare(0, 4, "\\\\.\\") != 0 || path[5] != ':') return 0;
    return static_cast<char>(std::toupper(static_cast<unsigned char>(path[4])));
}

std::string LunSuffix(const TargetLocation& target)
{
    std::string suffix = "&";
    suffix += std::to_string(target.lun);
    return suffix;
}

} // namespace

UdevTreeBackend UdevTreeBackend::System()
{
    UdevTreeBackend backend;
    backend.scan = ScanUdevTargets;
    backend.open = [](const std::string& node, int& errorNumber, std::string& errorText) -> DeviceHandle {
        return OpenSgDevice(node, errorNumber, errorText);
    };
    backend.close = [](DeviceHandle handle) { CloseSgDevice(static_cast<SgDevice*>(handle)); };
    return backend;
}

UdevDeviceTree::UdevDeviceTree(DeviceSelector selector, UdevTreeBackend backend)
    : backend_(std::move(backend)), selector_(std::move(selector))
{
}

UdevDeviceTree::~UdevDeviceTree()
{
    // Handles the dialog still held when the program ends.
    for (const auto& [handle, node] : handles_) backend_.close(handle);
}

std::string UdevDeviceTree::UsbInstanceId(const TargetLocation& target) { return kUsbPrefix + target.portPath; }

std::string UdevDeviceTree::InterfacePathOf(const TargetLocation& target)
{
    return std::string("\\\\?\\STORAGE#Volume#_??_USBSTOR#") + kDiskModel + "#" + target.portPath + LunSuffix(target) +
           "#" + kDiskInterfaceClass + "#" + kVolumeInterfaceClass;
}

std::string UdevDeviceTree::VolumeNameOf(const TargetLocation& target)
{
    return "\\\\?\\Volume{" + target.sgNode + "}\\";
}

UdevDeviceTree::Snapshot UdevDeviceTree::BuildSnapshot(std::vector<TargetLocation> targets)
{
    Snapshot snapshot;
    if (targets.size() > kMaxTreeTargets) {
        DiagPrintf("%u targets attached: only the first %u are used\n", static_cast<unsigned>(targets.size()),
                   static_cast<unsigned>(kMaxTreeTargets));
        targets.resize(kMaxTreeTargets);
    }
    snapshot.targets = targets;

    DeviceTreeNode root;
    root.node = kRootNode;
    root.instanceId = "HTREE\\ROOT\\0";
    DeviceTreeNode volumeManager;
    volumeManager.node = kVolumeManagerNode;
    volumeManager.instanceId = "ROOT\\VOLMGR\\0000";
    volumeManager.parent = kRootNode;
    volumeManager.deviceDescription = "Volume Manager";
    snapshot.nodes = {root, volumeManager};

    // One USB node per port; the LUNs of one device are disks of that node.
    DevNode usbNode = kNoDevNode;
    DevNode nextChild = kNoDevNode;
    DevNode usbDevices = 0;
    std::string usbPort;
    for (const TargetLocation& target : targets) {
        if (usbNode == kNoDevNode || target.portPath != usbPort) {
            usbNode = kFirstUsbNode + usbDevices * kNodesPerUsbDevice + 1;
            ++usbDevices;
            usbPort = target.portPath;
            nextChild = usbNode + 1;
            DeviceTreeNode usb;
            usb.node = usbNode;
            usb.instanceId = UsbInstanceId(target);
            usb.parent = kRootNode;
            usb.capabilities = kDevCapRemovable | kDevCapSurpriseRemovalOk;
            usb.deviceDescription = "USB Mass Storage Device";
            snapshot.nodes.push_back(usb);
        }
        const std::string diskId = std::string("USBSTOR\\") + kDiskModel + "\\" + target.portPath + LunSuffix(target);
        DeviceTreeNode volume;
        volume.node = nextChild + 1;
        volume.instanceId = "STORAGE\\VOLUME\\_??_USBSTOR#" + std::string(kDiskModel) + "#" + target.portPath +
                            LunSuffix(target);
        volume.parent = kVolumeManagerNode;
        volume.deviceDescription = "Generic volume";
        volume.volumeInterfaces = {InterfacePathOf(target)};
        DeviceTreeNode disk;
        disk.node = nextChild;
        disk.instanceId = diskId;
        disk.parent = usbNode;
        disk.friendlyName = "Vane Transmitter USB Device (" + target.sgNode + ")";
        disk.deviceDescription = "Disk drive";
        disk.removalRelations = {volume.instanceId};
        nextChild += 2;
        snapshot.nodes.push_back(disk);
        snapshot.nodes.push_back(volume);
    }
    return snapshot;
}

void UdevDeviceTree::Refresh()
{
    std::vector<TargetLocation> found;
    std::string error;
    if (!backend_.scan(found, error)) DiagPrintf("%s\n", error.c_str());
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    std::vector<TargetLocation> chosen;
    for (const TargetLocation& target : found)
        if (selector_.Matches(target)) chosen.push_back(target);
    snapshot_ = BuildSnapshot(std::move(chosen));
}

DeviceInfoSet UdevDeviceTree::GetPresentDevices()
{
    Refresh();
    return NodeDeviceTree::GetPresentDevices();
}

std::vector<TargetLocation> UdevDeviceTree::Targets()
{
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    return snapshot_.targets;
}

void UdevDeviceTree::SetAccessProblemListener(std::function<void(const std::string& line)> listener)
{
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    hintListener_ = std::move(listener);
}

std::string UdevDeviceTree::NodeOf(DeviceHandle handle)
{
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    auto it = handles_.find(handle);
    return it == handles_.end() ? std::string() : it->second;
}

std::vector<DeviceTreeNode> UdevDeviceTree::PresentNodesLocked()
{
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    return snapshot_.nodes;
}

bool UdevDeviceTree::VolumeNameLocked(const std::string& mountPoint, std::string& volumeName)
{
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    const std::string wanted = UpperCaseOf(mountPoint);
    for (size_t i = 0; i < snapshot_.targets.size(); ++i) {
        const TargetLocation& target = snapshot_.targets[i];
        const char letter = static_cast<char>(kFirstTargetLetter + i);
        if (wanted == UpperCaseOf(InterfacePathOf(target) + "\\") || wanted == std::string{letter, ':', '\\'}) {
            volumeName = VolumeNameOf(target);
            return true;
        }
    }
    return false;
}

bool UdevDeviceTree::OpenLocked(const std::string& path, DeviceHandle& handle, std::string& errorText)
{
    std::string node;
    {
        std::lock_guard<std::mutex> lock(snapshotMutex_);
        const char letter = LetterOfVolumePath(path);
        const size_t index = static_cast<size_t>(letter - kFirstTargetLetter);
        if (letter < kFirstTargetLetter || index >= snapshot_.targets.size()) {
            errorText = kNoSuchVolumeText;
            return false;
        }
        node = snapshot_.targets[index].sgNode;
    }
    int errorNumber = 0;
    handle = backend_.open(node, errorNumber, errorText);
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    if (handle == nullptr) {
        if (IsAccessError(errorNumber) && hinted_.insert(node).second) pendingHints_.push_back(AccessProblemLine(node));
        return false;
    }
    handles_[handle] = node;
    return true;
}

void UdevDeviceTree::CloseLocked(DeviceHandle handle)
{
    {
        std::lock_guard<std::mutex> lock(snapshotMutex_);
        if (handles_.erase(handle) == 0) return; // not one of ours
    }
    backend_.close(handle);
}

bool UdevDeviceTree::OpenVolume(const std::string& path, DeviceHandle& handle, std::string& errorText)
{
    const bool opened = NodeDeviceTree::OpenVolume(path, handle, errorText);
    std::vector<std::string> hints;
    std::function<void(const std::string&)> listener;
    {
        std::lock_guard<std::mutex> lock(snapshotMutex_);
        hints.swap(pendingHints_);
        listener = hintListener_;
    }
    if (listener)
        for (const std::string& line : hints) listener(line);
    return opened;
}
