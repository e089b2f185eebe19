#include "platform/win32/scsi_pass_through_win32.h"

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include "device/ibr_commands.h"

static_assert(IOCTL_SCSI_PASS_THROUGH_DIRECT == kIoctlScsiPassThroughDirect);

PassThroughResult Win32PassThrough::Send(DeviceHandle device, IbrRequestBlock& block, void*)
{
    // The block names its data buffer itself; it is input and output at once.
    DWORD returned = 0;
    const BOOL ok = DeviceIoControl(static_cast<HANDLE>(device), IOCTL_SCSI_PASS_THROUGH_DIRECT, &block,
                                    sizeof(IbrRequestBlock), &block, sizeof(IbrRequestBlock), &returned, nullptr);
    // Taken at once: anything called later may overwrite the thread's last error.
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    return {ok != FALSE, static_cast<uint32_t>(error)};
}

std::string Win32PassThrough::ErrorText(uint32_t systemError) { return Win32ErrorText(systemError); }

uint32_t Win32PassThrough::InvalidHandleError() { return ERROR_INVALID_HANDLE; }
uint32_t Win32PassThrough::InvalidParameterError() { return ERROR_INVALID_PARAMETER; }

std::string Win32ErrorText(uint32_t systemError)
{
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        systemError, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string result;
    if (length != 0 && text != nullptr) result.assign(text, length);
    if (text != nullptr) LocalFree(text);
    if (result.empty()) result = "Unknown error " + std::to_string(systemError) + ".";
    return result;
}
