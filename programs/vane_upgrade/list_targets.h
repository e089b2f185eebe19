#pragma once
// vane-upgrade list: every attached target with its place, its node and the
// firmware version its identity block names.
#include <string>
#include <vector>

#include "device/ibr_commands.h"

// The version text of the identity block (its first 13 characters, up to a
// zero), read with the same two commands as the window's version read;
// empty when the block holds bytes that are not text (erased or damaged).
bool ReadFirmwareVersion(IbrLink& link, DeviceHandle device, std::string& version);

// "1-1.4  /dev/sg2  Vane_TX_V1030"; "-" for an unknown version.
std::string FormatListLine(const std::string& place, const std::string& node, const std::string& version);
