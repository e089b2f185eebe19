#pragma once
// The window system on Qt: runs each dialog in a QtDialogWindow, passes the
// device's comings and goings to the running dialog as the device-change
// messages Windows broadcasts, and keeps every window (gone, but answering)
// for as long as it lives, so that a late call from a dialog's thread
// returns at once. Needs a QApplication; RunModal runs on its thread.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/dialog.h"
#include "platform/qt/qt_dialog_window.h"
#include "ports/clock.h"

class QtWindowSystem final : public IWindowSystem {
public:
    QtWindowSystem(std::string programTitle, IClock& clock, VirtualClock* virtualClock = nullptr);
    ~QtWindowSystem() override;

    bool InitCommonControls(uint32_t structureSize, uint32_t classMask) override; // nothing to load: true
    void SetRegistryKey(const std::string& company) override;                   // remembered only
    int RunModal(CDialog& dialog) override;

    // Called inside the dialog once its window is shown and OnInitDialog ran.
    std::function<void(QtDialogWindow&)> onOpen;

    // Any thread: a device arrival or removal (DBT_*) for the running dialog;
    // nothing when none runs.
    void PostDeviceChange(uintptr_t event);
    // Any thread: a message box with this text over the running dialog, once
    // it has the time (the advice when a device cannot be opened).
    void PostNotice(const std::string& text);
    bool DialogRunning() const;

private:
    const std::string title_;
    IClock& clock_;
    VirtualClock* virtualClock_;
    mutable std::mutex mutex_;
    std::string company_;
    std::vector<std::unique_ptr<QtDialogWindow>> windows_;
    QtDialogWindow* running_ = nullptr;
};
