#pragma once
// Where a target sits on a Linux machine, and the pure rules that find and
// order targets from what sysfs says about them: the USB identifiers, the
// port path of the USB device, the LUN of the SCSI device. Kept apart from
// libudev so that the parsing is tested (and fuzzed) on its own.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

constexpr uint16_t kTargetUsbVendor = 0x0416;
constexpr uint16_t kTargetUsbProduct = 0xB190;

struct TargetLocation {
    std::string portPath;   // sysfs name of the USB device: "1-1.4" (bus 1, port 1, then port 4)
    unsigned lun = 0;       // from the SCSI device "6:0:0:1"
    std::string sgNode;     // "/dev/sg2"
    std::string usbSysPath; // "/sys/devices/.../1-1.4"
};

// A four-digit hexadecimal USB identifier as sysfs writes it ("0416\n"),
// in either case, surrounding white space allowed. Nothing for anything else.
std::optional<uint16_t> ParseUsbIdAttribute(std::string_view text);
bool IsTargetUsbDevice(std::string_view idVendor, std::string_view idProduct);

// The numbers of a USB port path: "1-1.4" -> {1, 1, 4}; "2-3" -> {2, 3}.
// Nothing for root hubs ("usb1"), interfaces ("1-1:1.0") and anything else.
std::optional<std::vector<unsigned>> ParsePortPath(std::string_view name);
// The LUN of a SCSI device name "host:channel:target:lun".
std::optional<unsigned> ParseScsiLun(std::string_view name);

// The stable order of targets: by port path (numerically, part by part, so
// 1-1.9 comes before 1-1.10), then by LUN, then by node.
bool TargetLocationLess(const TargetLocation& a, const TargetLocation& b);
void SortTargets(std::vector<TargetLocation>& targets);

// The --device choice: a USB port path ("1-1.4") or an sg node ("/dev/sg2" or "sg2").
class DeviceSelector {
public:
    DeviceSelector() = default; // every target
    static std::optional<DeviceSelector> Parse(std::string_view text);
    bool Any() const { return text_.empty(); }
    bool ByNode() const { return byNode_; }
    const std::string& Text() const { return text_; }
    // Whether a target is the chosen one. A choice by node holds on to the
    // port of the first target it matched: after a re-enumeration the
    // target keeps its port but may get another node.
    bool Matches(const TargetLocation& target);

private:
    std::string text_;
    bool byNode_ = false;
    std::string latchedPort_;
};
