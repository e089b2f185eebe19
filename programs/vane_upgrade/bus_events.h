#pragma once
// The emulated target's comings and goings, as the bus events of the window.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "emulator/emulated_target.h"
#include "ports/bus_events.h"

// The emulated target's bus: its notices, and a look at its presence from the
// loop, so that a return after re-enumeration is noticed even while nothing
// else asks the target.
class EmulatedBusEvents final : public IBusEvents {
public:
    explicit EmulatedBusEvents(EmulatedTarget& target) : target_(target) {}
    void Attach(std::function<void(uintptr_t event)> deliver) override;
    void Detach() override;
    void Poll() override { target_.Present(); }

private:
    EmulatedTarget& target_;
};
