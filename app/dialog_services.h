#pragma once
// The system services the main dialog works through. A program fills them
// with its platform's backends (or the emulated target); tests with fakes.
#include <functional>

#include "device/scsi_pass_through.h"
#include "ports/clock.h"
#include "ports/file_system.h"
#include "ports/registry.h"

class IDeviceTree;

struct DialogServices {
    IClock& clock;
    IScsiPassThrough& passThrough;
    IDeviceTree& deviceTree;
    IRegistry& registry;
    IFileSystem& files;
};
