#include "platform/headless/headless_window.h"

#include "resources/resource.h"

HeadlessWindow::HeadlessWindow(CDialog& dialog, IClock& clock, VirtualClock* virtualClock)
    : dialog_(dialog),
      shell_(kHeadlessWindowOrigin),
      thread_([this] { loop_.Wake(); }),
      loop_(thread_, life_, clock, virtualClock ? virtualClock : dynamic_cast<VirtualClock*>(&clock),
            [this](const Message& m) { rules_.Deliver(m); }),
      rules_(dialog, controls_, life_, shell_, loop_),
      user_(rules_, controls_, life_, shell_, loop_)
{
    if (dialog.TemplateId() == kHeadlessMainTemplate) {
        for (const ControlRow& row : MainDialogControls()) controls_.Add(row);
        const DialogTemplateInfo& t = MainDialogTemplate();
        controls_.SetDialog(t.caption, {0, 0, t.width, t.height});
        // String 101 of the program's string table (the .rc holds the same text).
        shell_.SetString(IDS_ABOUTBOX, "About Rivuva Ravo(&A)...");
    }
}

HeadlessWindow::~HeadlessWindow() = default;

// ---------------------------------------------------------------- set-up and life

void HeadlessWindow::AddControl(const ControlRow& row) { controls_.Add(row); }
void HeadlessWindow::SetWindowOrigin(Point origin) { controls_.SetOrigin(origin); }
void HeadlessWindow::SetString(int stringResource, const std::string& text) { shell_.SetString(stringResource, text); }
void HeadlessWindow::SetHasSystemMenu(bool has) { shell_.SetHasSystemMenu(has); }

void HeadlessWindow::Open()
{
    thread_.Run([&] {
        if (!life_.Open()) return;
        dialog_.Attach(this);
        rules_.InitDialog();
    });
}

bool HeadlessWindow::IsOpen() const { return life_.IsOpen(); }
bool HeadlessWindow::Ended() const { return life_.Ended(); }
int HeadlessWindow::Result() const { return life_.Result(); }
bool HeadlessWindow::Destroyed() const { return life_.Destroyed(); }
int HeadlessWindow::CallsAfterDestroy() const { return life_.CallsAfterDestroy(); }

void HeadlessWindow::MarkDestroyed()
{
    thread_.Run([&] {
        life_.Destroy();
        loop_.Timers().Clear();
    });
    loop_.Wake();
}

// ---------------------------------------------------------------- the user

bool HeadlessWindow::Click(int id) { return thread_.Call([&] { return user_.Click(id); }); }
bool HeadlessWindow::SendClick(int id) { return thread_.Call([&] { return user_.SendClick(id); }); }
bool HeadlessWindow::DoubleClick(int id) { return thread_.Call([&] { return user_.DoubleClick(id); }); }
bool HeadlessWindow::SecondClick(int id) { return thread_.Call([&] { return user_.SecondClick(id); }); }
bool HeadlessWindow::ClickStatic(int id) { return thread_.Call([&] { return user_.ClickStatic(id); }); }
bool HeadlessWindow::TypeChar(int id, unsigned character) { return thread_.Call([&] { return user_.TypeChar(id, character); }); }
void HeadlessWindow::Close() { thread_.Run([&] { user_.Close(); }); }
bool HeadlessWindow::SelectComboRow(int id, int row) { return thread_.Call([&] { return user_.SelectComboRow(id, row); }); }
bool HeadlessWindow::DropDownCombo(int id) { return thread_.Call([&] { return user_.DropDownCombo(id); }); }
void HeadlessWindow::SetCursorPos(Point p) { shell_.SetCursorPos(p); }
void HeadlessWindow::SystemCommand(uint32_t commandId) { thread_.Run([&] { user_.SystemCommand(commandId); }); }

bool HeadlessWindow::PressKey(uintptr_t vk, int focusedControlId)
{
    return thread_.Call([&] { return user_.PressKey(vk, focusedControlId); });
}

int HeadlessWindow::TypeText(int id, const std::string& text)
{
    return thread_.Call([&] {
        int taken = 0;
        for (unsigned char ch : text)
            if (user_.TypeChar(id, ch)) ++taken;
        return taken;
    });
}

void HeadlessWindow::LButtonDown(int id, Point clientPoint)
{
    thread_.Run([&] { user_.LButtonDown(id, clientPoint); });
}

bool HeadlessWindow::DropFiles(const std::vector<std::string>& paths, Point cursor)
{
    return thread_.Call([&] { return user_.DropFiles(paths, cursor); });
}

intptr_t HeadlessWindow::DeviceChange(uintptr_t event, intptr_t data)
{
    return thread_.Call([&] { return user_.DeviceChange(event, data); });
}

// ---------------------------------------------------------------- the message queue and timers

void HeadlessWindow::PostMessage(const Message& message) { loop_.PostMessage(message); }
void HeadlessWindow::PostTask(std::function<void()> task) { loop_.PostTask(std::move(task)); }
int HeadlessWindow::ProcessPostedMessages() { return thread_.Call([&] { return loop_.ProcessPosted(); }); }
void HeadlessWindow::SetPumpSafetyLimit(std::chrono::milliseconds limit) { loop_.SetSafetyLimit(limit); }
bool HeadlessWindow::PumpGaveUp() const { return loop_.GaveUp(); }
void HeadlessWindow::Wake() { loop_.Wake(); }

void HeadlessWindow::SetHost(std::function<void()> wake, std::function<void(std::chrono::milliseconds)> idle,
                             std::chrono::milliseconds poll)
{
    loop_.SetHost(std::move(wake), std::move(idle), poll);
}
void HeadlessWindow::PumpMessagesUntil(const std::function<bool()>& done) { loop_.Pump(done); }
void HeadlessWindow::RunOnWindowThread(const std::function<void()>& fn) { thread_.Run(fn); }

bool HeadlessWindow::FireTimer(int timerId) { return thread_.Call([&] { return loop_.FireTimer(timerId); }); }
int HeadlessWindow::RunDueTimers() { return thread_.Call([&] { return loop_.RunDueTimers(); }); }
bool HeadlessWindow::AdvanceTime(uint64_t ms) { return thread_.Call([&] { return loop_.AdvanceTime(ms); }); }
std::vector<TimerInfo> HeadlessWindow::RunningTimers() const { return loop_.Timers().Running(); }

// ---------------------------------------------------------------- the script

void HeadlessWindow::QueueAnswer(int answer) { scripts_.QueueAnswer(answer); }
void HeadlessWindow::SetDefaultAnswer(int answer) { scripts_.SetDefaultAnswer(answer); }
std::vector<MessageBoxRecord> HeadlessWindow::MessageBoxes() const { return scripts_.MessageBoxes(); }
void HeadlessWindow::QueueFileDialog(std::optional<FileDialogResult> result) { scripts_.QueueFileDialog(std::move(result)); }
void HeadlessWindow::QueueFilePath(const std::string& path) { scripts_.QueueFilePath(path); }
std::vector<FileDialogSpec> HeadlessWindow::FileDialogs() const { return scripts_.FileDialogs(); }

void HeadlessWindow::SetMessageBoxHook(std::function<std::optional<int>(const MessageBoxRecord&)> hook)
{
    scripts_.SetMessageBoxHook(std::move(hook));
}

void HeadlessWindow::SetFileDialogHook(std::function<std::optional<FileDialogResult>(const FileDialogSpec&)> hook)
{
    scripts_.SetFileDialogHook(std::move(hook));
}

void HeadlessWindow::SetTextListener(std::function<void(int id, const std::string& text)> listener)
{
    rules_.SetTextListener(std::move(listener));
}

void HeadlessWindow::SetProgressListener(std::function<void(int id, int position)> listener)
{
    rules_.SetProgressListener(std::move(listener));
}

// ---------------------------------------------------------------- what the window shows

std::optional<HeadlessControl> HeadlessWindow::Control(int id) const { return controls_.Control(id); }
std::vector<int> HeadlessWindow::ControlIds() const { return controls_.Ids(); }
std::string HeadlessWindow::Text(int id) const { return controls_.Field(id, &HeadlessControl::text, std::string()); }
bool HeadlessWindow::Enabled(int id) const { return controls_.Field(id, &HeadlessControl::enabled, false); }
bool HeadlessWindow::Visible(int id) const { return controls_.Visible(id); }
bool HeadlessWindow::Redraw(int id) const { return controls_.Field(id, &HeadlessControl::redraw, false); }
bool HeadlessWindow::Checked(int id) const { return controls_.Field(id, &HeadlessControl::checked, false); }
int HeadlessWindow::TextLimit(int id) const { return controls_.Field(id, &HeadlessControl::textLimit, 0); }
int HeadlessWindow::ComboSel(int id) const { return controls_.Field(id, &HeadlessControl::comboSel, -1); }
int HeadlessWindow::ProgressPos(int id) const { return controls_.Field(id, &HeadlessControl::progressPos, 0); }
int HeadlessWindow::ButtonBitmap(int id) const { return controls_.Field(id, &HeadlessControl::bitmap, 0); }
int HeadlessWindow::Focus() const { return controls_.Focus(); }
Point HeadlessWindow::WindowOrigin() const { return controls_.Origin(); }
std::vector<int> HeadlessWindow::UnknownControls() const { return controls_.Unknown(); }

std::vector<std::string> HeadlessWindow::ComboRows(int id) const
{
    return controls_.Field(id, &HeadlessControl::comboRows, std::vector<std::string>());
}

std::pair<int, int> HeadlessWindow::ProgressRange(int id) const
{
    const std::optional<HeadlessControl> c = controls_.Control(id);
    return c ? std::make_pair(c->progressLow, c->progressHigh) : std::make_pair(0, 0);
}

Colour HeadlessWindow::ProgressBkColour(int id) const
{
    return controls_.Field(id, &HeadlessControl::progressBk, kHeadlessDefaultColour);
}

Colour HeadlessWindow::ProgressBarColour(int id) const
{
    return controls_.Field(id, &HeadlessControl::progressBar, kHeadlessDefaultColour);
}

bool HeadlessWindow::ToolTipCreated() const { return shell_.ToolTipCreated(); }
bool HeadlessWindow::ToolTipActive() const { return shell_.ToolTipActive(); }
int HeadlessWindow::ToolTipMaxWidth() const { return shell_.ToolTipMaxWidth(); }
std::vector<ToolTipInfo> HeadlessWindow::ToolTips() const { return shell_.ToolTips(); }
std::vector<SystemMenuItem> HeadlessWindow::SystemMenu() const { return shell_.SystemMenu(); }
bool HeadlessWindow::AcceptsFiles() const { return shell_.AcceptsFiles(); }
std::vector<int> HeadlessWindow::Icons() const { return shell_.Icons(); }
int HeadlessWindow::AboutBoxesShown() const { return shell_.AboutBoxesShown(); }
std::vector<DefaultCall> HeadlessWindow::DefaultCalls() const { return shell_.DefaultCalls(); }
int HeadlessWindow::DefaultProcessingCount() const { return static_cast<int>(shell_.DefaultCalls().size()); }

// ---------------------------------------------------------------- IDialogWindow: controls

void HeadlessWindow::SetWindowText(int id, const std::string& text)
{
    Request([&] {
        const std::optional<HeadlessControls::TextChange> change = controls_.SetText(id, text);
        if (!change) return;
        loop_.Wake();
        rules_.TextChanged(id, text, change->changed, change->isEdit);
    });
}

std::string HeadlessWindow::GetWindowText(int id)
{
    return thread_.Call([&] { return life_.Live() ? controls_.Text(id) : std::string(); });
}

void HeadlessWindow::EnableWindow(int id, bool enable)
{
    Request([&] {
        const bool loseFocus = controls_.SetEnabled(id, enable);
        loop_.Wake();
        if (loseFocus) rules_.MoveFocus(kNoControl);
    });
}

bool HeadlessWindow::IsWindowEnabled(int id)
{
    return thread_.Call([&] { return life_.Live() && controls_.IsEnabled(id); });
}

void HeadlessWindow::ShowWindow(int id, bool show)
{
    Request([&] {
        const bool loseFocus = controls_.SetVisible(id, show);
        loop_.Wake();
        if (loseFocus) rules_.MoveFocus(kNoControl);
    });
}

bool HeadlessWindow::IsWindowVisible(int id)
{
    return thread_.Call([&] { return life_.Live() && controls_.IsVisible(id); });
}

void HeadlessWindow::SetRedraw(int id, bool redraw)
{
    Request([&] { controls_.SetRedraw(id, redraw); });
}

void HeadlessWindow::SetFocus(int id)
{
    Request([&] {
        if (controls_.Reach(id)) rules_.MoveFocus(id);
    });
}

Rect HeadlessWindow::GetWindowRect(int id)
{
    return thread_.Call([&] { return life_.Live() ? controls_.ScreenRect(id) : Rect{}; });
}

void HeadlessWindow::SetCheck(int id, bool checked)
{
    Request([&] { controls_.SetCheck(id, checked); });
}

bool HeadlessWindow::GetCheck(int id)
{
    return thread_.Call([&] { return life_.Live() && controls_.GetCheck(id); });
}

void HeadlessWindow::SetButtonBitmap(int id, int bitmapResource)
{
    Request([&] { controls_.SetBitmap(id, bitmapResource); });
}

void HeadlessWindow::LimitText(int id, int characters)
{
    Request([&] { controls_.SetTextLimit(id, characters); });
}

int HeadlessWindow::ComboAddString(int id, const std::string& text)
{
    return thread_.Call([&] { return life_.Live() ? controls_.ComboAdd(id, text) : -1; });
}

void HeadlessWindow::ComboSetCurSel(int id, int row)
{
    Request([&] {
        const auto selected = controls_.ComboSetSel(id, row);
        // The listener only: CB_SETCURSEL notifies nothing.
        if (selected) rules_.TextChanged(id, selected->first, selected->second, false);
    });
}

int HeadlessWindow::ComboGetCurSel(int id)
{
    return thread_.Call([&] { return life_.Live() ? controls_.ComboSel(id) : -1; });
}

std::string HeadlessWindow::ComboGetRowText(int id, int row)
{
    return thread_.Call([&] { return life_.Live() ? controls_.ComboRowText(id, row) : std::string(); });
}

void HeadlessWindow::ProgressSetRange(int id, int low, int high)
{
    Request([&] { controls_.ProgressSetRange(id, low, high); });
}

void HeadlessWindow::ProgressSetPos(int id, int position)
{
    Request([&] {
        if (const std::optional<int> shown = controls_.ProgressSetPos(id, position)) rules_.ProgressChanged(id, *shown);
    });
}

void HeadlessWindow::ProgressSetBkColour(int id, Colour c)
{
    Request([&] { controls_.ProgressSetBkColour(id, c); });
}

void HeadlessWindow::ProgressSetBarColour(int id, Colour c)
{
    Request([&] { controls_.ProgressSetBarColour(id, c); });
}

// ---------------------------------------------------------------- IDialogWindow: tooltips and the frame

void HeadlessWindow::ToolTipCreate() { Request([&] { shell_.ToolTipCreate(); }); }
void HeadlessWindow::ToolTipActivate(bool active) { Request([&] { shell_.ToolTipActivate(active); }); }
void HeadlessWindow::ToolTipSetMaxTipWidth(int width) { Request([&] { shell_.ToolTipSetMaxTipWidth(width); }); }
void HeadlessWindow::DragAcceptFiles(bool accept) { Request([&] { shell_.DragAcceptFiles(accept); }); }
void HeadlessWindow::SetIcon(int iconResource) { Request([&] { shell_.AddIcon(iconResource); }); }
void HeadlessWindow::ShowAboutBox() { Request([&] { shell_.AboutBoxShown(); }); }

void HeadlessWindow::ToolTipAddTool(int id, const std::string& text)
{
    Request([&] { shell_.ToolTipAddTool(id, text); });
}

void HeadlessWindow::ToolTipUpdateTipText(int id, const std::string& text)
{
    Request([&] { shell_.ToolTipUpdateTipText(id, text); });
}

void HeadlessWindow::AppendSystemMenu(int commandId, const std::string& text)
{
    Request([&] { shell_.AppendSystemMenu(commandId, text); });
}

bool HeadlessWindow::HasSystemMenu()
{
    return thread_.Call([&] { return life_.Live() && shell_.HasSystemMenu(); });
}

Point HeadlessWindow::GetCursorPos()
{
    return thread_.Call([&] {
        life_.Live(); // counted once the window is gone; the cursor is still somewhere
        return shell_.CursorPos();
    });
}

std::string HeadlessWindow::LoadString(int stringResource)
{
    return thread_.Call([&] { return shell_.LoadString(stringResource); });
}

// ---------------------------------------------------------------- IDialogWindow: the dialog window

void HeadlessWindow::SetTimer(int timerId, unsigned periodMs)
{
    Request([&] { loop_.SetTimer(timerId, periodMs); });
}

void HeadlessWindow::KillTimer(int timerId)
{
    Request([&] { loop_.Timers().Kill(timerId); });
}

int HeadlessWindow::MessageBox(const std::string& text, const std::string& caption, unsigned type)
{
    // MessageBox fails (0) without its owner window.
    return thread_.Call([&] { return life_.Live() ? scripts_.MessageBox(text, caption, type) : 0; });
}

bool HeadlessWindow::RunFileDialog(const FileDialogSpec& spec, FileDialogResult& result)
{
    return thread_.Call([&] { return life_.Live() && scripts_.RunFileDialog(spec, result); });
}

void HeadlessWindow::EndDialog(int result)
{
    Request([&] { life_.End(result); });
    loop_.Wake();
}

intptr_t HeadlessWindow::DefaultProcessing(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    return thread_.Call([&] { return life_.Live() ? rules_.DefaultProcessing(message, wParam, lParam) : 0; });
}
