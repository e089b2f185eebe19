// The window layer on Win32: a real dialog window from the program's dialog
// template, driven by a message loop of this layer (dialog_loop_win32.cpp).
//
// The dialog window is subclassed after its creation, so that the dialog's
// WindowProc sees its messages first and "default processing" is a call of
// the system's own dialog window procedure (which in turn asks our dialog
// procedure, which declines everything but WM_INITDIALOG).
#include "platform/win32/dialog_window_win32.h"

#include "platform/win32/gdi_canvas_win32.h"
#include "platform/win32/standard_dialogs_win32.h"
#include "platform/win32/system_libraries_win32.h"

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
