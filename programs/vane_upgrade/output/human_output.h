#pragma once
// The events for people. By default: the target and the version once, one
// line per step (its text as the window shows it), the progress of every
// phase, and a last line with the result and the time it took. On a terminal
// the progress is one live line (bar, percentage, bytes per second, time
// left) redrawn in place; elsewhere a line at each quarter of a phase.
// Verbose adds every change of the window's status, product and version
// texts; quiet shows only errors and the result (the questions and message
// boxes print themselves on standard error).
#include <cstdio>
#include <mutex>
#include <string>

#include "programs/vane_upgrade/output/console_events.h"

enum class Verbosity { Quiet, Normal, Verbose };

// "Result: completed in 0:03  (Vane_TX_V1020 -> Vane_TX_V1030)".
std::string FormatResultLine(const ConsoleEvent& result);

class HumanOutput final : public IEventSink {
public:
    HumanOutput(std::FILE* out, std::FILE* err, bool terminal, Verbosity verbosity, int barWidth = 30);

    void Emit(const ConsoleEvent& event) override;
    // Takes the live bar off the screen before something else writes to the terminal.
    void ClearBar();

private:
    void LineLocked(const std::string& text);
    void ClearBarLocked();
    void ProgressLocked(const ConsoleEvent& event);

    std::mutex mutex_;
    std::FILE* out_;
    std::FILE* err_;
    const bool terminal_;
    const Verbosity verbosity_;
    const int barWidth_;
    bool barShown_ = false;
    bool targetShown_ = false;
    std::string versionShown_;
    std::string runPhase_;
    int runPercent_ = 0;
    int quartersShown_ = 0;
};
