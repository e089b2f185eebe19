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

class ProcessChild final : public StationChild {
public:
    bool Start(const std::string& program, const std::vector<std::string>& arguments, std::string& error) override
    {
        return process.Start(program, arguments, error);
    }
    void Collect() override
    {
        process.ReadOut();
        process.ReadErr();
    }
    LineSplitter& OutLines() override { return process.OutLines(); }
    LineSplitter& ErrLines() override { return process.ErrLines(); }
    bool StreamsEnded() const override { return process.StreamsEnded(); }
    bool TryReap() override { return process.TryReap(); }
    int ExitCode() const override { return process.ExitCode(); }
    const std::string& HowItEnded() const override { return process.HowItEnded(); }
    void Kill() override { process.Signal(SIGKILL); }
    void PassInterrupt() override { process.Signal(SIGINT); }

    ChildProcess process;
};

class MachineStationHost final : public StationHost {
public:
    ~MachineStationHost() override
    {
        monitor_.Stop();
        for (int fd : wakePipe_)
            if (fd >= 0) close(fd);
    }

    bool Start(std::string& error) override
    {
        if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0 || pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
            error = "cannot set up the supervisor's pipes";
            return false;
        }
        interrupts::Redirect(NoteSignal);
        return true;
    }

    std::unique_ptr<StationChild> NewChild() override { return std::make_unique<ProcessChild>(); }

    bool WatchArrivals(std::string& problem) override
    {
        const int wake = wakePipe_[1];
        return monitor_.Start(
            [wake](uintptr_t) {
                const char byte = 1;
                if (write(wake, &byte, 1) < 0) {
                    // A full pipe wakes the loop all the same.
                }
            },
            problem);
    }

    void StopWatching() override { monitor_.Stop(); }

    int Wait(const std::vector<StationChild*>& running, int waitMs, bool& arrived) override
    {
        std::vector<pollfd> fds{{g_signalPipe[0], POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        for (StationChild* child : running) {
            // Every run comes from NewChild above.
            const ChildProcess& process = static_cast<ProcessChild*>(child)->process;
            if (process.OutFd() >= 0) fds.push_back({process.OutFd(), POLLIN, 0});
            if (process.ErrFd() >= 0) fds.push_back({process.ErrFd(), POLLIN, 0});
        }
        poll(fds.data(), fds.size(), waitMs);
        int signals = 0, wakes = 0;
        Drain(g_signalPipe[0], signals);
        Drain(wakePipe_[0], wakes);
        arrived = wakes > 0;
        return signals;
    }

    std::set<std::string> AttachedTargets(std::string& error) override
    {
        std::vector<TargetLocation> found;
        std::set<std::string> ports;
        if (!ScanUdevTargets(found, error)) return ports;
        error.clear();
        for (const TargetLocation& target : found) ports.insert(target.portPath);
        return ports;
    }

    std::string OwnProgramPath() override { return ::OwnProgramPath(); }

    bool OutputIsTerminal() override { return isatty(STDOUT_FILENO) != 0; }

    size_t TerminalWidth() override
    {
        winsize size{};
        if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
        return 80;
    }

    [[noreturn]] void EndNow(int exitCode) override { _exit(exitCode); }

private:
    int wakePipe_[2] = {-1, -1};
    UdevHotplugMonitor monitor_;
};

} // namespace

std::unique_ptr<StationHost> MakeMachineStationHost() { return std::make_unique<MachineStationHost>(); }
