#pragma once
// Hexadecimal text, read and written in one place. The window reads its
// fields leniently, as it always has; the console's options and the
// series-number file take strict text only.
#include <cstdint>
#include <optional>
#include <string>

// The window's reading of a field: leading blanks, a sign and a "0x" are
// taken, then digits up to the first character that is not one (as scanf's
// %x). False when no digit follows.
bool ParseHex(const std::string& text, uint32_t& value);
// The value of hexadecimal text, with or without a leading "0x"/"0X": digits
// are taken up to the first character that is not one, modulo 2^32; empty
// text or text without leading digits gives 0.
uint32_t HexTextToUInt(const std::string& text);
// 1 to 8 hexadecimal digits, either case, no prefix, no sign (what the
// window's editors take).
std::optional<uint32_t> ParseHexField(const std::string& text);
// Upper-case digits without leading zeros: "1A2C".
std::string Hex(uint32_t value);
