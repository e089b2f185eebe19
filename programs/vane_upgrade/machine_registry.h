#pragma once
// Where the dialog's registry values go (one file per platform): the
// machine's registry where there is one, memory elsewhere.
#include "ports/registry.h"

IRegistry& MachineRegistry();
// A diagnostic line on where the values go, when they are not kept.
void NoteMachineRegistry();
