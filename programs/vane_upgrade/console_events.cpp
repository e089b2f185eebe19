#include "programs/vane_upgrade/console_events.h"

#include <algorithm>

#include "programs/vane_upgrade/exit_codes.h"
#include "programs/vane_upgrade/safe_text.h"
#include "resources/resource.h"

namespace {

constexpr char kVersionPrefix[] = "Current version:";

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

} // namespace

const char* EventName(EventKind kind)
{
    switch (kind) {
    case EventKind::Target: return "target";
    case EventKind::Status: return "status";
    case EventKind::Product: return "product";
    case EventKind::Version: return "version";
    case EventKind::Step: return "step";
    case EventKind::Progress: return "progress";
    case EventKind::Question: return "question";
    case EventKind::Message: return "message";
    case EventKind::Note: return "note";
    case EventKind::Error: return "error";
    case EventKind::Result: return "result";
    }
    return "note";
}

std::string PhaseOfStep(const std::string& step, Command command)
{
    if (Contains(step, "Erasing")) return "erase";
    if (Contains(step, "Write CODE")) return "write";
    if (Contains(step, "Write DATA")) return "data";
    if (Contains(step, "Compare")) return "verify";
    if (Contains(step, "Downloading SPI Data")) return "dump";
    if (command == Command::Sram) return "sram";
    if (command == Command::Dump) return "dump";
    return "job";
}

std::string VersionOfLine(const std::string& line)
{
    if (!line.starts_with(kVersionPrefix)) return "";
    const std::string version = Trimmed(line.substr(sizeof kVersionPrefix - 1));
    // An erased or damaged identity block gives bytes, not a version.
    return version == "Unknown" ? "" : KnownVersion(version);
}

std::string RecordNotStoredNote(bool notStored, const std::string& unsavedRecords)
{
    if (!notStored) return "";
    return ", record not stored: " + (unsavedRecords.empty() ? std::string("lost") : unsavedRecords);
}

std::string OutcomeOfExitCode(int exitCode, bool declined)
{
    switch (exitCode) {
    case kExitSuccess:
    case kExitRecordNotStored: return "completed";
    case kExitUsage: return "usage";
    case kExitNoTarget: return "no-target";
    case kExitInterrupted: return "interrupted";
    default: return declined ? "declined" : "failed";
    }
}

EventReporter::EventReporter(IEventSink& sink, IClock& clock, std::function<uint64_t()> wallMs, std::string port)
    : sink_(sink), clock_(clock), wallMs_(std::move(wallMs)), port_(std::move(port)), startMs_(clock.NowMs())
{
}

void EventReporter::SetPort(const std::string& port, bool fixed)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (portFixed_) return;
    port_ = port;
    portFixed_ = fixed;
}

void EventReporter::SetLocator(std::function<void(std::string& port, std::string& node)> locate)
{
    std::lock_guard<std::mutex> lock(mutex_);
    locate_ = std::move(locate);
}

ConsoleEvent EventReporter::Make(EventKind kind) const
{
    ConsoleEvent event;
    event.kind = kind;
    event.wallMs = wallMs_ ? wallMs_() : 0;
    event.port = port_;
    return event;
}

void EventReporter::OnText(int controlId, const std::string& text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    switch (controlId) {
    case IDC_STATUS: {
        if (text == status_) return;
        status_ = text;
        ConsoleEvent event = Make(EventKind::Status);
        event.text = text;
        EmitLocked(event);
        if (text != "Connected" || !locate_) return;
        std::string port, node = "-";
        locate_(port, node);
        if (!port.empty() && !portFixed_) port_ = port;
        ConsoleEvent target = Make(EventKind::Target);
        target.node = node;
        EmitLocked(target);
        return;
    }
    case IDC_PRODUCT_LINE: {
        const std::string product = Trimmed(text);
        if (product == product_ || product.empty()) return;
        product_ = product;
        ConsoleEvent event = Make(EventKind::Product);
        event.text = product;
        EmitLocked(event);
        return;
    }
    case IDC_VERSION: {
        if (text == versionLine_) return;
        versionLine_ = text;
        ConsoleEvent event = Make(EventKind::Version);
        event.version = VersionOfLine(text);
        // The window shows an erased identity block's bytes as they are.
        event.text = IsPrintableUtf8(text) ? text : kUnknownVersionLine;
        knownVersion_ = event.version; // "Unknown" after a disconnection forgets it
        EmitLocked(event);
        return;
    }
    case IDC_PROGRESS_TEXT:
        if (text == step_) return;
        step_ = text;
        if (!text.empty()) StepLocked(text);
        return;
    default:
        return;
    }
}

void EventReporter::StepLocked(const std::string& step)
{
    ConsoleEvent event = Make(EventKind::Step);
    event.text = step;
    EmitLocked(event);
    if (Contains(step, "Write DATA")) codeVerified_ = true;
    phase_ = PhaseOfStep(step, command_);
    // A new step is a new run of the bar, timed from here.
    estimator_.Restart(clock_.NowMs(), PhaseBytesLocked(phase_));
    runStarted_ = true;
    freshRun_ = true;
    lastPercent_ = 0;
}

uint64_t EventReporter::PhaseBytesLocked(const std::string& phase) const
{
    // Erasing and comparing follow the code image until it has been
    // compared, then the data image.
    const uint64_t file = codeVerified_ && sizes_.dataBytes > 0 ? sizes_.dataBytes : sizes_.codeBytes;
    if (phase == "erase") return RoundUpToEraseBlocks(file);
    if (phase == "write") return sizes_.codeBytes;
    if (phase == "data") return sizes_.dataBytes;
    if (phase == "verify") return command_ == Command::Upgrade ? file : sizes_.codeBytes;
    if (phase == "sram" || phase == "dump") return sizes_.codeBytes;
    return 0;
}

void EventReporter::OnProgress(int percent)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!jobRunning_) return;
    percent = std::clamp(percent, 0, 100);
    const std::string phase = phase_.empty() ? PhaseOfStep("", command_) : phase_;
    const uint64_t now = clock_.NowMs();
    const uint64_t total = PhaseBytesLocked(phase);
    const bool restart = !runStarted_ || percent < lastPercent_; // the bar was put back
    if (restart) {
        estimator_.Restart(now, total);
        runStarted_ = true;
        freshRun_ = true;
    } else if (percent == lastPercent_) {
        return;
    }
    lastPercent_ = percent;
    if (percent == 0) return;
    estimator_.Update(now, percent);
    if (phase == "verify" && percent >= 100 && !codeVerified_ && command_ == Command::Upgrade) codeVerified_ = true;
    ConsoleEvent event = Make(EventKind::Progress);
    event.phase = phase;
    event.percent = percent;
    event.phaseStart = freshRun_;
    freshRun_ = false;
    if (total > 0) {
        event.total = total;
        event.bytes = total * static_cast<uint64_t>(percent) / 100;
    }
    event.bytesPerSecond = estimator_.BytesPerSecond();
    event.secondsLeft = estimator_.SecondsLeft();
    EmitLocked(event);
}

void EventReporter::JobStarting(Command command, const JobSizes& sizes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    command_ = command;
    sizes_ = sizes;
    jobRunning_ = jobStarted_ = true;
    versionBefore_ = knownVersion_;
    codeVerified_ = false;
    phase_.clear();
    runStarted_ = false;
    lastPercent_ = 0;
}

void EventReporter::JobEnded()
{
    std::lock_guard<std::mutex> lock(mutex_);
    jobRunning_ = false;
}

void EventReporter::Target(const std::string& port, const std::string& node, const std::string& version)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ConsoleEvent event = Make(EventKind::Target);
    if (!portFixed_) event.port = port;
    event.node = node;
    event.version = version;
    EmitLocked(event);
}

void EventReporter::Question(const std::string& caption, const std::string& text, bool ok)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ConsoleEvent event = Make(EventKind::Question);
    event.caption = caption;
    event.text = text;
    event.answer = ok ? "ok" : "cancel";
    EmitLocked(event);
}

void EventReporter::Message(const std::string& caption, const std::string& text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ConsoleEvent event = Make(EventKind::Message);
    event.caption = caption;
    event.text = text;
    EmitLocked(event);
}

void EventReporter::Note(const std::string& text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ConsoleEvent event = Make(EventKind::Note);
    event.text = text;
    EmitLocked(event);
}

void EventReporter::Error(const std::string& text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ConsoleEvent event = Make(EventKind::Error);
    event.text = text;
    EmitLocked(event);
}

void EventReporter::Result(ConsoleEvent result)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const ConsoleEvent common = Make(EventKind::Result);
    result.kind = EventKind::Result;
    result.wallMs = common.wallMs;
    result.port = common.port;
    result.seconds = static_cast<double>(clock_.NowMs() - startMs_) / 1000.0;
    if (jobStarted_ && command_ == Command::Upgrade) { // only an upgrade reads the version again
        result.versionBefore = versionBefore_;
        result.versionAfter = knownVersion_;
    } else if (jobStarted_) {
        result.versionBefore = versionBefore_;
    } else {
        result.versionBefore = knownVersion_;
    }
    EmitLocked(result);
}
