#include "resources/control_table.h"

namespace {

#define STATIC_KIND ControlKind::Static
#define BUTTON_KIND ControlKind::Button
#define EDIT_KIND ControlKind::Edit
#define COMBO_KIND ControlKind::Combo
#define PROGRESS_KIND ControlKind::Progress
#define STYLE_STATIC ControlStyle::Static
#define STYLE_STATIC_RIGHT ControlStyle::StaticRight
#define STYLE_STATIC_NOTIFY ControlStyle::StaticNotify
#define STYLE_STATIC_NOTIFY_BORDER ControlStyle::StaticNotifyBorder
#define STYLE_OWNERDRAW ControlStyle::OwnerDraw
#define STYLE_PUSH_BITMAP ControlStyle::PushBitmap
#define STYLE_PUSH ControlStyle::Push
#define STYLE_AUTOCHECK ControlStyle::AutoCheck
#define STYLE_EDIT ControlStyle::Edit
#define STYLE_EDIT_UPPER ControlStyle::EditUpper
#define STYLE_EDIT_DIGITS_RIGHT ControlStyle::EditDigitsRight
#define STYLE_COMBO_DROPDOWN ControlStyle::ComboDropDown
#define STYLE_PROGRESS ControlStyle::Progress
#define CONTROL_ROW(id, kind, caption, x, y, w, h, shown, disabled, redrawOff, style) \
    {id, kind, caption, x, y, w, h, shown != 0, disabled != 0, redrawOff != 0, style},

const ControlRow kControls[] = {
#include "resources/dialog_controls.def"
};

const DialogTemplateInfo kTemplate = {"TALMO Upgrade for Mirra", "Arial", 10, 375, 221};

} // namespace

std::span<const ControlRow> MainDialogControls() { return kControls; }

const ControlRow* FindControlRow(int id)
{
    for (const ControlRow& row : kControls)
        if (row.id == id) return &row;
    return nullptr;
}

const DialogTemplateInfo& MainDialogTemplate() { return kTemplate; }
