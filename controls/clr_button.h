#pragma once
// A push button that draws itself as a classic three-dimensional button in
// colours of its own, taken from the system when it is made.
#include "framework/controls.h"

class CClrButton : public CButton {
public:
    CClrButton();
    void DrawItem(const DrawItemInfo& info, ICanvas& canvas) override;

    Colour TextColour() const { return m_crText; }
    Colour FaceColour() const { return m_crFace; }
    Colour DisabledFaceColour() const { return m_crDisabledFace; }

private:
    Colour m_crText;
    Colour m_crFace;
    Colour m_crDisabledFace;
    Colour m_crLight;
    Colour m_crHighlight;
    Colour m_crShadow;
    Colour m_crDarkShadow;
};
