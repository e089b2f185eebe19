#pragma once
// What the supervisor of several targets needs of the system (one file per
// platform): the runs' processes, a wait that wakes on their output, on an
// interrupt or on an arrival, and the attached targets.
#include <cstddef>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ports/line_splitter.h"

// One target's run, a process of this program whose standard output and
// error come back as lines.
class FleetChild {
public:
    FleetChild();
    ~FleetChild();
    FleetChild(const FleetChild&) = delete;
    FleetChild& operator=(const FleetChild&) = delete;

    bool Start(const std::string& program, const std::vector<std::string>& arguments, std::string& error);
    // Takes in what has arrived, without waiting.
    void Collect();
    LineSplitter& OutLines();
    LineSplitter& ErrLines();
    bool StreamsEnded() const;
    // Notes the end of the process once it has ended (without waiting).
    bool TryReap();
    int ExitCode() const;
    // "" for a normal end; how it ended otherwise ("ended by signal 9 (Killed)").
    const std::string& HowItEnded() const;
    // Ends a run that hangs.
    void Kill();
    // Hands the run an interrupt the user gave the supervisor (where the
    // system does not hand it to every run itself).
    void PassInterrupt();

    struct State;

private:
    friend class FleetHost;
    std::unique_ptr<State> state_;
};

class FleetHost {
public:
    FleetHost();
    ~FleetHost();
    FleetHost(const FleetHost&) = delete;
    FleetHost& operator=(const FleetHost&) = delete;

    // Takes the interrupts over from the single-run rule.
    bool Start(std::string& error);
    // Listens for arrivals where the system tells them; false with the
    // problem when it cannot ("" when the ports are simply looked at).
    bool WatchArrivals(std::string& problem);
    void StopWatching();
    // Waits up to waitMs for output of a run, an interrupt or an arrival.
    // Returns the interrupts since the last wait; arrived tells of arrivals.
    int Wait(const std::vector<FleetChild*>& running, int waitMs, bool& arrived);
    // The ports (or drive letters) of the attached targets; error tells why
    // there are none when they could not be looked at.
    std::set<std::string> AttachedTargets(std::string& error);

    static std::string OwnProgramPath();
    static bool OutputIsTerminal();
    static size_t TerminalWidth();
    [[noreturn]] static void EndNow(int exitCode);

    struct State;

private:
    std::unique_ptr<State> state_;
};
