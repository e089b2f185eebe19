#include "programs/vane_upgrade/terminal_display.h"

#include <algorithm>

#include "resources/resource.h"

namespace {

constexpr uint64_t kEraseBlockBytes = 65536;
constexpr uint64_t kMinRateMs = 300;      // shorter runs give no meaningful rate
constexpr uint64_t kRedrawPeriodMs = 500; // the rate and time left move without the percentage

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

uint64_t RoundUpToBlocks(uint64_t bytes) { return (bytes + kEraseBlockBytes - 1) / kEraseBlockBytes * kEraseBlockBytes; }

} // namespace

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

TerminalDisplay::TerminalDisplay(std::FILE* out, bool terminal, IClock& clock, int barWidth)
    : out_(out), terminal_(terminal), clock_(clock), barWidth_(barWidth)
{
}

void TerminalDisplay::SetJobSizes(const JobSizes& sizes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    sizes_ = sizes;
    stepBytes_ = sizes.codeBytes;
}

void TerminalDisplay::OnText(int controlId, const std::string& text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    switch (controlId) {
    case IDC_STATUS:
        if (text == status_) return;
        status_ = text;
        PrintLineLocked("Status: " + text);
        return;
    case IDC_PRODUCT_LINE: {
        const std::string product = Trimmed(text);
        if (product == product_ || product.empty()) return;
        product_ = product;
        PrintLineLocked("Product: " + product);
        return;
    }
    case IDC_VERSION:
        if (text == version_) return;
        version_ = text;
        PrintLineLocked(text);
        return;
    case IDC_PROGRESS_TEXT:
        if (text == step_) return;
        step_ = text;
        if (text.empty()) return;
        StepChangedLocked(text);
        PrintLineLocked(text);
        return;
    default:
        return;
    }
}

void TerminalDisplay::StepChangedLocked(const std::string& step)
{
    // Which file the bar is moving now: the code image first, the data image
    // once the code has been compared.
    if (step.find("Write DATA") != std::string::npos) stepBytes_ = sizes_.dataBytes;
    else if (step.find("Write CODE") != std::string::npos) stepBytes_ = sizes_.codeBytes;
    else if (step.find("Erasing") != std::string::npos) {
        const bool dataNext = barUsed_ && sizes_.dataBytes > 0 && stepBytes_ == sizes_.codeBytes && lastPercent_ >= 100;
        stepBytes_ = RoundUpToBlocks(dataNext ? sizes_.dataBytes : sizes_.codeBytes);
    } else if (step.find("Compare") != std::string::npos && stepBytes_ != sizes_.dataBytes) {
        stepBytes_ = sizes_.codeBytes;
    }
    estimator_.Restart(clock_.NowMs(), stepBytes_);
    lastTenth_ = 0;
}

void TerminalDisplay::OnProgress(int percent)
{
    std::lock_guard<std::mutex> lock(mutex_);
    percent = std::clamp(percent, 0, 100);
    const uint64_t now = clock_.NowMs();
    if (percent == lastPercent_ && (!terminal_ || !barShown_ || now - lastDrawMs_ < kRedrawPeriodMs)) return;
    if (percent < lastPercent_ || lastPercent_ < 0) {
        estimator_.Restart(now, stepBytes_);
        lastTenth_ = 0;
    }
    lastPercent_ = percent;
    estimator_.Update(now, percent);
    if (percent > 0) barUsed_ = true;
    if (!barUsed_) return;
    if (terminal_) {
        DrawBarLocked();
        return;
    }
    const int tenth = percent / 10;
    if (tenth <= lastTenth_ || percent == 0) return;
    lastTenth_ = tenth;
    char line[96];
    std::snprintf(line, sizeof line, "Progress: %3d%%", tenth * 10);
    std::string text = line;
    if (auto rate = estimator_.BytesPerSecond()) text += "  " + FormatRate(*rate);
    if (auto left = estimator_.SecondsLeft()) text += "  " + FormatDuration(*left) + " left";
    PrintLineLocked(text);
}

void TerminalDisplay::DrawBarLocked()
{
    std::string bar = FormatProgressBar(estimator_.Percent(), estimator_.BytesPerSecond(), estimator_.SecondsLeft(), barWidth_);
    std::fprintf(out_, "\r%s\033[K", bar.c_str());
    std::fflush(out_);
    barShown_ = true;
    lastDrawMs_ = clock_.NowMs();
}

void TerminalDisplay::PrintLineLocked(const std::string& text)
{
    if (terminal_ && barShown_) std::fputs("\r\033[K", out_);
    std::fprintf(out_, "%s\n", text.c_str());
    if (terminal_ && barShown_) DrawBarLocked();
    std::fflush(out_);
}

void TerminalDisplay::Line(const std::string& text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    PrintLineLocked(text);
}

void TerminalDisplay::ClearBar()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!terminal_ || !barShown_) return;
    std::fputs("\r\033[K", out_);
    std::fflush(out_);
    barShown_ = false;
}

void TerminalDisplay::Finish()
{
    std::lock_guard<std::mutex> lock(mutex_);
    // The step lines tell how the job ended; a bar left standing would be stale.
    if (terminal_ && barShown_) {
        std::fputs("\r\033[K", out_);
        barShown_ = false;
    }
    std::fflush(out_);
}
