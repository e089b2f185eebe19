#include "programs/vane_upgrade/tracing_pass_through.h"

#include <cstring>

#include "emulator/emulated_target.h"

TracingPassThrough::TracingPassThrough(IScsiPassThrough& inner, std::function<void(const std::string& line)> sink)
    : inner_(inner), sink_(std::move(sink))
{
}

PassThroughResult TracingPassThrough::Send(DeviceHandle device, IbrRequestBlock& block, void* dataBuffer)
{
    // The request as it was sent: the system may change lengths in the block.
    uint8_t cdb[10];
    std::memcpy(cdb, block.spt.Cdb, sizeof cdb);
    const bool dataIn = block.spt.DataIn == kIbrDataIn;
    const uint32_t length = block.spt.DataTransferLength;
    const uint32_t timeout = block.spt.TimeOutValue;
    std::lock_guard<std::mutex> lock(mutex_);
    const PassThroughResult result = inner_.Send(device, block, dataBuffer);
    sink_(FormatTraceLine(cdb, dataIn, length, timeout, result.completed));
    return result;
}
