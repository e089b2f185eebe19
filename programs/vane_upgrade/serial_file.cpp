#include "programs/vane_upgrade/serial_file.h"

#include <cstdio>

std::optional<uint32_t> ParseSerialText(const std::string& text)
{
    size_t end = text.size();
    while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r' || text[end - 1] == ' ')) --end;
    if (end == 0 || end > 8) return std::nullopt;
    uint32_t value = 0;
    for (size_t i = 0; i < end; ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return std::nullopt;
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    return value;
}

bool ParseSerialInto(const std::string& path, const std::string& text, uint32_t& number, std::string& error,
                     bool* usedUp)
{
    const std::optional<uint32_t> value = ParseSerialText(text);
    if (usedUp) *usedUp = false;
    if (!value && text.substr(0, text.find_last_not_of("\r\n ") + 1) == kSerialFileUsedUp) {
        if (usedUp) *usedUp = true;
        error = "serial file " + path + ": " + kSerialRangeUsedUpText;
        return false;
    }
    if (!value) {
        error = "serial file " + path + ": expected one line of 1 to 8 hexadecimal digits";
        return false;
    }
    number = *value;
    return true;
}

std::string SerialFileText(uint32_t number)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X\n", number);
    return text;
}


std::string SerialFileTextAfter(uint32_t number)
{
    if (number == 0xFFFFFFFFu) return std::string(kSerialFileUsedUp) + "\n";
    return SerialFileText(number + 1);
}
