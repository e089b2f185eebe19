#pragma once
// The Win32 dialog window, shared by its parts: the window and its procedures
// (dialog_window_win32.cpp), the message loop and the marshalling of other
// threads' requests (dialog_loop_win32.cpp), the subclassed edits, button
// pictures and tooltips (control_hooks_win32.cpp).
#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <set>
#include <type_traits>
#include <utility>
#include <vector>

#include "device/diagnostics.h"
#include "framework/dialog.h"
#include "resources/resource.h"
#include "platform/win32/window_system_win32.h"
#include "platform/win32/gdi_canvas_win32.h"

constexpr UINT kRunOnThreadMessage = WM_APP + 0x100; // lParam: std::function<void()>*
constexpr UINT kDeviceChangeMessage = WM_APP + 0x101; // wParam: the DBT_ event

class Win32DialogWindow;

// The innermost dialog running on this thread, or null (dialog_loop_win32.cpp).
Win32DialogWindow* InnermostRunning();
// Hands a message of this thread's queue to the dialog it is for first.
void RouteMessage(MSG& msg);

struct Win32WindowSystem::State {
    std::string title;
    std::string company;
    HINSTANCE module = GetModuleHandleA(nullptr);
    std::atomic<HWND> outermost{nullptr};
};

class Win32DialogWindow final : public IDialogWindow {
public:
    Win32DialogWindow(Win32WindowSystem& system, Win32WindowSystem::State& state, CDialog& dialog)
        : system_(system), state_(state), dialog_(dialog), threadId_(GetCurrentThreadId())
    {
    }
    ~Win32DialogWindow() override { ReleaseResources(); }

    // Creates the window (WM_INITDIALOG runs inside), shows it and runs the
    // loop until EndDialog. Returns false when the window cannot be created.
    bool Run(HWND owner);
    int Result() const { return result_; }
    HWND Handle() const { return hwnd_.load(); }
    // A message of this thread's queue: true when the dialog took it.
    bool PreTranslate(MSG& msg);
    bool Owns(HWND window) const
    {
        HWND self = hwnd_.load();
        return self != nullptr && window != nullptr && (window == self || IsChild(self, window));
    }

    // --- IDialogWindow ---
    void SetWindowText(int id, const std::string& text) override
    {
        OnThread([&] { SetWindowTextA(Item(id), text.c_str()); });
    }
    std::string GetWindowText(int id) override
    {
        return OnThread([&] {
            HWND item = Item(id);
            const int length = GetWindowTextLengthA(item);
            if (item == nullptr || length <= 0) return std::string();
            std::vector<char> buffer(static_cast<size_t>(length) + 1);
            const int got = GetWindowTextA(item, buffer.data(), length + 1);
            return std::string(buffer.data(), got > 0 ? static_cast<size_t>(got) : 0);
        });
    }
    void EnableWindow(int id, bool enable) override { OnThread([&] { ::EnableWindow(Item(id), enable); }); }
    bool IsWindowEnabled(int id) override { return OnThread([&] { return ::IsWindowEnabled(Item(id)) != FALSE; }); }
    void ShowWindow(int id, bool show) override { OnThread([&] { ::ShowWindow(Item(id), show ? SW_SHOW : SW_HIDE); }); }
    bool IsWindowVisible(int id) override { return OnThread([&] { return ::IsWindowVisible(Item(id)) != FALSE; }); }
    void SetRedraw(int id, bool redraw) override { OnThread([&] { SetControlRedraw(id, redraw); }); }
    void SetFocus(int id) override { OnThread([&] { ::SetFocus(Item(id)); }); }
    Rect GetWindowRect(int id) override
    {
        return OnThread([&] {
            RECT r{};
            ::GetWindowRect(Item(id), &r);
            return FromRect(r);
        });
    }

    void SetCheck(int id, bool checked) override
    {
        OnThread([&] { SendMessageA(Item(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0); });
    }
    bool GetCheck(int id) override
    {
        return OnThread([&] { return SendMessageA(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; });
    }
    void SetButtonBitmap(int id, int bitmapResource) override;

    void LimitText(int id, int characters) override
    {
        OnThread([&] { SendMessageA(Item(id), EM_LIMITTEXT, static_cast<WPARAM>(characters), 0); });
    }

    int ComboAddString(int id, const std::string& text) override
    {
        return OnThread([&] {
            return static_cast<int>(SendMessageA(Item(id), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
        });
    }
    void ComboSetCurSel(int id, int row) override
    {
        OnThread([&] { SendMessageA(Item(id), CB_SETCURSEL, static_cast<WPARAM>(row), 0); });
    }
    int ComboGetCurSel(int id) override
    {
        return OnThread([&] { return static_cast<int>(SendMessageA(Item(id), CB_GETCURSEL, 0, 0)); });
    }
    std::string ComboGetRowText(int id, int row) override
    {
        return OnThread([&] {
            HWND item = Item(id);
            const LRESULT length = SendMessageA(item, CB_GETLBTEXTLEN, static_cast<WPARAM>(row), 0);
            if (item == nullptr || length == CB_ERR || length <= 0) return std::string();
            std::vector<char> buffer(static_cast<size_t>(length) + 1);
            const LRESULT got = SendMessageA(item, CB_GETLBTEXT, static_cast<WPARAM>(row),
                                             reinterpret_cast<LPARAM>(buffer.data()));
            return got == CB_ERR ? std::string() : std::string(buffer.data(), static_cast<size_t>(got));
        });
    }

    void ProgressSetRange(int id, int low, int high) override
    {
        OnThread([&] { SendMessageA(Item(id), PBM_SETRANGE, 0, MAKELPARAM(low, high)); });
    }
    void ProgressSetPos(int id, int position) override
    {
        OnThread([&] { SendMessageA(Item(id), PBM_SETPOS, static_cast<WPARAM>(position), 0); });
    }
    void ProgressSetBkColour(int id, Colour c) override
    {
        OnThread([&] { SendMessageA(Item(id), PBM_SETBKCOLOR, 0, static_cast<LPARAM>(c)); });
    }
    void ProgressSetBarColour(int id, Colour c) override
    {
        OnThread([&] { SendMessageA(Item(id), PBM_SETBARCOLOR, 0, static_cast<LPARAM>(c)); });
    }

    void ToolTipCreate() override;
    void ToolTipActivate(bool active) override
    {
        OnThread([&] { SendMessageA(tooltip_, TTM_ACTIVATE, active ? TRUE : FALSE, 0); });
    }
    void ToolTipAddTool(int id, const std::string& text) override { ToolRequest(TTM_ADDTOOLA, id, text); }
    void ToolTipUpdateTipText(int id, const std::string& text) override { ToolRequest(TTM_UPDATETIPTEXTA, id, text); }
    void ToolTipSetMaxTipWidth(int width) override
    {
        OnThread([&] { SendMessageA(tooltip_, TTM_SETMAXTIPWIDTH, 0, static_cast<LPARAM>(width)); });
    }

    void SetTimer(int timerId, unsigned periodMs) override
    {
        // Timers belong to the window's thread: SetTimer from another one fails.
        OnThread([&] { ::SetTimer(Handle(), static_cast<UINT_PTR>(timerId), periodMs, nullptr); });
    }
    void KillTimer(int timerId) override { OnThread([&] { ::KillTimer(Handle(), static_cast<UINT_PTR>(timerId)); }); }
    int MessageBox(const std::string& text, const std::string& caption, unsigned type) override
    {
        return OnThread([&] {
            const std::string& title = caption.empty() ? state_.title : caption;
            return MessageBoxA(Handle(), text.c_str(), title.c_str(), type);
        });
    }
    bool RunFileDialog(const FileDialogSpec& spec, FileDialogResult& result) override;
    void DragAcceptFiles(bool accept) override { OnThread([&] { ::DragAcceptFiles(Handle(), accept); }); }
    void AppendSystemMenu(int commandId, const std::string& text) override
    {
        OnThread([&] {
            HMENU menu = GetSystemMenu(Handle(), FALSE);
            if (menu == nullptr) return;
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(menu, MF_STRING, static_cast<UINT_PTR>(commandId), text.c_str());
        });
    }
    bool HasSystemMenu() override { return OnThread([&] { return GetSystemMenu(Handle(), FALSE) != nullptr; }); }
    void SetIcon(int iconResource) override
    {
        OnThread([&] {
            HICON icon = LoadIconA(state_.module, MAKEINTRESOURCEA(iconResource));
            if (icon == nullptr) return;
            SendMessageA(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
            SendMessageA(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
        });
    }
    void ShowAboutBox() override
    {
        OnThread([&] {
            CDialog about(IDD_ABOUTBOX);
            system_.RunModal(about);
        });
    }
    Point GetCursorPos() override
    {
        POINT p{};
        ::GetCursorPos(&p);
        return {p.x, p.y};
    }
    std::string LoadString(int stringResource) override
    {
        char buffer[1024];
        const int n = LoadStringA(state_.module, static_cast<UINT>(stringResource), buffer, sizeof buffer);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
    }
    void EndDialog(int result) override
    {
        OnThread([&] {
            result_ = result;
            ended_ = true;
            // Wakes the loop, which may be waiting for a message.
            PostMessageA(Handle(), WM_NULL, 0, 0);
        });
    }
    intptr_t DefaultProcessing(uint32_t message, uintptr_t wParam, intptr_t lParam) override
    {
        return OnThread([&] {
            return static_cast<intptr_t>(CallWindowProcA(originalProc_, Handle(), message, wParam, lParam));
        });
    }
    void PumpMessagesUntil(const std::function<bool()>& done) override;
    void RunOnWindowThread(const std::function<void()>& fn) override { OnThread([&] { fn(); }); }

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK EditProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    BOOL InitDialog(HWND hwnd);
    BOOL AttachAndInitialise(HWND hwnd);
    LRESULT Process(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT ColourControl(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT DropFiles(WPARAM wParam);
    void SubclassBoundEdits();
    void SetControlRedraw(int id, bool redraw);
    void ToolRequest(UINT message, int id, const std::string& text);
    HBRUSH BrushOf(const CBrush& brush);
    void ReleaseResources();
    int ControlIdOf(HWND window) const;
    HWND Item(int id) const { return id == kNoControl ? Handle() : GetDlgItem(Handle(), id); }

    // Runs fn on the window's thread and returns its result; from another
    // thread the request is sent (synchronously) to the window. Without a
    // window there is nothing to do and the result is a default value.
    template <typename Fn>
    auto OnThread(Fn fn) -> decltype(fn())
    {
        using R = decltype(fn());
        if (GetCurrentThreadId() == threadId_) return fn();
        HWND window = Handle();
        if constexpr (std::is_void_v<R>) {
            std::function<void()> work = fn;
            if (window != nullptr) SendMessageA(window, kRunOnThreadMessage, 0, reinterpret_cast<LPARAM>(&work));
        } else {
            R value{};
            std::function<void()> work = [&] { value = fn(); };
            if (window != nullptr) SendMessageA(window, kRunOnThreadMessage, 0, reinterpret_cast<LPARAM>(&work));
            return value;
        }
    }

    Win32WindowSystem& system_;
    Win32WindowSystem::State& state_;
    CDialog& dialog_;
    const DWORD threadId_;
    std::atomic<HWND> hwnd_{nullptr};
    WNDPROC originalProc_ = nullptr;
    HWND tooltip_ = nullptr;
    bool ended_ = false;
    int result_ = -1;
    struct CachedBrush {
        Colour colour;
        HBRUSH brush;
    };
    std::map<const CBrush*, CachedBrush> brushes_;
    std::map<int, HBITMAP> buttonBitmaps_;
    std::set<int> hiddenByRedraw_; // controls whose visible bit SetRedraw cleared
};
