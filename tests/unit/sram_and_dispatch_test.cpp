// Code into SRAM (the SRAM job and the flash loader) and the dispatcher's choices.
#include "dialog_fixture.h"

namespace {

std::vector<std::string> Writes(EmulatedTarget& t)
{
    std::vector<std::string> w;
    for (const std::string& line : t.Trace())
        if (line.compare(3, 2, "72") == 0) w.push_back(line.substr(30));
    return w;
}

struct SramRig : DialogRig {
    SramRig() : DialogRig() {}
    void ChooseSramImage(size_t size)
    {
        image = MakeDemoFirmware(size);
        WriteFileBytes(folder.Path() / "sram.bin", image);
        window->SelectComboRow(IDC_MODE, kModeRowSram);
        WaitIdle();
        window->QueueFilePath((folder.Path() / "sram.bin").string());
        window->ShowWindow(IDC_CODE_BUTTON, true);
        window->EnableWindow(IDC_CODE_BUTTON, true);
        window->SendClick(IDC_CODE_BUTTON);
        WaitIdle();
    }
    std::vector<uint8_t> image;
};

} // namespace

TEST(SramDownload, ImageUpTo32KiBIsSentReadBackAndStarted)
{
    SramRig rig;
    rig.ChooseSramImage(32768);
    EXPECT_EQ(rig.dlg->m_nCodeSize, 32768);
    rig.target.ClearTrace();
    rig.PressExecute();
    EXPECT_EQ(Writes(rig.target).size(), 8u);
    EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), "Complete! Executing ...");
    EXPECT_EQ(rig.window->ProgressPos(IDC_PROGRESS), 100);
    std::vector<uint8_t> sram = rig.target.Sram();
    EXPECT_TRUE(std::equal(rig.image.begin(), rig.image.end(), sram.begin()));
    EXPECT_EQ(rig.dlg->LastJobOutcome(), JobOutcome::Succeeded);
    EXPECT_FALSE(rig.dlg->m_bBusy);
}

TEST(SramDownload, LargerImageIsRefusedByTheBrowseButton)
{
    SramRig rig;
    rig.ChooseSramImage(32769);
    ASSERT_FALSE(rig.MessageTexts().empty());
    EXPECT_EQ(rig.MessageTexts().back(), "File Size is larger than 32K!!!");
    rig.target.ClearTrace();
    rig.PressExecute(); // the job checks the size again before anything is written
    EXPECT_EQ(rig.MessageTexts().back(), "File Size is larger than 32K!!!");
    EXPECT_TRUE(Writes(rig.target).empty());
}

TEST(SramDownload, ShortLastPiecesGrowPastTheirPage)
{
    for (auto [size, last] : {std::pair<size_t, std::string>{4096 + 1000, "out 1024 30 ok"}, {512, "out 768 30 ok"}}) {
        SCOPED_TRACE(size);
        SramRig rig;
        rig.ChooseSramImage(size);
        rig.target.ClearTrace();
        rig.PressExecute();
        std::vector<std::string> w = Writes(rig.target);
        ASSERT_FALSE(w.empty());
        EXPECT_EQ(w.back(), last);
        EXPECT_EQ(w.size(), (size + 4095) / 4096);
    }
}

TEST(SramDownload, ReadBackDifferenceDoesNotStartTheCodeAndSaysSo)
{
    SramRig rig;
    rig.ChooseSramImage(5000);
    uint64_t next = rig.target.CommandCount() + 1;
    // GetState, set-address, 2 writes, set-address, then the first read.
    rig.target.Faults().flipReadAt = next + 5;
    rig.target.ClearTrace();
    rig.PressExecute();
    for (const std::string& line : rig.target.Trace()) EXPECT_NE(line.compare(3, 2, "60"), 0) << line;
    EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), "Compare Error");
    EXPECT_EQ(rig.dlg->LastJobOutcome(), JobOutcome::Failed);
}

TEST(SramDownload, RowZeroStartsWhateverTheStateAnswers)
{
    SramRig rig;
    rig.ChooseSramImage(100);
    rig.target.Faults().failSubCode = kIbrSubGetState;
    rig.target.Faults().failSubCodeEvery = true;
    rig.PressExecute();
    EXPECT_EQ(rig.dlg->JobsFinished(), 1);
}

TEST(FlashLoader, LoaderOf4097BytesGoesAs4096And256)
{
    DialogRig rig;
    std::vector<uint8_t> loader = MakeDemoFlashLoader();
    loader.resize(4097, 0xAB);
    WriteFileBytes(rig.folder.Path() / "Data" / "wtf.fir", loader);
    rig.target.ClearTrace();
    rig.PressExecute();
    std::vector<std::string> w = Writes(rig.target);
    ASSERT_GE(w.size(), 2u);
    EXPECT_EQ(w[0], "out 4096 30 ok");
    EXPECT_EQ(w[1], "out 256 30 ok");
    EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), "Complete!");
}

TEST(FlashLoader, TargetThatNeverComesBackEndsAfterTenRunsWithoutDownload)
{
    DialogRig rig;
    rig.target.Faults().neverReturnAfterExecute = true;
    DiagnosticCapture lines;
    rig.PressExecute();
    // Ten runs of thirty attempts, each attempt one discovery.
    EXPECT_EQ(lines.Count(" No Device found\n"), 300u);
    EXPECT_FALSE(rig.dlg->m_bBusy);
    EXPECT_EQ(rig.dlg->LastJobOutcome(), JobOutcome::Failed);
    EXPECT_NE(rig.window->Text(IDC_PROGRESS_TEXT), "Complete!");
    for (const std::string& line : rig.target.Trace()) EXPECT_NE(line.compare(3, 2, "8b"), 0) << line;
}

TEST(FlashLoader, VersionReadWaitsForTheDownload)
{
    // The reconnect inside the loader schedules a version read; it must not
    // run in the middle of the download that follows.
    DialogRig rig;
    TimingModel timing;
    timing.eraseBlockMs = 150;
    timing.reenumerateMs = 1500;
    rig.target.SetTiming(timing);
    rig.target.ClearTrace();
    rig.PressExecute();
    std::vector<std::string> trace = rig.target.Trace();
    size_t lastWrite = 0;
    for (size_t i = 0; i < trace.size(); ++i)
        if (trace[i].compare(3, 2, "72") == 0) lastWrite = i;
    for (size_t i = 0; i < lastWrite; ++i)
        EXPECT_NE(trace[i], "06 71 20 00 00 00 00 00 00 00 in 32 2 ok") << "version read inside the job at " << i;
    EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), "Complete!");
    rig.Advance(200);
    EXPECT_EQ(rig.window->Text(IDC_VERSION), "Current version:Vane_TX_V1030");
}

TEST(Dispatch, NothingWithoutATarget)
{
    DialogRig rig({.targetPresent = false});
    rig.PressExecute();
    EXPECT_EQ(rig.dlg->JobsFinished(), 0);
    EXPECT_TRUE(rig.MessageTexts().empty());
}

TEST(Dispatch, NoRowSelectedStartsTheDump)
{
    DialogRig rig;
    rig.window->ComboSetCurSel(IDC_MODE, -1);
    rig.PressExecute();
    EXPECT_EQ(rig.dlg->JobsFinished(), 1);
}

TEST(Dispatch, FailedPingStartsNoJobAndKeepsTheStatusLine)
{
    DialogRig rig;
    rig.target.Faults().failSubCode = kIbrSubPing;
    rig.target.Faults().failSubCodeEvery = true;
    rig.PressExecute();
    EXPECT_EQ(rig.dlg->JobsFinished(), 0);
    EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), "Download to SPI Falsh");
}

TEST(Dispatch, EmptyCodePathIsRefused)
{
    DialogRig rig;
    rig.window->SetWindowText(IDC_CODE_PATH, "");
    rig.PressExecute();
    ASSERT_FALSE(rig.MessageTexts().empty());
    EXPECT_EQ(rig.MessageTexts().back(), "Please Check your file!");
}

TEST(Dispatch, ClickOnThePathEditShowsTheFullPath)
{
    DialogRig rig;
    rig.window->SetWindowText(IDC_CODE_PATH, "typed");
    rig.dlg->m_strCodePath = ".\\Data\\Vane_TX_V1030.fir";
    rig.window->LButtonDown(IDC_CODE_PATH);
    EXPECT_EQ(rig.window->Text(IDC_CODE_PATH), ".\\Data\\Vane_TX_V1030.fir");
}
