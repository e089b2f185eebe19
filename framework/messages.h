#pragma once
// Message and notification codes of the window layer. The values are those of
// the Windows headers, so the Win32 backend passes them through unchanged.
#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t WM_PAINT = 0x000F;
constexpr uint32_t WM_CLOSE = 0x0010;
constexpr uint32_t WM_ERASEBKGND = 0x0014;
constexpr uint32_t WM_SETFOCUS = 0x0007;
constexpr uint32_t WM_QUERYDRAGICON = 0x0037;
constexpr uint32_t WM_WINDOWPOSCHANGING = 0x0046;
constexpr uint32_t WM_WINDOWPOSCHANGED = 0x0047;
constexpr uint32_t WM_KEYDOWN = 0x0100;
constexpr uint32_t WM_CHAR = 0x0102;
constexpr uint32_t WM_INITDIALOG = 0x0110;
constexpr uint32_t WM_COMMAND = 0x0111;
constexpr uint32_t WM_SYSCOMMAND = 0x0112;
constexpr uint32_t WM_TIMER = 0x0113;
constexpr uint32_t WM_CTLCOLOR = 0x0019; // stands for the WM_CTLCOLOR* family
constexpr uint32_t WM_MOUSEMOVE = 0x0200;
constexpr uint32_t WM_LBUTTONDOWN = 0x0201;
constexpr uint32_t WM_DEVICECHANGE = 0x0219;
constexpr uint32_t WM_DROPFILES = 0x0233;

// Notification codes (high word of WM_COMMAND's wParam).
constexpr uint32_t BN_CLICKED = 0;
constexpr uint32_t STN_CLICKED = 0;
constexpr uint32_t STN_DBLCLK = 1;
constexpr uint32_t CBN_SELCHANGE = 1;
constexpr uint32_t CBN_DROPDOWN = 7;
constexpr uint32_t EN_SETFOCUS = 0x0100;
constexpr uint32_t EN_KILLFOCUS = 0x0200;
constexpr uint32_t EN_CHANGE = 0x0300;
constexpr uint32_t EN_UPDATE = 0x0400;

// Device-change events.
constexpr uintptr_t DBT_DEVICEARRIVAL = 0x8000;
constexpr uintptr_t DBT_DEVICEREMOVECOMPLETE = 0x8004;

// Keys.
constexpr uintptr_t VK_RETURN = 0x0D;
constexpr uintptr_t VK_ESCAPE = 0x1B;

// System commands.
constexpr uint32_t IDM_ABOUTBOX = 0x0010;
constexpr uint32_t SC_CLOSE = 0xF060;

// Dialog results and message-box types/answers.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr unsigned MB_OK = 0x0;
constexpr unsigned MB_OKCANCEL = 0x1;
constexpr unsigned MB_ICONEXCLAMATION = 0x30;

// A control identifier that no control has: the dialog itself.
constexpr int kNoControl = 0;

// One window message as the dialog receives it.
struct Message {
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
    int controlId = kNoControl;              // the control the message is for (keys, clicks)
    const std::vector<std::string>* dropped = nullptr; // WM_DROPFILES: the dropped paths
};

inline uintptr_t MakeCommandParam(int id, uint32_t code)
{
    return (static_cast<uintptr_t>(code) << 16) | (static_cast<uintptr_t>(id) & 0xFFFF);
}
inline int CommandId(uintptr_t wParam) { return static_cast<int>(wParam & 0xFFFF); }
inline uint32_t CommandCode(uintptr_t wParam) { return static_cast<uint32_t>((wParam >> 16) & 0xFFFF); }
