#include "ports/host_name.h"

#include <unistd.h>

#include <climits>

std::string HostName()
{
    char host[HOST_NAME_MAX + 1] = {};
    if (gethostname(host, sizeof host - 1) != 0) return "";
    return host;
}
