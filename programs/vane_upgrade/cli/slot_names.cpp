#include "programs/vane_upgrade/cli/slot_names.h"

#include "programs/vane_upgrade/cli/natural_order.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

constexpr size_t kMaxNameLength = 32;
constexpr size_t kMaxPortLength = 64;
constexpr size_t kMaxFileBytes = 64 * 1024;

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool IsUsablePort(const std::string& port)
{
    if (port.empty() || port.size() > kMaxPortLength) return false;
    for (unsigned char c : port)
        if (c <= 0x20 || c == 0x7F || c == '=' || c == '#') return false;
    return true;
}

} // namespace

bool IsUsableSlotName(const std::string& name)
{
    if (name.empty() || name.size() > kMaxNameLength || name != Trimmed(name)) return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || c == '=' || c == '#') return false;
    return true;
}


bool SlotNames::Parse(const std::string& text, std::string& error)
{
    std::map<std::string, std::string> names;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        const std::string content = Trimmed(line.substr(0, line.find('#')));
        if (content.empty()) continue;
        const size_t equals = content.find('=');
        const std::string where = "line " + std::to_string(number) + ": ";
        if (equals == std::string::npos) {
            error = where + "expected PORT = NAME";
            return false;
        }
        const std::string port = Trimmed(content.substr(0, equals));
        const std::string name = Trimmed(content.substr(equals + 1));
        if (!IsUsablePort(port)) {
            error = where + "expected a port path before '='";
            return false;
        }
        if (!IsUsableSlotName(name)) {
            error = where + "the name must be 1 to 32 characters, without '=' or '#'";
            return false;
        }
        if (!names.emplace(port, name).second) {
            error = where + "port " + port + " is named twice";
            return false;
        }
    }
    names_ = std::move(names);
    return true;
}

bool SlotNames::Load(const std::string& path, std::string& error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "slot names " + path + ": cannot be read";
        return false;
    }
    std::string text(kMaxFileBytes + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(file.gcount()));
    if (text.size() > kMaxFileBytes) {
        error = "slot names " + path + ": larger than 64 KiB";
        return false;
    }
    if (!Parse(text, error)) {
        error = "slot names " + path + ", " + error;
        return false;
    }
    return true;
}

std::string SlotNames::Text() const
{
    std::vector<std::pair<std::string, std::string>> ordered(names_.begin(), names_.end());
    std::sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) { return NaturalLess(a.first, b.first); });
    std::string text = "# The hub's slots: USB port path = the slot's label\n";
    for (const auto& [port, name] : ordered) text += port + " = " + name + "\n";
    return text;
}

bool SlotNames::Save(const std::string& path, std::string& error) const
{
    // Written beside the file and renamed over it: a stop half-way leaves the old file.
    const std::string temporary = path + ".new";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << Text();
        file.flush();
        if (!file) {
            error = "slot names " + path + ": cannot be written";
            std::remove(temporary.c_str());
            return false;
        }
    }
#ifdef _WIN32
    std::remove(path.c_str()); // rename does not replace a file there
#endif
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "slot names " + path + ": cannot be written";
        return false;
    }
    return true;
}

std::string SlotNames::NameOf(const std::string& port) const
{
    const auto it = names_.find(port);
    return it == names_.end() ? port : it->second;
}

bool SlotNames::SlotLess(const std::string& portA, const std::string& portB) const
{
    const bool namedA = Has(portA), namedB = Has(portB);
    if (namedA != namedB) return namedA;
    if (namedA && NameOf(portA) != NameOf(portB)) return NaturalLess(NameOf(portA), NameOf(portB));
    return NaturalLess(portA, portB);
}

bool SlotNames::Set(const std::string& port, const std::string& name)
{
    if (!IsUsablePort(port) || !IsUsableSlotName(name)) return false;
    names_[port] = name;
    return true;
}
