#pragma once
// The main dialog's template as data: the one table that both window
// backends build their controls from.
#include <span>
#include <string>

enum class ControlKind { Static, Button, Edit, Combo, Progress };

enum class ControlStyle {
    Static, StaticRight, StaticNotify, StaticNotifyBorder,
    OwnerDraw, PushBitmap, Push, AutoCheck,
    Edit, EditUpper, EditDigitsRight,
    ComboDropDown, Progress,
};

struct ControlRow {
    int id;
    ControlKind kind;
    const char* caption;
    int x, y, width, height; // dialog units
    bool shown;
    bool disabled;
    bool redrawOff;          // switched off at the end of start-up
    ControlStyle style;
};

struct DialogTemplateInfo {
    const char* caption;     // "TALMO Upgrade for Mirra"
    const char* fontName;    // "Arial"
    int fontPoints;          // 10
    int width, height;       // 375 by 221 dialog units
};

std::span<const ControlRow> MainDialogControls();
const ControlRow* FindControlRow(int id);
const DialogTemplateInfo& MainDialogTemplate();
