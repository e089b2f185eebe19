#include "programs/vane_upgrade/safe_text.h"

namespace {

// The length of the UTF-8 character at text[at] and its code point, or 0 when
// the bytes there are not one (overlong, surrogate, beyond U+10FFFF, cut short).
size_t CharacterAt(std::string_view text, size_t at, char32_t& code)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length;
    char32_t least;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        code = code << 6 | (byte(at + i) & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

bool IsControl(char32_t code) { return code < 0x20 || (code >= 0x7F && code <= 0x9F); }

} // namespace

bool IsPrintableUtf8(std::string_view text)
{
    char32_t code = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t length = CharacterAt(text, at, code);
        if (length == 0 || IsControl(code)) return false;
        at += length;
    }
    return true;
}

std::string TerminalSafe(std::string_view text)
{
    std::string safe;
    safe.reserve(text.size());
    char32_t code = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t length = CharacterAt(text, at, code);
        if (length == 0) {
            safe += '?';
            ++at;
            continue;
        }
        if (code == '\n' || code == '\r' || code == '\t') safe += ' ';
        else if (IsControl(code)) safe += '?';
        else safe.append(text.substr(at, length));
        at += length;
    }
    return safe;
}

size_t ShownWidth(std::string_view text)
{
    size_t width = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++width;
    return width;
}

std::string KnownVersion(const std::string& version) { return IsPrintableUtf8(version) ? version : std::string(); }
