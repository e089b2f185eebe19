#pragma once
// The --device choice as this platform places targets (one file per platform).
#include <string>

// Whether text names a target the way the machine's own link finds them.
bool IsDeviceChoice(const std::string& text);
// How --device names a target here, for its help and its usage errors.
const char* DeviceChoiceForms();
