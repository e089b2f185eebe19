// The dialog's message loop on Win32, and the way other threads' requests
// reach the window: they are sent to the window's thread as a private message
// carrying the work (Win32DialogWindow::OnThread), and return when it is
// done. Device changes that the program itself announces arrive as another
// private message.
#include "platform/win32/dialog_window_win32.h"

namespace {

constexpr DWORD kPumpWaitMs = 10; // longest sleep of a pump waiting for done()

// The dialogs running on this thread, outermost first. A plain array: a
// thread_local with a destructor is run by MinGW's runtime after the
// thread's storage is already freed. Nesting goes two deep (the about box
// over the main dialog); a deeper dialog still runs, only without first
// look at its messages.
constexpr size_t kMaxNestedDialogs = 16;
thread_local Win32DialogWindow* t_running[kMaxNestedDialogs];
thread_local size_t t_runningCount;

bool IsMouseMessage(UINT message) { return message >= WM_MOUSEFIRST && message <= WM_MOUSELAST; }

} // namespace

Win32DialogWindow* InnermostRunning() { return t_runningCount == 0 ? nullptr : t_running[t_runningCount - 1]; }

bool Win32DialogWindow::Run(HWND owner)
{
    HWND hwnd = CreateDialogParamA(state_.module, MAKEINTRESOURCEA(dialog_.TemplateId()), owner, DialogProc,
                                   reinterpret_cast<LPARAM>(this));
    if (hwnd == nullptr) {
        DiagPrintf("Dialog template %d cannot be created (error %lu)\n", dialog_.TemplateId(),
                   static_cast<unsigned long>(GetLastError()));
        dialog_.Detach();
        return false;
    }
    const bool listed = t_runningCount < kMaxNestedDialogs;
    if (listed) t_running[t_runningCount++] = this;
    if (owner != nullptr) {
        ::EnableWindow(owner, FALSE);
    } else {
        // The window registers for no device-interface class: it gets the
        // volume arrivals and removals that the system broadcasts to every
        // top-level window once a volume has its drive letter. (Interface
        // notices come earlier, before the letter, and several per plug-in:
        // a monitor run started from one would search too soon and hold the
        // busy flag when the volume's own arrival comes.)
        state_.outermost = hwnd;
    }
    if (!ended_) {
        ::ShowWindow(hwnd, SW_SHOW);
        UpdateWindow(hwnd);
    }

    MSG msg;
    while (!ended_) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == -1) break;
        if (got == 0) {
            // WM_QUIT ends every loop: pass it on to the one outside.
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        RouteMessage(msg);
    }

    if (owner != nullptr) {
        // Enabled before this window goes, so that the owner gets the activation.
        ::EnableWindow(owner, TRUE);
        SetActiveWindow(owner);
    } else {
        state_.outermost = nullptr;
    }
    if (listed) --t_runningCount;
    DestroyWindow(hwnd);
    hwnd_ = nullptr;
    dialog_.Detach();
    ReleaseResources();
    return true;
}

void RouteMessage(MSG& msg)
{
    // The innermost running dialog that the message is for looks at it first.
    for (size_t i = t_runningCount; i-- > 0;) {
        if (t_running[i]->Owns(msg.hwnd)) {
            if (t_running[i]->PreTranslate(msg)) return;
            break;
        }
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
}

bool Win32DialogWindow::PreTranslate(MSG& msg)
{
    // Tooltips learn of the mouse from here; their tools are not subclassed.
    if (tooltip_ != nullptr && IsMouseMessage(msg.message))
        SendMessageA(tooltip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
    Message m;
    m.message = msg.message;
    m.wParam = msg.wParam;
    m.lParam = msg.lParam;
    m.controlId = ControlIdOf(msg.hwnd);
    if (dialog_.PreTranslateMessage(m)) return true;
    return IsDialogMessageA(Handle(), &msg) != FALSE;
}

void Win32DialogWindow::PumpMessagesUntil(const std::function<bool()>& done)
{
    if (GetCurrentThreadId() != threadId_) {
        // Another thread cannot run this window's messages: it only waits.
        while (!done()) ::Sleep(kPumpWaitMs);
        return;
    }
    MSG msg;
    while (!done()) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                break;
            }
            RouteMessage(msg);
            if (done()) return;
        }
        // The threads waited for post nothing: look at done() again now and then.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kPumpWaitMs, QS_ALLINPUT);
    }
}
