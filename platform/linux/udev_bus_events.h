#pragma once
// The target's comings and goings on Linux: udev's events, from the hotplug
// monitor's thread.
#include "platform/linux/udev_hotplug_monitor.h"
#include "ports/bus_events.h"

class UdevBusEvents final : public IBusEvents {
public:
    void Attach(std::function<void(uintptr_t event)> deliver) override;
    void Detach() override { monitor_.Stop(); }
    // Why hotplug is off, when the monitor could not start ("" otherwise).
    const std::string& Problem() const { return problem_; }

private:
    UdevHotplugMonitor monitor_;
    std::string problem_;
};
