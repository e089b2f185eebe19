#include "platform/headless/notification_rules.h"

#include "platform/headless/state_lock.h"

NotificationRules::NotificationRules(CDialog& dialog, HeadlessControls& controls, WindowLife& life,
                                     ShellRecord& shell, MessageLoop& loop)
    : dialog_(dialog), controls_(controls), life_(life), shell_(shell), loop_(loop)
{
}

void NotificationRules::InitDialog()
{
    HeadlessStateLock::CheckNoneHeld();
    if (!dialog_.OnInitDialog()) return;
    const int target = controls_.FirstTabStop();
    if (target != kNoControl) MoveFocus(target);
}

intptr_t NotificationRules::Send(const Message& m)
{
    HeadlessStateLock::CheckNoneHeld();
    if (life_.Destroyed()) return 0;
    return dialog_.WindowProc(m);
}

bool NotificationRules::Translate(const Message& m)
{
    HeadlessStateLock::CheckNoneHeld();
    if (life_.Destroyed()) return true;
    return dialog_.PreTranslateMessage(m);
}

void NotificationRules::Notify(int id, uint32_t code)
{
    Message m;
    m.message = WM_COMMAND;
    m.wParam = MakeCommandParam(id, code);
    m.controlId = id;
    Send(m);
}

void NotificationRules::Deliver(const Message& m)
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

void NotificationRules::DialogKey(const Message& m)
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

bool NotificationRules::InsertChar(int id, unsigned character)
{
    if (life_.Destroyed()) return false;
    const std::optional<HeadlessControl> c = controls_.Control(id);
    if (!c || c->kind != ControlKind::Edit || !TakesUserInput(*c)) return false;
    HeadlessStateLock::CheckNoneHeld();
    if (!dialog_.FilterChar(id, character)) return false;
    if (life_.Destroyed()) return false;
    const std::optional<std::string> text = controls_.TypeInto(id, character);
    if (!text) return false;
    loop_.Wake();
    TextChanged(id, *text, true, true);
    return true;
}

void NotificationRules::MoveFocus(int id)
{
    if (life_.Destroyed()) return;
    const std::optional<int> old = controls_.MoveFocus(id);
    if (!old) return;
    auto kindOf = [&](int control) -> std::optional<ControlKind> {
        if (control == kNoControl) return std::nullopt;
        const std::optional<HeadlessControl> c = controls_.Control(control);
        if (!c) return std::nullopt;
        return c->kind;
    };
    const std::optional<ControlKind> oldKind = kindOf(*old);
    const std::optional<ControlKind> newKind = kindOf(id);
    if (oldKind == ControlKind::Edit) Notify(*old, EN_KILLFOCUS);
    if (oldKind == ControlKind::Combo) Notify(*old, kCbnKillFocus);
    if (controls_.Focus() != id) return; // a kill-focus handler moved the focus on
    if (newKind == ControlKind::Edit) Notify(id, EN_SETFOCUS);
    if (newKind == ControlKind::Combo) Notify(id, kCbnSetFocus);
}

void NotificationRules::TextChanged(int id, const std::string& text, bool changed, bool isEdit)
{
    if (changed) {
        std::function<void(int, const std::string&)> listener;
        {
            std::lock_guard<std::mutex> lock(listenerMutex_);
            listener = textListener_;
        }
        HeadlessStateLock::CheckNoneHeld();
        if (listener) listener(id, text);
    }
    if (isEdit) {
        Notify(id, EN_UPDATE);
        Notify(id, EN_CHANGE);
    }
}

void NotificationRules::ProgressChanged(int id, int position)
{
    std::function<void(int, int)> listener;
    {
        std::lock_guard<std::mutex> lock(listenerMutex_);
        listener = progressListener_;
    }
    HeadlessStateLock::CheckNoneHeld();
    if (listener) listener(id, position);
}

intptr_t NotificationRules::DefaultProcessing(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    shell_.AddDefaultCall({message, wParam, lParam});
    if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) {
        // DefWindowProc: the close command sends WM_CLOSE.
        Message close;
        close.message = WM_CLOSE;
        Send(close);
    } else if (message == WM_CLOSE) {
        // DefDlgProc: WM_CLOSE posts IDCANCEL's click, unless an IDCANCEL control is disabled.
        const std::optional<HeadlessControl> cancel = controls_.Control(IDCANCEL);
        if (!cancel || cancel->enabled) {
            Message command;
            command.message = WM_COMMAND;
            command.wParam = MakeCommandParam(IDCANCEL, BN_CLICKED);
            command.controlId = IDCANCEL;
            loop_.PostMessage(command);
        }
    }
    return 0;
}

void NotificationRules::SetTextListener(std::function<void(int id, const std::string& text)> listener)
{
    std::lock_guard<std::mutex> lock(listenerMutex_);
    textListener_ = std::move(listener);
}

void NotificationRules::SetProgressListener(std::function<void(int id, int position)> listener)
{
    std::lock_guard<std::mutex> lock(listenerMutex_);
    progressListener_ = std::move(listener);
}
