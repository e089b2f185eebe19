#pragma once
// The window layer on Qt 6 Widgets. The dialog's controls, the rules of what
// reaches the dialog and when, its timers and its one thread are the
// in-memory window's (HeadlessWindow, the model); this backend shows that
// state in real widgets (QtDialogSurface) and turns the user's clicks, keys,
// drops and closing into the model's user actions, so that both backends
// notify the dialog alike.
//
// Threads. The GUI thread pumps the model while the dialog runs, so it is
// the thread inside the dialog: a worker's request is handed to it and waits,
// as SendMessage does. The model's pump waits in Qt's event loop; every wake
// of the model (a post, a request handed over) posts an event that wakes Qt,
// and that event runs what is waiting even inside a nested loop (a message
// box, the file dialog), as a modal loop keeps running sent messages. Once
// the window is gone every request returns at once and changes nothing.
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "framework/dialog.h"
#include "platform/headless/headless_window.h"
#include "platform/qt/qt_control_host.h"
#include "platform/qt/qt_dialog_surface.h"
#include "platform/qt/qt_standard_dialogs.h"

class QtDialogWindow;

// Receives the model's wake-ups on the GUI thread.
class QtWakeReceiver final : public QObject {
public:
    explicit QtWakeReceiver(QtDialogWindow& window) : window_(window) {}

protected:
    void customEvent(QEvent* event) override;

private:
    QtDialogWindow& window_;
};

class QtDialogWindow final : public IDialogWindow, public QtControlHost {
public:
    // The program's title captions message boxes that name no caption.
    QtDialogWindow(CDialog& dialog, IClock& clock, VirtualClock* virtualClock, std::string programTitle);
    ~QtDialogWindow() override;

    // Builds and shows the window, opens the dialog (OnInitDialog), calls
    // opened (inside the dialog, once shown) and runs until EndDialog;
    // returns its result. The widgets go when it returns.
    int Run(const std::function<void(QtDialogWindow&)>& opened);

    // --- for the program and the tests ---
    HeadlessWindow& Model() { return model_; }
    QtDialogSurface* Surface() const { return surface_; }
    QWidget* Widget(int id) const;                         // nullptr: no such control (or no window)
    void PostMessage(const Message& message) { model_.PostMessage(message); }
    // Processes messages and Qt's events until done() holds.
    void PumpUntil(const std::function<bool()>& done) { PumpMessagesUntil(done); }
    // Called when a box or dialog of the window is on the screen.
    void SetModalShown(ModalShown shown);
    // Brings the widgets up to the model's state now (else it happens on the next wake).
    void Refresh();

    // --- QtControlHost ---
    const QFont& DialogFont() const override { return font_; }
    CtlColorResult ColoursOf(int id) override;
    void DrawItem(int id, const DrawItemInfo& info, ICanvas& canvas) override;
    void PaintDialog(ICanvas& canvas, const Rect& client) override;
    int FocusedControl() override { return model_.Focus(); }
    void UserClick(int id) override;
    void UserDoubleClick(int id) override;
    void UserPressOnDialog(Point client) override;
    void UserKey(uintptr_t vk, int id) override;
    void UserChar(int id, unsigned character) override;
    void UserDropDown(int id) override;
    void UserPickRow(int id, int row) override;
    void UserDrop(const std::vector<std::string>& paths, Point cursor) override;
    void UserClose() override;
    void UserSystemCommand(uint32_t command) override;

    // --- IDialogWindow ---
    void SetWindowText(int id, const std::string& text) override { Forward([&] { model_.SetWindowText(id, text); }); }
    std::string GetWindowText(int id) override { return model_.GetWindowText(id); }
    void EnableWindow(int id, bool enable) override { Forward([&] { model_.EnableWindow(id, enable); }); }
    bool IsWindowEnabled(int id) override { return model_.IsWindowEnabled(id); }
    void ShowWindow(int id, bool show) override { Forward([&] { model_.ShowWindow(id, show); }); }
    bool IsWindowVisible(int id) override { return model_.IsWindowVisible(id); }
    void SetRedraw(int id, bool redraw) override { Forward([&] { model_.SetRedraw(id, redraw); }); }
    void SetFocus(int id) override { Forward([&] { model_.SetFocus(id); }); }
    Rect GetWindowRect(int id) override;
    void SetCheck(int id, bool checked) override { Forward([&] { model_.SetCheck(id, checked); }); }
    bool GetCheck(int id) override { return model_.GetCheck(id); }
    void SetButtonBitmap(int id, int bitmapResource) override { Forward([&] { model_.SetButtonBitmap(id, bitmapResource); }); }
    void LimitText(int id, int characters) override { model_.LimitText(id, characters); }
    int ComboAddString(int id, const std::string& text) override;
    void ComboSetCurSel(int id, int row) override { Forward([&] { model_.ComboSetCurSel(id, row); }); }
    int ComboGetCurSel(int id) override { return model_.ComboGetCurSel(id); }
    std::string ComboGetRowText(int id, int row) override { return model_.ComboGetRowText(id, row); }
    void ProgressSetRange(int id, int low, int high) override { Forward([&] { model_.ProgressSetRange(id, low, high); }); }
    void ProgressSetPos(int id, int position) override { Forward([&] { model_.ProgressSetPos(id, position); }); }
    void ProgressSetBkColour(int id, Colour c) override { Forward([&] { model_.ProgressSetBkColour(id, c); }); }
    void ProgressSetBarColour(int id, Colour c) override { Forward([&] { model_.ProgressSetBarColour(id, c); }); }
    void ToolTipCreate() override { Forward([&] { model_.ToolTipCreate(); }); }
    void ToolTipActivate(bool active) override { Forward([&] { model_.ToolTipActivate(active); }); }
    void ToolTipAddTool(int id, const std::string& text) override { Forward([&] { model_.ToolTipAddTool(id, text); }); }
    void ToolTipUpdateTipText(int id, const std::string& text) override
    {
        Forward([&] { model_.ToolTipUpdateTipText(id, text); });
    }
    void ToolTipSetMaxTipWidth(int width) override { model_.ToolTipSetMaxTipWidth(width); }
    void SetTimer(int timerId, unsigned periodMs) override { model_.SetTimer(timerId, periodMs); }
    void KillTimer(int timerId) override { model_.KillTimer(timerId); }
    int MessageBox(const std::string& text, const std::string& caption, unsigned type) override;
    bool RunFileDialog(const FileDialogSpec& spec, FileDialogResult& result) override;
    void DragAcceptFiles(bool accept) override { Forward([&] { model_.DragAcceptFiles(accept); }); }
    void AppendSystemMenu(int commandId, const std::string& text) override
    {
        Forward([&] { model_.AppendSystemMenu(commandId, text); });
    }
    bool HasSystemMenu() override { return model_.HasSystemMenu(); }
    void SetIcon(int iconResource) override { Forward([&] { model_.SetIcon(iconResource); }); }
    void ShowAboutBox() override;
    Point GetCursorPos() override;
    std::string LoadString(int stringResource) override { return model_.LoadString(stringResource); }
    void EndDialog(int result) override { model_.EndDialog(result); }
    intptr_t DefaultProcessing(uint32_t message, uintptr_t wParam, intptr_t lParam) override
    {
        return model_.DefaultProcessing(message, wParam, lParam);
    }
    void PumpMessagesUntil(const std::function<bool()>& done) override;
    void RunOnWindowThread(const std::function<void()>& fn) override { model_.RunOnWindowThread(fn); }

private:
    friend class QtWakeReceiver;
    template <typename Fn>
    void Forward(Fn fn)
    {
        fn();
        Wake();
    }
    void Wake();                 // any thread: the GUI thread refreshes (and runs what waits) soon
    void OnWake();               // the GUI thread
    void WaitForEvents(std::chrono::milliseconds most);
    bool OnGuiThread() const;
    void Build();
    // Runs fn inside the dialog, unless the window is gone.
    void IntoDialog(const std::function<void()>& fn);
    ModalShown ModalListener();

    CDialog& dialog_;
    HeadlessWindow model_;
    const std::string title_;
    QFont font_;
    QtBaseUnits units_;
    QtWakeReceiver waker_;
    QPointer<QtDialogSurface> surface_;
    QTimer idleTimer_;
    std::atomic<bool> wakePending_{false};
    std::atomic<bool> pumping_{false};
    int shownIcon_ = 0;
    int shownFocus_ = -1;
    std::mutex modalMutex_;
    ModalShown modalShown_;
};
