#pragma once
// What the supervisor of several targets needs of the system: the runs'
// processes, a wait that wakes on their output, on an interrupt or on an
// arrival, the attached targets and the console. The machine's own host is
// one file per platform; tests give the supervisor one of their own.
#include <cstddef>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ports/line_splitter.h"

// One target's run, a process of this program whose standard output and
// error come back as lines.
class StationChild {
public:
    virtual ~StationChild() = default;

    virtual bool Start(const std::string& program, const std::vector<std::string>& arguments, std::string& error) = 0;
    // Takes in what has arrived, without waiting.
    virtual void Collect() = 0;
    virtual LineSplitter& OutLines() = 0;
    virtual LineSplitter& ErrLines() = 0;
    virtual bool StreamsEnded() const = 0;
    // Notes the end of the process once it has ended (without waiting).
    virtual bool TryReap() = 0;
    virtual int ExitCode() const = 0;
    // "" for a normal end; how it ended otherwise ("ended by signal 9 (Killed)").
    virtual const std::string& HowItEnded() const = 0;
    // Ends a run that hangs.
    virtual void Kill() = 0;
    // Hands the run an interrupt the user gave the supervisor (where the
    // system does not hand it to every run itself).
    virtual void PassInterrupt() = 0;
};

class StationHost {
public:
    virtual ~StationHost() = default;

    // Takes the interrupts over from the single-run rule.
    virtual bool Start(std::string& error) = 0;
    // A run not started yet; the host outlives it.
    virtual std::unique_ptr<StationChild> NewChild() = 0;
    // Listens for arrivals where the system tells them; false with the
    // problem when it cannot ("" when the ports are simply looked at).
    virtual bool WatchArrivals(std::string& problem) = 0;
    virtual void StopWatching() = 0;
    // Waits up to waitMs for output of a run, an interrupt or an arrival.
    // Returns the interrupts since the last wait; arrived tells of arrivals.
    virtual int Wait(const std::vector<StationChild*>& running, int waitMs, bool& arrived) = 0;
    // The ports (or drive letters) of the attached targets; error tells why
    // there are none when they could not be looked at.
    virtual std::set<std::string> AttachedTargets(std::string& error) = 0;

    virtual std::string OwnProgramPath() = 0;
    virtual bool OutputIsTerminal() = 0;
    virtual size_t TerminalWidth() = 0;
    [[noreturn]] virtual void EndNow(int exitCode) = 0;
};

// This machine's processes, wait and target scan.
std::unique_ptr<StationHost> MakeMachineStationHost();
