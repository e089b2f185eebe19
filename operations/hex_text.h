#pragma once
// Hexadecimal text as the series-number edits hold it.
#include <cstdint>
#include <string>

// The value of hexadecimal text, with or without a leading "0x"/"0X": digits
// are taken up to the first character that is not one, modulo 2^32; empty
// text or text without leading digits gives 0.
uint32_t HexTextToUInt(const std::string& text);
