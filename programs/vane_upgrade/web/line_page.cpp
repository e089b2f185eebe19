#include "programs/vane_upgrade/web/line_page.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::json;

// A number still "taken" this long after it was handed out belongs to a job
// that ended without a word: no run of a station lasts longer.
constexpr uint64_t kAbandonedAfterMs = 15 * 60 * 1000;
constexpr size_t kRecentSerials = 30;

std::string Dump(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
}

// "2026-12-08T10:45:03.120Z": its hour "10", its day "2026-12-08".
std::string DayOf(const std::string& utc) { return utc.substr(0, 10); }
int HourOf(const std::string& utc)
{
    if (utc.size() < 13) return -1;
    const char high = utc[11], low = utc[12];
    if (high < '0' || high > '2' || low < '0' || low > '9') return -1;
    return (high - '0') * 10 + (low - '0');
}

struct Counts {
    unsigned completed = 0, failed = 0, declined = 0;
    void Add(JobResult result)
    {
        if (result == JobResult::Completed) ++completed;
        else if (result == JobResult::Declined) ++declined;
        else ++failed;
    }
    Json ToJson() const
    {
        const unsigned judged = completed + failed;
        return Json{{"completed", completed},
                    {"failed", failed},
                    {"declined", declined},
                    {"yield", judged == 0 ? Json(nullptr) : Json(100.0 * completed / judged)}};
    }
};

Json JobJson(const JobRecord& r)
{
    return Json{{"started", r.startUtc},          {"ended", r.endUtc},
                {"station", r.station},           {"port", r.port},
                {"command", r.command},           {"image", r.image},
                {"image_sha256", r.imageSha256},  {"version_before", r.versionBefore},
                {"version_after", r.versionAfter}, {"serial", r.serial ? Hex(*r.serial) : ""},
                {"result", JobResultName(r.result)}, {"failure", r.failure},
                {"duration_ms", r.durationMs}};
}

std::string SerialStateShown(const SerialEntry& s, uint64_t nowUnixMs)
{
    if (s.state != SerialState::Taken) return SerialStateName(s.state);
    // The store's times are UTC texts of one format: they compare as texts.
    const std::string limit = UtcText(nowUnixMs > kAbandonedAfterMs ? nowUnixMs - kAbandonedAfterMs : 0);
    return s.takenUtc < limit ? "abandoned" : "taken";
}

Json SerialJson(const SerialEntry& s, uint64_t nowUnixMs)
{
    return Json{{"number", Hex(s.number)}, {"state", SerialStateShown(s, nowUnixMs)}, {"station", s.station},
                {"port", s.port},          {"taken", s.takenUtc},                      {"reason", s.reason}};
}

} // namespace

std::string LineSummaryJson(const std::vector<JobRecord>& records, const std::vector<SerialEntry>& serials,
                            const std::string& day, uint64_t nowUnixMs)
{
    std::map<std::string, const JobRecord*> last;
    std::map<std::string, Counts> stationCounts;
    std::map<std::string, std::map<int, Counts>> stationHours;
    std::map<int, Counts> lineHours;
    Counts line;
    struct Failure {
        unsigned count = 0;
        std::map<std::string, unsigned> stations;
    };
    std::map<std::string, Failure> failures;
    for (const JobRecord& r : records) {
        const JobRecord*& latest = last[r.station];
        if (latest == nullptr || latest->endUtc <= r.endUtc) latest = &r;
        if (DayOf(r.endUtc) != day) {
            stationCounts[r.station]; // a station that worked another day is listed too
            continue;
        }
        stationCounts[r.station].Add(r.result);
        line.Add(r.result);
        const int hour = HourOf(r.endUtc);
        stationHours[r.station][hour].Add(r.result);
        lineHours[hour].Add(r.result);
        if (r.result == JobResult::Failed) {
            Failure& f = failures[r.failure.empty() ? "failed" : r.failure];
            ++f.count;
            ++f.stations[r.station];
        }
    }
    Json stations = Json::array();
    for (const auto& [name, counts] : stationCounts) {
        Json station = counts.ToJson();
        station["station"] = name;
        station["last"] = JobJson(*last.at(name));
        Json hours = Json::array();
        for (const auto& [hour, c] : stationHours[name]) {
            Json h = c.ToJson();
            h["hour"] = hour;
            hours.push_back(h);
        }
        station["hours"] = hours;
        stations.push_back(station);
    }
    Json hours = Json::array();
    for (const auto& [hour, c] : lineHours) {
        Json h = c.ToJson();
        h["hour"] = hour;
        hours.push_back(h);
    }
    std::vector<std::pair<std::string, Failure>> byCount(failures.begin(), failures.end());
    std::stable_sort(byCount.begin(), byCount.end(), [](const auto& a, const auto& b) { return a.second.count > b.second.count; });
    Json failureList = Json::array();
    for (const auto& [message, f] : byCount) {
        Json where = Json::object();
        for (const auto& [station, count] : f.stations) where[station] = count;
        failureList.push_back(Json{{"message", message}, {"count", f.count}, {"stations", where}});
    }
    Json serialCounts{{"burned", 0}, {"void", 0}, {"abandoned", 0}, {"taken", 0}};
    for (const SerialEntry& s : serials) {
        Json& count = serialCounts[SerialStateShown(s, nowUnixMs)];
        count = count.get<int>() + 1;
    }
    Json recent = Json::array();
    for (size_t i = serials.size(); i > 0 && recent.size() < kRecentSerials; --i) recent.push_back(SerialJson(serials[i - 1], nowUnixMs));
    Json lineJson = line.ToJson();
    lineJson["hours"] = hours;
    return Dump(Json{{"day", day},
                     {"now", nowUnixMs},
                     {"line", lineJson},
                     {"stations", stations},
                     {"failures", failureList},
                     {"serials", {{"counts", serialCounts}, {"recent", recent}}}});
}

std::string SerialSearchJson(const std::vector<JobRecord>& records, const std::vector<SerialEntry>& serials,
                             uint32_t number, uint64_t nowUnixMs)
{
    Json jobs = Json::array();
    for (const JobRecord& r : records)
        if (r.serial && *r.serial == number) jobs.push_back(JobJson(r));
    Json entry = nullptr;
    for (const SerialEntry& s : serials)
        if (s.number == number) entry = SerialJson(s, nowUnixMs);
    return Dump(Json{{"number", Hex(number)}, {"jobs", jobs}, {"serial", entry}});
}
