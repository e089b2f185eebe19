#include "programs/vane_upgrade/output/target_events.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "programs/vane_upgrade/cli/exit_codes.h"
#include "programs/vane_upgrade/output/json_output.h"
#include "programs/vane_upgrade/output/one_line.h"
#include "programs/vane_upgrade/output/progress_figures.h"

namespace {

using Json = nlohmann::json;

constexpr size_t kPortColumn = 10;
constexpr size_t kStepColumn = 32;
constexpr const char* kVersionPrefix = "Current version:";
// A result cut to fit the terminal keeps at least this much of itself.
constexpr size_t kShortestResultCell = 24;

std::string TextField(const Json& object, const char* name)
{
    const auto it = object.find(name);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::optional<double> NumberField(const Json& object, const char* name)
{
    const auto it = object.find(name);
    if (it == object.end() || !it->is_number()) return std::nullopt;
    return it->get<double>();
}

std::string PaddedTo(std::string text, size_t width)
{
    if (text.size() < width) text.resize(width, ' ');
    return text;
}

// A table cell in plain ASCII: a version read from an erased or damaged
// identity block is not text, and the columns must stay aligned.
std::string Printable(const std::string& text)
{
    std::string printable;
    for (unsigned char c : text) {
        if (c >= 0x80 && c < 0xC0) continue; // the rest of a character already shown as ?
        printable += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    return printable;
}

} // namespace

std::optional<TargetEvent> ParseTargetEvent(std::string_view line)
{
    const Json object = Json::parse(line.begin(), line.end(), nullptr, false);
    if (object.is_discarded() || !object.is_object()) return std::nullopt;
    TargetEvent e;
    e.event = TextField(object, "event");
    if (e.event.empty()) return std::nullopt;
    e.port = TextField(object, "port");
    e.text = TextField(object, "text");
    e.version = TextField(object, "version");
    e.caption = TextField(object, "caption");
    e.answer = TextField(object, "answer");
    if (auto percent = NumberField(object, "percent")) e.percent = std::clamp(static_cast<int>(*percent), 0, 100);
    if (auto rate = NumberField(object, "bytes_per_second"); rate && *rate >= 0) e.bytesPerSecond = rate;
    if (auto left = NumberField(object, "seconds_left"); left && *left >= 0) e.secondsLeft = static_cast<uint64_t>(*left);
    e.outcome = TextField(object, "outcome");
    if (auto code = NumberField(object, "exit_code")) e.exitCode = static_cast<int>(*code);
    e.versionBefore = TextField(object, "version_before");
    e.versionAfter = TextField(object, "version_after");
    e.serial = TextField(object, "serial");
    e.recordNotStored = TextField(object, "record") == "not stored";
    e.unsavedRecords = TextField(object, "unsaved_records");
    return e;
}

std::string MakeResultLine(const std::string& port, const std::string& outcome, int exitCode, const std::string& text,
                           double seconds, uint64_t unixMs)
{
    ConsoleEvent result;
    result.kind = EventKind::Result;
    result.wallMs = unixMs;
    result.port = port;
    result.outcome = outcome;
    result.exitCode = exitCode;
    result.text = text;
    result.seconds = seconds;
    return JsonEventLine(result);
}

std::optional<std::string> TargetProgress::Apply(const TargetEvent& e)
{
    if (e.event == "status") {
        shown_ = e.text;
        return "Status: " + e.text;
    }
    if (e.event == "product") {
        const std::string product = OneLine(e.text);
        if (product.empty()) return std::nullopt;
        return "Product: " + product;
    }
    if (e.event == "version") {
        std::string name = e.version;
        if (name.empty() && e.text.starts_with(kVersionPrefix)) name = e.text.substr(std::string(kVersionPrefix).size());
        if (!name.empty()) {
            if (firstVersion_.empty()) firstVersion_ = name;
            lastVersion_ = name;
        }
        return e.text.empty() ? std::nullopt : std::optional<std::string>(e.text);
    }
    if (e.event == "step") {
        shown_ = e.text;
        percent_.reset();
        rate_.reset();
        lastTenth_ = 0;
        if (e.text.empty()) return std::nullopt;
        return e.text;
    }
    if (e.event == "progress") {
        if (!e.percent) return std::nullopt;
        if (percent_ && *e.percent < *percent_) lastTenth_ = 0; // the bar started a new run
        percent_ = e.percent;
        rate_ = e.bytesPerSecond;
        const int tenth = *e.percent / 10;
        if (tenth <= lastTenth_) return std::nullopt;
        lastTenth_ = tenth;
        char line[32];
        std::snprintf(line, sizeof line, "Progress: %3d%%", tenth * 10);
        std::string text = line;
        if (e.bytesPerSecond) text += "  " + FormatRate(*e.bytesPerSecond);
        if (e.secondsLeft) text += "  " + FormatDuration(*e.secondsLeft) + " left";
        return text;
    }
    if (e.event == "message") return "Message (" + OneLine(e.caption) + "): " + OneLine(e.text);
    if (e.event == "question") return "Question (" + OneLine(e.caption) + "): " + OneLine(e.text) + " -> " + e.answer;
    if (e.event == "result") {
        sawResult_ = true;
        summary_.outcome = e.outcome.empty() ? "failed" : e.outcome;
        summary_.failure = summary_.Completed() ? std::string() : OneLine(e.text);
        summary_.versionBefore = e.versionBefore;
        summary_.versionAfter = e.versionAfter;
        summary_.serial = e.serial;
        summary_.recordNotStored = e.recordNotStored;
        summary_.unsavedRecords = e.unsavedRecords;
    }
    // A run's complaints (the store that lost a record, the file that keeps it).
    if (e.event == "error" && !e.text.empty()) return OneLine(e.text);
    return std::nullopt;
}

void TargetProgress::Ended(int exitCode, const std::string& why, uint64_t nowMs)
{
    ended_ = true;
    endMs_ = nowMs;
    summary_.port = port_;
    summary_.seconds = static_cast<double>(nowMs - startMs_) / 1000.0;
    if (!sawResult_) {
        summary_.outcome = "failed";
        summary_.failure = why;
    } else if (exitCode == kExitRecordNotStored && summary_.Completed()) {
        summary_.recordNotStored = true; // the device is done, its record is not
    } else if (exitCode != 0 && summary_.Completed()) {
        // A run that said it completed but did not end well has not completed.
        summary_.outcome = "failed";
        summary_.failure = why.empty() ? "the run ended with exit code " + std::to_string(exitCode) : why;
    }
    if (summary_.versionBefore.empty()) summary_.versionBefore = firstVersion_;
    if (summary_.versionAfter.empty() && lastVersion_ != firstVersion_) summary_.versionAfter = lastVersion_;
}

std::string TargetProgress::LiveLine(size_t width) const
{
    std::string line = PaddedTo(port_, kPortColumn - 1) + " ";
    if (ended_) {
        line += summary_.ResultText();
    } else {
        line += PaddedTo(shown_, kStepColumn - 1) + " ";
        if (percent_) {
            char figure[8];
            std::snprintf(figure, sizeof figure, "%3d%%", *percent_);
            line += figure;
            if (rate_) line += "  " + FormatRate(*rate_);
        }
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (line.size() > width) line.resize(width);
    return line;
}

std::string TargetSummary::ResultText() const
{
    return outcome + RecordNotStoredNote(recordNotStored, unsavedRecords) + (failure.empty() ? "" : ": " + failure);
}

TargetSummary TargetProgress::Summary() const
{
    TargetSummary s = summary_;
    s.port = port_;
    return s;
}

std::string FormatSummaryTable(const std::vector<TargetSummary>& rows, size_t width)
{
    struct Cells {
        std::string port, versions, serial, result, time;
    };
    std::vector<Cells> table{{"port", "version before -> after", "serial", "result", "time"}};
    for (const TargetSummary& row : rows) {
        Cells c;
        c.port = Printable(row.port);
        c.versions = (row.versionBefore.empty() ? "-" : Printable(row.versionBefore)) + " -> " +
                     (row.versionAfter.empty() ? "-" : Printable(row.versionAfter));
        c.serial = row.serial.empty() ? "-" : Printable(row.serial);
        c.result = Printable(row.ResultText());
        c.time = FormatDuration(static_cast<uint64_t>(row.seconds + 0.5));
        table.push_back(c);
    }
    size_t wPort = 0, wVersions = 0, wSerial = 0, wResult = 0, wTime = 0;
    for (const Cells& c : table) {
        wPort = std::max(wPort, c.port.size());
        wVersions = std::max(wVersions, c.versions.size());
        wSerial = std::max(wSerial, c.serial.size());
        wTime = std::max(wTime, c.time.size());
    }
    // A row stays one line of the terminal: a result that does not fit is
    // cut there and given whole below the table.
    const size_t fixed = wPort + wVersions + wSerial + wTime + 8;
    const size_t room = width > fixed + kShortestResultCell ? width - fixed : kShortestResultCell;
    std::string whole;
    for (size_t i = 1; i < table.size(); ++i) {
        Cells& c = table[i];
        if (width == 0 || c.result.size() <= room) continue;
        whole += c.port + ": " + c.result + "\n";
        c.result = c.result.substr(0, room - 3) + "...";
    }
    for (const Cells& c : table) wResult = std::max(wResult, c.result.size());
    std::string text;
    for (const Cells& c : table) {
        std::string line = PaddedTo(c.port, wPort) + "  " + PaddedTo(c.versions, wVersions) + "  " +
                           PaddedTo(c.serial, wSerial) + "  " + PaddedTo(c.result, wResult) + "  " + c.time;
        text += line + "\n";
    }
    if (!whole.empty()) text += "\n" + whole;
    return text;
}
