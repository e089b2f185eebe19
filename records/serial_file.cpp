#include "records/serial_file.h"

#include <cstdio>

#include "operations/hex_text.h"
#include "ports/locked_file.h"

namespace {

const char kWhat[] = "serial file";

} // namespace

std::optional<uint32_t> ParseSerialText(const std::string& text)
{
    size_t end = text.size();
    while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r' || text[end - 1] == ' ')) --end;
    return ParseHexField(text.substr(0, end));
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
    return Hex(number) + "\n";
}

std::string SerialFileTextAfter(uint32_t number)
{
    if (number == 0xFFFFFFFFu) return std::string(kSerialFileUsedUp) + "\n";
    return SerialFileText(number + 1);
}


bool ReadSerialFile(const std::string& path, uint32_t& number, std::string& error, bool* usedUp)
{
    std::string text;
    return ReadShortFile(path, kWhat, text, error) && ParseSerialInto(path, text, number, error, usedUp);
}

bool ReserveSerialNumber(const std::string& path, uint32_t& reserved, std::string& error)
{
    uint32_t number = 0;
    const bool ok = UpdateLockedFile(
        path, kWhat,
        [&](const std::string& text, std::string& replacement, std::string& why) {
            if (!ParseSerialInto(path, text, number, why)) return false;
            replacement = SerialFileTextAfter(number);
            return true;
        },
        error);
    if (ok) reserved = number;
    return ok;
}
