#pragma once
// A device tree held in memory: nodes with their IDs, capabilities, names,
// volume interfaces and removal relations; the volume names of mount points;
// the volume paths that open. Tests script it node by node (with the faults a
// real device manager shows); the emulated tree builds on it.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "device/device_tree.h"

// One device node as the memory tree holds it.
struct MemoryDeviceNode {
    DevNode node = kNoDevNode;
    std::string instanceId;
    DevNode parent = kNoDevNode;
    uint32_t capabilities = 0;
    std::string friendlyName;                  // empty: the property is missing
    std::string deviceDescription;             // empty: the property is missing
    std::vector<std::string> volumeInterfaces; // interface paths ("\\?\STORAGE#Volume#...")
    std::vector<std::string> removalRelations; // instance IDs
    // Faults.
    bool capabilitiesReadable = true;
    bool instanceIdReadable = true;            // through the sets and through the node alike
    bool interfaceListReadable = true;
};

class MemoryDeviceTree : public IDeviceTree {
public:
    MemoryDeviceTree() = default;
    ~MemoryDeviceTree() override = default;

    // --- scripting ---
    // Adds a present node after the others (the present-device set lists
    // nodes in this order; children of a node are its siblings in this order).
    DevNode AddNode(const std::string& instanceId, DevNode parent = kNoDevNode, uint32_t capabilities = 0);
    // The scripted node, for changing its fields; the reference holds until
    // the next AddNode or RemoveNode. The node must exist.
    MemoryDeviceNode& Node(DevNode node);
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

    // --- records ---
    std::vector<std::string> OpenedPaths();   // every open tried, in order
    std::vector<DeviceHandle> ClosedHandles(); // every close, in order
    int LiveSets();                           // sets made and not destroyed
    int LiveLookups();                        // resolved lookups not released
    int Resolves();                           // lookups resolved so far

    // --- IDeviceTree ---
    DeviceInfoSet GetPresentDevices() override;
    DeviceInfoSet CreateDeviceInfoList() override;
    bool EnumDeviceInfo(DeviceInfoSet set, uint32_t index, DeviceInfo& device) override;
    bool GetDeviceInstanceId(DeviceInfoSet set, const DeviceInfo& device, std::string& instanceId) override;
    bool OpenDeviceInfo(DeviceInfoSet set, const std::string& instanceId) override;
    bool GetDeviceCapabilities(DeviceInfoSet set, const DeviceInfo& device, uint32_t& capabilities) override;
    bool GetTextPropertySize(DeviceInfoSet set, const DeviceInfo& device, DeviceTextProperty property,
                             uint32_t& requiredBytes) override;
    bool ReadTextProperty(DeviceInfoSet set, const DeviceInfo& device, DeviceTextProperty property,
                          std::vector<char>& buffer) override;
    void DestroyDeviceInfoList(DeviceInfoSet set) override;
    bool GetNodeInstanceId(DevNode node, std::string& instanceId) override;
    bool GetChild(DevNode node, DevNode& child) override;
    bool GetSibling(DevNode node, DevNode& sibling) override;
    bool LocateNode(const std::string& instanceId, DevNode& node) override;
    bool GetVolumeInterfaceListSize(const std::string& deviceId, uint32_t& chars) override;
    bool GetVolumeInterfaceList(const std::string& deviceId, std::vector<char>& buffer) override;
    bool GetRemovalRelationsSize(const std::string& deviceId, uint32_t& chars) override;
    bool GetRemovalRelations(const std::string& deviceId, std::vector<char>& buffer) override;
    std::unique_ptr<IVolumeNameLookup> ResolveVolumeNameLookup() override;
    bool OpenVolume(const std::string& path, DeviceHandle& handle, std::string& errorText) override;
    void CloseVolume(DeviceHandle handle) override;

protected:
    // Hooks of a tree that changes by itself; each runs under the tree's lock
    // and must not call the members above.
    // The nodes present now, in set order: by default the scripted ones.
    virtual std::vector<MemoryDeviceNode> PresentNodesLocked();
    // The volume name of a mount point: by default the scripted ones.
    virtual bool VolumeNameLocked(const std::string& mountPoint, std::string& volumeName);
    // Opens a path: by default a new handle value unless a failure is scripted.
    virtual bool OpenLocked(const std::string& path, DeviceHandle& handle, std::string& errorText);
    // Releases a handle OpenLocked returned: by default nothing to do.
    virtual void CloseLocked(DeviceHandle handle) { (void)handle; }

    // The scripted parts, for the hooks of a derived tree.
    std::vector<MemoryDeviceNode> ScriptedNodesLocked() const { return nodes_; }
    bool ScriptedVolumeNameLocked(const std::string& mountPoint, std::string& volumeName) const;

private:
    class Lookup;
    struct SetData {
        std::vector<DevNode> members;
    };
    SetData* SetLocked(DeviceInfoSet set);
    // The present node of a set member; null when it has left the tree.
    bool MemberLocked(DeviceInfoSet set, const DeviceInfo& device, MemoryDeviceNode& node);
    bool PresentNodeLocked(DevNode node, MemoryDeviceNode& found);
    bool PresentNodeByIdLocked(const std::string& instanceId, MemoryDeviceNode& found);
    static std::vector<char> MultiString(const std::vector<std::string>& texts);
    static bool FillList(const std::vector<std::string>& texts, std::vector<char>& buffer);
    static const std::string& TextOf(const MemoryDeviceNode& node, DeviceTextProperty property);

    std::mutex mutex_;
    std::vector<MemoryDeviceNode> nodes_;
    DevNode nextNode_ = 1;
    std::map<std::string, std::string> volumeNames_;     // mount point (upper case) -> volume name
    std::map<std::string, std::string> openFailures_;    // path (upper case) -> error text
    std::map<DevNode, DevNode> childOverrides_;
    std::map<DevNode, DevNode> siblingOverrides_;
    std::map<uintptr_t, SetData> sets_;
    uintptr_t nextSet_ = 0x5e70;
    uintptr_t nextHandle_ = 0x1000;
    uintptr_t handleStep_ = 4;
    std::vector<std::string> openedPaths_;
    std::vector<DeviceHandle> closedHandles_;
    int liveLookups_ = 0;
    int resolves_ = 0;
};

// Upper-case copy (device IDs and paths compare without regard to case).
std::string UpperCaseOf(const std::string& text);
