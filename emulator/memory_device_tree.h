#pragma once
// A device tree held in memory: nodes with their IDs, capabilities, names,
// volume interfaces and removal relations; the volume names of mount points;
// the volume paths that open. Tests script it node by node (with the faults a
// real device manager shows); the emulated tree builds on it.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "device/node_device_tree.h"

class MemoryDeviceTree : public NodeDeviceTree {
public:
    MemoryDeviceTree() = default;
    ~MemoryDeviceTree() override = default;

    // --- scripting ---
    // Adds a present node after the others (the present-device set lists
    // nodes in this order; children of a node are its siblings in this order).
    DevNode AddNode(const std::string& instanceId, DevNode parent = kNoDevNode, uint32_t capabilities = 0);
    // The scripted node, for changing its fields; the reference holds until
    // the next AddNode or RemoveNode. The node must exist.
    DeviceTreeNode& Node(DevNode node);
    // Takes a node off the tree (its children stay, without a parent).
    void RemoveNode(DevNode node);
    // The volume name that a mount point ("X:\", or an interface path with a
    // backslash appended) resolves to.
    void SetVolumeName(const std::string& mountPoint, const std::string& volumeName);
    void MountLetter(char letter, const std::string& volumeName);
    void UnmountLetter(char letter);
    // Opening this path fails with the text.
    void FailOpen(const std::string& path, const std::string& errorText);
    // Loops as a misbehaving configuration manager answers them.
    void SetChildOverride(DevNode node, DevNode child);
    void SetSiblingOverride(DevNode node, DevNode sibling);
    // Handle values: successive opens return first, first + step, ...
    void SetHandleValues(uintptr_t first, uintptr_t step);
    bool failPresentSet = false;
    bool failCreateSet = false;
    bool failResolve = false;

protected:
    // The hooks answer from the script; a tree that changes by itself
    // overrides them.
    std::vector<DeviceTreeNode> PresentNodesLocked() override;
    bool VolumeNameLocked(const std::string& mountPoint, std::string& volumeName) override;
    // A new handle value unless a failure is scripted.
    bool OpenLocked(const std::string& path, DeviceHandle& handle, std::string& errorText) override;
    bool ForcedChildLocked(DevNode node, DevNode& child) override;
    bool ForcedSiblingLocked(DevNode node, DevNode& sibling) override;
    bool RefusedLocked(TreeRequest request) override;

    // The scripted parts, for the hooks of a derived tree.
    std::vector<DeviceTreeNode> ScriptedNodesLocked() const { return nodes_; }
    bool ScriptedVolumeNameLocked(const std::string& mountPoint, std::string& volumeName) const;

private:
    std::vector<DeviceTreeNode> nodes_;
    DevNode nextNode_ = 1;
    std::map<std::string, std::string> volumeNames_;     // mount point (upper case) -> volume name
    std::map<std::string, std::string> openFailures_;    // path (upper case) -> error text
    std::map<DevNode, DevNode> childOverrides_;
    std::map<DevNode, DevNode> siblingOverrides_;
    uintptr_t nextHandle_ = 0x1000;
    uintptr_t handleStep_ = 4;
};
