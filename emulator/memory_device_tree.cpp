#include "emulator/memory_device_tree.h"

#include <stdexcept>

// --- scripting ---

DevNode MemoryDeviceTree::AddNode(const std::string& instanceId, DevNode parent, uint32_t capabilities)
{
    std::lock_guard<std::mutex> lock(mutex_);
    DeviceTreeNode node;
    node.node = nextNode_++;
    node.instanceId = instanceId;
    node.parent = parent;
    node.capabilities = capabilities;
    nodes_.push_back(node);
    return node.node;
}

DeviceTreeNode& MemoryDeviceTree::Node(DevNode node)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (DeviceTreeNode& n : nodes_)
        if (n.node == node) return n;
    throw std::out_of_range("no such scripted node"); // a fault of the script, never of the port
}

void MemoryDeviceTree::RemoveNode(DevNode node)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(nodes_, [node](const DeviceTreeNode& n) { return n.node == node; });
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

// --- hooks ---

std::vector<DeviceTreeNode> MemoryDeviceTree::PresentNodesLocked()
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

bool MemoryDeviceTree::ForcedChildLocked(DevNode node, DevNode& child)
{
    auto forced = childOverrides_.find(node);
    if (forced == childOverrides_.end()) return false;
    child = forced->second;
    return true;
}

bool MemoryDeviceTree::ForcedSiblingLocked(DevNode node, DevNode& sibling)
{
    auto forced = siblingOverrides_.find(node);
    if (forced == siblingOverrides_.end()) return false;
    sibling = forced->second;
    return true;
}

bool MemoryDeviceTree::RefusedLocked(TreeRequest request)
{
    switch (request) {
    case TreeRequest::PresentSet: return failPresentSet;
    case TreeRequest::EmptySet: return failCreateSet;
    case TreeRequest::VolumeLookup: return failResolve;
    }
    return false;
}
