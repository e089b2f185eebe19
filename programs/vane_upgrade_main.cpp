// vane-upgrade: the console front end of the upgrade dialog (Linux and Windows).
#include <cstdio>

#include "programs/vane_upgrade/fleet.h"
#include "programs/vane_upgrade/interrupts.h"
#include "programs/vane_upgrade/options.h"
#include "programs/vane_upgrade/run.h"
#include "programs/vane_upgrade/web_commands.h"

int main(int argc, char** argv)
{
    interrupts::Install();
    const ParsedCommandLine parsed = ParseCommandLine(argc, argv);
    if (!parsed.run) {
        if (parsed.exitCode == kExitSuccess) {
            std::fputs(parsed.message.c_str(), stdout);
            return parsed.exitCode;
        }
        Options asked;
        if (WantsJsonOutput(argc, argv)) asked.output = OutputMode::Json;
        return UsageFailure(asked, parsed.message);
    }
    if (parsed.options.command == Command::Serve) return RunServeCommand(parsed.options);
    if (parsed.options.command == Command::SlotsLearn) return RunSlotsLearn(parsed.options);
    if (parsed.options.all || parsed.options.watch) {
        // One refusal for the station, not one per target.
        if (const std::optional<int> refused = RefuseUnusableStore(parsed.options)) return *refused;
        return RunFleet(parsed.options);
    }
    return RunVaneUpgrade(parsed.options);
}
