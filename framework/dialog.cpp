#include "framework/dialog.h"

void DDX_Control(CDataExchange& dx, int id, CWnd& control)
{
    CDialog& d = *dx.m_pDlgWnd;
    if (!control.IsBound()) {
        control.Bind(d.Window(), id);
        d.bound_[id] = &control;
    }
    dx.lastControl = id;
}

void DDX_Text(CDataExchange& dx, int id, std::string& value)
{
    dx.lastControl = id;
    if (dx.m_bSaveAndValidate) {
        value = dx.m_pDlgWnd->GetDlgItemText(id);
    } else {
        dx.m_pDlgWnd->SetDlgItemText(id, value);
    }
}

void DDV_MaxChars(CDataExchange& dx, const std::string& value, int maxChars)
{
    if (dx.failed) return;
    IDialogWindow* w = dx.m_pDlgWnd->Window();
    if (!dx.m_bSaveAndValidate) {
        w->LimitText(dx.lastControl, maxChars);
        return;
    }
    if (value.size() > static_cast<size_t>(maxChars)) {
        dx.m_pDlgWnd->MessageBox("Please enter no more than " + std::to_string(maxChars) + " characters.", "", MB_ICONEXCLAMATION);
        w->SetFocus(dx.lastControl);
        dx.Fail();
    }
}

void CDialog::Attach(IDialogWindow* window)
{
    window_ = window;
}

bool CDialog::OnInitDialog()
{
    UpdateData(false);
    return true;
}

bool CDialog::UpdateData(bool saveAndValidate)
{
    auto exchange = [&] {
        std::lock_guard<std::recursive_mutex> lock(exchangeMutex_);
        CDataExchange dx(*this, saveAndValidate);
        DoDataExchange(dx);
        return !dx.failed;
    };
    if (!window_) return exchange();
    // The exchange is the dialog's own code: it runs on the window's thread,
    // in one piece, so that a worker's exchange never holds the lock while it
    // waits for that thread.
    bool ran = false, ok = false;
    window_->RunOnWindowThread([&] {
        ran = true;
        ok = exchange();
    });
    return ran ? ok : exchange(); // no window thread any more: as before, against a window that is gone
}

bool CDialog::PreTranslateMessage(const Message&)
{
    return false;
}

const MessageMap& CDialog::GetMessageMap() const
{
    static const MessageMap empty;
    return empty;
}

intptr_t CDialog::WindowProc(const Message& m)
{
    for (const MessageMapEntry& e : GetMessageMap()) {
        if (e.message != m.message) continue;
        if (m.message == WM_COMMAND && (e.code != CommandCode(m.wParam) || e.id != CommandId(m.wParam))) continue;
        if (!e.handler) return Default(m);
        return e.handler(*this, m);
    }
    if (m.message == WM_COMMAND && CommandCode(m.wParam) == BN_CLICKED) {
        if (CommandId(m.wParam) == IDOK) { OnOK(); return 0; }
        if (CommandId(m.wParam) == IDCANCEL) { OnCancel(); return 0; }
    }
    return Default(m);
}

void CDialog::OnOK()
{
    if (!UpdateData(true)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

CWnd* CDialog::BoundControl(int id)
{
    auto it = bound_.find(id);
    return it == bound_.end() ? nullptr : it->second;
}

void CDialog::DrawItem(int id, const DrawItemInfo& info, ICanvas& canvas)
{
    if (auto* button = dynamic_cast<CButton*>(BoundControl(id))) button->DrawItem(info, canvas);
}

bool CDialog::FilterChar(int id, unsigned character)
{
    if (auto* edit = dynamic_cast<CEdit*>(BoundControl(id))) return edit->OnChar(character, 1, 0);
    return true;
}
