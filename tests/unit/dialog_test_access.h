#pragma once
// The tests' way to the main dialog's private steps (the dialog befriends
// this class). One definition for the whole test program: add to it here.
#include "app/rodediz_dlg.h"

class DialogTestAccess {
public:
    static void SetupProgressBar(CRODEdizDlg& d) { d.SetupProgressBar(); }
    static void SetupToolTips(CRODEdizDlg& d) { d.SetupToolTips(); }
    static void SetupEditColours(CRODEdizDlg& d) { d.SetupEditColours(); }
    static void SetupButtonPictures(CRODEdizDlg& d) { d.SetupButtonPictures(); }
};
