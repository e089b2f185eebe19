#include "programs/vane_upgrade/bus_events.h"

#include "framework/messages.h"

void EmulatedBusEvents::Attach(std::function<void(uintptr_t event)> deliver)
{
    target_.TakeBusEvents(); // what happened before the window existed is no news to it
    target_.SetBusListener([deliver](const BusEvent& e) {
        deliver(e.kind == BusEvent::Arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE);
    });
}

void EmulatedBusEvents::Detach() { target_.SetBusListener(nullptr); }
