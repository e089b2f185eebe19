#include "programs/vane_upgrade/web/station_page.h"

#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::json;

constexpr const char* kNextSerialNote = "Next series number: ";
constexpr uint64_t kHourMs = 3600 * 1000;

// Texts from devices and files may hold bytes that are not UTF-8: the page
// gets U+FFFD for them rather than a refused document.
Json Text(const std::string& text) { return Json(text); }

std::string Dump(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

std::string QueryValue(const std::string& query, const std::string& name)
{
    size_t start = 0;
    while (start < query.size()) {
        const size_t amp = query.find('&', start);
        const std::string pair = query.substr(start, amp == std::string::npos ? std::string::npos : amp - start);
        if (pair.starts_with(name + "=")) return pair.substr(name.size() + 1);
        if (amp == std::string::npos) break;
        start = amp + 1;
    }
    return "";
}

} // namespace

std::string StoreHostAndDatabase(const std::string& location)
{
    const bool uri = location.starts_with("postgresql://") || location.starts_with("postgres://");
    if (!uri) return location;
    const size_t authorityStart = location.find("://") + 3;
    const size_t authorityEnd = location.find_first_of("/?", authorityStart);
    std::string authority = location.substr(authorityStart, authorityEnd == std::string::npos ? std::string::npos
                                                                                                : authorityEnd - authorityStart);
    if (const size_t at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
    std::string database;
    std::string query;
    if (authorityEnd != std::string::npos && location[authorityEnd] == '/') {
        const size_t mark = location.find('?', authorityEnd);
        database = location.substr(authorityEnd + 1, mark == std::string::npos ? std::string::npos : mark - authorityEnd - 1);
        if (mark != std::string::npos) query = location.substr(mark + 1);
    } else if (authorityEnd != std::string::npos) {
        query = location.substr(authorityEnd + 1);
    }
    if (database.empty()) database = QueryValue(query, "dbname");
    std::string host = authority;
    if (host.empty()) host = QueryValue(query, "host");
    if (host.empty()) host = "localhost";
    return host + (database.empty() ? "" : "/" + database);
}

StationPage::StationPage(StationFacts facts, SlotNames names, uint64_t startUnixMs)
    : facts_(std::move(facts)), names_(std::move(names)), startMs_(startUnixMs)
{
}

void StationPage::Apply(const StationItem& item)
{
    if (item.kind == StationItem::Kind::Started) {
        Tile tile;
        tile.port = item.port;
        tile.startMs = item.unixMs;
        tile.updatedMs = item.unixMs;
        tile.job = ++jobs_;
        tiles_[item.port] = tile;
        changed_.insert(item.port);
        return;
    }
    if (item.kind == StationItem::Kind::StationEnded) {
        ended_ = true;
        headerChanged_ = true;
        return;
    }
    auto it = tiles_.find(item.port);
    if (it == tiles_.end()) return; // not one of this station's runs
    Tile& tile = it->second;
    const bool over = tile.state == "completed" || tile.state == "failed" || tile.state == "abandoned";
    if (item.kind == StationItem::Kind::Ended) {
        if (!over) Ended(tile, item.summary, item.unixMs);
        return;
    }
    if (over) return;
    const TargetEvent& e = item.event;
    if (e.event == "note" && e.text.starts_with(kNextSerialNote)) {
        nextSerial_ = e.text.substr(std::string(kNextSerialNote).size());
        headerChanged_ = true;
        return;
    }
    if (e.event == "status") {
        if (tile.state != "waiting") return;
        tile.step = e.text;
    } else if (e.event == "step") {
        tile.state = "running";
        tile.step = e.text;
        tile.percent = -1;
    } else if (e.event == "progress") {
        if (!e.percent || *e.percent == tile.percent) return;
        tile.state = "running";
        tile.percent = *e.percent;
    } else if (e.event == "version") {
        if (e.version.empty() || !tile.versionBefore.empty()) return;
        tile.versionBefore = e.version;
    } else if (e.event == "result") {
        TargetSummary summary;
        summary.port = tile.port;
        summary.outcome = e.outcome;
        if (e.outcome != "completed") summary.failure = e.text;
        summary.versionBefore = e.versionBefore;
        summary.versionAfter = e.versionAfter;
        summary.serial = e.serial;
        Ended(tile, summary, item.unixMs);
        return;
    } else {
        return;
    }
    tile.updatedMs = item.unixMs;
    changed_.insert(tile.port);
}

void StationPage::Ended(Tile& tile, const TargetSummary& s, uint64_t unixMs)
{
    if (s.outcome == "completed") {
        tile.state = "completed";
        ++completed_;
    } else if (s.outcome == "interrupted") {
        tile.state = "abandoned";
        ++abandoned_;
    } else {
        tile.state = "failed";
        ++failed_;
    }
    tile.message = s.Completed() ? "" : s.failure;
    if (tile.message.empty() && !s.Completed()) tile.message = s.outcome;
    if (!s.versionBefore.empty()) tile.versionBefore = s.versionBefore;
    tile.versionAfter = s.versionAfter;
    tile.serial = s.serial;
    if (s.Completed() && !s.serial.empty()) lastSerial_ = s.serial;
    tile.endMs = unixMs;
    tile.updatedMs = unixMs;
    changed_.insert(tile.port);
    headerChanged_ = true;
}

std::string StationPage::TileJson(const Tile& t) const
{
    return Dump(Json{{"port", Text(t.port)},
                     {"slot", Text(names_.NameOf(t.port))},
                     {"named", names_.Has(t.port)},
                     {"state", t.state},
                     {"step", Text(t.step)},
                     {"percent", t.percent},
                     {"version_before", Text(t.versionBefore)},
                     {"version_after", Text(t.versionAfter)},
                     {"serial", Text(t.serial)},
                     {"message", Text(t.message)},
                     {"started", t.startMs},
                     {"ended", t.endMs},
                     {"updated", t.updatedMs},
                     {"job", t.job}});
}

std::string StationPage::HeaderJson(uint64_t now) const
{
    const unsigned judged = completed_ + failed_;
    Json counters{{"completed", completed_}, {"failed", failed_}, {"abandoned", abandoned_}};
    counters["yield"] = judged == 0 ? Json(nullptr) : Json(100.0 * completed_ / judged);
    const uint64_t span = now > startMs_ ? now - startMs_ : 0;
    // Less than a minute says nothing of an hour.
    counters["per_hour"] = span < 60000 ? Json(nullptr) : Json(static_cast<double>(completed_) * kHourMs / span);
    return Dump(Json{{"station", Text(facts_.station)},
                     {"image", {{"file", Text(facts_.imageFile)},
                                {"version", Text(facts_.imageVersion)},
                                {"sha256", facts_.imageSha256.substr(0, 12)}}},
                     {"store", Text(facts_.store)},
                     {"next_serial", Text(nextSerial_)},
                     {"last_serial", Text(lastSerial_)},
                     {"mode", facts_.mode},
                     {"ended", ended_},
                     {"started", startMs_},
                     {"now", now},
                     {"counters", counters}});
}

std::string StationPage::Snapshot(uint64_t now) const
{
    std::string tiles;
    for (const auto& [port, tile] : tiles_) {
        if (!tiles.empty()) tiles += ',';
        tiles += TileJson(tile);
    }
    return "{\"header\":" + HeaderJson(now) + ",\"tiles\":[" + tiles + "]}";
}

std::string StationPage::Changes(uint64_t now)
{
    if (changed_.empty() && !headerChanged_) return "";
    std::string tiles;
    for (const std::string& port : changed_) {
        if (!tiles.empty()) tiles += ',';
        tiles += TileJson(tiles_.at(port));
    }
    changed_.clear();
    headerChanged_ = false;
    return "{\"header\":" + HeaderJson(now) + ",\"tiles\":[" + tiles + "]}";
}
