// The window layer on Win32: a real dialog window from the program's dialog
// template, driven by a message loop of this layer.
//
// The dialog window is subclassed after its creation, so that the dialog's
// WindowProc sees its messages first and "default processing" is a call of
// the system's own dialog window procedure (which in turn asks our dialog
// procedure, which declines everything but WM_INITDIALOG).
//
// Threads: requests from other threads are sent to the window's thread as a
// private message carrying the work, and return when it is done. Device
// changes that the program itself announces arrive as another private message.
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
#include "platform/win32/standard_dialogs_win32.h"
#include "platform/win32/system_libraries_win32.h"

namespace {

constexpr UINT kRunOnThreadMessage = WM_APP + 0x100; // lParam: std::function<void()>*
constexpr UINT kDeviceChangeMessage = WM_APP + 0x101; // wParam: the DBT_ event
constexpr DWORD kPumpWaitMs = 10;                   // longest sleep of a pump waiting for done()
const char kEditWindowProp[] = "VaneDialogWindow";
const char kEditProcProp[] = "VaneEditProc";

class Win32DialogWindow;

// The dialogs running on this thread, outermost first. A plain array: a
// thread_local with a destructor is run by MinGW's runtime after the
// thread's storage is already freed. Nesting goes two deep (the about box
// over the main dialog); a deeper dialog still runs, only without first
// look at its messages.
constexpr size_t kMaxNestedDialogs = 16;
thread_local Win32DialogWindow* t_running[kMaxNestedDialogs];
thread_local size_t t_runningCount;

Win32DialogWindow* InnermostRunning() { return t_runningCount == 0 ? nullptr : t_running[t_runningCount - 1]; }

bool IsMouseMessage(UINT message) { return message >= WM_MOUSEFIRST && message <= WM_MOUSELAST; }
void RouteMessage(MSG& msg);

} // namespace

struct Win32WindowSystem::State {
    std::string title;
    std::string company;
    HINSTANCE module = GetModuleHandleA(nullptr);
    std::atomic<HWND> outermost{nullptr};
};

namespace {

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

// --- creation and the loop ---

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

int Win32DialogWindow::ControlIdOf(HWND window) const
{
    HWND self = Handle();
    if (window == nullptr || window == self) return kNoControl;
    // A part of a control (the edit inside a combo box) stands for the control.
    HWND child = window;
    while (child != nullptr && GetAncestor(child, GA_PARENT) != self) child = GetAncestor(child, GA_PARENT);
    if (child == nullptr) return kNoControl;
    const int id = GetDlgCtrlID(child);
    return id == 0xFFFF ? -1 : id;
}

// --- window procedures ---

INT_PTR CALLBACK Win32DialogWindow::DialogProc(HWND hwnd, UINT message, WPARAM, LPARAM lParam)
{
    if (message != WM_INITDIALOG) return FALSE; // everything else: the system's default
    return reinterpret_cast<Win32DialogWindow*>(lParam)->InitDialog(hwnd);
}

BOOL Win32DialogWindow::InitDialog(HWND hwnd)
{
    RECT before{};
    ::GetWindowRect(hwnd, &before);
    const BOOL setFocus = AttachAndInitialise(hwnd);
    RECT after{};
    ::GetWindowRect(hwnd, &after);
    if (EqualRect(&before, &after)) CentreWindow(hwnd);
    return setFocus;
}

BOOL Win32DialogWindow::AttachAndInitialise(HWND hwnd)
{
    hwnd_ = hwnd;
    SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(this));
    originalProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Win32DialogWindow::SubclassProc)));
    dialog_.Attach(this);
    const bool setFocus = dialog_.OnInitDialog();
    SubclassBoundEdits();
    return setFocus ? TRUE : FALSE;
}

LRESULT CALLBACK Win32DialogWindow::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<Win32DialogWindow*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    return self->Process(message, wParam, lParam);
}

LRESULT Win32DialogWindow::Process(UINT message, WPARAM wParam, LPARAM lParam)
{
    auto toDialog = [&](UINT code, WPARAM w, LPARAM l) {
        Message m;
        m.message = code;
        m.wParam = w;
        m.lParam = l;
        return static_cast<LRESULT>(dialog_.WindowProc(m));
    };
    switch (message) {
    case kRunOnThreadMessage:
        (*reinterpret_cast<std::function<void()>*>(lParam))();
        return 0;
    case kDeviceChangeMessage:
        return toDialog(WM_DEVICECHANGE, wParam, 0);
    case WM_COMMAND:
    case WM_TIMER:
    case WM_SYSCOMMAND:
    case WM_DEVICECHANGE:
    case WM_LBUTTONDOWN:
    case WM_SETFOCUS:
        return toDialog(message, wParam, lParam);
    case WM_DROPFILES:
        return DropFiles(wParam);
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
        return ColourControl(message, wParam, lParam);
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(Handle(), &ps);
        RECT client{};
        GetClientRect(Handle(), &client);
        GdiCanvas canvas(dc, state_.module);
        dialog_.OnPaint(canvas, FromRect(client));
        EndPaint(Handle(), &ps);
        return 0;
    }
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        DrawItemInfo info;
        info.item = FromRect(item->rcItem);
        info.state = item->itemState;
        GdiCanvas canvas(item->hDC, state_.module);
        dialog_.DrawItem(static_cast<int>(item->CtlID), info, canvas);
        return TRUE;
    }
    default:
        return CallWindowProcA(originalProc_, Handle(), message, wParam, lParam);
    }
}

LRESULT Win32DialogWindow::DropFiles(WPARAM wParam)
{
    HDROP drop = reinterpret_cast<HDROP>(wParam);
    std::vector<std::string> files;
    const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileA(drop, i, nullptr, 0);
        std::vector<char> name(length + 1);
        DragQueryFileA(drop, i, name.data(), length + 1);
        files.emplace_back(name.data());
    }
    Message m;
    m.message = WM_DROPFILES;
    m.wParam = wParam;
    m.dropped = &files;
    dialog_.WindowProc(m);
    DragFinish(drop);
    return 0;
}

LRESULT Win32DialogWindow::ColourControl(UINT message, WPARAM wParam, LPARAM lParam)
{
    // The system's colouring first; the dialog's choices are applied over it.
    const LRESULT fallback = CallWindowProcA(originalProc_, Handle(), message, wParam, lParam);
    const int id = message == WM_CTLCOLORDLG ? kNoControl : ControlIdOf(reinterpret_cast<HWND>(lParam));
    const CtlColorResult colours = dialog_.OnCtlColor(id);
    HDC dc = reinterpret_cast<HDC>(wParam);
    if (colours.setTextColour) SetTextColor(dc, colours.textColour);
    if (colours.setBkColour) SetBkColor(dc, colours.bkColour);
    if (colours.bkMode == CtlColorResult::BkMode::Transparent) SetBkMode(dc, TRANSPARENT);
    if (colours.bkMode == CtlColorResult::BkMode::Opaque) SetBkMode(dc, OPAQUE);
    if (colours.brush != nullptr && colours.brush->created) {
        if (HBRUSH brush = BrushOf(*colours.brush)) return reinterpret_cast<LRESULT>(brush);
    }
    return fallback;
}

HBRUSH Win32DialogWindow::BrushOf(const CBrush& brush)
{
    // One system brush per dialog brush, made again only when its colour changes.
    auto it = brushes_.find(&brush);
    if (it != brushes_.end() && it->second.colour == brush.colour) return it->second.brush;
    if (it != brushes_.end()) {
        DeleteObject(it->second.brush);
        brushes_.erase(it);
    }
    HBRUSH made = CreateSolidBrush(brush.colour);
    if (made != nullptr) brushes_[&brush] = {brush.colour, made};
    return made;
}

// --- redrawing switched off: the control is not drawn and behaves as hidden ---

void Win32DialogWindow::SetControlRedraw(int id, bool redraw)
{
    HWND item = Item(id);
    if (item == nullptr) return;
    SendMessageA(item, WM_SETREDRAW, redraw ? TRUE : FALSE, 0);
    // The system's default handling clears the visible bit while redrawing is
    // off (and sets it again after), so that the control is neither painted,
    // clicked nor tabbed to. Some controls handle the message themselves and
    // keep the bit (Wine's edit does, and then paints over the dialog): the
    // same is done for them here.
    const LONG_PTR style = GetWindowLongPtrA(item, GWL_STYLE);
    if (!redraw && (style & WS_VISIBLE) != 0) {
        RECT area{};
        ::GetWindowRect(item, &area);
        MapWindowPoints(nullptr, Handle(), reinterpret_cast<POINT*>(&area), 2);
        SetWindowLongPtrA(item, GWL_STYLE, style & ~static_cast<LONG_PTR>(WS_VISIBLE));
        hiddenByRedraw_.insert(id);
        // What it drew already goes with the next paint of the dialog.
        InvalidateRect(Handle(), &area, TRUE);
    } else if (redraw && hiddenByRedraw_.erase(id) > 0) {
        SetWindowLongPtrA(item, GWL_STYLE, style | WS_VISIBLE);
        InvalidateRect(item, nullptr, TRUE);
    }
}

// --- bound edits: typed characters pass the control member first ---

void Win32DialogWindow::SubclassBoundEdits()
{
    for (HWND child = GetWindow(Handle(), GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        const int id = GetDlgCtrlID(child);
        if (dynamic_cast<CEdit*>(dialog_.BoundControl(id)) == nullptr) continue;
        if (GetPropA(child, kEditProcProp) != nullptr) continue;
        SetPropA(child, kEditWindowProp, this);
        WNDPROC old = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(child, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Win32DialogWindow::EditProc)));
        SetPropA(child, kEditProcProp, reinterpret_cast<HANDLE>(old));
    }
}

LRESULT CALLBACK Win32DialogWindow::EditProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = static_cast<Win32DialogWindow*>(GetPropA(hwnd, kEditWindowProp));
    auto old = reinterpret_cast<WNDPROC>(GetPropA(hwnd, kEditProcProp));
    if (message == WM_CHAR && self != nullptr &&
        !self->dialog_.FilterChar(GetDlgCtrlID(hwnd), static_cast<unsigned>(wParam)))
        return 0;
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
        RemovePropA(hwnd, kEditWindowProp);
        RemovePropA(hwnd, kEditProcProp);
    }
    return CallWindowProcA(old, hwnd, message, wParam, lParam);
}

// --- pictures, tooltips, file dialogs ---

void Win32DialogWindow::SetButtonBitmap(int id, int bitmapResource)
{
    OnThread([&] {
        HBITMAP bitmap = static_cast<HBITMAP>(
            LoadImageA(state_.module, MAKEINTRESOURCEA(bitmapResource), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
        if (bitmap == nullptr) return;
        SendMessageA(Item(id), BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
        // Kept while the dialog lives; a replaced picture goes at once.
        auto it = buttonBitmaps_.find(id);
        if (it != buttonBitmaps_.end()) DeleteObject(it->second);
        buttonBitmaps_[id] = bitmap;
    });
}

void Win32DialogWindow::ToolTipCreate()
{
    OnThread([&] {
        if (tooltip_ != nullptr) return;
        tooltip_ = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, Handle(), nullptr, state_.module, nullptr);
    });
}

void Win32DialogWindow::ToolRequest(UINT message, int id, const std::string& text)
{
    OnThread([&] {
        if (tooltip_ == nullptr) return;
        HWND control = Item(id);
        if (control == nullptr) return;
        // The version 5 layout of the structure: the classic common controls.
        TTTOOLINFOA tool{};
        tool.cbSize = TTTOOLINFOA_V2_SIZE;
        tool.uFlags = TTF_IDISHWND;
        tool.hwnd = Handle();
        tool.uId = reinterpret_cast<UINT_PTR>(control);
        tool.hinst = state_.module;
        tool.lpszText = const_cast<char*>(text.c_str());
        SendMessageA(tooltip_, message, 0, reinterpret_cast<LPARAM>(&tool));
    });
}

bool Win32DialogWindow::RunFileDialog(const FileDialogSpec& spec, FileDialogResult& result)
{
    return OnThread([&] { return RunCommonFileDialog(Handle(), state_.module, spec, result); });
}

void Win32DialogWindow::ReleaseResources()
{
    for (auto& entry : brushes_) DeleteObject(entry.second.brush);
    brushes_.clear();
    for (auto& entry : buttonBitmaps_) DeleteObject(entry.second);
    buttonBitmaps_.clear();
    tooltip_ = nullptr; // owned by the dialog window, gone with it
}

} // namespace

// --- the window system ---

Win32WindowSystem::Win32WindowSystem(std::string programTitle) : state_(std::make_unique<State>())
{
    state_->title = std::move(programTitle);
}

Win32WindowSystem::~Win32WindowSystem() = default;

bool Win32WindowSystem::InitCommonControls(uint32_t structureSize, uint32_t classMask)
{
    using InitFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    static const InitFunction init =
        SystemLibraryFunction<InitFunction>(SystemLibrary::CommonControls, "InitCommonControlsEx");
    if (init == nullptr) return false;
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = structureSize;
    controls.dwICC = classMask;
    return init(&controls) != FALSE;
}

void Win32WindowSystem::SetRegistryKey(const std::string& company)
{
    // Only remembered: the program keeps no settings of its own there.
    state_->company = company;
}

int Win32WindowSystem::RunModal(CDialog& dialog)
{
    Win32DialogWindow* innermost = InnermostRunning();
    HWND owner = innermost == nullptr ? nullptr : innermost->Handle();
    Win32DialogWindow window(*this, *state_, dialog);
    if (!window.Run(owner)) return -1;
    return window.Result();
}

void Win32WindowSystem::PostDeviceChange(uintptr_t event, DeviceNotice notice)
{
    if (notice != DeviceNotice::VolumeBroadcast) return; // registered for no interface class
    if (HWND window = state_->outermost.load()) PostMessageA(window, kDeviceChangeMessage, event, 0);
}

bool Win32WindowSystem::DialogRunning() const { return state_->outermost.load() != nullptr; }

const std::string& Win32WindowSystem::ProgramTitle() const { return state_->title; }
const std::string& Win32WindowSystem::RegistryCompany() const { return state_->company; }
