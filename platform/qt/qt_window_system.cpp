#include "platform/qt/qt_window_system.h"

QtWindowSystem::QtWindowSystem(std::string programTitle, IClock& clock, VirtualClock* virtualClock)
    : title_(std::move(programTitle)), clock_(clock), virtualClock_(virtualClock)
{
}

QtWindowSystem::~QtWindowSystem() = default;

bool QtWindowSystem::InitCommonControls(uint32_t, uint32_t) { return true; }

void QtWindowSystem::SetRegistryKey(const std::string& company)
{
    std::lock_guard<std::mutex> lock(mutex_);
    company_ = company;
}

int QtWindowSystem::RunModal(CDialog& dialog)
{
    QtDialogWindow* window;
    QtDialogWindow* outer;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        windows_.push_back(std::make_unique<QtDialogWindow>(dialog, clock_, virtualClock_, title_));
        window = windows_.back().get();
        outer = running_;
        running_ = window;
    }
    const int result = window->Run(onOpen);
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = outer;
    return result;
}

void QtWindowSystem::PostDeviceChange(uintptr_t event)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_ == nullptr) return;
    Message m;
    m.message = WM_DEVICECHANGE;
    m.wParam = event;
    running_->PostMessage(m);
}

void QtWindowSystem::PostNotice(const std::string& text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_ == nullptr) return;
    QtDialogWindow* window = running_;
    window->Model().PostTask([window, text] { window->MessageBox(text, "", MB_OK | MB_ICONEXCLAMATION); });
}

bool QtWindowSystem::DialogRunning() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return running_ != nullptr;
}
