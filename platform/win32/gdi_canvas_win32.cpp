#include "platform/win32/gdi_canvas_win32.h"

void GdiCanvas::FillSolid(const Rect& r, Colour c)
{
    // An opaque text output of nothing fills with the background colour.
    const RECT rect = ToRect(r);
    const COLORREF old = SetBkColor(dc_, c);
    ExtTextOutA(dc_, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
    SetBkColor(dc_, old);
}

void GdiCanvas::Line(int x1, int y1, int x2, int y2, Colour c)
{
    HPEN pen = CreatePen(PS_SOLID, 1, c);
    if (pen == nullptr) return;
    HGDIOBJ old = SelectObject(dc_, pen);
    MoveToEx(dc_, x1, y1, nullptr);
    LineTo(dc_, x2, y2);
    SelectObject(dc_, old);
    DeleteObject(pen);
}

void GdiCanvas::CentredText(const std::string& text, const Rect& r, Colour c)
{
    RECT rect = ToRect(r);
    const COLORREF oldColour = SetTextColor(dc_, c);
    const int oldMode = SetBkMode(dc_, TRANSPARENT);
    DrawTextA(dc_, text.c_str(), static_cast<int>(text.size()), &rect, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
    SetBkMode(dc_, oldMode);
    SetTextColor(dc_, oldColour);
}

void GdiCanvas::FocusRect(const Rect& r)
{
    const RECT rect = ToRect(r);
    DrawFocusRect(dc_, &rect);
}

void GdiCanvas::StretchBitmap(int bitmapResource, const Rect& destination)
{
    HBITMAP bitmap = static_cast<HBITMAP>(
        LoadImageA(module_, MAKEINTRESOURCEA(bitmapResource), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
    if (bitmap == nullptr) return;
    BITMAP info{};
    GetObjectA(bitmap, sizeof info, &info);
    HDC memory = CreateCompatibleDC(dc_);
    if (memory != nullptr) {
        // The bitmap is selected out again before either object is deleted.
        HGDIOBJ old = SelectObject(memory, bitmap);
        const int oldMode = SetStretchBltMode(dc_, COLORONCOLOR);
        StretchBlt(dc_, destination.left, destination.top, destination.Width(), destination.Height(), memory, 0, 0,
                   info.bmWidth, info.bmHeight, SRCCOPY);
        SetStretchBltMode(dc_, oldMode);
        SelectObject(memory, old);
        DeleteDC(memory);
    }
    DeleteObject(bitmap);
}
