// The command link through the Windows pass-through, aimed at no device: a
// ping on a null handle and on INVALID_HANDLE_VALUE must both report failure
// (and write their diagnostic lines), never success, and the state command's
// line carries the system's message as FormatMessage gives it, line break
// included. Exit status 0 when they do.
#include <cstdio>
#include <string>

#include "device/diagnostics.h"
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
    const std::string message = port.ErrorText(port.InvalidHandleError());
    std::printf("invalid handle message: %s|\n", message.c_str());

    std::string line;
    {
        DiagnosticCapture capture;
        link.CMD_IbrGetState(nullptr, reply);
        line = capture.Text();
    }
    const bool endsInLineBreak = message.size() >= 2 && message.compare(message.size() - 2, 2, "\r\n") == 0;
    const bool lineAsGiven = line == "\n.\\dudivivur 1267 Result: " + message + "\n";
    std::printf("message ends in its line break: %s\nstate line carries it: %s\n", endsInLineBreak ? "true" : "false",
                lineAsGiven ? "true" : "false");
    return nullPing || invalidPing || !endsInLineBreak || !lineAsGiven ? 1 : 0;
}
