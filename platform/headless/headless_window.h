#pragma once
// The headless window backend: an in-memory IDialogWindow for the tests and
// for the Linux console front end. This class is the façade; each job lives
// in a part of its own:
//   HeadlessControls    the controls' state and each control's own rules
//   NotificationRules   what reaches the dialog, in Windows' order
//   UserDriver          the user's clicks, keys, typing and drops
//   MessageLoop         posted messages, the timers (TimerQueue) and the pump
//   DialogThread        the one thread inside the dialog
//   ScriptedDialogs     message boxes and file dialogs answered from a script
//   ShellRecord         tooltips, system menu, icons, the about box, ...
//   WindowLife          opened, ended, destroyed (late calls counted)
//
// Threads. One thread at a time is inside the dialog: it runs the dialog's
// handlers, the hooks of the test and the work of every request. Every member
// may be called from any thread. A request (every IDialogWindow member but the
// pump, and every user action) from a thread that is not inside is handed to
// the thread inside and returns when that thread has run it, as SendMessage
// does: while the test thread (or the console program's main thread) pumps,
// a job's thread that sets a control's text or shows a message box waits for
// the pump to run it. When nobody is inside, the calling thread goes in
// itself, so a request never waits for a thread that does not process
// messages. Posting (PostMessage, PostTask) never waits. What the window shows
// (Text, Enabled, MessageBoxes, ...) and the set-up calls read and write state
// only and never wait for the thread inside. No state lock is held while the
// backend calls into the dialog or a hook (a call made while holding one
// aborts at once).
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "framework/dialog.h"
#include "framework/window.h"
#include "platform/headless/dialog_thread.h"
#include "platform/headless/headless_controls.h"
#include "platform/headless/message_loop.h"
#include "platform/headless/notification_rules.h"
#include "platform/headless/scripted_dialogs.h"
#include "platform/headless/shell_record.h"
#include "platform/headless/timer_queue.h"
#include "platform/headless/user_driver.h"
#include "platform/headless/window_life.h"
#include "ports/clock.h"

constexpr int kHeadlessMainTemplate = 102;            // IDD_RODEDIZ_DIALOG

class HeadlessWindow final : public IDialogWindow {
public:
    // Timers run on clock. AdvanceTime needs a VirtualClock: the one passed,
    // else clock itself when it is one.
    HeadlessWindow(CDialog& dialog, IClock& clock, VirtualClock* virtualClock = nullptr);
    ~HeadlessWindow() override;
    HeadlessWindow(const HeadlessWindow&) = delete;
    HeadlessWindow& operator=(const HeadlessWindow&) = delete;

    // --- set-up (before Open) ---
    void AddControl(const ControlRow& row);            // adds or replaces
    void SetWindowOrigin(Point origin);
    void SetString(int stringResource, const std::string& text); // for LoadString
    void SetHasSystemMenu(bool has);

    // --- life ---
    // Attach + OnInitDialog (as WM_INITDIALOG), then the default focus.
    void Open();
    bool IsOpen() const;
    bool Ended() const;
    int Result() const;                                  // 0 until ended
    // The window is gone (RunModal returned): later calls change nothing and
    // reach no dialog code; they are counted.
    void MarkDestroyed();
    bool Destroyed() const;
    int CallsAfterDestroy() const;

    // --- the user (see UserDriver; each runs inside the dialog) ---
    // A click of the mouse: false when the control is disabled, unknown, not
    // there for the mouse (redrawing off) or the click was eaten.
    bool Click(int id);
    // BM_CLICK: a program clicks the button, whatever the window shows (the
    // engineering controls that the dialog keeps from drawing).
    bool SendClick(int id);
    bool DoubleClick(int id);
    bool SecondClick(int id);                            // a double click's second click alone
    bool ClickStatic(int id);                            // STN_CLICKED on a notify static
    bool PressKey(uintptr_t vk, int focusedControlId = kCurrentFocus);
    // A typed character (8: Backspace); the caret is at the end of the text.
    // false when PreTranslateMessage or FilterChar took it or the edit refused it.
    bool TypeChar(int id, unsigned character);
    int TypeText(int id, const std::string& text);       // characters taken
    void LButtonDown(int id, Point clientPoint = {});
    bool DropFiles(const std::vector<std::string>& paths, Point cursor); // false: not accepting
    intptr_t DeviceChange(uintptr_t event, intptr_t data = 0);
    void SystemCommand(uint32_t commandId);
    void Close();                                        // the close box; processes what it posts
    bool SelectComboRow(int id, int row);
    bool DropDownCombo(int id);                          // CBN_DROPDOWN
    void SetCursorPos(Point p);

    // --- the message queue ---
    void PostMessage(const Message& message);            // copies message.dropped
    void PostTask(std::function<void()> task);           // runs inside the dialog, on the pumping thread
    int ProcessPostedMessages();                         // everything posted so far; returns the count
    void SetPumpSafetyLimit(std::chrono::milliseconds limit); // 0: none (a console front end)
    bool PumpGaveUp() const;                             // a pump hit the safety limit
    void Wake();                                         // wakes a waiting pump
    // A window shown by another toolkit (see MessageLoop::SetHost).
    void SetHost(std::function<void()> wake, std::function<void(std::chrono::milliseconds)> idle,
                 std::chrono::milliseconds poll);

    // --- timers ---
    bool FireTimer(int timerId);                         // false: not running
    int RunDueTimers();                                  // returns how many fired
    bool AdvanceTime(uint64_t ms);                       // false: no VirtualClock
    std::vector<TimerInfo> RunningTimers() const;        // by identifier

    // --- message boxes and file dialogs (see ScriptedDialogs) ---
    void QueueAnswer(int answer);                        // for the next question
    void SetDefaultAnswer(int answer);                   // when the script is empty (IDOK)
    // Called inside the dialog when a box appears; an answer it returns
    // answers a question (OK boxes always return IDOK).
    void SetMessageBoxHook(std::function<std::optional<int>(const MessageBoxRecord&)> hook);
    std::vector<MessageBoxRecord> MessageBoxes() const;
    void QueueFileDialog(std::optional<FileDialogResult> result); // nullopt: cancelled
    void QueueFilePath(const std::string& path);         // name = the part after the last separator
    // Asked when the script is empty (no hook and no script: cancelled).
    void SetFileDialogHook(std::function<std::optional<FileDialogResult>(const FileDialogSpec&)> hook);
    std::vector<FileDialogSpec> FileDialogs() const;

    // Called inside the dialog whenever a control's text changes.
    void SetTextListener(std::function<void(int id, const std::string& text)> listener);
    // Called inside the dialog whenever a progress bar's position changes:
    // every position a job sets, as it sets it (a job's thread waits while
    // the thread inside calls it).
    void SetProgressListener(std::function<void(int id, int position)> listener);

    // --- what the window shows ---
    std::optional<HeadlessControl> Control(int id) const;
    std::vector<int> ControlIds() const;                 // template order
    std::string Text(int id) const;
    bool Enabled(int id) const;
    bool Visible(int id) const;                          // false as well while redrawing is off
    bool Redraw(int id) const;
    bool Checked(int id) const;
    int TextLimit(int id) const;
    std::vector<std::string> ComboRows(int id) const;
    int ComboSel(int id) const;
    int ProgressPos(int id) const;
    std::pair<int, int> ProgressRange(int id) const;
    Colour ProgressBkColour(int id) const;
    Colour ProgressBarColour(int id) const;
    int ButtonBitmap(int id) const;
    int Focus() const;
    Point WindowOrigin() const;
    bool ToolTipCreated() const;
    bool ToolTipActive() const;
    int ToolTipMaxWidth() const;
    std::vector<ToolTipInfo> ToolTips() const;           // in the order added
    std::vector<SystemMenuItem> SystemMenu() const;
    bool AcceptsFiles() const;
    std::vector<int> Icons() const;                      // every SetIcon, in order
    int AboutBoxesShown() const;
    std::vector<DefaultCall> DefaultCalls() const;
    int DefaultProcessingCount() const;
    std::vector<int> UnknownControls() const;            // identifiers asked for that no control has

    // --- IDialogWindow ---
    void SetWindowText(int id, const std::string& text) override;
    std::string GetWindowText(int id) override;
    void EnableWindow(int id, bool enable) override;
    bool IsWindowEnabled(int id) override;
    void ShowWindow(int id, bool show) override;
    bool IsWindowVisible(int id) override;
    void SetRedraw(int id, bool redraw) override;
    void SetFocus(int id) override;
    Rect GetWindowRect(int id) override;
    void SetCheck(int id, bool checked) override;
    bool GetCheck(int id) override;
    void SetButtonBitmap(int id, int bitmapResource) override;
    void LimitText(int id, int characters) override;
    int ComboAddString(int id, const std::string& text) override;
    void ComboSetCurSel(int id, int row) override;
    int ComboGetCurSel(int id) override;
    std::string ComboGetRowText(int id, int row) override;
    void ProgressSetRange(int id, int low, int high) override;
    void ProgressSetPos(int id, int position) override;
    void ProgressSetBkColour(int id, Colour c) override;
    void ProgressSetBarColour(int id, Colour c) override;
    void ToolTipCreate() override;
    void ToolTipActivate(bool active) override;
    void ToolTipAddTool(int id, const std::string& text) override;
    void ToolTipUpdateTipText(int id, const std::string& text) override;
    void ToolTipSetMaxTipWidth(int width) override;
    void SetTimer(int timerId, unsigned periodMs) override;
    void KillTimer(int timerId) override;
    int MessageBox(const std::string& text, const std::string& caption, unsigned type) override;
    bool RunFileDialog(const FileDialogSpec& spec, FileDialogResult& result) override;
    void DragAcceptFiles(bool accept) override;
    void AppendSystemMenu(int commandId, const std::string& text) override;
    bool HasSystemMenu() override;
    void SetIcon(int iconResource) override;
    void ShowAboutBox() override;
    Point GetCursorPos() override;
    std::string LoadString(int stringResource) override;
    void EndDialog(int result) override;
    intptr_t DefaultProcessing(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
    // Runs requests handed over, posted messages, then due timers, else waits
    // a few ms of real time, until done() holds or the safety limit (60 s of
    // real time unless set) runs out; the latter sets PumpGaveUp(). From a
    // thread that is not inside, first waits until the dialog is free.
    void PumpMessagesUntil(const std::function<bool()>& done) override;
    // Runs fn inside the dialog (on the pumping thread while one pumps).
    void RunOnWindowThread(const std::function<void()>& fn) override;

private:
    // Runs a state-only request of the dialog inside, unless the window is gone.
    template <typename Fn>
    void Request(Fn fn)
    {
        thread_.Run([&] {
            if (life_.Live()) fn();
        });
    }

    CDialog& dialog_;
    WindowLife life_;
    HeadlessControls controls_;
    ShellRecord shell_;
    ScriptedDialogs scripts_;
    DialogThread thread_;
    MessageLoop loop_;
    NotificationRules rules_;
    UserDriver user_;
};

// The window system that runs dialogs on this window, for this header's users.
#include "platform/headless/headless_window_system.h"
