#pragma once
// The plan of a run over several targets, pure: the command line of each
// target's own run, which ports take a new job in station mode, and when the
// targets of an emulated hub arrive.
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "programs/vane_upgrade/cli/natural_order.h"
#include "programs/vane_upgrade/cli/options.h"

// "emu-3": the port of emulated target 3.
std::string EmulatedPort(unsigned index);

// The arguments (without the program name) of the single-target run for one
// port: the user's command line without the options that concern several
// targets, then --json, --port-name and what chooses the target: --device
// PORT for a real one; --emulate with its flash file and its faults for an
// emulated one (index from 1; 0 for the one target of plain --emulate).
// --log and --trace name a file per target (FILE.PORT, the characters a
// file name cannot hold, such as a drive letter's colon, as '_').
std::vector<std::string> ChildArguments(const Options& options, const std::string& port, unsigned emulatedIndex);

// "fail:20": a fault as --emulate-fault takes it, without a target.
std::string FaultText(const FaultOption& fault);

// Station mode's bookkeeping of ports. A port that holds a target starts a
// job; after the job it is not touched again until it has been seen empty.
// While its job runs the port may empty and fill again (the flash loader
// re-enumerates the target): that is not a departure.
class StationPorts {
public:
    // The ports that hold a target now; returns those that take a new job,
    // at most maxNew of them, in port order.
    std::vector<std::string> Seen(const std::set<std::string>& present, size_t maxNew);
    void JobEnded(const std::string& port);
    size_t Running() const;

private:
    enum class State { Running, WaitingToLeave };
    std::map<std::string, State> ports_;
};

// The emulated hub of --emulate-targets N with --emulate-arrive-every MS:
// the target at the I-th port arrives (I - 1) x MS after the start and
// leaves when its job ends.
class EmulatedHub {
public:
    EmulatedHub(std::vector<std::string> ports, uint64_t everyMs, uint64_t startMs)
        : ports_(std::move(ports)), everyMs_(everyMs), startMs_(startMs) {}
    std::set<std::string> Present(uint64_t nowMs) const;
    void Left(const std::string& port) { gone_.insert(port); }
    // Every target has arrived and left: nothing more can come.
    bool Exhausted() const { return gone_.size() >= ports_.size(); }
    // When the next target arrives (nothing when all have).
    std::optional<uint64_t> NextArrivalMs(uint64_t nowMs) const;

private:
    std::vector<std::string> ports_;
    uint64_t everyMs_, startMs_;
    std::set<std::string> gone_;
};

// The ports of the emulated targets: emu-1 ... emu-N, or "emulated" for the
// one target of plain --emulate.
std::vector<std::string> EmulatedPorts(const Options& options);
// I of "emu-I"; 0 for any other port.
unsigned EmulatedIndex(const std::string& port);
