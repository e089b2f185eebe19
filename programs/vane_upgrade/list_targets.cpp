#include "programs/vane_upgrade/list_targets.h"

namespace {

constexpr uint32_t kIdBlockAddress = 0x40040000;
constexpr uint32_t kIdTextOffset = 16;
constexpr uint32_t kVersionTextLength = 13;

} // namespace

bool ReadFirmwareVersion(IbrLink& link, DeviceHandle device, std::string& version)
{
    uint8_t longReply[kIbrLongReplyLength] = {};
    uint8_t block[32] = {};
    version.clear();
    if (!link.CMD_IbrSetAddress(device, longReply, kIdBlockAddress)) return false;
    if (!link.CMD_IbrRead(device, block, sizeof block)) return false;
    for (uint32_t i = 0; i < kVersionTextLength && block[kIdTextOffset + i] != 0; ++i) {
        const char c = static_cast<char>(block[kIdTextOffset + i]);
        if (c < 0x20 || c >= 0x7F) { // an erased or damaged block: the version is unknown
            version.clear();
            break;
        }
        version += c;
    }
    return true;
}

std::string FormatListLine(const std::string& place, const std::string& node, const std::string& version)
{
    std::string line = place;
    line.resize(std::max<size_t>(line.size() + 2, 12), ' ');
    line += node;
    line.resize(std::max<size_t>(line.size() + 2, 26), ' ');
    return line + (version.empty() ? "-" : version);
}
