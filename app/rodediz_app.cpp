#include "app/rodediz_app.h"

#include "app/rodediz_dlg.h"

// "本機 AppWizard 所產生的應用程式" in code page 950.
const char kRegistryCompanyKey[] =
    "\xa5\xbb\xbe\xf7 AppWizard \xa9\xd2\xb2\xa3\xa5\xcd\xaa\xba\xc0\xb3\xa5\xce\xb5\x7b\xa6\xa1";

bool CRODEdizApp::InitInstance()
{
    // Structure size 8; list view, tree view, bar, tab, up-down, progress,
    // hot-key and animate classes.
    m_windows.InitCommonControls(8, 0xFF);
    m_windows.SetRegistryKey(kRegistryCompanyKey);
    CRODEdizDlg dlg(m_services);
    m_pMainWnd = &dlg;
    m_windows.RunModal(dlg);
    m_pMainWnd = nullptr;
    return false;
}
