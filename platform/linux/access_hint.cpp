#include "platform/linux/access_hint.h"

#include <cerrno>

bool IsAccessError(int errorNumber) { return errorNumber == EACCES || errorNumber == EPERM; }

std::string AccessProblemLine(const std::string& node)
{
    return "No permission to open " + node + ": install the udev rule " + kUdevRulePath +
           " (cmake --install does), then replug the transmitter; or run as root.";
}
