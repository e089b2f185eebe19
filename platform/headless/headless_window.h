#pragma once
// The headless window backend: an in-memory IDialogWindow for the tests and
// for the Linux console front end.
//
// Controls. The main dialog (template 102, IDD_RODEDIZ_DIALOG) gets one
// control for each row of MainDialogControls(), the same table the Win32 .rc
// is built from; any other template starts with no controls (a test adds its
// own with AddControl). Identifier kNoControl (0) stands for the dialog
// window itself (its caption, its rectangle, focus on no control).
//
// Geometry. Dialog units become pixels with fixed base units: x * 6 / 4 and
// y * 13 / 8 (kHeadlessBaseUnitX/Y, each rounded as MulDiv does). These are
// the classic 96-DPI base units (6 by 13), taken as an approximation of
// Arial 10 point; they are not measured from a font. The client area's top
// left corner lies at a window origin in screen coordinates (100,100 unless
// set), so GetWindowRect gives screen coordinates; GetCursorPos returns a
// point the test sets.
//
// Threads. Every member may be called from any thread. One mutex guards the
// state; it is never held while the backend calls into the dialog
// (notifications, message-map dispatch, PreTranslateMessage, FilterChar,
// OnInitDialog) or into a hook of the test (message-box and file-dialog
// hooks, the text listener). There is no window thread of its own: a
// notification that a call raises is dispatched on the calling thread before
// the call returns (as SendMessage from the window's own thread would), and
// RunOnWindowThread(fn) just calls fn. Two threads may therefore be inside
// the dialog's handlers at once; a front end that wants every user action on
// one thread posts it (PostTask) to the thread that runs PumpMessagesUntil.
// The driver calls (Click, PressKey, Close, ...) run on the calling thread.
//
// Notifications, raised at the moments Windows raises them:
//   SetWindowText on an edit: EN_UPDATE, then EN_CHANGE (even when the text
//     is unchanged, as WM_SETTEXT does); on other controls nothing.
//   Focus changes (SetFocus, a click on a button or an edit, disabling or
//     hiding the focused control): the focus moves first, then EN_KILLFOCUS
//     for the edit losing it, then EN_SETFOCUS for the edit gaining it
//     (skipped if a kill-focus handler moved the focus elsewhere); combo
//     boxes raise CBN_KILLFOCUS/CBN_SETFOCUS the same way. Disabling or
//     hiding the focused control leaves the focus on no control (kNoControl).
//   ComboSetCurSel: nothing; SelectComboRow (the user): focus to the combo
//     box, then CBN_SELCHANGE. DropDownCombo: focus, then CBN_DROPDOWN.
//   Typing (TypeChar): the edit gets the focus if it has not (the user's
//     click into it), WM_CHAR goes to PreTranslateMessage, then the bound
//     control's filter (CDialog::FilterChar), then the edit takes it: upper
//     case for EditUpper, digits only for EditDigitsRight (ES_NUMBER), not
//     past the text limit (SetWindowText is not limited, as on Windows);
//     then EN_UPDATE and EN_CHANGE.
//   Click on a button: WM_LBUTTONDOWN to PreTranslateMessage, focus to the
//     button, an auto check box toggles, then BN_CLICKED.
//   Double click on a notify static: STN_CLICKED, then STN_DBLCLK (the first
//     click of a double click is a click).
//   Close box: WM_SYSCOMMAND SC_CLOSE; its default processing sends WM_CLOSE,
//     whose default processing posts WM_COMMAND IDCANCEL BN_CLICKED (as
//     DefWindowProc and DefDlgProc do), so the dialog's OnCancel runs.
//   Keys (PressKey, posted WM_KEYDOWN): PreTranslateMessage first; then the
//     dialog keys: Escape sends WM_COMMAND IDCANCEL, Return WM_COMMAND IDOK
//     (BN_CLICKED both). Other keys go to the control and raise nothing.
//     (Windows would click a focused default push button on Return; the table
//     has no default push buttons, so Return always means IDOK here.)
//   After OnInitDialog returns true the focus goes, as on Windows, to the
//     first tab stop: taken here to be the first visible, enabled button,
//     edit or combo box in template order.
//   Redrawing switched off (SetRedraw false): the control is not drawn and
//     behaves as hidden, as the system's default handling makes it: not
//     visible, no tab stop, no mouse click (SendClick still reaches it).
// Timers: periods under 10 ms are raised to 10 (USER_TIMER_MINIMUM); a timer
// keeps its period until killed; setting a running timer restarts it.
// Messages that Windows posts (keys, clicks, timers, system commands, dropped
// files) go through PreTranslateMessage and then WindowProc; messages that
// Windows sends (notifications, WM_DEVICECHANGE, WM_CLOSE) go to WindowProc.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/control_table.h"
#include "framework/dialog.h"
#include "framework/window.h"
#include "platform/portable/clock.h"

constexpr int kHeadlessBaseUnitX = 6;   // pixels per 4 horizontal dialog units
constexpr int kHeadlessBaseUnitY = 13;  // pixels per 8 vertical dialog units
constexpr Point kHeadlessWindowOrigin = {100, 100};
constexpr Colour kHeadlessDefaultColour = 0xFF000000; // CLR_DEFAULT: the system's colour
constexpr int kHeadlessMainTemplate = 102;            // IDD_RODEDIZ_DIALOG
constexpr uint32_t kHeadlessLButtonDblClk = 0x0203;   // WM_LBUTTONDBLCLK
constexpr int kCurrentFocus = -1;                     // PressKey: the control that has the focus
constexpr uint32_t kCbnSetFocus = 3;                  // CBN_SETFOCUS
constexpr uint32_t kCbnKillFocus = 4;                 // CBN_KILLFOCUS

// One control as the backend keeps it.
struct HeadlessControl {
    int id = 0;
    ControlKind kind = ControlKind::Static;
    ControlStyle style = ControlStyle::Static;
    Rect dialogUnits;                   // left, top, right, bottom in dialog units
    std::string text;                   // initially the caption
    bool enabled = true;
    bool visible = true;
    bool redraw = true;
    bool checked = false;               // auto check boxes only
    int textLimit = 0;                  // 0: none set
    std::vector<std::string> comboRows;
    int comboSel = -1;
    int progressLow = 0, progressHigh = 100, progressPos = 0;
    Colour progressBk = kHeadlessDefaultColour;
    Colour progressBar = kHeadlessDefaultColour;
    int bitmap = 0;                     // button bitmap resource, 0: none
};

struct MessageBoxRecord {
    std::string text;
    std::string caption;                // as passed; empty: the program's title
    unsigned type = 0;
    int answer = 0;                     // 0 while the box is still open
};

struct TimerInfo {
    int id = 0;
    unsigned periodMs = 0;
    uint64_t dueMs = 0;                 // next due time on the injected clock
};

struct ToolTipInfo {
    int id = 0;
    std::string text;
};

struct SystemMenuItem {
    int commandId = 0;
    std::string text;
};

struct DefaultCall {
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};

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

    // --- the user (driver API; each runs on the calling thread) ---
    // A click of the mouse: false when the control is disabled, unknown, not
    // there for the mouse (redrawing off) or the click was eaten.
    bool Click(int id);
    // BM_CLICK: a program clicks the button, whatever the window shows (the
    // engineering controls that the dialog keeps from drawing).
    bool SendClick(int id);
    bool DoubleClick(int id);
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

    // --- the message queue of the "window thread" ---
    void PostMessage(const Message& message);            // copies message.dropped
    void PostTask(std::function<void()> task);           // runs on the pumping thread
    int ProcessPostedMessages();                         // everything posted so far; returns the count
    void SetPumpSafetyLimit(std::chrono::milliseconds limit); // 0: none (a console front end)
    bool PumpGaveUp() const;                             // a pump hit the safety limit
    void Wake();                                         // wakes a waiting pump

    // --- timers ---
    bool FireTimer(int timerId);                         // false: not running
    int RunDueTimers();                                  // returns how many fired
    bool AdvanceTime(uint64_t ms);                       // false: no VirtualClock
    std::vector<TimerInfo> RunningTimers() const;        // by identifier

    // --- message boxes and file dialogs ---
    void QueueAnswer(int answer);                        // for the next question
    void SetDefaultAnswer(int answer);                   // when the script is empty (IDOK)
    // Called outside the lock when a box appears; an answer it returns
    // answers a question (OK boxes always return IDOK).
    void SetMessageBoxHook(std::function<std::optional<int>(const MessageBoxRecord&)> hook);
    std::vector<MessageBoxRecord> MessageBoxes() const;
    void QueueFileDialog(std::optional<FileDialogResult> result); // nullopt: cancelled
    void QueueFilePath(const std::string& path);         // name = the part after the last separator
    // Asked when the script is empty (no hook and no script: cancelled).
    void SetFileDialogHook(std::function<std::optional<FileDialogResult>(const FileDialogSpec&)> hook);
    std::vector<FileDialogSpec> FileDialogs() const;

    // Called outside the lock whenever a control's text changes.
    void SetTextListener(std::function<void(int id, const std::string& text)> listener);
    // Called outside the lock whenever a progress bar's position changes.
    void SetProgressListener(std::function<void(int id, int position)> listener);

    // --- what the window shows ---
    std::optional<HeadlessControl> Control(int id) const;
    std::vector<int> ControlIds() const;                 // template order
    std::string Text(int id) const;
    bool Enabled(int id) const;
    bool Visible(int id) const;
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
    // Processes posted messages, then due timers, else waits a few ms of real
    // time, until done() holds or the safety limit (60 s of real time unless
    // set) runs out; the latter sets PumpGaveUp().
    void PumpMessagesUntil(const std::function<bool()>& done) override;
    void RunOnWindowThread(const std::function<void()>& fn) override; // calls fn

private:
    class Guard;
    struct Posted {
        Message message;
        std::shared_ptr<std::vector<std::string>> dropped;
        std::function<void()> task;
    };
    struct TimerState {
        unsigned periodMs = 0;
        uint64_t dueMs = 0;
    };

    // Under the lock.
    HeadlessControl* Find(int id);
    const HeadlessControl* Find(int id) const;
    HeadlessControl* FindOrNote(int id); // records unknown identifiers
    bool Live();                         // false after MarkDestroyed (counts the call)
    Rect ToScreen(const Rect& dialogUnits) const;

    // Outside the lock.
    void CheckUnlocked() const;
    intptr_t Send(const Message& m);
    void Notify(int id, uint32_t code);
    bool Translate(const Message& m);
    void Deliver(const Message& m);      // a posted message: PreTranslate, dialog keys, WindowProc
    void DialogKey(const Message& m);
    bool InsertChar(int id, unsigned character);
    void MoveFocus(int id);              // the focus change and its notifications
    void TextChanged(int id, const std::string& text, bool changed, bool isEdit);
    void SetDefaultFocus();
    bool ProcessOnePosted();

    CDialog& dialog_;
    IClock& clock_;
    VirtualClock* virtualClock_;

    mutable std::mutex mutex_;
    mutable std::atomic<std::thread::id> owner_{};
    std::condition_variable wake_;
    HeadlessControl self_;               // the dialog window itself (id 0)
    std::vector<HeadlessControl> controls_;
    std::map<int, size_t> index_;
    std::vector<int> unknown_;
    Point origin_ = kHeadlessWindowOrigin;
    Point cursor_ = kHeadlessWindowOrigin;
    std::map<int, std::string> strings_;
    bool hasSystemMenu_ = true;
    bool open_ = false;
    bool ended_ = false;
    int result_ = 0;
    bool destroyed_ = false;
    int callsAfterDestroy_ = 0;
    int focus_ = kNoControl;
    std::deque<Posted> posted_;
    std::chrono::milliseconds safetyLimit_{60000};
    bool pumpGaveUp_ = false;
    std::map<int, TimerState> timers_;
    std::deque<int> answers_;
    int defaultAnswer_ = IDOK;
    std::function<std::optional<int>(const MessageBoxRecord&)> boxHook_;
    std::vector<MessageBoxRecord> boxes_;
    std::deque<std::optional<FileDialogResult>> fileAnswers_;
    std::function<std::optional<FileDialogResult>(const FileDialogSpec&)> fileHook_;
    std::vector<FileDialogSpec> fileDialogs_;
    std::function<void(int, const std::string&)> textListener_;
    std::function<void(int, int)> progressListener_;
    bool toolTipCreated_ = false;
    bool toolTipActive_ = false;
    int toolTipMaxWidth_ = -1;
    std::vector<ToolTipInfo> toolTips_;
    std::vector<SystemMenuItem> systemMenu_;
    bool acceptsFiles_ = false;
    std::vector<int> icons_;
    int aboutBoxes_ = 0;
    std::vector<DefaultCall> defaultCalls_;
};

// The window system of the headless backend: runs each dialog on a
// HeadlessWindow and keeps the windows (destroyed, but readable) for as long
// as it lives, so that a test reads the final state after RunModal returned
// and late calls from the dialog's code never reach freed memory.
class HeadlessWindowSystem final : public IWindowSystem {
public:
    explicit HeadlessWindowSystem(IClock& clock, VirtualClock* virtualClock = nullptr);

    bool InitCommonControls(uint32_t structureSize, uint32_t classMask) override; // records; true
    void SetRegistryKey(const std::string& company) override;
    // Creates the window, calls onCreate (queue answers there: OnInitDialog
    // may ask), Opens it, calls onOpen, pumps until EndDialog and returns its
    // result; -1 when the pump gave up first. The window is then destroyed.
    int RunModal(CDialog& dialog) override;

    std::function<void(HeadlessWindow&)> onCreate;
    std::function<void(HeadlessWindow&)> onOpen;
    void SetPumpSafetyLimit(std::chrono::milliseconds limit); // for every window; 0: none

    struct CommonControlsCall {
        uint32_t structureSize = 0;
        uint32_t classMask = 0;
    };
    std::vector<CommonControlsCall> CommonControlsCalls() const;
    std::string RegistryKey() const;
    HeadlessWindow* LastWindow() const;                  // nullptr before the first RunModal
    int ModalRuns() const;

private:
    IClock& clock_;
    VirtualClock* virtualClock_;
    mutable std::mutex mutex_;
    std::vector<CommonControlsCall> commonControls_;
    std::string registryKey_;
    std::chrono::milliseconds safetyLimit_{60000};
    std::vector<std::unique_ptr<HeadlessWindow>> windows_;
};
