#pragma once
// The machine's own device link, one file per platform: the list command
// and the dialog session on the real targets.
#include <cstdio>
#include <string>

#include "programs/vane_upgrade/front.h"

// vane-upgrade list, or the job, on the targets the machine shows.
int RunDevice(Front& front, std::FILE* trace);
