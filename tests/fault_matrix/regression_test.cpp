// The defects the fault matrix and the stress test found, one case each, as
// plain tests that say what went wrong before.
#include <algorithm>

#include "fault_matrix/matrix_jobs.h"

namespace {

constexpr uint32_t kIdBlock = kEmuIdBlockOffset;
constexpr char kIdentityCopy[] = "flash-0x00040000.bin";

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The 0-based position of the first line of the job's clean trace that starts with prefix.
size_t CleanPosition(const MatrixJob& job, const std::string& prefix, size_t occurrence = 1)
{
    auto rig = MakeJobRig(job);
    const RunStart start = BeginRun(*rig, job);
    PressAndWait(*rig, start);
    const std::vector<std::string> trace = rig->target.Trace();
    for (size_t i = start.traceLength; i < trace.size(); ++i)
        if (StartsWith(trace[i], prefix) && --occurrence == 0) return i - start.traceLength;
    ADD_FAILURE() << "no " << prefix << " in the clean trace";
    return 0;
}

std::vector<uint8_t> IdentityBlock(DialogRig& rig) { return rig.FlashRange(kIdBlock, 256); }

} // namespace

// Before: a failed ping at the press left only "Download to SPI Falsh" on the status line.
TEST(FaultRegression, FailedPingAtThePressIsShown)
{
    DialogRig rig;
    rig.Advance(kGetVersionDelayMs);
    rig.target.Faults().failSubCode = kIbrSubPing;
    rig.target.Faults().failSubCodeEvery = true;
    rig.PressExecute();
    EXPECT_EQ(rig.dlg->JobsFinished(), 0);
    EXPECT_EQ(rig.MessageTexts(), std::vector<std::string>{"Ping FAILED"});
}

// Before: the flash loader's failed set-address, failed writes and a target
// that never came back ended the job without a word.
TEST(FaultRegression, FlashLoaderFailuresAreShown)
{
    {
        SCOPED_TRACE("first SRAM piece refused");
        DialogRig rig;
        rig.Advance(kGetVersionDelayMs);
        rig.target.Faults().failSubCode = kIbrSubWrite;
        rig.target.Faults().failSubCodeNth = 1;
        rig.PressExecute();
        EXPECT_EQ(rig.MessageTexts(), std::vector<std::string>{"Write fail"});
        EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), "Write fail");
        EXPECT_EQ(rig.dlg->LastJobOutcome(), JobOutcome::Failed);
        EXPECT_TRUE(rig.window->Enabled(IDC_MODE));
    }
    {
        SCOPED_TRACE("never back after the loader started");
        DialogRig rig;
        rig.Advance(kGetVersionDelayMs);
        rig.target.Faults().neverReturnAfterExecute = true;
        const uint64_t started = rig.clock.NowMs();
        rig.PressExecute();
        EXPECT_LT(rig.clock.NowMs() - started, 60000u);
        const std::string text = "The target did not come back after the flash loader started";
        EXPECT_EQ(rig.MessageTexts(), std::vector<std::string>{text});
        EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), text);
        EXPECT_FALSE(rig.dlg->m_bBusy);
    }
    {
        // Before: the download started on a volume that was listed but did
        // not open yet, and ended at once with "No Device Handle".
        SCOPED_TRACE("back, but its first opens fail");
        DialogRig rig;
        rig.Advance(kGetVersionDelayMs);
        rig.target.Faults().failOpensAfterLoader = 2;
        rig.PressExecute();
        EXPECT_EQ(rig.MessageTexts(), std::vector<std::string>{});
        EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), "Complete!");
        EXPECT_EQ(rig.dlg->LastJobOutcome(), JobOutcome::Succeeded);
    }
}

// Before: a failed set-address in front of the code's writes or its read-back
// ended the job with the status line still at the step before.
TEST(FaultRegression, CodeImageSetAddressFailuresAreShown)
{
    MatrixJob job = StandardUpgradeJob();
    for (size_t occurrence : {1u, 2u}) {
        SCOPED_TRACE(occurrence);
        const size_t p = CleanPosition(job, "06 55 00 00 00 40 00 00 00 00 in 3583", occurrence);
        auto rig = MakeJobRig(job);
        rig->target.Faults().failCommand = rig->target.CommandCount() + p + 1;
        rig->PressExecute();
        EXPECT_EQ(rig->MessageTexts(), std::vector<std::string>{"Set Address FAILED"});
        EXPECT_EQ(rig->window->Text(IDC_PROGRESS_TEXT), "Set Address FAILED");
        EXPECT_EQ(rig->dlg->LastJobOutcome(), JobOutcome::Failed);
    }
}

// Before: one read of the identity block; a byte damaged on the way was
// erased over and written back for good, and "Complete!" shown.
TEST(FaultRegression, DamagedReadOfKeptBytesErasesNothing)
{
    const struct {
        MatrixJob job;
        std::string read;     // the read of the kept bytes
        uint32_t block;       // the block they are in
        std::string message;
    } cases[] = {
        {StandardUpgradeJob(), "06 71 00 01 00 00", kIdBlock, "Read ID FAILED (two reads differ, nothing erased)"},
        {DataStepJob(), "06 71 00 00 01 00", 0x50000, "Read of the kept bytes FAILED (two reads differ, nothing erased)"},
        {SeriesBurnJob(), "06 71 00 00 01 00", 0x10000, "Read Series Block FAILED (two reads differ, nothing erased)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.job.name);
        const size_t p = CleanPosition(c.job, c.read);
        auto rig = MakeJobRig(c.job);
        const std::vector<uint8_t> before = rig->FlashRange(c.block, 0x10000);
        rig->target.Faults().flipReadAt = rig->target.CommandCount() + p + 1;
        rig->target.Faults().flipOffset = 3;
        rig->PressExecute();
        EXPECT_TRUE(rig->FlashRange(c.block, 0x10000) == before);
        const std::vector<std::string> texts = rig->MessageTexts();
        EXPECT_NE(std::find(texts.begin(), texts.end(), c.message), texts.end());
        EXPECT_NE(rig->window->Text(IDC_PROGRESS_TEXT), "Complete!");
        EXPECT_EQ(rig->dlg->LastJobOutcome(), JobOutcome::Failed);
        EXPECT_TRUE(BackupFiles(*rig).empty());
    }
}

// Before: a failure after the identity erase lost the block's bytes. Now its
// message names the copy, a later run never overwrites that copy, and the
// data step restores it (the procedure of docs/reliability.md).
TEST(FaultRegression, KeptCopyIsNamedKeptAndRestoresTheBlock)
{
    MatrixJob job = StandardUpgradeJob();
    const size_t write = CleanPosition(job, "06 72 00 01 00 00");
    auto rig = MakeJobRig(job);
    const std::vector<uint8_t> original = IdentityBlock(*rig);
    rig->target.Faults().failCommand = rig->target.CommandCount() + write + 1;
    rig->PressExecute();
    ASSERT_FALSE(rig->MessageTexts().empty());
    EXPECT_EQ(rig->MessageTexts().front(),
              "Write fail\nThe earlier bytes at flash 0x00040000 are kept in " + (rig->BackupFolder() / kIdentityCopy).string() + ".");
    EXPECT_TRUE(Contains(rig->dlg->LastJobFailure(), kIdentityCopy));
    EXPECT_EQ(IdentityBlock(*rig), std::vector<uint8_t>(256, 0xFF)) << "the write-back never came";
    EXPECT_EQ(ReadFileBytes(rig->BackupFolder() / kIdentityCopy), original);

    // The next run succeeds with the erased block, and leaves the earlier copy alone.
    Recover(*rig, false);
    const RunStart again = BeginRun(*rig, job);
    const RunEnd end = PressAndWait(*rig, again);
    EXPECT_EQ(end.status, "Complete!");
    EXPECT_EQ(BackupFiles(*rig), std::set<std::string>{kIdentityCopy});
    EXPECT_EQ(ReadFileBytes(rig->BackupFolder() / kIdentityCopy), original);

    // Restoring: the data step, the copy as its file, the address of its name as the start.
    rig->window->SetCheck(IDC_CODE_OPTION, false);
    rig->window->SetCheck(IDC_DATA_OPTION, true);
    rig->window->QueueFilePath((rig->BackupFolder() / kIdentityCopy).string());
    if (!rig->window->Click(IDC_DATA_BUTTON)) rig->dlg->OnDataButton(); // not enabled before a job with the data step
    rig->window->SetWindowText(IDC_DATA_START, "40000");
    rig->PressExecute(); // the identity step asks about the erased identity: OK
    EXPECT_EQ(rig->window->MessageBoxes().back().caption, "Warning!!");
    EXPECT_EQ(rig->window->Text(IDC_PROGRESS_TEXT), "Complete!");
    EXPECT_EQ(IdentityBlock(*rig), original);
}

// Before: a copy of kept bytes that could not be written stopped the erase
// (with a file named Backup in the working folder the identity kept the old
// version and the run failed), and every run left an empty Backup folder. Now
// the copy goes to the user's backup folder when it can, and the job goes on
// as without it when it cannot; the diagnostic log says why, once.
TEST(FaultRegression, KeptCopyThatCannotBeWrittenStopsNothing)
{
    const struct {
        MatrixJob job;
        const char* keptAt;
    } cases[] = {
        {StandardUpgradeJob(), "flash 0x00040000"},
        {DataStepJob(), "flash 0x00050000"},
        {SeriesBurnJob(), "flash 0x00010000"},
    };
    for (const auto& c : cases) {
        for (const bool folderNamed : {true, false}) {
            SCOPED_TRACE(c.job.name + (folderNamed ? ", backup folder blocked" : ", no backup folder named"));
            auto rig = MakeJobRig(c.job);
            WriteFileBytes(rig->folder.Path() / "Backup", {0x42});
            if (folderNamed) {
                WriteFileBytes(rig->folder.Path() / "state", {0x42}); // a file where a folder must go
            } else {
                rig->files.SetBackupFolder("");
            }
            DiagnosticCapture log;
            const RunStart start = BeginRun(*rig, c.job);
            const RunEnd end = PressAndWait(*rig, start);
            EXPECT_EQ(CheckCleanRun(*rig, c.job, start, end), std::vector<std::string>{});
            EXPECT_EQ(log.Count(std::string("No copy of the bytes at ") + c.keptAt + " kept: "), 1u);
        }
    }
}

// Before: a byte damaged on its way into the dump file went unnoticed and the
// dump said "Complete!".
TEST(FaultRegression, DamagedDumpReadIsAFailure)
{
    MatrixJob job = DumpJob();
    const size_t p = CleanPosition(job, "06 71 ", 2);
    auto rig = MakeJobRig(job);
    rig->target.Faults().flipReadAt = rig->target.CommandCount() + p + 1;
    const RunStart start = BeginRun(*rig, job);
    const RunEnd end = PressAndWait(*rig, start);
    EXPECT_EQ(end.messages, std::vector<std::string>{"Read Data and Save FAILED\n"});
    EXPECT_EQ(end.status, "Read Data and Save FAILED");
    EXPECT_EQ(rig->dlg->LastJobFailure(), "Dump Compare Error !");
}

// Before: the mode list stayed enabled while the flash loader ran; a mode
// change then asked the target for its state between the job's commands.
TEST(FaultRegression, JobControlsAreOffWhileTheFlashLoaderRuns)
{
    DialogRig rig;
    rig.Advance(kGetVersionDelayMs);
    std::vector<bool> modeEnabled;
    rig.target.SetTraceListener([&](const std::string& line) {
        if (StartsWith(line, "06 72 ") || StartsWith(line, "06 60 ")) modeEnabled.push_back(rig.window->Enabled(IDC_MODE));
    });
    rig.PressExecute();
    rig.target.SetTraceListener(nullptr);
    ASSERT_FALSE(modeEnabled.empty());
    EXPECT_EQ(std::count(modeEnabled.begin(), modeEnabled.end(), true), 0);
    EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), "Complete!");
    EXPECT_TRUE(rig.window->Enabled(IDC_MODE));
}
