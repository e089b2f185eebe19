#include "emulator/memory_device_tree.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

std::string UpperCaseOf(const std::string& text)
{
    std::string upper = text;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

// The resolved mount-point function: answers through the tree while it lives.
class MemoryDeviceTree::Lookup final : public IVolumeNameLookup {
public:
    explicit Lookup(MemoryDeviceTree& tree) : tree_(tree) {}
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
    MemoryDeviceTree& tree_;
};

// --- scripting ---

DevNode MemoryDeviceTree::AddNode(const std::string& instanceId, DevNode parent, uint32_t capabilities)
{
    std::lock_guard<std::mutex> lock(mutex_);
    MemoryDeviceNode node;
    node.node = nextNode_++;
    node.instanceId = instanceId;
    node.parent = parent;
    node.capabilities = capabilities;
    nodes_.push_back(node);
    return node.node;
}

MemoryDeviceNode& MemoryDeviceTree::Node(DevNode node)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (MemoryDeviceNode& n : nodes_)
        if (n.node == node) return n;
    throw std::out_of_range("no such scripted node"); // a fault of the script, never of the port
}

void MemoryDeviceTree::RemoveNode(DevNode node)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(nodes_, [node](const MemoryDeviceNode& n) { return n.node == node; });
}

void MemoryDeviceTree::SetVolumeName(const std::string& mountPoint, const std::string& volumeName)
{
    std::lock_guard<std::mutex> lock(mutex_);
    volumeNames_[UpperCaseOf(mountPoint)] = volumeName;
}

void MemoryDeviceTree::MountLetter(char letter, const std::string& volumeName)
{
    SetVolumeName(std::string{letter, ':', '\\'}, volumeName);
}

void MemoryDeviceTree::UnmountLetter(char letter)
{
    std::lock_guard<std::mutex> lock(mutex_);
    volumeNames_.erase(UpperCaseOf(std::string{letter, ':', '\\'}));
}

void MemoryDeviceTree::FailOpen(const std::string& path, const std::string& errorText)
{
    std::lock_guard<std::mutex> lock(mutex_);
    openFailures_[UpperCaseOf(path)] = errorText;
}

void MemoryDeviceTree::SetChildOverride(DevNode node, DevNode child)
{
    std::lock_guard<std::mutex> lock(mutex_);
    childOverrides_[node] = child;
}

void MemoryDeviceTree::SetSiblingOverride(DevNode node, DevNode sibling)
{
    std::lock_guard<std::mutex> lock(mutex_);
    siblingOverrides_[node] = sibling;
}

void MemoryDeviceTree::SetHandleValues(uintptr_t first, uintptr_t step)
{
    std::lock_guard<std::mutex> lock(mutex_);
    nextHandle_ = first;
    handleStep_ = step;
}

// --- records ---

std::vector<std::string> MemoryDeviceTree::OpenedPaths()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return openedPaths_;
}

std::vector<DeviceHandle> MemoryDeviceTree::ClosedHandles()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return closedHandles_;
}

int MemoryDeviceTree::LiveSets()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(sets_.size());
}

int MemoryDeviceTree::LiveLookups()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return liveLookups_;
}

int MemoryDeviceTree::Resolves()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return resolves_;
}

// --- hooks ---

std::vector<MemoryDeviceNode> MemoryDeviceTree::PresentNodesLocked()
{
    return nodes_;
}

bool MemoryDeviceTree::ScriptedVolumeNameLocked(const std::string& mountPoint, std::string& volumeName) const
{
    auto it = volumeNames_.find(UpperCaseOf(mountPoint));
    if (it == volumeNames_.end()) return false;
    volumeName = it->second;
    return true;
}

bool MemoryDeviceTree::VolumeNameLocked(const std::string& mountPoint, std::string& volumeName)
{
    return ScriptedVolumeNameLocked(mountPoint, volumeName);
}

bool MemoryDeviceTree::OpenLocked(const std::string& path, DeviceHandle& handle, std::string& errorText)
{
    auto failure = openFailures_.find(UpperCaseOf(path));
    if (failure != openFailures_.end()) {
        errorText = failure->second;
        return false;
    }
    handle = reinterpret_cast<DeviceHandle>(nextHandle_);
    nextHandle_ += handleStep_;
    return true;
}

// --- helpers ---

MemoryDeviceTree::SetData* MemoryDeviceTree::SetLocked(DeviceInfoSet set)
{
    auto it = sets_.find(reinterpret_cast<uintptr_t>(set));
    return it == sets_.end() ? nullptr : &it->second;
}

bool MemoryDeviceTree::PresentNodeLocked(DevNode node, MemoryDeviceNode& found)
{
    for (const MemoryDeviceNode& n : PresentNodesLocked()) {
        if (n.node != node) continue;
        found = n;
        return true;
    }
    return false;
}

bool MemoryDeviceTree::PresentNodeByIdLocked(const std::string& instanceId, MemoryDeviceNode& found)
{
    const std::string wanted = UpperCaseOf(instanceId);
    for (const MemoryDeviceNode& n : PresentNodesLocked()) {
        if (UpperCaseOf(n.instanceId) != wanted) continue;
        found = n;
        return true;
    }
    return false;
}

bool MemoryDeviceTree::MemberLocked(DeviceInfoSet set, const DeviceInfo& device, MemoryDeviceNode& node)
{
    SetData* data = SetLocked(set);
    if (data == nullptr || device.index >= data->members.size()) return false;
    return PresentNodeLocked(data->members[device.index], node);
}

std::vector<char> MemoryDeviceTree::MultiString(const std::vector<std::string>& texts)
{
    std::vector<char> chars;
    for (const std::string& text : texts) {
        chars.insert(chars.end(), text.begin(), text.end());
        chars.push_back(0);
    }
    chars.push_back(0);
    return chars;
}

bool MemoryDeviceTree::FillList(const std::vector<std::string>& texts, std::vector<char>& buffer)
{
    const std::vector<char> chars = MultiString(texts);
    if (buffer.size() < chars.size()) return false; // the configuration manager's "buffer small"
    std::copy(chars.begin(), chars.end(), buffer.begin());
    return true;
}

const std::string& MemoryDeviceTree::TextOf(const MemoryDeviceNode& node, DeviceTextProperty property)
{
    return property == DeviceTextProperty::FriendlyName ? node.friendlyName : node.deviceDescription;
}

// --- device information sets ---

DeviceInfoSet MemoryDeviceTree::GetPresentDevices()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (failPresentSet) return nullptr;
    SetData data;
    for (const MemoryDeviceNode& n : PresentNodesLocked()) data.members.push_back(n.node);
    const uintptr_t id = nextSet_++;
    sets_[id] = data;
    return reinterpret_cast<DeviceInfoSet>(id);
}

DeviceInfoSet MemoryDeviceTree::CreateDeviceInfoList()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (failCreateSet) return nullptr;
    const uintptr_t id = nextSet_++;
    sets_[id] = SetData{};
    return reinterpret_cast<DeviceInfoSet>(id);
}

bool MemoryDeviceTree::EnumDeviceInfo(DeviceInfoSet set, uint32_t index, DeviceInfo& device)
{
    std::lock_guard<std::mutex> lock(mutex_);
    device = DeviceInfo{};
    SetData* data = SetLocked(set);
    if (data == nullptr || index >= data->members.size()) return false;
    device.index = index;
    device.node = data->members[index];
    return true;
}

bool MemoryDeviceTree::GetDeviceInstanceId(DeviceInfoSet set, const DeviceInfo& device, std::string& instanceId)
{
    std::lock_guard<std::mutex> lock(mutex_);
    instanceId.clear();
    MemoryDeviceNode node;
    if (!MemberLocked(set, device, node) || !node.instanceIdReadable) return false;
    if (node.instanceId.size() >= kInstanceIdChars) return false;
    instanceId = node.instanceId;
    return true;
}

bool MemoryDeviceTree::OpenDeviceInfo(DeviceInfoSet set, const std::string& instanceId)
{
    std::lock_guard<std::mutex> lock(mutex_);
    SetData* data = SetLocked(set);
    MemoryDeviceNode node;
    if (data == nullptr || !PresentNodeByIdLocked(instanceId, node)) return false;
    // Opening a member again returns the member: a set holds a device once.
    if (std::find(data->members.begin(), data->members.end(), node.node) == data->members.end())
        data->members.push_back(node.node);
    return true;
}

bool MemoryDeviceTree::GetDeviceCapabilities(DeviceInfoSet set, const DeviceInfo& device, uint32_t& capabilities)
{
    std::lock_guard<std::mutex> lock(mutex_);
    capabilities = 0;
    MemoryDeviceNode node;
    if (!MemberLocked(set, device, node) || !node.capabilitiesReadable) return false;
    capabilities = node.capabilities;
    return true;
}

bool MemoryDeviceTree::GetTextPropertySize(DeviceInfoSet set, const DeviceInfo& device, DeviceTextProperty property,
                                           uint32_t& requiredBytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    requiredBytes = 0;
    MemoryDeviceNode node;
    if (!MemberLocked(set, device, node) || TextOf(node, property).empty()) return false;
    requiredBytes = static_cast<uint32_t>(TextOf(node, property).size() + 1);
    return true;
}

bool MemoryDeviceTree::ReadTextProperty(DeviceInfoSet set, const DeviceInfo& device, DeviceTextProperty property,
                                        std::vector<char>& buffer)
{
    std::lock_guard<std::mutex> lock(mutex_);
    MemoryDeviceNode node;
    if (!MemberLocked(set, device, node) || TextOf(node, property).empty()) return false;
    const std::string& text = TextOf(node, property);
    if (buffer.size() < text.size() + 1) return false; // insufficient buffer
    std::copy(text.begin(), text.end(), buffer.begin());
    buffer[text.size()] = 0;
    return true;
}

void MemoryDeviceTree::DestroyDeviceInfoList(DeviceInfoSet set)
{
    std::lock_guard<std::mutex> lock(mutex_);
    sets_.erase(reinterpret_cast<uintptr_t>(set));
}

// --- device nodes ---

bool MemoryDeviceTree::GetNodeInstanceId(DevNode node, std::string& instanceId)
{
    std::lock_guard<std::mutex> lock(mutex_);
    instanceId.clear();
    MemoryDeviceNode found;
    if (!PresentNodeLocked(node, found) || !found.instanceIdReadable) return false;
    if (found.instanceId.size() >= kInstanceIdChars) return false;
    instanceId = found.instanceId;
    return true;
}

bool MemoryDeviceTree::GetChild(DevNode node, DevNode& child)
{
    std::lock_guard<std::mutex> lock(mutex_);
    child = kNoDevNode;
    auto forced = childOverrides_.find(node);
    if (forced != childOverrides_.end()) {
        child = forced->second;
        return true;
    }
    for (const MemoryDeviceNode& n : PresentNodesLocked()) {
        if (n.parent != node || node == kNoDevNode) continue;
        child = n.node;
        return true;
    }
    return false;
}

bool MemoryDeviceTree::GetSibling(DevNode node, DevNode& sibling)
{
    std::lock_guard<std::mutex> lock(mutex_);
    sibling = kNoDevNode;
    auto forced = siblingOverrides_.find(node);
    if (forced != siblingOverrides_.end()) {
        sibling = forced->second;
        return true;
    }
    const std::vector<MemoryDeviceNode> present = PresentNodesLocked();
    auto self = std::find_if(present.begin(), present.end(), [node](const MemoryDeviceNode& n) { return n.node == node; });
    if (self == present.end() || self->parent == kNoDevNode) return false;
    for (auto it = self + 1; it != present.end(); ++it) {
        if (it->parent != self->parent) continue;
        sibling = it->node;
        return true;
    }
    return false;
}

bool MemoryDeviceTree::LocateNode(const std::string& instanceId, DevNode& node)
{
    std::lock_guard<std::mutex> lock(mutex_);
    node = kNoDevNode;
    MemoryDeviceNode found;
    if (!PresentNodeByIdLocked(instanceId, found)) return false;
    node = found.node;
    return true;
}

// --- lists of a device ID ---

bool MemoryDeviceTree::GetVolumeInterfaceListSize(const std::string& deviceId, uint32_t& chars)
{
    std::lock_guard<std::mutex> lock(mutex_);
    chars = 0;
    MemoryDeviceNode node;
    if (!PresentNodeByIdLocked(deviceId, node) || !node.interfaceListReadable) return false;
    chars = static_cast<uint32_t>(MultiString(node.volumeInterfaces).size());
    return true;
}

bool MemoryDeviceTree::GetVolumeInterfaceList(const std::string& deviceId, std::vector<char>& buffer)
{
    std::lock_guard<std::mutex> lock(mutex_);
    MemoryDeviceNode node;
    if (!PresentNodeByIdLocked(deviceId, node) || !node.interfaceListReadable) return false;
    return FillList(node.volumeInterfaces, buffer);
}

bool MemoryDeviceTree::GetRemovalRelationsSize(const std::string& deviceId, uint32_t& chars)
{
    std::lock_guard<std::mutex> lock(mutex_);
    chars = 0;
    MemoryDeviceNode node;
    if (!PresentNodeByIdLocked(deviceId, node)) return false;
    chars = static_cast<uint32_t>(MultiString(node.removalRelations).size());
    return true;
}

bool MemoryDeviceTree::GetRemovalRelations(const std::string& deviceId, std::vector<char>& buffer)
{
    std::lock_guard<std::mutex> lock(mutex_);
    MemoryDeviceNode node;
    if (!PresentNodeByIdLocked(deviceId, node)) return false;
    return FillList(node.removalRelations, buffer);
}

// --- volumes ---

std::unique_ptr<IVolumeNameLookup> MemoryDeviceTree::ResolveVolumeNameLookup()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (failResolve) return nullptr;
    ++resolves_;
    ++liveLookups_;
    return std::make_unique<Lookup>(*this);
}

bool MemoryDeviceTree::OpenVolume(const std::string& path, DeviceHandle& handle, std::string& errorText)
{
    std::lock_guard<std::mutex> lock(mutex_);
    handle = nullptr;
    errorText.clear();
    openedPaths_.push_back(path);
    if (OpenLocked(path, handle, errorText) && handle != nullptr) return true;
    handle = nullptr;
    return false;
}

void MemoryDeviceTree::CloseVolume(DeviceHandle handle)
{
    if (handle == nullptr) return;
    std::lock_guard<std::mutex> lock(mutex_);
    closedHandles_.push_back(handle);
    CloseLocked(handle);
}
