#pragma once
// The target's comings and goings on Windows: the broadcasts that tell of
// drive letters and the volume interfaces' notices, to a hidden window on a
// thread of its own. (A message-only window would get the notices but not
// the broadcasts.)
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "ports/bus_events.h"

class VolumeBusEvents final : public IBusEvents {
public:
    ~VolumeBusEvents() override { Detach(); }
    void Attach(std::function<void(uintptr_t event)> deliver) override;
    void Detach() override;
    // The window thread's own (with the window procedure, which calls deliver).
    void Listen();
    void Deliver(uintptr_t event) { deliver_(event); }

private:
    std::function<void(uintptr_t event)> deliver_;
    std::thread thread_;
    std::mutex mutex_;
    unsigned long threadId_ = 0;
    bool stopping_ = false;
};
