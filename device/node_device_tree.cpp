#include "device/node_device_tree.h"

#include <algorithm>
#include <cctype>

std::string UpperCaseOf(const std::string& text)
{
    std::string upper = text;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

// The resolved mount-point function: answers through the tree while it lives.
class NodeDeviceTree::Lookup final : public IVolumeNameLookup {
public:
    explicit Lookup(NodeDeviceTree& tree) : tree_(tree) {}
    ~Lookup() override
    {
        std::lock_guard<std::mutex> lock(tree_.mutex_);
        --tree_.liveLookups_;
    }
    bool GetVolumeNameForVolumeMountPoint(const std::string& mountPoint, std::string& volumeName) override
    {
        volumeName.clear();
        std::lock_guard<std::mutex> lock(tree_.mutex_);
        return tree_.VolumeNameLocked(mountPoint, volumeName);
    }

private:
    NodeDeviceTree& tree_;
};

// --- records ---

std::vector<std::string> NodeDeviceTree::OpenedPaths()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return openedPaths_;
}

std::vector<DeviceHandle> NodeDeviceTree::ClosedHandles()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return closedHandles_;
}

int NodeDeviceTree::LiveSets()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(sets_.size());
}

int NodeDeviceTree::LiveLookups()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return liveLookups_;
}

int NodeDeviceTree::Resolves()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return resolves_;
}

// --- helpers ---

NodeDeviceTree::SetData* NodeDeviceTree::SetLocked(DeviceInfoSet set)
{
    auto it = sets_.find(reinterpret_cast<uintptr_t>(set));
    return it == sets_.end() ? nullptr : &it->second;
}

bool NodeDeviceTree::PresentNodeLocked(DevNode node, DeviceTreeNode& found)
{
    for (const DeviceTreeNode& n : PresentNodesLocked()) {
        if (n.node != node) continue;
        found = n;
        return true;
    }
    return false;
}

bool NodeDeviceTree::PresentNodeByIdLocked(const std::string& instanceId, DeviceTreeNode& found)
{
    const std::string wanted = UpperCaseOf(instanceId);
    for (const DeviceTreeNode& n : PresentNodesLocked()) {
        if (UpperCaseOf(n.instanceId) != wanted) continue;
        found = n;
        return true;
    }
    return false;
}

bool NodeDeviceTree::MemberLocked(DeviceInfoSet set, const DeviceInfo& device, DeviceTreeNode& node)
{
    SetData* data = SetLocked(set);
    if (data == nullptr || device.index >= data->members.size()) return false;
    return PresentNodeLocked(data->members[device.index], node);
}

std::vector<char> NodeDeviceTree::MultiString(const std::vector<std::string>& texts)
{
    std::vector<char> chars;
    for (const std::string& text : texts) {
        chars.insert(chars.end(), text.begin(), text.end());
        chars.push_back(0);
    }
    chars.push_back(0);
    return chars;
}

bool NodeDeviceTree::FillList(const std::vector<std::string>& texts, std::vector<char>& buffer)
{
    const std::vector<char> chars = MultiString(texts);
    if (buffer.size() < chars.size()) return false; // the configuration manager's "buffer small"
    std::copy(chars.begin(), chars.end(), buffer.begin());
    return true;
}

const std::string& NodeDeviceTree::TextOf(const DeviceTreeNode& node, DeviceTextProperty property)
{
    return property == DeviceTextProperty::FriendlyName ? node.friendlyName : node.deviceDescription;
}

// --- device information sets ---

DeviceInfoSet NodeDeviceTree::GetPresentDevices()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (RefusedLocked(TreeRequest::PresentSet)) return nullptr;
    SetData data;
    for (const DeviceTreeNode& n : PresentNodesLocked()) data.members.push_back(n.node);
    const uintptr_t id = nextSet_++;
    sets_[id] = data;
    return reinterpret_cast<DeviceInfoSet>(id);
}

DeviceInfoSet NodeDeviceTree::CreateDeviceInfoList()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (RefusedLocked(TreeRequest::EmptySet)) return nullptr;
    const uintptr_t id = nextSet_++;
    sets_[id] = SetData{};
    return reinterpret_cast<DeviceInfoSet>(id);
}

bool NodeDeviceTree::EnumDeviceInfo(DeviceInfoSet set, uint32_t index, DeviceInfo& device)
{
    std::lock_guard<std::mutex> lock(mutex_);
    device = DeviceInfo{};
    SetData* data = SetLocked(set);
    if (data == nullptr || index >= data->members.size()) return false;
    device.index = index;
    device.node = data->members[index];
    return true;
}

bool NodeDeviceTree::GetDeviceInstanceId(DeviceInfoSet set, const DeviceInfo& device, std::string& instanceId)
{
    std::lock_guard<std::mutex> lock(mutex_);
    instanceId.clear();
    DeviceTreeNode node;
    if (!MemberLocked(set, device, node) || !node.instanceIdReadable) return false;
    if (node.instanceId.size() >= kInstanceIdChars) return false;
    instanceId = node.instanceId;
    return true;
}

bool NodeDeviceTree::OpenDeviceInfo(DeviceInfoSet set, const std::string& instanceId)
{
    std::lock_guard<std::mutex> lock(mutex_);
    SetData* data = SetLocked(set);
    DeviceTreeNode node;
    if (data == nullptr || !PresentNodeByIdLocked(instanceId, node)) return false;
    // Opening a member again returns the member: a set holds a device once.
    if (std::find(data->members.begin(), data->members.end(), node.node) == data->members.end())
        data->members.push_back(node.node);
    return true;
}

bool NodeDeviceTree::GetDeviceCapabilities(DeviceInfoSet set, const DeviceInfo& device, uint32_t& capabilities)
{
    std::lock_guard<std::mutex> lock(mutex_);
    capabilities = 0;
    DeviceTreeNode node;
    if (!MemberLocked(set, device, node) || !node.capabilitiesReadable) return false;
    capabilities = node.capabilities;
    return true;
}

bool NodeDeviceTree::GetTextPropertySize(DeviceInfoSet set, const DeviceInfo& device, DeviceTextProperty property,
                                           uint32_t& requiredBytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    requiredBytes = 0;
    DeviceTreeNode node;
    if (!MemberLocked(set, device, node) || TextOf(node, property).empty()) return false;
    requiredBytes = static_cast<uint32_t>(TextOf(node, property).size() + 1);
    return true;
}

bool NodeDeviceTree::ReadTextProperty(DeviceInfoSet set, const DeviceInfo& device, DeviceTextProperty property,
                                        std::vector<char>& buffer)
{
    std::lock_guard<std::mutex> lock(mutex_);
    DeviceTreeNode node;
    if (!MemberLocked(set, device, node) || TextOf(node, property).empty()) return false;
    const std::string& text = TextOf(node, property);
    if (buffer.size() < text.size() + 1) return false; // insufficient buffer
    std::copy(text.begin(), text.end(), buffer.begin());
    buffer[text.size()] = 0;
    return true;
}

void NodeDeviceTree::DestroyDeviceInfoList(DeviceInfoSet set)
{
    std::lock_guard<std::mutex> lock(mutex_);
    sets_.erase(reinterpret_cast<uintptr_t>(set));
}

// --- device nodes ---

bool NodeDeviceTree::GetNodeInstanceId(DevNode node, std::string& instanceId)
{
    std::lock_guard<std::mutex> lock(mutex_);
    instanceId.clear();
    DeviceTreeNode found;
    if (!PresentNodeLocked(node, found) || !found.instanceIdReadable) return false;
    if (found.instanceId.size() >= kInstanceIdChars) return false;
    instanceId = found.instanceId;
    return true;
}

bool NodeDeviceTree::GetChild(DevNode node, DevNode& child)
{
    std::lock_guard<std::mutex> lock(mutex_);
    child = kNoDevNode;
    if (ForcedChildLocked(node, child)) return true;
    for (const DeviceTreeNode& n : PresentNodesLocked()) {
        if (n.parent != node || node == kNoDevNode) continue;
        child = n.node;
        return true;
    }
    return false;
}

bool NodeDeviceTree::GetSibling(DevNode node, DevNode& sibling)
{
    std::lock_guard<std::mutex> lock(mutex_);
    sibling = kNoDevNode;
    if (ForcedSiblingLocked(node, sibling)) return true;
    const std::vector<DeviceTreeNode> present = PresentNodesLocked();
    auto self = std::find_if(present.begin(), present.end(), [node](const DeviceTreeNode& n) { return n.node == node; });
    if (self == present.end() || self->parent == kNoDevNode) return false;
    for (auto it = self + 1; it != present.end(); ++it) {
        if (it->parent != self->parent) continue;
        sibling = it->node;
        return true;
    }
    return false;
}

bool NodeDeviceTree::LocateNode(const std::string& instanceId, DevNode& node)
{
    std::lock_guard<std::mutex> lock(mutex_);
    node = kNoDevNode;
    DeviceTreeNode found;
    if (!PresentNodeByIdLocked(instanceId, found)) return false;
    node = found.node;
    return true;
}

// --- lists of a device ID ---

bool NodeDeviceTree::GetVolumeInterfaceListSize(const std::string& deviceId, uint32_t& chars)
{
    std::lock_guard<std::mutex> lock(mutex_);
    chars = 0;
    DeviceTreeNode node;
    if (!PresentNodeByIdLocked(deviceId, node) || !node.interfaceListReadable) return false;
    chars = static_cast<uint32_t>(MultiString(node.volumeInterfaces).size());
    return true;
}

bool NodeDeviceTree::GetVolumeInterfaceList(const std::string& deviceId, std::vector<char>& buffer)
{
    std::lock_guard<std::mutex> lock(mutex_);
    DeviceTreeNode node;
    if (!PresentNodeByIdLocked(deviceId, node) || !node.interfaceListReadable) return false;
    return FillList(node.volumeInterfaces, buffer);
}

bool NodeDeviceTree::GetRemovalRelationsSize(const std::string& deviceId, uint32_t& chars)
{
    std::lock_guard<std::mutex> lock(mutex_);
    chars = 0;
    DeviceTreeNode node;
    if (!PresentNodeByIdLocked(deviceId, node)) return false;
    chars = static_cast<uint32_t>(MultiString(node.removalRelations).size());
    return true;
}

bool NodeDeviceTree::GetRemovalRelations(const std::string& deviceId, std::vector<char>& buffer)
{
    std::lock_guard<std::mutex> lock(mutex_);
    DeviceTreeNode node;
    if (!PresentNodeByIdLocked(deviceId, node)) return false;
    return FillList(node.removalRelations, buffer);
}

// --- volumes ---

std::unique_ptr<IVolumeNameLookup> NodeDeviceTree::ResolveVolumeNameLookup()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (RefusedLocked(TreeRequest::VolumeLookup)) return nullptr;
    ++resolves_;
    ++liveLookups_;
    return std::make_unique<Lookup>(*this);
}

bool NodeDeviceTree::OpenVolume(const std::string& path, DeviceHandle& handle, std::string& errorText)
{
    std::lock_guard<std::mutex> lock(mutex_);
    handle = nullptr;
    errorText.clear();
    openedPaths_.push_back(path);
    if (OpenLocked(path, handle, errorText) && handle != nullptr) return true;
    handle = nullptr;
    return false;
}

void NodeDeviceTree::CloseVolume(DeviceHandle handle)
{
    if (handle == nullptr) return;
    std::lock_guard<std::mutex> lock(mutex_);
    closedHandles_.push_back(handle);
    CloseLocked(handle);
}
