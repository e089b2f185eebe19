#include "controls/clr_button.h"

#include "framework/system_colours.h"

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
    // Drawing comes with the window's look.
    (void)info;
    (void)canvas;
}
