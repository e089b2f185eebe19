#include "platform/headless/user_driver.h"

namespace {

constexpr uintptr_t kMkLButton = 0x0001; // MK_LBUTTON

intptr_t PointParam(Point p)
{
    return static_cast<intptr_t>((static_cast<uint32_t>(p.y & 0xFFFF) << 16) | static_cast<uint32_t>(p.x & 0xFFFF));
}

Message ButtonDown(int id)
{
    Message down;
    down.message = WM_LBUTTONDOWN;
    down.wParam = kMkLButton;
    down.controlId = id;
    return down;
}

} // namespace

UserDriver::UserDriver(NotificationRules& rules, HeadlessControls& controls, WindowLife& life, ShellRecord& shell,
                       MessageLoop& loop)
    : rules_(rules), controls_(controls), life_(life), shell_(shell), loop_(loop)
{
}

std::optional<HeadlessControl> UserDriver::Reachable(int id)
{
    std::optional<HeadlessControl> c = controls_.Reach(id);
    if (!c || !TakesUserInput(*c)) return std::nullopt;
    return c;
}

std::optional<HeadlessControl> UserDriver::UnderTheMouse(int id)
{
    std::optional<HeadlessControl> c = Reachable(id);
    if (!c || !TakesMouse(*c)) return std::nullopt;
    return c;
}

bool UserDriver::Click(int id)
{
    if (!life_.Live() || id == kNoControl) return false;
    if (!UnderTheMouse(id)) return false;
    return SendClick(id);
}

bool UserDriver::SendClick(int id)
{
    if (!life_.Live() || id == kNoControl) return false;
    const std::optional<HeadlessControl> c = Reachable(id);
    if (!c) return false;
    if (c->kind == ControlKind::Static) return ClickStatic(id);
    if (rules_.Translate(ButtonDown(id))) return false;
    if (c->kind == ControlKind::Progress) return true;
    rules_.MoveFocus(id);
    if (c->kind != ControlKind::Button) return true;
    controls_.ToggleCheck(id);
    rules_.Notify(id, BN_CLICKED);
    return true;
}

bool UserDriver::DoubleClick(int id)
{
    if (!life_.Live() || id == kNoControl) return false;
    const std::optional<HeadlessControl> c = UnderTheMouse(id);
    if (!c) return false;
    if (c->kind == ControlKind::Static) {
        if (!rules_.Translate(ButtonDown(id)) && IsNotifyStatic(*c)) rules_.Notify(id, STN_CLICKED);
    } else if (!Click(id)) {
        return false;
    }
    return SecondClick(id);
}

bool UserDriver::SecondClick(int id)
{
    if (!life_.Live() || id == kNoControl) return false;
    const std::optional<HeadlessControl> c = UnderTheMouse(id);
    if (!c) return false;
    if (c->kind == ControlKind::Button) return Click(id); // a push button takes the second click as a click
    if (c->kind != ControlKind::Static) return true;
    Message second = ButtonDown(id);
    second.message = kHeadlessLButtonDblClk;
    if (rules_.Translate(second) || !IsNotifyStatic(*c)) return false;
    rules_.Notify(id, STN_DBLCLK);
    return true;
}

bool UserDriver::ClickStatic(int id)
{
    if (!life_.Live()) return false;
    const std::optional<HeadlessControl> c = UnderTheMouse(id);
    if (!c || c->kind != ControlKind::Static) return false;
    if (rules_.Translate(ButtonDown(id)) || !IsNotifyStatic(*c)) return false;
    rules_.Notify(id, STN_CLICKED);
    return true;
}

bool UserDriver::PressKey(uintptr_t vk, int focusedControlId)
{
    if (!life_.Live()) return false;
    Message m;
    m.message = WM_KEYDOWN;
    m.wParam = vk;
    m.controlId = focusedControlId == kCurrentFocus ? controls_.Focus() : focusedControlId;
    if (rules_.Translate(m)) return true;
    rules_.DialogKey(m);
    return false;
}

bool UserDriver::TypeChar(int id, unsigned character)
{
    if (!life_.Live()) return false;
    const std::optional<HeadlessControl> c = Reachable(id);
    if (!c || c->kind != ControlKind::Edit) return false;
    rules_.MoveFocus(id); // the user's click into the edit, when it has not the focus yet
    Message m;
    m.message = WM_CHAR;
    m.wParam = character;
    m.lParam = 1; // repeat count
    m.controlId = id;
    if (rules_.Translate(m)) return false;
    return rules_.InsertChar(id, character);
}

void UserDriver::LButtonDown(int id, Point clientPoint)
{
    if (!life_.Live()) return;
    Message m = ButtonDown(id);
    m.lParam = PointParam(clientPoint);
    if (!rules_.Translate(m)) rules_.Send(m);
}

bool UserDriver::DropFiles(const std::vector<std::string>& paths, Point cursor)
{
    if (!life_.Live() || !shell_.AcceptsFiles()) return false;
    shell_.SetCursorPos(cursor);
    Message m;
    m.message = WM_DROPFILES;
    m.dropped = &paths;
    rules_.Deliver(m);
    return true;
}

intptr_t UserDriver::DeviceChange(uintptr_t event, intptr_t data)
{
    if (!life_.Live()) return 0;
    Message m;
    m.message = WM_DEVICECHANGE;
    m.wParam = event;
    m.lParam = data;
    return rules_.Send(m);
}

void UserDriver::SystemCommand(uint32_t commandId)
{
    if (!life_.Live()) return;
    Message m;
    m.message = WM_SYSCOMMAND;
    m.wParam = commandId;
    rules_.Deliver(m);
}

void UserDriver::Close()
{
    SystemCommand(SC_CLOSE);
    loop_.ProcessPosted();
}

bool UserDriver::SelectComboRow(int id, int row)
{
    if (!life_.Live()) return false;
    const std::optional<HeadlessControl> c = Reachable(id);
    if (!c || c->kind != ControlKind::Combo) return false;
    if (row < 0 || row >= static_cast<int>(c->comboRows.size())) return false;
    rules_.MoveFocus(id);
    const auto picked = controls_.ComboPick(id, row);
    if (!picked) return false;
    rules_.TextChanged(id, picked->first, picked->second, false);
    rules_.Notify(id, CBN_SELCHANGE);
    return true;
}

bool UserDriver::DropDownCombo(int id)
{
    if (!life_.Live()) return false;
    const std::optional<HeadlessControl> c = Reachable(id);
    if (!c || c->kind != ControlKind::Combo) return false;
    rules_.MoveFocus(id);
    rules_.Notify(id, CBN_DROPDOWN);
    return true;
}
