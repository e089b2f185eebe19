#include "platform/linux/udev_target_scan.h"

#include <libudev.h>

#include <memory>

#include "platform/linux/udev_handles.h"

namespace {

const char* Text(const char* value) { return value != nullptr ? value : ""; }

} // namespace

bool ScanUdevTargets(std::vector<TargetLocation>& targets, std::string& error)
{
    targets.clear();
    UdevPtr udev(udev_new());
    if (!udev) {
        error = "udev is not available";
        return false;
    }
    UdevEnumeratePtr enumerate(udev_enumerate_new(udev.get()));
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "scsi_generic") < 0 ||
        udev_enumerate_scan_devices(enumerate.get()) < 0) {
        error = "udev cannot list the SCSI generic devices";
        return false;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get()))
    {
        UdevDevicePtr sg(udev_device_new_from_syspath(udev.get(), udev_list_entry_get_name(entry)));
        TargetLocation target;
        if (sg && DescribeTarget(sg.get(), target)) targets.push_back(target);
    }
    SortTargets(targets);
    return true;
}

bool DescribeTarget(udev_device* sg, TargetLocation& target)
{
    // Parents belong to the child: they are not released here.
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(sg, "usb", "usb_device");
    if (usb == nullptr) return false;
    if (!IsTargetUsbDevice(Text(udev_device_get_sysattr_value(usb, "idVendor")),
                           Text(udev_device_get_sysattr_value(usb, "idProduct"))))
        return false;
    target.portPath = Text(udev_device_get_sysname(usb));
    target.usbSysPath = Text(udev_device_get_syspath(usb));
    udev_device* scsi = udev_device_get_parent_with_subsystem_devtype(sg, "scsi", "scsi_device");
    target.lun = 0;
    if (scsi != nullptr) target.lun = ParseScsiLun(Text(udev_device_get_sysname(scsi))).value_or(0);
    const char* node = udev_device_get_devnode(sg);
    target.sgNode = node != nullptr ? node : std::string("/dev/") + Text(udev_device_get_sysname(sg));
    return true;
}
