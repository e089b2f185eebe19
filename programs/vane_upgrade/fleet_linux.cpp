#include "programs/vane_upgrade/fleet.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>

#include "device/diagnostics.h"
#include "platform/linux/udev_hotplug_monitor.h"
#include "platform/linux/udev_target_scan.h"
#include "ports/clock.h"
#include "programs/vane_upgrade/child_process.h"
#include "programs/vane_upgrade/exit_codes.h"
#include "programs/vane_upgrade/fleet_display.h"
#include "programs/vane_upgrade/fleet_plan.h"
#include "programs/vane_upgrade/interrupts.h"
#include "programs/vane_upgrade/progress_figures.h"

namespace {

// A run bounds its own waits (the monitor's attempts, the job, the version
// read); this is the backstop for one that hangs all the same.
constexpr uint64_t kRunLimitMs = 15 * 60 * 1000;
constexpr int kPollMs = 100;
constexpr uint64_t kRescanMs = 1000;

int g_signalPipe[2] = {-1, -1};

void NoteSignal()
{
    const char byte = 1;
    if (write(g_signalPipe[1], &byte, 1) < 0) {
        // A full pipe holds enough signals already.
    }
}

uint64_t UnixMs()
{
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count());
}

void Drain(int fd, int& count)
{
    char buffer[64];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) count += static_cast<int>(n);
}

size_t TerminalWidth()
{
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

FleetOutput ChooseFleetOutput(const Options& o)
{
    if (o.output == OutputMode::Json) return FleetOutput::Json;
    return isatty(STDOUT_FILENO) != 0 ? FleetOutput::Live : FleetOutput::Plain;
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
        if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0 || pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
            display_.Note("cannot set up the supervisor's pipes");
            return kExitFailure;
        }
        interrupts::Redirect(NoteSignal);
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
        } else if (!o_.emulate) {
            StartHotplug();
        }
        Loop();
        monitor_.Stop();
        return Finish();
    }

private:
    std::set<std::string> PresentPorts(uint64_t now)
    {
        if (hub_) return hub_->Present(now);
        std::vector<TargetLocation> found;
        std::string error;
        if (!ScanUdevTargets(found, error) && !scanComplained_) {
            scanComplained_ = true;
            display_.Note(error);
        }
        std::set<std::string> ports;
        for (const TargetLocation& target : found) ports.insert(target.portPath);
        return ports;
    }

    void StartHotplug()
    {
        std::string problem;
        const int wake = wakePipe_[1];
        if (!monitor_.Start(
                [wake](uintptr_t) {
                    const char byte = 1;
                    if (write(wake, &byte, 1) < 0) {
                        // A full pipe wakes the loop all the same.
                    }
                },
                problem))
            display_.Note(problem + " (the ports are looked at every second instead)");
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
        if (!hub_ && now < nextScanMs_ && !rescan_) return;
        rescan_ = false;
        nextScanMs_ = now + kRescanMs;
        const size_t budget = o_.count > 0 ? o_.count - std::min<size_t>(started_, o_.count) : std::numeric_limits<size_t>::max();
        for (const std::string& port : station_.Seen(PresentPorts(now), budget)) StartRun(port);
    }

    void Loop()
    {
        for (;;) {
            WatchForArrivals(clock_.NowMs());
            if (Done()) return;
            std::vector<pollfd> fds{{g_signalPipe[0], POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
            for (const auto& run : runs_) {
                if (run->child->OutFd() >= 0) fds.push_back({run->child->OutFd(), POLLIN, 0});
                if (run->child->ErrFd() >= 0) fds.push_back({run->child->ErrFd(), POLLIN, 0});
            }
            poll(fds.data(), fds.size(), kPollMs);
            int signals = 0, wakes = 0;
            Drain(g_signalPipe[0], signals);
            Drain(wakePipe_[0], wakes);
            for (int i = 0; i < signals; ++i) OnInterrupt();
            if (wakes > 0) rescan_ = true;
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
        child.ReadOut();
        while (auto line = child.OutLines().Next()) OnOutputLine(run, *line);
        child.ReadErr();
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
            child.Signal(SIGKILL);
        }
    }

    void OnOutputLine(TargetRun& run, const std::string& line)
    {
        const std::optional<TargetEvent> event = ParseTargetEvent(line);
        std::optional<std::string> plain;
        if (event) plain = run.progress.Apply(*event);
        display_.OutputLine(run.progress, line, event, plain);
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
            _exit(kExitInterrupted);
        }
        // Each run takes the interrupt as a single run does: a job that
        // writes the transmitter finishes on the first, anything else ends.
        for (auto& run : runs_)
            if (!run->progress.HasEnded()) run->child->Signal(SIGINT);
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
    UdevHotplugMonitor monitor_;
    int wakePipe_[2] = {-1, -1};
    bool rescan_ = false;
    bool scanComplained_ = false;
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
