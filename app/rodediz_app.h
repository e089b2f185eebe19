#pragma once
// The application object: prepares the window system and runs the main dialog.
#include "app/dialog_services.h"
#include "framework/dialog.h"

class CRODEdizDlg;

class CRODEdizApp {
public:
    CRODEdizApp(IWindowSystem& windows, DialogServices services) : m_windows(windows), m_services(services) {}
    // Runs the program; returns FALSE (0) once the dialog has closed.
    bool InitInstance();
    CRODEdizDlg* MainWindow() { return m_pMainWnd; }

private:
    IWindowSystem& m_windows;
    DialogServices m_services;
    CRODEdizDlg* m_pMainWnd = nullptr;
};

// The company key name of the registry (code page 950 text).
extern const char kRegistryCompanyKey[];
