#include "controls/clr_button.h"

#include "framework/system_colours.h"

namespace {

// Longest caption read from the control, as the window text buffer allows.
constexpr size_t kMaxCaption = 512;
constexpr Colour kBlack = Rgb(0, 0, 0);
constexpr Colour kWhite = Rgb(255, 255, 255);
constexpr Colour kEngraveGrey = Rgb(128, 128, 128);

// One ring of a frame on r: each edge a one-unit line with its own colour.
void DrawRing(ICanvas& canvas, const Rect& r, Colour topLeft, Colour bottomRight)
{
    canvas.Line(r.left, r.top, r.right, r.top, topLeft);                   // top edge
    canvas.Line(r.left, r.top, r.left, r.bottom, topLeft);                 // left edge
    canvas.Line(r.left, r.bottom - 1, r.right, r.bottom - 1, bottomRight); // last row
    canvas.Line(r.right - 1, r.top, r.right - 1, r.bottom, bottomRight);   // last column
}

} // namespace

CClrButton::CClrButton()
    : m_crText(GetSystemColour(COLOR_BTNTEXT)),
      m_crFace(GetSystemColour(COLOR_BTNFACE)),
      m_crDisabledFace(GetSystemColour(COLOR_BTNFACE)),
      m_crLight(GetSystemColour(COLOR_3DLIGHT)),
      m_crHighlight(GetSystemColour(COLOR_BTNHIGHLIGHT)),
      m_crShadow(GetSystemColour(COLOR_BTNSHADOW)),
      m_crDarkShadow(GetSystemColour(COLOR_3DDKSHADOW))
{
}

void CClrButton::DrawItem(const DrawItemInfo& info, ICanvas& canvas)
{
    const Rect r = info.item;
    const Rect r1 = r.Offset(-1, -1);  // where an unpressed caption sits
    const Rect focus = r.Deflate(4);
    const bool selected = (info.state & ODS_SELECTED) != 0;
    const bool disabled = (info.state & ODS_DISABLED) != 0;
    const bool focused = (info.state & ODS_FOCUS) != 0;
    const bool isDefault = (info.state & ODS_DEFAULT) != 0;

    std::string caption = IsBound() ? GetWindowText() : std::string();
    if (caption.size() > kMaxCaption) caption.resize(kMaxCaption);

    canvas.FillSolid(r, disabled ? m_crDisabledFace : m_crFace);

    // Rings outermost first; the rectangle shrinks by one after each.
    Rect ring = r;
    if (selected) {
        DrawRing(canvas, ring, m_crDarkShadow, m_crDarkShadow);
        ring = ring.Deflate(1);
        DrawRing(canvas, ring, m_crShadow, m_crShadow);
    } else {
        if (focused || isDefault) {
            DrawRing(canvas, ring, kBlack, kBlack);
            ring = ring.Deflate(1);
        }
        DrawRing(canvas, ring, m_crHighlight, m_crDarkShadow);
        ring = ring.Deflate(1);
        DrawRing(canvas, ring, m_crLight, m_crShadow);
    }

    if (disabled) {
        // Engraved: a white copy below and right of the grey one.
        canvas.CentredText(caption, r, kWhite);
        canvas.CentredText(caption, r1, kEngraveGrey);
    } else {
        canvas.CentredText(caption, selected ? r : r1, m_crText);
    }

    if (focused) canvas.FocusRect(focus);
}
