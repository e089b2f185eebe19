// Several targets at once are supervised on Linux only so far: on Windows
// --all and --watch are refused before anything reaches a device.
#include "programs/vane_upgrade/fleet.h"

#include "programs/vane_upgrade/run.h"

int RunFleet(const Options& options, const std::string&)
{
    return UsageFailure(options, std::string(options.watch ? "--watch" : "--all") +
                                     " is not available on Windows yet: start one vane-upgrade.exe per target with "
                                     "--device (a drive letter or a USB port from vane-upgrade.exe list)");
}
