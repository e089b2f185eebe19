#pragma once
// The machine's device tree as one console run sees it: with --device, only
// the chosen target. The window's discovery walks the tree unchanged; this
// layer hides the others from it. A target at another USB port gets an
// instance ID that no longer names the target's USB identifiers (and the
// hidden ID is translated back wherever it is passed in again), and a volume
// with another drive letter does not open. A choice by drive letter holds on
// to the USB port of the target that letter first opened: after a
// re-enumeration the target keeps its port but may get another letter.
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "device/device_tree.h"

// "E:" (any case, "E" and "E:\" too) as the letter 'E'; 0 for anything else.
char DriveLetterChoice(const std::string& text);

class ChosenTargetTree final : public IDeviceTree {
public:
    // The USB port of a node ("" when the system does not tell it).
    using PortOfNode = std::function<std::string(DevNode)>;
    // choice: "" for every target, a drive letter, or a USB port.
    ChosenTargetTree(IDeviceTree& inner, const std::string& choice, PortOfNode portOf);

    // The letter ("E:") a handle of this tree was opened on, "" for none.
    std::string NodeOf(DeviceHandle handle);
    // The chosen (or latched) port, else the port of the only target seen;
    // "" when neither is known.
    std::string Port();

    DeviceInfoSet GetPresentDevices() override { return inner_.GetPresentDevices(); }
    DeviceInfoSet CreateDeviceInfoList() override { return inner_.CreateDeviceInfoList(); }
    bool EnumDeviceInfo(DeviceInfoSet set, uint32_t index, DeviceInfo& device) override
    {
        return inner_.EnumDeviceInfo(set, index, device);
    }
    bool GetDeviceInstanceId(DeviceInfoSet set, const DeviceInfo& device, std::string& instanceId) override;
    bool OpenDeviceInfo(DeviceInfoSet set, const std::string& instanceId) override
    {
        return inner_.OpenDeviceInfo(set, Real(instanceId));
    }
    bool GetDeviceCapabilities(DeviceInfoSet set, const DeviceInfo& device, uint32_t& capabilities) override
    {
        return inner_.GetDeviceCapabilities(set, device, capabilities);
    }
    bool GetTextPropertySize(DeviceInfoSet set, const DeviceInfo& device, DeviceTextProperty property,
                             uint32_t& requiredBytes) override
    {
        return inner_.GetTextPropertySize(set, device, property, requiredBytes);
    }
    bool ReadTextProperty(DeviceInfoSet set, const DeviceInfo& device, DeviceTextProperty property,
                          std::vector<char>& buffer) override
    {
        return inner_.ReadTextProperty(set, device, property, buffer);
    }
    void DestroyDeviceInfoList(DeviceInfoSet set) override { inner_.DestroyDeviceInfoList(set); }
    bool GetNodeInstanceId(DevNode node, std::string& instanceId) override;
    bool GetChild(DevNode node, DevNode& child) override { return inner_.GetChild(node, child); }
    bool GetSibling(DevNode node, DevNode& sibling) override { return inner_.GetSibling(node, sibling); }
    bool LocateNode(const std::string& instanceId, DevNode& node) override
    {
        return inner_.LocateNode(Real(instanceId), node);
    }
    bool GetVolumeInterfaceListSize(const std::string& deviceId, uint32_t& chars) override
    {
        return inner_.GetVolumeInterfaceListSize(Real(deviceId), chars);
    }
    bool GetVolumeInterfaceList(const std::string& deviceId, std::vector<char>& buffer) override
    {
        return inner_.GetVolumeInterfaceList(Real(deviceId), buffer);
    }
    bool GetRemovalRelationsSize(const std::string& deviceId, uint32_t& chars) override
    {
        return inner_.GetRemovalRelationsSize(Real(deviceId), chars);
    }
    bool GetRemovalRelations(const std::string& deviceId, std::vector<char>& buffer) override
    {
        return inner_.GetRemovalRelations(Real(deviceId), buffer);
    }
    std::unique_ptr<IVolumeNameLookup> ResolveVolumeNameLookup() override { return inner_.ResolveVolumeNameLookup(); }
    bool OpenVolume(const std::string& path, DeviceHandle& handle, std::string& errorText) override;
    void CloseVolume(DeviceHandle handle) override;

private:
    // The ID discovery sees for a node: hidden when it is the target at another port.
    void Screen(DevNode node, std::string& instanceId);
    std::string Real(const std::string& instanceId);

    IDeviceTree& inner_;
    PortOfNode portOf_;
    char letter_ = 0;   // chosen by drive letter
    std::mutex mutex_;  // what follows
    std::string port_;  // chosen (or latched) port; "" for any
    std::string lastTargetPort_;
    std::set<std::string> portsSeen_;
    std::map<std::string, std::string> hidden_; // shown ID -> real ID
    std::map<DeviceHandle, char> letters_;
};
