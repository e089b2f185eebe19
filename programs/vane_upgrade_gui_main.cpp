// vane-upgrade-gui: the dialog in a window on the Linux desktop. The real
// transmitter through SG_IO, found and followed by udev; with --emulate the
// emulated target instead (demos, tests).
//
// The diagnostic lines go to $XDG_STATE_HOME/vane-upgrade/vane-upgrade-gui.log
// (started afresh on every run).
#include <sys/stat.h>

#include <QApplication>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "app/rodediz_app.h"
#include "device/diagnostics.h"
#include "emulator/emulated_device_tree.h"
#include "emulator/emulated_target.h"
#include "framework/messages.h"
#include "platform/linux/sg_io_pass_through.h"
#include "platform/linux/udev_device_tree.h"
#include "platform/qt/qt_window_system.h"
#include "ports/clock.h"
#include "ports/file_system.h"
#include "resources/resource.h"
#include "programs/vane_upgrade/bus_events.h"
#include "programs/vane_upgrade/emulation.h"
#include "programs/vane_upgrade/machine_registry.h"
#include "programs/vane_upgrade/udev_bus_events.h"
#include "programs/vane_upgrade_gui/gui_options.h"

namespace {

const char kProgramTitle[] = "RODEdiz";
const char kLogName[] = "vane-upgrade-gui.log";
constexpr uint32_t kBusPollMs = 50;

void OpenLog()
{
    const std::string folder = GuiLogFolder(std::getenv("XDG_STATE_HOME"), std::getenv("HOME"));
    if (folder.empty()) return;
    // The folder and its parents, private to the user as XDG asks.
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        mkdir(folder.substr(0, slash).c_str(), 0700);
        if (slash == std::string::npos) break;
    }
    std::FILE* raw = std::fopen((folder + "/" + kLogName).c_str(), "w");
    if (raw == nullptr) return;
    std::shared_ptr<std::FILE> log(raw, &std::fclose);
    AddDiagnosticSink([log](const std::string& text) {
        std::fwrite(text.data(), 1, text.size(), log.get());
        std::fflush(log.get());
    });
}

// The emulated target's comings and goings, and a look at its presence now
// and then (a return after re-enumeration is noticed so).
class EmulatedLink {
public:
    EmulatedLink(IClock& clock, const GuiOptions& options) : clock_(clock), target_(clock), tree_(target_), bus_(target_)
    {
        if (options.realisticTiming) target_.SetTiming(TimingModel::Realistic());
        target_.SetBootState(options.emulateFlashState ? kFlashLoaderState : kBootRomState);
        target_.SetFaults(MakeFaultPlan(options.faults));
    }
    ~EmulatedLink() { Stop(); }
    bool Load(const std::string& flashFile, std::string& error) { return LoadFlashFile(flashFile, target_, error); }
    bool Save(const std::string& flashFile, std::string& error) { return SaveFlashFile(flashFile, target_, error); }
    void Start(QtWindowSystem& windows)
    {
        bus_.Attach([&windows](uintptr_t event) { windows.PostDeviceChange(event); });
        poller_ = std::thread([this] {
            while (!stop_) {
                bus_.Poll();
                clock_.Sleep(kBusPollMs);
            }
        });
    }
    void Stop()
    {
        stop_ = true;
        if (poller_.joinable()) poller_.join();
        bus_.Detach();
    }
    IScsiPassThrough& PassThrough() { return target_; }
    IDeviceTree& Tree() { return tree_; }

private:
    IClock& clock_;
    EmulatedTarget target_;
    EmulatedDeviceTree tree_;
    EmulatedBusEvents bus_;
    std::atomic<bool> stop_{false};
    std::thread poller_;
};

int RunWindow(QtWindowSystem& windows, IClock& clock, IScsiPassThrough& port, IDeviceTree& tree)
{
    // The status lines the window shows go to the log as well: what a user
    // saw is there to read afterwards.
    windows.onOpen = [](QtDialogWindow& window) {
        window.Model().SetTextListener([](int id, const std::string& text) {
            if (id == IDC_STATUS || id == IDC_PROGRESS_TEXT) DiagPrintf("Shown: %s\n", text.c_str());
        });
    };
    DialogServices services{clock, port, tree, MachineRegistry(), PlatformFileSystem()};
    CRODEdizApp app(windows, services);
    app.InitInstance();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const ParsedGuiCommandLine parsed = ParseGuiCommandLine(argc, argv);
    if (!parsed.run) {
        std::fprintf(parsed.exitCode == 0 ? stdout : stderr, "%s\n", parsed.message.c_str());
        return parsed.exitCode;
    }
    const GuiOptions& options = parsed.options;
    OpenLog();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vane-upgrade-gui"));
    QApplication::setDesktopFileName(QStringLiteral("vane-upgrade-gui"));

    SystemClock clock;
    QtWindowSystem windows(kProgramTitle, clock);
    if (options.emulate) {
        EmulatedLink link(clock, options);
        std::string error;
        if (!options.emulateFlash.empty() && !link.Load(options.emulateFlash, error)) {
            std::fprintf(stderr, "vane-upgrade-gui: %s\n", error.c_str());
            return 2;
        }
        link.Start(windows);
        RunWindow(windows, clock, link.PassThrough(), link.Tree());
        link.Stop();
        if (!options.emulateFlash.empty() && !link.Save(options.emulateFlash, error)) {
            std::fprintf(stderr, "vane-upgrade-gui: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }

    SgIoPassThrough sg;
    UdevDeviceTree tree;
    // A node the system refuses: the advice once per node, over the window.
    std::mutex toldMutex;
    std::set<std::string> told;
    tree.SetAccessProblemListener([&](const std::string& line) {
        std::lock_guard<std::mutex> lock(toldMutex);
        if (told.insert(line).second) windows.PostNotice(line);
    });
    UdevBusEvents bus;
    bus.Attach([&windows](uintptr_t event) { windows.PostDeviceChange(event); });
    RunWindow(windows, clock, sg, tree);
    bus.Detach();
    return 0;
}
