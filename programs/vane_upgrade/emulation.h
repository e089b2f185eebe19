#pragma once
// The emulated target of --emulate: its flash kept in a file between runs,
// its state at the start and the faults it is to show.
#include <string>
#include <vector>

#include "emulator/emulated_target.h"
#include "programs/vane_upgrade/cli/options.h"

// The fault plan of the --emulate-fault options.
FaultPlan MakeFaultPlan(const std::vector<FaultOption>& faults);

// Loads the flash file into the target; a missing file is created first,
// holding the flash of a fresh target (erased, with the demo identity). A
// file of the wrong size or one that cannot be read is an error and is left
// as it is.
bool LoadFlashFile(const std::string& path, EmulatedTarget& target, std::string& error);
// Writes the target's flash back (atomically: the file is never half written).
bool SaveFlashFile(const std::string& path, EmulatedTarget& target, std::string& error);
