// The hex edit takes lower-case hexadecimal digits and Backspace, nothing else.
#include <gtest/gtest.h>

#include <string>

#include "controls/new_edit.h"
#include "framework/dialog.h"
#include "platform/headless/headless_window.h"
#include "resources/resource.h"

namespace {

TEST(NewEdit, AcceptsExactlyBackspaceDigitsAndLowerCaseHexLetters)
{
    CNewEdit edit;
    const std::string accepted = "\b0123456789abcdef";
    // Every byte value (upper case, the Ctrl+V/C/Z/X control characters, Return,
    // Escape ...), and wide characters whose low byte looks acceptable.
    for (unsigned c = 0; c < 0x200; ++c) {
        const bool expected = c < 0x100 && accepted.find(static_cast<char>(c)) != std::string::npos;
        EXPECT_EQ(edit.OnChar(c, 1, 0), expected) << "character 0x" << std::hex << c;
    }
}

// The dialog's editors are subclassed and upper-case: an accepted "a" shows as "A".
class HexEditorDialog : public CDialog {
public:
    HexEditorDialog() : CDialog(IDD_RODEDIZ_DIALOG) {}
    CNewEdit editor;

protected:
    void DoDataExchange(CDataExchange& dx) override { DDX_Control(dx, IDC_SERIES_EDIT, editor); }
};

TEST(NewEdit, TypedLowerCaseShowsUpperCaseInTheDialogsEditor)
{
    VirtualClock clock;
    HexEditorDialog dialog;
    HeadlessWindow window(dialog, clock);
    window.Open();
    // Hidden and disabled in the template: the in-place editing shows it.
    window.EnableWindow(IDC_SERIES_EDIT, true);
    window.ShowWindow(IDC_SERIES_EDIT, true);
    window.TypeText(IDC_SERIES_EDIT, "aG1\x16" "fF");
    EXPECT_EQ(window.Text(IDC_SERIES_EDIT), "A1F");
    window.TypeChar(IDC_SERIES_EDIT, 8);
    EXPECT_EQ(window.Text(IDC_SERIES_EDIT), "A1");
}

} // namespace
