#pragma once
// The system's standard dialog services the window layer uses.
#include "framework/window.h"
#include "platform/win32/win32_headers.h"

// The open or save file dialog described by spec, owned by owner; false when
// the user cancels.
bool RunCommonFileDialog(HWND owner, HINSTANCE module, const FileDialogSpec& spec, FileDialogResult& result);

// Places a modal dialog as the dialog framework does when its initialisation
// did not move it: centred over its shown owner, else on its monitor's work area.
void CentreWindow(HWND hwnd);
