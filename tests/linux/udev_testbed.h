#pragma once
// A scripted device tree under umockdev: USB mass-storage devices with their
// interface, SCSI host, target, device and SCSI generic node, as the kernel
// lays them out in sysfs. The program runs under umockdev-wrapper, so
// libudev (and the open of /dev nodes) sees the testbed instead of the machine.
#include <umockdev.h>

#include <string>

class UdevTestbed {
public:
    UdevTestbed() : bed_(umockdev_testbed_new()) {}
    ~UdevTestbed() { g_object_unref(bed_); }
    UdevTestbed(const UdevTestbed&) = delete;
    UdevTestbed& operator=(const UdevTestbed&) = delete;

    struct Added {
        std::string usb; // sysfs path of the USB device
        std::string sg;  // sysfs path of the sg device
    };

    // A USB storage device at port (e.g. "1-1.4") with the given identifiers
    // and one LUN per call of AddLun; host is the SCSI host number.
    Added AddStorage(const std::string& port, const char* vendor, const char* product, int host, int sgNumber)
    {
        Added added;
        added.usb = Take(umockdev_testbed_add_device(bed_, "usb", port.c_str(), nullptr, "idVendor", vendor, "idProduct",
                                                     product, "busnum", "1", "devnum", "7", nullptr, "DEVTYPE",
                                                     "usb_device", "PRODUCT", "416/b190/100", nullptr));
        const std::string interface =
            Take(umockdev_testbed_add_device(bed_, "usb", (port + ":1.0").c_str(), added.usb.c_str(), "bInterfaceClass",
                                             "08", nullptr, "DEVTYPE", "usb_interface", nullptr));
        const std::string hostName = "host" + std::to_string(host);
        const std::string hostPath = Take(umockdev_testbed_add_device(bed_, "scsi", hostName.c_str(), interface.c_str(),
                                                                      nullptr, "DEVTYPE", "scsi_host", nullptr));
        hosts_[host] = hostPath;
        added.sg = AddLun(host, 0, sgNumber);
        return added;
    }

    // Another LUN on a host that AddStorage made; the sysfs path of its sg device.
    std::string AddLun(int host, int lun, int sgNumber)
    {
        const std::string h = std::to_string(host);
        const std::string targetName = "target" + h + ":0:0";
        std::string targetPath = hosts_[host] + "/" + targetName;
        if (lun == 0)
            targetPath = Take(umockdev_testbed_add_device(bed_, "scsi", targetName.c_str(), hosts_[host].c_str(), nullptr,
                                                          "DEVTYPE", "scsi_target", nullptr));
        const std::string deviceName = h + ":0:0:" + std::to_string(lun);
        const std::string devicePath = Take(umockdev_testbed_add_device(bed_, "scsi", deviceName.c_str(), targetPath.c_str(),
                                                                        "vendor", "Vane    ", nullptr, "DEVTYPE",
                                                                        "scsi_device", nullptr));
        const std::string sgName = "sg" + std::to_string(sgNumber);
        const std::string node = "/dev/" + sgName;
        return Take(umockdev_testbed_add_device(bed_, "scsi_generic", sgName.c_str(), devicePath.c_str(), nullptr, "DEVNAME",
                                                node.c_str(), "MAJOR", "21", "MINOR", std::to_string(sgNumber).c_str(),
                                                nullptr));
    }

    void Uevent(const std::string& sysPath, const char* action) { umockdev_testbed_uevent(bed_, sysPath.c_str(), action); }
    void Remove(const std::string& sysPath) { umockdev_testbed_remove_device(bed_, sysPath.c_str()); }

private:
    static std::string Take(gchar* text)
    {
        std::string s = text != nullptr ? text : "";
        g_free(text);
        return s;
    }

    UMockdevTestbed* bed_;
    std::string hosts_[16];
};
