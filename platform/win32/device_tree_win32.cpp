// The device tree through SetupAPI and the configuration manager.
//
// Every output is set before each call: under Wine some configuration-manager
// calls report success without filling their outputs, and a value left over
// from an earlier call must never pass for an answer.
#include "platform/win32/device_tree_win32.h"

#include "device/diagnostics.h"
#include "platform/win32/system_libraries_win32.h"

#include <cstring>
#include <string>

#include <windows.h>
// The device-management headers need windows.h first.
#include <cfgmgr32.h>
#include <setupapi.h>

#include "platform/win32/volume_interface_win32.h"

namespace {

using GetVolumeNameFunction = BOOL(WINAPI*)(LPCSTR mountPoint, LPSTR volumeName, DWORD length);

HDEVINFO SystemSet(DeviceInfoSet set)
{
    return static_cast<HDEVINFO>(set);
}

// The member's SP_DEVINFO_DATA, found again by its index.
bool MemberData(DeviceInfoSet set, const DeviceInfo& device, SP_DEVINFO_DATA& data)
{
    ZeroMemory(&data, sizeof data);
    data.cbSize = sizeof data;
    data.DevInst = kNoDevNode;
    if (set == nullptr) return false;
    return SetupDiEnumDeviceInfo(SystemSet(set), device.index, &data) != FALSE;
}

DWORD PropertyCode(DeviceTextProperty property)
{
    return property == DeviceTextProperty::FriendlyName ? SPDRP_FRIENDLYNAME : SPDRP_DEVICEDESC;
}

// An ID read into a buffer of kInstanceIdChars characters; false when the
// text fills it (it was cut).
bool TakeInstanceId(const char (&buffer)[kInstanceIdChars], std::string& instanceId)
{
    const size_t length = strnlen(buffer, kInstanceIdChars);
    if (length == 0 || length >= kInstanceIdChars) return false;
    instanceId.assign(buffer, length);
    return true;
}

std::string SystemMessageText(DWORD error)
{
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    // As the system gives it, line break included.
    std::string message(text, length < sizeof text ? length : 0);
    if (message.empty()) message = "Error " + std::to_string(error);
    return message;
}

// The function of kernel32, looked up through the system libraries.
class Kernel32VolumeNameLookup final : public IVolumeNameLookup {
public:
    explicit Kernel32VolumeNameLookup(GetVolumeNameFunction function) : function_(function) {}

    bool GetVolumeNameForVolumeMountPoint(const std::string& mountPoint, std::string& volumeName) override
    {
        volumeName.clear();
        char name[kVolumePathChars] = {};
        if (!function_(mountPoint.c_str(), name, kVolumePathChars)) return false;
        volumeName.assign(name, strnlen(name, kVolumePathChars));
        return !volumeName.empty();
    }

private:
    GetVolumeNameFunction function_;
};

} // namespace

// --- device information sets ---

DeviceInfoSet Win32DeviceTree::GetPresentDevices()
{
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) return nullptr;
    return static_cast<DeviceInfoSet>(set);
}

DeviceInfoSet Win32DeviceTree::CreateDeviceInfoList()
{
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE) return nullptr;
    return static_cast<DeviceInfoSet>(set);
}

bool Win32DeviceTree::EnumDeviceInfo(DeviceInfoSet set, uint32_t index, DeviceInfo& device)
{
    device = DeviceInfo{};
    SP_DEVINFO_DATA data;
    if (!MemberData(set, DeviceInfo{index, kNoDevNode}, data)) return false;
    device.index = index;
    device.node = data.DevInst;
    return true;
}

bool Win32DeviceTree::GetDeviceInstanceId(DeviceInfoSet set, const DeviceInfo& device, std::string& instanceId)
{
    instanceId.clear();
    SP_DEVINFO_DATA data;
    if (!MemberData(set, device, data)) return false;
    char buffer[kInstanceIdChars] = {};
    DWORD required = 0;
    if (!SetupDiGetDeviceInstanceIdA(SystemSet(set), &data, buffer, kInstanceIdChars, &required)) return false;
    return TakeInstanceId(buffer, instanceId);
}

bool Win32DeviceTree::OpenDeviceInfo(DeviceInfoSet set, const std::string& instanceId)
{
    if (set == nullptr) return false;
    return SetupDiOpenDeviceInfoA(SystemSet(set), instanceId.c_str(), nullptr, 0, nullptr) != FALSE;
}

bool Win32DeviceTree::GetDeviceCapabilities(DeviceInfoSet set, const DeviceInfo& device, uint32_t& capabilities)
{
    capabilities = 0;
    SP_DEVINFO_DATA data;
    if (!MemberData(set, device, data)) return false;
    DWORD value = 0;
    DWORD type = 0;
    DWORD required = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(SystemSet(set), &data, SPDRP_CAPABILITIES, &type,
                                           reinterpret_cast<PBYTE>(&value), sizeof value, &required))
        return false;
    capabilities = value;
    return true;
}

bool Win32DeviceTree::GetTextPropertySize(DeviceInfoSet set, const DeviceInfo& device, DeviceTextProperty property,
                                          uint32_t& requiredBytes)
{
    requiredBytes = 0;
    SP_DEVINFO_DATA data;
    if (!MemberData(set, device, data)) return false;
    DWORD required = 0;
    SetLastError(ERROR_SUCCESS);
    const BOOL read = SetupDiGetDeviceRegistryPropertyA(SystemSet(set), &data, PropertyCode(property), nullptr,
                                                        nullptr, 0, &required);
    if (!read && GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    requiredBytes = required;
    return true;
}

bool Win32DeviceTree::ReadTextProperty(DeviceInfoSet set, const DeviceInfo& device, DeviceTextProperty property,
                                       std::vector<char>& buffer)
{
    SP_DEVINFO_DATA data;
    if (buffer.empty() || !MemberData(set, device, data)) return false;
    DWORD type = 0;
    DWORD required = 0;
    return SetupDiGetDeviceRegistryPropertyA(SystemSet(set), &data, PropertyCode(property), &type,
                                             reinterpret_cast<PBYTE>(buffer.data()),
                                             static_cast<DWORD>(buffer.size()), &required) != FALSE;
}

void Win32DeviceTree::DestroyDeviceInfoList(DeviceInfoSet set)
{
    if (set != nullptr) SetupDiDestroyDeviceInfoList(SystemSet(set));
}

// --- device nodes ---

bool Win32DeviceTree::GetNodeInstanceId(DevNode node, std::string& instanceId)
{
    instanceId.clear();
    char buffer[kInstanceIdChars] = {};
    if (CM_Get_Device_ID_ExA(node, buffer, kInstanceIdChars, 0, nullptr) != CR_SUCCESS) return false;
    return TakeInstanceId(buffer, instanceId);
}

bool Win32DeviceTree::GetChild(DevNode node, DevNode& child)
{
    child = kNoDevNode;
    DEVINST found = kNoDevNode; // stays so when a call reports success without an answer
    if (CM_Get_Child(&found, node, 0) != CR_SUCCESS || found == kNoDevNode) return false;
    child = found;
    return true;
}

bool Win32DeviceTree::GetSibling(DevNode node, DevNode& sibling)
{
    sibling = kNoDevNode;
    DEVINST found = kNoDevNode; // stays so when a call reports success without an answer
    if (CM_Get_Sibling(&found, node, 0) != CR_SUCCESS || found == kNoDevNode) return false;
    sibling = found;
    return true;
}

bool Win32DeviceTree::LocateNode(const std::string& instanceId, DevNode& node)
{
    node = kNoDevNode;
    std::string id = instanceId; // the call takes a writable text
    DEVINST found = kNoDevNode; // stays so when a call reports success without an answer
    if (CM_Locate_DevNodeA(&found, id.data(), CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS || found == kNoDevNode)
        return false;
    node = found;
    return true;
}

// --- lists of a device ID ---

bool Win32DeviceTree::GetVolumeInterfaceListSize(const std::string& deviceId, uint32_t& chars)
{
    chars = 0;
    std::string id = deviceId;
    GUID volumeClass = kVolumeInterfaceGuid; // the calls take a non-const pointer
    ULONG length = 0;
    if (CM_Get_Device_Interface_List_SizeA(&length, &volumeClass, id.data(), CM_GET_DEVICE_INTERFACE_LIST_PRESENT)
        != CR_SUCCESS)
        return false;
    chars = length;
    return true;
}

bool Win32DeviceTree::GetVolumeInterfaceList(const std::string& deviceId, std::vector<char>& buffer)
{
    if (buffer.empty()) return false;
    std::string id = deviceId;
    GUID volumeClass = kVolumeInterfaceGuid; // the calls take a non-const pointer
    return CM_Get_Device_Interface_List_ExA(&volumeClass, id.data(), buffer.data(), static_cast<ULONG>(buffer.size()),
                                            0, nullptr)
           == CR_SUCCESS;
}

bool Win32DeviceTree::GetRemovalRelationsSize(const std::string& deviceId, uint32_t& chars)
{
    chars = 0;
    ULONG length = 0;
    if (CM_Get_Device_ID_List_SizeA(&length, deviceId.c_str(), CM_GETIDLIST_FILTER_REMOVALRELATIONS) != CR_SUCCESS)
        return false;
    chars = length;
    return true;
}

bool Win32DeviceTree::GetRemovalRelations(const std::string& deviceId, std::vector<char>& buffer)
{
    if (buffer.empty()) return false;
    return CM_Get_Device_ID_ListA(deviceId.c_str(), buffer.data(), static_cast<ULONG>(buffer.size()),
                                  CM_GETIDLIST_FILTER_REMOVALRELATIONS)
           == CR_SUCCESS;
}

// --- volumes ---

std::unique_ptr<IVolumeNameLookup> Win32DeviceTree::ResolveVolumeNameLookup()
{
    const auto function =
        SystemLibraryFunction<GetVolumeNameFunction>(SystemLibrary::Kernel32, "GetVolumeNameForVolumeMountPointA");
    if (function == nullptr) return nullptr;
    return std::make_unique<Kernel32VolumeNameLookup>(function);
}

bool Win32DeviceTree::OpenVolume(const std::string& path, DeviceHandle& handle, std::string& errorText)
{
    handle = nullptr;
    errorText.clear();
    HANDLE volume = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (volume == INVALID_HANDLE_VALUE || volume == nullptr) {
        const DWORD error = GetLastError();
        errorText = SystemMessageText(error);
        // Raw access to a volume needs an administrator: say so in words a user can act on.
        if (error == ERROR_ACCESS_DENIED)
            DiagPrintf("No right to open %s for reading and writing: start the program as administrator "
                       "(right-click it, \"Run as administrator\").\n",
                       path.c_str());
        return false;
    }
    handle = volume;
    return true;
}

void Win32DeviceTree::CloseVolume(DeviceHandle handle)
{
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
}
