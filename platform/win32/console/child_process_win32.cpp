#include "platform/win32/console/child_process_win32.h"

std::string SystemErrorText(DWORD code)
{
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                        sizeof text, nullptr);
    std::string result(text, length);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' ')) result.pop_back();
    return result.empty() ? "system error " + std::to_string(code) : result;
}

bool MakePipe(HANDLE& read, HANDLE& write, std::string& error)
{
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (!CreatePipe(&read, &write, &inherit, 0)) {
        error = "no pipe for a run: " + SystemErrorText(GetLastError());
        return false;
    }
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    return true;
}
