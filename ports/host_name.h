#pragma once
// The machine's name (one file per platform).
#include <string>

// Empty when the system does not tell it.
std::string HostName();
