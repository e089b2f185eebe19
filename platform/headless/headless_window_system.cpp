#include "platform/headless/headless_window_system.h"

HeadlessWindowSystem::HeadlessWindowSystem(IClock& clock, VirtualClock* virtualClock)
    : clock_(clock), virtualClock_(virtualClock)
{
}

bool HeadlessWindowSystem::InitCommonControls(uint32_t structureSize, uint32_t classMask)
{
    std::lock_guard<std::mutex> lock(mutex_);
    commonControls_.push_back({structureSize, classMask});
    return true;
}

void HeadlessWindowSystem::SetRegistryKey(const std::string& company)
{
    std::lock_guard<std::mutex> lock(mutex_);
    registryKey_ = company;
}

int HeadlessWindowSystem::RunModal(CDialog& dialog)
{
    HeadlessWindow* w;
    std::chrono::milliseconds limit;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        windows_.push_back(std::make_unique<HeadlessWindow>(dialog, clock_, virtualClock_));
        w = windows_.back().get();
        limit = safetyLimit_;
    }
    w->SetPumpSafetyLimit(limit);
    if (onCreate) onCreate(*w);
    w->Open();
    if (onOpen) onOpen(*w);
    w->PumpMessagesUntil([w] { return w->Ended(); });
    const int result = w->Ended() ? w->Result() : -1;
    w->MarkDestroyed();
    return result;
}

void HeadlessWindowSystem::SetPumpSafetyLimit(std::chrono::milliseconds limit)
{
    std::lock_guard<std::mutex> lock(mutex_);
    safetyLimit_ = limit;
}

std::vector<HeadlessWindowSystem::CommonControlsCall> HeadlessWindowSystem::CommonControlsCalls() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return commonControls_;
}

std::string HeadlessWindowSystem::RegistryKey() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return registryKey_;
}

HeadlessWindow* HeadlessWindowSystem::LastWindow() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return windows_.empty() ? nullptr : windows_.back().get();
}

int HeadlessWindowSystem::ModalRuns() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(windows_.size());
}
