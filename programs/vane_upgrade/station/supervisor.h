#pragma once
// upgrade --all, version --all and upgrade --watch: several targets at once.
//
// Every target runs in a process of its own: an ordinary single-target run of
// this program (--json --port-name PORT, and --device PORT or the emulation
// options of that target), so that no state of discovery, of the identity
// step or of the dialog is ever shared between two targets. The supervisor
// finds the targets, starts and follows the runs without ever waiting on one
// of them, reads their event lines, shows them and sums them up.
#include <string>

#include "ports/clock.h"
#include "ports/station_host.h"
#include "programs/vane_upgrade/cli/options.h"

// Exit code: 0 when every target completed, 1 otherwise, 3 when none was found.
// Each target's run is program (this program's own file when empty), on
// this machine's processes and clock.
int RunFleet(const Options& options, const std::string& program = "");
// The same on the given host and clock.
int RunStation(const Options& options, StationHost& host, IClock& clock, const std::string& program = "");
