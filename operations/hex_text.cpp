#include "operations/hex_text.h"

#include <cctype>
#include <cstdio>

namespace {

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

bool ParseHex(const std::string& text, uint32_t& value)
{
    unsigned v = 0;
    if (std::sscanf(text.c_str(), "%x", &v) != 1) return false;
    value = v;
    return true;
}

uint32_t HexTextToUInt(const std::string& text)
{
    std::string upper = text;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    size_t i = upper.compare(0, 2, "0X") == 0 ? 2 : 0;
    uint32_t value = 0;
    for (; i < upper.size(); ++i) {
        const int digit = HexDigitValue(upper[i]);
        if (digit < 0) break;
        value = value * 16u + static_cast<uint32_t>(digit);
    }
    return value;
}

std::optional<uint32_t> ParseHexField(const std::string& text)
{
    if (text.empty() || text.size() > 8) return std::nullopt;
    uint32_t value = 0;
    for (char c : text) {
        const int digit = HexDigitValue(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
        if (digit < 0) return std::nullopt;
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    return value;
}

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
}
