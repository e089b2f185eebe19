#include "programs/vane_upgrade/web/station_web.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "programs/vane_upgrade/web/web_assets.h"

namespace {

uint64_t UnixMs()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

// With no page open, the server takes the queue in batches of this many
// (a station watched for hours keeps its memory).
constexpr size_t kIdleBatch = 256;

// Only the bar's moves may be lost when the server falls behind; the next one
// puts the bar right again.
bool Essential(const StationItem& item)
{
    return item.kind != StationItem::Kind::Event || item.event.event != "progress";
}

} // namespace

struct StationWeb::State final : WebSite {
    State(const Settings& s, StationFacts facts, SlotNames names, uint64_t startMs)
        : settings(s), page(std::move(facts), std::move(names), startMs), server(*this, s.limits)
    {
    }

    // The queue between the two threads.
    std::mutex lock;
    std::vector<StationItem> queue;
    std::atomic<size_t> dropped{0};
    std::condition_variable endSent;
    bool ended = false;    // under lock: the end was handed to the pages

    // The server's thread only.
    const Settings settings;
    StationPage page;
    std::vector<StationItem> taken;
    bool endTaken = false, endSentToPages = false;
    uint64_t lastChangesMs = 0;

    void Drain()
    {
        {
            std::lock_guard<std::mutex> hold(lock);
            taken.swap(queue);
        }
        for (const StationItem& item : taken) {
            page.Apply(item);
            if (item.kind == StationItem::Kind::StationEnded) endTaken = true;
        }
        taken.clear();
    }

    WebReply Answer(const std::string& path, const WebQuery&) override
    {
        Drain();
        if (path == "/") return {200, "text/html; charset=utf-8", std::string(StationPageHtml()), false};
        if (path == "/state") return {200, "application/json", page.Snapshot(UnixMs()), false};
        if (path == "/events") {
            const uint64_t now = UnixMs();
            WebReply reply{200, "text/event-stream", "event: snapshot\ndata: " + page.Snapshot(now) + "\n\n", true};
            // The first page needs none of the changes made while no page was open.
            if (server.StreamsOpen() == 0) page.Changes(now);
            return reply;
        }
        return {404, "text/plain", "not found\n", false};
    }

    std::string Tick() override
    {
        Drain();
        std::string chunk;
        // Changes are made into text only for pages that take them.
        if (const size_t streams = server.StreamsOpen(); streams > 0) {
            const uint64_t now = UnixMs();
            const WebLimits& limits = settings.limits;
            if (streams > limits.busyStreams && page.OnlyBarsMoved() && now < lastChangesMs + limits.busyBarMs) {
                // Many pages: bars alone are sent less often; a later tick takes them.
                server.Wake();
            } else {
                const std::string changes = page.Changes(now);
                if (!changes.empty()) {
                    chunk = "event: changes\ndata: " + changes + "\n\n";
                    lastChangesMs = now;
                }
            }
        }
        if (endTaken && !endSentToPages) {
            chunk += "event: end\ndata: {}\n\n";
            endSentToPages = true;
            std::lock_guard<std::mutex> hold(lock);
            ended = true;
            endSent.notify_all();
        }
        return chunk;
    }

    // Declared last: it stops (and stops calling the page) before the rest goes.
    WebServer server;
};

std::unique_ptr<StationWeb> StationWeb::Start(const Settings& settings, StationFacts facts, SlotNames names,
                                              uint64_t startUnixMs, std::string& error)
{
    auto state = std::make_unique<State>(settings, std::move(facts), std::move(names), startUnixMs);
    if (!state->server.Start(settings.address, settings.port, settings.token, error)) return nullptr;
    return std::unique_ptr<StationWeb>(new StationWeb(std::move(state)));
}

StationWeb::StationWeb(std::unique_ptr<State> state) : state_(std::move(state)) {}

StationWeb::~StationWeb() { state_->server.Stop(); }

void StationWeb::Push(StationItem item)
{
    const bool last = item.kind == StationItem::Kind::StationEnded;
    bool wake = false;
    {
        std::lock_guard<std::mutex> hold(state_->lock);
        if (state_->queue.size() >= state_->settings.queueLimit && !Essential(item)) {
            ++state_->dropped;
            return;
        }
        state_->queue.push_back(std::move(item));
        // One wake per tick's worth: the first item after the server took the queue.
        const size_t queued = state_->queue.size();
        wake = last || (queued == 1 && state_->server.StreamsOpen() > 0) || queued % kIdleBatch == 0;
    }
    if (wake) state_->server.Wake();
}

void StationWeb::Started(const std::string& port, uint64_t unixMs)
{
    StationItem item;
    item.kind = StationItem::Kind::Started;
    item.port = port;
    item.unixMs = unixMs;
    Push(std::move(item));
}

void StationWeb::Event(const TargetEvent& event, const std::string& port, uint64_t unixMs)
{
    StationItem item;
    item.kind = StationItem::Kind::Event;
    item.port = port;
    item.unixMs = unixMs;
    item.event = event;
    Push(std::move(item));
}

void StationWeb::Ended(const TargetSummary& summary, uint64_t unixMs)
{
    StationItem item;
    item.kind = StationItem::Kind::Ended;
    item.port = summary.port;
    item.unixMs = unixMs;
    item.summary = summary;
    Push(std::move(item));
}

void StationWeb::Finish()
{
    StationItem item;
    item.kind = StationItem::Kind::StationEnded;
    Push(std::move(item));
    std::unique_lock<std::mutex> hold(state_->lock);
    state_->endSent.wait_for(hold, std::chrono::seconds(1), [this] { return state_->ended; });
    hold.unlock();
    // The clients take the last chunk while the server still runs.
    for (int i = 0; i < 50 && state_->server.PendingBytes() > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

uint16_t StationWeb::Port() const { return state_->server.Port(); }

size_t StationWeb::Dropped() const { return state_->dropped.load(); }

const WebServer& StationWeb::Server() const { return state_->server; }

std::string PageLink(const std::string& address, uint16_t port, const std::string& token)
{
    const bool v6 = address.find(':') != std::string::npos;
    std::string link = "http://" + (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port) + "/";
    if (!token.empty()) link += "?token=" + token;
    return link;
}
