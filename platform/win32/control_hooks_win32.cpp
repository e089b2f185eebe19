// The dialog's controls on Win32 beyond what the dialog template makes: the
// bound edits subclassed so that typed characters pass the control member
// first, button pictures, and the tooltips.
#include "platform/win32/dialog_window_win32.h"

namespace {

const char kEditWindowProp[] = "VaneDialogWindow";
const char kEditProcProp[] = "VaneEditProc";

} // namespace

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

// --- pictures and tooltips ---

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
