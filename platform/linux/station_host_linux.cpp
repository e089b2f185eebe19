// The supervisor's system on Linux: each run a child process (posix_spawn,
// pipes read without blocking, a process group of its own, so that Ctrl-C on
// the terminal reaches the supervisor alone and it passes it on), poll over
// their pipes, the signal pipe and udev's arrivals.
#include "ports/station_host.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

#include "platform/linux/udev_hotplug_monitor.h"
#include "platform/linux/udev_target_scan.h"
#include "platform/linux/child_process.h"
#include "ports/interrupts.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void NoteSignal()
{
    const char byte = 1;
    if (write(g_signalPipe[1], &byte, 1) < 0) {
        // A full pipe holds enough signals already.
    }
}

void Drain(int fd, int& count)
{
    char buffer[64];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) count += static_cast<int>(n);
}

} // namespace

struct FleetChild::State {
    ChildProcess process;
};

FleetChild::FleetChild() : state_(std::make_unique<State>()) {}
FleetChild::~FleetChild() = default;

bool FleetChild::Start(const std::string& program, const std::vector<std::string>& arguments, std::string& error)
{
    return state_->process.Start(program, arguments, error);
}

void FleetChild::Collect()
{
    state_->process.ReadOut();
    state_->process.ReadErr();
}

LineSplitter& FleetChild::OutLines() { return state_->process.OutLines(); }
LineSplitter& FleetChild::ErrLines() { return state_->process.ErrLines(); }
bool FleetChild::StreamsEnded() const { return state_->process.StreamsEnded(); }
bool FleetChild::TryReap() { return state_->process.TryReap(); }
int FleetChild::ExitCode() const { return state_->process.ExitCode(); }
const std::string& FleetChild::HowItEnded() const { return state_->process.HowItEnded(); }
void FleetChild::Kill() { state_->process.Signal(SIGKILL); }
void FleetChild::PassInterrupt() { state_->process.Signal(SIGINT); }

struct FleetHost::State {
    int wakePipe[2] = {-1, -1};
    UdevHotplugMonitor monitor;
};

FleetHost::FleetHost() : state_(std::make_unique<State>()) {}

FleetHost::~FleetHost()
{
    state_->monitor.Stop();
    for (int fd : state_->wakePipe)
        if (fd >= 0) close(fd);
}

bool FleetHost::Start(std::string& error)
{
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0 || pipe2(state_->wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = "cannot set up the supervisor's pipes";
        return false;
    }
    interrupts::Redirect(NoteSignal);
    return true;
}

bool FleetHost::WatchArrivals(std::string& problem)
{
    const int wake = state_->wakePipe[1];
    return state_->monitor.Start(
        [wake](uintptr_t) {
            const char byte = 1;
            if (write(wake, &byte, 1) < 0) {
                // A full pipe wakes the loop all the same.
            }
        },
        problem);
}

void FleetHost::StopWatching() { state_->monitor.Stop(); }

int FleetHost::Wait(const std::vector<FleetChild*>& running, int waitMs, bool& arrived)
{
    std::vector<pollfd> fds{{g_signalPipe[0], POLLIN, 0}, {state_->wakePipe[0], POLLIN, 0}};
    for (FleetChild* child : running) {
        const ChildProcess& process = child->state_->process;
        if (process.OutFd() >= 0) fds.push_back({process.OutFd(), POLLIN, 0});
        if (process.ErrFd() >= 0) fds.push_back({process.ErrFd(), POLLIN, 0});
    }
    poll(fds.data(), fds.size(), waitMs);
    int signals = 0, wakes = 0;
    Drain(g_signalPipe[0], signals);
    Drain(state_->wakePipe[0], wakes);
    arrived = wakes > 0;
    return signals;
}

std::set<std::string> FleetHost::AttachedTargets(std::string& error)
{
    std::vector<TargetLocation> found;
    std::set<std::string> ports;
    if (!ScanUdevTargets(found, error)) return ports;
    error.clear();
    for (const TargetLocation& target : found) ports.insert(target.portPath);
    return ports;
}

std::string FleetHost::OwnProgramPath() { return ::OwnProgramPath(); }

bool FleetHost::OutputIsTerminal() { return isatty(STDOUT_FILENO) != 0; }

size_t FleetHost::TerminalWidth()
{
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

void FleetHost::EndNow(int exitCode) { _exit(exitCode); }
