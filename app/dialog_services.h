#pragma once
// The system services the main dialog works through. A program fills them
// with its platform's backends (or the emulated target); tests with fakes.
#include <functional>

#include "device/scsi_pass_through.h"
#include "platform/portable/clock.h"
#include "platform/portable/file_system.h"
#include "platform/portable/registry.h"

class IDeviceTree;

struct DialogServices {
    IClock& clock;
    IScsiPassThrough& passThrough;
    IDeviceTree& deviceTree;
    IRegistry& registry;
    IFileSystem& files;
};
