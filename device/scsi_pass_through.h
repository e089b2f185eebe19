#pragma once
// The SCSI pass-through port: the one way vendor commands reach a device.
//
// Backends: Win32 (DeviceIoControl with IOCTL_SCSI_PASS_THROUGH_DIRECT),
// Linux (SG_IO on the sg node), the emulated target, and the null backend
// that refuses everything.
#include <cstdint>
#include <string>

#include "device/ibr_request_block.h"

// An open device: a volume handle on Windows, an sg file descriptor wrapper on
// Linux, a session of the emulated target. Null means no device.
using DeviceHandle = void*;

struct PassThroughResult {
    bool completed = false;    // the system carried the request to its end
    uint32_t systemError = 0;  // the system's error code for this request (0 on success)
};

class IScsiPassThrough {
public:
    virtual ~IScsiPassThrough() = default;

    // Hands the request block to the system for the device. The block is input
    // and output; dataBuffer is the buffer the block's DataBuffer names
    // (DataTransferLength bytes). Returns whether the system completed the
    // request, never whether the target liked it: a SCSI error status with a
    // completed transport is still completed. Must not throw. Must be safe to
    // call from any thread.
    virtual PassThroughResult Send(DeviceHandle device, IbrRequestBlock& block, void* dataBuffer) = 0;

    // The system's message text for an error code, as the system gives it
    // (a Windows message ends in its own line break).
    virtual std::string ErrorText(uint32_t systemError) = 0;

    // The error code a call with a null handle reports.
    virtual uint32_t InvalidHandleError() = 0;
    // The error code of a request refused for its parameters.
    virtual uint32_t InvalidParameterError() = 0;
};

// Refuses every request: the backend of a program without a device link.
class NullPassThrough final : public IScsiPassThrough {
public:
    PassThroughResult Send(DeviceHandle, IbrRequestBlock&, void*) override { return {false, 6}; }
    std::string ErrorText(uint32_t systemError) override;
    uint32_t InvalidHandleError() override { return 6; }
    uint32_t InvalidParameterError() override { return 87; }
};

// Message text of a C library error number (the non-Windows backends use it).
std::string CLibraryErrorText(int errorNumber);
