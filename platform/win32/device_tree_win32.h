#pragma once
// The device tree of the Windows machine: SetupAPI, the configuration manager
// and the volume functions of kernel32 (link setupapi).
#include "device/device_tree.h"

class Win32DeviceTree final : public IDeviceTree {
public:
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
};
