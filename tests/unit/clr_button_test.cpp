// The colour button draws a classic three-dimensional button: its face, its
// rings outermost first, its caption and the focus rectangle.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controls/clr_button.h"
#include "framework/dialog.h"
#include "framework/system_colours.h"
#include "platform/headless/headless_window.h"
#include "recording_canvas.h"
#include "resources/resource.h"

namespace {

constexpr Colour kBlack = Rgb(0, 0, 0);
constexpr Colour kWhite = Rgb(255, 255, 255);
constexpr Colour kGrey = Rgb(128, 128, 128);
const Rect kItem = {10, 20, 90, 50};

// The four edges of a ring in the order the button draws them.
std::vector<CanvasCall> Ring(const Rect& r, Colour topLeft, Colour bottomRight)
{
    return {CanvasCall::Line(r.left, r.top, r.right, r.top, topLeft),
            CanvasCall::Line(r.left, r.top, r.left, r.bottom, topLeft),
            CanvasCall::Line(r.left, r.bottom - 1, r.right, r.bottom - 1, bottomRight),
            CanvasCall::Line(r.right - 1, r.top, r.right - 1, r.bottom, bottomRight)};
}

void Append(std::vector<CanvasCall>& to, const std::vector<CanvasCall>& more)
{
    to.insert(to.end(), more.begin(), more.end());
}

class ClrButtonTest : public ::testing::Test {
protected:
    ClrButtonTest() : window(dialog, clock)
    {
        button.Bind(&window, IDC_CODE_BUTTON); // "Code" in the template
    }

    std::vector<CanvasCall> Draw(unsigned state)
    {
        RecordingCanvas canvas;
        button.DrawItem({kItem, state}, canvas);
        return canvas.calls;
    }

    const Colour highlight = GetSystemColour(COLOR_BTNHIGHLIGHT);
    const Colour light = GetSystemColour(COLOR_3DLIGHT);
    const Colour shadow = GetSystemColour(COLOR_BTNSHADOW);
    const Colour darkShadow = GetSystemColour(COLOR_3DDKSHADOW);

    VirtualClock clock;
    CDialog dialog{kHeadlessMainTemplate};
    HeadlessWindow window;
    CClrButton button;
};

TEST_F(ClrButtonTest, RaisedButtonEdgeByEdge)
{
    // Written out in coordinates: top and left edges from the top-left
    // corner, bottom and right edges along the last row and column.
    const std::vector<CanvasCall> expected = {
        CanvasCall::Fill({10, 20, 90, 50}, button.FaceColour()),
        CanvasCall::Line(10, 20, 90, 20, highlight),
        CanvasCall::Line(10, 20, 10, 50, highlight),
        CanvasCall::Line(10, 49, 90, 49, darkShadow),
        CanvasCall::Line(89, 20, 89, 50, darkShadow),
        CanvasCall::Line(11, 21, 89, 21, light),
        CanvasCall::Line(11, 21, 11, 49, light),
        CanvasCall::Line(11, 48, 89, 48, shadow),
        CanvasCall::Line(88, 21, 88, 49, shadow),
        CanvasCall::Text("Code", {9, 19, 89, 49}, button.TextColour()),
    };
    EXPECT_EQ(Draw(0), expected);
}

TEST_F(ClrButtonTest, FocusedButtonHasABlackRingAroundASmallerRaisedFrame)
{
    std::vector<CanvasCall> expected = {CanvasCall::Fill(kItem, button.FaceColour())};
    Append(expected, Ring(kItem, kBlack, kBlack));
    Append(expected, Ring(kItem.Deflate(1), highlight, darkShadow));
    Append(expected, Ring(kItem.Deflate(2), light, shadow));
    expected.push_back(CanvasCall::Text("Code", kItem.Offset(-1, -1), button.TextColour()));
    expected.push_back(CanvasCall::Focus({14, 24, 86, 46}));
    EXPECT_EQ(Draw(ODS_FOCUS), expected);
}

TEST_F(ClrButtonTest, DefaultButtonHasTheBlackRingButNoFocusRectangle)
{
    const std::vector<CanvasCall> calls = Draw(ODS_DEFAULT);
    ASSERT_EQ(calls.size(), 14u);
    EXPECT_EQ(std::vector<CanvasCall>(calls.begin() + 1, calls.begin() + 5), Ring(kItem, kBlack, kBlack));
    EXPECT_EQ(calls.back().kind, CanvasCall::Kind::Text);
}

TEST_F(ClrButtonTest, PressedButtonSinksAndItsCaptionMovesDownRight)
{
    // Pressed wins over focus for the frame; the focus rectangle stays.
    std::vector<CanvasCall> expected = {CanvasCall::Fill(kItem, button.FaceColour())};
    Append(expected, Ring(kItem, darkShadow, darkShadow));
    Append(expected, Ring(kItem.Deflate(1), shadow, shadow));
    expected.push_back(CanvasCall::Text("Code", kItem, button.TextColour()));
    expected.push_back(CanvasCall::Focus(kItem.Deflate(4)));
    EXPECT_EQ(Draw(ODS_SELECTED | ODS_FOCUS | ODS_DEFAULT), expected);
}

TEST_F(ClrButtonTest, DisabledButtonShowsItsDisabledFaceAndAnEngravedCaption)
{
    std::vector<CanvasCall> expected = {CanvasCall::Fill(kItem, button.DisabledFaceColour())};
    Append(expected, Ring(kItem, highlight, darkShadow));
    Append(expected, Ring(kItem.Deflate(1), light, shadow));
    expected.push_back(CanvasCall::Text("Code", kItem, kWhite));
    expected.push_back(CanvasCall::Text("Code", kItem.Offset(-1, -1), kGrey));
    EXPECT_EQ(Draw(ODS_DISABLED), expected);
}

TEST_F(ClrButtonTest, CaptionIsReadAtEachDrawingAndCappedAt512Characters)
{
    button.SetWindowText("Upgrade");
    EXPECT_EQ(Draw(0).back().text, "Upgrade");

    button.SetWindowText(std::string(600, 'x'));
    EXPECT_EQ(Draw(0).back().text, std::string(512, 'x'));
}

} // namespace
