#pragma once
// The user at the headless window: clicks, keys, typing, dropped files, the
// close box, combo-box picks. Each action raises what the same action raises
// on Windows:
//   Click on a button: WM_LBUTTONDOWN to PreTranslateMessage, focus to the
//     button, an auto check box toggles, then BN_CLICKED. A control whose
//     redrawing is off is not there for the mouse: clicks and double clicks
//     on it are refused; a program's click (BM_CLICK, SendClick) still
//     reaches it.
//   Double click on a notify static: STN_CLICKED, then STN_DBLCLK (the first
//     click of a double click is a click).
//   Typing: the edit gets the focus if it has not (the user's click into
//     it), then WM_CHAR as a posted message.
//   Picking a combo row: focus to the combo box, then CBN_SELCHANGE; opening
//     its list: focus, then CBN_DROPDOWN.
//   Close box: WM_SYSCOMMAND SC_CLOSE, then what its default processing posts.
// Every member runs inside the dialog; once the window is destroyed an action
// does nothing and is counted.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/headless/headless_controls.h"
#include "platform/headless/message_loop.h"
#include "platform/headless/notification_rules.h"
#include "platform/headless/shell_record.h"
#include "platform/headless/window_life.h"

constexpr uint32_t kHeadlessLButtonDblClk = 0x0203;   // WM_LBUTTONDBLCLK
constexpr int kCurrentFocus = -1;                     // PressKey: the control that has the focus

class UserDriver {
public:
    UserDriver(NotificationRules& rules, HeadlessControls& controls, WindowLife& life, ShellRecord& shell,
               MessageLoop& loop);

    // false: disabled, unknown, not there for the mouse, or eaten
    bool Click(int id);
    bool SendClick(int id);                              // BM_CLICK: as Click, whatever the window shows
    bool DoubleClick(int id);
    // The second click of a double click whose first click was delivered already.
    bool SecondClick(int id);
    bool ClickStatic(int id);                            // STN_CLICKED on a notify static
    bool PressKey(uintptr_t vk, int focusedControlId);   // true: PreTranslateMessage took it
    bool TypeChar(int id, unsigned character);
    void LButtonDown(int id, Point clientPoint);
    bool DropFiles(const std::vector<std::string>& paths, Point cursor); // false: not accepting
    intptr_t DeviceChange(uintptr_t event, intptr_t data);
    void SystemCommand(uint32_t commandId);
    void Close();
    bool SelectComboRow(int id, int row);
    bool DropDownCombo(int id);

private:
    // The control when the user can act on it (noting an unknown identifier).
    std::optional<HeadlessControl> Reachable(int id);
    // The same, for the mouse.
    std::optional<HeadlessControl> UnderTheMouse(int id);

    NotificationRules& rules_;
    HeadlessControls& controls_;
    WindowLife& life_;
    ShellRecord& shell_;
    MessageLoop& loop_;
};
