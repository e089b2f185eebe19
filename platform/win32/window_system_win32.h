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

    // Hands a device-change event (DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE)
    // to the outermost running dialog as WM_DEVICECHANGE, posted, from any
    // thread. Dropped when no dialog runs.
    void PostDeviceChange(uintptr_t event);
    // Whether the outermost dialog's window exists now.
    bool DialogRunning() const;

    const std::string& ProgramTitle() const;
    const std::string& RegistryCompany() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};
