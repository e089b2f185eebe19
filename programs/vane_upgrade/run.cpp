#include "programs/vane_upgrade/run.h"

#include <unistd.h>

#include <cstdio>
#include <memory>

#include "app/dialog_services.h"
#include "device/diagnostics.h"
#include "emulator/emulated_device_tree.h"
#include "emulator/emulated_target.h"
#include "platform/linux/access_hint.h"
#include "platform/linux/sg_io_pass_through.h"
#include "platform/linux/udev_device_tree.h"
#include "platform/linux/udev_target_scan.h"
#include "platform/portable/registry.h"
#include "programs/vane_upgrade/bus_events.h"
#include "programs/vane_upgrade/dialog_session.h"
#include "programs/vane_upgrade/emulation.h"
#include "programs/vane_upgrade/exit_codes.h"
#include "programs/vane_upgrade/list_targets.h"
#include "programs/vane_upgrade/message_boxes.h"
#include "programs/vane_upgrade/terminal_display.h"
#include "programs/vane_upgrade/tracing_pass_through.h"

namespace {

constexpr size_t kAnswerLineChars = 256;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using OutputFile = std::unique_ptr<std::FILE, FileCloser>;

std::optional<std::string> ReadAnswerLine()
{
    char line[kAnswerLineChars];
    if (std::fgets(line, sizeof line, stdin) == nullptr) return std::nullopt;
    return std::string(line);
}

// What every command works with: the display, the boxes, the link.
class Front {
public:
    explicit Front(const Options& options)
        : options(options),
          display(stdout, isatty(STDOUT_FILENO) != 0, clock),
          boxes(options.questions, isatty(STDIN_FILENO) != 0, stderr, ReadAnswerLine)
    {
        boxes.SetBeforePrint([this] { display.ClearBar(); });
    }

    void Complain(const std::string& line)
    {
        display.ClearBar();
        std::fprintf(stderr, "vane-upgrade: %s\n", line.c_str());
        std::fflush(stderr);
    }

    // The port the dialog sends through: the device's own, or the tracer in front of it.
    IScsiPassThrough& Port(IScsiPassThrough& device, std::FILE* trace)
    {
        if (trace == nullptr) return device;
        tracer = std::make_unique<TracingPassThrough>(device, [trace](const std::string& line) {
            std::fprintf(trace, "%s\n", line.c_str());
            std::fflush(trace);
        });
        return *tracer;
    }

    int RunSession(IScsiPassThrough& port, IDeviceTree& tree, IBusEvents& bus)
    {
        SessionParts parts{{clock, port, tree, registry, PlatformFileSystem()}, bus, display, boxes,
                           [this](const std::string& line) { Complain(line); }};
        const int code = RunDialogSession(options, parts);
        display.Finish();
        return code;
    }

    const Options& options;
    SystemClock clock;
    MemoryRegistry registry;
    TerminalDisplay display;
    ConsoleMessageBoxes boxes;
    std::unique_ptr<TracingPassThrough> tracer;
};

int RunEmulated(Front& front, std::FILE* trace)
{
    const Options& o = front.options;
    EmulatedTarget target(front.clock);
    if (!o.emulateFlash.empty()) {
        std::string error;
        if (!LoadFlashFile(o.emulateFlash, target, error)) {
            front.Complain(error);
            return kExitUsage;
        }
    }
    if (o.realisticTiming) target.SetTiming(TimingModel::Realistic());
    target.SetBootState(o.emulateFlashState ? kFlashLoaderState : kBootRomState);
    target.SetFaults(MakeFaultPlan(o.faults));
    EmulatedDeviceTree tree(target);
    IScsiPassThrough& port = front.Port(target, trace);

    int code;
    if (o.command == Command::List) {
        DeviceHandle handle = target.Open();
        IbrLink link(port);
        std::string version;
        const bool read = handle != nullptr && ReadFirmwareVersion(link, handle, version);
        front.display.Line(FormatListLine("emulated", "-", read ? version : "version unreadable"));
        code = handle != nullptr ? kExitSuccess : kExitNoTarget;
    } else {
        EmulatedBusEvents bus(target);
        code = front.RunSession(port, tree, bus);
    }
    if (!o.emulateFlash.empty()) {
        std::string error;
        if (!SaveFlashFile(o.emulateFlash, target, error)) {
            front.Complain(error);
            if (code == kExitSuccess) code = kExitFailure;
        }
    }
    return code;
}

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
            front.display.Line(FormatListLine(target.portPath, target.sgNode, "cannot be opened: " + openError));
            continue;
        }
        std::string version;
        const bool read = ReadFirmwareVersion(link, device, version);
        front.display.Line(FormatListLine(target.portPath, target.sgNode, read ? version : "version unreadable"));
        CloseSgDevice(device);
    }
    if (listed == 0) {
        front.Complain("no transmitter found");
        return kExitNoTarget;
    }
    return kExitSuccess;
}

int RunDevice(Front& front, std::FILE* trace)
{
    SgIoPassThrough sg;
    IScsiPassThrough& port = front.Port(sg, trace);
    if (front.options.command == Command::List) return ListDevices(front, port);
    DeviceSelector selector = front.options.device.empty() ? DeviceSelector() : *DeviceSelector::Parse(front.options.device);
    UdevDeviceTree tree(selector);
    tree.SetAccessProblemListener([&front](const std::string& line) { front.Complain(line); });
    UdevBusEvents bus;
    return front.RunSession(port, tree, bus);
}

} // namespace

int RunVaneUpgrade(const Options& options)
{
    OutputFile log, trace;
    if (!options.logFile.empty()) {
        log.reset(std::fopen(options.logFile.c_str(), "w"));
        if (!log) {
            std::fprintf(stderr, "vane-upgrade: --log %s: %s\n", options.logFile.c_str(), CLibraryErrorText(errno).c_str());
            return kExitUsage;
        }
    }
    if (!options.traceFile.empty()) {
        trace.reset(std::fopen(options.traceFile.c_str(), "w"));
        if (!trace) {
            std::fprintf(stderr, "vane-upgrade: --trace %s: %s\n", options.traceFile.c_str(), CLibraryErrorText(errno).c_str());
            return kExitUsage;
        }
    }
    // The diagnostic lines go to the log only, never into the display.
    if (log) {
        std::FILE* logFile = log.get();
        SetDiagnosticSink([logFile](const std::string& text) {
            std::fputs(text.c_str(), logFile);
            std::fflush(logFile);
        });
    } else {
        SilenceDiagnostics();
    }
    DiagPrintf("Registry values are not kept on Linux\n");

    int code;
    {
        Front front(options);
        code = options.emulate ? RunEmulated(front, trace.get()) : RunDevice(front, trace.get());
    }
    SilenceDiagnostics(); // the log closes below
    return code;
}
