#pragma once
// Finding the drive letters of the target's volumes: every present removable
// device is walked from its node through its children and along its removal
// relations down to the volume nodes, whose volume interfaces are matched
// against the drive roots while the last USB device met is the target.
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "device/device_tree.h"

// The drive letters found for the target in the order found; cleared by each
// discovery. A letter repeats when its volume is reached along two paths.
extern std::vector<char> g_driveLetters;
// Whether the last USB device node met ("USB\VID...") is the target; false at
// the start of each enumeration and left alone by nodes of other kinds.
extern bool g_bHardwareIdMatch;
// Every present removable device; exists only during one enumeration.
extern DeviceInfoSet g_hRemovableSet;

// The objects above are shared by every caller: a discovery holds this from
// its start to its end. Never taken on the window thread (discovery waits for
// that thread in its data exchange).
std::mutex& DiscoveryMutex();

// What one enumeration walks with.
struct VolumeSearch {
    IDeviceTree& tree;
    // "USB\VID_0416&PID_B190": the first 21 characters of the target's instance ID.
    const std::string& hardwareId;
    // Nodes met since the walk of the current member began. A node is walked
    // once per member, so that a device tree that loops (as the configuration
    // manager under Wine can) still ends; a member reached again as a member
    // of its own is walked again.
    std::set<DevNode> walked;
};

// Fills g_driveLetters with the letters of the target's volumes (appending to
// what the list holds). Writes "Instance id %s\n\n" for each removable device
// added to the set and "Device Descriptor %s\n" for each member described.
void EnumerateRemovableVolumes(IDeviceTree& tree, const std::string& hardwareId);

// Whether a member of set has the removable capability.
bool IsRemovableDevice(IDeviceTree& tree, DeviceInfoSet set, const DeviceInfo& device);

// Whether some member of g_hRemovableSet has this node.
bool IsInRemovableSet(IDeviceTree& tree, DevNode node);

// Walks a member's tree (collecting letters), then returns its description:
// its display name, with " - Drive (E:,F:)" naming every letter found so far
// when there are any, cut to 199 characters.
std::string DescribeDevice(VolumeSearch& search, DeviceInfoSet set, const DeviceInfo& device);

// Collects the letters of a node, then walks its children that are not
// members of g_hRemovableSet (those are walked in their turn).
void WalkDeviceNode(VolumeSearch& search, DevNode node);

// The letters of one node's volume interfaces, then the walk of its removal
// relations. A node whose ID cannot be read contributes nothing.
void CollectVolumeLetters(VolumeSearch& search, DevNode node);

// At a USB device node ("USB\VID", any case): g_bHardwareIdMatch becomes
// whether its first 21 characters equal hardwareId (any case).
void UpdateHardwareIdMatch(const std::string& instanceId, const std::string& hardwareId);

// The texts of a multi-string buffer up to the empty one that ends it; an
// unterminated text at the buffer's end is incomplete and left out.
std::vector<std::string> SplitMultiString(const std::vector<char>& buffer);
