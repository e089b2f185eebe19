// The real device link of vane-upgrade on Linux: targets found by udev,
// commands through SG_IO on their sg nodes.
#include "programs/vane_upgrade/device_link.h"
#include "programs/vane_upgrade/cli/device_choice.h"

#include "platform/linux/access_hint.h"
#include "platform/linux/sg_io_pass_through.h"
#include "platform/linux/udev_device_tree.h"
#include "platform/linux/udev_target_scan.h"
#include "device/diagnostics.h"
#include "programs/vane_upgrade/machine_registry.h"
#include "programs/vane_upgrade/output/list_targets.h"
#include "platform/linux/udev_bus_events.h"

namespace {

int ListDevices(Front& front, IScsiPassThrough& port)
{
    std::vector<TargetLocation> found;
    std::string error;
    if (!ScanUdevTargets(found, error)) front.Complain(error);
    DeviceSelector selector = front.options.device.empty() ? DeviceSelector() : *DeviceSelector::Parse(front.options.device);
    int listed = 0;
    IbrLink link(port);
    for (const TargetLocation& target : found) {
        if (!selector.Matches(target)) continue;
        ++listed;
        int errorNumber = 0;
        std::string openError;
        SgDevice* device = OpenSgDevice(target.sgNode, errorNumber, openError);
        if (device == nullptr) {
            if (IsAccessError(errorNumber)) front.Complain(AccessProblemLine(target.sgNode));
            front.reporter.Target(target.portPath, target.sgNode, "cannot be opened: " + openError);
            continue;
        }
        std::string version;
        const bool read = ReadFirmwareVersion(link, device, version);
        front.reporter.Target(target.portPath, target.sgNode, read ? version : "version unreadable");
        CloseSgDevice(device);
    }
    if (listed == 0) {
        front.Complain("no transmitter found");
        return kExitNoTarget;
    }
    return kExitSuccess;
}

} // namespace

int RunDevice(Front& front, std::FILE* trace)
{
    SgIoPassThrough sg;
    IScsiPassThrough& port = front.Port(sg, trace);
    if (front.options.command == Command::List) return ListDevices(front, port);
    DeviceSelector selector = front.options.device.empty() ? DeviceSelector() : *DeviceSelector::Parse(front.options.device);
    UdevDeviceTree tree(selector);
    tree.SetAccessProblemListener([&front](const std::string& line) { front.Complain(line); });
    UdevBusEvents bus;
    // The port as given, or the one the target was found at.
    auto portOfTarget = [&front, &tree]() -> std::string {
        if (!front.options.device.empty()) return front.options.device;
        const std::vector<TargetLocation> targets = tree.Targets();
        return targets.empty() ? std::string() : targets.front().portPath;
    };
    if (front.recorder) front.recorder->SetPortSource(portOfTarget);
    const int code = front.RunSession(port, tree, bus, [&tree](DeviceHandle handle, std::string& portPath, std::string& node) {
        node = tree.NodeOf(handle);
        for (const TargetLocation& target : tree.Targets())
            if (target.sgNode == node) portPath = target.portPath;
        if (node.empty()) node.assign(1, '-');
    });
    if (front.recorder) front.recorder->SetPort(portOfTarget());
    return code;
}

bool IsDeviceChoice(const std::string& text) { return DeviceSelector::Parse(text).has_value(); }


const char* DeviceChoiceForms() { return "a USB port path (1-1.4) or an sg node (/dev/sg2)"; }

IRegistry& MachineRegistry()
{
    static MemoryRegistry registry;
    return registry;
}

void NoteMachineRegistry() { DiagPrintf("Registry values are not kept on Linux\n"); }
