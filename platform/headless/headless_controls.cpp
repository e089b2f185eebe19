#include "platform/headless/headless_controls.h"

#include <algorithm>

namespace {

// MulDiv: a * b / c rounded half away from zero.
int MulDiv(int a, int b, int c)
{
    const long long p = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(p >= 0 ? (p + half) / c : (p - half) / c);
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

HeadlessControls::HeadlessControls()
{
    self_.id = kNoControl;
}

HeadlessControl* HeadlessControls::Find(int id)
{
    if (id == kNoControl) return &self_;
    auto it = index_.find(id);
    return it == index_.end() ? nullptr : &controls_[it->second];
}

const HeadlessControl* HeadlessControls::Find(int id) const
{
    if (id == kNoControl) return &self_;
    auto it = index_.find(id);
    return it == index_.end() ? nullptr : &controls_[it->second];
}

HeadlessControl* HeadlessControls::FindOrNote(int id)
{
    HeadlessControl* c = Find(id);
    if (!c && std::find(unknown_.begin(), unknown_.end(), id) == unknown_.end()) unknown_.push_back(id);
    return c;
}

Rect HeadlessControls::ToScreen(const Rect& du) const
{
    const int left = origin_.x + MulDiv(du.left, kHeadlessBaseUnitX, 4);
    const int top = origin_.y + MulDiv(du.top, kHeadlessBaseUnitY, 8);
    return {left, top, left + MulDiv(du.Width(), kHeadlessBaseUnitX, 4), top + MulDiv(du.Height(), kHeadlessBaseUnitY, 8)};
}

// ---------------------------------------------------------------- set-up

void HeadlessControls::Add(const ControlRow& row)
{
    HeadlessStateLock lock(mutex_);
    HeadlessControl c = FromRow(row);
    auto it = index_.find(row.id);
    if (it != index_.end()) {
        controls_[it->second] = std::move(c);
    } else {
        index_[row.id] = controls_.size();
        controls_.push_back(std::move(c));
    }
}

void HeadlessControls::SetDialog(const std::string& caption, Rect dialogUnits)
{
    HeadlessStateLock lock(mutex_);
    self_.text = caption;
    self_.dialogUnits = dialogUnits;
}

void HeadlessControls::SetOrigin(Point origin)
{
    HeadlessStateLock lock(mutex_);
    origin_ = origin;
}

// ---------------------------------------------------------------- looking

std::optional<HeadlessControl> HeadlessControls::Control(int id) const
{
    HeadlessStateLock lock(mutex_);
    const HeadlessControl* c = Find(id);
    if (!c) return std::nullopt;
    return *c;
}

std::vector<int> HeadlessControls::Ids() const
{
    HeadlessStateLock lock(mutex_);
    std::vector<int> ids;
    for (const HeadlessControl& c : controls_) ids.push_back(c.id);
    return ids;
}

bool HeadlessControls::Visible(int id) const
{
    HeadlessStateLock lock(mutex_);
    const HeadlessControl* c = Find(id);
    return c && Shown(*c);
}

Point HeadlessControls::Origin() const
{
    HeadlessStateLock lock(mutex_);
    return origin_;
}

int HeadlessControls::Focus() const
{
    HeadlessStateLock lock(mutex_);
    return focus_;
}

std::vector<int> HeadlessControls::Unknown() const
{
    HeadlessStateLock lock(mutex_);
    return unknown_;
}

int HeadlessControls::FirstTabStop() const
{
    HeadlessStateLock lock(mutex_);
    for (const HeadlessControl& c : controls_)
        if (IsTabStop(c)) return c.id;
    return kNoControl;
}

// ---------------------------------------------------------------- requests

std::optional<HeadlessControl> HeadlessControls::Reach(int id)
{
    HeadlessStateLock lock(mutex_);
    const HeadlessControl* c = FindOrNote(id);
    if (!c) return std::nullopt;
    return *c;
}

std::optional<HeadlessControls::TextChange> HeadlessControls::SetText(int id, const std::string& text)
{
    HeadlessStateLock lock(mutex_);
    HeadlessControl* c = FindOrNote(id);
    if (!c) return std::nullopt;
    TextChange change;
    change.changed = c->text != text;
    change.isEdit = id != kNoControl && c->kind == ControlKind::Edit;
    c->text = text;
    return change;
}

std::string HeadlessControls::Text(int id)
{
    HeadlessStateLock lock(mutex_);
    const HeadlessControl* c = FindOrNote(id);
    return c ? c->text : std::string();
}

bool HeadlessControls::SetEnabled(int id, bool enable)
{
    HeadlessStateLock lock(mutex_);
    HeadlessControl* c = FindOrNote(id);
    if (!c) return false;
    c->enabled = enable;
    return !enable && id != kNoControl && focus_ == id; // a disabled window cannot keep the focus
}

bool HeadlessControls::SetVisible(int id, bool show)
{
    HeadlessStateLock lock(mutex_);
    HeadlessControl* c = FindOrNote(id);
    if (!c) return false;
    c->visible = show;
    return !show && id != kNoControl && focus_ == id; // hiding the focus gives it to the dialog
}

bool HeadlessControls::IsEnabled(int id)
{
    HeadlessStateLock lock(mutex_);
    const HeadlessControl* c = FindOrNote(id);
    return c && c->enabled;
}

bool HeadlessControls::IsVisible(int id)
{
    HeadlessStateLock lock(mutex_);
    const HeadlessControl* c = FindOrNote(id);
    return c && Shown(*c);
}

void HeadlessControls::SetRedraw(int id, bool redraw)
{
    HeadlessStateLock lock(mutex_);
    if (HeadlessControl* c = FindOrNote(id)) c->redraw = redraw;
}

Rect HeadlessControls::ScreenRect(int id)
{
    HeadlessStateLock lock(mutex_);
    const HeadlessControl* c = FindOrNote(id);
    return c ? ToScreen(c->dialogUnits) : Rect{};
}

void HeadlessControls::SetCheck(int id, bool checked)
{
    HeadlessStateLock lock(mutex_);
    HeadlessControl* c = FindOrNote(id);
    if (c && c->style == ControlStyle::AutoCheck) c->checked = checked; // push buttons ignore BM_SETCHECK
}

bool HeadlessControls::GetCheck(int id)
{
    HeadlessStateLock lock(mutex_);
    const HeadlessControl* c = FindOrNote(id);
    return c && c->style == ControlStyle::AutoCheck && c->checked;
}

void HeadlessControls::ToggleCheck(int id)
{
    HeadlessStateLock lock(mutex_);
    HeadlessControl* c = Find(id);
    if (c && c->style == ControlStyle::AutoCheck) c->checked = !c->checked;
}

void HeadlessControls::SetBitmap(int id, int bitmapResource)
{
    HeadlessStateLock lock(mutex_);
    if (HeadlessControl* c = FindOrNote(id)) c->bitmap = bitmapResource;
}

void HeadlessControls::SetTextLimit(int id, int characters)
{
    HeadlessStateLock lock(mutex_);
    if (HeadlessControl* c = FindOrNote(id)) c->textLimit = characters;
}

std::optional<std::string> HeadlessControls::TypeInto(int id, unsigned character)
{
    HeadlessStateLock lock(mutex_);
    HeadlessControl* c = Find(id);
    if (!c) return std::nullopt;
    if (character == 8) {
        if (c->text.empty()) return std::nullopt;
        c->text.pop_back();
        return c->text;
    }
    if (character < 0x20 || character > 0xFF) return std::nullopt;
    char k = static_cast<char>(character);
    if (c->style == ControlStyle::EditUpper && k >= 'a' && k <= 'z') k = static_cast<char>(k - 'a' + 'A');
    // ES_NUMBER: only digits are taken.
    if (c->style == ControlStyle::EditDigitsRight && (k < '0' || k > '9')) return std::nullopt;
    // The limit holds for typing only: WM_SETTEXT is not limited, as on Windows.
    if (c->textLimit > 0 && c->text.size() >= static_cast<size_t>(c->textLimit)) return std::nullopt;
    c->text.push_back(k);
    return c->text;
}

int HeadlessControls::ComboAdd(int id, const std::string& text)
{
    HeadlessStateLock lock(mutex_);
    HeadlessControl* c = FindOrNote(id);
    if (!c || c->kind != ControlKind::Combo) return -1; // CB_ERR
    c->comboRows.push_back(text);
    return static_cast<int>(c->comboRows.size()) - 1;
}

std::optional<std::pair<std::string, bool>> HeadlessControls::ComboSetSel(int id, int row)
{
    HeadlessStateLock lock(mutex_);
    HeadlessControl* c = FindOrNote(id);
    if (!c || c->kind != ControlKind::Combo) return std::nullopt;
    // Out of range clears the selection, as CB_SETCURSEL does.
    const bool valid = row >= 0 && row < static_cast<int>(c->comboRows.size());
    c->comboSel = valid ? row : -1;
    std::string text = valid ? c->comboRows[row] : std::string();
    const bool changed = c->text != text;
    c->text = text;
    return std::make_pair(std::move(text), changed);
}

std::optional<std::pair<std::string, bool>> HeadlessControls::ComboPick(int id, int row)
{
    HeadlessStateLock lock(mutex_);
    HeadlessControl* c = Find(id);
    if (!c || row < 0 || row >= static_cast<int>(c->comboRows.size())) return std::nullopt;
    c->comboSel = row;
    const bool changed = c->text != c->comboRows[row];
    c->text = c->comboRows[row];
    return std::make_pair(c->text, changed);
}

int HeadlessControls::ComboSel(int id)
{
    HeadlessStateLock lock(mutex_);
    const HeadlessControl* c = FindOrNote(id);
    return c ? c->comboSel : -1;
}

std::string HeadlessControls::ComboRowText(int id, int row)
{
    HeadlessStateLock lock(mutex_);
    const HeadlessControl* c = FindOrNote(id);
    if (!c || row < 0 || row >= static_cast<int>(c->comboRows.size())) return {};
    return c->comboRows[row];
}

void HeadlessControls::ProgressSetRange(int id, int low, int high)
{
    HeadlessStateLock lock(mutex_);
    HeadlessControl* c = FindOrNote(id);
    if (!c) return;
    c->progressLow = low;
    c->progressHigh = high;
    if (low <= high) c->progressPos = std::clamp(c->progressPos, low, high); // the bar keeps its position inside the range
}

std::optional<int> HeadlessControls::ProgressSetPos(int id, int position)
{
    HeadlessStateLock lock(mutex_);
    HeadlessControl* c = FindOrNote(id);
    if (!c) return std::nullopt;
    const int before = c->progressPos;
    c->progressPos = c->progressLow <= c->progressHigh ? std::clamp(position, c->progressLow, c->progressHigh) : position;
    if (c->progressPos == before) return std::nullopt;
    return c->progressPos;
}

void HeadlessControls::ProgressSetBkColour(int id, Colour colour)
{
    HeadlessStateLock lock(mutex_);
    if (HeadlessControl* c = FindOrNote(id)) c->progressBk = colour;
}

void HeadlessControls::ProgressSetBarColour(int id, Colour colour)
{
    HeadlessStateLock lock(mutex_);
    if (HeadlessControl* c = FindOrNote(id)) c->progressBar = colour;
}

// ---------------------------------------------------------------- focus

std::optional<int> HeadlessControls::MoveFocus(int id)
{
    HeadlessStateLock lock(mutex_);
    if (focus_ == id) return std::nullopt;
    const int old = focus_;
    focus_ = id;
    return old;
}
