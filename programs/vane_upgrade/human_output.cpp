#include "programs/vane_upgrade/human_output.h"

#include "programs/vane_upgrade/list_targets.h"
#include "programs/vane_upgrade/progress_figures.h"

namespace {

std::string PhaseLabel(const std::string& phase)
{
    std::string label = "  " + phase;
    if (label.size() < 9) label.append(9 - label.size(), ' ');
    return label;
}

} // namespace

std::string FormatResultLine(const ConsoleEvent& result)
{
    std::string line = "Result: " + result.outcome + " in " + FormatDuration(static_cast<uint64_t>(result.seconds + 0.5));
    if (!result.text.empty() && result.text != "Complete!") line += ": " + result.text;
    if (!result.serial.empty()) line += "  series number " + result.serial;
    if (!result.versionAfter.empty())
        line += "  (" + (result.versionBefore.empty() ? std::string("?") : result.versionBefore) + " -> " + result.versionAfter + ")";
    // Last, where a station's operator looks: the device is done, its record is not.
    return line + RecordNotStoredNote(result.recordNotStored, result.unsavedRecords);
}

HumanOutput::HumanOutput(std::FILE* out, std::FILE* err, bool terminal, Verbosity verbosity, int barWidth)
    : out_(out), err_(err), terminal_(terminal), verbosity_(verbosity), barWidth_(barWidth)
{
}

void HumanOutput::Emit(const ConsoleEvent& e)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const bool verbose = verbosity_ == Verbosity::Verbose;
    const bool normal = verbosity_ != Verbosity::Quiet;
    switch (e.kind) {
    case EventKind::Target:
        if (!e.version.empty()) { // a target of the list
            LineLocked(FormatListLine(e.port, e.node, e.version));
        } else if (normal && !targetShown_) {
            targetShown_ = true;
            LineLocked("Target: port " + e.port + ", node " + e.node);
        }
        return;
    case EventKind::Status:
        if (verbose) LineLocked("Status: " + e.text);
        return;
    case EventKind::Product:
        if (verbose) LineLocked("Product: " + e.text);
        return;
    case EventKind::Version:
        if (verbose) {
            if (!e.text.empty()) LineLocked(e.text);
        } else if (normal && !e.version.empty() && e.version != versionShown_) {
            versionShown_ = e.version;
            LineLocked(e.text);
        }
        return;
    case EventKind::Step:
        runPhase_.clear();
        if (normal) LineLocked(e.text);
        return;
    case EventKind::Progress:
        if (normal) ProgressLocked(e);
        return;
    case EventKind::Question:
    case EventKind::Message:
        return;
    case EventKind::Note:
        if (normal) LineLocked(e.text);
        return;
    case EventKind::Error:
        ClearBarLocked();
        std::fprintf(err_, "vane-upgrade: %s\n", e.text.c_str());
        std::fflush(err_);
        return;
    case EventKind::Result:
        LineLocked(FormatResultLine(e));
        return;
    }
}

void HumanOutput::ProgressLocked(const ConsoleEvent& e)
{
    const bool newRun = e.phaseStart || e.phase != runPhase_ || e.percent < runPercent_;
    if (newRun) quartersShown_ = 0;
    runPhase_ = e.phase;
    runPercent_ = e.percent;
    if (terminal_) {
        const std::string bar = PhaseLabel(e.phase) + FormatProgressBar(e.percent, e.bytesPerSecond, e.secondsLeft, barWidth_);
        std::fprintf(out_, "\r%s\033[K", bar.c_str());
        std::fflush(out_);
        barShown_ = true;
        return;
    }
    const int quarter = e.percent / 25;
    if (quarter <= quartersShown_) return;
    quartersShown_ = quarter;
    char figure[8];
    std::snprintf(figure, sizeof figure, "%3d%%", e.percent);
    std::string line = PhaseLabel(e.phase) + figure;
    if (e.bytesPerSecond) line += "  " + FormatRate(*e.bytesPerSecond);
    if (e.secondsLeft && e.percent < 100) line += "  " + FormatDuration(*e.secondsLeft) + " left";
    LineLocked(line);
}

void HumanOutput::LineLocked(const std::string& text)
{
    ClearBarLocked();
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

void HumanOutput::ClearBarLocked()
{
    if (!barShown_) return;
    // A full bar stays as the line of its phase; any other is taken away.
    std::fputs(runPercent_ >= 100 ? "\n" : "\r\033[K", out_);
    std::fflush(out_);
    barShown_ = false;
}

void HumanOutput::ClearBar()
{
    std::lock_guard<std::mutex> lock(mutex_);
    ClearBarLocked();
}
