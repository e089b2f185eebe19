#include "framework/system_colours.h"

// The classic Windows scheme, for platforms without system colours.
Colour GetSystemColour(int index)
{
    switch (index) {
    case COLOR_BTNFACE: return Rgb(212, 208, 200);
    case COLOR_BTNSHADOW: return Rgb(128, 128, 128);
    case COLOR_BTNTEXT: return Rgb(0, 0, 0);
    case COLOR_BTNHIGHLIGHT: return Rgb(255, 255, 255);
    case COLOR_3DDKSHADOW: return Rgb(64, 64, 64);
    case COLOR_3DLIGHT: return Rgb(212, 208, 200);
    default: return Rgb(0, 0, 0);
    }
}
