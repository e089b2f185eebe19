#pragma once
// The SCSI pass-through of Windows: DeviceIoControl on an open volume handle.
#include "device/scsi_pass_through.h"

class Win32PassThrough final : public IScsiPassThrough {
public:
    PassThroughResult Send(DeviceHandle device, IbrRequestBlock& block, void* dataBuffer) override;
    std::string ErrorText(uint32_t systemError) override;
    uint32_t InvalidHandleError() override;
    uint32_t InvalidParameterError() override;
};

// The system's message text of a Windows error code, as FormatMessage gives it
// (with its trailing line break).
std::string Win32ErrorText(uint32_t systemError);
