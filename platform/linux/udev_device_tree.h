#pragma once
// The device tree of a Linux machine as discovery expects to walk it: each
// target found through udev is presented as a removable USB node
// "USB\VID_0416&PID_B190\<port path>" with a disk child per LUN, whose
// removal relations name a volume mounted at a drive letter (D: onwards, in
// the stable order of the targets). Opening "\\.\<letter>:" opens that
// target's sg node read-write.
//
// Nothing is mounted or mapped for real: the letters exist only inside this
// tree, so that the dialog's discovery runs unchanged on Linux. The tree is
// read anew at the start of every enumeration (GetPresentDevices).
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "device/node_device_tree.h"
#include "platform/linux/target_location.h"

// What the tree asks of the system: the scan of the targets, and the opening
// and closing of an sg node (tests replace them).
struct UdevTreeBackend {
    std::function<bool(std::vector<TargetLocation>& targets, std::string& error)> scan;
    // Null on failure, with errno and its text.
    std::function<DeviceHandle(const std::string& node, int& errorNumber, std::string& errorText)> open;
    std::function<void(DeviceHandle handle)> close;
    static UdevTreeBackend System(); // libudev and SG_IO handles
};

constexpr char kFirstTargetLetter = 'D';
constexpr size_t kMaxTreeTargets = 'Z' - kFirstTargetLetter + 1;

class UdevDeviceTree final : public NodeDeviceTree {
public:
    explicit UdevDeviceTree(DeviceSelector selector = {}, UdevTreeBackend backend = UdevTreeBackend::System());
    ~UdevDeviceTree() override;

    // The targets of the last enumeration, in their order (one per letter).
    std::vector<TargetLocation> Targets();
    // The instance ID of a target's USB node.
    static std::string UsbInstanceId(const TargetLocation& target);
    // Called outside the tree's lock, once per sg node the system refused for
    // lack of rights, with AccessProblemLine's text.
    void SetAccessProblemListener(std::function<void(const std::string& line)> listener);
    // The node behind a handle this tree opened ("" for others).
    std::string NodeOf(DeviceHandle handle);

    DeviceInfoSet GetPresentDevices() override;
    bool OpenVolume(const std::string& path, DeviceHandle& handle, std::string& errorText) override;

protected:
    std::vector<DeviceTreeNode> PresentNodesLocked() override;
    bool VolumeNameLocked(const std::string& mountPoint, std::string& volumeName) override;
    bool OpenLocked(const std::string& path, DeviceHandle& handle, std::string& errorText) override;
    void CloseLocked(DeviceHandle handle) override;

private:
    struct Snapshot {
        std::vector<TargetLocation> targets;   // at most kMaxTreeTargets
        std::vector<DeviceTreeNode> nodes;
    };
    void Refresh();
    static Snapshot BuildSnapshot(std::vector<TargetLocation> targets);
    static std::string InterfacePathOf(const TargetLocation& target);
    static std::string VolumeNameOf(const TargetLocation& target);

    UdevTreeBackend backend_;
    std::mutex snapshotMutex_; // taken inside the base's lock, never the other way round
    DeviceSelector selector_;
    Snapshot snapshot_;
    std::map<DeviceHandle, std::string> handles_; // open handles and their nodes
    std::set<std::string> hinted_;
    std::vector<std::string> pendingHints_;
    std::function<void(const std::string&)> hintListener_;
};
