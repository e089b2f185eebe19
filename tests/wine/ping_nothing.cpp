// The command link through the Windows pass-through, aimed at no device: a
// ping on a null handle and on INVALID_HANDLE_VALUE must both report failure
// (and write their diagnostic lines), never success. Exit status 0 when they do.
#include <cstdio>

#include "device/ibr_commands.h"
#include "platform/win32/scsi_pass_through_win32.h"

int main()
{
    Win32PassThrough port;
    IbrLink link(port);
    uint8_t reply[kIbrShortReplyLength] = {};
    const bool nullPing = link.CMD_IbrPing(nullptr, reply);
    const bool invalidPing = link.CMD_IbrPing(INVALID_HANDLE_VALUE, reply);
    std::printf("ping on a null handle: %s\nping on INVALID_HANDLE_VALUE: %s\n", nullPing ? "true" : "false",
                invalidPing ? "true" : "false");
    std::printf("invalid handle message: %s|\n", port.ErrorText(port.InvalidHandleError()).c_str());
    return nullPing || invalidPing ? 1 : 0;
}
