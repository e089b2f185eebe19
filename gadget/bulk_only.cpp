#include "gadget/bulk_only.h"

#include <algorithm>
#include <cstring>

namespace {

uint32_t Le32(const uint8_t* at)
{
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
           static_cast<uint32_t>(at[3]) << 24;
}

void PutLe32(uint8_t* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

} // namespace

CbwProblem CheckCbw(const uint8_t* bytes, size_t length, uint8_t maxLun)
{
    if (bytes == nullptr || length != kCbwLength || Le32(bytes) != kCbwSignature) return CbwProblem::NotValid;
    const uint8_t flags = bytes[12];
    const uint8_t lunByte = bytes[13];
    const uint8_t cdbLengthByte = bytes[14];
    if ((flags & ~kCbwFlagDataIn) != 0 || (lunByte & 0xF0) != 0 || (cdbLengthByte & 0xE0) != 0)
        return CbwProblem::NotMeaningful;
    if ((lunByte & 0x0F) > maxLun || cdbLengthByte == 0 || cdbLengthByte > 16) return CbwProblem::NotMeaningful;
    return CbwProblem::None;
}

std::optional<CommandBlockWrapper> ParseCbw(const uint8_t* bytes, size_t length, uint8_t maxLun)
{
    if (CheckCbw(bytes, length, maxLun) != CbwProblem::None) return std::nullopt;
    CommandBlockWrapper cbw;
    cbw.tag = Le32(bytes + 4);
    cbw.dataLength = Le32(bytes + 8);
    cbw.flagIn = (bytes[12] & kCbwFlagDataIn) != 0;
    cbw.direction = cbw.dataLength == 0 ? DataDirection::None : cbw.flagIn ? DataDirection::In : DataDirection::Out;
    cbw.lun = bytes[13] & 0x0F;
    cbw.cdbLength = bytes[14] & 0x1F;
    std::memcpy(cbw.cdb, bytes + 15, cbw.cdbLength);
    return cbw;
}

std::array<uint8_t, kCbwLength> BuildCbw(const CommandBlockWrapper& cbw)
{
    std::array<uint8_t, kCbwLength> bytes{};
    PutLe32(bytes.data(), kCbwSignature);
    PutLe32(bytes.data() + 4, cbw.tag);
    PutLe32(bytes.data() + 8, cbw.dataLength);
    bytes[12] = (cbw.flagIn || cbw.direction == DataDirection::In) ? kCbwFlagDataIn : 0;
    bytes[13] = cbw.lun;
    bytes[14] = cbw.cdbLength;
    std::memcpy(bytes.data() + 15, cbw.cdb, std::min<size_t>(cbw.cdbLength, 16));
    return bytes;
}

std::array<uint8_t, kCswLength> BuildCsw(uint32_t tag, uint32_t residue, CswStatus status)
{
    std::array<uint8_t, kCswLength> bytes{};
    PutLe32(bytes.data(), kCswSignature);
    PutLe32(bytes.data() + 4, tag);
    PutLe32(bytes.data() + 8, residue);
    bytes[12] = static_cast<uint8_t>(status);
    return bytes;
}

PhaseResolution ResolvePhases(DataDirection hostDirection, uint32_t hostLength, const DeviceResult& device)
{
    PhaseResolution r;
    const DataDirection wanted = device.length == 0 ? DataDirection::None : device.direction;
    const CswStatus commandStatus = device.commandFailed ? CswStatus::Failed : CswStatus::Passed;
    auto phaseError = [&] {
        r.sendBytes = 0;
        r.stallIn = hostDirection == DataDirection::In;
        r.residue = hostLength;
        r.status = CswStatus::PhaseError;
        return r;
    };
    if (device.transportFailed) return phaseError();
    if (hostLength == 0) hostDirection = DataDirection::None;

    switch (hostDirection) {
    case DataDirection::None: // Hn: any data the device wants is a phase error (cases 2 and 3)
        if (wanted != DataDirection::None) return phaseError();
        r.status = commandStatus;
        return r;
    case DataDirection::In:
        if (wanted == DataDirection::Out) return phaseError(); // Hi <> Do (case 8)
        // Hi > Dn, Hi > Di: short data, then a halt ends the phase (cases 4, 5);
        // Hi < Di: the device sends what the host asked for (case 7).
        r.sendBytes = wanted == DataDirection::In ? std::min(hostLength, device.length) : 0;
        r.residue = hostLength - r.sendBytes;
        r.stallIn = r.residue > 0;
        r.status = commandStatus;
        return r;
    case DataDirection::Out:
        if (wanted == DataDirection::In) return phaseError(); // Ho <> Di (case 10)
        if (wanted == DataDirection::Out && hostLength < device.length) return phaseError(); // Ho < Do (case 13)
        // Ho > Dn, Ho > Do: the extra bytes were taken and are reported as residue (cases 9, 11).
        r.residue = hostLength - (wanted == DataDirection::Out ? device.length : 0);
        r.status = commandStatus;
        return r;
    }
    return r;
}
