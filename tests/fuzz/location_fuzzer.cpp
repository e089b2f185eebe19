// The Linux location code's parsing of what sysfs says: USB identifiers, port
// paths, SCSI names, the order of targets and the --device choice.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/linux/target_location.h"

namespace {

void Fail(int line)
{
    std::fprintf(stderr, "broken promise at location_fuzzer.cpp:%d\n", line);
    __builtin_trap();
}
#define Check(holds) ((holds) ? (void)0 : Fail(__LINE__))

std::string_view Trim(std::string_view t)
{
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.front()))) t.remove_prefix(1);
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back()))) t.remove_suffix(1);
    return t;
}

bool AllDecimal(std::string_view t)
{
    return !t.empty() && t.size() <= 9 && std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
}

TargetLocation Location(FuzzedDataProvider& in)
{
    static const char* const kPorts[] = {"1-1", "1-1.4", "1-1.10", "2-3", "1-01", "usb1", "1-1:1.0", ""};
    TargetLocation t;
    t.portPath = in.ConsumeBool() ? std::string(in.PickValueInArray(kPorts)) : in.ConsumeRandomLengthString(12);
    t.lun = in.ConsumeIntegralInRange<unsigned>(0, 3);
    t.sgNode = "/dev/sg" + std::to_string(in.ConsumeIntegralInRange<int>(0, 5));
    return t;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::string text = in.ConsumeRandomLengthString(64);

    // A USB identifier: exactly four hex digits once the white space is off.
    const std::optional<uint16_t> id = ParseUsbIdAttribute(text);
    const std::string_view trimmed = Trim(text);
    const bool fourHex = trimmed.size() == 4 && std::all_of(trimmed.begin(), trimmed.end(), [](char c) {
                             return std::isxdigit(static_cast<unsigned char>(c)) != 0;
                         });
    Check(id.has_value() == fourHex);
    if (id) Check(*id == std::stoul(std::string(trimmed), nullptr, 16));
    const std::string other = in.ConsumeRandomLengthString(16);
    Check(IsTargetUsbDevice(text, other) == (id == kTargetUsbVendor && ParseUsbIdAttribute(other) == kTargetUsbProduct));

    // A port path: "bus-port[.port...]", every part decimal.
    if (const auto ports = ParsePortPath(text)) {
        Check(ports->size() >= 2);
        size_t parts = std::count(text.begin(), text.end(), '.') + 2;
        Check(ports->size() == parts);
        Check(AllDecimal(std::string_view(text).substr(0, text.find('-'))));
    }
    if (const auto lun = ParseScsiLun(text)) Check(std::count(text.begin(), text.end(), ':') == 3);

    // The order of targets is a strict weak order, so sorting is well defined.
    std::vector<TargetLocation> targets;
    for (int i = in.ConsumeIntegralInRange<int>(0, 8); i > 0; --i) targets.push_back(Location(in));
    for (const auto& a : targets) {
        Check(!TargetLocationLess(a, a));
        for (const auto& b : targets) {
            if (TargetLocationLess(a, b)) Check(!TargetLocationLess(b, a));
            for (const auto& c : targets)
                if (TargetLocationLess(a, b) && TargetLocationLess(b, c)) Check(TargetLocationLess(a, c));
        }
    }
    SortTargets(targets);
    Check(std::is_sorted(targets.begin(), targets.end(), TargetLocationLess));

    // The --device choice: a port path or an sg node; by node it keeps to the first port it matched.
    if (auto selector = DeviceSelector::Parse(text)) {
        Check(!selector->Any());
        const auto matched = std::find_if(targets.begin(), targets.end(), [&](const TargetLocation& t) { return selector->Matches(t); });
        // (sysfs never names a USB device with an empty port path)
        if (selector->ByNode() && matched != targets.end() && !matched->portPath.empty()) {
            for (const auto& t : targets) Check(selector->Matches(t) == (t.portPath == matched->portPath));
        }
    }
    return 0;
}
