#pragma once
// A canvas that keeps every drawing call, in order, for tests to compare.
#include <ostream>
#include <string>
#include <vector>

#include "framework/canvas.h"

struct CanvasCall {
    enum class Kind { Fill, Line, Text, Focus, Stretch };
    Kind kind = Kind::Fill;
    Rect rect;             // Fill, Text, Focus, Stretch
    Point from, to;        // Line
    Colour colour = 0;     // Fill, Line, Text
    std::string text;      // Text
    int bitmap = 0;        // Stretch

    static CanvasCall Fill(const Rect& r, Colour c) { return {Kind::Fill, r, {}, {}, c, {}, 0}; }
    static CanvasCall Line(int x1, int y1, int x2, int y2, Colour c) { return {Kind::Line, {}, {x1, y1}, {x2, y2}, c, {}, 0}; }
    static CanvasCall Text(const std::string& t, const Rect& r, Colour c) { return {Kind::Text, r, {}, {}, c, t, 0}; }
    static CanvasCall Focus(const Rect& r) { return {Kind::Focus, r, {}, {}, 0, {}, 0}; }
    static CanvasCall Stretch(int bitmap, const Rect& r) { return {Kind::Stretch, r, {}, {}, 0, {}, bitmap}; }

    bool operator==(const CanvasCall& o) const
    {
        return kind == o.kind && rect == o.rect && from.x == o.from.x && from.y == o.from.y && to.x == o.to.x &&
               to.y == o.to.y && colour == o.colour && text == o.text && bitmap == o.bitmap;
    }
};

// Readable failure messages.
inline std::ostream& operator<<(std::ostream& os, const CanvasCall& c)
{
    auto rect = [&os](const Rect& r) { os << "{" << r.left << "," << r.top << "," << r.right << "," << r.bottom << "}"; };
    switch (c.kind) {
    case CanvasCall::Kind::Fill: os << "Fill"; rect(c.rect); break;
    case CanvasCall::Kind::Line:
        os << "Line(" << c.from.x << "," << c.from.y << " -> " << c.to.x << "," << c.to.y << ")";
        break;
    case CanvasCall::Kind::Text: os << "Text\"" << c.text.substr(0, 20) << "\""; rect(c.rect); break;
    case CanvasCall::Kind::Focus: os << "Focus"; rect(c.rect); return os;
    case CanvasCall::Kind::Stretch: os << "Stretch#" << c.bitmap; rect(c.rect); return os;
    }
    return os << " colour 0x" << std::hex << c.colour << std::dec;
}

class RecordingCanvas final : public ICanvas {
public:
    void FillSolid(const Rect& r, Colour c) override { calls.push_back(CanvasCall::Fill(r, c)); }
    void Line(int x1, int y1, int x2, int y2, Colour c) override { calls.push_back(CanvasCall::Line(x1, y1, x2, y2, c)); }
    void CentredText(const std::string& t, const Rect& r, Colour c) override { calls.push_back(CanvasCall::Text(t, r, c)); }
    void FocusRect(const Rect& r) override { calls.push_back(CanvasCall::Focus(r)); }
    void StretchBitmap(int bitmap, const Rect& r) override { calls.push_back(CanvasCall::Stretch(bitmap, r)); }

    std::vector<CanvasCall> calls;
};
