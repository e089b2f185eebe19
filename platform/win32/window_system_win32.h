#pragma once
// The Win32 window system: dialogs built from the program's dialog templates,
// each run modally by a message loop of this layer, so that every queued
// message reaches the dialog's PreTranslateMessage before the system's dialog
// navigation sees it.
#include <memory>
#include <string>

#include "framework/dialog.h"

class Win32WindowSystem final : public IWindowSystem {
public:
    // programTitle captions message boxes that name no caption of their own.
    explicit Win32WindowSystem(std::string programTitle);
    ~Win32WindowSystem() override;
    Win32WindowSystem(const Win32WindowSystem&) = delete;
    Win32WindowSystem& operator=(const Win32WindowSystem&) = delete;

    bool InitCommonControls(uint32_t structureSize, uint32_t classMask) override;
    void SetRegistryKey(const std::string& company) override;
    // Returns the EndDialog result, or -1 when the window cannot be created.
    int RunModal(CDialog& dialog) override;

    // What announces a device change on Windows: a device interface's notice
    // reaches only a window that registered for that interface class; a
    // volume's arrival or removal (its drive letter coming or going) is
    // broadcast to every top-level window.
    enum class DeviceNotice { Interface, VolumeBroadcast };
    // Hands a device-change event (DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE)
    // to the outermost running dialog as WM_DEVICECHANGE, posted, from any
    // thread, as the system would deliver it: the dialog registers for no
    // interface class, so only volume broadcasts reach it. Dropped when no
    // dialog runs.
    void PostDeviceChange(uintptr_t event, DeviceNotice notice);
    // Whether the outermost dialog's window exists now.
    bool DialogRunning() const;

    const std::string& ProgramTitle() const;
    const std::string& RegistryCompany() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};
