#pragma once
// A run of this program for one target on Windows: the program started again
// (CreateProcess of its own file) with standard output and error on
// anonymous pipes; one thread per pipe reads it and sets the wake event, so
// that the supervisor's loop never waits on a run.
#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/portable/command_line_quoting.h"
#include "ports/line_splitter.h"

// What a run that was stopped for hanging ends with, and what one an
// exception ended counts as: the program's code for a failed job.
inline constexpr UINT kKilledExitCode = 1;
inline constexpr int kFailedExitCode = 1;

// The system's text for an error code, without its line end.
std::string SystemErrorText(DWORD code);

// One pipe's bytes, gathered by its reader thread until the loop takes them.
class PipeReader {
public:
    explicit PipeReader(HANDLE wake) : wake_(wake) {}
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
            SetEvent(wake_);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
        SetEvent(wake_);
    }

    HANDLE wake_;
    HANDLE pipe_ = nullptr;
    std::thread thread_;
    std::mutex mutex_;
    std::string bytes_;
    bool ended_ = false;
};

// Both ends of an anonymous pipe; the write end is inherited by the run only.
bool MakePipe(HANDLE& read, HANDLE& write, std::string& error);

class ChildProcess {
public:
    // wake is set whenever output arrives or a stream ends.
    explicit ChildProcess(HANDLE wake) : out_(wake), err_(wake) {}
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
        DWORD code = kFailedExitCode;
        GetExitCodeProcess(process_, &code);
        if (code >= 0xC0000000u) {
            // An exception ended it (an access violation and the like).
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
            how_ = std::string("ended by exception ") + hex;
            exitCode_ = kFailedExitCode;
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
