#include "ports/host_name.h"

#include <windows.h>

std::string HostName()
{
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = sizeof name;
    if (!GetComputerNameA(name, &length)) return "";
    return std::string(name, length);
}
