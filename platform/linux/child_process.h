#pragma once
// A run of this program for one target, as a child process: standard input
// from /dev/null (a question is never asked of a terminal that several runs
// share), standard output and error into pipes that the supervisor reads
// without blocking, and a process group of its own, so that Ctrl-C on the
// terminal reaches the supervisor alone and it decides what the runs get.
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "ports/line_splitter.h"

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts program with arguments (the program name is added as argv[0]).
    bool Start(const std::string& program, const std::vector<std::string>& arguments, std::string& error);
    pid_t Pid() const { return pid_; }
    // Descriptors to poll (-1 once the stream ended).
    int OutFd() const { return outFd_; }
    int ErrFd() const { return errFd_; }
    // Reads what is there without blocking; closes the descriptor at its end.
    void ReadOut() { Read(outFd_, out_); }
    void ReadErr() { Read(errFd_, err_); }
    LineSplitter& OutLines() { return out_; }
    LineSplitter& ErrLines() { return err_; }
    bool StreamsEnded() const { return outFd_ < 0 && errFd_ < 0; }
    // Reaps the process once it has ended (without waiting); sets how.
    bool TryReap();
    bool Reaped() const { return reaped_; }
    // The exit code, or 128 + the signal that ended it.
    int ExitCode() const { return exitCode_; }
    // "" for a normal end; "killed by signal 9" and the like.
    const std::string& HowItEnded() const { return how_; }
    void Signal(int signalNumber);

private:
    void Read(int& fd, LineSplitter& lines);

    pid_t pid_ = -1;
    int outFd_ = -1, errFd_ = -1;
    LineSplitter out_, err_;
    bool reaped_ = false;
    int exitCode_ = 0;
    std::string how_;
};

// This program's own file, for starting runs of it.
std::string OwnProgramPath();
