#pragma once
// The station page of upgrade --watch/--all --serve, and the slot names of
// --slots, as the supervisor starts them.
#include <memory>
#include <string>

#include "programs/vane_upgrade/cli/options.h"
#include "programs/vane_upgrade/web/station_web.h"

// The slot names of --slots (none without it); false with the problem.
bool LoadSlotNames(const Options& options, SlotNames& names, std::string& error);

// Starts serving the page; null with error when the address cannot be served.
// link is the page's address to print (with the token when one is needed).
std::unique_ptr<StationWeb> StartStationPage(const Options& options, const SlotNames& names, uint64_t startUnixMs,
                                             std::string& link, std::string& error);

// The token a page needs: the one given; else one made up for an address
// outside the loopback; else none.
std::string ServeTokenFor(const Options& options);
