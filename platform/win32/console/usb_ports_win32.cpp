#include "platform/win32/console/usb_ports_win32.h"

#include <windows.h>
// The device-management headers need windows.h first.
#include <cfgmgr32.h>
#include <setupapi.h>

#include <cctype>

namespace {

const char kTargetUsbId[] = "USB\\VID_0416&PID_B190";
constexpr ULONG kPropertyChars = 1024;

bool StartsWithTargetId(const char* instanceId)
{
    for (size_t i = 0; kTargetUsbId[i] != '\0'; ++i)
        if (std::toupper(static_cast<unsigned char>(instanceId[i])) != kTargetUsbId[i]) return false;
    return true;
}

} // namespace

std::string UsbPortOfNode(DevNode node)
{
    char text[kPropertyChars];
    for (ULONG property : {static_cast<ULONG>(CM_DRP_LOCATION_PATHS), static_cast<ULONG>(CM_DRP_LOCATION_INFORMATION)}) {
        ULONG type = 0;
        ULONG length = sizeof text - 2;
        text[0] = '\0';
        if (CM_Get_DevNode_Registry_PropertyA(node, property, &type, text, &length, 0) != CR_SUCCESS) continue;
        if (length == 0 || length > sizeof text - 2) continue;
        text[length] = '\0';
        text[length + 1] = '\0';
        if (text[0] != '\0') return text; // a multi-string's first text
    }
    return "";
}

std::vector<std::string> TargetUsbPorts()
{
    std::vector<std::string> ports;
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) return ports;
    SP_DEVINFO_DATA data;
    for (DWORD i = 0;; ++i) {
        ZeroMemory(&data, sizeof data);
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInfo(set, i, &data)) break;
        char id[kInstanceIdChars] = {};
        if (!SetupDiGetDeviceInstanceIdA(set, &data, id, sizeof id, nullptr) || !StartsWithTargetId(id)) continue;
        ports.push_back(UsbPortOfNode(data.DevInst));
    }
    SetupDiDestroyDeviceInfoList(set);
    return ports;
}

