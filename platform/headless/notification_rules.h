#pragma once
// The window procedure of the headless window: what reaches the dialog, in
// which order, when something happens to a control. These are the moments
// Windows raises them at:
//
//   SetWindowText on an edit: EN_UPDATE, then EN_CHANGE (even when the text
//     is unchanged, as WM_SETTEXT does); on other controls nothing.
//   Focus changes (SetFocus, a click on a button or an edit, disabling or
//     hiding the focused control): the focus moves first, then EN_KILLFOCUS
//     for the edit losing it, then EN_SETFOCUS for the edit gaining it
//     (skipped if a kill-focus handler moved the focus elsewhere); combo
//     boxes raise CBN_KILLFOCUS/CBN_SETFOCUS the same way. Disabling or
//     hiding the focused control leaves the focus on no control (kNoControl).
//   Typing: WM_CHAR goes to PreTranslateMessage, then the bound control's
//     filter (CDialog::FilterChar), then the edit takes it (its own rules),
//     then EN_UPDATE and EN_CHANGE.
//   Keys: PreTranslateMessage first; then the dialog keys: Escape sends
//     WM_COMMAND IDCANCEL, Return WM_COMMAND IDOK (BN_CLICKED both). Other
//     keys go to the control and raise nothing. (Windows would click a
//     focused default push button on Return; the table has no default push
//     buttons, so Return always means IDOK here.)
//   Default processing: WM_SYSCOMMAND SC_CLOSE sends WM_CLOSE (DefWindowProc),
//     whose default processing posts WM_COMMAND IDCANCEL BN_CLICKED unless an
//     IDCANCEL control is disabled (DefDlgProc).
//   After OnInitDialog returns true the focus goes, as on Windows, to the
//     first tab stop.
// Messages that Windows posts go through PreTranslateMessage and then
// WindowProc; messages that Windows sends go to WindowProc. Once the window is
// destroyed nothing reaches the dialog. Every member runs inside the dialog
// and calls into it with no state lock held.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "framework/dialog.h"
#include "framework/messages.h"
#include "platform/headless/headless_controls.h"
#include "platform/headless/message_loop.h"
#include "platform/headless/shell_record.h"
#include "platform/headless/window_life.h"

constexpr uint32_t kCbnSetFocus = 3;                  // CBN_SETFOCUS
constexpr uint32_t kCbnKillFocus = 4;                 // CBN_KILLFOCUS

class NotificationRules {
public:
    NotificationRules(CDialog& dialog, HeadlessControls& controls, WindowLife& life, ShellRecord& shell,
                      MessageLoop& loop);

    // OnInitDialog (as WM_INITDIALOG) of the attached dialog, then the default focus.
    void InitDialog();
    intptr_t Send(const Message& m);                     // WindowProc
    bool Translate(const Message& m);                    // PreTranslateMessage: true when it took the message
    void Notify(int id, uint32_t code);                  // WM_COMMAND with a notification
    void Deliver(const Message& m);                      // a posted message
    void DialogKey(const Message& m);
    // A character after PreTranslateMessage: false when refused.
    bool InsertChar(int id, unsigned character);
    void MoveFocus(int id);
    // The listener (when changed), then EN_UPDATE and EN_CHANGE for an edit.
    void TextChanged(int id, const std::string& text, bool changed, bool isEdit);
    intptr_t DefaultProcessing(uint32_t message, uintptr_t wParam, intptr_t lParam);

    // The listener, with the position a progress bar shows now.
    void ProgressChanged(int id, int position);

    // Called inside the dialog, outside every lock, whenever a control's text
    // changes.
    void SetTextListener(std::function<void(int id, const std::string& text)> listener);
    // Called the same way whenever a progress bar's position changes: every
    // position, as it is set (a fast job is done between two looks).
    void SetProgressListener(std::function<void(int id, int position)> listener);

private:
    CDialog& dialog_;
    HeadlessControls& controls_;
    WindowLife& life_;
    ShellRecord& shell_;
    MessageLoop& loop_;
    std::mutex listenerMutex_;
    std::function<void(int, const std::string&)> textListener_;
    std::function<void(int, int)> progressListener_;
};
