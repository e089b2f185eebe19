#pragma once
// The --trace option: a pass-through port in front of another that writes one
// line per command as it completes, in the emulated target's trace format
// ("06 72 34 12 00 00 00 00 00 00 out 4660 30 ok"), for a device and for the
// emulated target alike.
#include <functional>
#include <mutex>
#include <string>

#include "device/scsi_pass_through.h"

class TracingPassThrough final : public IScsiPassThrough {
public:
    TracingPassThrough(IScsiPassThrough& inner, std::function<void(const std::string& line)> sink);

    PassThroughResult Send(DeviceHandle device, IbrRequestBlock& block, void* dataBuffer) override;
    std::string ErrorText(uint32_t systemError) override { return inner_.ErrorText(systemError); }
    uint32_t InvalidHandleError() override { return inner_.InvalidHandleError(); }
    uint32_t InvalidParameterError() override { return inner_.InvalidParameterError(); }

private:
    IScsiPassThrough& inner_;
    std::function<void(const std::string&)> sink_;
    std::mutex mutex_; // lines stay whole and in command order
};
