#pragma once
// vane-upgrade after its command line was read: the log and trace files, the
// device link (SG_IO and udev, or the emulated target), then the command.
#include <optional>
#include <string>

#include "programs/vane_upgrade/options.h"

int RunVaneUpgrade(const Options& options);

// With --records: the exit code when the store cannot serve the jobs (the
// line is written), before any target is touched; nothing when it can.
std::optional<int> RefuseUnusableStore(const Options& options);

// Wrong usage found before the run: the error line on standard error, and
// with --json the result event on standard output. Returns the exit code.
int UsageFailure(const Options& options, const std::string& problem);

// A refusal found with the command line that is no usage mistake (a used-up
// --serial-file): reported as UsageFailure does, with exit code 1.
int RefusedBeforeTarget(const Options& options, const std::string& problem);
