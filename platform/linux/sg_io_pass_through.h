#pragma once
// The pass-through port on Linux: one SG_IO ioctl per request block, on the
// target's SCSI generic node (/dev/sgN) opened read-write. Vendor opcodes
// pass there without CAP_SYS_RAWIO, unlike on the block node.
//
// The translation of a request block into an sg_io_hdr and the reading of
// the completion are pure functions, tested on their own; the ioctl itself
// is a thin call.
#include <scsi/sg.h>

#include <cstdint>
#include <string>

#include "device/scsi_pass_through.h"

// Flag of driver_status that only says sense data came back (a CHECK
// CONDITION): the transport still completed.
constexpr unsigned kSgDriverSense = 0x08;
constexpr unsigned kSgDriverTimeout = 0x06;
// host_status values that the kernel reports for a vanished or stuck device.
constexpr unsigned kSgHostNoConnect = 0x01;
constexpr unsigned kSgHostBusBusy = 0x02;
constexpr unsigned kSgHostTimeOut = 0x03;
// Upper bound of an ioctl timeout in milliseconds (the field is an unsigned int).
constexpr uint64_t kSgMaxTimeoutMs = 0xFFFFFFFFu;

// An open sg node: what a DeviceHandle points to on Linux.
struct SgDevice {
    int fd = -1;
    std::string node; // "/dev/sg2"
};

// The sg_io_hdr for a request block: CDB and its length, direction from DataIn
// (none for a zero length), the transfer buffer, the block's sense area with
// its length, the timeout in milliseconds.
sg_io_hdr_t BuildSgIoHeader(IbrRequestBlock& block, void* dataBuffer);

// Whether the request completed: the ioctl returned 0, the host adapter
// reported nothing and the driver nothing but the sense flag. errorNumber is
// the ioctl's errno when it failed.
PassThroughResult SgIoCompletion(int ioctlResult, int errorNumber, const sg_io_hdr_t& header);

// Copies what the device answered back into the block, as the system does on
// Windows: the SCSI status and the length actually moved.
void StoreSgIoResult(const sg_io_hdr_t& header, IbrRequestBlock& block);

class SgIoPassThrough final : public IScsiPassThrough {
public:
    PassThroughResult Send(DeviceHandle device, IbrRequestBlock& block, void* dataBuffer) override;
    std::string ErrorText(uint32_t systemError) override;
    uint32_t InvalidHandleError() override;
    uint32_t InvalidParameterError() override;
};

// Opens an sg node read-write and checks that it is one. On failure returns
// null, errorNumber holds errno (EACCES for missing rights) and errorText the
// C library's text.
SgDevice* OpenSgDevice(const std::string& node, int& errorNumber, std::string& errorText);
void CloseSgDevice(SgDevice* device);
