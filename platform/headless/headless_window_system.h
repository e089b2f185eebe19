#pragma once
// The window system of the headless backend: runs each dialog on a
// HeadlessWindow and keeps the windows (destroyed, but readable) for as long
// as it lives, so that a test reads the final state after RunModal returned
// and late calls from the dialog's code never reach freed memory.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/dialog.h"
#include "platform/headless/headless_window.h"
#include "ports/clock.h"

class HeadlessWindowSystem final : public IWindowSystem {
public:
    explicit HeadlessWindowSystem(IClock& clock, VirtualClock* virtualClock = nullptr);

    bool InitCommonControls(uint32_t structureSize, uint32_t classMask) override; // records; true
    void SetRegistryKey(const std::string& company) override;
    // Creates the window, calls onCreate (queue answers there: OnInitDialog
    // may ask), Opens it, calls onOpen, pumps until EndDialog and returns its
    // result; -1 when the pump gave up first. The window is then destroyed.
    int RunModal(CDialog& dialog) override;

    std::function<void(HeadlessWindow&)> onCreate;
    std::function<void(HeadlessWindow&)> onOpen;
    void SetPumpSafetyLimit(std::chrono::milliseconds limit); // for every window; 0: none

    struct CommonControlsCall {
        uint32_t structureSize = 0;
        uint32_t classMask = 0;
    };
    std::vector<CommonControlsCall> CommonControlsCalls() const;
    std::string RegistryKey() const;
    HeadlessWindow* LastWindow() const;                  // nullptr before the first RunModal
    int ModalRuns() const;

private:
    IClock& clock_;
    VirtualClock* virtualClock_;
    mutable std::mutex mutex_;
    std::vector<CommonControlsCall> commonControls_;
    std::string registryKey_;
    std::chrono::milliseconds safetyLimit_{60000};
    std::vector<std::unique_ptr<HeadlessWindow>> windows_;
};
