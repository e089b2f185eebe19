#pragma once
// The dialog framework of the program: a dialog class with a message map,
// data exchange and bound control members, running on an IDialogWindow.
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "framework/canvas.h"
#include "framework/controls.h"
#include "framework/messages.h"
#include "framework/window.h"

class CDialog;

// One entry of a message map. WM_COMMAND entries match notification code and
// control; others match the message. Dispatch takes the first match.
struct MessageMapEntry {
    uint32_t message = 0;
    uint32_t code = 0;
    int id = 0;
    std::function<intptr_t(CDialog&, const Message&)> handler; // empty: default processing
};
using MessageMap = std::vector<MessageMapEntry>;

// Builders of map entries, named after the notifications they match.
template <class D>
MessageMapEntry OnCommandEntry(uint32_t code, int id, void (D::*fn)())
{
    return {WM_COMMAND, code, id, [fn](CDialog& d, const Message&) -> intptr_t { (static_cast<D&>(d).*fn)(); return 0; }};
}
template <class D>
MessageMapEntry OnMessageEntry(uint32_t message, intptr_t (D::*fn)(const Message&))
{
    return {message, 0, 0, [fn](CDialog& d, const Message& m) -> intptr_t { return (static_cast<D&>(d).*fn)(m); }};
}
inline MessageMapEntry DefaultEntry(uint32_t message) { return {message, 0, 0, {}}; }
inline MessageMapEntry NothingEntry(uint32_t code, int id)
{
    return {WM_COMMAND, code, id, [](CDialog&, const Message&) -> intptr_t { return 0; }};
}

// Data exchange between controls and member variables.
class CDataExchange {
public:
    CDataExchange(CDialog& dialog, bool saveAndValidate) : m_pDlgWnd(&dialog), m_bSaveAndValidate(saveAndValidate) {}
    CDialog* m_pDlgWnd;
    bool m_bSaveAndValidate;
    bool failed = false;
    int lastControl = 0;
    void Fail() { failed = true; }
};

void DDX_Control(CDataExchange& dx, int id, CWnd& control);
void DDX_Text(CDataExchange& dx, int id, std::string& value);
// Validates the length of the last DDX_Text value; on load it sets the text limit.
void DDV_MaxChars(CDataExchange& dx, const std::string& value, int maxChars);

// How a control is to be coloured (the answer to WM_CTLCOLOR).
struct CtlColorResult {
    enum class BkMode { Unchanged, Transparent, Opaque };
    bool setTextColour = false;
    Colour textColour = 0;
    bool setBkColour = false;
    Colour bkColour = 0;
    BkMode bkMode = BkMode::Unchanged;
    const CBrush* brush = nullptr;
};

class CDialog {
public:
    explicit CDialog(int templateId) : templateId_(templateId) {}
    virtual ~CDialog() = default;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    int TemplateId() const { return templateId_; }

    // --- called by the window layer ---
    // The window exists; controls can be reached. Sends the initial data exchange.
    void Attach(IDialogWindow* window);
    void Detach() { window_ = nullptr; }
    virtual bool OnInitDialog();
    // First look at every message the dialog's thread takes from its queue.
    virtual bool PreTranslateMessage(const Message& message);
    // Every message of the dialog window (through the message map).
    virtual intptr_t WindowProc(const Message& message);
    virtual CtlColorResult OnCtlColor(int controlId) { (void)controlId; return {}; }
    virtual void OnPaint(ICanvas& canvas, const Rect& client) { (void)canvas; (void)client; }
    // Owner drawing and typed characters reach the bound control member.
    void DrawItem(int id, const DrawItemInfo& info, ICanvas& canvas);
    bool FilterChar(int id, unsigned character);
    virtual void OnOK();
    virtual void OnCancel();

    // --- for the dialog's own code ---
    bool UpdateData(bool saveAndValidate = true);
    IDialogWindow* Window() const { return window_; }
    void EndDialog(int result) { window_->EndDialog(result); }
    void SetDlgItemText(int id, const std::string& text) { window_->SetWindowText(id, text); }
    std::string GetDlgItemText(int id) { return window_->GetWindowText(id); }
    void SetTimer(int timerId, unsigned periodMs) { window_->SetTimer(timerId, periodMs); }
    void KillTimer(int timerId) { window_->KillTimer(timerId); }
    // AfxMessageBox: OK box captioned with the program's title.
    int AfxMessageBox(const std::string& text, unsigned type = MB_OK) { return ShowMessageBox(text, "", type); }
    int MessageBox(const std::string& text, const std::string& caption, unsigned type) { return ShowMessageBox(text, caption, type); }
    CWnd* BoundControl(int id);

protected:
    virtual void DoDataExchange(CDataExchange& dx) { (void)dx; }
    // Every box the dialog showed, once it is closed, on the thread that showed it.
    virtual void OnMessageBoxClosed(const std::string& text, unsigned type, int answer)
    {
        (void)text;
        (void)type;
        (void)answer;
    }
    virtual const MessageMap& GetMessageMap() const;
    intptr_t Default(const Message& m) { return window_->DefaultProcessing(m.message, m.wParam, m.lParam); }

private:
    friend void DDX_Control(CDataExchange&, int, CWnd&);
    int ShowMessageBox(const std::string& text, const std::string& caption, unsigned type)
    {
        const int answer = window_->MessageBox(text, caption, type);
        OnMessageBoxClosed(text, type, answer);
        return answer;
    }
    const int templateId_;
    IDialogWindow* window_ = nullptr;
    std::map<int, CWnd*> bound_;
    std::recursive_mutex exchangeMutex_; // data exchange runs from several threads
};

// The window system: creates and runs dialogs.
class IWindowSystem {
public:
    virtual ~IWindowSystem() = default;
    virtual bool InitCommonControls(uint32_t structureSize, uint32_t classMask) = 0;
    virtual void SetRegistryKey(const std::string& company) = 0;
    // Creates the dialog's window from its template, runs it modally and
    // returns the result passed to EndDialog.
    virtual int RunModal(CDialog& dialog) = 0;
};
