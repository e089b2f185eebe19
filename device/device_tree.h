#pragma once
// The device-tree port: what discovery asks of the system's device manager
// (SetupAPI sets and properties, configuration-manager nodes and lists, volume
// names of mount points) and the opening of a volume path.
//
// Backends: Win32 (the real calls), the emulated tree of the emulated target,
// and the fake tree of the tests.
//
// Rules shared by every member: failures are returned as false (or a null
// set), never thrown; an output is meaningful only when the call succeeded;
// texts are single-byte strings without their terminating zero. Members are
// called by one discovery at a time, but must not crash when called from any
// thread.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/scsi_pass_through.h"

// A device node of the configuration manager (a DEVINST). Wine numbers its
// nodes from 0, so "no node" is the value no system hands out.
using DevNode = uint32_t;
constexpr DevNode kNoDevNode = 0xFFFFFFFF;

// A device information set (an HDEVINFO). Null is no set.
struct DeviceInfoSetObject;
using DeviceInfoSet = DeviceInfoSetObject*;

// One member of a device information set, as enumerating the set returns it.
// The index names the member in its set for the calls that read its
// properties; the node is its device node.
struct DeviceInfo {
    uint32_t index = 0;
    DevNode node = kNoDevNode;
};

// The two text properties discovery reads for a display name.
enum class DeviceTextProperty { FriendlyName, DeviceDescription };

// Capability bit of a device that can be removed (CM_DEVCAP_REMOVABLE).
constexpr uint32_t kDevCapRemovable = 0x4;

// Device instance IDs are read into buffers of this many characters (the
// terminating zero included): a longer ID cannot be read.
constexpr uint32_t kInstanceIdChars = 200;
// Volume names and volume paths use buffers of this many characters.
constexpr uint32_t kVolumePathChars = 260;

// GetVolumeNameForVolumeMountPointA as resolved from the system library. The
// library stays loaded while this object lives; destroying it releases it.
class IVolumeNameLookup {
public:
    virtual ~IVolumeNameLookup() = default;
    // The unique volume name ("\\?\Volume{...}\") of a mount point. The mount
    // point must end with a backslash: a volume interface path with one
    // appended, or a drive root "X:\". False when the mount point is not
    // mounted or names no volume.
    virtual bool GetVolumeNameForVolumeMountPoint(const std::string& mountPoint, std::string& volumeName) = 0;
};

class IDeviceTree {
public:
    virtual ~IDeviceTree() = default;

    // --- device information sets (SetupAPI) ---

    // A new set of every present device of every class
    // (SetupDiGetClassDevsA, DIGCF_PRESENT | DIGCF_ALLCLASSES). Null on failure.
    virtual DeviceInfoSet GetPresentDevices() = 0;
    // A new empty set, of no class (SetupDiCreateDeviceInfoList). Null on failure.
    virtual DeviceInfoSet CreateDeviceInfoList() = 0;
    // The member at index (from 0) of set (SetupDiEnumDeviceInfo). False past
    // the last member: enumeration goes by index until this fails.
    virtual bool EnumDeviceInfo(DeviceInfoSet set, uint32_t index, DeviceInfo& device) = 0;
    // The instance ID of a member (SetupDiGetDeviceInstanceIdA into
    // kInstanceIdChars characters). False when it cannot be read or is longer.
    virtual bool GetDeviceInstanceId(DeviceInfoSet set, const DeviceInfo& device, std::string& instanceId) = 0;
    // Adds the device with this instance ID to set, at its end
    // (SetupDiOpenDeviceInfoA, no window, no flags). False when the ID names
    // no device or the device cannot be added.
    virtual bool OpenDeviceInfo(DeviceInfoSet set, const std::string& instanceId) = 0;
    // The SPDRP_CAPABILITIES property of a member, its 4 bytes as a number
    // (kDevCapRemovable and the other CM_DEVCAP_ bits). False when unreadable.
    virtual bool GetDeviceCapabilities(DeviceInfoSet set, const DeviceInfo& device, uint32_t& capabilities) = 0;
    // Size query of a text property (SPDRP_FRIENDLYNAME, SPDRP_DEVICEDESC):
    // the bytes a read needs, its terminating zero included. The system's
    // "insufficient buffer" answer to the query is the normal success. False
    // when the device has no such property.
    virtual bool GetTextPropertySize(DeviceInfoSet set, const DeviceInfo& device, DeviceTextProperty property,
                                     uint32_t& requiredBytes) = 0;
    // Reads a text property into buffer, at most buffer.size() bytes; the
    // caller zeroes the buffer first. The text may lack its terminating zero
    // when the buffer is too small. False when the property cannot be read.
    virtual bool ReadTextProperty(DeviceInfoSet set, const DeviceInfo& device, DeviceTextProperty property,
                                  std::vector<char>& buffer) = 0;
    // Releases a set made by GetPresentDevices or CreateDeviceInfoList
    // (SetupDiDestroyDeviceInfoList). A null set is ignored.
    virtual void DestroyDeviceInfoList(DeviceInfoSet set) = 0;

    // --- device nodes (configuration manager) ---

    // The instance ID of a node (CM_Get_Device_ID_ExA into kInstanceIdChars
    // characters, no flags). False when it cannot be read or is longer.
    virtual bool GetNodeInstanceId(DevNode node, std::string& instanceId) = 0;
    // The first child of a node (CM_Get_Child). False when it has none.
    virtual bool GetChild(DevNode node, DevNode& child) = 0;
    // The next sibling of a node (CM_Get_Sibling). False after the last one.
    // A backend may loop back to an earlier sibling: callers guard against it.
    virtual bool GetSibling(DevNode node, DevNode& sibling) = 0;
    // The node of an instance ID (CM_Locate_DevNodeA, normal flags). False
    // when no present node has that ID.
    virtual bool LocateNode(const std::string& instanceId, DevNode& node) = 0;

    // --- lists of a device ID (configuration manager) ---
    // Each list is a multi-string: zero-terminated texts followed by an empty
    // one. Its size is counted in characters, every zero included, so an
    // empty list has size 1. A fetch fills at most buffer.size() characters;
    // the caller zeroes the buffer first and reads no further than its end.

    // Size of the list of present GUID_DEVINTERFACE_VOLUME interface paths of
    // a device (CM_Get_Device_Interface_List_SizeA, ..._LIST_PRESENT).
    virtual bool GetVolumeInterfaceListSize(const std::string& deviceId, uint32_t& chars) = 0;
    // The list itself (CM_Get_Device_Interface_List_ExA, no flags).
    virtual bool GetVolumeInterfaceList(const std::string& deviceId, std::vector<char>& buffer) = 0;
    // Size of the list of instance IDs of a device's removal relations
    // (CM_Get_Device_ID_List_SizeA, CM_GETIDLIST_FILTER_REMOVALRELATIONS).
    virtual bool GetRemovalRelationsSize(const std::string& deviceId, uint32_t& chars) = 0;
    // The list itself (CM_Get_Device_ID_ListA, same filter).
    virtual bool GetRemovalRelations(const std::string& deviceId, std::vector<char>& buffer) = 0;

    // --- volumes ---

    // Resolves GetVolumeNameForVolumeMountPointA anew (the system library is
    // loaded for the lookup and released when the result is destroyed).
    // Null when the library or the function cannot be found.
    virtual std::unique_ptr<IVolumeNameLookup> ResolveVolumeNameLookup() = 0;
    // Opens a volume path such as "\\.\E:" for reading and writing, sharing
    // reading and writing with others, opening only what exists. On success
    // handle is a non-null handle for the pass-through port, to be released
    // with CloseVolume. On failure handle is null and errorText holds the
    // system's message text of the error, without its trailing line break.
    virtual bool OpenVolume(const std::string& path, DeviceHandle& handle, std::string& errorText) = 0;
    // Releases a handle that OpenVolume returned. A null handle is ignored.
    virtual void CloseVolume(DeviceHandle handle) = 0;
};
