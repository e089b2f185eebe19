// vane-gadget: the emulated target as a real USB device. On a Linux machine
// with a device controller (dummy_hcd in the test machine) it presents the
// target's identity, speaks Bulk-Only mass storage and hands the vendor
// commands to the emulated target, so that the host's own USB, SCSI and udev
// stack carries them.
#include <getopt.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "emulator/emulated_target.h"
#include "gadget/function_fs.h"
#include "gadget/gadget_server.h"
#include "gadget/scsi_disk.h"

namespace {

constexpr uint32_t kDefaultVolumeSize = 1024 * 1024;

std::atomic<bool> gStop{false};

void OnStopSignal(int) { gStop = true; }
void OnInterruptSignal(int) {}

struct Arguments {
    std::string configfs = "/sys/kernel/config";
    std::string name = "vane";
    std::string ffsDir = "/dev/ffs-vane";
    std::string controller;
    std::string flashFile;
    bool flashState = false;
    std::string traceFile;
    std::string logFile;
    std::string volumeFile;
    std::string readyFile;
    bool neverReturn = false;
    uint64_t failCommand = 0;
    bool realisticTiming = false;
    long reenumerateMs = -1;
};

const char kUsage[] =
    "usage: vane-gadget [options]\n"
    "  --configfs DIR       configfs mount (/sys/kernel/config)\n"
    "  --name NAME          gadget and FunctionFS instance name (vane)\n"
    "  --ffs DIR            where the function's FunctionFS is mounted (/dev/ffs-vane)\n"
    "  --udc NAME           device controller (the first in /sys/class/udc)\n"
    "  --flash FILE         the target's flash, loaded at start when present, saved at exit\n"
    "  --state boot|flash   the state the target starts in (boot)\n"
    "  --volume FILE        the read-only volume behind the disk commands (1 MiB of zeros)\n"
    "  --trace FILE         the target's wire trace of the vendor commands\n"
    "  --log FILE           one line per USB event and command\n"
    "  --ready FILE         created once the gadget is on the bus\n"
    "  --never-return       the target never comes back after its flash loader starts\n"
    "  --fail-command K     the K-th vendor command fails at the transport (a phase error)\n"
    "  --reenumerate-ms N   time off the bus after Execute (1500)\n"
    "  --realistic-timing   erase, program and bus times of a real device\n";

bool ParseNumber(const char* text, long low, long high, long& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return end != text && *end == 0 && errno == 0 && value >= low && value <= high;
}

bool ParseArguments(int argc, char** argv, Arguments& a)
{
    enum { kConfigfs = 1, kName, kFfs, kUdc, kFlash, kState, kVolume, kTrace, kLog, kReady, kNever, kFail, kReenum, kReal, kHelp };
    static const option options[] = {
        {"configfs", required_argument, nullptr, kConfigfs}, {"name", required_argument, nullptr, kName},
        {"ffs", required_argument, nullptr, kFfs},           {"udc", required_argument, nullptr, kUdc},
        {"flash", required_argument, nullptr, kFlash},       {"state", required_argument, nullptr, kState},
        {"volume", required_argument, nullptr, kVolume},     {"trace", required_argument, nullptr, kTrace},
        {"log", required_argument, nullptr, kLog},           {"ready", required_argument, nullptr, kReady},
        {"never-return", no_argument, nullptr, kNever},      {"fail-command", required_argument, nullptr, kFail},
        {"reenumerate-ms", required_argument, nullptr, kReenum},
        {"realistic-timing", no_argument, nullptr, kReal},   {"help", no_argument, nullptr, kHelp},
        {nullptr, 0, nullptr, 0},
    };
    int c;
    long number = 0;
    while ((c = getopt_long(argc, argv, "", options, nullptr)) != -1) {
        switch (c) {
        case kConfigfs: a.configfs = optarg; break;
        case kName: a.name = optarg; break;
        case kFfs: a.ffsDir = optarg; break;
        case kUdc: a.controller = optarg; break;
        case kFlash: a.flashFile = optarg; break;
        case kState:
            if (std::strcmp(optarg, "boot") != 0 && std::strcmp(optarg, "flash") != 0) return false;
            a.flashState = std::strcmp(optarg, "flash") == 0;
            break;
        case kVolume: a.volumeFile = optarg; break;
        case kTrace: a.traceFile = optarg; break;
        case kLog: a.logFile = optarg; break;
        case kReady: a.readyFile = optarg; break;
        case kNever: a.neverReturn = true; break;
        case kFail:
            if (!ParseNumber(optarg, 1, UINT32_MAX, number)) return false;
            a.failCommand = static_cast<uint64_t>(number);
            break;
        case kReenum:
            if (!ParseNumber(optarg, 0, 600000, number)) return false;
            a.reenumerateMs = number;
            break;
        case kReal: a.realisticTiming = true; break;
        case kHelp: std::fputs(kUsage, stdout); std::exit(0);
        default: return false;
        }
    }
    return optind == argc;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    bytes.clear();
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

// Whole or not at all: a reader never sees half a flash.
bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes)
{
    const std::string temporary = path + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool flushed = std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    const bool closed = std::fclose(file) == 0;
    if (!(written && flushed && closed) || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

std::FILE* OpenOutput(const std::string& path)
{
    if (path.empty()) return nullptr;
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) std::fprintf(stderr, "vane-gadget: %s: %s\n", path.c_str(), std::strerror(errno));
    return file;
}

void InstallSignals()
{
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no restart: a signal ends the endpoint I/O it interrupts
    action.sa_handler = OnStopSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    action.sa_handler = OnInterruptSignal;
    sigaction(GadgetServer::kInterruptSignal, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

} // namespace

int main(int argc, char** argv)
{
    Arguments args;
    if (!ParseArguments(argc, argv, args)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    InstallSignals();

    SystemClock clock;
    EmulatedTarget target(clock);
    if (!args.flashFile.empty()) {
        std::vector<uint8_t> flash;
        if (ReadFile(args.flashFile, flash)) {
            if (flash.size() != target.FlashSize()) {
                std::fprintf(stderr, "vane-gadget: %s holds %zu bytes, not %u\n", args.flashFile.c_str(), flash.size(),
                             target.FlashSize());
                return 2;
            }
            target.LoadFlash(0, flash);
        } else if (errno != ENOENT) {
            std::fprintf(stderr, "vane-gadget: %s: %s\n", args.flashFile.c_str(), std::strerror(errno));
            return 2;
        }
    }
    TimingModel timing = args.realisticTiming ? TimingModel::Realistic() : TimingModel{};
    if (args.reenumerateMs >= 0) timing.reenumerateMs = static_cast<uint32_t>(args.reenumerateMs);
    target.SetTiming(timing);
    FaultPlan faults;
    faults.neverReturnAfterExecute = args.neverReturn;
    faults.failCommand = args.failCommand;
    target.SetFaults(faults);
    target.SetBootState(args.flashState ? kFlashLoaderState : kBootRomState);

    std::vector<uint8_t> volume(kDefaultVolumeSize, 0);
    if (!args.volumeFile.empty() && !ReadFile(args.volumeFile, volume)) {
        std::fprintf(stderr, "vane-gadget: %s: %s\n", args.volumeFile.c_str(), std::strerror(errno));
        return 2;
    }
    ScsiDisk disk(std::move(volume));

    std::string error;
    if (!SetUpConfigfsGadget(args.configfs, args.name, GadgetIdentity{}, args.ffsDir, error)) {
        std::fprintf(stderr, "vane-gadget: %s\n", error.c_str());
        return 1;
    }
    GadgetConfig config;
    config.ffsDir = args.ffsDir;
    config.udcFile = args.configfs + "/usb_gadget/" + args.name + "/UDC";
    config.controller = args.controller.empty() ? FirstDeviceController() : args.controller;
    config.log = OpenOutput(args.logFile);
    config.trace = OpenOutput(args.traceFile);
    config.readyFile = args.readyFile;
    if (config.controller.empty()) {
        std::fprintf(stderr, "vane-gadget: no USB device controller (is dummy_hcd loaded?)\n");
        return 1;
    }
    int code = 0;
    {
        GadgetServer server(target, disk, config);
        if (server.Start(error)) {
            server.Run(gStop);
        } else {
            std::fprintf(stderr, "vane-gadget: %s\n", error.c_str());
            code = 1;
        }
    }
    // The server is gone (unbound, endpoints closed) before the flash is kept.
    if (!args.flashFile.empty() && !WriteFileAtomically(args.flashFile, target.Flash())) {
        std::fprintf(stderr, "vane-gadget: cannot save the flash to %s\n", args.flashFile.c_str());
        code = 1;
    }
    for (std::FILE* file : {config.log, config.trace})
        if (file != nullptr) std::fclose(file);
    return code;
}
