#include "programs/vane_upgrade/bus_events.h"

#include "device/diagnostics.h"
#include "framework/messages.h"

void EmulatedBusEvents::Attach(std::function<void(uintptr_t event)> deliver)
{
    target_.TakeBusEvents(); // what happened before the window existed is no news to it
    target_.SetBusListener([deliver](const BusEvent& e) {
        deliver(e.kind == BusEvent::Arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE);
    });
}

void EmulatedBusEvents::Detach() { target_.SetBusListener(nullptr); }

void UdevBusEvents::Attach(std::function<void(uintptr_t event)> deliver)
{
    if (!monitor_.Start(std::move(deliver), problem_)) DiagPrintf("%s\n", problem_.c_str());
}
