#include "device/volume_discovery.h"

#include <cctype>

#include "device/diagnostics.h"

std::vector<char> g_driveLetters;
bool g_bHardwareIdMatch = false;
DeviceInfoSet g_hRemovableSet = nullptr;

namespace {

constexpr size_t kUsbPrefixLength = 7;     // "USB\VID"
constexpr size_t kHardwareIdLength = 21;   // "USB\VID_0416&PID_B190"
constexpr size_t kDescriptionChars = 199;  // a 200-character buffer and its zero
// Larger sizes than any real list or property: a backend that reports one is
// answering garbage, and the buffer is not allocated.
constexpr uint32_t kMaxReportedChars = 1u << 20;

// Compares at most n characters without regard to case, a string's end
// counting as a zero character (as the C library's bounded comparison does).
bool EqualNoCase(const std::string& a, const std::string& b, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        unsigned char ca = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
        unsigned char cb = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
        if (std::tolower(ca) != std::tolower(cb)) return false;
        if (ca == 0) return true;
    }
    return true;
}

bool UsableSize(uint32_t size) { return size != 0 && size <= kMaxReportedChars; }

// A text property: size query, then a read into a zeroed buffer of that size.
// An empty text counts as missing.
bool ReadDeviceText(IDeviceTree& tree, DeviceInfoSet set, const DeviceInfo& device, DeviceTextProperty property,
                    std::string& text)
{
    uint32_t size = 0;
    if (!tree.GetTextPropertySize(set, device, property, size) || !UsableSize(size)) return false;
    std::vector<char> buffer(size, 0);
    if (!tree.ReadTextProperty(set, device, property, buffer)) return false;
    size_t length = 0;
    while (length < buffer.size() && buffer[length] != 0) ++length;
    text.assign(buffer.data(), length);
    return !text.empty();
}

std::string DisplayName(IDeviceTree& tree, DeviceInfoSet set, const DeviceInfo& device)
{
    std::string name;
    if (ReadDeviceText(tree, set, device, DeviceTextProperty::FriendlyName, name)) return name;
    if (ReadDeviceText(tree, set, device, DeviceTextProperty::DeviceDescription, name)) return name;
    return "Device";
}

// One volume interface: its volume name against those of the 26 drive roots.
// False when the interface has no volume name (the caller stops its list).
bool CollectLettersOfInterface(IVolumeNameLookup& lookup, const std::string& interfacePath)
{
    std::string mountPoint = interfacePath;
    // The lookup needs a trailing backslash; the "\\?\" prefix does not count.
    if (mountPoint.find('\\', 4) == std::string::npos) mountPoint += '\\';
    std::string volumeName;
    if (!lookup.GetVolumeNameForVolumeMountPoint(mountPoint, volumeName)) return false;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const std::string root{letter, ':', '\\'};
        std::string rootName;
        if (lookup.GetVolumeNameForVolumeMountPoint(root, rootName) && rootName == volumeName && g_bHardwareIdMatch)
            g_driveLetters.push_back(letter);
    }
    return true;
}

void WalkRemovalRelations(VolumeSearch& search, const std::string& instanceId)
{
    uint32_t size = 0;
    if (!search.tree.GetRemovalRelationsSize(instanceId, size) || !UsableSize(size)) return;
    std::vector<char> list(size, 0);
    if (!search.tree.GetRemovalRelations(instanceId, list)) return;
    for (const std::string& relatedId : SplitMultiString(list)) {
        DevNode related = kNoDevNode;
        if (search.tree.LocateNode(relatedId, related)) WalkDeviceNode(search, related);
    }
}

} // namespace

std::mutex& DiscoveryMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::vector<std::string> SplitMultiString(const std::vector<char>& buffer)
{
    std::vector<std::string> texts;
    size_t start = 0;
    while (start < buffer.size() && buffer[start] != 0) {
        size_t end = start;
        while (end < buffer.size() && buffer[end] != 0) ++end;
        if (end == buffer.size()) break;
        texts.emplace_back(buffer.data() + start, end - start);
        start = end + 1;
    }
    return texts;
}

void UpdateHardwareIdMatch(const std::string& instanceId, const std::string& hardwareId)
{
    if (!EqualNoCase(instanceId, "USB\\VID", kUsbPrefixLength)) return;
    g_bHardwareIdMatch = EqualNoCase(instanceId, hardwareId, kHardwareIdLength);
}

bool IsRemovableDevice(IDeviceTree& tree, DeviceInfoSet set, const DeviceInfo& device)
{
    uint32_t capabilities = 0;
    return tree.GetDeviceCapabilities(set, device, capabilities) && (capabilities & kDevCapRemovable) != 0;
}

bool IsInRemovableSet(IDeviceTree& tree, DevNode node)
{
    DeviceInfo member;
    for (uint32_t i = 0; tree.EnumDeviceInfo(g_hRemovableSet, i, member); ++i)
        if (member.node == node) return true;
    return false;
}

void CollectVolumeLetters(VolumeSearch& search, DevNode node)
{
    IDeviceTree& tree = search.tree;
    std::unique_ptr<IVolumeNameLookup> lookup = tree.ResolveVolumeNameLookup();
    std::string instanceId;
    if (!lookup || !tree.GetNodeInstanceId(node, instanceId)) return;

    uint32_t size = 0;
    if (tree.GetVolumeInterfaceListSize(instanceId, size) && UsableSize(size)) {
        UpdateHardwareIdMatch(instanceId, search.hardwareId);
        std::vector<char> interfaces(size, 0);
        if (tree.GetVolumeInterfaceList(instanceId, interfaces)) {
            for (const std::string& path : SplitMultiString(interfaces))
                if (!CollectLettersOfInterface(*lookup, path)) break;
        }
    }
    lookup.reset(); // the library is released after each node, not held through the walk below

    WalkRemovalRelations(search, instanceId);
}

void WalkDeviceNode(VolumeSearch& search, DevNode node)
{
    if (!search.walked.insert(node).second) return;
    CollectVolumeLetters(search, node);

    DevNode child = kNoDevNode;
    if (!search.tree.GetChild(node, child)) return;
    std::set<DevNode> siblings; // a sibling chain that comes back on itself ends here
    while (siblings.insert(child).second) {
        if (!IsInRemovableSet(search.tree, child)) WalkDeviceNode(search, child);
        DevNode next = kNoDevNode;
        if (!search.tree.GetSibling(child, next)) break;
        child = next;
    }
}

std::string DescribeDevice(VolumeSearch& search, DeviceInfoSet set, const DeviceInfo& device)
{
    search.walked.clear();
    WalkDeviceNode(search, device.node);

    std::string description = DisplayName(search.tree, set, device);
    if (!g_driveLetters.empty()) {
        description += " - Drive (";
        for (size_t i = 0; i < g_driveLetters.size(); ++i) {
            description += g_driveLetters[i];
            description += ':';
            description += i + 1 < g_driveLetters.size() ? ',' : ')';
        }
    }
    if (description.size() > kDescriptionChars) description.resize(kDescriptionChars);
    return description;
}

void EnumerateRemovableVolumes(IDeviceTree& tree, const std::string& hardwareId)
{
    g_bHardwareIdMatch = false;
    DeviceInfoSet allDevices = tree.GetPresentDevices();
    if (allDevices == nullptr) return;
    g_hRemovableSet = tree.CreateDeviceInfoList();
    if (g_hRemovableSet == nullptr) {
        tree.DestroyDeviceInfoList(allDevices);
        return;
    }

    DeviceInfo device;
    std::string instanceId;
    for (uint32_t i = 0; tree.EnumDeviceInfo(allDevices, i, device); ++i) {
        if (IsInRemovableSet(tree, device.node)) continue;
        if (!IsRemovableDevice(tree, allDevices, device)) continue;
        if (!tree.GetDeviceInstanceId(allDevices, device, instanceId)) continue;
        DiagPrintf("Instance id %s\n\n", instanceId.c_str());
        tree.OpenDeviceInfo(g_hRemovableSet, instanceId);
    }

    VolumeSearch search{tree, hardwareId, {}};
    for (uint32_t i = 0; tree.EnumDeviceInfo(g_hRemovableSet, i, device); ++i) {
        if (!tree.GetDeviceInstanceId(g_hRemovableSet, device, instanceId)) continue;
        const std::string description = DescribeDevice(search, g_hRemovableSet, device);
        DiagPrintf("Device Descriptor %s\n", description.c_str());
    }

    tree.DestroyDeviceInfoList(g_hRemovableSet);
    g_hRemovableSet = nullptr;
    tree.DestroyDeviceInfoList(allDevices);
}
