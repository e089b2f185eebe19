// Start-up, the in-place editors, the keyboard and closing of the main dialog.
#include "dialog_fixture.h"

TEST(StartUp, WindowBeforeTheMonitorReports)
{
    DialogRig rig({.targetPresent = false, .waitForFirstRun = false});
    // The monitor thread may already write; the texts of start-up are in place.
    EXPECT_EQ(rig.window->Text(IDC_MODEL), "Mirra Vane Transmitter ");
    EXPECT_EQ(rig.window->Text(IDC_VERSION), "Current version: Unknown");
    EXPECT_EQ(rig.window->Text(IDC_EXECUTE), "Upgrade");
    EXPECT_EQ(rig.window->ComboSel(IDC_MODE), kModeRowSpi);
    EXPECT_EQ(rig.window->ComboRows(IDC_MODE).size(), 3u);
    EXPECT_EQ(rig.window->ComboRows(IDC_MODE)[1], "Download to SPI Flash                ");
    EXPECT_EQ(rig.window->ProgressRange(IDC_PROGRESS), std::make_pair(0, 100));
    EXPECT_EQ(rig.window->ProgressPos(IDC_PROGRESS), 0);
    // Redrawing off: not drawn and as good as hidden, out of the user's reach.
    for (int id : {IDC_ID_TEXT, IDC_GET_VER, IDC_READ_ID_HEX, IDC_WRITE_ID, IDC_CHECK_ID, IDC_CODE_BUTTON, IDC_CODE_OPTION,
                   IDC_PRODUCT_LINE}) {
        EXPECT_FALSE(rig.window->Redraw(id)) << id;
        EXPECT_FALSE(rig.window->IsWindowVisible(id)) << id;
    }
    const bool checkId = rig.window->Checked(IDC_CHECK_ID);
    EXPECT_FALSE(rig.window->Click(IDC_WRITE_ID));
    EXPECT_FALSE(rig.window->Click(IDC_CHECK_ID));
    EXPECT_EQ(rig.window->Checked(IDC_CHECK_ID), checkId);
    ASSERT_EQ(rig.window->SystemMenu().size(), 1u);
    rig.WaitIdle();
}

TEST(StartUp, StatusReadsNoneUntilTheMonitorWrites)
{
    DialogRig rig({.open = false});
    std::vector<std::string> statusTexts;
    rig.window->SetTextListener([&](int id, const std::string& text) {
        if (id == IDC_STATUS) statusTexts.push_back(text);
    });
    EXPECT_EQ(rig.window->Text(IDC_STATUS), "None");
    rig.window->Open();
    rig.WaitIdle();
    ASSERT_FALSE(statusTexts.empty());
    EXPECT_EQ(statusTexts.front(), "Detecting target ...");
}

TEST(StartUp, AboutBoxFromTheSystemMenu)
{
    DialogRig rig;
    rig.window->SystemCommand(IDM_ABOUTBOX);
    EXPECT_EQ(rig.window->AboutBoxesShown(), 1);
}

TEST(InPlaceEditors, OpenOnlyWithTheOptionAndRestoreAnEmptyText)
{
    DialogRig rig;
    rig.window->DoubleClick(IDC_OFFSET_DISPLAY);
    EXPECT_FALSE(rig.window->Visible(IDC_OFFSET_EDIT));
    rig.window->DoubleClick(IDC_SERIES_DISPLAY);
    EXPECT_FALSE(rig.window->Visible(IDC_SERIES_EDIT));

    rig.window->ShowWindow(IDC_SERIES_OPTION, true);
    rig.window->Click(IDC_SERIES_OPTION);
    ASSERT_TRUE(rig.window->Checked(IDC_SERIES_OPTION));
    EXPECT_TRUE(rig.window->Enabled(IDC_OFFSET_EDIT));

    rig.window->DoubleClick(IDC_OFFSET_DISPLAY);
    EXPECT_TRUE(rig.window->Visible(IDC_OFFSET_EDIT));
    EXPECT_FALSE(rig.window->Visible(IDC_OFFSET_DISPLAY));
    rig.window->SetWindowText(IDC_OFFSET_EDIT, "");
    rig.window->SetFocus(IDC_MODE); // leaving the editor commits it
    EXPECT_FALSE(rig.window->Visible(IDC_OFFSET_EDIT));
    EXPECT_TRUE(rig.window->Visible(IDC_OFFSET_DISPLAY));
    EXPECT_EQ(rig.window->Text(IDC_OFFSET_EDIT), "0");
    EXPECT_EQ(rig.window->Text(IDC_OFFSET_DISPLAY), "0");

    rig.window->DoubleClick(IDC_SERIES_DISPLAY);
    rig.window->TypeText(IDC_SERIES_EDIT, "1a2b");
    rig.window->PressKey(VK_RETURN);
    EXPECT_EQ(rig.window->Text(IDC_SERIES_DISPLAY), "11A2B");
    EXPECT_FALSE(rig.window->Ended());
}

TEST(InPlaceEditors, LabelTogglesTheOption)
{
    DialogRig rig;
    // The label is switched with the option: while the option is off it takes no clicks.
    rig.window->ClickStatic(IDC_SERIES_OPTION_LABEL);
    EXPECT_FALSE(rig.window->Checked(IDC_SERIES_OPTION));
    rig.window->ShowWindow(IDC_SERIES_OPTION, true);
    rig.window->Click(IDC_SERIES_OPTION);
    EXPECT_TRUE(rig.window->Enabled(IDC_SERIES_EDIT));
    rig.window->ClickStatic(IDC_SERIES_OPTION_LABEL);
    EXPECT_FALSE(rig.window->Checked(IDC_SERIES_OPTION));
    EXPECT_FALSE(rig.window->Enabled(IDC_SERIES_EDIT));
}

TEST(Keyboard, ReturnRunsTheActionAndNeverClosesEscapeCloses)
{
    DialogRig rig({.bootState = kFlashLoaderState});
    rig.window->PressKey(VK_RETURN, IDC_MODE);
    rig.WaitIdle();
    EXPECT_FALSE(rig.window->Ended());
    EXPECT_EQ(rig.dlg->JobsFinished(), 1);
    EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), "Complete!");
    rig.window->PressKey(VK_ESCAPE);
    rig.WaitIdle();
    EXPECT_TRUE(rig.window->Ended());
    EXPECT_EQ(rig.window->Result(), IDCANCEL);
}

TEST(Closing, ExitValidatesTheEditorsFirst)
{
    DialogRig rig;
    rig.window->SetWindowText(IDC_SERIES_EDIT, "123456789");
    rig.window->ShowWindow(IDC_EXIT, true);
    rig.window->EnableWindow(IDC_EXIT, true);
    rig.window->Click(IDC_EXIT);
    EXPECT_FALSE(rig.window->Ended());
    ASSERT_FALSE(rig.MessageTexts().empty());
    EXPECT_EQ(rig.MessageTexts().back(), "Please enter no more than 8 characters.");
    rig.window->SetWindowText(IDC_SERIES_EDIT, "12345678");
    rig.window->Click(IDC_EXIT);
    EXPECT_TRUE(rig.window->Ended());
    EXPECT_EQ(rig.window->Result(), IDOK);
}

TEST(Closing, CloseBoxDuringADownloadWaitsForTheJob)
{
    DialogRig rig({.bootState = kFlashLoaderState});
    rig.window->Click(IDC_EXECUTE);
    rig.window->Close();
    EXPECT_TRUE(rig.window->Ended());
    EXPECT_TRUE(rig.dlg->Threads().Idle());
    // The job ran to its end: the flash holds the image.
    std::vector<uint8_t> image = MakeDemoFirmware();
    EXPECT_EQ(rig.FlashRange(0, image.size()), image);
}

TEST(Closing, ReconnectAfterTheCloseBoxStartsNoRun)
{
    DialogRig rig;
    rig.window->ShowWindow(IDC_RECONNECT, true);
    rig.window->Close();
    ASSERT_TRUE(rig.window->Ended());
    rig.target.ClearTrace();
    // Clicks queued behind the close box still reach the ended dialog.
    rig.window->Click(IDC_RECONNECT);
    rig.WaitIdle();
    EXPECT_TRUE(rig.target.Trace().empty()) << "a monitor run reached the target after the close";
}

TEST(Timers, EachStartOfTimerTwoReadsTheVersionOnce)
{
    DialogRig rig;
    rig.Advance(200);
    for (int start = 0; start < 3; ++start) {
        rig.target.ClearTrace();
        rig.dlg->SetTimer(kTimerGetVersion, kGetVersionDelayMs);
        rig.Advance(1000);
        EXPECT_EQ(rig.target.Trace().size(), 2u) << "start " << start;
    }
}

TEST(Closing, CloseBoxWhileTheLoaderWaitsForTheTargetEndsWithoutWriting)
{
    DialogRig rig;
    FaultPlan faults;
    faults.neverReturnAfterExecute = true;
    rig.target.SetFaults(faults);
    rig.window->Click(IDC_EXECUTE);
    const uint64_t before = rig.clock.NowMs();
    rig.window->Close();
    EXPECT_TRUE(rig.window->Ended());
    EXPECT_TRUE(rig.dlg->Threads().Idle());
    // Far less than ten reconnect runs of thirty attempts.
    EXPECT_LT(rig.clock.NowMs() - before, 10000u);
    std::vector<uint8_t> start = rig.FlashRange(0, 65536);
    EXPECT_EQ(start, std::vector<uint8_t>(65536, 0xFF));
}
