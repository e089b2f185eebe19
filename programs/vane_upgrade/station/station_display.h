#pragma once
// What a run over several targets shows. On a terminal: one live line per
// running target (port, step text, percent, speed), redrawn in place, with
// lasting lines (boxes, a run's complaints, each target's end) above them.
// Elsewhere: plain lines prefixed with the port. With --json: the runs' own
// event lines, relayed unchanged, and nothing else on standard output.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "programs/vane_upgrade/output/target_events.h"

enum class StationOutput { Live, Plain, Json };

class StationDisplay {
public:
    // quiet: only boxes, complaints, each target's end and the summary.
    StationDisplay(StationOutput mode, std::FILE* out, std::FILE* err, size_t width = 80, bool quiet = false);

    // One line of a run's standard output, the event it holds (if it holds
    // one) and the plain line the target made of it.
    void OutputLine(const TargetProgress& target, const std::string& line, const std::optional<TargetEvent>& event,
                    const std::optional<std::string>& plain);
    // One line of a run's standard error.
    void ErrorLine(const std::string& port, const std::string& line);
    // The supervisor's own complaint or note (standard error).
    void Note(const std::string& text);
    // A target's run has ended (after TargetProgress::Ended).
    void Ended(const TargetProgress& target, int exitCode, uint64_t unixMs);
    // The live lines of the targets running now (on a terminal; limited to a few redraws a second).
    void Refresh(const std::vector<const TargetProgress*>& running, uint64_t nowMs);
    // The live lines go; the summary table follows (not with --json).
    void Finish(const std::vector<TargetSummary>& rows);

private:
    void Lasting(std::FILE* stream, const std::string& text);
    void ClearBlock();
    void DrawBlock();

    StationOutput mode_;
    bool quiet_;
    std::FILE* out_;
    std::FILE* err_;
    size_t width_;
    std::vector<std::string> block_; // the live lines as last drawn
    size_t drawn_ = 0;
    uint64_t lastDrawMs_ = 0;
};
