#include "programs/vane_upgrade/json_output.h"

#include <ctime>
#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::ordered_json;

void PutIfKnown(Json& object, const char* name, const std::string& value)
{
    if (!value.empty()) object[name] = value;
}

} // namespace

std::string FormatUtcTime(uint64_t wallMs)
{
    const std::time_t seconds = static_cast<std::time_t>(wallMs / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%03uZ", static_cast<unsigned>(wallMs % 1000));
    return text;
}

std::string JsonEventLine(const ConsoleEvent& e)
{
    Json j;
    j["v"] = kJsonEventsVersion;
    j["time"] = FormatUtcTime(e.wallMs);
    j["port"] = e.port;
    j["event"] = EventName(e.kind);
    switch (e.kind) {
    case EventKind::Target:
        j["node"] = e.node;
        PutIfKnown(j, "version", e.version);
        break;
    case EventKind::Status:
    case EventKind::Product:
    case EventKind::Step:
    case EventKind::Note:
    case EventKind::Error:
        j["text"] = e.text;
        break;
    case EventKind::Version:
        j["text"] = e.text;
        j["version"] = e.version;
        break;
    case EventKind::Progress:
        j["phase"] = e.phase;
        j["percent"] = e.percent;
        if (e.bytes) j["bytes"] = *e.bytes;
        if (e.total) j["total"] = *e.total;
        if (e.bytesPerSecond) j["bytes_per_second"] = static_cast<uint64_t>(*e.bytesPerSecond + 0.5);
        if (e.secondsLeft) j["seconds_left"] = *e.secondsLeft;
        break;
    case EventKind::Question:
        j["caption"] = e.caption;
        j["text"] = e.text;
        j["answer"] = e.answer;
        break;
    case EventKind::Message:
        j["caption"] = e.caption;
        j["text"] = e.text;
        break;
    case EventKind::Result:
        j["outcome"] = e.outcome;
        j["exit_code"] = e.exitCode;
        j["text"] = e.text;
        j["seconds"] = static_cast<double>(static_cast<uint64_t>(e.seconds * 1000 + 0.5)) / 1000.0;
        PutIfKnown(j, "version_before", e.versionBefore);
        PutIfKnown(j, "version_after", e.versionAfter);
        PutIfKnown(j, "serial", e.serial);
        PutIfKnown(j, "image", e.image);
        PutIfKnown(j, "identity", e.identity);
        PutIfKnown(j, "next_serial", e.nextSerial);
        if (!e.listName.empty()) j[e.listName] = Json::parse(e.listJson, nullptr, false);
        if (e.recordNotStored) {
            j["record"] = "not stored";
            PutIfKnown(j, "unsaved_records", e.unsavedRecords);
        }
        break;
    }
    // Texts from a device or a file name need not be UTF-8: such bytes are replaced, never a throw.
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void JsonOutput::Emit(const ConsoleEvent& event)
{
    const std::string line = JsonEventLine(event);
    std::lock_guard<std::mutex> lock(mutex_);
    std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
}
