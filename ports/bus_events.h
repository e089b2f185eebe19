#pragma once
// How the target's comings and goings reach the window: as the device-change
// events that Windows sends, posted to the window's queue.
#include <cstdint>
#include <functional>

class IBusEvents {
public:
    virtual ~IBusEvents() = default;
    // From now on every arrival and removal is handed to deliver (any thread).
    virtual void Attach(std::function<void(uintptr_t event)> deliver) = 0;
    virtual void Detach() = 0;
    // Called often from the window's loop: a source that needs asking is asked here.
    virtual void Poll() {}
};
