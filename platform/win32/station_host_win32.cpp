// The supervisor's system on Windows. Each target's run is this
// program started again (CreateProcess of its own file) with standard output
// and error on anonymous pipes; one thread per pipe reads it and wakes the
// supervisor's loop through an event, so that no run is ever waited on.
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
#include "platform/win32/device_tree_win32.h"
#include "platform/portable/command_line_quoting.h"
#include "programs/vane_upgrade/cli/exit_codes.h"
#include "ports/interrupts.h"
#include "ports/line_splitter.h"
#include "ports/terminal.h"
#include "platform/win32/usb_ports_win32.h"

namespace {

// What a run that was stopped for hanging ends with.
constexpr UINT kKilledExitCode = 1;

const char kTargetUsbId[] = "USB\\VID_0416&PID_B190";

HANDLE g_wake = nullptr;
std::atomic<int> g_interrupts{0};

void NoteInterrupt()
{
    ++g_interrupts;
    SetEvent(g_wake);
}

std::string SystemErrorText(DWORD code)
{
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                        sizeof text, nullptr);
    std::string result(text, length);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' ')) result.pop_back();
    return result.empty() ? "system error " + std::to_string(code) : result;
}

// One pipe's bytes, gathered by its reader thread until the loop takes them.
class PipeReader {
public:
    ~PipeReader()
    {
        // The stream ends when the run has ended and its handles are closed;
        // a supervisor only goes after every run has ended.
        if (thread_.joinable()) thread_.join();
        if (pipe_ != nullptr) CloseHandle(pipe_);
    }

    void Start(HANDLE pipe)
    {
        pipe_ = pipe;
        thread_ = std::thread([this] { ReadAll(); });
    }

    // Moves what arrived into lines; true once the stream has ended and all of it was taken.
    bool Collect(LineSplitter& lines)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!bytes_.empty()) lines.Add(bytes_.data(), bytes_.size());
        bytes_.clear();
        return ended_;
    }

private:
    void ReadAll()
    {
        char buffer[4096];
        DWORD count = 0;
        while (ReadFile(pipe_, buffer, sizeof buffer, &count, nullptr) && count > 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            bytes_.append(buffer, count);
            SetEvent(g_wake);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
        SetEvent(g_wake);
    }

    HANDLE pipe_ = nullptr;
    std::thread thread_;
    std::mutex mutex_;
    std::string bytes_;
    bool ended_ = false;
};

// Both ends of an anonymous pipe; the write end is inherited by the run only.
bool MakePipe(HANDLE& read, HANDLE& write, std::string& error)
{
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (!CreatePipe(&read, &write, &inherit, 0)) {
        error = "no pipe for a run: " + SystemErrorText(GetLastError());
        return false;
    }
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    return true;
}

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess()
    {
        if (process_ != nullptr) CloseHandle(process_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Runs are started by the loop's thread alone, one after another: the
    // inheritable ends of one run's pipes are closed before the next starts,
    // so no run holds another's pipe open.
    bool Start(const std::string& program, const std::vector<std::string>& arguments, std::string& error)
    {
        HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
        if (!MakePipe(outRead, outWrite, error)) return false;
        if (!MakePipe(errRead, errWrite, error)) {
            CloseHandle(outRead);
            CloseHandle(outWrite);
            return false;
        }
        // A question is never asked of a console that several runs share.
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE nothing = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nothing;
        startup.hStdOutput = outWrite;
        startup.hStdError = errWrite;
        PROCESS_INFORMATION started{};
        std::string commandLine = WindowsCommandLine(program, arguments);
        const BOOL ok = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                       &startup, &started);
        const DWORD startError = GetLastError();
        CloseHandle(outWrite);
        CloseHandle(errWrite);
        if (nothing != INVALID_HANDLE_VALUE) CloseHandle(nothing);
        if (!ok) {
            CloseHandle(outRead);
            CloseHandle(errRead);
            error = "cannot start " + program + ": " + SystemErrorText(startError);
            return false;
        }
        CloseHandle(started.hThread);
        process_ = started.hProcess;
        out_.Start(outRead);
        err_.Start(errRead);
        return true;
    }

    void Collect()
    {
        outEnded_ = out_.Collect(outLines_);
        errEnded_ = err_.Collect(errLines_);
    }
    LineSplitter& OutLines() { return outLines_; }
    LineSplitter& ErrLines() { return errLines_; }
    bool StreamsEnded() const { return outEnded_ && errEnded_; }

    bool TryReap()
    {
        if (reaped_ || process_ == nullptr) return reaped_;
        if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) return false;
        reaped_ = true;
        DWORD code = kExitFailure;
        GetExitCodeProcess(process_, &code);
        if (code >= 0xC0000000u) {
            // An exception ended it (an access violation and the like).
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
            how_ = std::string("ended by exception ") + hex;
            exitCode_ = kExitFailure;
        } else {
            exitCode_ = static_cast<int>(code);
        }
        return true;
    }
    int ExitCode() const { return exitCode_; }
    const std::string& HowItEnded() const { return how_; }
    void Kill()
    {
        if (process_ != nullptr && !reaped_) TerminateProcess(process_, kKilledExitCode);
    }

private:
    HANDLE process_ = nullptr;
    PipeReader out_, err_;
    LineSplitter outLines_, errLines_;
    bool outEnded_ = false, errEnded_ = false;
    bool reaped_ = false;
    int exitCode_ = 0;
    std::string how_;
};

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

void FleetChild::Collect() { state_->process.Collect(); }
LineSplitter& FleetChild::OutLines() { return state_->process.OutLines(); }
LineSplitter& FleetChild::ErrLines() { return state_->process.ErrLines(); }
bool FleetChild::StreamsEnded() const { return state_->process.StreamsEnded(); }
bool FleetChild::TryReap() { return state_->process.TryReap(); }
int FleetChild::ExitCode() const { return state_->process.ExitCode(); }
const std::string& FleetChild::HowItEnded() const { return state_->process.HowItEnded(); }
void FleetChild::Kill() { state_->process.Kill(); }
// The console hands every Ctrl-C to each run itself.
void FleetChild::PassInterrupt() {}

struct FleetHost::State {};

FleetHost::FleetHost() : state_(std::make_unique<State>()) {}
FleetHost::~FleetHost() = default;

bool FleetHost::Start(std::string& error)
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

bool FleetHost::WatchArrivals(std::string& problem)
{
    problem.clear();
    return false;
}

void FleetHost::StopWatching() {}

int FleetHost::Wait(const std::vector<FleetChild*>&, int waitMs, bool& arrived)
{
    WaitForSingleObject(g_wake, static_cast<DWORD>(waitMs));
    arrived = false;
    return g_interrupts.exchange(0);
}

std::set<std::string> FleetHost::AttachedTargets(std::string& error)
{
    error.clear();
    return TargetPlaces();
}

std::string FleetHost::OwnProgramPath() { return ProgramPath(); }
bool FleetHost::OutputIsTerminal() { return ::OutputIsTerminal(); }
size_t FleetHost::TerminalWidth() { return ConsoleWidth(); }
void FleetHost::EndNow(int exitCode) { ExitProcess(static_cast<UINT>(exitCode)); }
