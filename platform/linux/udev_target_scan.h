#pragma once
// Finds the attached targets with libudev: every SCSI generic node whose USB
// device is 0416:B190, in the stable order of SortTargets.
#include <string>
#include <vector>

#include "platform/linux/target_location.h"

// False (with the reason) when udev cannot be asked at all; no target found
// is a success with an empty list.
bool ScanUdevTargets(std::vector<TargetLocation>& targets, std::string& error);
