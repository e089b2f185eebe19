#include "programs/vane_upgrade/web/line_web.h"

#include <chrono>
#include <ctime>

#include "programs/vane_upgrade/web/line_page.h"
#include "programs/vane_upgrade/web/web_assets.h"

namespace {

constexpr uint64_t kReadEveryMs = 3000;

uint64_t UnixMs()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

std::string ErrorJson(const std::string& error)
{
    std::string text = "{\"error\":\"";
    for (unsigned char c : error) {
        if (c == '"' || c == '\\') text += '\\';
        if (c < 0x20) continue;
        text += static_cast<char>(c);
    }
    return text + "\"}";
}

// A number as the search box takes it: 1 to 8 hexadecimal digits.
bool ParseNumber(const std::string& text, uint32_t& number)
{
    if (text.empty() || text.size() > 8) return false;
    number = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return false;
        number = number * 16 + static_cast<uint32_t>(digit);
    }
    return true;
}

} // namespace

struct LineWeb::State final : WebSite {
    State(IRecordStore& s, WebLimits limits) : store(s), server(*this, limits) {}

    IRecordStore& store;
    std::vector<JobRecord> records;
    std::vector<SerialEntry> serials;
    uint64_t readMs = 0;
    std::string readError;

    // The store as of a few seconds ago; one read serves every page open.
    bool Fresh()
    {
        const uint64_t now = UnixMs();
        if (readMs != 0 && now - readMs < kReadEveryMs) return readError.empty();
        readMs = now;
        std::vector<JobRecord> newRecords;
        std::vector<SerialEntry> newSerials;
        std::string error;
        if (!store.ListRecords(newRecords, error) || !store.ListSerials(newSerials, error)) {
            readError = error;
            return false;
        }
        readError.clear();
        records.swap(newRecords);
        serials.swap(newSerials);
        return true;
    }

    WebReply Answer(const std::string& path, const WebQuery& query) override
    {
        if (path == "/") return {200, "text/html; charset=utf-8", std::string(LinePageHtml()), false};
        if (path != "/summary" && path != "/search") return {404, "text/plain", "not found\n", false};
        if (!Fresh()) return {503, "application/json", ErrorJson("the records store cannot be read: " + readError), false};
        const uint64_t now = UnixMs();
        if (path == "/summary") {
            std::string day = UtcText(now).substr(0, 10);
            if (const auto asked = query.find("day"); asked != query.end()) day = asked->second.substr(0, 10);
            return {200, "application/json", LineSummaryJson(records, serials, day, now), false};
        }
        uint32_t number = 0;
        const auto asked = query.find("serial");
        if (asked == query.end() || !ParseNumber(asked->second, number))
            return {400, "application/json", ErrorJson("a series number is 1 to 8 hexadecimal digits"), false};
        return {200, "application/json", SerialSearchJson(records, serials, number, now), false};
    }

    std::string Tick() override { return ""; }

    WebServer server; // last: stops before the rest goes
};

std::unique_ptr<LineWeb> LineWeb::Start(IRecordStore& store, const std::string& address, uint16_t port,
                                        const std::string& token, std::string& error, WebLimits limits)
{
    auto state = std::make_unique<State>(store, limits);
    if (!state->server.Start(address, port, token, error)) return nullptr;
    return std::unique_ptr<LineWeb>(new LineWeb(std::move(state)));
}

LineWeb::LineWeb(std::unique_ptr<State> state) : state_(std::move(state)) {}

LineWeb::~LineWeb() { state_->server.Stop(); }

uint16_t LineWeb::Port() const { return state_->server.Port(); }
