#include "platform/linux/udev_bus_events.h"

#include "device/diagnostics.h"

void UdevBusEvents::Attach(std::function<void(uintptr_t event)> deliver)
{
    if (!monitor_.Start(std::move(deliver), problem_)) DiagPrintf("%s\n", problem_.c_str());
}
