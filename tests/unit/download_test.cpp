// The flash download's edge cases: erase counts, rounding, progress, final
// status, verification, the data step and the series step's order.
#include "dialog_fixture.h"

#include <algorithm>

namespace {

// A rig in flash mode with an image of a chosen size as the code file.
struct DownloadRig : DialogRig {
    DownloadRig() : DialogRig({.bootState = kFlashLoaderState}) { Advance(200); }

    void UseImage(size_t size, const std::string& name = "Vane_TX_V1030.fir")
    {
        image = MakeDemoFirmware(size);
        WriteFileBytes(folder.Path() / "Data" / name, image);
        std::string path = ".\\Data\\" + name;
        dlg->ShowCodePath(path);
        dlg->RefreshCodeFileInfo(path);
    }
    size_t CountSubCode(const std::string& subCode)
    {
        size_t n = 0;
        for (const std::string& line : target.Trace())
            if (line.compare(3, 2, subCode) == 0) ++n;
        return n;
    }
    std::vector<std::string> WritesOfCode()
    {
        std::vector<std::string> writes;
        for (const std::string& line : target.Trace())
            if (line.compare(3, 2, "72") == 0) writes.push_back(line);
        return writes;
    }
    std::vector<uint8_t> image;
};

} // namespace

TEST(Download, BlocksErasedFollowTheImageLength)
{
    for (auto [size, blocks] : {std::pair<size_t, size_t>{65536, 1}, {65537, 2}}) {
        SCOPED_TRACE(size);
        DownloadRig rig;
        rig.UseImage(size);
        rig.target.ClearTrace();
        rig.PressExecute();
        EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), "Complete!");
        EXPECT_EQ(rig.CountSubCode("8b"), blocks + 1); // + the identity block
        EXPECT_EQ(rig.FlashRange(0, size), rig.image);
    }
}

TEST(Download, UnalignedLengthEndsWithAZeroFilledPage)
{
    DownloadRig rig;
    rig.UseImage(16384 + 1000);
    rig.target.ClearTrace();
    rig.PressExecute();
    std::vector<std::string> writes = rig.WritesOfCode();
    ASSERT_EQ(writes.size(), 3u); // identity, 16384, 1024
    EXPECT_EQ(writes[2], "06 72 00 04 00 00 00 00 00 00 out 1024 30 ok");
    std::vector<uint8_t> tail = rig.FlashRange(16384 + 1000, 24);
    EXPECT_EQ(tail, std::vector<uint8_t>(24, 0x00));
    EXPECT_EQ(rig.FlashRange(16384 + 1024, 1)[0], 0xFF);
    EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), "Complete!");
}

TEST(Download, EmptyImageIsRefusedBeforeAnythingIsSent)
{
    DownloadRig rig;
    rig.UseImage(0);
    rig.target.ClearTrace();
    rig.PressExecute();
    ASSERT_FALSE(rig.MessageTexts().empty());
    EXPECT_EQ(rig.MessageTexts().back(), "Please Check your file!");
    EXPECT_TRUE(rig.target.Trace().empty());
    EXPECT_EQ(rig.dlg->JobsFinished(), 0);
}

TEST(Download, ProgressDuringEraseIsTheShareOfBlocks)
{
    DownloadRig rig;
    rig.UseImage(3 * 65536);
    std::vector<int> positions;
    std::mutex m;
    rig.target.SetTraceListener([&](const std::string& line) {
        if (line.compare(3, 2, "89") == 0) {
            std::lock_guard<std::mutex> lock(m);
            positions.push_back(rig.window->ProgressPos(IDC_PROGRESS));
        }
    });
    rig.PressExecute();
    rig.target.SetTraceListener(nullptr);
    // The polls after each erase see 100 * k / 3.
    EXPECT_NE(std::find(positions.begin(), positions.end(), 33), positions.end());
    EXPECT_NE(std::find(positions.begin(), positions.end(), 66), positions.end());
    EXPECT_NE(std::find(positions.begin(), positions.end(), 100), positions.end());
}

TEST(Download, CodeOptionOffStillRunsTheIdentityStep)
{
    DownloadRig rig;
    rig.window->SetCheck(IDC_CODE_OPTION, false);
    rig.target.ClearTrace();
    rig.PressExecute();
    EXPECT_EQ(rig.CountSubCode("8b"), 1u);
    EXPECT_EQ(rig.WritesOfCode().size(), 1u);
    EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), "Complete!");
}

TEST(Download, FinalStatusAndCompareFailuresEndThroughTheCompletionWithoutClaimingSuccess)
{
    struct Case {
        const char* name;
        std::function<void(EmulatedTarget&)> fault;
        const char* message;
    };
    std::vector<Case> cases = {
        {"signature", [](EmulatedTarget& t) { t.Faults().finalStatus = 2; },
         "Write data to SPI Flash failed!!!\nBecause signature is not match."},
        {"unknown", [](EmulatedTarget& t) { t.Faults().finalStatus = 7; }, "Write Data to SPI Flash Failed "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DownloadRig rig;
        rig.window->SetCheck(IDC_DATA_OPTION, true);
        WriteFileBytes(rig.folder.Path() / "data.bin", std::vector<uint8_t>(512, 0x5A));
        rig.dlg->m_strDataPath = (rig.folder.Path() / "data.bin").string();
        rig.window->SetWindowText(IDC_DATA_PATH, rig.dlg->m_strDataPath);
        rig.window->SetWindowText(IDC_DATA_START, "100000");
        c.fault(rig.target);
        rig.PressExecute();
        ASSERT_FALSE(rig.MessageTexts().empty());
        EXPECT_EQ(rig.MessageTexts().back(), c.message);
        EXPECT_NE(rig.window->Text(IDC_PROGRESS_TEXT), "Complete!");
        EXPECT_TRUE(rig.window->Enabled(IDC_EXECUTE));
        EXPECT_FALSE(rig.dlg->m_bBusy);
        EXPECT_EQ(rig.dlg->LastJobOutcome(), JobOutcome::Failed);
        // The data step was skipped.
        EXPECT_EQ(rig.FlashRange(0x100000, 1)[0], 0xFF);
    }
}

TEST(Download, ReadBackDifferenceIsACompareError)
{
    DownloadRig rig;
    rig.target.ClearTrace();
    // The first read-back of the code comes after ping, state, identity (6 commands with
    // at least one poll) ... find it by sub-code instead: flip every read's byte 100.
    rig.target.SetTraceListener(nullptr);
    uint64_t base = rig.target.CommandCount();
    // Run once cleanly to learn the position of the first 64 KiB read.
    rig.PressExecute();
    std::vector<std::string> trace = rig.target.Trace();
    uint64_t firstRead = 0;
    for (size_t i = 0; i < trace.size(); ++i)
        if (trace[i].find("06 71 00 00 01 00") == 0) {
            firstRead = base + i + 1;
            break;
        }
    ASSERT_NE(firstRead, 0u);
    DownloadRig second;
    FaultPlan faults;
    faults.flipReadAt = firstRead;
    faults.flipOffset = 100;
    second.target.SetFaults(faults);
    second.PressExecute();
    ASSERT_FALSE(second.MessageTexts().empty());
    EXPECT_EQ(second.MessageTexts().back(), "Compare Error!!");
    EXPECT_EQ(second.window->Text(IDC_PROGRESS_TEXT), "Compare Error!!");
    EXPECT_TRUE(second.window->Enabled(IDC_EXECUTE));
}

TEST(Download, EraseThatNeverFinishesIsBoundedAndFails)
{
    DownloadRig rig;
    rig.target.Faults().everyEraseNeverFinishes = true;
    const uint64_t before = rig.clock.NowMs();
    rig.PressExecute();
    EXPECT_LT(rig.clock.NowMs() - before, 30000u);
    EXPECT_FALSE(rig.dlg->m_bBusy);
    EXPECT_NE(rig.window->Text(IDC_PROGRESS_TEXT), "Complete!");
    EXPECT_EQ(rig.dlg->LastJobOutcome(), JobOutcome::Failed);
    // The identity erase was the first to hang.
    ASSERT_FALSE(rig.MessageTexts().empty());
    // ... and the message names the copy of the identity block's bytes.
    EXPECT_EQ(rig.MessageTexts().front(), "Chip ID Erase FAILED\nThe earlier bytes at flash 0x00040000 are kept in " +
                                              (rig.BackupFolder() / "flash-0x00040000.bin").string() + ".");
}

TEST(Download, BusyEraseIsPolledEveryFiftyMilliseconds)
{
    DownloadRig rig;
    TimingModel timing;
    timing.eraseBlockMs = 400;
    rig.target.SetTiming(timing);
    rig.target.ClearTrace();
    rig.PressExecute();
    EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), "Complete!");
    // About 400 / 50 polls per erase, over 5 erases (identity + 4 blocks).
    EXPECT_GE(rig.CountSubCode("89"), 5u * 7u);
    EXPECT_LE(rig.CountSubCode("89"), 5u * 10u + 2u);
}

TEST(Download, FailedStatusBeforeErasingIsReportedAndTheJobGoesOn)
{
    // Learn from a clean run which command is the status read before erasing.
    uint64_t statusBeforeErase = 0;
    {
        DownloadRig clean;
        uint64_t base = clean.target.CommandCount();
        clean.target.ClearTrace();
        clean.PressExecute();
        std::vector<std::string> trace = clean.target.Trace();
        for (size_t i = 0; i + 1 < trace.size(); ++i)
            if (trace[i] == "06 55 00 00 00 40 00 00 00 00 in 8 2 ok") {
                statusBeforeErase = base + i + 2;
                break;
            }
    }
    ASSERT_NE(statusBeforeErase, 0u);
    DownloadRig rig;
    rig.target.Faults().failCommand = statusBeforeErase;
    rig.PressExecute();
    std::vector<std::string> texts = rig.MessageTexts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], "Get Status FAILED#2");
    std::vector<uint8_t> image = MakeDemoFirmware();
    EXPECT_EQ(rig.FlashRange(0, image.size()), image);
}

TEST(Download, DataStepKeepsTheHeadOfItsFirstBlock)
{
    DownloadRig rig;
    rig.window->SetCheck(IDC_CODE_OPTION, false);
    std::vector<uint8_t> before(65536);
    for (size_t i = 0; i < before.size(); ++i) before[i] = static_cast<uint8_t>(i ^ (i >> 8));
    rig.target.LoadFlash(0x120000, before);
    std::vector<uint8_t> data = MakeDemoFirmware(70000);
    WriteFileBytes(rig.folder.Path() / "data.bin", data);
    rig.dlg->m_strDataPath = (rig.folder.Path() / "data.bin").string();
    rig.window->SetWindowText(IDC_DATA_PATH, rig.dlg->m_strDataPath);
    rig.window->SetCheck(IDC_DATA_OPTION, true);
    rig.window->SetWindowText(IDC_DATA_START, "123400");
    rig.PressExecute();
    EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), "Complete!");
    std::vector<uint8_t> head(before.begin(), before.begin() + 0x3400);
    EXPECT_EQ(rig.FlashRange(0x120000, 0x3400), head);
    EXPECT_EQ(rig.FlashRange(0x123400, data.size()), data);
}

TEST(Download, MisalignedDataStartIsRefusedOnTheFirstPress)
{
    DownloadRig rig;
    WriteFileBytes(rig.folder.Path() / "data.bin", std::vector<uint8_t>(100, 1));
    rig.dlg->m_strDataPath = (rig.folder.Path() / "data.bin").string();
    rig.window->SetWindowText(IDC_DATA_PATH, rig.dlg->m_strDataPath);
    rig.window->SetCheck(IDC_DATA_OPTION, true);
    rig.window->SetWindowText(IDC_DATA_START, "123456");
    rig.target.ClearTrace();
    rig.PressExecute();
    ASSERT_FALSE(rig.MessageTexts().empty());
    EXPECT_EQ(rig.MessageTexts().back(), "Start Address must be PAGE alignment (256 bytes)");
    EXPECT_TRUE(rig.target.Trace().empty());
}

TEST(Download, DeclinedIdentityStepSkipsOnlyTheCode)
{
    DownloadRig rig;
    rig.target.SetIdentityText("Vane_TX_V1040.fir");
    rig.window->QueueAnswer(IDCANCEL);
    WriteFileBytes(rig.folder.Path() / "data.bin", std::vector<uint8_t>(256, 0x33));
    rig.dlg->m_strDataPath = (rig.folder.Path() / "data.bin").string();
    rig.window->SetWindowText(IDC_DATA_PATH, rig.dlg->m_strDataPath);
    rig.window->SetCheck(IDC_DATA_OPTION, true);
    rig.window->SetWindowText(IDC_DATA_START, "200000");
    rig.PressExecute();
    EXPECT_TRUE(g_bDeclined);
    EXPECT_EQ(rig.FlashRange(0, 16), std::vector<uint8_t>(16, 0xFF));
    EXPECT_EQ(rig.FlashRange(0x200000, 256), std::vector<uint8_t>(256, 0x33));
    EXPECT_EQ(rig.dlg->LastJobOutcome(), JobOutcome::Failed);
}

TEST(Download, StatusLineNamesWhatEndedTheJob)
{
    {
        SCOPED_TRACE("an identity failure, then an unknown final status");
        DownloadRig rig;
        // The identity step's third set-address, the one before its erase.
        rig.target.Faults().failSubCode = 0x55;
        rig.target.Faults().failSubCodeNth = rig.CountSubCode("55") + 3;
        rig.target.Faults().finalStatus = 7;
        rig.PressExecute();
        EXPECT_EQ(rig.MessageTexts(), (std::vector<std::string>{"Set ID Address FAILED", "Write Data to SPI Flash Failed "}));
        EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), "Get Unknown status");
        EXPECT_EQ(rig.dlg->LastJobFailure(), "Get Unknown status");
        EXPECT_EQ(rig.dlg->LastJobOutcome(), JobOutcome::Failed);
    }
    {
        SCOPED_TRACE("the user declines: no failure");
        DownloadRig rig;
        rig.target.SetIdentityText("Vane_TX_V1040.fir");
        rig.window->QueueAnswer(IDCANCEL);
        rig.PressExecute();
        EXPECT_TRUE(rig.MessageTexts().size() == 1 && rig.window->MessageBoxes()[0].caption == "Warning!!");
        EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), "Complete!");
        EXPECT_EQ(rig.dlg->LastJobFailure(), "");
        EXPECT_TRUE(rig.window->Enabled(IDC_EXECUTE));
        // Nothing was upgraded: a program's exit status still says so.
        EXPECT_EQ(rig.dlg->LastJobOutcome(), JobOutcome::Failed);
    }
    {
        SCOPED_TRACE("a failed erase poll, then an image that reads back equal");
        DownloadRig rig;
        rig.UseImage(2 * 65536);
        TimingModel timing;
        timing.erasePolls = 0;
        rig.target.SetTiming(timing);
        // The identity step's wait, the status before erasing, then the first block's poll.
        rig.target.Faults().failSubCode = 0x89;
        rig.target.Faults().failSubCodeNth = rig.CountSubCode("89") + 3;
        rig.PressExecute();
        EXPECT_EQ(rig.MessageTexts(), std::vector<std::string>{"Get Status FAILED"});
        EXPECT_EQ(rig.FlashRange(0, rig.image.size()), rig.image);
        EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), "Complete!");
        EXPECT_EQ(rig.dlg->LastJobOutcome(), JobOutcome::Succeeded);
    }
}

// A front end without a screen learns a job's end from the outcome alone: it
// must agree with what the window shows.
TEST(Download, OutcomeAgreesWithTheWindow)
{
    auto agreed = [](DownloadRig& rig) {
        const DialogOutcome outcome = rig.dlg->Outcome();
        EXPECT_FALSE(outcome.busy);
        EXPECT_EQ(outcome.statusLine, rig.window->Text(IDC_PROGRESS_TEXT));
        EXPECT_EQ(outcome.versionLine, rig.window->Text(IDC_VERSION));
        if (outcome.versionRead) {
            EXPECT_EQ("Current version:" + outcome.version, outcome.versionLine);
        }
        const std::vector<std::string> boxes = rig.MessageTexts();
        EXPECT_EQ(static_cast<size_t>(outcome.messagesShown + outcome.questionsDeclined), boxes.size());
        if (!boxes.empty()) {
            EXPECT_EQ(outcome.lastMessage, boxes.back());
        }
        return outcome;
    };
    {
        SCOPED_TRACE("success, then the version read that follows");
        DownloadRig rig;
        EXPECT_TRUE(agreed(rig).versionRead);
        rig.PressExecute();
        rig.Advance(200);
        const DialogOutcome outcome = agreed(rig);
        EXPECT_EQ(outcome.job, JobOutcome::Succeeded);
        EXPECT_EQ(outcome.jobsFinished, 1);
        EXPECT_EQ(outcome.statusLine, "Complete!");
        EXPECT_TRUE(outcome.versionRead);
        EXPECT_TRUE(outcome.connected);
        rig.target.Unplug();
        rig.WaitIdle();
        EXPECT_FALSE(agreed(rig).versionRead);
        EXPECT_FALSE(agreed(rig).connected);
    }
    {
        SCOPED_TRACE("a failure that ends the job");
        DownloadRig rig;
        rig.target.Faults().finalStatus = 7;
        rig.PressExecute();
        const DialogOutcome outcome = agreed(rig);
        EXPECT_EQ(outcome.job, JobOutcome::Failed);
        EXPECT_EQ(outcome.jobFailure, "Get Unknown status");
    }
    {
        SCOPED_TRACE("a failure that only its box tells");
        DownloadRig rig;
        TimingModel timing;
        timing.erasePolls = 0;
        rig.target.SetTiming(timing);
        rig.target.Faults().failSubCode = 0x89;
        rig.target.Faults().failSubCodeNth = rig.CountSubCode("89") + 3;
        rig.PressExecute();
        const DialogOutcome outcome = agreed(rig);
        EXPECT_EQ(outcome.job, JobOutcome::Succeeded);
        EXPECT_EQ(outcome.messagesShown, 1);
    }
    {
        SCOPED_TRACE("a refusal before any job");
        DownloadRig rig;
        rig.UseImage(0);
        rig.PressExecute();
        const DialogOutcome outcome = agreed(rig);
        EXPECT_EQ(outcome.jobsFinished, 0);
        EXPECT_EQ(outcome.job, JobOutcome::None);
        EXPECT_EQ(outcome.lastMessage, "Please Check your file!");
    }
    {
        SCOPED_TRACE("a declined question");
        DownloadRig rig;
        rig.target.SetIdentityText("Vane_TX_V1040.fir");
        rig.window->QueueAnswer(IDCANCEL);
        rig.PressExecute();
        const DialogOutcome outcome = agreed(rig);
        EXPECT_EQ(outcome.questionsDeclined, 1);
        EXPECT_EQ(outcome.job, JobOutcome::Failed);
    }
}

// A reply left in the reply area by an earlier command must not pass for
// flash mode when the state command fails.
TEST(Download, FailedStateCommandNeverCountsAsFlashMode)
{
    DownloadRig rig;
    rig.UseImage(4096);
    rig.target.Faults().replySubCode = 0x51; // the dispatcher's ping leaves a 6 behind
    rig.target.Faults().replyBytes = {kIbrStateFlash};
    rig.target.Faults().failSubCode = 0x91;
    rig.target.Faults().failSubCodeEvery = true;
    rig.target.ClearTrace();
    rig.PressExecute();
    EXPECT_EQ(rig.CountSubCode("91"), 4u + 101u); // the dispatcher's tries, then the wait
    ASSERT_FALSE(rig.MessageTexts().empty());
    EXPECT_EQ(rig.MessageTexts().back(), "Download fail! Reboot target please!");
    EXPECT_EQ(rig.CountSubCode("8b"), 1u); // the identity block only
    EXPECT_EQ(rig.FlashRange(0, 16), std::vector<uint8_t>(16, 0xFF));
    EXPECT_EQ(rig.dlg->LastJobOutcome(), JobOutcome::Failed);
}

TEST(Download, SecondPressWhileAJobRunsStartsNothing)
{
    DownloadRig rig;
    rig.window->Click(IDC_EXECUTE);
    rig.window->PressKey(VK_RETURN);
    rig.window->Click(IDC_EXECUTE);
    rig.WaitIdle();
    EXPECT_EQ(rig.dlg->JobsFinished(), 1);
    EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), "Complete!");
}
