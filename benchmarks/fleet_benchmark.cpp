// Upgrades 1, 4 and 16 emulated targets at once with vane-upgrade upgrade
// --all, each target taking a real device's time (the realistic timing
// model on the real clock), and prints the wall time of each run, how the
// throughput holds up against N single targets, and the host CPU time that
// the runs spend per target and MiB.
//
// Usage: fleet_benchmark [VANE_UPGRADE [IMAGE_MIB]]
// (default: the vane-upgrade beside this program, a 1 MiB image).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "emulator/demo_images.h"

namespace fs = std::filesystem;

extern char** environ;

namespace {

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

double ChildrenCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage); // every descendant waited for, the supervisor's runs included
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

struct Figures {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    int exitCode = -1;
};

Figures RunFleet(const std::string& program, unsigned targets)
{
    std::vector<std::string> args{program, "--emulate-targets", std::to_string(targets), "--emulate-timing", "realistic",
                                  "upgrade", "--all"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string log = "fleet-" + std::to_string(targets) + ".txt";
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);

    Figures f;
    const double cpuBefore = ChildrenCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return f;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    waitpid(pid, &status, 0);
    f.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    f.cpuSeconds = ChildrenCpuSeconds() - cpuBefore;
    f.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    const fs::path self = fs::canonical("/proc/self/exe");
    const std::string program = argc > 1 ? fs::absolute(argv[1]).string() : (self.parent_path() / "vane-upgrade").string();
    const unsigned mib = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1;
    if (!fs::exists(program) || mib == 0 || mib > 3) {
        std::fprintf(stderr, "usage: fleet_benchmark [VANE_UPGRADE [IMAGE_MIB (1-3)]]\n");
        return 2;
    }
    const fs::path folder = fs::temp_directory_path() / ("vane-fleet-bench-" + std::to_string(getpid()));
    fs::create_directories(folder / "Data");
    WriteFile(folder / "Data" / "Vane_TX_V1030.fir", MakeDemoFirmware(size_t{mib} * 1024 * 1024));
    WriteFile(folder / "Data" / "wtf.fir", MakeDemoFlashLoader());
    fs::current_path(folder);

    std::printf("%u MiB image, each target from its boot ROM (flash loader, re-enumeration, erase, write, verify)\n", mib);
    std::printf("%-8s %10s %14s %8s %22s %s\n", "targets", "wall (s)", "MiB/s", "ratio", "CPU ms/target/MiB", "result");
    double singleWall = 0;
    int worst = 0;
    for (unsigned targets : {1u, 4u, 16u}) {
        const Figures f = RunFleet(program, targets);
        if (targets == 1) singleWall = f.wallSeconds;
        // throughput(N) / (N x throughput(1)) = wall(1) / wall(N), for the same work per target.
        const double ratio = singleWall / f.wallSeconds;
        const double cpuMs = f.cpuSeconds * 1000.0 / (targets * mib);
        std::printf("%-8u %10.2f %14.2f %8.3f %22.1f %s\n", targets, f.wallSeconds, targets * mib / f.wallSeconds, ratio, cpuMs,
                    f.exitCode == 0 ? "every target completed" : ("exit code " + std::to_string(f.exitCode)).c_str());
        std::fflush(stdout);
        if (f.exitCode != 0) worst = 1;
    }
    fs::current_path(self.parent_path());
    if (worst == 0) fs::remove_all(folder);
    else std::fprintf(stderr, "the runs' output is kept in %s\n", folder.c_str());
    return worst;
}
