#include "emulator/emulated_target.h"

#include <cstdio>

std::string FormatTraceLine(const uint8_t cdb[10], bool dataIn, uint32_t length, uint32_t timeoutSeconds, bool ok)
{
    char line[96];
    int n = 0;
    for (int i = 0; i < 10; ++i) n += std::snprintf(line + n, sizeof line - n, "%02x ", cdb[i]);
    std::snprintf(line + n, sizeof line - n, "%s %u %u %s", dataIn ? "in" : "out", length, timeoutSeconds, ok ? "ok" : "fail");
    return line;
}
