// The supervisor's system on Windows. Each target's run is this program
// started again (child_process_win32.h); its pipes' readers
// wake the supervisor's loop through an event, so that no run is ever
// waited on.
//
// Ctrl-C: the runs are started in the supervisor's console and process
// group, so the system hands every Ctrl-C to each of them as well; each run
// takes it as a single run does (a job that writes the transmitter finishes
// on the first, anything else ends). The supervisor itself only counts them:
// after the first no new run starts, after the second the runs count as
// abandoned, the third ends the supervisor at once. A run started without a
// console (the supervisor's own output redirected does not matter, its
// console does) gets no Ctrl-C from anyone: it ends on its own.
//
// Real targets are the ones vane-upgrade.exe list shows: by the USB port of
// their device node, or, when the system tells no port, by drive letter.
// Station mode looks at them every second.
#include "ports/station_host.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

#include "device/volume_discovery.h"
#include "platform/win32/console/child_process_win32.h"
#include "platform/win32/device_tree_win32.h"
#include "ports/interrupts.h"
#include "ports/line_splitter.h"
#include "ports/terminal.h"
#include "platform/win32/console/usb_ports_win32.h"

namespace {

const char kTargetUsbId[] = "USB\\VID_0416&PID_B190";

HANDLE g_wake = nullptr;
std::atomic<int> g_interrupts{0};

void NoteInterrupt()
{
    ++g_interrupts;
    SetEvent(g_wake);
}

std::string ProgramPath()
{
    char path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return "";
    return std::string(path, length);
}

size_t ConsoleWidth()
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) && info.dwSize.X > 0)
        return static_cast<size_t>(info.dwSize.X);
    return 80;
}

// The attached targets as vane-upgrade.exe list shows them: by USB port, or
// by drive letter when the system tells the port of any of them not.
std::set<std::string> TargetPlaces()
{
    std::set<std::string> places;
    const std::vector<std::string> ports = TargetUsbPorts();
    const bool portsKnown = std::none_of(ports.begin(), ports.end(), [](const std::string& p) { return p.empty(); });
    if (!ports.empty() && portsKnown) {
        places.insert(ports.begin(), ports.end());
        return places;
    }
    Win32DeviceTree machine;
    std::lock_guard<std::mutex> discovery(DiscoveryMutex());
    g_driveLetters.clear();
    EnumerateRemovableVolumes(machine, kTargetUsbId);
    for (char letter : g_driveLetters) places.insert(std::string(1, letter) + ":");
    return places;
}

class ProcessChild final : public StationChild {
public:
    explicit ProcessChild(HANDLE wake) : process_(wake) {}

    bool Start(const std::string& program, const std::vector<std::string>& arguments, std::string& error) override
    {
        return process_.Start(program, arguments, error);
    }
    void Collect() override { process_.Collect(); }
    LineSplitter& OutLines() override { return process_.OutLines(); }
    LineSplitter& ErrLines() override { return process_.ErrLines(); }
    bool StreamsEnded() const override { return process_.StreamsEnded(); }
    bool TryReap() override { return process_.TryReap(); }
    int ExitCode() const override { return process_.ExitCode(); }
    const std::string& HowItEnded() const override { return process_.HowItEnded(); }
    void Kill() override { process_.Kill(); }
    // The console hands every Ctrl-C to each run itself.
    void PassInterrupt() override {}

private:
    ChildProcess process_;
};

class MachineStationHost final : public StationHost {
public:
    bool Start(std::string& error) override
    {
        if (g_wake == nullptr) g_wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (g_wake == nullptr) {
            error = "cannot set up the supervisor's event: " + SystemErrorText(GetLastError());
            return false;
        }
        g_interrupts = 0;
        interrupts::Redirect(NoteInterrupt);
        return true;
    }

    std::unique_ptr<StationChild> NewChild() override { return std::make_unique<ProcessChild>(g_wake); }

    bool WatchArrivals(std::string& problem) override
    {
        problem.clear();
        return false;
    }

    void StopWatching() override {}

    int Wait(const std::vector<StationChild*>&, int waitMs, bool& arrived) override
    {
        WaitForSingleObject(g_wake, static_cast<DWORD>(waitMs));
        arrived = false;
        return g_interrupts.exchange(0);
    }

    std::set<std::string> AttachedTargets(std::string& error) override
    {
        error.clear();
        return TargetPlaces();
    }

    std::string OwnProgramPath() override { return ProgramPath(); }
    bool OutputIsTerminal() override { return ::OutputIsTerminal(); }
    size_t TerminalWidth() override { return ConsoleWidth(); }
    [[noreturn]] void EndNow(int exitCode) override { ExitProcess(static_cast<UINT>(exitCode)); }
};

} // namespace

std::unique_ptr<StationHost> MakeMachineStationHost() { return std::make_unique<MachineStationHost>(); }
