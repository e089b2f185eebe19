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

// A text as a JSON string, as Dump makes it; plain text, the usual case, is
// only quoted (a tile is written at every change the pages are sent).
std::string Quoted(const std::string& text)
{
    for (const char c : text)
        if (c < 0x20 || c > 0x7E || c == '"' || c == '\\') return Dump(Text(text));
    return '"' + text + '"';
}

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
    // The header's members that never change, without the braces.
    const std::string fixed = Dump(Json{{"station", Text(facts_.station)},
                                        {"image", {{"file", Text(facts_.imageFile)},
                                                   {"version", Text(facts_.imageVersion)},
                                                   {"sha256", facts_.imageSha256.substr(0, 12)}}},
                                        {"store", Text(facts_.store)},
                                        {"mode", facts_.mode},
                                        {"started", startMs_}});
    factsJson_ = fixed.substr(1, fixed.size() - 2);
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
        Touched(item.port);
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
        const bool barOnly = tile.state == "running";
        tile.state = "running";
        tile.percent = *e.percent;
        tile.updatedMs = item.unixMs;
        Touched(tile.port, barOnly);
        return;
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
    Touched(tile.port);
}

void StationPage::Touched(const std::string& port, bool barOnly)
{
    changed_.insert(port);
    tileJson_.erase(port);
    if (!barOnly) moreThanBars_ = true;
}

bool StationPage::OnlyBarsMoved() const { return !changed_.empty() && !moreThanBars_ && !headerChanged_; }

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
    Touched(tile.port);
    headerChanged_ = true;
}

const std::string& StationPage::TileJson(const Tile& t) const
{
    const auto cached = tileJson_.find(t.port);
    if (cached != tileJson_.end()) return cached->second;
    // The members in the order Dump gives them.
    std::string json = "{\"ended\":" + std::to_string(t.endMs) + ",\"job\":" + std::to_string(t.job) +
                       ",\"message\":" + Quoted(t.message) + ",\"named\":" + (names_.Has(t.port) ? "true" : "false") +
                       ",\"percent\":" + std::to_string(t.percent) + ",\"port\":" + Quoted(t.port) +
                       ",\"serial\":" + Quoted(t.serial) + ",\"slot\":" + Quoted(names_.NameOf(t.port)) +
                       ",\"started\":" + std::to_string(t.startMs) + ",\"state\":" + Quoted(t.state) +
                       ",\"step\":" + Quoted(t.step) + ",\"updated\":" + std::to_string(t.updatedMs) +
                       ",\"version_after\":" + Quoted(t.versionAfter) + ",\"version_before\":" + Quoted(t.versionBefore) + "}";
    return tileJson_[t.port] = std::move(json);
}

std::string StationPage::HeaderJson(uint64_t now) const
{
    const unsigned judged = completed_ + failed_;
    const uint64_t span = now > startMs_ ? now - startMs_ : 0;
    const Json yield = judged == 0 ? Json(nullptr) : Json(100.0 * completed_ / judged);
    // Less than a minute says nothing of an hour.
    const Json perHour = span < 60000 ? Json(nullptr) : Json(static_cast<double>(completed_) * kHourMs / span);
    // Made by hand around the facts' part made once: every page that opens,
    // and every tick, asks for it.
    return "{\"counters\":{\"abandoned\":" + std::to_string(abandoned_) + ",\"completed\":" + std::to_string(completed_) +
           ",\"failed\":" + std::to_string(failed_) + ",\"per_hour\":" + Dump(perHour) + ",\"yield\":" + Dump(yield) +
           "},\"ended\":" + (ended_ ? "true" : "false") + ",\"last_serial\":" + Quoted(lastSerial_) +
           ",\"next_serial\":" + Quoted(nextSerial_) + ",\"now\":" + std::to_string(now) + "," + factsJson_ + "}";
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
    moreThanBars_ = false;
    return "{\"header\":" + HeaderJson(now) + ",\"tiles\":[" + tiles + "]}";
}
