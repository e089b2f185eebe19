// The flash dump: the first N bytes of the flash into the file chosen in
// Dump mode, in pieces of 4096 bytes.
#include "dialog_fixture.h"

#include <sstream>

namespace {

constexpr char kSaveFailed[] = "Read Data and Save FAILED\n";

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// A connected target whose flash starts with known bytes, the dialog in Dump mode.
class DumpRig : public DialogRig {
public:
    DumpRig()
    {
        Advance(200); // the version read after connecting
        flash = MakeDemoFirmware(20000);
        target.LoadFlash(0, flash);
        window->SelectComboRow(IDC_MODE, kModeRowDump);
    }

    std::string OutputPath(const std::string& name) const { return (folder.Path() / name).string(); }

    // The "Path" button and its save dialog.
    void ChoosePath(const std::string& path)
    {
        window->QueueFilePath(path);
        window->SendClick(IDC_CODE_BUTTON);
    }

    void Dump(const std::string& sizeText)
    {
        window->SetWindowText(IDC_DUMP_LENGTH, sizeText);
        target.ClearTrace();
        PressExecute();
    }

    // Lengths of the reads on the wire, in order.
    std::vector<uint32_t> Reads()
    {
        std::vector<uint32_t> lengths;
        for (const std::string& line : target.Trace()) {
            if (!StartsWith(line, "06 71 ")) continue;
            std::istringstream in(line.substr(30)); // after the ten CDB bytes
            std::string direction;
            uint32_t length = 0;
            in >> direction >> length;
            lengths.push_back(length);
        }
        return lengths;
    }

    std::vector<uint8_t> FlashHead(size_t n) const { return {flash.begin(), flash.begin() + static_cast<long>(n)}; }

    std::vector<uint8_t> flash;
};

} // namespace

TEST(FlashDump, CopiesTheFirstBytesInPiecesOf4096)
{
    DumpRig rig;
    const std::string out = rig.OutputPath("dump.bin");
    rig.ChoosePath(out);
    const struct {
        const char* size;
        std::vector<uint32_t> reads;
    } cases[] = {
        {"10000", {4096, 4096, 1808}},
        {"4096", {4096}},
        {"4097", {4096, 1}},
        {"12ab", {12}}, // the leading digits only
        {"0", {0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        rig.Dump(c.size);
        std::vector<std::string> trace = rig.target.Trace();
        ASSERT_FALSE(trace.empty());
        EXPECT_EQ(trace[0], "06 55 00 00 00 40 00 00 00 00 in 8 2 ok"); // flash byte 0, once
        // The pieces are read a second time to check what the file holds.
        std::vector<uint32_t> reads = c.reads;
        if (c.reads != std::vector<uint32_t>{0}) reads.insert(reads.end(), c.reads.begin(), c.reads.end());
        EXPECT_EQ(rig.Reads(), reads);
        uint32_t total = 0;
        for (uint32_t n : c.reads) total += n;
        EXPECT_EQ(ReadFileBytes(out), rig.FlashHead(total));
        EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), "Complete!");
        EXPECT_EQ(rig.window->ProgressPos(IDC_PROGRESS), 100);
        EXPECT_EQ(rig.dlg->LastJobOutcome(), JobOutcome::Succeeded);
        EXPECT_FALSE(rig.dlg->m_bBusy);
        EXPECT_TRUE(rig.window->Enabled(IDC_MODE));
    }
    EXPECT_TRUE(rig.MessageTexts().empty());
}

TEST(FlashDump, RefusesSizesBeyondTheFlash)
{
    DumpRig rig;
    const std::string out = rig.OutputPath("dump.bin");
    rig.ChoosePath(out);
    for (const char* size : {"", "16777217", "99999999999999999999", "-1"}) {
        SCOPED_TRACE(size);
        const size_t shown = rig.MessageTexts().size();
        rig.Dump(size);
        std::vector<std::string> texts = rig.MessageTexts();
        ASSERT_EQ(texts.size(), shown + 2);
        EXPECT_EQ(texts[shown], "Please Check Read Data Size Value");
        EXPECT_EQ(texts[shown + 1], kSaveFailed);
        EXPECT_TRUE(rig.Reads().empty());
        EXPECT_EQ(fs::file_size(out), 0u) << "the file stays as the Path button left it";
        EXPECT_EQ(rig.dlg->LastJobOutcome(), JobOutcome::Failed);
        EXPECT_FALSE(rig.dlg->m_bBusy);
    }
    // Once the flash size is known it is the limit.
    rig.dlg->m_strFlashSize = "1000";
    rig.Dump("4097");
    EXPECT_EQ(rig.MessageTexts().back(), kSaveFailed);
    EXPECT_EQ(fs::file_size(out), 0u);
    rig.Dump("4096");
    EXPECT_EQ(rig.dlg->LastJobOutcome(), JobOutcome::Succeeded);
    EXPECT_EQ(ReadFileBytes(out), rig.FlashHead(4096));
}

TEST(FlashDump, WritesOnlyToAPathChosenInDumpMode)
{
    DumpRig rig;
    const std::vector<uint8_t> image = ReadFileBytes(rig.folder.Path() / "Data" / "Vane_TX_V1030.fir");
    ASSERT_FALSE(image.empty());

    // The path still names the firmware image of the download modes.
    rig.Dump("100");
    EXPECT_EQ(rig.MessageTexts(), (std::vector<std::string>{"Please check selected path is exist!!!", kSaveFailed}));
    EXPECT_TRUE(rig.Reads().empty());
    EXPECT_EQ(ReadFileBytes(rig.folder.Path() / "Data" / "Vane_TX_V1030.fir"), image);
    EXPECT_EQ(rig.dlg->LastJobOutcome(), JobOutcome::Failed);

    // Chosen, then the mode changed and changed back: to be chosen again.
    const std::string out = rig.OutputPath("dump.bin");
    rig.ChoosePath(out);
    rig.Dump("100");
    EXPECT_EQ(ReadFileBytes(out), rig.FlashHead(100));
    rig.window->SelectComboRow(IDC_MODE, kModeRowSpi);
    rig.window->SelectComboRow(IDC_MODE, kModeRowDump);
    rig.Dump("200");
    EXPECT_EQ(rig.MessageTexts().back(), kSaveFailed);
    EXPECT_EQ(ReadFileBytes(out), rig.FlashHead(100));

    // A typed path and a dropped file are chosen paths too.
    const std::string typed = rig.OutputPath("typed.bin");
    rig.window->SetWindowText(IDC_CODE_PATH, typed);
    rig.Dump("300");
    EXPECT_EQ(ReadFileBytes(typed), rig.FlashHead(300));
    rig.window->SelectComboRow(IDC_MODE, kModeRowSpi);
    rig.window->SelectComboRow(IDC_MODE, kModeRowDump);
    const std::string dropped = rig.OutputPath("dropped.bin");
    ASSERT_TRUE(rig.window->DropFiles({dropped}, {150, 150}));
    rig.Dump("400");
    EXPECT_EQ(ReadFileBytes(dropped), rig.FlashHead(400));
    EXPECT_EQ(rig.dlg->LastJobOutcome(), JobOutcome::Succeeded);
}

TEST(FlashDump, FailedReadsAndWritesAreFailures)
{
    {
        SCOPED_TRACE("second read refused");
        DumpRig rig;
        const std::string out = rig.OutputPath("dump.bin");
        rig.ChoosePath(out);
        rig.target.Faults().failCommand = rig.target.CommandCount() + 3;
        DiagnosticCapture diag;
        rig.Dump("10000");
        EXPECT_TRUE(diag.Contains("Get File Data Failed !\n"));
        EXPECT_EQ(rig.MessageTexts(), std::vector<std::string>{kSaveFailed});
        EXPECT_EQ(ReadFileBytes(out), rig.FlashHead(4096)); // what was written before
        EXPECT_EQ(rig.window->ProgressPos(IDC_PROGRESS), 0);
        EXPECT_NE(rig.window->Text(IDC_PROGRESS_TEXT), "Complete!");
        EXPECT_EQ(rig.dlg->LastJobOutcome(), JobOutcome::Failed);
    }
    if (fs::exists("/dev/full")) {
        SCOPED_TRACE("full disk");
        DumpRig rig;
        rig.ChoosePath("/dev/full");
        rig.Dump("10000");
        EXPECT_EQ(rig.MessageTexts(), std::vector<std::string>{kSaveFailed});
        EXPECT_EQ(rig.Reads(), std::vector<uint32_t>{4096}); // it stops at the first piece it cannot save
        EXPECT_NE(rig.window->Text(IDC_PROGRESS_TEXT), "Complete!");
        EXPECT_EQ(rig.dlg->LastJobOutcome(), JobOutcome::Failed);
    }
}
