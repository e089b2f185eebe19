#pragma once
// The figures of the console's progress: the bar, the rate, the time left.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "ports/clock.h"

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

// A size rounded up to whole erase blocks of 64 KiB.
uint64_t RoundUpToEraseBlocks(uint64_t bytes);
