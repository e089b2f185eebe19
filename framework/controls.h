#pragma once
// Control members of a dialog, bound to their controls by data exchange.
// Each forwards to the window layer by identifier.
#include <string>

#include "framework/canvas.h"
#include "framework/window.h"

class CWnd {
public:
    virtual ~CWnd() = default;
    void Bind(IDialogWindow* window, int id) { window_ = window; id_ = id; }
    bool IsBound() const { return window_ != nullptr; }
    int GetDlgCtrlID() const { return id_; }

    void SetWindowText(const std::string& text) { window_->SetWindowText(id_, text); }
    std::string GetWindowText() const { return window_->GetWindowText(id_); }
    void EnableWindow(bool enable) { window_->EnableWindow(id_, enable); }
    bool IsWindowEnabled() const { return window_->IsWindowEnabled(id_); }
    void ShowWindow(bool show) { window_->ShowWindow(id_, show); }

protected:
    IDialogWindow* window_ = nullptr;
    int id_ = 0;
};

class CStatic : public CWnd {};

// State bits of an owner-drawn item.
constexpr unsigned ODS_SELECTED = 0x0001;
constexpr unsigned ODS_DISABLED = 0x0004;
constexpr unsigned ODS_FOCUS = 0x0010;
constexpr unsigned ODS_DEFAULT = 0x0020;

struct DrawItemInfo {
    Rect item;          // the item's rectangle
    unsigned state = 0; // ODS_* bits
};

class CButton : public CWnd {
public:
    void SetCheck(bool checked) { window_->SetCheck(id_, checked); }
    bool GetCheck() const { return window_->GetCheck(id_); }
    void SetBitmap(int bitmapResource) { window_->SetButtonBitmap(id_, bitmapResource); }
    // Owner drawing: called for buttons with the owner-drawn style.
    virtual void DrawItem(const DrawItemInfo& info, ICanvas& canvas) { (void)info; (void)canvas; }
};

class CEdit : public CWnd {
public:
    void LimitText(int characters) { window_->LimitText(id_, characters); }
    // A typed character: true passes it on to the edit, false drops it.
    virtual bool OnChar(unsigned character, unsigned repeatCount, unsigned flags)
    {
        (void)character; (void)repeatCount; (void)flags;
        return true;
    }
};

class CComboBox : public CWnd {
public:
    int AddString(const std::string& text) { return window_->ComboAddString(id_, text); }
    void SetCurSel(int row) { window_->ComboSetCurSel(id_, row); }
    int GetCurSel() const { return window_->ComboGetCurSel(id_); }
};

class CProgressCtrl : public CWnd {
public:
    void SetRange(int low, int high) { window_->ProgressSetRange(id_, low, high); }
    void SetPos(int position) { window_->ProgressSetPos(id_, position); }
    void SetBkColor(Colour c) { window_->ProgressSetBkColour(id_, c); }
    void SetBarColor(Colour c) { window_->ProgressSetBarColour(id_, c); }
};

class CToolTipCtrl {
public:
    void Create(IDialogWindow* window) { window_ = window; window_->ToolTipCreate(); }
    bool IsCreated() const { return window_ != nullptr; }
    void Activate(bool active) { window_->ToolTipActivate(active); }
    void AddTool(int id, const std::string& text) { window_->ToolTipAddTool(id, text); }
    void UpdateTipText(const std::string& text, int id) { window_->ToolTipUpdateTipText(id, text); }
    void SetMaxTipWidth(int width) { window_->ToolTipSetMaxTipWidth(width); }

private:
    IDialogWindow* window_ = nullptr;
};

// A solid brush that the colour handler returns; backends make the real one.
struct CBrush {
    bool created = false;
    Colour colour = 0;
    void CreateSolidBrush(Colour c) { colour = c; created = true; }
};
