#include "programs/vane_upgrade/station/station_plan.h"

#include <algorithm>
#include <optional>
#include <string_view>

namespace {

// Options of the run over several targets that its single-target runs must
// not see, with whether they take a value. Each target's run gets its own
// replacement for those that matter to it.
struct OwnOption {
    const char* name;
    bool takesValue;
};
constexpr OwnOption kOwnOptions[] = {
    {"--all", false},          {"--watch", false},          {"--json", false},
    {"--emulate", false},      {"--count", true},           {"--emulate-targets", true},
    {"--emulate-flash-dir", true}, {"--emulate-arrive-every", true}, {"--emulate-fault", true},
    {"--log", true},           {"--trace", true},           {"--port-name", true},
    {"--device", true},        {"--emulate-flash", true},
    // The pages and the slots are the supervisor's.
    {"--serve", true},         {"--serve-token", true},     {"--slots", true},  {"--slot-name", true},
    // How much is shown is the supervisor's matter: every run writes its events.
    {"-v", false}, {"--verbose", false}, {"-q", false}, {"--quiet", false},
};

std::optional<OwnOption> OwnOptionOf(const std::string& argument, bool& valueAttached)
{
    for (const OwnOption& own : kOwnOptions) {
        const std::string name = own.name;
        if (argument == name) {
            valueAttached = false;
            return own;
        }
        if (own.takesValue && argument.starts_with(name + "=")) {
            valueAttached = true;
            return own;
        }
    }
    return std::nullopt;
}

} // namespace

std::string EmulatedPort(unsigned index) { return "emu-" + std::to_string(index); }

std::string FaultText(const FaultOption& fault)
{
    const char* kind = "fail";
    switch (fault.kind) {
    case FaultOption::Kind::Fail: kind = "fail"; break;
    case FaultOption::Kind::Leave: kind = "leave"; break;
    case FaultOption::Kind::Flip: kind = "flip"; break;
    case FaultOption::Kind::Busy: kind = "busy"; break;
    case FaultOption::Kind::Status: kind = "status"; break;
    }
    return std::string(kind) + ":" + std::to_string(fault.value);
}

namespace {

// A port as part of a file name: a drive letter's colon (E:) and the other
// characters no Windows file name may hold become '_'.
std::string FileNamePart(std::string port)
{
    for (char& c : port)
        if (std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos) c = '_';
    return port;
}

} // namespace

std::vector<std::string> ChildArguments(const Options& o, const std::string& port, unsigned emulatedIndex)
{
    std::vector<std::string> args;
    for (size_t i = 0; i < o.arguments.size(); ++i) {
        bool attached = false;
        const std::optional<OwnOption> own = OwnOptionOf(o.arguments[i], attached);
        if (!own) {
            args.push_back(o.arguments[i]);
            continue;
        }
        if (own->takesValue && !attached) ++i; // its value goes with it
    }
    args.insert(args.end(), {"--json", "--port-name", port});
    if (!o.logFile.empty()) args.insert(args.end(), {"--log", o.logFile + "." + FileNamePart(port)});
    if (!o.traceFile.empty()) args.insert(args.end(), {"--trace", o.traceFile + "." + FileNamePart(port)});
    if (!o.emulate) {
        args.insert(args.end(), {"--device", port});
        return args;
    }
    args.push_back("--emulate");
    if (!o.emulateFlashDir.empty()) args.insert(args.end(), {"--emulate-flash", o.emulateFlashDir + "/" + port + ".bin"});
    else if (!o.emulateFlash.empty()) args.insert(args.end(), {"--emulate-flash", o.emulateFlash});
    for (const FaultOption& fault : o.faults)
        if (fault.target == 0 || fault.target == emulatedIndex) args.insert(args.end(), {"--emulate-fault", FaultText(fault)});
    return args;
}

std::vector<std::string> StationPorts::Seen(const std::set<std::string>& present, size_t maxNew)
{
    for (auto it = ports_.begin(); it != ports_.end();) {
        if (it->second == State::WaitingToLeave && present.count(it->first) == 0) it = ports_.erase(it);
        else ++it;
    }
    std::vector<std::string> ordered(present.begin(), present.end());
    std::sort(ordered.begin(), ordered.end(), NaturalLess);
    std::vector<std::string> fresh;
    for (const std::string& port : ordered) {
        if (fresh.size() >= maxNew) break;
        if (ports_.count(port) > 0) continue;
        ports_[port] = State::Running;
        fresh.push_back(port);
    }
    return fresh;
}

void StationPorts::JobEnded(const std::string& port)
{
    const auto it = ports_.find(port);
    if (it != ports_.end()) it->second = State::WaitingToLeave;
}

size_t StationPorts::Running() const
{
    size_t running = 0;
    for (const auto& [port, state] : ports_)
        if (state == State::Running) ++running;
    return running;
}

std::set<std::string> EmulatedHub::Present(uint64_t nowMs) const
{
    std::set<std::string> present;
    for (size_t i = 0; i < ports_.size(); ++i)
        if (startMs_ + i * everyMs_ <= nowMs && gone_.count(ports_[i]) == 0) present.insert(ports_[i]);
    return present;
}

std::optional<uint64_t> EmulatedHub::NextArrivalMs(uint64_t nowMs) const
{
    for (size_t i = 0; i < ports_.size(); ++i) {
        const uint64_t at = startMs_ + i * everyMs_;
        if (at > nowMs) return at;
    }
    return std::nullopt;
}

std::vector<std::string> EmulatedPorts(const Options& options)
{
    if (options.emulateTargets == 0) return {"emulated"};
    std::vector<std::string> ports;
    for (unsigned i = 1; i <= options.emulateTargets; ++i) ports.push_back(EmulatedPort(i));
    return ports;
}

unsigned EmulatedIndex(const std::string& port)
{
    if (!port.starts_with("emu-") || port.size() > 8) return 0;
    unsigned index = 0;
    for (size_t i = 4; i < port.size(); ++i) {
        if (port[i] < '0' || port[i] > '9') return 0;
        index = index * 10 + static_cast<unsigned>(port[i] - '0');
    }
    return index;
}
