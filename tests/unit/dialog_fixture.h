#pragma once
// The main dialog as a user meets it: on the headless window, with the
// emulated target on its emulated device tree, on virtual time, in a working
// folder of its own that holds the demo images under Data/ (and, once a copy
// of kept bytes is written, the user's backup folder under state/).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/rodediz_dlg.h"
#include "backup_folder_files.h"
#include "device/diagnostics.h"
#include "emulator/demo_images.h"
#include "emulator/emulated_device_tree.h"
#include "emulator/emulated_target.h"
#include "platform/headless/headless_window.h"
#include "ports/registry.h"

namespace fs = std::filesystem;

inline void WriteFileBytes(const fs::path& path, const std::vector<uint8_t>& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> ReadFileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A private working folder for one test; the process's working directory
// points into it while the test runs.
class WorkingFolder {
public:
    explicit WorkingFolder(bool withDemoImages = true)
    {
        char pattern[] = "/tmp/vane-test-XXXXXX";
        char* made = mkdtemp(pattern);
        path_ = made ? made : "/tmp";
        previous_ = fs::current_path();
        fs::current_path(path_);
        if (withDemoImages) {
            WriteFileBytes(path_ / "Data" / "Vane_TX_V1030.fir", MakeDemoFirmware());
            WriteFileBytes(path_ / "Data" / "wtf.fir", MakeDemoFlashLoader());
        }
    }
    ~WorkingFolder()
    {
        std::error_code ignored;
        fs::current_path(previous_, ignored);
        fs::remove_all(path_, ignored);
    }
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
    fs::path previous_;
};

struct DialogRigOptions {
    bool demoImages = true;
    bool targetPresent = true;
    uint8_t bootState = kBootRomState;
    bool open = true;                 // open the window (starts the first monitor run)
    bool waitForFirstRun = true;
};

// One dialog with everything it needs. Members are torn down after every
// thread of the dialog has ended.
class DialogRig {
public:
    explicit DialogRig(DialogRigOptions options = {})
        : folder(options.demoImages),
          target(clock),
          tree(target),
          files((folder.Path() / "state" / "vane-upgrade" / "backup").string()),
          services{clock, target, tree, registry, files},
          dlg(std::make_unique<CRODEdizDlg>(services)),
          window(std::make_unique<HeadlessWindow>(*dlg, clock, &clock))
    {
        SilenceDiagnostics();
        target.SetBootState(options.bootState);
        if (!options.targetPresent) target.Unplug();
        target.TakeBusEvents();
        // The target's comings and goings reach the window as device notifications.
        target.SetBusListener([this](const BusEvent& e) {
            Message m;
            m.message = WM_DEVICECHANGE;
            m.wParam = e.kind == BusEvent::Arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
            window->PostMessage(m);
        });
        if (options.open) {
            window->Open();
            if (options.waitForFirstRun) WaitIdle();
        }
    }

    ~DialogRig()
    {
        WaitIdle();
        target.SetBusListener(nullptr);
        dlg->Threads().Reap();
        dlg.reset();
        window.reset();
        ResetDiagnosticSinks();
    }

    // Runs the window until every dialog thread has ended and nothing is posted.
    void WaitIdle()
    {
        window->PumpMessagesUntil([this] { return dlg->Threads().Idle(); });
        target.Present(); // deliver pending bus events
        window->ProcessPostedMessages();
        window->PumpMessagesUntil([this] { return dlg->Threads().Idle(); });
        EXPECT_FALSE(window->PumpGaveUp()) << "the dialog's threads did not end";
    }

    // Lets virtual time pass on the window (timers fire as they come due).
    void Advance(uint64_t ms)
    {
        window->AdvanceTime(ms);
        WaitIdle();
    }

    // Presses the action button as a user does, and waits for what it started.
    void PressExecute()
    {
        window->Click(IDC_EXECUTE);
        WaitIdle();
    }

    // Messages shown so far, in order.
    std::vector<std::string> MessageTexts() const
    {
        std::vector<std::string> texts;
        for (const auto& m : window->MessageBoxes()) texts.push_back(m.text);
        return texts;
    }

    // Where the copies of kept bytes go.
    fs::path BackupFolder() const { return folder.Path() / "state" / "vane-upgrade" / "backup"; }

    std::vector<uint8_t> FlashRange(uint32_t offset, size_t length) { return target.FlashRange(offset, length); }

    WorkingFolder folder;
    VirtualClock clock;
    EmulatedTarget target;
    EmulatedDeviceTree tree;
    MemoryRegistry registry;
    FilesWithBackupFolder files;
    DialogServices services;
    std::unique_ptr<CRODEdizDlg> dlg;
    std::unique_ptr<HeadlessWindow> window;
};
