#pragma once
// The dialog's record of the volumes a discovery tries: one handle slot and
// one path slot per drive letter, by position in the letter list, and the
// device handle every vendor command takes.
#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "device/device_tree.h"

// "\\.\E:" for the letter E.
std::string VolumePathOf(char letter);

// Drops the handles of an earlier discovery: the device handle and every slot
// are nulled first, in one step, so that no later command can pick up a
// handle value once it is closed; then each distinct dropped handle is closed
// once through the tree.
void DropVolumeHandles(IDeviceTree& tree, std::span<DeviceHandle> slots, std::atomic<DeviceHandle>& device);

// Opens the letters in list order until one opens: its handle goes into its
// slot and becomes the device handle, and index becomes its position
// ("Handle=0x%x\n"). A letter that does not open leaves its slot null
// (the system-error line 145 and "No device found!\n"). Letters past the path
// slots are tried with a path of their own; letters past the handle slots are
// not tried (one diagnostic line says so).
void OpenFirstVolume(IDeviceTree& tree, const std::vector<char>& letters, std::span<DeviceHandle> slots,
                     std::span<std::string> paths, std::atomic<DeviceHandle>& device, int32_t& index);
