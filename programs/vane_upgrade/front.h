#pragma once
// What every command of vane-upgrade works with: the output, the boxes, the
// link, and the result that ends each run.
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "device/device_tree.h"
#include "ports/clock.h"
#include "ports/file_system.h"
#include "ports/registry.h"
#include "programs/vane_upgrade/bus_events.h"
#include "programs/vane_upgrade/console_events.h"
#include "programs/vane_upgrade/machine_registry.h"
#include "programs/vane_upgrade/dialog_session.h"
#include "programs/vane_upgrade/exit_codes.h"
#include "programs/vane_upgrade/human_output.h"
#include "programs/vane_upgrade/job_recorder.h"
#include "programs/vane_upgrade/message_boxes.h"
#include "programs/vane_upgrade/options.h"
#include "programs/vane_upgrade/tracing_pass_through.h"

class Front {
public:
    explicit Front(const Options& options);
    ~Front();

    // Any thread (the tree tells of nodes it may not open from the monitor's).
    void Complain(const std::string& line)
    {
        {
            std::lock_guard<std::mutex> lock(complaintMutex);
            if (firstComplaint.empty()) firstComplaint = line;
        }
        reporter.Error(line);
    }

    // The last event of every run (an interrupt's comes from the signals'
    // thread, while the session may still write its report: it is not read).
    // Returns the run's exit code: a completed job whose record the store
    // did not take is not a success.
    int Finish(int code)
    {
        if (finished.exchange(true)) return finalCode.load();
        ConsoleEvent result;
        if (recorder && code != kExitInterrupted && recorder->RecordNotStored()) {
            if (code == kExitSuccess) code = kExitRecordNotStored;
            result.recordNotStored = true;
            result.unsavedRecords = recorder->UnsavedRecords();
        }
        finalCode = code;
        result.outcome = OutcomeOfExitCode(code, code != kExitInterrupted && report.declined);
        result.exitCode = code;
        if (code == kExitInterrupted) {
            result.text = "interrupted";
        } else {
            result.text = report.text;
            result.serial = report.serial;
            result.image = report.image;
            result.identity = report.identity;
            std::lock_guard<std::mutex> lock(complaintMutex);
            if (result.text.empty()) result.text = firstComplaint;
        }
        reporter.Result(result);
        return code;
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

    int RunSession(IScsiPassThrough& port, IDeviceTree& tree, IBusEvents& bus,
                   std::function<void(DeviceHandle, std::string&, std::string&)> locate)
    {
        SessionParts parts{{clock, port, tree, registry, PlatformFileSystem()}, bus, reporter, boxes,
                           [this](const std::string& line) { Complain(line); }, std::move(locate),
                           [this](int code) {
                               if (recorder) recorder->Finish(); // the record before the program leaves
                               Finish(code);
                           },
                           recorder ? &recorder->Report() : nullptr,
                           recorder && options.serialFromStore ? recorder.get() : nullptr};
        return RunDialogSession(options, parts, report);
    }

    const Options& options;
    SystemClock clock;
    IRegistry& registry = MachineRegistry();
    HumanOutput* human = nullptr;
    std::unique_ptr<IEventSink> output;
    EventReporter reporter;
    ConsoleMessageBoxes boxes;
    SessionReport report; // written by the session on the main thread
    std::mutex complaintMutex;
    std::string firstComplaint;
    std::atomic<bool> finished{false};
    std::atomic<int> finalCode{kExitSuccess};
    std::unique_ptr<TracingPassThrough> tracer;
    std::unique_ptr<JobRecorder> recorder; // with --records, for a job
};

