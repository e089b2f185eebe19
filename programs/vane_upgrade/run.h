#pragma once
// vane-upgrade after its command line was read: the log and trace files, the
// device link (SG_IO and udev, or the emulated target), then the command.
#include <string>

#include "programs/vane_upgrade/options.h"

int RunVaneUpgrade(const Options& options);

// Wrong usage found before the run: the error line on standard error, and
// with --json the result event on standard output. Returns the exit code.
int UsageFailure(const Options& options, const std::string& problem);
