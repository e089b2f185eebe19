#include "programs/vane_upgrade/station/station_web_feed.h"

#include "firmware/image_name.h"
#include "ports/file_digest.h"
#include "ports/host_name.h"

bool LoadSlotNames(const Options& options, SlotNames& names, std::string& error)
{
    if (options.slotsFile.empty()) return true;
    return names.Load(options.slotsFile, error);
}

std::string ServeTokenFor(const Options& options)
{
    if (!options.serveToken.empty()) return options.serveToken;
    return IsLoopbackAddress(options.serveAddress) ? "" : MakeServeToken();
}

std::unique_ptr<StationWeb> StartStationPage(const Options& o, const SlotNames& names, uint64_t startUnixMs,
                                             std::string& link, std::string& error)
{
    StationFacts facts;
    facts.station = o.station.empty() ? HostName() : o.station;
    facts.imageFile = o.image.empty() ? kDefaultCodeImagePath : o.image;
    std::string name = FileNameOf(facts.imageFile);
    if (const size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0) name.erase(dot);
    facts.imageVersion = name;
    std::string path = facts.imageFile, ignored;
#ifndef _WIN32
    for (char& c : path)
        if (c == '\\') c = '/'; // the default image is named as the window names it
#endif
    if (!FileSha256(path, facts.imageSha256, ignored)) facts.imageSha256.clear();
    facts.store = o.records.empty() ? "" : StoreHostAndDatabase(o.records);
    facts.mode = o.all ? "all" : "watch";

    StationWeb::Settings settings;
    settings.address = o.serveAddress;
    settings.port = o.servePort;
    settings.token = ServeTokenFor(o);
    auto web = StationWeb::Start(settings, std::move(facts), names, startUnixMs, error);
    if (web) link = PageLink(settings.address, web->Port(), settings.token);
    return web;
}
