#include "programs/vane_upgrade/run.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>

#include "app/dialog_services.h"
#include "device/diagnostics.h"
#include "emulator/emulated_device_tree.h"
#include "emulator/emulated_target.h"
#include "ports/registry.h"
#include "programs/vane_upgrade/bus_events.h"
#include "programs/vane_upgrade/device_link.h"
#include "programs/vane_upgrade/dialog_session.h"
#include "programs/vane_upgrade/emulation.h"
#include "programs/vane_upgrade/exit_codes.h"
#include "programs/vane_upgrade/front.h"
#include "programs/vane_upgrade/job_recorder.h"
#include "programs/vane_upgrade/list_targets.h"
#include "programs/vane_upgrade/message_boxes.h"
#include "programs/vane_upgrade/human_output.h"
#include "programs/vane_upgrade/interrupts.h"
#include "programs/vane_upgrade/json_output.h"
#include "programs/vane_upgrade/record_store_access.h"
#include "programs/vane_upgrade/records_commands.h"
#include "programs/vane_upgrade/terminal.h"
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

uint64_t WallClockMs()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

Verbosity VerbosityOf(OutputMode mode)
{
    return mode == OutputMode::Verbose ? Verbosity::Verbose : mode == OutputMode::Quiet ? Verbosity::Quiet : Verbosity::Normal;
}

std::unique_ptr<IEventSink> MakeOutput(const Options& options, HumanOutput*& human)
{
    human = nullptr;
    if (options.output == OutputMode::Json) return std::make_unique<JsonOutput>(stdout);
    auto output = std::make_unique<HumanOutput>(stdout, stderr, OutputIsTerminal(), VerbosityOf(options.output));
    human = output.get();
    return output;
}

std::string DefaultPortName(const Options& options)
{
    if (!options.portName.empty()) return options.portName;
    if (options.emulate) return "emulated";
    return options.device.empty() ? "-" : options.device;
}

// The front that an interrupt tells its result through.
std::mutex g_interruptibleMutex;
Front* g_interruptible = nullptr;
void TellInterrupted(int exitCode);

void TellInterrupted(int exitCode)
{
    std::lock_guard<std::mutex> lock(g_interruptibleMutex);
    if (g_interruptible == nullptr) return;
    if (g_interruptible->recorder) g_interruptible->recorder->FinishInterrupted();
    g_interruptible->Finish(exitCode);
}

} // namespace

Front::Front(const Options& options)
    : options(options),
      output(MakeOutput(options, human)),
      reporter(*output, clock, WallClockMs, DefaultPortName(options)),
      boxes(options.questions, InputIsTerminal(), stderr, ReadAnswerLine)
{
    {
        std::lock_guard<std::mutex> lock(g_interruptibleMutex);
        g_interruptible = this;
    }
    interrupts::SetLastWords(TellInterrupted);
    if (!options.portName.empty()) reporter.SetPort(options.portName, true);
    boxes.SetBeforePrint([this] {
        if (human != nullptr) human->ClearBar();
    });
    boxes.SetSilent(options.output == OutputMode::Json);
    boxes.SetObserver([this](const std::string& caption, const std::string& text, std::optional<bool> ok) {
        if (ok) reporter.Question(caption, text, *ok);
        else reporter.Message(caption, text);
    });
}

Front::~Front()
{
    interrupts::SetLastWords(nullptr);
    std::lock_guard<std::mutex> lock(g_interruptibleMutex);
    g_interruptible = nullptr;
}


namespace {

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
        front.reporter.Target(DefaultPortName(o), "-", read ? version : "version unreadable");
        code = handle != nullptr ? kExitSuccess : kExitNoTarget;
    } else {
        EmulatedBusEvents bus(target);
        if (front.recorder) front.recorder->SetPort(DefaultPortName(o));
        code = front.RunSession(port, tree, bus, [](DeviceHandle, std::string&, std::string& node) { node.assign(1, '-'); });
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

bool IsJob(Command command) { return command == Command::Upgrade || command == Command::Sram || command == Command::Dump; }

// The result of a run that ends before any target: with --json its result
// event, the line of a failure on standard error.
int EndBeforeTarget(const Options& options, int code, const std::string& text, ConsoleEvent result = {})
{
    if (code != kExitSuccess) {
        std::fprintf(stderr, "vane-upgrade: %s\n", text.c_str());
        std::fflush(stderr);
    }
    if (options.output == OutputMode::Json) {
        result.kind = EventKind::Result;
        result.wallMs = WallClockMs();
        result.port = DefaultPortName(options);
        result.outcome = OutcomeOfExitCode(code, false);
        result.exitCode = code;
        result.text = text;
        JsonOutput(stdout).Emit(result);
    }
    return code;
}

// records with --json: the list in the result event.
int RecordsAsResult(const Options& options, IRecordStore& store)
{
    std::string text, error;
    if (!RecordsText(store, RecordsFormat::Json, options.recordsSerials, text, error))
        return EndBeforeTarget(options, kExitFailure, error);
    ConsoleEvent result;
    result.listName = options.recordsSerials ? "serials" : "records";
    result.listJson = text;
    return EndBeforeTarget(options, kExitSuccess, "", result);
}

int SerialNextAsResult(const Options& options, IRecordStore& store)
{
    std::string error;
    if (SerialNextCommand(store, options.serialNext, nullptr, error) != kExitSuccess)
        return EndBeforeTarget(options, kExitFailure, error);
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", options.serialNext);
    ConsoleEvent result;
    result.nextSerial = hex;
    return EndBeforeTarget(options, kExitSuccess, std::string("Next series number: ") + hex, result);
}

// Opens the store of --records before anything reaches a device; the
// commands on the store itself end here.
std::optional<int> UseRecordStore(const Options& options, std::unique_ptr<IRecordStore>& store)
{
    std::string error;
    const bool json = options.output == OutputMode::Json;
    // Printing the records needs no right to write them, and never creates a store.
    const bool importing = options.command == Command::Records && !options.recordsImport.empty();
    store = OpenRecordStore(options.records, error, options.command != Command::Records || importing);
    int code = kExitSuccess;
    if (store && importing) {
        std::string summary;
        code = ImportRecordsCommand(*store, options.recordsImport, summary, error);
        if (!summary.empty() && !json) std::printf("%s\n", summary.c_str());
        if (json) return EndBeforeTarget(options, code, code == kExitSuccess ? summary : error);
    } else if (store && options.command == Command::Records) {
        if (json) return RecordsAsResult(options, *store);
        const RecordsFormat format =
            options.recordsCsv ? RecordsFormat::Csv : options.recordsJson ? RecordsFormat::Json : RecordsFormat::Table;
        code = ListRecordsCommand(*store, format, options.recordsSerials, stdout, error);
    } else if (store && options.command == Command::SerialNext) {
        if (json) return SerialNextAsResult(options, *store);
        code = SerialNextCommand(*store, options.serialNext, stdout, error);
    } else if (store && options.serialFromStore) {
        bool available = false;
        if (!store->HasNextSerial(available, error)) code = kExitFailure;
        else if (!available) {
            error = "the records store " + StoreShownName(options.records) +
                    " has no series number to hand out: set the next one with serial-next HEX";
            code = kExitFailure;
        } else {
            return std::nullopt;
        }
    } else if (store) {
        return std::nullopt;
    } else {
        code = kExitFailure;
    }
    if (code == kExitSuccess) return code;
    return EndBeforeTarget(options, code, error);
}

} // namespace

int UsageFailure(const Options& options, const std::string& problem) { return EndBeforeTarget(options, kExitUsage, problem); }

std::optional<int> RefuseUnusableStore(const Options& options)
{
    std::unique_ptr<IRecordStore> store;
    if (options.records.empty()) return std::nullopt;
    return UseRecordStore(options, store);
}

int RunVaneUpgrade(const Options& options)
{
    std::unique_ptr<IRecordStore> store;
    if (!options.records.empty())
        if (const std::optional<int> code = UseRecordStore(options, store)) return *code;

    OutputFile log, trace;
    if (!options.logFile.empty()) {
        log.reset(std::fopen(options.logFile.c_str(), "w"));
        if (!log) {
            return UsageFailure(options, "--log " + options.logFile + ": " + CLibraryErrorText(errno));
        }
    }
    if (!options.traceFile.empty()) {
        trace.reset(std::fopen(options.traceFile.c_str(), "w"));
        if (!trace) {
            return UsageFailure(options, "--trace " + options.traceFile + ": " + CLibraryErrorText(errno));
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
    NoteMachineRegistry();

    int code;
    {
        Front front(options);
        if (store && IsJob(options.command))
            front.recorder = std::make_unique<JobRecorder>(*store, options, [&front](const std::string& line) { front.Complain(line); });
        code = options.emulate ? RunEmulated(front, trace.get()) : RunDevice(front, trace.get());
        if (front.recorder) front.recorder->Finish();
        code = front.Finish(code);
    }
    SilenceDiagnostics(); // the log closes below
    return code;
}

int RefusedBeforeTarget(const Options& options, const std::string& problem)
{
    return EndBeforeTarget(options, kExitFailure, problem);
}
