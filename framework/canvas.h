#pragma once
// A small drawing surface: what the owner-drawn controls and the skin need.
// The Win32 backend draws with GDI; tests record the calls.
#include <cstdint>
#include <string>

using Colour = uint32_t; // 0x00BBGGRR, red in the low byte

constexpr Colour Rgb(uint8_t r, uint8_t g, uint8_t b)
{
    return static_cast<Colour>(r) | (static_cast<Colour>(g) << 8) | (static_cast<Colour>(b) << 16);
}

struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    Rect Offset(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
    Rect Deflate(int d) const { return {left + d, top + d, right - d, bottom - d}; }
    bool operator==(const Rect&) const = default;
};

struct Point {
    int x = 0, y = 0;
};

class ICanvas {
public:
    virtual ~ICanvas() = default;
    virtual void FillSolid(const Rect& r, Colour c) = 0;
    // A one-unit solid line from (x1,y1) to (x2,y2), last point excluded, with a pen of its own.
    virtual void Line(int x1, int y1, int x2, int y2, Colour c) = 0;
    // Single line, centred both ways, transparent background.
    virtual void CentredText(const std::string& text, const Rect& r, Colour c) = 0;
    virtual void FocusRect(const Rect& r) = 0;
    // Stretches a bitmap resource over the destination.
    virtual void StretchBitmap(int bitmapResource, const Rect& destination) = 0;
};
