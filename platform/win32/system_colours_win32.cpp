#include "framework/system_colours.h"

#include "platform/win32/win32_headers.h"

Colour GetSystemColour(int index)
{
    // COLORREF has the same layout as Colour: red in the low byte.
    return static_cast<Colour>(GetSysColor(index));
}
