#include "programs/vane_upgrade/fleet_display.h"

#include "programs/vane_upgrade/safe_text.h"

namespace {

constexpr uint64_t kRedrawMs = 200;

} // namespace

FleetDisplay::FleetDisplay(FleetOutput mode, std::FILE* out, std::FILE* err, size_t width, bool quiet)
    : mode_(mode), quiet_(quiet && mode != FleetOutput::Json), out_(out), err_(err), width_(width > 1 ? width - 1 : 79)
{
}

void FleetDisplay::OutputLine(const TargetProgress& target, const std::string& line, const std::optional<TargetEvent>& event,
                              const std::optional<std::string>& plain)
{
    if (mode_ == FleetOutput::Json) {
        if (event) {
            std::fprintf(out_, "%s\n", line.c_str());
            std::fflush(out_);
        } else {
            Lasting(err_, target.Port() + ": " + line);
        }
        return;
    }
    // A run's complaints are errors in every mode, quiet too.
    if (event && event->event == "error") {
        if (plain) Lasting(err_, target.Port() + ": " + *plain);
        return;
    }
    if (mode_ == FleetOutput::Plain && !quiet_) {
        if (!event) Lasting(out_, target.Port() + ": " + line);
        else if (plain) Lasting(out_, target.Port() + ": " + *plain);
        return;
    }
    // The live line shows steps and progress; what it cannot show stays above it.
    if (!event) Lasting(out_, target.Port() + ": " + line);
    else if (plain && (event->event == "message" || event->event == "question")) Lasting(out_, target.Port() + ": " + *plain);
}

void FleetDisplay::ErrorLine(const std::string& port, const std::string& line)
{
    if (line.empty()) return;
    Lasting(err_, port + ": " + line);
}

void FleetDisplay::Note(const std::string& text) { Lasting(err_, "vane-upgrade: " + text); }

void FleetDisplay::Ended(const TargetProgress& target, int exitCode, uint64_t unixMs)
{
    const TargetSummary s = target.Summary();
    if (mode_ == FleetOutput::Json) {
        if (!target.SawResult()) {
            std::fprintf(out_, "%s\n", MakeResultLine(s.port, s.outcome, exitCode == 0 ? 1 : exitCode, s.failure, s.seconds, unixMs).c_str());
            std::fflush(out_);
        }
        return;
    }
    // Its live line goes with the lasting one that ends it.
    std::erase_if(block_, [&](const std::string& line) { return line.starts_with(s.port + " "); });
    Lasting(out_, s.port + ": " + s.ResultText());
}

void FleetDisplay::Lasting(std::FILE* stream, const std::string& text)
{
    ClearBlock();
    std::fflush(out_);
    // The runs' texts come from targets and stores: one line, no escape sequences.
    std::fprintf(stream, "%s\n", TerminalSafe(text).c_str());
    std::fflush(stream);
    DrawBlock();
}

void FleetDisplay::ClearBlock()
{
    if (mode_ != FleetOutput::Live || drawn_ == 0) return;
    // Back to the first live line, and everything below it goes.
    std::fprintf(out_, "\033[%zuF\033[J", drawn_);
    drawn_ = 0;
}

void FleetDisplay::DrawBlock()
{
    if (mode_ != FleetOutput::Live) return;
    for (const std::string& line : block_) std::fprintf(out_, "\033[2K%s\n", line.c_str());
    drawn_ = block_.size();
    std::fflush(out_);
}

void FleetDisplay::Refresh(const std::vector<const TargetProgress*>& running, uint64_t nowMs)
{
    if (mode_ != FleetOutput::Live || quiet_) return;
    std::vector<std::string> lines;
    for (const TargetProgress* target : running) lines.push_back(target->LiveLine(width_));
    if (lines == block_ || (nowMs - lastDrawMs_ < kRedrawMs && lines.size() == block_.size())) return;
    lastDrawMs_ = nowMs;
    ClearBlock();
    block_ = std::move(lines);
    DrawBlock();
}

void FleetDisplay::Finish(const std::vector<TargetSummary>& rows)
{
    ClearBlock();
    block_.clear();
    if (mode_ == FleetOutput::Json || rows.empty()) return;
    std::fprintf(out_, "\n%s", FormatSummaryTable(rows, mode_ == FleetOutput::Live ? width_ + 1 : 0).c_str());
    std::fflush(out_);
}
