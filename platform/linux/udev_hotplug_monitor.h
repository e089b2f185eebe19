#pragma once
// Hotplug on Linux: a thread that listens to udev and reports the target's
// SCSI generic nodes coming and going as the device-change events of the
// window (DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE), as Windows sends
// them, so the connection monitor reacts the same way on both systems.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>

// Which events concern the target. A removed node has no USB parent left to
// ask, so removals are recognised by the nodes seen arriving (or present at
// the start).
class HotplugFilter {
public:
    void Known(const std::string& sysPath) { known_.insert(sysPath); }
    // The window event for one udev event of an sg device; nothing when it
    // does not concern a target.
    std::optional<uintptr_t> OnEvent(const std::string& action, const std::string& sysPath, bool isTarget);

private:
    std::set<std::string> known_;
};

class UdevHotplugMonitor {
public:
    using Listener = std::function<void(uintptr_t event)>;
    UdevHotplugMonitor();
    ~UdevHotplugMonitor();
    UdevHotplugMonitor(const UdevHotplugMonitor&) = delete;
    UdevHotplugMonitor& operator=(const UdevHotplugMonitor&) = delete;

    // Starts listening; the listener runs on the monitor's thread. False with
    // the reason when udev cannot be listened to (the tool then still works,
    // without hotplug).
    bool Start(Listener listener, std::string& error);
    void Stop();

private:
    struct State; // the udev objects and the wake-up descriptor
    void Run();

    Listener listener_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    HotplugFilter filter_;
    std::unique_ptr<State> state_;
};
