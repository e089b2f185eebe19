#pragma once
// A device tree answered from a list of nodes: the device-information sets,
// the walk from node to node, the lists of a device ID, the volume-name
// lookup and the opening of volume paths, all as a system's device manager
// answers them. Where the nodes come from (a script, the emulated target,
// the system's own enumeration) is up to the derived tree's hooks.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "device/device_tree.h"

// One device node as such a tree holds it.
struct DeviceTreeNode {
    DevNode node = kNoDevNode;
    std::string instanceId;
    DevNode parent = kNoDevNode;
    uint32_t capabilities = 0;
    std::string friendlyName;                  // empty: the property is missing
    std::string deviceDescription;             // empty: the property is missing
    std::vector<std::string> volumeInterfaces; // interface paths ("\\?\STORAGE#Volume#...")
    std::vector<std::string> removalRelations; // instance IDs
    // Faults a real device manager shows.
    bool capabilitiesReadable = true;
    bool instanceIdReadable = true;            // through the sets and through the node alike
    bool interfaceListReadable = true;
};

class NodeDeviceTree : public IDeviceTree {
public:
    ~NodeDeviceTree() override = default;

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
    // The calls a tree may refuse outright, as a failing system does.
    enum class TreeRequest { PresentSet, EmptySet, VolumeLookup };

    // Hooks; each runs under the tree's lock and must not call the members above.
    // The nodes present now, in set order.
    virtual std::vector<DeviceTreeNode> PresentNodesLocked() = 0;
    // The volume name of a mount point.
    virtual bool VolumeNameLocked(const std::string& mountPoint, std::string& volumeName) = 0;
    // Opens a path: a non-null handle, or false with the system's text.
    virtual bool OpenLocked(const std::string& path, DeviceHandle& handle, std::string& errorText) = 0;
    // Releases a handle OpenLocked returned.
    virtual void CloseLocked(DeviceHandle handle) { (void)handle; }
    // A child or sibling answered regardless of the nodes (a looping walk).
    virtual bool ForcedChildLocked(DevNode node, DevNode& child) { (void)node, (void)child; return false; }
    virtual bool ForcedSiblingLocked(DevNode node, DevNode& sibling) { (void)node, (void)sibling; return false; }
    virtual bool RefusedLocked(TreeRequest request) { (void)request; return false; }

    // Guards the tree and whatever the hooks of a derived tree read.
    std::mutex mutex_;

private:
    class Lookup;
    struct SetData {
        std::vector<DevNode> members;
    };
    SetData* SetLocked(DeviceInfoSet set);
    // The present node of a set member; false when it has left the tree.
    bool MemberLocked(DeviceInfoSet set, const DeviceInfo& device, DeviceTreeNode& node);
    bool PresentNodeLocked(DevNode node, DeviceTreeNode& found);
    bool PresentNodeByIdLocked(const std::string& instanceId, DeviceTreeNode& found);
    static std::vector<char> MultiString(const std::vector<std::string>& texts);
    static bool FillList(const std::vector<std::string>& texts, std::vector<char>& buffer);
    static const std::string& TextOf(const DeviceTreeNode& node, DeviceTextProperty property);

    std::map<uintptr_t, SetData> sets_;
    uintptr_t nextSet_ = 0x5e70;
    std::vector<std::string> openedPaths_;
    std::vector<DeviceHandle> closedHandles_;
    int liveLookups_ = 0;
    int resolves_ = 0;
};

// Upper-case copy (device IDs and paths compare without regard to case).
std::string UpperCaseOf(const std::string& text);
