#include "programs/vane_upgrade/web_commands.h"

#include <filesystem>
#include <set>
#include <string>

#include "ports/clock.h"
#include "programs/vane_upgrade/cli/exit_codes.h"
#include "ports/station_host.h"
#include "programs/vane_upgrade/station/station_plan.h"
#include "programs/vane_upgrade/station/station_web_feed.h"
#include "programs/vane_upgrade/cli/record_store_access.h"
#include "programs/vane_upgrade/web/line_web.h"

namespace {

constexpr int kWaitMs = 200;

void Say(const std::string& text)
{
    std::fprintf(stderr, "vane-upgrade: %s\n", text.c_str());
    std::fflush(stderr);
}

bool ReadLine(std::FILE* in, std::string& line)
{
    line.clear();
    for (int c = std::fgetc(in); c != EOF; c = std::fgetc(in)) {
        if (c == '\n') return true;
        if (c != '\r') line += static_cast<char>(c);
    }
    return !line.empty();
}

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

} // namespace

int RunServeCommand(const Options& o)
{
    // Serving reads: a file that is not there is not made.
    const bool uri = o.records.starts_with("postgresql://") || o.records.starts_with("postgres://");
    std::error_code ignored;
    if (!uri && !std::filesystem::is_regular_file(o.records, ignored)) {
        Say("the records store " + o.records + " does not exist");
        return kExitFailure;
    }
    std::string error;
    std::unique_ptr<IRecordStore> store = OpenRecordStore(o.records, error, false);
    if (!store) {
        Say(error);
        return kExitFailure;
    }
    const std::unique_ptr<StationHost> host = MakeMachineStationHost();
    if (!host->Start(error)) {
        Say(error);
        return kExitFailure;
    }
    const std::string token = ServeTokenFor(o);
    auto web = LineWeb::Start(*store, o.serveAddress, o.servePort, token, error);
    if (!web) {
        Say(error);
        return kExitFailure;
    }
    std::printf("line page of %s: %s\n", StoreShownName(o.records).c_str(), PageLink(o.serveAddress, web->Port(), token).c_str());
    std::printf("serving until interrupted\n");
    std::fflush(stdout);
    for (;;) {
        bool arrived = false;
        if (host->Wait({}, kWaitMs, arrived) > 0) break;
    }
    return kExitSuccess;
}

int RunSlotsLearn(const Options& o, std::FILE* in)
{
    SlotNames names;
    std::string error;
    std::error_code missing;
    if (std::filesystem::exists(o.slotsFile, missing) && !names.Load(o.slotsFile, error)) {
        Say(error);
        return kExitUsage;
    }
    const std::unique_ptr<StationHost> host = MakeMachineStationHost();
    if (!host->Start(error)) {
        Say(error);
        return kExitFailure;
    }
    SystemClock clock;
    std::unique_ptr<EmulatedHub> hub;
    if (o.emulateTargets > 0) hub = std::make_unique<EmulatedHub>(EmulatedPorts(o), o.arriveEveryMs, clock.NowMs());
    auto present = [&]() {
        std::string problem;
        return hub ? hub->Present(clock.NowMs()) : host->AttachedTargets(problem);
    };
    // Transmitters plugged in already are asked about once they have left and
    // come back (an emulated hub starts empty).
    std::set<std::string> seen = hub ? std::set<std::string>() : present();
    size_t asked = 0;
    std::printf("Plug a transmitter into each slot in turn and type the slot's label (as written on the hub).\n"
                "An empty line skips a slot; end with Ctrl-D (Ctrl-Z on Windows) or Ctrl-C.\n");
    if (!seen.empty()) std::printf("%zu transmitter(s) plugged in already: unplug them to name their slots.\n", seen.size());
    std::fflush(stdout);
    for (;;) {
        bool arrived = false;
        if (host->Wait({}, kWaitMs, arrived) > 0) break;
        const std::set<std::string> now = present();
        std::set<std::string> fresh;
        for (const std::string& port : now)
            if (seen.count(port) == 0) fresh.insert(port);
        seen = now;
        asked += fresh.size();
        for (const std::string& port : fresh) {
            for (;;) {
                std::printf("Slot at port %s%s: label? ", port.c_str(),
                            names.Has(port) ? (" (now " + names.NameOf(port) + ")").c_str() : "");
                std::fflush(stdout);
                std::string label;
                if (!ReadLine(in, label)) {
                    std::printf("\n%zu slot(s) named in %s\n", names.Size(), o.slotsFile.c_str());
                    return kExitSuccess;
                }
                label = Trimmed(label);
                if (label.empty()) break;
                if (!names.Set(port, label)) {
                    std::printf("A label is 1 to 32 characters, without '=' or '#'.\n");
                    continue;
                }
                if (!names.Save(o.slotsFile, error)) {
                    Say(error);
                    return kExitFailure;
                }
                std::printf("%s = %s\n", port.c_str(), label.c_str());
                break;
            }
        }
        // An emulated hub has no more targets to plug in once each has arrived.
        if (hub && asked >= o.emulateTargets) break;
    }
    std::printf("%zu slot(s) named in %s\n", names.Size(), o.slotsFile.c_str());
    return kExitSuccess;
}
