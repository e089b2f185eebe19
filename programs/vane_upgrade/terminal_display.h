#pragma once
// What the console shows of the window: the device status, the product line,
// the version and the step text as they change, and the progress bar. On a
// terminal the bar is one live line (percentage, bytes per second, time
// left), redrawn in place; elsewhere every change is a line of its own and
// the progress a line at each tenth.
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

#include "platform/portable/clock.h"

// "[##########----------]  50%  1.2 MB/s  0:03 left".
std::string FormatProgressBar(int percent, std::optional<double> bytesPerSecond, std::optional<uint64_t> secondsLeft,
                              int barWidth);
// "850 B/s", "12.5 kB/s", "1.2 MB/s".
std::string FormatRate(double bytesPerSecond);
// "0:07", "12:34", "1:02:03".
std::string FormatDuration(uint64_t seconds);

// Rate and time left of one bar run (the bar going from low to high once).
class ProgressEstimator {
public:
    // A new run of the bar for a step that moves totalBytes (0: unknown).
    void Restart(uint64_t nowMs, uint64_t totalBytes);
    void Update(uint64_t nowMs, int percent);
    int Percent() const { return percent_; }
    std::optional<double> BytesPerSecond() const;
    std::optional<uint64_t> SecondsLeft() const;

private:
    uint64_t startMs_ = 0;
    uint64_t nowMs_ = 0;
    uint64_t totalBytes_ = 0;
    int percent_ = 0;
};

// The byte counts that a full bar stands for, per kind of step.
struct JobSizes {
    uint64_t codeBytes = 0; // code image (upgrade), SRAM image, or the dump size
    uint64_t dataBytes = 0; // data image with the kept head of its first block
};

class TerminalDisplay {
public:
    TerminalDisplay(std::FILE* out, bool terminal, IClock& clock, int barWidth = 30);

    void SetJobSizes(const JobSizes& sizes);
    // A control's text changed (the window's text listener; any thread).
    void OnText(int controlId, const std::string& text);
    // The bar's position now (polled).
    void OnProgress(int percent);
    // A line of the program's own, above the bar.
    void Line(const std::string& text);
    // Takes the live bar off the screen before something else writes to the
    // terminal; it comes back with the next change.
    void ClearBar();
    // The run is over: the bar goes from the screen.
    void Finish();

private:
    void PrintLineLocked(const std::string& text);
    void DrawBarLocked();
    void StepChangedLocked(const std::string& step);

    std::mutex mutex_;
    std::FILE* out_;
    const bool terminal_;
    IClock& clock_;
    const int barWidth_;
    JobSizes sizes_;
    uint64_t stepBytes_ = 0;
    std::string status_, product_, version_, step_;
    ProgressEstimator estimator_;
    int lastPercent_ = -1;
    int lastTenth_ = -1;
    bool barShown_ = false;
    bool barUsed_ = false;
    uint64_t lastDrawMs_ = 0;
};
