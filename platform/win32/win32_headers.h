#pragma once
// The system headers for the Win32 backends. Include this after the framework
// headers: <windows.h> turns several names of the window layer into macros
// (MessageBox, SetWindowText, LoadString, ...), which are undone here so that
// the layer's members keep their names. The backends call the A functions.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <dbt.h>
#include <shellapi.h>

#undef MessageBox
#undef SetWindowText
#undef GetWindowText
#undef LoadString
#undef SetDlgItemText
#undef GetDlgItemText
#undef DrawText
#undef SendMessage
#undef PostMessage
