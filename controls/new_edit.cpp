#include "controls/new_edit.h"

bool CNewEdit::Accepts(unsigned c)
{
    return c == 8 || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

bool CNewEdit::OnChar(unsigned character, unsigned, unsigned)
{
    return Accepts(character);
}
