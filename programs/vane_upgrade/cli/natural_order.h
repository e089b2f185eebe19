#pragma once
// Port paths, emulated targets and slot labels in the order a person counts
// them: "2" before "10", "1-1.9" before "1-1.10", "emu-2" before "emu-10".
#include <string>

bool NaturalLess(const std::string& a, const std::string& b);
