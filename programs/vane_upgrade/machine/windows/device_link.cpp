// The real device link of vane-upgrade on Windows: the window's discovery
// (SetupAPI, the configuration manager, drive letters of the target's
// volumes) and SCSI pass-through on the opened volume.
#include "programs/vane_upgrade/device_link.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "device/diagnostics.h"
#include "device/volume_discovery.h"
#include "platform/win32/device_tree_win32.h"
#include "platform/win32/registry_win32.h"
#include "platform/win32/scsi_pass_through_win32.h"
#include "programs/vane_upgrade/chosen_target_tree.h"
#include "platform/win32/console/volume_bus_events_win32.h"
#include "programs/vane_upgrade/cli/device_choice.h"
#include "programs/vane_upgrade/output/list_targets.h"
#include "programs/vane_upgrade/machine_registry.h"
#include "platform/win32/console/usb_ports_win32.h"

namespace {

const char kTargetUsbId[] = "USB\\VID_0416&PID_B190";

// The drive letters discovery finds for the targets tree shows.
std::vector<char> DiscoverLetters(IDeviceTree& tree)
{
    std::lock_guard<std::mutex> discovery(DiscoveryMutex());
    g_driveLetters.clear();
    EnumerateRemovableVolumes(tree, kTargetUsbId);
    return g_driveLetters;
}

int ListDevices(Front& front, IScsiPassThrough& port, IDeviceTree& machine)
{
    const std::string& choice = front.options.device;
    std::vector<std::string> ports = TargetUsbPorts();
    // Ports the system does not tell, or a choice by letter: one search over every target.
    bool portsKnown = !ports.empty();
    for (const std::string& p : ports) portsKnown = portsKnown && !p.empty();
    if (!portsKnown || DriveLetterChoice(choice) != 0) ports.assign(1, std::string());
    int listed = 0;
    IbrLink link(port);
    for (const std::string& targetPort : ports) {
        if (!choice.empty() && DriveLetterChoice(choice) == 0 && targetPort != choice) continue;
        ChosenTargetTree tree(machine, targetPort.empty() ? choice : targetPort, UsbPortOfNode);
        // A volume reached along two paths repeats its letter.
        std::vector<char> letters;
        for (char letter : DiscoverLetters(tree))
            if (std::find(letters.begin(), letters.end(), letter) == letters.end()) letters.push_back(letter);
        bool opened = false;
        std::string refusedLetter, refusal;
        for (char letter : letters) {
            const std::string path = std::string("\\\\.\\") + letter + ":";
            DeviceHandle handle = nullptr;
            std::string openError;
            if (!tree.OpenVolume(path, handle, openError)) {
                if (DriveLetterChoice(choice) != 0 && DriveLetterChoice(choice) != letter) continue;
                while (!openError.empty() && (openError.back() == '\n' || openError.back() == '\r')) openError.pop_back();
                if (refusedLetter.empty()) {
                    refusedLetter = std::string(1, letter) + ":";
                    refusal = "cannot be opened: " + openError;
                }
                continue;
            }
            ++listed;
            opened = true;
            std::string version;
            const bool read = ReadFirmwareVersion(link, handle, version);
            front.reporter.Target(tree.Port().empty() ? "-" : tree.Port(), std::string(1, letter) + ":",
                                  read ? version : "version unreadable");
            tree.CloseVolume(handle);
            // One line per target, its first volume that opens; without known
            // ports, one line per volume that opens.
            if (!targetPort.empty()) break;
        }
        // A target none of whose volumes opens is listed with the first refusal.
        if (!opened && !refusedLetter.empty()) {
            ++listed;
            front.reporter.Target(targetPort.empty() ? "-" : targetPort, refusedLetter, refusal);
        }
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
    Win32PassThrough passThrough;
    Win32DeviceTree machine;
    IScsiPassThrough& port = front.Port(passThrough, trace);
    if (front.options.command == Command::List) return ListDevices(front, port, machine);
    ChosenTargetTree tree(machine, front.options.device, UsbPortOfNode);
    VolumeBusEvents bus;
    auto portOfTarget = [&front, &tree]() -> std::string {
        const std::string found = tree.Port();
        return found.empty() ? front.options.device : found;
    };
    if (front.recorder) front.recorder->SetPortSource(portOfTarget);
    const int code = front.RunSession(port, tree, bus, [&tree](DeviceHandle handle, std::string& portPath, std::string& node) {
        node = tree.NodeOf(handle);
        const std::string found = tree.Port();
        if (!found.empty()) portPath = found;
        if (node.empty()) node.assign(1, '-');
    });
    if (front.recorder) front.recorder->SetPort(portOfTarget());
    return code;
}

bool IsDeviceChoice(const std::string& text) { return !text.empty(); }

const char* DeviceChoiceForms() { return "a drive letter (E:) or a USB port location (PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3))"; }

IRegistry& MachineRegistry()
{
    static Win32Registry registry;
    return registry;
}

void NoteMachineRegistry() {}
