// The headless window backend: notifications at Windows' moments, message-map
// dispatch, data exchange, timers on virtual time, scripted boxes, the dialog
// keys, the message pump and concurrent use.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "controls/new_edit.h"
#include "platform/headless/headless_window.h"

namespace {

constexpr int kTestTemplate = 9001;
constexpr int kName = 2001;   // edit: DDX_Text + DDV_MaxChars 8
constexpr int kHex = 2002;    // upper-case edit bound to a CNewEdit
constexpr int kGo = 2003;     // push button with two map entries
constexpr int kOption = 2004; // auto check box
constexpr int kMode = 2005;   // combo box
constexpr int kLabel = 2006;  // notify static
constexpr int kPlain = 2007;  // plain static
constexpr int kFree = 2008;   // edit that only counts its notifications

const ControlRow kRows[] = {
    {kName, ControlKind::Edit, "", 10, 10, 60, 12, true, false, false, ControlStyle::Edit},
    {kHex, ControlKind::Edit, "", 10, 30, 40, 12, true, false, false, ControlStyle::EditUpper},
    {kGo, ControlKind::Button, "Go", 80, 10, 40, 14, true, false, false, ControlStyle::Push},
    {kOption, ControlKind::Button, "", 80, 30, 10, 10, true, false, false, ControlStyle::AutoCheck},
    {kMode, ControlKind::Combo, "", 10, 50, 60, 40, true, false, false, ControlStyle::ComboDropDown},
    {kLabel, ControlKind::Static, "0", 80, 50, 30, 8, true, false, false, ControlStyle::StaticNotify},
    {kPlain, ControlKind::Static, "plain", 80, 60, 30, 8, true, false, false, ControlStyle::Static},
    {kFree, ControlKind::Edit, "", 10, 70, 60, 12, true, false, false, ControlStyle::Edit},
};

class TestDialog : public CDialog {
public:
    TestDialog() : CDialog(kTestTemplate) {}

    std::string m_strName = "start";
    CNewEdit m_editHex;
    HeadlessWindow* headless = nullptr; // to look at the focus from inside handlers
    bool eatReturn = false;
    std::atomic<int> freeUpdates{0}, freeChanges{0}, goClicks{0};

    void Log(const std::string& entry)
    {
        std::lock_guard<std::mutex> lock(logMutex_);
        log_.push_back(entry);
    }
    std::vector<std::string> TakeLog()
    {
        std::lock_guard<std::mutex> lock(logMutex_);
        std::vector<std::string> taken;
        taken.swap(log_);
        return taken;
    }

    bool PreTranslateMessage(const Message& m) override
    {
        if (eatReturn && m.message == WM_KEYDOWN && m.wParam == VK_RETURN) {
            Log("pretranslate:return");
            return true;
        }
        return false;
    }
    void OnOK() override
    {
        Log("ok");
        CDialog::OnOK();
    }
    void OnCancel() override
    {
        Log("cancel");
        CDialog::OnCancel();
    }

protected:
    void DoDataExchange(CDataExchange& dx) override
    {
        DDX_Control(dx, kHex, m_editHex);
        DDX_Text(dx, kName, m_strName);
        DDV_MaxChars(dx, m_strName, 8);
    }

    const MessageMap& GetMessageMap() const override
    {
        static const MessageMap map = {
            OnCommandEntry<TestDialog>(EN_UPDATE, kName, &TestDialog::OnNameUpdate),
            OnCommandEntry<TestDialog>(EN_CHANGE, kName, &TestDialog::OnNameChange),
            OnCommandEntry<TestDialog>(EN_SETFOCUS, kName, &TestDialog::OnNameSetFocus),
            OnCommandEntry<TestDialog>(EN_KILLFOCUS, kName, &TestDialog::OnNameKillFocus),
            OnCommandEntry<TestDialog>(EN_SETFOCUS, kHex, &TestDialog::OnHexSetFocus),
            OnCommandEntry<TestDialog>(EN_KILLFOCUS, kHex, &TestDialog::OnHexKillFocus),
            OnCommandEntry<TestDialog>(BN_CLICKED, kGo, &TestDialog::OnGoFirst),
            OnCommandEntry<TestDialog>(BN_CLICKED, kGo, &TestDialog::OnGoSecond),
            OnCommandEntry<TestDialog>(BN_CLICKED, kOption, &TestDialog::OnOption),
            OnCommandEntry<TestDialog>(CBN_SELCHANGE, kMode, &TestDialog::OnModeChange),
            OnCommandEntry<TestDialog>(STN_CLICKED, kLabel, &TestDialog::OnLabelClicked),
            OnCommandEntry<TestDialog>(STN_DBLCLK, kLabel, &TestDialog::OnLabelDblClk),
            OnCommandEntry<TestDialog>(EN_UPDATE, kFree, &TestDialog::OnFreeUpdate),
            OnCommandEntry<TestDialog>(EN_CHANGE, kFree, &TestDialog::OnFreeChange),
            OnMessageEntry<TestDialog>(WM_TIMER, &TestDialog::OnTimerMessage),
            OnMessageEntry<TestDialog>(WM_DROPFILES, &TestDialog::OnDropFilesMessage),
            DefaultEntry(WM_DEVICECHANGE),
        };
        return map;
    }

private:
    std::string FocusNote() { return " focus=" + std::to_string(headless ? headless->Focus() : -1); }
    // Reading the text back inside the notification: it is set already, and
    // the window's lock is free.
    void OnNameUpdate() { Log("update:" + GetDlgItemText(kName)); }
    void OnNameChange() { Log("change:" + GetDlgItemText(kName)); }
    void OnNameSetFocus() { Log("setfocus:name" + FocusNote()); }
    void OnNameKillFocus() { Log("killfocus:name" + FocusNote()); }
    void OnHexSetFocus() { Log("setfocus:hex" + FocusNote()); }
    void OnHexKillFocus() { Log("killfocus:hex" + FocusNote()); }
    void OnGoFirst()
    {
        ++goClicks;
        Log("go:first");
    }
    void OnGoSecond() { Log("go:second"); }
    void OnOption() { Log(std::string("option:") + (Window()->GetCheck(kOption) ? "1" : "0")); }
    void OnModeChange() { Log("selchange:" + std::to_string(Window()->ComboGetCurSel(kMode))); }
    void OnLabelClicked() { Log("label:clicked"); }
    void OnLabelDblClk() { Log("label:dblclk"); }
    void OnFreeUpdate() { ++freeUpdates; }
    void OnFreeChange() { ++freeChanges; }
    intptr_t OnTimerMessage(const Message& m)
    {
        if (m.wParam == 2) KillTimer(2); // one shot
        Log("timer" + std::to_string(m.wParam) + "@" + std::to_string(clockForLog ? clockForLog->NowMs() : 0));
        return 0;
    }
    intptr_t OnDropFilesMessage(const Message& m)
    {
        std::string entry = "drop:";
        for (const std::string& p : *m.dropped) entry += p + ";";
        const Point cursor = Window()->GetCursorPos();
        Log(entry + "@" + std::to_string(cursor.x) + "," + std::to_string(cursor.y));
        return 0;
    }

public:
    IClock* clockForLog = nullptr;

private:
    std::mutex logMutex_;
    std::vector<std::string> log_;
};

using Log = std::vector<std::string>;

void AddTestControls(HeadlessWindow& w)
{
    for (const ControlRow& row : kRows) w.AddControl(row);
}

class HeadlessWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        AddTestControls(window);
        dialog.headless = &window;
        dialog.clockForLog = &clock;
        window.Open();
        openLog = dialog.TakeLog();
    }

    VirtualClock clock;
    TestDialog dialog;
    HeadlessWindow window{dialog, clock};
    Log openLog;
};

TEST(HeadlessWindowTemplate, MainTemplateBuildsTheControlTableAndOthersStartEmpty)
{
    VirtualClock clock;
    CDialog main(kHeadlessMainTemplate);
    HeadlessWindow w(main, clock);
    ASSERT_EQ(w.ControlIds().size(), MainDialogControls().size());
    EXPECT_EQ(w.Text(kNoControl), "TALMO Upgrade for Mirra");
    EXPECT_EQ(w.Text(1019), "unkonwn");
    EXPECT_FALSE(w.Visible(1013));
    EXPECT_FALSE(w.Enabled(1010));
    EXPECT_TRUE(w.Redraw(1017)); // switched off by the dialog, not by the template
    EXPECT_EQ(w.LoadString(101), "About Rivuva Ravo(&A)...");
    // 1029 at (291,103) size 68x43 dialog units: x*6/4, y*13/8 rounded, from (100,100).
    EXPECT_EQ(w.GetWindowRect(1029), (Rect{537, 267, 639, 337}));
    // OnInitDialog returned true: the first visible, enabled tab stop (1010 is disabled).
    w.Open();
    EXPECT_EQ(w.Focus(), 1029);

    // Redrawing off before the window shows: no tab stop, no mouse click; a program's BM_CLICK still works.
    CDialog again(kHeadlessMainTemplate);
    HeadlessWindow off(again, clock);
    off.SetRedraw(1029, false);
    off.Open();
    EXPECT_NE(off.Focus(), 1029);
    EXPECT_FALSE(off.Visible(1029));
    EXPECT_FALSE(off.Click(1029));
    EXPECT_TRUE(off.SendClick(1029));

    CDialog other(kTestTemplate);
    HeadlessWindow empty(other, clock);
    EXPECT_TRUE(empty.ControlIds().empty());
    EXPECT_EQ(empty.GetWindowText(1019), "");
    EXPECT_EQ(empty.UnknownControls(), (std::vector<int>{1019}));
}

TEST_F(HeadlessWindowTest, OpenSendsTheInitialDataExchangeWithItsNotifications)
{
    // The data exchange first, then the default focus (the first tab stop).
    EXPECT_EQ(openLog, (Log{"update:start", "change:start", "setfocus:name focus=2001"}));
    EXPECT_EQ(window.Text(kName), "start");
    EXPECT_EQ(window.TextLimit(kName), 8);
}

TEST_F(HeadlessWindowTest, SetWindowTextOnAnEditRaisesUpdateThenChangeBeforeReturning)
{
    window.SetWindowText(kName, "abc");
    EXPECT_EQ(dialog.TakeLog(), (Log{"update:abc", "change:abc"}));
    window.SetWindowText(kName, "abc"); // unchanged: raised all the same
    EXPECT_EQ(dialog.TakeLog(), (Log{"update:abc", "change:abc"}));
    window.SetWindowText(kPlain, "other");
    window.SetWindowText(kMode, "row");
    EXPECT_TRUE(dialog.TakeLog().empty());
}

TEST_F(HeadlessWindowTest, FocusMovesBeforeKillFocusAndSetFocusFollows)
{
    window.SetFocus(kHex);
    EXPECT_EQ(dialog.TakeLog(), (Log{"killfocus:name focus=2002", "setfocus:hex focus=2002"}));
    window.SetFocus(kHex);
    EXPECT_TRUE(dialog.TakeLog().empty());
    window.ShowWindow(kHex, false); // hiding the focus gives it to the dialog
    EXPECT_EQ(dialog.TakeLog(), (Log{"killfocus:hex focus=0"}));
    window.SetFocus(kName);
    dialog.TakeLog();
    window.Click(kGo); // the click takes the focus first
    EXPECT_EQ(dialog.TakeLog(), (Log{"killfocus:name focus=2003", "go:first"}));
}

TEST_F(HeadlessWindowTest, MessageMapTakesTheFirstMatchAndClicksNeedAnEnabledControl)
{
    window.SetFocus(kGo);
    dialog.TakeLog();
    EXPECT_TRUE(window.Click(kGo));
    EXPECT_EQ(dialog.TakeLog(), (Log{"go:first"}));
    window.EnableWindow(kGo, false);
    EXPECT_FALSE(window.Click(kGo));
    EXPECT_TRUE(dialog.TakeLog().empty());

    window.Click(kOption); // toggles before BN_CLICKED
    window.Click(kOption);
    EXPECT_EQ(dialog.TakeLog(), (Log{"option:1", "option:0"}));

    window.ClickStatic(kLabel);
    window.DoubleClick(kLabel);
    EXPECT_FALSE(window.DoubleClick(kPlain));
    EXPECT_EQ(dialog.TakeLog(), (Log{"label:clicked", "label:clicked", "label:dblclk"}));

    const int before = window.DefaultProcessingCount();
    window.DeviceChange(DBT_DEVICEARRIVAL); // a DefaultEntry
    ASSERT_EQ(window.DefaultProcessingCount(), before + 1);
    EXPECT_EQ(window.DefaultCalls().back().message, WM_DEVICECHANGE);
}

TEST_F(HeadlessWindowTest, ComboSelectionNotifiesOnlyWhenTheUserMakesIt)
{
    window.ComboAddString(kMode, "SRAM");
    window.ComboAddString(kMode, "SPI");
    window.ComboSetCurSel(kMode, 1);
    EXPECT_EQ(window.Text(kMode), "SPI");
    EXPECT_TRUE(dialog.TakeLog().empty());
    window.SetFocus(kMode);
    dialog.TakeLog();
    EXPECT_TRUE(window.SelectComboRow(kMode, 0));
    EXPECT_EQ(dialog.TakeLog(), (Log{"selchange:0"}));
    window.ComboSetCurSel(kMode, 7); // out of range clears the selection
    EXPECT_EQ(window.ComboSel(kMode), -1);
}

TEST_F(HeadlessWindowTest, UpdateDataBothWaysAndTheEightCharacterPrompt)
{
    window.SetWindowText(kName, "12345678");
    EXPECT_TRUE(dialog.UpdateData(true));
    EXPECT_EQ(dialog.m_strName, "12345678");
    dialog.m_strName = "abc";
    EXPECT_TRUE(dialog.UpdateData(false));
    EXPECT_EQ(window.Text(kName), "abc");

    window.SetFocus(kHex);
    window.SetWindowText(kName, "123456789"); // SetWindowText is not limited
    EXPECT_FALSE(dialog.UpdateData(true));
    const auto boxes = window.MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Please enter no more than 8 characters.");
    EXPECT_EQ(boxes[0].type, MB_ICONEXCLAMATION);
    EXPECT_EQ(boxes[0].answer, IDOK);
    EXPECT_EQ(window.Focus(), kName);
}

TEST_F(HeadlessWindowTest, ReturnReachesOnOkWhichValidatesAndEscapeEndsWithCancel)
{
    window.SetWindowText(kName, "123456789");
    dialog.TakeLog();
    window.PressKey(VK_RETURN);
    EXPECT_FALSE(window.Ended());
    EXPECT_EQ(window.MessageBoxes().size(), 1u);

    dialog.eatReturn = true; // PreTranslateMessage sees the key first
    EXPECT_TRUE(window.PressKey(VK_RETURN));
    dialog.eatReturn = false;
    window.SetWindowText(kName, "12345678");
    dialog.TakeLog();
    window.PressKey(VK_RETURN);
    EXPECT_EQ(dialog.TakeLog(), (Log{"ok"}));
    EXPECT_TRUE(window.Ended());
    EXPECT_EQ(window.Result(), IDOK);
}

TEST_F(HeadlessWindowTest, EscapeEndsTheDialogWithCancel)
{
    window.PressKey(VK_ESCAPE, kHex);
    EXPECT_EQ(dialog.TakeLog(), (Log{"cancel"}));
    EXPECT_TRUE(window.Ended());
    EXPECT_EQ(window.Result(), IDCANCEL);
}

TEST_F(HeadlessWindowTest, TheCloseBoxGoesThroughOnCancel)
{
    window.Close();
    EXPECT_EQ(dialog.TakeLog(), (Log{"cancel"}));
    EXPECT_EQ(window.Result(), IDCANCEL);
    const auto calls = window.DefaultCalls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[calls.size() - 2].message, WM_SYSCOMMAND);
    EXPECT_EQ(calls.back().message, WM_CLOSE);
}

TEST_F(HeadlessWindowTest, TypingGoesThroughTheFilterCaseAndLimit)
{
    EXPECT_TRUE(window.TypeChar(kHex, 'a'));
    EXPECT_EQ(dialog.TakeLog(), (Log{"killfocus:name focus=2002", "setfocus:hex focus=2002"}));
    EXPECT_FALSE(window.TypeChar(kHex, 'g')); // CNewEdit takes hexadecimal digits in lower case only
    EXPECT_FALSE(window.TypeChar(kHex, 'B'));
    EXPECT_EQ(window.Text(kHex), "A");
    window.LimitText(kHex, 3);
    EXPECT_EQ(window.TypeText(kHex, "bcd"), 2);
    EXPECT_EQ(window.Text(kHex), "ABC");
    EXPECT_TRUE(window.TypeChar(kHex, 8));
    EXPECT_EQ(window.Text(kHex), "AB");

    window.SetWindowText(kName, "");
    dialog.TakeLog();
    window.TypeChar(kName, 'x');
    EXPECT_EQ(dialog.TakeLog(), (Log{"killfocus:hex focus=2001", "setfocus:name focus=2001", "update:x", "change:x"}));
}

TEST_F(HeadlessWindowTest, TimersFireOnVirtualTime)
{
    dialog.SetTimer(1, 2000);
    dialog.SetTimer(2, 200);
    auto timers = window.RunningTimers();
    ASSERT_EQ(timers.size(), 2u);
    EXPECT_EQ(timers[0].dueMs, 2000u);
    EXPECT_EQ(timers[1].dueMs, 200u);

    ASSERT_TRUE(window.AdvanceTime(5000));
    EXPECT_EQ(dialog.TakeLog(), (Log{"timer2@200", "timer1@2000", "timer1@4000"}));
    EXPECT_EQ(clock.NowMs(), 5000u);
    timers = window.RunningTimers();
    ASSERT_EQ(timers.size(), 1u);
    EXPECT_EQ(timers[0].dueMs, 6000u);

    clock.Advance(3500); // far past due: one WM_TIMER, as Windows coalesces them
    EXPECT_EQ(window.RunDueTimers(), 1);
    EXPECT_EQ(window.RunningTimers()[0].dueMs, 10500u);
    EXPECT_FALSE(window.FireTimer(2));
    EXPECT_TRUE(window.FireTimer(1));
    EXPECT_EQ(dialog.TakeLog(), (Log{"timer1@8500", "timer1@8500"}));

    SystemClock real;
    CDialog plain(kTestTemplate);
    HeadlessWindow noVirtualTime(plain, real);
    EXPECT_FALSE(noVirtualTime.AdvanceTime(10));
}

TEST_F(HeadlessWindowTest, MessageBoxesAndFileDialogsAreAnsweredFromTheScript)
{
    window.QueueAnswer(IDCANCEL);
    window.QueueAnswer(IDOK);
    EXPECT_EQ(dialog.AfxMessageBox("Done."), IDOK); // OK boxes take no answer from the script
    EXPECT_EQ(dialog.MessageBox("First?", "Q", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(dialog.MessageBox("Second?", "Q", MB_OKCANCEL), IDOK);
    EXPECT_EQ(dialog.MessageBox("Third?", "Q", MB_OKCANCEL), IDOK); // the default
    window.SetDefaultAnswer(IDCANCEL);
    EXPECT_EQ(dialog.MessageBox("Fourth?", "Q", MB_OKCANCEL), IDCANCEL);

    size_t seenBoxes = 0;
    window.SetMessageBoxHook([&](const MessageBoxRecord& box) -> std::optional<int> {
        seenBoxes = window.MessageBoxes().size(); // the box is on record while open
        EXPECT_EQ(box.text, "Hooked?");
        return IDOK;
    });
    EXPECT_EQ(dialog.MessageBox("Hooked?", "", MB_OKCANCEL), IDOK);
    EXPECT_EQ(seenBoxes, 6u);
    const auto boxes = window.MessageBoxes();
    ASSERT_EQ(boxes.size(), 6u);
    EXPECT_EQ(boxes[0].caption, "");
    EXPECT_EQ(boxes[1].answer, IDCANCEL);
    EXPECT_EQ(boxes[5].answer, IDOK);

    window.QueueFilePath("/data/Vane_TX_V1030.fir");
    window.QueueFileDialog(std::nullopt);
    FileDialogSpec spec;
    spec.title = "Choose Open file...";
    FileDialogResult chosen;
    ASSERT_TRUE(window.RunFileDialog(spec, chosen));
    EXPECT_EQ(chosen.path, "/data/Vane_TX_V1030.fir");
    EXPECT_EQ(chosen.name, "Vane_TX_V1030.fir");
    EXPECT_FALSE(window.RunFileDialog(spec, chosen));
    EXPECT_FALSE(window.RunFileDialog(spec, chosen)); // no script, no hook: cancelled
    ASSERT_EQ(window.FileDialogs().size(), 3u);
    EXPECT_EQ(window.FileDialogs()[0].title, "Choose Open file...");
}

TEST_F(HeadlessWindowTest, DroppedFilesNeedDragAcceptAndReachTheDialogWithTheCursor)
{
    const std::vector<std::string> paths = {"a.bin", "b.fir"};
    EXPECT_FALSE(window.DropFiles(paths, {150, 160}));
    window.DragAcceptFiles(true);
    EXPECT_TRUE(window.DropFiles(paths, {150, 160}));
    EXPECT_EQ(dialog.TakeLog(), (Log{"drop:a.bin;b.fir;@150,160"}));

    // A posted drop keeps its own copy of the paths.
    {
        std::vector<std::string> temporary = {"c.bin"};
        Message m;
        m.message = WM_DROPFILES;
        m.dropped = &temporary;
        window.PostMessage(m);
    }
    EXPECT_EQ(window.ProcessPostedMessages(), 1);
    EXPECT_EQ(dialog.TakeLog(), (Log{"drop:c.bin;@150,160"}));
}

TEST_F(HeadlessWindowTest, PumpRunsPostedWorkOnItsThreadAndGivesUpAtTheSafetyLimit)
{
    std::thread::id taskThread;
    std::atomic<bool> taskRan{false};
    std::thread poster([&] {
        Message click;
        click.message = WM_COMMAND;
        click.wParam = MakeCommandParam(kGo, BN_CLICKED);
        window.PostMessage(click);
        window.PostTask([&] {
            taskThread = std::this_thread::get_id();
            taskRan = true;
        });
    });
    window.PumpMessagesUntil([&] { return taskRan.load() && dialog.goClicks.load() == 1; });
    poster.join();
    EXPECT_EQ(taskThread, std::this_thread::get_id());
    EXPECT_FALSE(window.PumpGaveUp());

    window.SetPumpSafetyLimit(std::chrono::milliseconds(20));
    window.PumpMessagesUntil([] { return false; });
    EXPECT_TRUE(window.PumpGaveUp());
}

TEST(HeadlessWindowSystemTest, RunModalPumpsUntilEndDialogAndThenTheWindowIsGone)
{
    VirtualClock clock;
    HeadlessWindowSystem system(clock);
    TestDialog dialog;
    std::thread user;
    system.onCreate = [](HeadlessWindow& w) { AddTestControls(w); };
    system.onOpen = [&](HeadlessWindow& w) {
        user = std::thread([&w] { w.PostTask([&w] { w.PressKey(VK_ESCAPE); }); });
    };
    EXPECT_TRUE(system.InitCommonControls(8, 0xFF));
    EXPECT_EQ(system.RunModal(dialog), IDCANCEL);
    user.join();
    HeadlessWindow* w = system.LastWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->Destroyed());
    dialog.TakeLog();
    dialog.SetDlgItemText(kName, "late"); // the dialog's late calls reach nothing
    EXPECT_TRUE(dialog.TakeLog().empty());
    EXPECT_EQ(w->Text(kName), "start");
    EXPECT_EQ(w->CallsAfterDestroy(), 1);

    TestDialog stuck;
    system.onOpen = nullptr;
    system.SetPumpSafetyLimit(std::chrono::milliseconds(20));
    EXPECT_EQ(system.RunModal(stuck), -1);
    EXPECT_TRUE(system.LastWindow()->PumpGaveUp());
}

TEST_F(HeadlessWindowTest, ConcurrentTextsTimersAndReadsStayConsistent)
{
    constexpr int kThreads = 4;
    constexpr int kRounds = 300;
    std::atomic<int> torn{0};
    std::vector<std::string> seenByListener;
    std::mutex listenerMutex;
    window.SetTextListener([&](int id, const std::string& text) {
        if (id != kFree) return;
        std::lock_guard<std::mutex> lock(listenerMutex);
        seenByListener.push_back(text);
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                const std::string mine = "thread" + std::to_string(t) + "-" + std::to_string(i);
                window.SetWindowText(kFree, mine);
                const std::string read = window.GetWindowText(kFree);
                if (read.rfind("thread", 0) != 0 || read.find('-') == std::string::npos) ++torn;
                window.SetTimer(10 + t, 50);
                window.RunDueTimers();
                window.KillTimer(10 + t);
                window.ProgressSetPos(kFree, i);
                (void)window.Text(kName);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_EQ(dialog.freeUpdates.load(), kThreads * kRounds);
    EXPECT_EQ(dialog.freeChanges.load(), kThreads * kRounds);
    EXPECT_LE(seenByListener.size(), static_cast<size_t>(kThreads * kRounds));
    EXPECT_GT(seenByListener.size(), 0u);
    EXPECT_TRUE(window.RunningTimers().empty());
}

} // namespace
