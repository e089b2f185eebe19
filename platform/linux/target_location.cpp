#include "platform/linux/target_location.h"

#include <algorithm>
#include <cctype>
#include <tuple>

namespace {

std::string_view Trimmed(std::string_view text)
{
    auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && space(text.front())) text.remove_prefix(1);
    while (!text.empty() && space(text.back())) text.remove_suffix(1);
    return text;
}

// A decimal number of at most 9 digits (no sign, no leading '+').
std::optional<unsigned> ParseDecimal(std::string_view text)
{
    if (text.empty() || text.size() > 9) return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::vector<std::string_view> Split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

} // namespace

std::optional<uint16_t> ParseUsbIdAttribute(std::string_view text)
{
    text = Trimmed(text);
    if (text.size() != 4) return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0) return std::nullopt;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return static_cast<uint16_t>(value);
}

bool IsTargetUsbDevice(std::string_view idVendor, std::string_view idProduct)
{
    return ParseUsbIdAttribute(idVendor) == kTargetUsbVendor && ParseUsbIdAttribute(idProduct) == kTargetUsbProduct;
}

std::optional<std::vector<unsigned>> ParsePortPath(std::string_view name)
{
    const size_t dash = name.find('-');
    if (dash == std::string_view::npos) return std::nullopt;
    const std::optional<unsigned> bus = ParseDecimal(name.substr(0, dash));
    if (!bus) return std::nullopt;
    std::vector<unsigned> numbers{*bus};
    for (std::string_view part : Split(name.substr(dash + 1), '.')) {
        const std::optional<unsigned> port = ParseDecimal(part);
        if (!port) return std::nullopt;
        numbers.push_back(*port);
    }
    return numbers;
}

std::optional<unsigned> ParseScsiLun(std::string_view name)
{
    const std::vector<std::string_view> parts = Split(name, ':');
    if (parts.size() != 4) return std::nullopt;
    for (size_t i = 0; i < 3; ++i)
        if (!ParseDecimal(parts[i])) return std::nullopt;
    return ParseDecimal(parts[3]);
}

bool TargetLocationLess(const TargetLocation& a, const TargetLocation& b)
{
    // Unparsable port paths (never seen on a real machine) sort after the others, by text.
    const auto pa = ParsePortPath(a.portPath);
    const auto pb = ParsePortPath(b.portPath);
    if (pa.has_value() != pb.has_value()) return pa.has_value();
    if (pa && *pa != *pb) return *pa < *pb;
    if (!pa && a.portPath != b.portPath) return a.portPath < b.portPath;
    return std::tie(a.lun, a.sgNode) < std::tie(b.lun, b.sgNode);
}

void SortTargets(std::vector<TargetLocation>& targets)
{
    std::stable_sort(targets.begin(), targets.end(), TargetLocationLess);
}

std::optional<DeviceSelector> DeviceSelector::Parse(std::string_view text)
{
    DeviceSelector selector;
    if (ParsePortPath(text)) {
        selector.text_ = std::string(text);
        return selector;
    }
    std::string_view name = text;
    if (name.starts_with("/dev/")) name.remove_prefix(5);
    if (name.size() > 2 && name.starts_with("sg") && ParseDecimal(name.substr(2))) {
        selector.text_ = "/dev/" + std::string(name);
        selector.byNode_ = true;
        return selector;
    }
    return std::nullopt;
}

bool DeviceSelector::Matches(const TargetLocation& target)
{
    if (Any()) return true;
    if (!byNode_) return target.portPath == text_;
    if (!latchedPort_.empty()) return target.portPath == latchedPort_;
    if (target.sgNode != text_) return false;
    latchedPort_ = target.portPath;
    return true;
}
