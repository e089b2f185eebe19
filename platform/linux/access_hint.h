#pragma once
// The one line that says what to do when the system refuses the target's sg node.
#include <string>

#ifndef VANE_UDEV_RULE_PATH
#define VANE_UDEV_RULE_PATH "/etc/udev/rules.d/60-vane-upgrade.rules"
#endif

constexpr char kUdevRulePath[] = VANE_UDEV_RULE_PATH;

// Whether an errno means missing rights (rather than a missing device).
bool IsAccessError(int errorNumber);
// "No permission to open /dev/sg2: install the udev rule ... and replug the
// transmitter, or run as root."
std::string AccessProblemLine(const std::string& node);
