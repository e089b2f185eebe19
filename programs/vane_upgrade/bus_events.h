#pragma once
// How the target's comings and goings reach the window: as the device-change
// events that Windows sends, posted to the window's queue.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "emulator/emulated_target.h"

class IBusEvents {
public:
    virtual ~IBusEvents() = default;
    // From now on every arrival and removal is handed to deliver (any thread).
    virtual void Attach(std::function<void(uintptr_t event)> deliver) = 0;
    virtual void Detach() = 0;
    // Called often from the window's loop: a source that needs asking is asked here.
    virtual void Poll() {}
};

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
