// The main window's look: skin painting, colours by control, progress bar
// colours, tooltips, button pictures and brushes.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "resources/control_table.h"
#include "app/rodediz_dlg.h"
#include "dialog_test_access.h"
#include "emulator/emulated_device_tree.h"
#include "emulator/emulated_target.h"
#include "platform/headless/headless_window.h"
#include "ports/registry.h"
#include "recording_canvas.h"

namespace {

constexpr Colour kWhite = Rgb(255, 255, 255);
constexpr Colour kBlack = Rgb(0, 0, 0);
constexpr Colour kBlue = Rgb(0, 0, 255);

// The dialog on a headless window with its controls bound (the data
// exchange of start-up), but none of the rest of start-up.
class AppearanceTest : public ::testing::Test {
protected:
    AppearanceTest()
        : dialog(DialogServices{clock, target, tree, registry, PlatformFileSystem()}), window(dialog, clock)
    {
        dialog.Attach(&window);
        dialog.UpdateData(false);
    }

    VirtualClock clock;
    EmulatedTarget target{clock};   // never reached: start-up is not run
    EmulatedDeviceTree tree{target};
    MemoryRegistry registry;
    CRODEdizDlg dialog;
    HeadlessWindow window;
};

TEST_F(AppearanceTest, EveryPaintStretchesTheSkinOverTheClientArea)
{
    RecordingCanvas canvas;
    const Rect client = {0, 0, 656, 441};
    dialog.OnPaint(canvas, client);
    dialog.OnPaint(canvas, client);
    const std::vector<CanvasCall> expected = {CanvasCall::Stretch(182, client), CanvasCall::Stretch(182, client)};
    EXPECT_EQ(canvas.calls, expected);
}

enum class Rule { Value, Edit, Label, DialogTemplate, Other };

// The colour rules, by identifier, as the window has always used them.
const std::map<int, Rule>& ColourRules()
{
    static const std::map<int, Rule> rules = [] {
        std::map<int, Rule> r;
        for (int id : {1001, 1002, 1016, 1019, 1039, 1040, 1045, 1046, 1052, 1061, 1062, 1067, 1071, 1072, 1078})
            r[id] = Rule::Value;
        for (int id : {1005, 1006, 1007, 1008, 1030}) r[id] = Rule::Edit;
        for (int id : {1020, 1042, 1047, 1048, 1049, 1050, 1051, 1059, 1060, 1063, 1065, 1066, 1070, 1086, -1})
            r[id] = Rule::Label;
        r[102] = Rule::DialogTemplate;
        return r;
    }();
    return rules;
}

CtlColorResult Expected(const CRODEdizDlg& dialog, Rule rule)
{
    using Mode = CtlColorResult::BkMode;
    switch (rule) {
    case Rule::Value: return {true, kBlue, true, kWhite, Mode::Transparent, &dialog.m_brBack};
    case Rule::Edit: return {true, kBlue, true, dialog.m_crEditBk, Mode::Unchanged, &dialog.m_brEdit};
    case Rule::Label: return {true, kBlack, false, 0, Mode::Transparent, &dialog.m_brBack};
    case Rule::DialogTemplate: return {false, 0, true, kWhite, Mode::Unchanged, &dialog.m_brBack};
    case Rule::Other: break;
    }
    return {false, 0, false, 0, Mode::Unchanged, &dialog.m_brBack};
}

void ExpectRule(const CRODEdizDlg& dialog, int id, Rule rule, const CtlColorResult& got)
{
    const CtlColorResult want = Expected(dialog, rule);
    EXPECT_EQ(got.setTextColour, want.setTextColour) << "control " << id;
    if (want.setTextColour) {
        EXPECT_EQ(got.textColour, want.textColour) << "control " << id;
    }
    EXPECT_EQ(got.setBkColour, want.setBkColour) << "control " << id;
    if (want.setBkColour) {
        EXPECT_EQ(got.bkColour, want.bkColour) << "control " << id;
    }
    EXPECT_EQ(got.bkMode, want.bkMode) << "control " << id;
    EXPECT_EQ(got.brush, want.brush) << "control " << id;
}

TEST_F(AppearanceTest, EveryIdentifierOfTheColourTableGetsItsRule)
{
    DialogTestAccess::SetupEditColours(dialog);
    for (const auto& [id, rule] : ColourRules()) ExpectRule(dialog, id, rule, dialog.OnCtlColor(id));
}

TEST_F(AppearanceTest, EveryOtherControlAndTheDialogGetTheWhiteBrushOnly)
{
    DialogTestAccess::SetupEditColours(dialog);
    std::set<int> others = {0, 1, 2, 101, 103, 1000, 1003, 1087, 65535};
    for (const ControlRow& row : MainDialogControls())
        if (!ColourRules().count(row.id)) others.insert(row.id);
    for (int id : others) ExpectRule(dialog, id, Rule::Other, dialog.OnCtlColor(id));
    // Buttons, the progress bar, the combo box and the tooltip static are among them.
    for (int id : {1013, 1029, 1010, 1014, 1015, 1044, 1012, 1058, 1082}) EXPECT_TRUE(others.count(id)) << id;
}

TEST_F(AppearanceTest, EditColourAndBothBrushesAreWhiteAndEditsFollowTheColour)
{
    DialogTestAccess::SetupEditColours(dialog);
    EXPECT_EQ(dialog.m_crEditBk, kWhite);
    EXPECT_TRUE(dialog.m_brEdit.created && dialog.m_brEdit.colour == kWhite);
    EXPECT_TRUE(dialog.m_brBack.created && dialog.m_brBack.colour == kWhite);

    dialog.m_crEditBk = Rgb(250, 250, 210);
    EXPECT_EQ(dialog.OnCtlColor(1006).bkColour, Rgb(250, 250, 210));
}

TEST_F(AppearanceTest, ProgressBarRunsFromZeroToHundredInDarkBlueOnWhite)
{
    DialogTestAccess::SetupProgressBar(dialog);
    EXPECT_EQ(window.ProgressRange(1015), std::make_pair(0, 100));
    EXPECT_EQ(window.ProgressBkColour(1015), kWhite);
    EXPECT_EQ(window.ProgressBarColour(1015), Rgb(0, 0, 160));
}

TEST_F(AppearanceTest, ToolTipsAreAddedInOrderWithTheirTexts)
{
    DialogTestAccess::SetupToolTips(dialog);
    EXPECT_TRUE(window.ToolTipCreated());
    EXPECT_TRUE(window.ToolTipActive());
    EXPECT_EQ(window.ToolTipMaxWidth(), 400);

    // Texts exactly as shipped, spelling and the trailing blank included.
    const std::vector<std::pair<int, std::string>> expected = {
        {1013, "[Exit] Close Dialog and Leave"},
        {1029, "[Upgrade] Upgrade data to target"},
        {1010, "Open File Dialog and select your file"},
        {1030, "Fill in decimal number you want to Dump within SPI Flash"},
        {1063, "Write the series number into the specified address"},
        {1063, "Write the series number into the specified address"},
        {1061, "Doblue click to modify the offset address"},
        {1062, "Doblue click to modify the series number"},
        {1015, "Current Progress "},
    };
    std::vector<std::pair<int, std::string>> got;
    for (const ToolTipInfo& tip : window.ToolTips()) got.emplace_back(tip.id, tip.text);
    EXPECT_EQ(got, expected);
}

TEST_F(AppearanceTest, ActionAndExitButtonsGetTheirPictures)
{
    DialogTestAccess::SetupButtonPictures(dialog);
    EXPECT_EQ(window.ButtonBitmap(1029), 185);
    EXPECT_EQ(window.ButtonBitmap(1013), 184);
    EXPECT_EQ(window.ButtonBitmap(1010), 0);
}

} // namespace
