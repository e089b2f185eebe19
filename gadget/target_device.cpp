#include "gadget/target_device.h"

#include <algorithm>
#include <cstring>

namespace {

// The sense a device reports for a failure it has no words for.
constexpr uint8_t kSenseKeyAbortedCommand = 0x0B;

} // namespace

void BuildRequestBlockFromCbw(IbrRequestBlock& block, const CommandBlockWrapper& cbw, void* buffer)
{
    std::memset(&block, 0, sizeof block);
    IbrPassThrough& spt = block.spt;
    spt.Length = kIbrPassThroughLength;
    spt.TargetId = kIbrTargetId;
    spt.Lun = cbw.lun;
    spt.CdbLength = cbw.cdbLength;
    spt.SenseInfoLength = kIbrSenseInfoLength;
    spt.DataIn = cbw.flagIn ? kIbrDataIn : kIbrDataOut;
    spt.DataTransferLength = cbw.dataLength;
    spt.TimeOutValue = 0;
    spt.SenseInfoOffset = kIbrSenseInfoOffset;
    std::memcpy(spt.Cdb, cbw.cdb, sizeof spt.Cdb);
    SetRequestDataBuffer(block, buffer);
}

TargetDevice::TargetDevice(EmulatedTarget& target, ScsiDisk& disk)
    : target_(target), disk_(disk), block_(std::make_unique<IbrRequestBlock>())
{
}

void TargetDevice::Connect() { session_ = target_.Open(); }

CommandResponse TargetDevice::Run(const CommandBlockWrapper& cbw, const std::vector<uint8_t>& out)
{
    if (cbw.cdbLength > 0 && cbw.cdb[0] == kVendorOpcode) return RunVendor(cbw, out);
    ScsiOutcome outcome = disk_.Execute(cbw.cdb, cbw.cdbLength, out);
    CommandResponse response;
    response.result.commandFailed = outcome.failed;
    response.result.direction = outcome.direction;
    if (outcome.direction == DataDirection::In) {
        response.result.length = static_cast<uint32_t>(outcome.data.size());
        response.data = std::move(outcome.data);
    } else if (outcome.direction == DataDirection::Out) {
        response.result.length = outcome.wantedOut;
    }
    return response;
}

// The target takes the host's direction and length as they are: it judges
// them itself (and refuses with a SCSI status what does not fit its table).
// Data-in is always the whole length the host asked for: the target fills
// what it answers, the rest stays zero.
CommandResponse TargetDevice::RunVendor(const CommandBlockWrapper& cbw, const std::vector<uint8_t>& out)
{
    CommandResponse response;
    lastTransportError_ = 0;
    if (cbw.dataLength > kGadgetMaxDataLength) {
        response.result.transportFailed = true;
        return response;
    }
    std::vector<uint8_t> buffer(cbw.dataLength, 0);
    if (cbw.direction == DataDirection::Out) std::memcpy(buffer.data(), out.data(), std::min(out.size(), buffer.size()));
    BuildRequestBlockFromCbw(*block_, cbw, buffer.data());

    const PassThroughResult transport = target_.Send(session_, *block_, buffer.data());
    if (!transport.completed) {
        // A device that cannot carry a command out answers with a phase error
        // (after a halt when the host waits for data); the host resets it.
        lastTransportError_ = transport.systemError;
        response.result.transportFailed = true;
        return response;
    }
    const uint8_t status = block_->spt.ScsiStatus;
    if (status == kScsiGood) {
        disk_.ClearSense();
    } else {
        response.result.commandFailed = true;
        if (block_->sense[0] != 0) disk_.SetSense(block_->sense, kFixedSenseLength);
        else disk_.SetSense(kSenseKeyAbortedCommand, 0, 0);
    }
    response.result.direction = cbw.direction;
    response.result.length = cbw.dataLength;
    if (cbw.direction == DataDirection::In) response.data = std::move(buffer);
    return response;
}
