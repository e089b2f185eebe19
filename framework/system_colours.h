#pragma once
// The system's colours by COLOR_* index (GetSysColor on Windows; the classic
// defaults elsewhere).
#include "framework/canvas.h"

constexpr int COLOR_3DDKSHADOW = 21;
constexpr int COLOR_3DLIGHT = 22;
constexpr int COLOR_BTNFACE = 15;
constexpr int COLOR_BTNSHADOW = 16;
constexpr int COLOR_BTNTEXT = 18;
constexpr int COLOR_BTNHIGHLIGHT = 20;

Colour GetSystemColour(int index);
