#include "platform/linux/sg_io_pass_through.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// The oldest sg driver interface with SG_IO (Linux 2.4).
constexpr int kSgMinVersion = 30000;

// An errno for a transport that did not complete although the ioctl did.
int ErrorOfStatus(const sg_io_hdr_t& header)
{
    switch (header.host_status) {
    case 0: break;
    case kSgHostNoConnect: return ENODEV;
    case kSgHostBusBusy: return EBUSY;
    case kSgHostTimeOut: return ETIMEDOUT;
    default: return EIO;
    }
    if ((header.driver_status & ~kSgDriverSense) == kSgDriverTimeout) return ETIMEDOUT;
    return EIO;
}

} // namespace

sg_io_hdr_t BuildSgIoHeader(IbrRequestBlock& block, void* dataBuffer)
{
    sg_io_hdr_t header;
    std::memset(&header, 0, sizeof header);
    header.interface_id = 'S';
    const uint32_t length = block.spt.DataTransferLength;
    if (length == 0) {
        header.dxfer_direction = SG_DXFER_NONE;
    } else {
        header.dxfer_direction = block.spt.DataIn == kIbrDataIn ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
        header.dxferp = dataBuffer;
    }
    header.dxfer_len = length;
    header.cmd_len = block.spt.CdbLength;
    header.cmdp = block.spt.Cdb;
    header.mx_sb_len = block.spt.SenseInfoLength;
    header.sbp = block.sense;
    const uint64_t timeoutMs = static_cast<uint64_t>(block.spt.TimeOutValue) * 1000u;
    header.timeout = static_cast<unsigned>(timeoutMs > kSgMaxTimeoutMs ? kSgMaxTimeoutMs : timeoutMs);
    return header;
}

PassThroughResult SgIoCompletion(int ioctlResult, int errorNumber, const sg_io_hdr_t& header)
{
    if (ioctlResult != 0) return {false, static_cast<uint32_t>(errorNumber != 0 ? errorNumber : EIO)};
    if (header.host_status != 0 || (header.driver_status & ~kSgDriverSense) != 0)
        return {false, static_cast<uint32_t>(ErrorOfStatus(header))};
    return {true, 0};
}

void StoreSgIoResult(const sg_io_hdr_t& header, IbrRequestBlock& block)
{
    block.spt.ScsiStatus = header.status;
    if (header.resid > 0 && static_cast<uint32_t>(header.resid) <= block.spt.DataTransferLength)
        block.spt.DataTransferLength -= static_cast<uint32_t>(header.resid);
    if (header.sb_len_wr <= block.spt.SenseInfoLength) block.spt.SenseInfoLength = header.sb_len_wr;
}

PassThroughResult SgIoPassThrough::Send(DeviceHandle device, IbrRequestBlock& block, void* dataBuffer)
{
    auto* sg = static_cast<SgDevice*>(device);
    if (sg == nullptr || sg->fd < 0) return {false, InvalidHandleError()};
    sg_io_hdr_t header = BuildSgIoHeader(block, dataBuffer);
    // Never repeated on EINTR: the command may already be on its way, and a
    // second write would land at the next address.
    const int result = ioctl(sg->fd, SG_IO, &header);
    const PassThroughResult completion = SgIoCompletion(result, result != 0 ? errno : 0, header);
    if (result == 0) StoreSgIoResult(header, block);
    return completion;
}

std::string SgIoPassThrough::ErrorText(uint32_t systemError)
{
    return CLibraryErrorText(static_cast<int>(systemError));
}

uint32_t SgIoPassThrough::InvalidHandleError() { return EBADF; }
uint32_t SgIoPassThrough::InvalidParameterError() { return EINVAL; }

SgDevice* OpenSgDevice(const std::string& node, int& errorNumber, std::string& errorText)
{
    errorNumber = 0;
    const int fd = open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        errorNumber = errno;
        errorText = CLibraryErrorText(errorNumber);
        return nullptr;
    }
    int version = 0;
    if (ioctl(fd, SG_GET_VERSION_NUM, &version) != 0 || version < kSgMinVersion) {
        // A block node or any other file: SG_IO there needs more rights or means nothing.
        errorNumber = ENOTTY;
        errorText = node + " is not a SCSI generic node";
        close(fd);
        return nullptr;
    }
    return new SgDevice{fd, node};
}

void CloseSgDevice(SgDevice* device)
{
    if (device == nullptr) return;
    if (device->fd >= 0) close(device->fd);
    delete device;
}
