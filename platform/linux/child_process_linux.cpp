#include "platform/linux/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

ChildProcess::~ChildProcess()
{
    if (outFd_ >= 0) close(outFd_);
    if (errFd_ >= 0) close(errFd_);
    // A run still going when its supervisor leaves is not waited for here:
    // it finishes its job on its own.
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments, std::string& error)
{
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        error = std::string("no pipe for a run: ") + std::strerror(errno);
        return false;
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        error = std::string("no pipe for a run: ") + std::strerror(errno);
        close(out[0]);
        close(out[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);

    std::vector<std::string> argvText{program};
    argvText.insert(argvText.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : argvText) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int result = posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(out[1]);
    close(err[1]);
    if (result != 0) {
        close(out[0]);
        close(err[0]);
        pid_ = -1;
        error = "cannot start " + program + ": " + std::strerror(result);
        return false;
    }
    outFd_ = out[0];
    errFd_ = err[0];
    fcntl(outFd_, F_SETFL, fcntl(outFd_, F_GETFL) | O_NONBLOCK);
    fcntl(errFd_, F_SETFL, fcntl(errFd_, F_GETFL) | O_NONBLOCK);
    return true;
}

void ChildProcess::Read(int& fd, LineSplitter& lines)
{
    if (fd < 0) return;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            lines.Add(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        close(fd); // the end of the stream, or an error that ends it
        fd = -1;
        return;
    }
}

bool ChildProcess::TryReap()
{
    if (reaped_ || pid_ <= 0) return reaped_;
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done != pid_) return false;
    reaped_ = true;
    if (WIFEXITED(status)) {
        exitCode_ = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        exitCode_ = 128 + WTERMSIG(status);
        how_ = std::string("ended by signal ") + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
    }
    return true;
}

void ChildProcess::Signal(int signalNumber)
{
    if (pid_ > 0 && !reaped_) kill(pid_, signalNumber);
}

std::string OwnProgramPath()
{
    // The link, not the name it points to: a program file replaced while the
    // station runs (an update) still starts the runs of the program running.
    constexpr const char* kSelf = "/proc/self/exe";
    return access(kSelf, X_OK) == 0 ? kSelf : "";
}
