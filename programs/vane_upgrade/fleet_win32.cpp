// The supervisor of several targets on Windows. Each target's run is this
// program started again (CreateProcess of its own file) with standard output
// and error on anonymous pipes; one thread per pipe reads it and wakes the
// supervisor's loop through an event, so that no run is ever waited on.
//
// Ctrl-C: the runs are started in the supervisor's console and process
// group, so the system hands every Ctrl-C to each of them as well; each run
// takes it as a single run does (a job that writes the transmitter finishes
// on the first, anything else ends). The supervisor itself only counts them:
// after the first no new run starts, after the second the runs count as
// abandoned, the third ends the supervisor at once. A run started without a
// console (the supervisor's own output redirected does not matter, its
// console does) gets no Ctrl-C from anyone: it ends on its own.
//
// Real targets are the ones vane-upgrade.exe list shows: by the USB port of
// their device node, or, when the system tells no port, by drive letter.
// Station mode looks at them every second.
#include "programs/vane_upgrade/fleet.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>

#include "device/diagnostics.h"
#include "device/volume_discovery.h"
#include "platform/win32/device_tree_win32.h"
#include "ports/clock.h"
#include "programs/vane_upgrade/command_line_quoting.h"
#include "programs/vane_upgrade/exit_codes.h"
#include "programs/vane_upgrade/fleet_display.h"
#include "programs/vane_upgrade/fleet_plan.h"
#include "programs/vane_upgrade/interrupts.h"
#include "programs/vane_upgrade/line_splitter.h"
#include "programs/vane_upgrade/progress_figures.h"
#include "programs/vane_upgrade/terminal.h"
#include "programs/vane_upgrade/usb_ports.h"

namespace {

// A run bounds its own waits (the monitor's attempts, the job, the version
// read); this is the backstop for one that hangs all the same.
constexpr uint64_t kRunLimitMs = 15 * 60 * 1000;
constexpr DWORD kWaitMs = 100;
constexpr uint64_t kRescanMs = 1000;
// What a run that was stopped for hanging ends with.
constexpr UINT kKilledExitCode = 1;

const char kTargetUsbId[] = "USB\\VID_0416&PID_B190";

HANDLE g_wake = nullptr;
std::atomic<int> g_interrupts{0};

void NoteInterrupt()
{
    ++g_interrupts;
    SetEvent(g_wake);
}

uint64_t UnixMs()
{
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count());
}

std::string SystemErrorText(DWORD code)
{
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                        sizeof text, nullptr);
    std::string result(text, length);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' ')) result.pop_back();
    return result.empty() ? "system error " + std::to_string(code) : result;
}

// One pipe's bytes, gathered by its reader thread until the loop takes them.
class PipeReader {
public:
    ~PipeReader()
    {
        // The stream ends when the run has ended and its handles are closed;
        // a supervisor only goes after every run has ended.
        if (thread_.joinable()) thread_.join();
        if (pipe_ != nullptr) CloseHandle(pipe_);
    }

    void Start(HANDLE pipe)
    {
        pipe_ = pipe;
        thread_ = std::thread([this] { ReadAll(); });
    }

    // Moves what arrived into lines; true once the stream has ended and all of it was taken.
    bool Collect(LineSplitter& lines)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!bytes_.empty()) lines.Add(bytes_.data(), bytes_.size());
        bytes_.clear();
        return ended_;
    }

private:
    void ReadAll()
    {
        char buffer[4096];
        DWORD count = 0;
        while (ReadFile(pipe_, buffer, sizeof buffer, &count, nullptr) && count > 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            bytes_.append(buffer, count);
            SetEvent(g_wake);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
        SetEvent(g_wake);
    }

    HANDLE pipe_ = nullptr;
    std::thread thread_;
    std::mutex mutex_;
    std::string bytes_;
    bool ended_ = false;
};

// Both ends of an anonymous pipe; the write end is inherited by the run only.
bool MakePipe(HANDLE& read, HANDLE& write, std::string& error)
{
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (!CreatePipe(&read, &write, &inherit, 0)) {
        error = "no pipe for a run: " + SystemErrorText(GetLastError());
        return false;
    }
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    return true;
}

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess()
    {
        if (process_ != nullptr) CloseHandle(process_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Runs are started by the loop's thread alone, one after another: the
    // inheritable ends of one run's pipes are closed before the next starts,
    // so no run holds another's pipe open.
    bool Start(const std::string& program, const std::vector<std::string>& arguments, std::string& error)
    {
        HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
        if (!MakePipe(outRead, outWrite, error)) return false;
        if (!MakePipe(errRead, errWrite, error)) {
            CloseHandle(outRead);
            CloseHandle(outWrite);
            return false;
        }
        // A question is never asked of a console that several runs share.
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE nothing = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nothing;
        startup.hStdOutput = outWrite;
        startup.hStdError = errWrite;
        PROCESS_INFORMATION started{};
        std::string commandLine = WindowsCommandLine(program, arguments);
        const BOOL ok = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                       &startup, &started);
        const DWORD startError = GetLastError();
        CloseHandle(outWrite);
        CloseHandle(errWrite);
        if (nothing != INVALID_HANDLE_VALUE) CloseHandle(nothing);
        if (!ok) {
            CloseHandle(outRead);
            CloseHandle(errRead);
            error = "cannot start " + program + ": " + SystemErrorText(startError);
            return false;
        }
        CloseHandle(started.hThread);
        process_ = started.hProcess;
        out_.Start(outRead);
        err_.Start(errRead);
        return true;
    }

    void Collect()
    {
        outEnded_ = out_.Collect(outLines_);
        errEnded_ = err_.Collect(errLines_);
    }
    LineSplitter& OutLines() { return outLines_; }
    LineSplitter& ErrLines() { return errLines_; }
    bool StreamsEnded() const { return outEnded_ && errEnded_; }

    bool TryReap()
    {
        if (reaped_ || process_ == nullptr) return reaped_;
        if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) return false;
        reaped_ = true;
        DWORD code = kExitFailure;
        GetExitCodeProcess(process_, &code);
        if (code >= 0xC0000000u) {
            // An exception ended it (an access violation and the like).
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
            how_ = std::string("ended by exception ") + hex;
            exitCode_ = kExitFailure;
        } else {
            exitCode_ = static_cast<int>(code);
        }
        return true;
    }
    int ExitCode() const { return exitCode_; }
    const std::string& HowItEnded() const { return how_; }
    void Kill()
    {
        if (process_ != nullptr && !reaped_) TerminateProcess(process_, kKilledExitCode);
    }

private:
    HANDLE process_ = nullptr;
    PipeReader out_, err_;
    LineSplitter outLines_, errLines_;
    bool outEnded_ = false, errEnded_ = false;
    bool reaped_ = false;
    int exitCode_ = 0;
    std::string how_;
};

std::string OwnProgramPath()
{
    char path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return "";
    return std::string(path, length);
}

size_t TerminalWidth()
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) && info.dwSize.X > 0)
        return static_cast<size_t>(info.dwSize.X);
    return 80;
}

FleetOutput ChooseFleetOutput(const Options& o)
{
    if (o.output == OutputMode::Json) return FleetOutput::Json;
    return OutputIsTerminal() ? FleetOutput::Live : FleetOutput::Plain;
}

// The attached targets as vane-upgrade.exe list shows them: by USB port, or
// by drive letter when the system tells the port of any of them not.
std::set<std::string> AttachedTargets()
{
    std::set<std::string> places;
    const std::vector<std::string> ports = TargetUsbPorts();
    const bool portsKnown = std::none_of(ports.begin(), ports.end(), [](const std::string& p) { return p.empty(); });
    if (!ports.empty() && portsKnown) {
        places.insert(ports.begin(), ports.end());
        return places;
    }
    Win32DeviceTree machine;
    std::lock_guard<std::mutex> discovery(DiscoveryMutex());
    g_driveLetters.clear();
    EnumerateRemovableVolumes(machine, kTargetUsbId);
    for (char letter : g_driveLetters) places.insert(std::string(1, letter) + ":");
    return places;
}

struct TargetRun {
    TargetRun(std::string port, uint64_t startMs) : progress(std::move(port), startMs), deadlineMs(startMs + kRunLimitMs) {}
    TargetProgress progress;
    std::unique_ptr<ChildProcess> child = std::make_unique<ChildProcess>();
    uint64_t deadlineMs;
    bool killed = false;
};

class Supervisor {
public:
    Supervisor(const Options& options, const std::string& program)
        : o_(options), display_(ChooseFleetOutput(options), stdout, stderr, TerminalWidth(), options.output == OutputMode::Quiet),
          program_(program.empty() ? OwnProgramPath() : program)
    {
    }

    int Run()
    {
        g_wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (g_wake == nullptr) {
            display_.Note("cannot set up the supervisor's event: " + SystemErrorText(GetLastError()));
            return kExitFailure;
        }
        interrupts::Redirect(NoteInterrupt);
        if (!o_.emulateFlashDir.empty()) {
            std::error_code error;
            std::filesystem::create_directories(o_.emulateFlashDir, error);
            if (error) {
                display_.Note("--emulate-flash-dir " + o_.emulateFlashDir + ": " + error.message());
                return kExitUsage;
            }
        }
        const uint64_t start = clock_.NowMs();
        if (o_.emulate) hub_ = std::make_unique<EmulatedHub>(EmulatedPorts(o_), o_.arriveEveryMs, start);
        if (o_.all) {
            for (const std::string& port : PresentPorts(start)) StartRun(port);
            if (runs_.empty()) return NoneFound();
        }
        Loop();
        return Finish();
    }

private:
    std::set<std::string> PresentPorts(uint64_t now)
    {
        if (hub_) return hub_->Present(now);
        return AttachedTargets();
    }

    void StartRun(const std::string& port)
    {
        const uint64_t now = clock_.NowMs();
        auto run = std::make_unique<TargetRun>(port, now);
        std::string error;
        if (program_.empty() || !run->child->Start(program_, ChildArguments(o_, port, EmulatedIndex(port)), error)) {
            if (error.empty()) error = "this program's own file cannot be found";
            display_.Note(port + ": " + error);
            run->progress.Ended(kExitFailure, error, now);
            display_.Ended(run->progress, kExitFailure, UnixMs());
            EndedAtPort(port);
        }
        runs_.push_back(std::move(run));
        ++started_;
    }

    void EndedAtPort(const std::string& port)
    {
        station_.JobEnded(port);
        if (hub_) hub_->Left(port);
    }

    size_t Running() const
    {
        return static_cast<size_t>(std::count_if(runs_.begin(), runs_.end(), [](const auto& r) { return !r->progress.HasEnded(); }));
    }

    bool Done() const
    {
        if (Running() > 0) return false;
        if (o_.all || stopping_) return true;
        if (o_.count > 0 && started_ >= o_.count) return true;
        return hub_ && hub_->Exhausted();
    }

    void WatchForArrivals(uint64_t now)
    {
        if (!o_.watch || stopping_) return;
        if (!hub_ && now < nextScanMs_) return;
        nextScanMs_ = now + kRescanMs;
        const size_t budget = o_.count > 0 ? o_.count - std::min<size_t>(started_, o_.count) : std::numeric_limits<size_t>::max();
        for (const std::string& port : station_.Seen(PresentPorts(now), budget)) StartRun(port);
    }

    void Loop()
    {
        for (;;) {
            WatchForArrivals(clock_.NowMs());
            if (Done()) return;
            WaitForSingleObject(g_wake, kWaitMs);
            for (int seen = g_interrupts.load(); interrupts_ < seen;) OnInterrupt();
            const uint64_t now = clock_.NowMs();
            for (auto& run : runs_) Follow(*run, now);
            std::vector<const TargetProgress*> live;
            for (const auto& run : runs_)
                if (!run->progress.HasEnded()) live.push_back(&run->progress);
            display_.Refresh(live, now);
        }
    }

    void Follow(TargetRun& run, uint64_t now)
    {
        if (run.progress.HasEnded()) return;
        ChildProcess& child = *run.child;
        child.Collect();
        while (auto line = child.OutLines().Next()) OnOutputLine(run, *line);
        while (auto line = child.ErrLines().Next()) display_.ErrorLine(run.progress.Port(), *line);
        if (child.StreamsEnded()) {
            if (auto rest = child.OutLines().Rest()) OnOutputLine(run, *rest);
            if (auto rest = child.ErrLines().Rest()) display_.ErrorLine(run.progress.Port(), *rest);
            if (child.TryReap()) {
                EndRun(run, now);
                return;
            }
        }
        if (now >= run.deadlineMs && !run.killed) {
            run.killed = true;
            display_.Note(run.progress.Port() + ": no end after " + FormatDuration(kRunLimitMs / 1000) + "; stopped");
            child.Kill();
        }
    }

    void OnOutputLine(TargetRun& run, const std::string& line)
    {
        // A run's console output ends its lines with "\r\n".
        std::string text = line;
        if (!text.empty() && text.back() == '\r') text.pop_back();
        const std::optional<TargetEvent> event = ParseTargetEvent(text);
        std::optional<std::string> plain;
        if (event) plain = run.progress.Apply(*event);
        display_.OutputLine(run.progress, text, event, plain);
    }

    void EndRun(TargetRun& run, uint64_t now)
    {
        const ChildProcess& child = *run.child;
        std::string why;
        if (run.killed) why = "no end after " + FormatDuration(kRunLimitMs / 1000) + ": stopped";
        else if (!child.HowItEnded().empty()) why = "the run " + child.HowItEnded();
        else if (!run.progress.SawResult()) why = "the run ended without a result (exit code " + std::to_string(child.ExitCode()) + ")";
        run.progress.Ended(child.ExitCode(), why, now);
        display_.Ended(run.progress, child.ExitCode(), UnixMs());
        EndedAtPort(run.progress.Port());
    }

    // The runs got the same Ctrl-C from the console; only the supervisor's own bookkeeping here.
    void OnInterrupt()
    {
        ++interrupts_;
        if (interrupts_ == 1) {
            stopping_ = true;
            if (Running() > 0)
                display_.Note("interrupted: no new job starts, the running ones finish first; "
                              "interrupt once more to abandon them (their transmitters may then need the upgrade again)");
        } else if (interrupts_ == 2) {
            abandoned_ = true;
            display_.Note("interrupted again: the running jobs are abandoned");
        } else {
            std::fflush(nullptr);
            ExitProcess(kExitInterrupted);
        }
    }

    int NoneFound()
    {
        display_.Finish({});
        display_.Note("no transmitter found");
        return kExitNoTarget;
    }

    int Finish()
    {
        std::vector<TargetSummary> rows;
        for (const auto& run : runs_) {
            rows.push_back(run->progress.Summary());
            if (o_.command == Command::Version) rows.back().versionAfter.clear(); // nothing was written
        }
        if (o_.all)
            std::stable_sort(rows.begin(), rows.end(), [](const TargetSummary& a, const TargetSummary& b) { return NaturalLess(a.port, b.port); });
        if (rows.empty()) return NoneFound();
        display_.Finish(rows);
        if (abandoned_) return kExitInterrupted;
        const bool allCompleted = std::all_of(rows.begin(), rows.end(), [](const TargetSummary& r) { return r.Completed(); });
        return allCompleted ? kExitSuccess : kExitFailure;
    }

    const Options& o_;
    SystemClock clock_;
    FleetDisplay display_;
    const std::string program_;
    std::vector<std::unique_ptr<TargetRun>> runs_;
    size_t started_ = 0;
    StationPorts station_;
    std::unique_ptr<EmulatedHub> hub_;
    uint64_t nextScanMs_ = 0;
    int interrupts_ = 0;
    bool stopping_ = false;
    bool abandoned_ = false;
};

} // namespace

int RunFleet(const Options& options, const std::string& program)
{
    SilenceDiagnostics(); // the runs keep their own logs; the supervisor's output is theirs
    Supervisor supervisor(options, program);
    return supervisor.Run();
}
