#pragma once
// ICanvas on a GDI device context (paint and owner-draw contexts).
#include "framework/canvas.h"
#include "platform/win32/win32_headers.h"

class GdiCanvas final : public ICanvas {
public:
    // Bitmap resources are loaded from module.
    GdiCanvas(HDC dc, HINSTANCE module) : dc_(dc), module_(module) {}

    void FillSolid(const Rect& r, Colour c) override;
    void Line(int x1, int y1, int x2, int y2, Colour c) override;
    void CentredText(const std::string& text, const Rect& r, Colour c) override;
    void FocusRect(const Rect& r) override;
    void StretchBitmap(int bitmapResource, const Rect& destination) override;

private:
    HDC dc_;
    HINSTANCE module_;
};

inline RECT ToRect(const Rect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }
inline Rect FromRect(const RECT& r) { return Rect{r.left, r.top, r.right, r.bottom}; }
