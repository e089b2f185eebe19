#pragma once
// The station page served beside a run over several targets. The supervisor
// hands each thing it sees to a bounded queue and never waits: the page's
// state is kept and served on the server's own thread.
#include <cstdint>
#include <memory>
#include <string>

#include "programs/vane_upgrade/web/station_page.h"
#include "programs/vane_upgrade/http/web_server.h"

class StationWeb {
public:
    struct Settings {
        std::string address = "127.0.0.1";
        uint16_t port = 0;
        std::string token; // "" : none needed
        WebLimits limits;
        size_t queueLimit = 8192; // progress beyond this is dropped; starts and ends never are
    };

    // Null with error when the address cannot be served.
    static std::unique_ptr<StationWeb> Start(const Settings& settings, StationFacts facts, SlotNames names,
                                             uint64_t startUnixMs, std::string& error);
    ~StationWeb();

    // From the supervisor's thread; none of them waits on the server.
    void Started(const std::string& port, uint64_t unixMs);
    void Event(const TargetEvent& event, const std::string& port, uint64_t unixMs);
    void Ended(const TargetSummary& summary, uint64_t unixMs);
    // The station ends: the pages open get the last changes and the end, so
    // that they keep showing it (waits a second at most).
    void Finish();

    uint16_t Port() const;
    size_t Dropped() const;
    const WebServer& Server() const;

    struct State;

private:
    explicit StationWeb(std::unique_ptr<State> state);
    void Push(StationItem item);
    std::unique_ptr<State> state_;
};

// The page's address as printed for the worker: http://ADDRESS:PORT/ with the
// token when one is needed.
std::string PageLink(const std::string& address, uint16_t port, const std::string& token);
