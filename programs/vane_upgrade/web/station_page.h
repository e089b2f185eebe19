#pragma once
// The station page's state: one tile per slot and the station's header,
// made from the events of the supervisor's runs. The page gets the whole
// state when it opens its stream and then the tiles that changed, so that a
// page opened mid-run, or reloaded, shows what the terminal shows.
#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "programs/vane_upgrade/output/target_events.h"
#include "programs/vane_upgrade/cli/slot_names.h"

struct StationFacts {
    std::string station;        // the station's name
    std::string imageFile;      // the image as given
    std::string imageVersion;   // its name without the extension ("Vane_TX_V1030")
    std::string imageSha256;    // lower-case hexadecimal; empty when it could not be read
    std::string store;          // the records store: host and database, or the SQLite file; "" without one
    std::string mode;           // "watch" or "all"
};

// One thing the supervisor saw, handed over to the page.
struct StationItem {
    enum class Kind { Started, Event, Ended, StationEnded } kind = Kind::Event;
    std::string port;
    uint64_t unixMs = 0;
    TargetEvent event;      // Kind::Event
    TargetSummary summary;  // Kind::Ended
};

class StationPage {
public:
    StationPage(StationFacts facts, SlotNames names, uint64_t startUnixMs);

    void Apply(const StationItem& item);
    // The whole state as JSON.
    std::string Snapshot(uint64_t nowUnixMs) const;
    // The header and the tiles changed since the last call, as JSON; "" when
    // nothing changed.
    std::string Changes(uint64_t nowUnixMs);
    // Whether the changes since the last Changes are only bars that moved on
    // running tiles (they may wait a little when many pages are open).
    bool OnlyBarsMoved() const;

    struct Tile {
        std::string port;
        std::string state = "waiting"; // waiting, running, completed, failed, abandoned
        std::string step;              // the step text as the window shows it
        int percent = -1;              // -1: no bar
        std::string versionBefore, versionAfter, serial;
        std::string message;           // what ended a job that did not complete
        uint64_t startMs = 0, endMs = 0;
        uint64_t updatedMs = 0;        // when the station saw the latest change
        uint64_t job = 0;              // counts the jobs of the station
    };

private:
    std::string HeaderJson(uint64_t nowUnixMs) const;
    const std::string& TileJson(const Tile& tile) const;
    void Ended(Tile& tile, const TargetSummary& summary, uint64_t unixMs);
    void Touched(const std::string& port, bool barOnly = false);

    StationFacts facts_;
    std::string factsJson_;
    SlotNames names_;
    uint64_t startMs_;
    std::map<std::string, Tile> tiles_;
    std::set<std::string> changed_;
    // Each tile's JSON, made once after it changes however many pages ask.
    mutable std::map<std::string, std::string> tileJson_;
    bool headerChanged_ = false;
    bool moreThanBars_ = false;
    uint64_t jobs_ = 0;
    unsigned completed_ = 0, failed_ = 0, abandoned_ = 0;
    std::string nextSerial_;
    std::string lastSerial_; // the latest burned here
    bool ended_ = false;
};

// What the page shows of a records store: a URI's host and database, never
// its user or password; an SQLite file as given.
std::string StoreHostAndDatabase(const std::string& location);
