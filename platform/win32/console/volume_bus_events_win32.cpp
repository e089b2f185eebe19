#include "platform/win32/console/volume_bus_events_win32.h"

#include <windows.h>
#include <dbt.h>

#include "device/diagnostics.h"
#include "platform/win32/volume_interface_win32.h"

namespace {

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DEVICECHANGE && (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)) {
        auto* self = reinterpret_cast<VolumeBusEvents*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        const bool volume = header != nullptr && (header->dbch_devicetype == DBT_DEVTYP_VOLUME ||
                                                  header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE);
        if (self != nullptr && volume) self->Deliver(wParam);
        return TRUE;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

void VolumeBusEvents::Attach(std::function<void(uintptr_t event)> deliver)
{
    deliver_ = std::move(deliver);
    thread_ = std::thread([this] { Listen(); });
}

void VolumeBusEvents::Detach()
{
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        if (threadId_ != 0) PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
    }
    thread_.join();
}

void VolumeBusEvents::Listen()
{
    const char className[] = "VaneUpgradeDeviceEvents";
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, className, "vane-upgrade", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    if (window == nullptr) {
        DiagPrintf("No window for device notifications: error %lu\n", GetLastError());
        return;
    }
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kVolumeInterfaceGuid;
    HDEVNOTIFY notify = RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        MSG peek;
        PeekMessageA(&peek, nullptr, 0, 0, PM_NOREMOVE); // the thread's queue exists from here on
        threadId_ = GetCurrentThreadId();
        if (stopping_) PostQuitMessage(0);
    }
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (notify != nullptr) UnregisterDeviceNotification(notify);
    DestroyWindow(window);
}
