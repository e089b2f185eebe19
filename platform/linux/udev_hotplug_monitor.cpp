#include "platform/linux/udev_hotplug_monitor.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <vector>

#include "device/diagnostics.h"
#include "framework/messages.h"
#include "platform/linux/udev_handles.h"

namespace {

// The thread looks at its stop flag at least this often, even without a wake-up.
constexpr int kPollMs = 250;

} // namespace

std::optional<uintptr_t> HotplugFilter::OnEvent(const std::string& action, const std::string& sysPath, bool isTarget)
{
    if (action == "add" && isTarget) {
        known_.insert(sysPath);
        return DBT_DEVICEARRIVAL;
    }
    if (action == "remove" && known_.erase(sysPath) > 0) return DBT_DEVICEREMOVECOMPLETE;
    return std::nullopt;
}

struct UdevHotplugMonitor::State {
    UdevPtr udev;
    UdevMonitorPtr monitor;
    int wakeFd = -1;
    ~State()
    {
        if (wakeFd >= 0) close(wakeFd);
    }
};

UdevHotplugMonitor::UdevHotplugMonitor() = default;
UdevHotplugMonitor::~UdevHotplugMonitor() { Stop(); }

bool UdevHotplugMonitor::Start(Listener listener, std::string& error)
{
    if (state_) return true;
    auto state = std::make_unique<State>();
    state->udev.reset(udev_new());
    if (state->udev) state->monitor.reset(udev_monitor_new_from_netlink(state->udev.get(), "udev"));
    if (!state->monitor || udev_monitor_filter_add_match_subsystem_devtype(state->monitor.get(), "scsi_generic", nullptr) < 0 ||
        udev_monitor_enable_receiving(state->monitor.get()) < 0) {
        error = "udev events cannot be received: a target plugged in later is not noticed";
        return false;
    }
    state->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (state->wakeFd < 0) {
        error = "the hotplug thread cannot be woken: hotplug is off";
        return false;
    }
    // The targets already there can be removed later: know them from the start.
    UdevEnumeratePtr enumerate(udev_enumerate_new(state->udev.get()));
    if (enumerate && udev_enumerate_add_match_subsystem(enumerate.get(), "scsi_generic") >= 0 &&
        udev_enumerate_scan_devices(enumerate.get()) >= 0) {
        udev_list_entry* entry = nullptr;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get()))
        {
            UdevDevicePtr sg(udev_device_new_from_syspath(state->udev.get(), udev_list_entry_get_name(entry)));
            TargetLocation target;
            if (sg && DescribeTarget(sg.get(), target)) filter_.Known(udev_device_get_syspath(sg.get()));
        }
    }
    listener_ = std::move(listener);
    stop_ = false;
    state_ = std::move(state);
    thread_ = std::thread([this] { Run(); });
    return true;
}

void UdevHotplugMonitor::Stop()
{
    if (!state_) return;
    stop_ = true;
    const uint64_t one = 1;
    if (write(state_->wakeFd, &one, sizeof one) < 0) {
        // The thread still sees the flag within kPollMs.
    }
    if (thread_.joinable()) thread_.join();
    state_.reset();
}

void UdevHotplugMonitor::Run()
{
    pollfd fds[2] = {{udev_monitor_get_fd(state_->monitor.get()), POLLIN, 0}, {state_->wakeFd, POLLIN, 0}};
    while (!stop_) {
        if (poll(fds, 2, kPollMs) <= 0 || (fds[0].revents & POLLIN) == 0) continue;
        UdevDevicePtr device(udev_monitor_receive_device(state_->monitor.get()));
        if (!device) continue;
        const char* action = udev_device_get_action(device.get());
        const char* sysPath = udev_device_get_syspath(device.get());
        if (action == nullptr || sysPath == nullptr) continue;
        TargetLocation target;
        const bool isTarget = std::string(action) == "add" && DescribeTarget(device.get(), target);
        const std::optional<uintptr_t> event = filter_.OnEvent(action, sysPath, isTarget);
        if (!event) continue;
        DiagPrintf("udev: %s %s\n", action, isTarget ? target.sgNode.c_str() : sysPath);
        listener_(*event);
    }
}
