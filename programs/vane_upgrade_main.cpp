// vane-upgrade: the console front end of the upgrade dialog (Linux and Windows).
#include <cstdio>

#include "programs/vane_upgrade/station/supervisor.h"
#include "ports/interrupts.h"
#include "programs/vane_upgrade/cli/options.h"
#include "programs/vane_upgrade/run.h"
#include "programs/vane_upgrade/web_commands.h"

#if defined(_WIN32)
#include <string>

#include "platform/win32/system_libraries_win32.h"
#include "programs/vane_upgrade/cli/exit_codes.h"
#endif

int main(int argc, char** argv)
{
#if defined(_WIN32)
    // Run as administrator, often from a downloads folder: no library from there.
    RestrictLibrarySearchToSystem();
    std::string missing;
    if (!LoadSystemLibrary(SystemLibrary::Cryptography, missing)) {
        std::fprintf(stderr, "vane-upgrade: %s\n", missing.c_str());
        return kExitFailure;
    }
#endif
    interrupts::Install();
    const ParsedCommandLine parsed = ParseCommandLine(argc, argv);
    if (!parsed.run) {
        if (parsed.exitCode == kExitSuccess) {
            std::fputs(parsed.message.c_str(), stdout);
            return parsed.exitCode;
        }
        Options asked;
        if (WantsJsonOutput(argc, argv)) asked.output = OutputMode::Json;
        if (parsed.exitCode == kExitFailure) return RefusedBeforeTarget(asked, parsed.message);
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
