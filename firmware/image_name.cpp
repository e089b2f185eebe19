#include "firmware/image_name.h"

#include <cstdio>
#include <ctime>

std::string FileNameOf(const std::string& path)
{
    size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::optional<uint32_t> VersionNumberOf(const std::string& name)
{
    if (name.size() < kMinVersionedNameLength) return std::nullopt;
    auto digit = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(name[i])) - '0'; };
    return digit(9) * 100u + digit(10) * 10u + digit(11);
}

bool HasModelTag(const std::string& name)
{
    return name.compare(0, kModelTagLength, kModelTag) == 0 && name.size() >= kModelTagLength;
}

std::string SizeText(uint64_t length)
{
    char text[64];
    if (length < 10240) {
        std::snprintf(text, sizeof text, "%u Bytes", static_cast<unsigned>(length));
    } else if (length < 1048576) {
        std::snprintf(text, sizeof text, "%-.2f KBytes", static_cast<double>(length) / 1024);
    } else {
        std::snprintf(text, sizeof text, "%-.2f MBytes", static_cast<double>(length) / 1048576);
    }
    return text;
}

std::string DateText(const std::tm* local)
{
    char text[64];
    if (local == nullptr) {
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d ", 0, 0, 0, -1, -1, -1);
    } else {
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d ", local->tm_year + 1900, local->tm_mon + 1,
                      local->tm_mday, local->tm_hour, local->tm_min, local->tm_sec);
    }
    return text;
}
