#pragma once
// A scripted device tree under umockdev: USB mass-storage devices with their
// interface, SCSI host, target, device and SCSI generic node, as the kernel
// lays them out in sysfs. The program runs under umockdev-wrapper, so
// libudev (and the open of /dev nodes) sees the testbed instead of the machine.
#include <umockdev.h>

#include <string>
#include <vector>

class UdevTestbed {
public:
    UdevTestbed() : bed_(umockdev_testbed_new()) {}
    ~UdevTestbed() { g_object_unref(bed_); }
    UdevTestbed(const UdevTestbed&) = delete;
    UdevTestbed& operator=(const UdevTestbed&) = delete;

    struct Added {
        std::string usb;                // sysfs path of the USB device
        std::string sg;                 // sysfs path of the sg device
        std::vector<std::string> paths; // every device added, parents first
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
        added.paths = {added.usb, interface, hostPath, hostPath + "/target" + std::to_string(host) + ":0:0",
                       hostPath + "/target" + std::to_string(host) + ":0:0/" + std::to_string(host) + ":0:0:0", added.sg};
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
        // The sg device is described with its node ("N:"), so that the testbed
        // has a /dev/sgN that opens (and can answer ioctls).
        const std::string sgName = "sg" + std::to_string(sgNumber);
        const std::string sgPath = devicePath + "/scsi_generic/" + sgName;
        const std::string description = "P: " + sgPath.substr(4) + "\nN: " + sgName +
                                        "\nE: SUBSYSTEM=scsi_generic\nE: DEVNAME=/dev/" + sgName +
                                        "\nE: MAJOR=21\nE: MINOR=" + std::to_string(sgNumber) + "\n";
        GError* error = nullptr;
        umockdev_testbed_add_from_string(bed_, description.c_str(), &error);
        if (error != nullptr) g_error_free(error);
        return sgPath;
    }

    UMockdevTestbed* Raw() { return bed_; }
    void Uevent(const std::string& sysPath, const char* action) { umockdev_testbed_uevent(bed_, sysPath.c_str(), action); }
    // Unplugged: the sg device's removal event, then every device, children first.
    void RemoveStorage(const Added& added)
    {
        Uevent(added.sg, "remove");
        for (auto it = added.paths.rbegin(); it != added.paths.rend(); ++it) umockdev_testbed_remove_device(bed_, it->c_str());
    }

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
