#pragma once
// The device tree of a machine with the emulated target plugged in: while the
// target is on the bus it shows as a removable USB device
// "USB\VID_0416&PID_B190\<serial>" with a disk child whose removal relations
// name the volume node; the volume is mounted at one drive letter, and its
// volume name changes with each enumeration of the target. When the target
// leaves the bus its nodes and its letter go; opening "\\.\<letter>:" opens a
// session on the target's current enumeration.
//
// The machine also has a system volume at C: (never the target's), and on
// request a second USB stick of another maker at its own letter.
//
// Every call asks the target whether it is present, which may deliver the
// target's bus notices on the calling thread: a bus listener must not call
// back into this tree.
#include <mutex>
#include <set>
#include <string>

#include "emulator/emulated_target.h"
#include "emulator/memory_device_tree.h"

struct EmulatedTreeOptions {
    char targetLetter = 'E';
    std::string serial = "VANE0000000001";
    bool otherUsbStick = false; // "USB\VID_0781&PID_5567\..." at otherStickLetter
    char otherStickLetter = 'F';
    // The system gives the target's volume its letter this long after the
    // target arrives on the bus (a slow mount); the volume itself is there
    // at once. The target that is on the bus from the start has its letter.
    uint32_t letterDelayMs = 0;
};

class EmulatedDeviceTree final : public MemoryDeviceTree {
public:
    explicit EmulatedDeviceTree(EmulatedTarget& target, EmulatedTreeOptions options = {});

    // The IDs and names of the target's nodes in its current enumeration.
    std::string TargetUsbId() const;
    std::string TargetDiskId() const;
    std::string TargetVolumeId() const;
    std::string TargetInterfacePath() const;
    std::string TargetVolumeName();
    // Handles opened on the target and not closed yet.
    size_t OpenTargetHandles();
    // Whether the target's volume is mounted at its letter now: the moment
    // the system broadcasts the volume's arrival to every top-level window.
    bool TargetLetterMounted();

protected:
    std::vector<DeviceTreeNode> PresentNodesLocked() override;
    bool VolumeNameLocked(const std::string& mountPoint, std::string& volumeName) override;
    bool OpenLocked(const std::string& path, DeviceHandle& handle, std::string& errorText) override;
    void CloseLocked(DeviceHandle handle) override;

private:
    static std::string VolumeNameOfGeneration(uint32_t generation);
    void AddMachineNodes();
    void AddOtherUsbStick();
    bool LetterAssigned();

    EmulatedTarget& target_;
    const EmulatedTreeOptions options_;
    DevNode hub_ = kNoDevNode;
    DevNode volumeManager_ = kNoDevNode;
    std::mutex handlesMutex_;
    std::set<DeviceHandle> targetHandles_;
};
