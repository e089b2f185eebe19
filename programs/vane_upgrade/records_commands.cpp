#include "programs/vane_upgrade/records_commands.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>

#include "programs/vane_upgrade/exit_codes.h"
#include "programs/vane_upgrade/safe_text.h"

namespace {

using Row = std::vector<std::string>;

const Row kRecordHeader = {"started_at", "ended_at", "station", "port", "command", "version_before", "version_after",
                           "image", "image_sha256", "serial_number", "outcome", "failure", "duration_ms"};
const Row kSerialHeader = {"serial_number", "state", "station", "port", "taken_at", "reason"};
// Its station was stopped while the job ran, or the job runs still: whether
// the transmitter holds the number is not known.
constexpr const char* kNoRecord = "no record of its job";

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
}

std::string Seconds(uint64_t ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%llu.%01llu", static_cast<unsigned long long>(ms / 1000),
                  static_cast<unsigned long long>(ms % 1000 / 100));
    return text;
}

Row RecordRow(const JobRecord& r)
{
    return {r.startUtc, r.endUtc, r.station, r.port, r.command, r.versionBefore, r.versionAfter, r.image,
            r.imageSha256, r.serial ? Hex(*r.serial) : "", JobResultName(r.result), r.failure,
            std::to_string(r.durationMs)};
}

SerialEntry Shown(SerialEntry s)
{
    if (s.state == SerialState::Taken && s.reason.empty()) s.reason = kNoRecord;
    return s;
}

Row SerialRow(const SerialEntry& s)
{
    return {Hex(s.number), SerialStateName(s.state), s.station, s.port, s.takenUtc, s.reason};
}

std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string Csv(const Row& header, const std::vector<Row>& rows)
{
    std::string text;
    auto line = [&text](const Row& row) {
        for (size_t i = 0; i < row.size(); ++i) {
            if (i > 0) text += ',';
            text += CsvField(row[i]);
        }
        text += "\r\n";
    };
    line(header);
    for (const Row& row : rows) line(row);
    return text;
}

// For a terminal: whatever a store holds (another tool may have written it),
// a cell is one line without control characters or escape sequences.
std::string Table(const Row& header, std::vector<Row> rows)
{
    for (Row& row : rows)
        for (std::string& cell : row) cell = TerminalSafe(cell);
    std::vector<size_t> widths(header.size());
    for (size_t i = 0; i < header.size(); ++i) widths[i] = header[i].size();
    for (const Row& row : rows)
        for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], ShownWidth(row[i]));
    std::string text;
    auto line = [&](const Row& row) {
        std::string out;
        for (size_t i = 0; i < row.size(); ++i) {
            out += row[i];
            if (i + 1 < row.size()) out += std::string(widths[i] - ShownWidth(row[i]) + 2, ' ');
        }
        while (!out.empty() && out.back() == ' ') out.pop_back();
        text += out + "\n";
    };
    line(header);
    for (const Row& row : rows) line(row);
    return text;
}

nlohmann::ordered_json RecordJson(const JobRecord& r)
{
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    const Row row = RecordRow(r);
    for (size_t i = 0; i < kRecordHeader.size(); ++i) object[kRecordHeader[i]] = row[i];
    object["serial_number"] = r.serial ? nlohmann::ordered_json(Hex(*r.serial)) : nlohmann::ordered_json(nullptr);
    object["duration_ms"] = r.durationMs;
    return object;
}

// A version that was not read (or not as text) is unknown.
std::string ShownVersion(const std::string& version)
{
    const std::string known = KnownVersion(version);
    return known.empty() ? "-" : known;
}

// Readable columns for a person; the export formats keep every field.
Row TableRecordRow(const JobRecord& r)
{
    return {r.startUtc, r.station, r.port, r.command, ShownVersion(r.versionBefore), ShownVersion(r.versionAfter),
            r.serial ? Hex(*r.serial) : "-",
            JobResultName(r.result), Seconds(r.durationMs), r.image, r.imageSha256.substr(0, 12), r.failure};
}

} // namespace

std::string FormatRecords(const std::vector<JobRecord>& records, RecordsFormat format)
{
    std::vector<Row> rows;
    switch (format) {
    case RecordsFormat::Json: {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const JobRecord& r : records) list.push_back(RecordJson(r));
        return list.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    }
    case RecordsFormat::Csv:
        for (const JobRecord& r : records) rows.push_back(RecordRow(r));
        return Csv(kRecordHeader, rows);
    case RecordsFormat::Table: break;
    }
    for (const JobRecord& r : records) rows.push_back(TableRecordRow(r));
    return Table({"Start (UTC)", "Station", "Port", "Command", "Before", "After", "Serial", "Result", "Time (s)",
                  "Image", "SHA-256", "Failure"},
                 rows);
}

std::string FormatSerials(const std::vector<SerialEntry>& serials, RecordsFormat format)
{
    std::vector<Row> rows;
    for (const SerialEntry& s : serials) rows.push_back(SerialRow(Shown(s)));
    switch (format) {
    case RecordsFormat::Json: {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const Row& row : rows) {
            nlohmann::ordered_json object = nlohmann::ordered_json::object();
            for (size_t i = 0; i < kSerialHeader.size(); ++i) object[kSerialHeader[i]] = row[i];
            list.push_back(object);
        }
        return list.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    }
    case RecordsFormat::Csv: return Csv(kSerialHeader, rows);
    case RecordsFormat::Table: break;
    }
    return Table({"Serial", "State", "Station", "Port", "Taken (UTC)", "Reason"}, rows);
}

std::string RecordJsonLine(const JobRecord& record, const std::string& unsettledSerialState)
{
    nlohmann::ordered_json object = RecordJson(record);
    if (!unsettledSerialState.empty()) object["serial_state"] = unsettledSerialState;
    return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

bool RecordsText(IRecordStore& store, RecordsFormat format, bool serials, std::string& text, std::string& error)
{
    if (serials) {
        std::vector<SerialEntry> entries;
        if (!store.ListSerials(entries, error)) return false;
        text = FormatSerials(entries, format);
    } else {
        std::vector<JobRecord> records;
        if (!store.ListRecords(records, error)) return false;
        text = FormatRecords(records, format);
    }
    return true;
}

int ListRecordsCommand(IRecordStore& store, RecordsFormat format, bool serials, std::FILE* out, std::string& error)
{
    std::string text;
    if (!RecordsText(store, format, serials, text, error)) return kExitFailure;
    std::fputs(text.c_str(), out);
    return std::fflush(out) == 0 ? kExitSuccess : kExitFailure;
}

int SerialNextCommand(IRecordStore& store, uint32_t next, std::FILE* out, std::string& error)
{
    bool refused = false;
    if (!store.SetNextSerial(next, refused, error)) {
        if (refused) error = "serial-next " + Hex(next) + " refused: " + error;
        return kExitFailure;
    }
    if (out != nullptr) std::fprintf(out, "Next series number: %s\n", Hex(next).c_str());
    return kExitSuccess;
}

bool RecordFromJsonLine(const std::string& line, JobRecord& r, std::optional<SerialState>& serialState)
{
    const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
    if (object.is_discarded() || !object.is_object()) return false;
    auto text = [&object](const char* name, std::string& field) {
        const auto it = object.find(name);
        if (it == object.end() || !it->is_string()) return false;
        field = it->get<std::string>();
        return true;
    };
    r = JobRecord();
    std::string outcome, serial;
    if (!text("started_at", r.startUtc) || !text("ended_at", r.endUtc) || !text("station", r.station) ||
        !text("port", r.port) || !text("command", r.command) || !text("outcome", outcome) || r.startUtc.empty())
        return false;
    text("version_before", r.versionBefore);
    text("version_after", r.versionAfter);
    text("image", r.image);
    text("image_sha256", r.imageSha256);
    text("failure", r.failure);
    const std::optional<JobResult> result = JobResultFromName(outcome);
    if (!result) return false;
    r.result = *result;
    if (text("serial_number", serial)) {
        char* end = nullptr;
        const unsigned long long number = std::strtoull(serial.c_str(), &end, 16);
        if (serial.empty() || serial.size() > 8 || *end != '\0') return false;
        r.serial = static_cast<uint32_t>(number);
    }
    if (const auto ms = object.find("duration_ms"); ms != object.end() && ms->is_number_unsigned()) r.durationMs = ms->get<uint64_t>();
    std::string state;
    serialState.reset();
    if (text("serial_state", state)) {
        serialState = SerialStateFromName(state);
        if (!serialState) return false;
    }
    return true;
}

int ImportRecordsCommand(IRecordStore& store, const std::string& path, std::string& summary, std::string& error)
{
    std::ifstream file(path);
    if (!file) {
        error = "records import " + path + ": cannot be read";
        return kExitFailure;
    }
    size_t added = 0, present = 0, unreadable = 0, number = 0;
    std::string line;
    while (std::getline(file, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        JobRecord record;
        std::optional<SerialState> state;
        if (!RecordFromJsonLine(line, record, state)) {
            if (unreadable++ == 0) error = path + ": line " + std::to_string(number) + " is not a record";
            continue;
        }
        bool isNew = false;
        if (!store.ImportRecord(record, state, isNew, error)) return kExitFailure;
        ++(isNew ? added : present);
    }
    summary = "Imported " + std::to_string(added) + " records from " + path + "; " + std::to_string(present) +
              " were in the store already";
    if (unreadable > 0) summary += "; " + std::to_string(unreadable) + " lines are not records";
    return unreadable == 0 ? kExitSuccess : kExitFailure;
}
