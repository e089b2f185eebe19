#include "platform/headless/headless_window.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "resources/resource.h"

namespace {

constexpr unsigned kUserTimerMinimum = 10; // USER_TIMER_MINIMUM: shorter periods are raised to it
constexpr uintptr_t kMkLButton = 0x0001;   // MK_LBUTTON

// MulDiv: a * b / c rounded half away from zero.
int MulDiv(int a, int b, int c)
{
    const long long p = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(p >= 0 ? (p + half) / c : (p - half) / c);
}

intptr_t PointParam(Point p)
{
    return static_cast<intptr_t>((static_cast<uint32_t>(p.y & 0xFFFF) << 16) | static_cast<uint32_t>(p.x & 0xFFFF));
}

bool IsNotifyStatic(const HeadlessControl& c)
{
    return c.kind == ControlKind::Static &&
           (c.style == ControlStyle::StaticNotify || c.style == ControlStyle::StaticNotifyBorder);
}

// Redrawing switched off: the control is not drawn and behaves as hidden (the
// system's default handling of WM_SETREDRAW clears its visible bit).
bool Shown(const HeadlessControl& c) { return c.visible && c.redraw; }

bool TakesFocus(const HeadlessControl& c)
{
    return c.kind == ControlKind::Button || c.kind == ControlKind::Edit || c.kind == ControlKind::Combo;
}

HeadlessControl FromRow(const ControlRow& row)
{
    HeadlessControl c;
    c.id = row.id;
    c.kind = row.kind;
    c.style = row.style;
    c.dialogUnits = {row.x, row.y, row.x + row.width, row.y + row.height};
    c.text = row.caption ? row.caption : "";
    c.enabled = !row.disabled;
    c.visible = row.shown;
    // redrawOff tells what the dialog switches off at the end of its start-up;
    // every window starts with drawing on.
    c.redraw = true;
    return c;
}

} // namespace

// The state lock. It notes its owner so that a call into the dialog made
// while holding it is caught at once instead of deadlocking some day.
class HeadlessWindow::Guard {
public:
    explicit Guard(const HeadlessWindow& w) : w_(w), lock_(w.mutex_) { w_.owner_.store(std::this_thread::get_id()); }
    ~Guard()
    {
        if (lock_.owns_lock()) w_.owner_.store(std::thread::id());
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    const HeadlessWindow& w_;
    std::unique_lock<std::mutex> lock_;
};

HeadlessWindow::HeadlessWindow(CDialog& dialog, IClock& clock, VirtualClock* virtualClock)
    : dialog_(dialog), clock_(clock), virtualClock_(virtualClock ? virtualClock : dynamic_cast<VirtualClock*>(&clock))
{
    self_.id = kNoControl;
    if (dialog.TemplateId() == kHeadlessMainTemplate) {
        for (const ControlRow& row : MainDialogControls()) AddControl(row);
        const DialogTemplateInfo& t = MainDialogTemplate();
        self_.text = t.caption;
        self_.dialogUnits = {0, 0, t.width, t.height};
        // String 101 of the program's string table (the .rc holds the same text).
        strings_[IDS_ABOUTBOX] = "About Rivuva Ravo(&A)...";
    }
}

HeadlessWindow::~HeadlessWindow() = default;

// ---------------------------------------------------------------- helpers

HeadlessControl* HeadlessWindow::Find(int id)
{
    if (id == kNoControl) return &self_;
    auto it = index_.find(id);
    return it == index_.end() ? nullptr : &controls_[it->second];
}

const HeadlessControl* HeadlessWindow::Find(int id) const
{
    if (id == kNoControl) return &self_;
    auto it = index_.find(id);
    return it == index_.end() ? nullptr : &controls_[it->second];
}

HeadlessControl* HeadlessWindow::FindOrNote(int id)
{
    HeadlessControl* c = Find(id);
    if (!c && std::find(unknown_.begin(), unknown_.end(), id) == unknown_.end()) unknown_.push_back(id);
    return c;
}

bool HeadlessWindow::Live()
{
    if (!destroyed_) return true;
    ++callsAfterDestroy_;
    return false;
}

Rect HeadlessWindow::ToScreen(const Rect& du) const
{
    const int left = origin_.x + MulDiv(du.left, kHeadlessBaseUnitX, 4);
    const int top = origin_.y + MulDiv(du.top, kHeadlessBaseUnitY, 8);
    return {left, top, left + MulDiv(du.Width(), kHeadlessBaseUnitX, 4), top + MulDiv(du.Height(), kHeadlessBaseUnitY, 8)};
}

void HeadlessWindow::CheckUnlocked() const
{
    if (owner_.load() == std::this_thread::get_id()) {
        std::fprintf(stderr, "HeadlessWindow: called into the dialog while holding the state lock\n");
        std::abort();
    }
}

intptr_t HeadlessWindow::Send(const Message& m)
{
    CheckUnlocked();
    {
        Guard g(*this);
        if (destroyed_) return 0;
    }
    return dialog_.WindowProc(m);
}

void HeadlessWindow::Notify(int id, uint32_t code)
{
    Message m;
    m.message = WM_COMMAND;
    m.wParam = MakeCommandParam(id, code);
    m.controlId = id;
    Send(m);
}

bool HeadlessWindow::Translate(const Message& m)
{
    CheckUnlocked();
    {
        Guard g(*this);
        if (destroyed_) return true;
    }
    return dialog_.PreTranslateMessage(m);
}

void HeadlessWindow::Deliver(const Message& m)
{
    if (Translate(m)) return;
    if (m.message == WM_KEYDOWN) {
        DialogKey(m);
    } else if (m.message == WM_CHAR) {
        InsertChar(m.controlId, static_cast<unsigned>(m.wParam));
    } else {
        Send(m);
    }
}

void HeadlessWindow::DialogKey(const Message& m)
{
    // IsDialogMessage: Escape means IDCANCEL, Return IDOK; other keys belong to the control.
    Message command;
    command.message = WM_COMMAND;
    if (m.wParam == VK_ESCAPE) {
        command.wParam = MakeCommandParam(IDCANCEL, BN_CLICKED);
        command.controlId = IDCANCEL;
        Send(command);
    } else if (m.wParam == VK_RETURN) {
        command.wParam = MakeCommandParam(IDOK, BN_CLICKED);
        command.controlId = IDOK;
        Send(command);
    }
}

bool HeadlessWindow::InsertChar(int id, unsigned character)
{
    {
        Guard g(*this);
        if (destroyed_) return false;
        const HeadlessControl* c = Find(id);
        if (!c || c->kind != ControlKind::Edit || !c->enabled) return false;
    }
    CheckUnlocked();
    if (!dialog_.FilterChar(id, character)) return false;
    std::string text;
    {
        Guard g(*this);
        HeadlessControl* c = Find(id);
        if (!c || destroyed_) return false;
        if (character == 8) {
            if (c->text.empty()) return false;
            c->text.pop_back();
        } else {
            if (character < 0x20 || character > 0xFF) return false;
            char k = static_cast<char>(character);
            if (c->style == ControlStyle::EditUpper && k >= 'a' && k <= 'z') k = static_cast<char>(k - 'a' + 'A');
            // ES_NUMBER: only digits are taken.
            if (c->style == ControlStyle::EditDigitsRight && (k < '0' || k > '9')) return false;
            if (c->textLimit > 0 && c->text.size() >= static_cast<size_t>(c->textLimit)) return false;
            c->text.push_back(k);
        }
        text = c->text;
    }
    Wake();
    TextChanged(id, text, true, true);
    return true;
}

void HeadlessWindow::MoveFocus(int id)
{
    int old = kNoControl;
    bool oldEdit = false, oldCombo = false, newEdit = false, newCombo = false;
    {
        Guard g(*this);
        if (destroyed_ || focus_ == id) return;
        old = focus_;
        focus_ = id;
        if (const HeadlessControl* c = Find(old); c && old != kNoControl) {
            oldEdit = c->kind == ControlKind::Edit;
            oldCombo = c->kind == ControlKind::Combo;
        }
        if (const HeadlessControl* c = Find(id); c && id != kNoControl) {
            newEdit = c->kind == ControlKind::Edit;
            newCombo = c->kind == ControlKind::Combo;
        }
    }
    if (oldEdit) Notify(old, EN_KILLFOCUS);
    if (oldCombo) Notify(old, kCbnKillFocus);
    {
        Guard g(*this);
        if (focus_ != id) return; // a kill-focus handler moved the focus on
    }
    if (newEdit) Notify(id, EN_SETFOCUS);
    if (newCombo) Notify(id, kCbnSetFocus);
}

void HeadlessWindow::TextChanged(int id, const std::string& text, bool changed, bool isEdit)
{
    if (changed) {
        std::function<void(int, const std::string&)> listener;
        {
            Guard g(*this);
            listener = textListener_;
        }
        if (listener) listener(id, text);
    }
    if (isEdit) {
        Notify(id, EN_UPDATE);
        Notify(id, EN_CHANGE);
    }
}

void HeadlessWindow::SetDefaultFocus()
{
    int target = kNoControl;
    {
        Guard g(*this);
        for (const HeadlessControl& c : controls_) {
            if (TakesFocus(c) && Shown(c) && c.enabled) {
                target = c.id;
                break;
            }
        }
        if (target == kNoControl) return;
    }
    MoveFocus(target);
}

bool HeadlessWindow::ProcessOnePosted()
{
    Posted p;
    {
        Guard g(*this);
        if (posted_.empty()) return false;
        p = std::move(posted_.front());
        posted_.pop_front();
    }
    if (p.task) {
        p.task();
        return true;
    }
    Message m = p.message;
    if (p.dropped) m.dropped = p.dropped.get();
    Deliver(m);
    return true;
}

// ---------------------------------------------------------------- set-up and life

void HeadlessWindow::AddControl(const ControlRow& row)
{
    Guard g(*this);
    HeadlessControl c = FromRow(row);
    auto it = index_.find(row.id);
    if (it != index_.end()) {
        controls_[it->second] = std::move(c);
    } else {
        index_[row.id] = controls_.size();
        controls_.push_back(std::move(c));
    }
}

void HeadlessWindow::SetWindowOrigin(Point origin)
{
    Guard g(*this);
    origin_ = origin;
}

void HeadlessWindow::SetString(int stringResource, const std::string& text)
{
    Guard g(*this);
    strings_[stringResource] = text;
}

void HeadlessWindow::SetHasSystemMenu(bool has)
{
    Guard g(*this);
    hasSystemMenu_ = has;
}

void HeadlessWindow::Open()
{
    {
        Guard g(*this);
        if (open_ || destroyed_) return;
        open_ = true;
    }
    CheckUnlocked();
    dialog_.Attach(this);
    if (dialog_.OnInitDialog()) SetDefaultFocus();
}

bool HeadlessWindow::IsOpen() const
{
    Guard g(*this);
    return open_;
}

bool HeadlessWindow::Ended() const
{
    Guard g(*this);
    return ended_;
}

int HeadlessWindow::Result() const
{
    Guard g(*this);
    return result_;
}

void HeadlessWindow::MarkDestroyed()
{
    {
        Guard g(*this);
        destroyed_ = true;
        timers_.clear();
    }
    Wake();
}

bool HeadlessWindow::Destroyed() const
{
    Guard g(*this);
    return destroyed_;
}

int HeadlessWindow::CallsAfterDestroy() const
{
    Guard g(*this);
    return callsAfterDestroy_;
}

// ---------------------------------------------------------------- the user

bool HeadlessWindow::Click(int id)
{
    {
        Guard g(*this);
        if (!Live()) return false;
        const HeadlessControl* c = Find(id);
        if (c != nullptr && !c->redraw) return false; // not there for the mouse
    }
    return SendClick(id);
}

bool HeadlessWindow::SendClick(int id)
{
    ControlKind kind;
    ControlStyle style;
    {
        Guard g(*this);
        if (!Live() || id == kNoControl) return false;
        const HeadlessControl* c = FindOrNote(id);
        if (!c || !c->enabled) return false;
        kind = c->kind;
        style = c->style;
    }
    if (kind == ControlKind::Static) return ClickStatic(id);
    Message down;
    down.message = WM_LBUTTONDOWN;
    down.wParam = kMkLButton;
    down.controlId = id;
    if (Translate(down)) return false;
    if (kind == ControlKind::Progress) return true;
    MoveFocus(id);
    if (kind != ControlKind::Button) return true;
    if (style == ControlStyle::AutoCheck) {
        Guard g(*this);
        if (HeadlessControl* c = Find(id)) c->checked = !c->checked;
    }
    Notify(id, BN_CLICKED);
    return true;
}

bool HeadlessWindow::DoubleClick(int id)
{
    ControlKind kind;
    bool notify;
    {
        Guard g(*this);
        if (!Live() || id == kNoControl) return false;
        const HeadlessControl* c = FindOrNote(id);
        if (!c || !c->enabled || !c->redraw) return false;
        kind = c->kind;
        notify = IsNotifyStatic(*c);
    }
    if (kind == ControlKind::Button) return Click(id) && Click(id); // a push button takes both clicks
    if (kind != ControlKind::Static) return Click(id);
    Message down;
    down.message = WM_LBUTTONDOWN;
    down.wParam = kMkLButton;
    down.controlId = id;
    if (!Translate(down) && notify) Notify(id, STN_CLICKED);
    Message second = down;
    second.message = kHeadlessLButtonDblClk;
    if (Translate(second) || !notify) return false;
    Notify(id, STN_DBLCLK);
    return true;
}

bool HeadlessWindow::ClickStatic(int id)
{
    bool notify;
    {
        Guard g(*this);
        if (!Live()) return false;
        const HeadlessControl* c = FindOrNote(id);
        if (!c || !c->enabled || !c->redraw || c->kind != ControlKind::Static) return false;
        notify = IsNotifyStatic(*c);
    }
    Message down;
    down.message = WM_LBUTTONDOWN;
    down.wParam = kMkLButton;
    down.controlId = id;
    if (Translate(down) || !notify) return false;
    Notify(id, STN_CLICKED);
    return true;
}

bool HeadlessWindow::PressKey(uintptr_t vk, int focusedControlId)
{
    {
        Guard g(*this);
        if (!Live()) return false;
        if (focusedControlId == kCurrentFocus) focusedControlId = focus_;
    }
    Message m;
    m.message = WM_KEYDOWN;
    m.wParam = vk;
    m.controlId = focusedControlId;
    if (Translate(m)) return true;
    DialogKey(m);
    return false;
}

bool HeadlessWindow::TypeChar(int id, unsigned character)
{
    {
        Guard g(*this);
        if (!Live()) return false;
        const HeadlessControl* c = FindOrNote(id);
        if (!c || c->kind != ControlKind::Edit || !c->enabled) return false;
    }
    MoveFocus(id); // the user's click into the edit, when it has not the focus yet
    Message m;
    m.message = WM_CHAR;
    m.wParam = character;
    m.lParam = 1; // repeat count
    m.controlId = id;
    if (Translate(m)) return false;
    return InsertChar(id, character);
}

int HeadlessWindow::TypeText(int id, const std::string& text)
{
    int taken = 0;
    for (unsigned char ch : text)
        if (TypeChar(id, ch)) ++taken;
    return taken;
}

void HeadlessWindow::LButtonDown(int id, Point clientPoint)
{
    {
        Guard g(*this);
        if (!Live()) return;
    }
    Message m;
    m.message = WM_LBUTTONDOWN;
    m.wParam = kMkLButton;
    m.lParam = PointParam(clientPoint);
    m.controlId = id;
    if (!Translate(m)) Send(m);
}

bool HeadlessWindow::DropFiles(const std::vector<std::string>& paths, Point cursor)
{
    {
        Guard g(*this);
        if (!Live() || !acceptsFiles_) return false;
        cursor_ = cursor;
    }
    Message m;
    m.message = WM_DROPFILES;
    m.dropped = &paths;
    Deliver(m);
    return true;
}

intptr_t HeadlessWindow::DeviceChange(uintptr_t event, intptr_t data)
{
    {
        Guard g(*this);
        if (!Live()) return 0;
    }
    Message m;
    m.message = WM_DEVICECHANGE;
    m.wParam = event;
    m.lParam = data;
    return Send(m);
}

void HeadlessWindow::SystemCommand(uint32_t commandId)
{
    {
        Guard g(*this);
        if (!Live()) return;
    }
    Message m;
    m.message = WM_SYSCOMMAND;
    m.wParam = commandId;
    Deliver(m);
}

void HeadlessWindow::Close()
{
    SystemCommand(SC_CLOSE);
    ProcessPostedMessages();
}

bool HeadlessWindow::SelectComboRow(int id, int row)
{
    {
        Guard g(*this);
        if (!Live()) return false;
        const HeadlessControl* c = FindOrNote(id);
        if (!c || c->kind != ControlKind::Combo || !c->enabled) return false;
        if (row < 0 || row >= static_cast<int>(c->comboRows.size())) return false;
    }
    MoveFocus(id);
    std::string text;
    bool changed;
    {
        Guard g(*this);
        HeadlessControl* c = Find(id);
        if (!c || row >= static_cast<int>(c->comboRows.size())) return false;
        c->comboSel = row;
        changed = c->text != c->comboRows[row];
        c->text = c->comboRows[row];
        text = c->text;
    }
    TextChanged(id, text, changed, false);
    Notify(id, CBN_SELCHANGE);
    return true;
}

bool HeadlessWindow::DropDownCombo(int id)
{
    {
        Guard g(*this);
        if (!Live()) return false;
        const HeadlessControl* c = FindOrNote(id);
        if (!c || c->kind != ControlKind::Combo || !c->enabled) return false;
    }
    MoveFocus(id);
    Notify(id, CBN_DROPDOWN);
    return true;
}

void HeadlessWindow::SetCursorPos(Point p)
{
    Guard g(*this);
    cursor_ = p;
}

// ---------------------------------------------------------------- queue

void HeadlessWindow::PostMessage(const Message& message)
{
    Posted p;
    p.message = message;
    if (message.dropped) {
        p.dropped = std::make_shared<std::vector<std::string>>(*message.dropped);
        p.message.dropped = nullptr;
    }
    {
        Guard g(*this);
        posted_.push_back(std::move(p));
    }
    wake_.notify_all();
}

void HeadlessWindow::PostTask(std::function<void()> task)
{
    Posted p;
    p.task = std::move(task);
    {
        Guard g(*this);
        posted_.push_back(std::move(p));
    }
    wake_.notify_all();
}

int HeadlessWindow::ProcessPostedMessages()
{
    int count = 0;
    while (ProcessOnePosted()) ++count;
    return count;
}

void HeadlessWindow::SetPumpSafetyLimit(std::chrono::milliseconds limit)
{
    Guard g(*this);
    safetyLimit_ = limit;
}

bool HeadlessWindow::PumpGaveUp() const
{
    Guard g(*this);
    return pumpGaveUp_;
}

void HeadlessWindow::Wake()
{
    wake_.notify_all();
}

void HeadlessWindow::PumpMessagesUntil(const std::function<bool()>& done)
{
    CheckUnlocked();
    std::chrono::milliseconds limit;
    {
        Guard g(*this);
        limit = safetyLimit_;
    }
    const auto start = std::chrono::steady_clock::now();
    while (!done()) {
        if (ProcessOnePosted()) continue;
        if (RunDueTimers() > 0) continue;
        if (limit.count() > 0 && std::chrono::steady_clock::now() - start >= limit) {
            Guard g(*this);
            pumpGaveUp_ = true;
            return;
        }
        // Wakes on a posted message or any Wake(); else polls done() again soon.
        std::unique_lock<std::mutex> lock(mutex_);
        if (posted_.empty()) wake_.wait_for(lock, std::chrono::milliseconds(2));
    }
}

void HeadlessWindow::RunOnWindowThread(const std::function<void()>& fn)
{
    // No window thread of its own: the caller's thread is as good as any.
    fn();
}

// ---------------------------------------------------------------- timers

bool HeadlessWindow::FireTimer(int timerId)
{
    {
        Guard g(*this);
        if (!Live()) return false;
        auto it = timers_.find(timerId);
        if (it == timers_.end()) return false;
        it->second.dueMs = clock_.NowMs() + it->second.periodMs;
    }
    Message m;
    m.message = WM_TIMER;
    m.wParam = static_cast<uintptr_t>(timerId);
    Deliver(m);
    return true;
}

int HeadlessWindow::RunDueTimers()
{
    const uint64_t now = clock_.NowMs();
    std::vector<std::pair<uint64_t, int>> due;
    {
        Guard g(*this);
        if (destroyed_) return 0;
        for (const auto& [id, t] : timers_)
            if (t.dueMs <= now) due.emplace_back(t.dueMs, id);
    }
    std::sort(due.begin(), due.end());
    int fired = 0;
    for (const auto& [when, id] : due) {
        {
            Guard g(*this);
            auto it = timers_.find(id);
            // Killed or set anew by a handler of an earlier timer of this round.
            if (destroyed_ || it == timers_.end() || it->second.dueMs > now) continue;
            it->second.dueMs = now + it->second.periodMs;
        }
        Message m;
        m.message = WM_TIMER;
        m.wParam = static_cast<uintptr_t>(id);
        Deliver(m);
        ++fired;
    }
    return fired;
}

bool HeadlessWindow::AdvanceTime(uint64_t ms)
{
    if (!virtualClock_) return false;
    const uint64_t target = virtualClock_->NowMs() + ms;
    for (;;) {
        ProcessPostedMessages();
        const int fired = RunDueTimers();
        std::optional<uint64_t> next;
        {
            Guard g(*this);
            if (destroyed_) break;
            for (const auto& [id, t] : timers_)
                if (!next || t.dueMs < *next) next = t.dueMs;
        }
        const uint64_t now = virtualClock_->NowMs();
        if (!next || *next > target) break;
        if (*next > now) {
            virtualClock_->Advance(*next - now);
        } else if (fired == 0) {
            break; // nothing came due that could fire
        }
    }
    const uint64_t now = virtualClock_->NowMs();
    if (now < target) virtualClock_->Advance(target - now);
    ProcessPostedMessages();
    return true;
}

std::vector<TimerInfo> HeadlessWindow::RunningTimers() const
{
    Guard g(*this);
    std::vector<TimerInfo> all;
    for (const auto& [id, t] : timers_) all.push_back({id, t.periodMs, t.dueMs});
    return all;
}

void HeadlessWindow::SetTimer(int timerId, unsigned periodMs)
{
    {
        Guard g(*this);
        if (!Live()) return;
        const unsigned period = std::max(periodMs, kUserTimerMinimum);
        timers_[timerId] = {period, clock_.NowMs() + period}; // setting a running timer restarts it
    }
    wake_.notify_all();
}

void HeadlessWindow::KillTimer(int timerId)
{
    Guard g(*this);
    if (!Live()) return;
    timers_.erase(timerId);
}

// ---------------------------------------------------------------- boxes

void HeadlessWindow::QueueAnswer(int answer)
{
    Guard g(*this);
    answers_.push_back(answer);
}

void HeadlessWindow::SetDefaultAnswer(int answer)
{
    Guard g(*this);
    defaultAnswer_ = answer;
}

void HeadlessWindow::SetMessageBoxHook(std::function<std::optional<int>(const MessageBoxRecord&)> hook)
{
    Guard g(*this);
    boxHook_ = std::move(hook);
}

std::vector<MessageBoxRecord> HeadlessWindow::MessageBoxes() const
{
    Guard g(*this);
    return boxes_;
}

void HeadlessWindow::QueueFileDialog(std::optional<FileDialogResult> result)
{
    Guard g(*this);
    fileAnswers_.push_back(std::move(result));
}

void HeadlessWindow::QueueFilePath(const std::string& path)
{
    const size_t slash = path.find_last_of("\\/");
    QueueFileDialog(FileDialogResult{path, slash == std::string::npos ? path : path.substr(slash + 1)});
}

void HeadlessWindow::SetFileDialogHook(std::function<std::optional<FileDialogResult>(const FileDialogSpec&)> hook)
{
    Guard g(*this);
    fileHook_ = std::move(hook);
}

std::vector<FileDialogSpec> HeadlessWindow::FileDialogs() const
{
    Guard g(*this);
    return fileDialogs_;
}

void HeadlessWindow::SetTextListener(std::function<void(int id, const std::string& text)> listener)
{
    Guard g(*this);
    textListener_ = std::move(listener);
}

void HeadlessWindow::SetProgressListener(std::function<void(int id, int position)> listener)
{
    Guard g(*this);
    progressListener_ = std::move(listener);
}

int HeadlessWindow::MessageBox(const std::string& text, const std::string& caption, unsigned type)
{
    const bool question = (type & 0xF) != MB_OK;
    MessageBoxRecord record{text, caption, type, 0};
    size_t index;
    std::function<std::optional<int>(const MessageBoxRecord&)> hook;
    {
        Guard g(*this);
        if (!Live()) return 0; // MessageBox fails without its owner window
        boxes_.push_back(record);
        index = boxes_.size() - 1;
        hook = boxHook_;
    }
    CheckUnlocked();
    std::optional<int> hookAnswer;
    if (hook) hookAnswer = hook(record);
    Guard g(*this);
    int answer = IDOK;
    if (question) {
        if (hookAnswer) {
            answer = *hookAnswer;
        } else if (!answers_.empty()) {
            answer = answers_.front();
            answers_.pop_front();
        } else {
            answer = defaultAnswer_;
        }
    }
    boxes_[index].answer = answer;
    return answer;
}

bool HeadlessWindow::RunFileDialog(const FileDialogSpec& spec, FileDialogResult& result)
{
    std::optional<FileDialogResult> answer;
    std::function<std::optional<FileDialogResult>(const FileDialogSpec&)> hook;
    {
        Guard g(*this);
        if (!Live()) return false;
        fileDialogs_.push_back(spec);
        if (!fileAnswers_.empty()) {
            answer = std::move(fileAnswers_.front());
            fileAnswers_.pop_front();
        } else {
            hook = fileHook_;
        }
    }
    CheckUnlocked();
    if (hook) answer = hook(spec);
    if (!answer) return false;
    result = *answer;
    return true;
}

// ---------------------------------------------------------------- accessors

std::optional<HeadlessControl> HeadlessWindow::Control(int id) const
{
    Guard g(*this);
    const HeadlessControl* c = Find(id);
    if (!c) return std::nullopt;
    return *c;
}

std::vector<int> HeadlessWindow::ControlIds() const
{
    Guard g(*this);
    std::vector<int> ids;
    for (const HeadlessControl& c : controls_) ids.push_back(c.id);
    return ids;
}

#define HEADLESS_FIELD(name, type, fallback, expr) \
    type HeadlessWindow::name(int id) const          \
    {                                                \
        Guard g(*this);                              \
        const HeadlessControl* c = Find(id);         \
        return c ? (expr) : (fallback);              \
    }

HEADLESS_FIELD(Text, std::string, std::string(), c->text)
HEADLESS_FIELD(Enabled, bool, false, c->enabled)
HEADLESS_FIELD(Visible, bool, false, Shown(*c))
HEADLESS_FIELD(Redraw, bool, false, c->redraw)
HEADLESS_FIELD(Checked, bool, false, c->checked)
HEADLESS_FIELD(TextLimit, int, 0, c->textLimit)
HEADLESS_FIELD(ComboRows, std::vector<std::string>, std::vector<std::string>(), c->comboRows)
HEADLESS_FIELD(ComboSel, int, -1, c->comboSel)
HEADLESS_FIELD(ProgressPos, int, 0, c->progressPos)
HEADLESS_FIELD(ProgressBkColour, Colour, kHeadlessDefaultColour, c->progressBk)
HEADLESS_FIELD(ProgressBarColour, Colour, kHeadlessDefaultColour, c->progressBar)
HEADLESS_FIELD(ButtonBitmap, int, 0, c->bitmap)
#undef HEADLESS_FIELD

std::pair<int, int> HeadlessWindow::ProgressRange(int id) const
{
    Guard g(*this);
    const HeadlessControl* c = Find(id);
    return c ? std::make_pair(c->progressLow, c->progressHigh) : std::make_pair(0, 0);
}

int HeadlessWindow::Focus() const
{
    Guard g(*this);
    return focus_;
}

Point HeadlessWindow::WindowOrigin() const
{
    Guard g(*this);
    return origin_;
}

bool HeadlessWindow::ToolTipCreated() const
{
    Guard g(*this);
    return toolTipCreated_;
}

bool HeadlessWindow::ToolTipActive() const
{
    Guard g(*this);
    return toolTipActive_;
}

int HeadlessWindow::ToolTipMaxWidth() const
{
    Guard g(*this);
    return toolTipMaxWidth_;
}

std::vector<ToolTipInfo> HeadlessWindow::ToolTips() const
{
    Guard g(*this);
    return toolTips_;
}

std::vector<SystemMenuItem> HeadlessWindow::SystemMenu() const
{
    Guard g(*this);
    return systemMenu_;
}

bool HeadlessWindow::AcceptsFiles() const
{
    Guard g(*this);
    return acceptsFiles_;
}

std::vector<int> HeadlessWindow::Icons() const
{
    Guard g(*this);
    return icons_;
}

int HeadlessWindow::AboutBoxesShown() const
{
    Guard g(*this);
    return aboutBoxes_;
}

std::vector<DefaultCall> HeadlessWindow::DefaultCalls() const
{
    Guard g(*this);
    return defaultCalls_;
}

int HeadlessWindow::DefaultProcessingCount() const
{
    Guard g(*this);
    return static_cast<int>(defaultCalls_.size());
}

std::vector<int> HeadlessWindow::UnknownControls() const
{
    Guard g(*this);
    return unknown_;
}

// ---------------------------------------------------------------- IDialogWindow: controls

void HeadlessWindow::SetWindowText(int id, const std::string& text)
{
    bool changed, isEdit;
    {
        Guard g(*this);
        if (!Live()) return;
        HeadlessControl* c = FindOrNote(id);
        if (!c) return;
        changed = c->text != text;
        c->text = text;
        isEdit = id != kNoControl && c->kind == ControlKind::Edit;
    }
    Wake();
    TextChanged(id, text, changed, isEdit);
}

std::string HeadlessWindow::GetWindowText(int id)
{
    Guard g(*this);
    if (!Live()) return {};
    const HeadlessControl* c = FindOrNote(id);
    return c ? c->text : std::string();
}

void HeadlessWindow::EnableWindow(int id, bool enable)
{
    bool loseFocus;
    {
        Guard g(*this);
        if (!Live()) return;
        HeadlessControl* c = FindOrNote(id);
        if (!c) return;
        c->enabled = enable;
        loseFocus = !enable && id != kNoControl && focus_ == id;
    }
    Wake();
    if (loseFocus) MoveFocus(kNoControl); // a disabled window cannot keep the focus
}

bool HeadlessWindow::IsWindowEnabled(int id)
{
    Guard g(*this);
    if (!Live()) return false;
    const HeadlessControl* c = FindOrNote(id);
    return c && c->enabled;
}

void HeadlessWindow::ShowWindow(int id, bool show)
{
    bool loseFocus;
    {
        Guard g(*this);
        if (!Live()) return;
        HeadlessControl* c = FindOrNote(id);
        if (!c) return;
        c->visible = show;
        loseFocus = !show && id != kNoControl && focus_ == id;
    }
    Wake();
    if (loseFocus) MoveFocus(kNoControl); // hiding the focus gives it to the dialog
}

bool HeadlessWindow::IsWindowVisible(int id)
{
    Guard g(*this);
    if (!Live()) return false;
    const HeadlessControl* c = FindOrNote(id);
    return c && Shown(*c);
}

void HeadlessWindow::SetRedraw(int id, bool redraw)
{
    Guard g(*this);
    if (!Live()) return;
    if (HeadlessControl* c = FindOrNote(id)) c->redraw = redraw;
}

void HeadlessWindow::SetFocus(int id)
{
    {
        Guard g(*this);
        if (!Live()) return;
        if (!FindOrNote(id)) return;
    }
    MoveFocus(id);
}

Rect HeadlessWindow::GetWindowRect(int id)
{
    Guard g(*this);
    if (!Live()) return {};
    const HeadlessControl* c = FindOrNote(id);
    return c ? ToScreen(c->dialogUnits) : Rect{};
}

void HeadlessWindow::SetCheck(int id, bool checked)
{
    Guard g(*this);
    if (!Live()) return;
    HeadlessControl* c = FindOrNote(id);
    if (c && c->style == ControlStyle::AutoCheck) c->checked = checked; // push buttons ignore BM_SETCHECK
}

bool HeadlessWindow::GetCheck(int id)
{
    Guard g(*this);
    if (!Live()) return false;
    const HeadlessControl* c = FindOrNote(id);
    return c && c->style == ControlStyle::AutoCheck && c->checked;
}

void HeadlessWindow::SetButtonBitmap(int id, int bitmapResource)
{
    Guard g(*this);
    if (!Live()) return;
    if (HeadlessControl* c = FindOrNote(id)) c->bitmap = bitmapResource;
}

void HeadlessWindow::LimitText(int id, int characters)
{
    Guard g(*this);
    if (!Live()) return;
    if (HeadlessControl* c = FindOrNote(id)) c->textLimit = characters;
}

int HeadlessWindow::ComboAddString(int id, const std::string& text)
{
    Guard g(*this);
    if (!Live()) return -1;
    HeadlessControl* c = FindOrNote(id);
    if (!c || c->kind != ControlKind::Combo) return -1; // CB_ERR
    c->comboRows.push_back(text);
    return static_cast<int>(c->comboRows.size()) - 1;
}

void HeadlessWindow::ComboSetCurSel(int id, int row)
{
    std::string text;
    bool changed;
    {
        Guard g(*this);
        if (!Live()) return;
        HeadlessControl* c = FindOrNote(id);
        if (!c || c->kind != ControlKind::Combo) return;
        // Out of range clears the selection, as CB_SETCURSEL does.
        const bool valid = row >= 0 && row < static_cast<int>(c->comboRows.size());
        c->comboSel = valid ? row : -1;
        text = valid ? c->comboRows[row] : std::string();
        changed = c->text != text;
        c->text = text;
    }
    TextChanged(id, text, changed, false); // the listener only: CB_SETCURSEL notifies nothing
}

int HeadlessWindow::ComboGetCurSel(int id)
{
    Guard g(*this);
    if (!Live()) return -1;
    const HeadlessControl* c = FindOrNote(id);
    return c ? c->comboSel : -1;
}

std::string HeadlessWindow::ComboGetRowText(int id, int row)
{
    Guard g(*this);
    if (!Live()) return {};
    const HeadlessControl* c = FindOrNote(id);
    if (!c || row < 0 || row >= static_cast<int>(c->comboRows.size())) return {};
    return c->comboRows[row];
}

void HeadlessWindow::ProgressSetRange(int id, int low, int high)
{
    Guard g(*this);
    if (!Live()) return;
    HeadlessControl* c = FindOrNote(id);
    if (!c) return;
    c->progressLow = low;
    c->progressHigh = high;
    if (low <= high) c->progressPos = std::clamp(c->progressPos, low, high); // the bar keeps its position inside the range
}

void HeadlessWindow::ProgressSetPos(int id, int position)
{
    std::function<void(int, int)> listener;
    int shown = 0;
    {
        Guard g(*this);
        if (!Live()) return;
        HeadlessControl* c = FindOrNote(id);
        if (!c) return;
        const int before = c->progressPos;
        c->progressPos = c->progressLow <= c->progressHigh ? std::clamp(position, c->progressLow, c->progressHigh) : position;
        if (c->progressPos == before) return;
        shown = c->progressPos;
        listener = progressListener_;
    }
    if (listener) listener(id, shown);
}

void HeadlessWindow::ProgressSetBkColour(int id, Colour colour)
{
    Guard g(*this);
    if (!Live()) return;
    if (HeadlessControl* c = FindOrNote(id)) c->progressBk = colour;
}

void HeadlessWindow::ProgressSetBarColour(int id, Colour colour)
{
    Guard g(*this);
    if (!Live()) return;
    if (HeadlessControl* c = FindOrNote(id)) c->progressBar = colour;
}

// ---------------------------------------------------------------- IDialogWindow: tooltips

void HeadlessWindow::ToolTipCreate()
{
    Guard g(*this);
    if (!Live()) return;
    toolTipCreated_ = true;
}

void HeadlessWindow::ToolTipActivate(bool active)
{
    Guard g(*this);
    if (!Live()) return;
    toolTipActive_ = active;
}

void HeadlessWindow::ToolTipAddTool(int id, const std::string& text)
{
    Guard g(*this);
    if (!Live()) return;
    toolTips_.push_back({id, text});
}

void HeadlessWindow::ToolTipUpdateTipText(int id, const std::string& text)
{
    Guard g(*this);
    if (!Live()) return;
    for (ToolTipInfo& t : toolTips_) {
        if (t.id == id) {
            t.text = text;
            return;
        }
    }
    // TTM_UPDATETIPTEXT for a tool never added changes nothing.
}

void HeadlessWindow::ToolTipSetMaxTipWidth(int width)
{
    Guard g(*this);
    if (!Live()) return;
    toolTipMaxWidth_ = width;
}

// ---------------------------------------------------------------- IDialogWindow: the dialog window

void HeadlessWindow::DragAcceptFiles(bool accept)
{
    Guard g(*this);
    if (!Live()) return;
    acceptsFiles_ = accept;
}

void HeadlessWindow::AppendSystemMenu(int commandId, const std::string& text)
{
    Guard g(*this);
    if (!Live()) return;
    systemMenu_.push_back({commandId, text});
}

bool HeadlessWindow::HasSystemMenu()
{
    Guard g(*this);
    if (!Live()) return false;
    return hasSystemMenu_;
}

void HeadlessWindow::SetIcon(int iconResource)
{
    Guard g(*this);
    if (!Live()) return;
    icons_.push_back(iconResource);
}

void HeadlessWindow::ShowAboutBox()
{
    Guard g(*this);
    if (!Live()) return;
    ++aboutBoxes_;
}

Point HeadlessWindow::GetCursorPos()
{
    Guard g(*this);
    Live();
    return cursor_;
}

std::string HeadlessWindow::LoadString(int stringResource)
{
    Guard g(*this);
    auto it = strings_.find(stringResource);
    return it == strings_.end() ? std::string() : it->second;
}

void HeadlessWindow::EndDialog(int result)
{
    {
        Guard g(*this);
        if (!Live()) return;
        ended_ = true;
        result_ = result; // until the modal loop sees it, the last call wins
    }
    wake_.notify_all();
}

intptr_t HeadlessWindow::DefaultProcessing(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    {
        Guard g(*this);
        if (!Live()) return 0;
        defaultCalls_.push_back({message, wParam, lParam});
    }
    if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) {
        // DefWindowProc: the close command sends WM_CLOSE.
        Message close;
        close.message = WM_CLOSE;
        Send(close);
    } else if (message == WM_CLOSE) {
        // DefDlgProc: WM_CLOSE posts IDCANCEL's click, unless an IDCANCEL control is disabled.
        bool post;
        {
            Guard g(*this);
            const HeadlessControl* cancel = Find(IDCANCEL);
            post = !cancel || cancel->enabled;
        }
        if (post) {
            Message command;
            command.message = WM_COMMAND;
            command.wParam = MakeCommandParam(IDCANCEL, BN_CLICKED);
            command.controlId = IDCANCEL;
            PostMessage(command);
        }
    }
    return 0;
}

// ---------------------------------------------------------------- HeadlessWindowSystem

HeadlessWindowSystem::HeadlessWindowSystem(IClock& clock, VirtualClock* virtualClock)
    : clock_(clock), virtualClock_(virtualClock)
{
}

bool HeadlessWindowSystem::InitCommonControls(uint32_t structureSize, uint32_t classMask)
{
    std::lock_guard<std::mutex> lock(mutex_);
    commonControls_.push_back({structureSize, classMask});
    return true;
}

void HeadlessWindowSystem::SetRegistryKey(const std::string& company)
{
    std::lock_guard<std::mutex> lock(mutex_);
    registryKey_ = company;
}

int HeadlessWindowSystem::RunModal(CDialog& dialog)
{
    HeadlessWindow* w;
    std::chrono::milliseconds limit;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        windows_.push_back(std::make_unique<HeadlessWindow>(dialog, clock_, virtualClock_));
        w = windows_.back().get();
        limit = safetyLimit_;
    }
    w->SetPumpSafetyLimit(limit);
    if (onCreate) onCreate(*w);
    w->Open();
    if (onOpen) onOpen(*w);
    w->PumpMessagesUntil([w] { return w->Ended(); });
    const int result = w->Ended() ? w->Result() : -1;
    w->MarkDestroyed();
    return result;
}

void HeadlessWindowSystem::SetPumpSafetyLimit(std::chrono::milliseconds limit)
{
    std::lock_guard<std::mutex> lock(mutex_);
    safetyLimit_ = limit;
}

std::vector<HeadlessWindowSystem::CommonControlsCall> HeadlessWindowSystem::CommonControlsCalls() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return commonControls_;
}

std::string HeadlessWindowSystem::RegistryKey() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return registryKey_;
}

HeadlessWindow* HeadlessWindowSystem::LastWindow() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return windows_.empty() ? nullptr : windows_.back().get();
}

int HeadlessWindowSystem::ModalRuns() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(windows_.size());
}
