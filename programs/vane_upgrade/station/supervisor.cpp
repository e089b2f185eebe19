#include "programs/vane_upgrade/station/supervisor.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>

#include "device/diagnostics.h"
#include "ports/clock.h"
#include "programs/vane_upgrade/cli/exit_codes.h"
#include "programs/vane_upgrade/output/console_events.h"
#include "programs/vane_upgrade/output/progress_figures.h"
#include "programs/vane_upgrade/station/station_display.h"
#include "programs/vane_upgrade/station/station_plan.h"
#include "ports/station_host.h"
#include "programs/vane_upgrade/station/station_web_feed.h"

namespace {

// A run bounds its own waits (the monitor's attempts, the job, the version
// read); this is the backstop for one that hangs all the same.
constexpr uint64_t kRunLimitMs = 15 * 60 * 1000;
constexpr int kWaitMs = 100;
constexpr uint64_t kRescanMs = 1000;

uint64_t UnixMs()
{
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count());
}

StationOutput ChooseStationOutput(const Options& o, StationHost& host)
{
    if (o.output == OutputMode::Json) return StationOutput::Json;
    return host.OutputIsTerminal() ? StationOutput::Live : StationOutput::Plain;
}

struct TargetRun {
    TargetRun(std::string port, uint64_t startMs) : progress(std::move(port), startMs), deadlineMs(startMs + kRunLimitMs) {}
    TargetProgress progress;
    std::unique_ptr<StationChild> child;
    uint64_t deadlineMs;
    bool killed = false;
};

class Supervisor {
public:
    Supervisor(const Options& options, const std::string& program, StationHost& host, IClock& clock)
        : o_(options),
          clock_(clock),
          display_(ChooseStationOutput(options, host), stdout, stderr, host.TerminalWidth(), options.output == OutputMode::Quiet),
          program_(program.empty() ? host.OwnProgramPath() : program),
          host_(host)
    {
    }

    int Run()
    {
        std::string problem;
        if (!host_.Start(problem)) return Refused(kExitFailure, problem);
        if (!o_.emulateFlashDir.empty()) {
            std::error_code error;
            std::filesystem::create_directories(o_.emulateFlashDir, error);
            if (error) return Refused(kExitUsage, "--emulate-flash-dir " + o_.emulateFlashDir + ": " + error.message());
        }
        if (!LoadSlotNames(o_, slotNames_, problem)) {
            display_.Note(problem);
            return kExitUsage;
        }
        if (!o_.serve.empty() && !StartPage(problem)) {
            display_.Note(problem);
            return kExitFailure;
        }
        const uint64_t start = clock_.NowMs();
        if (o_.emulate) hub_ = std::make_unique<EmulatedHub>(EmulatedPorts(o_), o_.arriveEveryMs, start);
        if (o_.all) {
            for (const std::string& port : PresentPorts(start)) StartRun(port);
            if (runs_.empty()) return NoneFound();
        } else if (!o_.emulate) {
            if (!host_.WatchArrivals(problem) && !problem.empty())
                display_.Note(problem + " (the ports are looked at every second instead)");
        }
        Loop();
        host_.StopWatching();
        const int code = Finish();
        if (web_) web_->Finish(); // the pages open now keep the end on screen
        return code;
    }

private:
    bool StartPage(std::string& problem)
    {
        std::string link;
        web_ = StartStationPage(o_, slotNames_, UnixMs(), link, problem);
        if (!web_) return false;
        display_.Note("station page: " + link);
        return true;
    }

    std::set<std::string> PresentPorts(uint64_t now)
    {
        if (hub_) return hub_->Present(now);
        std::string error;
        std::set<std::string> ports = host_.AttachedTargets(error);
        if (!error.empty() && !scanComplained_) {
            scanComplained_ = true;
            display_.Note(error);
        }
        return ports;
    }

    void StartRun(const std::string& port)
    {
        const uint64_t now = clock_.NowMs();
        auto run = std::make_unique<TargetRun>(port, now);
        run->child = host_.NewChild();
        if (web_) web_->Started(port, UnixMs());
        std::string error;
        std::vector<std::string> arguments = ChildArguments(o_, port, EmulatedIndex(port));
        if (slotNames_.Has(port)) arguments.insert(arguments.end(), {"--slot-name", slotNames_.NameOf(port)});
        if (program_.empty() || !run->child->Start(program_, arguments, error)) {
            if (error.empty()) error = "this program's own file cannot be found";
            display_.Note(port + ": " + error);
            run->progress.Ended(kExitFailure, error, now);
            display_.Ended(run->progress, kExitFailure, UnixMs());
            if (web_) web_->Ended(run->progress.Summary(), UnixMs());
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
            std::vector<StationChild*> running;
            for (const auto& run : runs_)
                if (!run->progress.HasEnded()) running.push_back(run->child.get());
            bool arrived = false;
            const int interrupts = host_.Wait(running, kWaitMs, arrived);
            for (int i = 0; i < interrupts; ++i) OnInterrupt();
            if (arrived) rescan_ = true;
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
        StationChild& child = *run.child;
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

    void OnOutputLine(TargetRun& run, std::string line)
    {
        // A line as a Windows console program ends it.
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::optional<TargetEvent> event = ParseTargetEvent(line);
        std::optional<std::string> plain;
        if (event) plain = run.progress.Apply(*event);
        if (event && web_) web_->Event(*event, run.progress.Port(), UnixMs());
        display_.OutputLine(run.progress, line, event, plain);
    }

    void EndRun(TargetRun& run, uint64_t now)
    {
        const StationChild& child = *run.child;
        std::string why;
        if (run.killed) why = "no end after " + FormatDuration(kRunLimitMs / 1000) + ": stopped";
        else if (!child.HowItEnded().empty()) why = "the run " + child.HowItEnded();
        else if (!run.progress.SawResult()) why = "the run ended without a result (exit code " + std::to_string(child.ExitCode()) + ")";
        run.progress.Ended(child.ExitCode(), why, now);
        display_.Ended(run.progress, child.ExitCode(), UnixMs());
        if (web_) web_->Ended(run.progress.Summary(), UnixMs());
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
            host_.EndNow(kExitInterrupted);
        }
        // Each run takes the interrupt as a single run does: a job that
        // writes the transmitter finishes on the first, anything else ends.
        for (auto& run : runs_)
            if (!run->progress.HasEnded()) run->child->PassInterrupt();
    }

    int NoneFound()
    {
        display_.Finish({});
        return Refused(kExitNoTarget, "no transmitter found");
    }

    // The station ends before any target's run: with --json its own result
    // event stands for the runs that never started.
    int Refused(int code, const std::string& why)
    {
        display_.Note(why);
        if (o_.output == OutputMode::Json) {
            std::fprintf(stdout, "%s\n", MakeResultLine("-", OutcomeOfExitCode(code, false), code, why, 0, UnixMs()).c_str());
            std::fflush(stdout);
        }
        return code;
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
        if (slotNames_.Size() > 0) {
            std::stable_sort(rows.begin(), rows.end(),
                             [this](const TargetSummary& a, const TargetSummary& b) { return slotNames_.SlotLess(a.port, b.port); });
            for (TargetSummary& row : rows)
                if (slotNames_.Has(row.port)) row.port += " (slot " + slotNames_.NameOf(row.port) + ")";
        }
        display_.Finish(rows);
        if (abandoned_) return kExitInterrupted;
        const bool allCompleted = std::all_of(rows.begin(), rows.end(), [](const TargetSummary& r) { return r.Completed(); });
        if (!allCompleted) return kExitFailure;
        const bool allStored = std::none_of(rows.begin(), rows.end(), [](const TargetSummary& r) { return r.recordNotStored; });
        return allStored ? kExitSuccess : kExitRecordNotStored;
    }

    const Options& o_;
    IClock& clock_;
    StationDisplay display_;
    const std::string program_;
    // Outlives the runs: a run's process outlives none of the host's pipes.
    StationHost& host_;
    std::vector<std::unique_ptr<TargetRun>> runs_;
    size_t started_ = 0;
    StationPorts station_;
    std::unique_ptr<EmulatedHub> hub_;
    bool rescan_ = false;
    bool scanComplained_ = false;
    uint64_t nextScanMs_ = 0;
    int interrupts_ = 0;
    bool stopping_ = false;
    bool abandoned_ = false;
    SlotNames slotNames_;
    std::unique_ptr<StationWeb> web_;
};

} // namespace

int RunStation(const Options& options, StationHost& host, IClock& clock, const std::string& program)
{
    Supervisor supervisor(options, program, host, clock);
    return supervisor.Run();
}

int RunFleet(const Options& options, const std::string& program)
{
    SilenceDiagnostics(); // the runs keep their own logs; the supervisor's output is theirs
    const std::unique_ptr<StationHost> host = MakeMachineStationHost();
    SystemClock clock;
    return RunStation(options, *host, clock, program);
}
