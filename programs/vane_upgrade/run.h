#pragma once
// vane-upgrade after its command line was read: the log and trace files, the
// device link (SG_IO and udev, or the emulated target), then the command.
#include "programs/vane_upgrade/options.h"

int RunVaneUpgrade(const Options& options);
