// Upgrades a 1 MiB and a 4 MiB image on the emulated target with a realistic
// timing model, on virtual time, and prints how the upgrade's duration
// compares with what the device itself needs, and the host's CPU time.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/rodediz_dlg.h"
#include "device/diagnostics.h"
#include "emulator/demo_images.h"
#include "emulator/emulated_device_tree.h"
#include "emulator/emulated_target.h"
#include "platform/headless/headless_window.h"

namespace fs = std::filesystem;

namespace {

double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct Figures {
    double virtualSeconds = 0;
    double lowerBoundSeconds = 0;
    double cpuMsPerMiB = 0;
    bool complete = false;
};

Figures RunUpgrade(size_t imageSize)
{
    const fs::path folder = fs::temp_directory_path() / ("vane-bench-" + std::to_string(getpid()));
    fs::create_directories(folder / "Data");
    {
        std::vector<uint8_t> image = MakeDemoFirmware(imageSize);
        std::ofstream(folder / "Data" / "Vane_TX_V1030.fir", std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    }
    const fs::path previous = fs::current_path();
    fs::current_path(folder);

    VirtualClock clock;
    EmulatedTarget target(clock, 8 * 1024 * 1024);
    const TimingModel timing = TimingModel::Realistic();
    target.SetTiming(timing);
    target.SetBootState(kFlashLoaderState);
    EmulatedDeviceTree tree(target);
    MemoryRegistry registry;
    DialogServices services{clock, target, tree, registry, PlatformFileSystem()};
    auto dlg = std::make_unique<CRODEdizDlg>(services);
    HeadlessWindow window(*dlg, clock, &clock);
    window.SetPumpSafetyLimit(std::chrono::milliseconds(0));
    window.Open();
    window.PumpMessagesUntil([&] { return dlg->Threads().Idle(); });

    const uint64_t startMs = clock.NowMs();
    const double cpuStart = CpuSeconds();
    window.Click(IDC_EXECUTE);
    window.PumpMessagesUntil([&] { return dlg->Threads().Idle(); });
    const double cpu = CpuSeconds() - cpuStart;

    Figures f;
    f.virtualSeconds = static_cast<double>(clock.NowMs() - startMs) / 1000.0;
    f.complete = window.Text(IDC_PROGRESS_TEXT) == "Complete!";
    // What the device needs: erase every block, program every page, move every
    // byte across the bus twice (write and read-back). No host pauses and no
    // per-command latency: the ratio shows what the host adds on top.
    const double blocks = static_cast<double>((imageSize + 65535) / 65536) + 1; // + the identity block
    const double pages = static_cast<double>((imageSize + 255) / 256) + 1;
    f.lowerBoundSeconds = blocks * timing.eraseBlockMs / 1000.0 + pages * timing.pageProgramUs / 1e6 +
                          2.0 * static_cast<double>(imageSize) / (timing.busBytesPerMs * 1000.0);
    f.cpuMsPerMiB = cpu * 1000.0 / (static_cast<double>(imageSize) / (1024.0 * 1024.0));

    dlg.reset();
    fs::current_path(previous);
    fs::remove_all(folder);
    return f;
}

} // namespace

int main()
{
    SilenceDiagnostics();
    std::printf("%-8s %14s %14s %8s %14s %s\n", "image", "virtual (s)", "device (s)", "ratio", "CPU ms/MiB", "result");
    for (size_t mib : {1, 4}) {
        Figures f = RunUpgrade(mib * 1024 * 1024);
        std::printf("%-8s %14.3f %14.3f %8.3f %14.2f %s\n", (std::to_string(mib) + " MiB").c_str(), f.virtualSeconds,
                    f.lowerBoundSeconds, f.virtualSeconds / f.lowerBoundSeconds, f.cpuMsPerMiB,
                    f.complete ? "Complete!" : "FAILED");
        if (!f.complete) return 1;
    }
    return 0;
}
