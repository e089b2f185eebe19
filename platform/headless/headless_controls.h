#pragma once
// The controls of the headless window as data, and the rules each control
// keeps by itself (what it takes when typed into, where a progress bar's
// position may go, which buttons keep a check mark).
//
// The main dialog (template 102, IDD_RODEDIZ_DIALOG) gets one control for
// each row of MainDialogControls(), the same table the Win32 .rc is built
// from; any other template starts with no controls (a test adds its own).
// Identifier kNoControl (0) stands for the dialog window itself (its caption,
// its rectangle, focus on no control).
//
// Geometry. Dialog units become pixels with fixed base units: x * 6 / 4 and
// y * 13 / 8 (kHeadlessBaseUnitX/Y, each rounded as MulDiv does). These are
// the classic 96-DPI base units (6 by 13), taken as an approximation of
// Arial 10 point; they are not measured from a font. The client area's top
// left corner lies at a window origin in screen coordinates (100,100 unless
// set), so rectangles are in screen coordinates.
//
// Every member may be called from any thread; none calls out.
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "resources/control_table.h"
#include "framework/canvas.h"
#include "framework/messages.h"
#include "platform/headless/state_lock.h"

constexpr int kHeadlessBaseUnitX = 6;   // pixels per 4 horizontal dialog units
constexpr int kHeadlessBaseUnitY = 13;  // pixels per 8 vertical dialog units
constexpr Point kHeadlessWindowOrigin = {100, 100};
constexpr Colour kHeadlessDefaultColour = 0xFF000000; // CLR_DEFAULT: the system's colour

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

// The control is on the screen. Redrawing switched off (SetRedraw false): it
// is not drawn and behaves as hidden, as the system's default handling of
// WM_SETREDRAW makes it (it clears the visible bit).
inline bool Shown(const HeadlessControl& c) { return c.visible && c.redraw; }
// The user can act on the control: click it, type into it, pick from it.
// (Hidden controls are not asked about: the user's calls name their control.)
inline bool TakesUserInput(const HeadlessControl& c) { return c.enabled; }
// The user's mouse can reach it: a control that is not drawn is not there
// for the mouse (a program's BM_CLICK still reaches it).
inline bool TakesMouse(const HeadlessControl& c) { return TakesUserInput(c) && c.redraw; }
// The control can have the focus at all (buttons, edits, combo boxes).
inline bool TakesFocus(const HeadlessControl& c)
{
    return c.kind == ControlKind::Button || c.kind == ControlKind::Edit || c.kind == ControlKind::Combo;
}
// The focus may go there without the user naming it (the first tab stop).
inline bool IsTabStop(const HeadlessControl& c) { return TakesFocus(c) && Shown(c) && c.enabled; }
inline bool IsNotifyStatic(const HeadlessControl& c)
{
    return c.kind == ControlKind::Static &&
           (c.style == ControlStyle::StaticNotify || c.style == ControlStyle::StaticNotifyBorder);
}

class HeadlessControls {
public:
    HeadlessControls();

    // --- set-up ---
    void Add(const ControlRow& row); // adds or replaces
    void SetDialog(const std::string& caption, Rect dialogUnits);
    void SetOrigin(Point origin);

    // --- looking (an unknown identifier is not noted) ---
    std::optional<HeadlessControl> Control(int id) const;
    std::vector<int> Ids() const;                        // template order
    template <typename T>
    T Field(int id, T HeadlessControl::*field, T fallback) const
    {
        HeadlessStateLock lock(mutex_);
        const HeadlessControl* c = Find(id);
        return c ? c->*field : fallback;
    }
    bool Visible(int id) const;                          // Shown
    Point Origin() const;
    int Focus() const;
    std::vector<int> Unknown() const;                    // identifiers asked for that no control has
    int FirstTabStop() const;                            // kNoControl: none

    // --- requests (an unknown identifier is noted) ---
    std::optional<HeadlessControl> Reach(int id);        // a copy
    struct TextChange {
        bool changed = false;                            // the text differs from before
        bool isEdit = false;                             // an edit: it notifies
    };
    std::optional<TextChange> SetText(int id, const std::string& text);
    std::string Text(int id);
    // Both return whether the control had the focus and must lose it now.
    bool SetEnabled(int id, bool enable);
    bool SetVisible(int id, bool show);
    bool IsEnabled(int id);
    bool IsVisible(int id);
    void SetRedraw(int id, bool redraw);
    Rect ScreenRect(int id);
    void SetCheck(int id, bool checked);                 // auto check boxes only
    bool GetCheck(int id);
    void ToggleCheck(int id);                            // an auto check box clicked
    void SetBitmap(int id, int bitmapResource);
    void SetTextLimit(int id, int characters);
    // A character the edit takes by itself (after the dialog's filters): its
    // new text, or nothing when it refused the character.
    std::optional<std::string> TypeInto(int id, unsigned character);
    int ComboAdd(int id, const std::string& text);      // -1: CB_ERR
    // The program's CB_SETCURSEL (out of range clears) and the user's pick
    // (in range only): the new text, or nothing when nothing was selected.
    std::optional<std::pair<std::string, bool>> ComboSetSel(int id, int row);
    std::optional<std::pair<std::string, bool>> ComboPick(int id, int row);
    int ComboSel(int id);
    std::string ComboRowText(int id, int row);
    void ProgressSetRange(int id, int low, int high);
    // The position now shown, or nothing when it did not change.
    std::optional<int> ProgressSetPos(int id, int position);
    void ProgressSetBkColour(int id, Colour colour);
    void ProgressSetBarColour(int id, Colour colour);

    // --- the focus ---
    // Moves it; the control that had it, or nothing when it was there already.
    std::optional<int> MoveFocus(int id);

private:
    HeadlessControl* Find(int id);
    const HeadlessControl* Find(int id) const;
    HeadlessControl* FindOrNote(int id);
    Rect ToScreen(const Rect& dialogUnits) const;

    mutable std::mutex mutex_;
    HeadlessControl self_;               // the dialog window itself (id 0)
    std::vector<HeadlessControl> controls_;
    std::map<int, size_t> index_;
    std::vector<int> unknown_;
    Point origin_ = kHeadlessWindowOrigin;
    int focus_ = kNoControl;
};
