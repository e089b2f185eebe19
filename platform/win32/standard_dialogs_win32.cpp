// The system's standard dialog services the window layer uses: the open and
// save file dialogs, and the placement of a modal dialog.
#include "platform/win32/standard_dialogs_win32.h"

#include <algorithm>
#include <vector>

bool RunCommonFileDialog(HWND owner, HINSTANCE module, const FileDialogSpec& spec, FileDialogResult& result)
{
    // "Name|pattern|Name|pattern||" becomes the system's zero-separated list.
    std::string filter = spec.filter;
    for (char& c : filter)
        if (c == '|') c = '\0';
    filter.push_back('\0');
    filter.push_back('\0');
    std::vector<char> name(std::max(spec.nameBufferSize, spec.initialName.size() + 1), '\0');
    spec.initialName.copy(name.data(), name.size() - 1);

    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.hInstance = module;
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = name.data();
    ofn.nMaxFile = static_cast<DWORD>(name.size());
    ofn.lpstrInitialDir = spec.initialFolder.empty() ? nullptr : spec.initialFolder.c_str();
    ofn.lpstrTitle = spec.title.empty() ? nullptr : spec.title.c_str();
    ofn.lpstrDefExt = spec.defaultExtension.empty() ? nullptr : spec.defaultExtension.c_str();
    ofn.Flags = spec.flags | OFN_EXPLORER;
    const BOOL chosen = spec.save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn);
    if (!chosen) return false;
    result.path = name.data();
    result.name = ofn.nFileOffset < result.path.size() ? result.path.substr(ofn.nFileOffset) : result.path;
    return true;
}

// Where the dialog framework puts a modal dialog that its initialisation did
// not move: centred over its owner when the owner shows, else on the work
// area of its monitor, and kept inside that work area.
void CentreWindow(HWND hwnd)
{
    RECT self{};
    if (!::GetWindowRect(hwnd, &self)) return;
    HWND owner = GetWindow(hwnd, GW_OWNER);
    const bool overOwner = owner != nullptr && ::IsWindowVisible(owner) && !IsIconic(owner);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoA(MonitorFromWindow(overOwner ? owner : hwnd, MONITOR_DEFAULTTOPRIMARY), &monitor)) return;
    const RECT area = monitor.rcWork;
    RECT around = area;
    if (overOwner) ::GetWindowRect(owner, &around);
    const LONG width = self.right - self.left;
    const LONG height = self.bottom - self.top;
    LONG x = (around.left + around.right) / 2 - width / 2;
    LONG y = (around.top + around.bottom) / 2 - height / 2;
    x = std::max(area.left, std::min(x, area.right - width));
    y = std::max(area.top, std::min(y, area.bottom - height));
    SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
