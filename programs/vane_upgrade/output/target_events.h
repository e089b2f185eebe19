#pragma once
// What a supervisor of several targets knows of each: the event lines that a
// single-target run writes with --json (one JSON object per line), read back
// into the target's step, progress and result, and the texts it shows of
// them: a live line, plain lines and the summary table.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The fields of one event line that the supervisor uses.
struct TargetEvent {
    std::string port;
    std::string event;   // "status", "product", "version", "step", "progress", "message", "question", "result", ...
    std::string text;    // status, product, step, the version line, a box's text, the result's failure text
    std::string version; // "version": the name alone
    std::string caption, answer;
    std::optional<int> percent;
    std::optional<double> bytesPerSecond;
    std::optional<uint64_t> secondsLeft;
    // "result"
    std::string outcome;
    std::optional<int> exitCode;
    std::string versionBefore, versionAfter, serial;
    bool recordNotStored = false; // "record": "not stored"
    std::string unsavedRecords;
};

// Nothing for a line that is not a JSON object with a text "event".
std::optional<TargetEvent> ParseTargetEvent(std::string_view line);

// The result line that stands in for a run that ended without one (it crashed
// or was killed): the same fields a run writes, time in UTC.
std::string MakeResultLine(const std::string& port, const std::string& outcome, int exitCode, const std::string& text,
                           double seconds, uint64_t unixMs);

// One row of the summary table.
struct TargetSummary {
    std::string port;
    std::string versionBefore, versionAfter, serial; // empty when unknown
    std::string outcome;                             // "completed", "failed", "declined", "no-target", ...
    std::string failure;                             // what ended a job that did not complete
    double seconds = 0;
    bool recordNotStored = false;                    // the store of --records did not take its record
    std::string unsavedRecords;                      // ... the file that keeps it
    bool Completed() const { return outcome == "completed"; }
    // "completed, record not stored: FILE: failure" as the summary and the end line show it.
    std::string ResultText() const;
};

// One target's run as its events tell it.
class TargetProgress {
public:
    TargetProgress(std::string port, uint64_t startMs) : port_(std::move(port)), startMs_(startMs) {}

    const std::string& Port() const { return port_; }
    // Takes one event in; returns the plain line it makes (without the port), if any.
    std::optional<std::string> Apply(const TargetEvent& event);
    // The run's process ended with exitCode; why says how, when it ended
    // without a result of its own (a crash, a kill).
    void Ended(int exitCode, const std::string& why, uint64_t nowMs);
    bool HasEnded() const { return ended_; }
    bool SawResult() const { return sawResult_; }
    // "1-1.4     Write CODE to SPI Flash ...     61%  1.9 MB/s", at most width characters.
    std::string LiveLine(size_t width) const;
    TargetSummary Summary() const;

private:
    std::string port_;
    uint64_t startMs_;
    uint64_t endMs_ = 0;
    std::string shown_; // the latest status or step text
    std::optional<int> percent_;
    std::optional<double> rate_;
    int lastTenth_ = 0;
    std::string firstVersion_, lastVersion_;
    bool sawResult_ = false;
    bool ended_ = false;
    TargetSummary summary_;
};

// The summary: a header and one row per target, in the order given. With a
// width (the terminal's), a result too long for its row is cut there and
// given whole below the table.
std::string FormatSummaryTable(const std::vector<TargetSummary>& rows, size_t width = 0);
