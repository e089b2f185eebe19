// RODEdiz on Windows. Built twice from this file: RODEdiz.exe talks to the
// real device (SCSI pass-through and the machine's device tree), and
// RODEdiz-emulated.exe to the emulated target (VANE_LINK_EMULATED). Nothing
// else differs between the two.
//
// Diagnostic lines go to standard output and to RODEdiz.log beside the program.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "app/rodediz_app.h"
#include "device/diagnostics.h"
#include "framework/messages.h"
#include "ports/clock.h"
#include "ports/file_system.h"
#include "platform/win32/registry_win32.h"
#include "platform/win32/system_libraries_win32.h"
#include "platform/win32/window_system_win32.h"

#if defined(VANE_LINK_EMULATED)
#include "emulator/emulated_device_tree.h"
#include "emulator/emulated_target.h"
#else
#include "platform/win32/device_tree_win32.h"
#include "platform/win32/scsi_pass_through_win32.h"
#endif

namespace {

const char kProgramTitle[] = "RODEdiz";
const char kLogName[] = "RODEdiz.log";

#if defined(VANE_LINK_EMULATED)
// The emulated target in place of the device: its comings and goings reach the
// window as the system's device-change notifications would. The target
// evaluates its presence against the clock, so it is asked every 50 ms.
//
// Two settings of the emulated machine, for tests, from the environment:
//   VANE_EMULATED_PLUG_AT_MS        the target is plugged in this long after
//                                   start (unset: it is there from the start)
//   VANE_EMULATED_LETTER_DELAY_MS   its volume gets its drive letter this long
//                                   after it arrives on the bus (a slow mount)
class DeviceLink {
public:
    DeviceLink(IClock& clock, Win32WindowSystem& windows)
        : clock_(clock), windows_(windows), target_(clock), tree_(target_, TreeOptions())
    {
        target_.SetTiming(TimingModel::Realistic());
        plugAtMs_ = SettingMs("VANE_EMULATED_PLUG_AT_MS");
        if (plugAtMs_ != kUnset) {
            target_.Unplug();
            target_.TakeBusEvents();
            plugAtMs_ += clock_.NowMs();
        }
        relay_ = std::thread([this] { RelayBusEvents(); });
    }
    ~DeviceLink()
    {
        stop_ = true;
        relay_.join();
    }
    IScsiPassThrough& PassThrough() { return target_; }
    IDeviceTree& Tree() { return tree_; }

private:
    static constexpr uint32_t kBusPollMs = 50;
    static constexpr uint64_t kUnset = UINT64_MAX;
    // A USB stick shows the USB device, the disk and the volume as interfaces.
    static constexpr int kInterfacesPerTarget = 3;

    static uint64_t SettingMs(const char* name)
    {
        const char* text = std::getenv(name);
        if (text == nullptr || *text == '\0') return kUnset;
        return std::strtoull(text, nullptr, 10);
    }
    static EmulatedTreeOptions TreeOptions()
    {
        EmulatedTreeOptions options;
        const uint64_t delay = SettingMs("VANE_EMULATED_LETTER_DELAY_MS");
        if (delay != kUnset) options.letterDelayMs = static_cast<uint32_t>(delay);
        return options;
    }

    void RelayBusEvents()
    {
        bool mounted = tree_.TargetLetterMounted();
        while (!stop_) {
            if (plugAtMs_ != kUnset && clock_.NowMs() >= plugAtMs_) {
                plugAtMs_ = kUnset;
                target_.Plug();
            }
            // The interfaces come and go with the target on the bus ...
            for (const BusEvent& e : target_.TakeBusEvents()) {
                const uintptr_t event = e.kind == BusEvent::Arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
                for (int i = 0; i < kInterfacesPerTarget; ++i)
                    windows_.PostDeviceChange(event, Win32WindowSystem::DeviceNotice::Interface);
            }
            // ... the volume's broadcast with its drive letter.
            const bool mountedNow = tree_.TargetLetterMounted();
            if (mountedNow != mounted)
                windows_.PostDeviceChange(mountedNow ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                                          Win32WindowSystem::DeviceNotice::VolumeBroadcast);
            mounted = mountedNow;
            clock_.Sleep(kBusPollMs);
        }
    }

    IClock& clock_;
    Win32WindowSystem& windows_;
    EmulatedTarget target_;
    EmulatedDeviceTree tree_;
    uint64_t plugAtMs_ = kUnset; // only the relay thread reads it once started
    std::atomic<bool> stop_{false};
    std::thread relay_;
};
#else
// The machine's own device: the system announces arrivals and removals itself.
class DeviceLink {
public:
    DeviceLink(IClock&, Win32WindowSystem&) {}
    IScsiPassThrough& PassThrough() { return passThrough_; }
    IDeviceTree& Tree() { return tree_; }

private:
    Win32PassThrough passThrough_;
    Win32DeviceTree tree_;
};
#endif

// Adds the log file beside the program as a second destination of the
// diagnostic lines (standard output stays the first).
void OpenLogBesideProgram(IFileSystem& files)
{
    std::string path = files.ProgramPath();
    const size_t slash = path.find_last_of("\\/");
    path = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + kLogName;
    std::FILE* raw = std::fopen(path.c_str(), "w");
    if (raw == nullptr) return;
    std::shared_ptr<std::FILE> log(raw, &std::fclose);
    AddDiagnosticSink([log](const std::string& text) {
        std::fwrite(text.data(), 1, text.size(), log.get());
        std::fflush(log.get());
    });
}

} // namespace

int main()
{
    RestrictLibrarySearchToSystem();
    std::string missing;
    if (!LoadSystemLibrary(SystemLibrary::CommonControls, missing)) {
        ShowMissingSystemLibrary(kProgramTitle, missing);
        return 1;
    }

    IFileSystem& files = PlatformFileSystem();
    OpenLogBesideProgram(files);

    SystemClock clock;
    Win32Registry registry;
    Win32WindowSystem windows(kProgramTitle);
    DeviceLink link(clock, windows);

    DialogServices services{clock, link.PassThrough(), link.Tree(), registry, files};
    CRODEdizApp app(windows, services);
    app.InitInstance();
    return 0;
}
