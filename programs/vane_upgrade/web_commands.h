#pragma once
// The commands of the pages: serve (the line page from the records store)
// and slots learn (naming the hub's slots by plugging a transmitter into each).
#include <cstdio>

#include "programs/vane_upgrade/cli/options.h"

// Serves until interrupted; exit code 1 when the store or the address cannot be used.
int RunServeCommand(const Options& options);
// Asks the label of each slot a transmitter arrives in, from in, and keeps
// the file up to date after each answer; ends at the end of input or an
// interrupt.
int RunSlotsLearn(const Options& options, std::FILE* in = stdin);
