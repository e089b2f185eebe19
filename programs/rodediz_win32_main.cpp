// RODEdiz on Windows. Built twice from this file: RODEdiz.exe talks to the
// real device (SCSI pass-through and the machine's device tree), and
// RODEdiz-emulated.exe to the emulated target (VANE_LINK_EMULATED). Nothing
// else differs between the two.
//
// Diagnostic lines go to standard output and to RODEdiz.log beside the program.
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "app/rodediz_app.h"
#include "device/diagnostics.h"
#include "framework/messages.h"
#include "platform/portable/clock.h"
#include "platform/portable/file_system.h"
#include "platform/win32/registry_win32.h"
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
// The emulated target in place of the device: its bus events reach the window
// as the system's device-change notifications would. The target evaluates its
// presence against the clock, so it is asked every 50 ms.
class DeviceLink {
public:
    DeviceLink(IClock& clock, Win32WindowSystem& windows)
        : clock_(clock), windows_(windows), target_(clock), tree_(target_)
    {
        target_.SetTiming(TimingModel::Realistic());
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
    void RelayBusEvents()
    {
        while (!stop_) {
            for (const BusEvent& e : target_.TakeBusEvents())
                windows_.PostDeviceChange(e.kind == BusEvent::Arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE);
            clock_.Sleep(kBusPollMs);
        }
    }

    IClock& clock_;
    Win32WindowSystem& windows_;
    EmulatedTarget target_;
    EmulatedDeviceTree tree_;
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
