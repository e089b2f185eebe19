#include "programs/vane_upgrade/output/progress_figures.h"

#include <algorithm>

namespace {

constexpr uint64_t kEraseBlockBytes = 65536;
constexpr uint64_t kMinRateMs = 300;      // shorter runs give no meaningful rate

} // namespace

uint64_t RoundUpToEraseBlocks(uint64_t bytes) { return (bytes + kEraseBlockBytes - 1) / kEraseBlockBytes * kEraseBlockBytes; }

std::string FormatRate(double bytesPerSecond)
{
    char text[32];
    if (bytesPerSecond < 1000) std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
    else if (bytesPerSecond < 1000000) std::snprintf(text, sizeof text, "%.1f kB/s", bytesPerSecond / 1000);
    else std::snprintf(text, sizeof text, "%.1f MB/s", bytesPerSecond / 1000000);
    return text;
}

std::string FormatDuration(uint64_t seconds)
{
    char text[32];
    const uint64_t h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    if (h > 0) std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(h),
                             static_cast<unsigned long long>(m), static_cast<unsigned long long>(s));
    else std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(m), static_cast<unsigned long long>(s));
    return text;
}

std::string FormatProgressBar(int percent, std::optional<double> bytesPerSecond, std::optional<uint64_t> secondsLeft,
                              int barWidth)
{
    percent = std::clamp(percent, 0, 100);
    const int filled = barWidth * percent / 100;
    std::string bar = "[";
    bar.append(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(barWidth - filled), '-');
    bar += ']';
    char figure[8];
    std::snprintf(figure, sizeof figure, " %3d%%", percent);
    bar += figure;
    if (bytesPerSecond) bar += "  " + FormatRate(*bytesPerSecond);
    if (secondsLeft) bar += "  " + FormatDuration(*secondsLeft) + " left";
    return bar;
}

void ProgressEstimator::Restart(uint64_t nowMs, uint64_t totalBytes)
{
    startMs_ = nowMs_ = nowMs;
    totalBytes_ = totalBytes;
    percent_ = 0;
}

void ProgressEstimator::Update(uint64_t nowMs, int percent)
{
    nowMs_ = nowMs;
    percent_ = std::clamp(percent, 0, 100);
}

std::optional<double> ProgressEstimator::BytesPerSecond() const
{
    const uint64_t elapsed = nowMs_ - startMs_;
    if (totalBytes_ == 0 || percent_ == 0 || elapsed < kMinRateMs) return std::nullopt;
    return static_cast<double>(totalBytes_) * percent_ / 100.0 / (static_cast<double>(elapsed) / 1000.0);
}

std::optional<uint64_t> ProgressEstimator::SecondsLeft() const
{
    const uint64_t elapsed = nowMs_ - startMs_;
    if (percent_ == 0 || elapsed < kMinRateMs) return std::nullopt;
    if (percent_ >= 100) return 0;
    const double left = static_cast<double>(elapsed) * (100 - percent_) / percent_ / 1000.0;
    return static_cast<uint64_t>(left + 0.5);
}
