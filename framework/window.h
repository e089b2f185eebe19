#pragma once
// The window layer: what a dialog asks of the window system. One dialog
// window, its controls reached by identifier. Backends: Win32 (a real dialog
// from a resource template) and headless (in-memory controls built from the
// same control table, for tests and the console front end).
//
// Threads: every member may be called from any thread. Backends carry the
// request out on the window's own thread when the system requires it, and
// return only when it is done, as SendMessage does. Notifications that a
// request raises (EN_UPDATE/EN_CHANGE after a text change of an edit) reach
// the dialog before the request returns.
#include <functional>
#include <string>
#include <vector>

#include "framework/canvas.h"

struct FileDialogSpec {
    bool save = false;             // save dialog, else open dialog
    std::string title;             // "Choose Open file..."
    std::string filter;            // "Binary files(*.bin) |*.bin|All files(*.*)|*.*||"
    std::string defaultExtension;  // "bin"
    unsigned flags = 0;            // OFN_* values
    std::string initialName;       // text the file-name buffer starts with
    size_t nameBufferSize = 260;   // characters of the file-name buffer
    std::string initialFolder;     // empty: the system's default
};

constexpr unsigned OFN_OVERWRITEPROMPT = 0x00000002;
constexpr unsigned OFN_HIDEREADONLY = 0x00000004;
constexpr unsigned OFN_FILEMUSTEXIST = 0x00001000;

struct FileDialogResult {
    std::string path; // the chosen full path
    std::string name; // the chosen file name
};

class IDialogWindow {
public:
    virtual ~IDialogWindow() = default;

    // --- any control ---
    virtual void SetWindowText(int id, const std::string& text) = 0;
    virtual std::string GetWindowText(int id) = 0;
    virtual void EnableWindow(int id, bool enable) = 0;
    virtual bool IsWindowEnabled(int id) = 0;
    virtual void ShowWindow(int id, bool show) = 0;
    virtual bool IsWindowVisible(int id) = 0;
    virtual void SetRedraw(int id, bool redraw) = 0;   // WM_SETREDRAW
    virtual void SetFocus(int id) = 0;
    virtual Rect GetWindowRect(int id) = 0;            // screen coordinates

    // --- buttons ---
    virtual void SetCheck(int id, bool checked) = 0;
    virtual bool GetCheck(int id) = 0;
    virtual void SetButtonBitmap(int id, int bitmapResource) = 0;

    // --- edits ---
    virtual void LimitText(int id, int characters) = 0;

    // --- combo box ---
    virtual int ComboAddString(int id, const std::string& text) = 0;
    virtual void ComboSetCurSel(int id, int row) = 0;   // -1: none
    virtual int ComboGetCurSel(int id) = 0;             // -1: none
    virtual std::string ComboGetRowText(int id, int row) = 0;

    // --- progress bar ---
    virtual void ProgressSetRange(int id, int low, int high) = 0;
    virtual void ProgressSetPos(int id, int position) = 0;
    virtual void ProgressSetBkColour(int id, Colour c) = 0;
    virtual void ProgressSetBarColour(int id, Colour c) = 0;

    // --- tooltips (one tooltip control per dialog) ---
    virtual void ToolTipCreate() = 0;
    virtual void ToolTipActivate(bool active) = 0;
    virtual void ToolTipAddTool(int id, const std::string& text) = 0;
    virtual void ToolTipUpdateTipText(int id, const std::string& text) = 0;
    virtual void ToolTipSetMaxTipWidth(int width) = 0;

    // --- the dialog window ---
    virtual void SetTimer(int timerId, unsigned periodMs) = 0;
    virtual void KillTimer(int timerId) = 0;
    // Modal message box; returns IDOK or IDCANCEL. Caption empty: the program's title.
    virtual int MessageBox(const std::string& text, const std::string& caption, unsigned type) = 0;
    // Runs a modal file dialog; false when cancelled.
    virtual bool RunFileDialog(const FileDialogSpec& spec, FileDialogResult& result) = 0;
    virtual void DragAcceptFiles(bool accept) = 0;
    virtual void AppendSystemMenu(int commandId, const std::string& text) = 0; // after a separator
    virtual bool HasSystemMenu() = 0;
    virtual void SetIcon(int iconResource) = 0;
    virtual void ShowAboutBox() = 0;
    virtual Point GetCursorPos() = 0;                   // screen coordinates
    virtual std::string LoadString(int stringResource) = 0;
    virtual void EndDialog(int result) = 0;
    // Lets the default window procedure handle a message the dialog passed on.
    virtual intptr_t DefaultProcessing(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
    // Processes window messages until done() holds; used to wait for threads
    // that may need the window while they finish.
    virtual void PumpMessagesUntil(const std::function<bool()>& done) = 0;
    // Runs fn on the window's thread (synchronously, as SendMessage does).
    virtual void RunOnWindowThread(const std::function<void()>& fn) = 0;
};
