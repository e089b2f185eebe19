#pragma once
// The main dialog on the headless window with the emulated target, for the
// fuzz targets: no test framework here, a broken promise traps and libFuzzer
// reports the input that broke it.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/rodediz_dlg.h"
#include "device/diagnostics.h"
#include "emulator/demo_images.h"
#include "emulator/emulated_device_tree.h"
#include "emulator/emulated_target.h"
#include "platform/headless/headless_window.h"
#include "ports/registry.h"
#include "unit/backup_folder_files.h"

inline void FuzzCheck(bool holds, const char* promise)
{
    if (holds) return;
    std::fprintf(stderr, "broken promise: %s\n", promise);
    __builtin_trap();
}

inline void WriteFuzzFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> ReadFuzzFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One working folder for the whole fuzzing process (the dialog works in the
// current directory), with the demo images under Data/.
inline const std::filesystem::path& FuzzFolder()
{
    static const std::filesystem::path folder = [] {
        char pattern[] = "/tmp/vane-fuzz-XXXXXX";
        const char* made = mkdtemp(pattern);
        std::filesystem::path path = made ? made : "/tmp";
        std::filesystem::current_path(path);
        WriteFuzzFile(path / "Data" / "Vane_TX_V1030.fir", MakeDemoFirmware());
        WriteFuzzFile(path / "Data" / "wtf.fir", MakeDemoFlashLoader());
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(FuzzFolder(), ignored);
        });
        return path;
    }();
    return folder;
}

class FuzzRig {
public:
    explicit FuzzRig(uint8_t bootState = kBootRomState, const std::function<void(FuzzRig&)>& beforeOpen = nullptr)
        : target(clock),
          tree(target),
          files((FuzzFolder() / "Backup").string()),
          services{clock, target, tree, registry, files},
          dlg(std::make_unique<CRODEdizDlg>(services)),
          window(std::make_unique<HeadlessWindow>(*dlg, clock, &clock))
    {
        FuzzFolder();
        SilenceDiagnostics();
        window->SetPumpSafetyLimit(std::chrono::milliseconds(15000));
        target.SetBootState(bootState);
        target.TakeBusEvents();
        target.SetBusListener([this](const BusEvent& e) {
            Message m;
            m.message = WM_DEVICECHANGE;
            m.wParam = e.kind == BusEvent::Arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
            window->PostMessage(m);
        });
        if (beforeOpen) beforeOpen(*this);
        window->Open();
        WaitIdle();
    }

    ~FuzzRig()
    {
        WaitIdle();
        target.SetBusListener(nullptr);
        dlg->Threads().Reap();
        dlg.reset();
        window.reset();
    }

    void WaitIdle()
    {
        window->PumpMessagesUntil([this] { return dlg->Threads().Idle(); });
        target.Present();
        window->ProcessPostedMessages();
        window->PumpMessagesUntil([this] { return dlg->Threads().Idle(); });
        FuzzCheck(!window->PumpGaveUp(), "the dialog's threads end");
    }

    // Execute, or Return when a failure exit left the button disabled.
    void Press()
    {
        if (!window->Click(IDC_EXECUTE)) window->PressKey(VK_RETURN);
        WaitIdle();
    }

    VirtualClock clock;
    EmulatedTarget target;
    EmulatedDeviceTree tree;
    MemoryRegistry registry;
    FilesWithBackupFolder files;
    DialogServices services;
    std::unique_ptr<CRODEdizDlg> dlg;
    std::unique_ptr<HeadlessWindow> window;
};
