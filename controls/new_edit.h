#pragma once
// An edit that takes only hexadecimal digits typed in lower case, and Backspace.
#include "framework/controls.h"

class CNewEdit : public CEdit {
public:
    bool OnChar(unsigned character, unsigned repeatCount, unsigned flags) override;
    static bool Accepts(unsigned character);
};
