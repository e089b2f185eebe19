#pragma once
// Owning pointers for libudev objects, and the one reading of a device that
// enumeration and monitoring share.
#include <libudev.h>

#include <memory>

#include "platform/linux/target_location.h"

struct UdevUnref {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
    void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
};
using UdevPtr = std::unique_ptr<udev, UdevUnref>;
using UdevEnumeratePtr = std::unique_ptr<udev_enumerate, UdevUnref>;
using UdevDevicePtr = std::unique_ptr<udev_device, UdevUnref>;
using UdevMonitorPtr = std::unique_ptr<udev_monitor, UdevUnref>;

// Whether an sg device belongs to a target, and where it is. False for any
// other device, or one whose USB parent is gone.
bool DescribeTarget(udev_device* sg, TargetLocation& target);
