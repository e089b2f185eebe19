// The series number: burned into its flash block as the last step of a
// download, advanced after each device, kept when the burn fails.
#include "dialog_fixture.h"

#include <algorithm>

#include "operations/hex_text.h"

namespace {

constexpr uint32_t kBlock = 65536;

std::vector<uint8_t> Pattern(size_t size, uint8_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + seed + (i >> 8));
    return bytes;
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// A failure after the erase names the copy of the block's earlier bytes.
std::string WithCopy(const DialogRig& rig, const std::string& text, const std::string& block)
{
    return text + "\nThe earlier bytes at flash 0x" + block + " are kept in " +
           (rig.BackupFolder() / ("flash-0x" + block + ".bin")).string() + ".";
}

// A connected target in flash mode, the series option on and the code image
// off: a press runs the identity step and then the series number.
class SeriesRig : public DialogRig {
public:
    explicit SeriesRig(DialogRigOptions options = {.bootState = kFlashLoaderState}) : DialogRig(options)
    {
        Advance(200); // the version read after connecting
        window->SetCheck(IDC_CODE_OPTION, false);
        window->Click(IDC_SERIES_OPTION);
    }

    void Burn(const std::string& offset, const std::string& number)
    {
        window->SetWindowText(IDC_OFFSET_EDIT, offset);
        window->SetWindowText(IDC_SERIES_EDIT, number);
        target.ClearTrace();
        // Return reaches the dispatcher even when a failed burn left Execute disabled.
        window->PressKey(VK_RETURN);
        WaitIdle();
    }

    // The wire trace from the first line that starts with prefix on.
    std::vector<std::string> TraceFrom(const std::string& prefix)
    {
        std::vector<std::string> trace = target.Trace();
        auto first = std::find_if(trace.begin(), trace.end(), [&](const std::string& l) { return StartsWith(l, prefix); });
        return {first, trace.end()};
    }

    size_t CountInTrace(const std::string& prefix)
    {
        std::vector<std::string> trace = target.Trace();
        return static_cast<size_t>(std::count_if(trace.begin(), trace.end(), [&](const std::string& l) { return StartsWith(l, prefix); }));
    }

    // A burn that failed: no completion, the target and controls released.
    void ExpectFailedBurn(const std::string& numberBefore)
    {
        EXPECT_EQ(window->Text(IDC_SERIES_EDIT), numberBefore);
        EXPECT_EQ(dlg->LastJobOutcome(), JobOutcome::Failed);
        EXPECT_FALSE(dlg->m_bBusy);
        EXPECT_TRUE(window->Enabled(IDC_MODE));
        EXPECT_EQ(window->Text(IDC_PROGRESS_TEXT).find("Complete"), std::string::npos) << window->Text(IDC_PROGRESS_TEXT);
    }
};

} // namespace

TEST(SeriesNumber, BurnRewritesOnlyTheNumberWithinItsBlock)
{
    SeriesRig rig;
    const std::vector<uint8_t> before = Pattern(3 * kBlock, 0x21);
    rig.target.LoadFlash(0, before);
    rig.Burn("12345", "1234ABCD");

    EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), "Complete!");
    EXPECT_EQ(rig.dlg->LastJobOutcome(), JobOutcome::Succeeded);
    EXPECT_EQ(rig.window->Text(IDC_SERIES_EDIT), "1234ABCE");
    std::vector<uint8_t> expected = before;
    const uint8_t number[] = {0xCD, 0xAB, 0x34, 0x12};
    std::copy(std::begin(number), std::end(number), expected.begin() + 0x12345);
    EXPECT_TRUE(rig.FlashRange(0, 3 * kBlock) == expected);

    // Block at 0x40010000: read twice, erase, status polled until idle, written
    // in four pieces, read back, and the address put back to 0.
    std::vector<std::string> series = rig.TraceFrom("06 55 00 00 01 40 ");
    ASSERT_GE(series.size(), 14u);
    for (size_t r = 0; r < 4; r += 2) {
        EXPECT_EQ(series[r], "06 55 00 00 01 40 00 00 00 00 in 3583 5 ok");
        EXPECT_EQ(series[r + 1], "06 71 00 00 01 00 00 00 00 00 in 65536 2 ok");
    }
    EXPECT_EQ(series[4], "06 55 00 00 01 40 00 00 00 00 in 3583 5 ok");
    EXPECT_TRUE(StartsWith(series[5], "06 8b 01 "));
    size_t i = 6;
    EXPECT_TRUE(StartsWith(series[i], "06 89 ")) << "no status poll after the erase";
    while (i < series.size() && StartsWith(series[i], "06 89 ")) ++i;
    ASSERT_EQ(series.size(), i + 8);
    EXPECT_EQ(series[i], "06 55 00 00 01 40 00 00 00 00 in 3583 5 ok");
    for (size_t w = 1; w <= 4; ++w) EXPECT_EQ(series[i + w], "06 72 00 40 00 00 00 00 00 00 out 16384 30 ok");
    EXPECT_EQ(series[i + 5], "06 55 00 00 01 40 00 00 00 00 in 3583 5 ok");
    EXPECT_EQ(series[i + 6], "06 71 00 00 01 00 00 00 00 00 in 65536 2 ok");
    EXPECT_EQ(series[i + 7], "06 55 00 00 00 00 00 00 00 00 in 3583 5 ok");
}

TEST(SeriesNumber, EachBurnAdvancesTheNumberInUpperCaseHex)
{
    // The last position of a block still holds all four bytes.
    SeriesRig rig;
    const struct {
        const char* number;
        uint32_t value;
        const char* next;
    } cases[] = {{"1A2B", 0x1A2B, "1A2C"}, {"FFFFFFFF", 0xFFFFFFFF, "0"}, {"9", 9, "A"}, {"00FF", 0xFF, "100"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.number);
        rig.Burn("3FFFC", c.number);
        EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), "Complete!");
        EXPECT_EQ(rig.window->Text(IDC_SERIES_EDIT), c.next);
        const std::vector<uint8_t> stored = {static_cast<uint8_t>(c.value), static_cast<uint8_t>(c.value >> 8),
                                             static_cast<uint8_t>(c.value >> 16), static_cast<uint8_t>(c.value >> 24)};
        EXPECT_EQ(rig.FlashRange(0x3FFFC, 4), stored);
    }
}

TEST(SeriesNumber, HexTextToUIntReadsLeadingDigits)
{
    EXPECT_EQ(HexTextToUInt("0x10"), 16u);
    EXPECT_EQ(HexTextToUInt("0X10"), 16u);
    EXPECT_EQ(HexTextToUInt("12G4"), 0x12u);
    EXPECT_EQ(HexTextToUInt(""), 0u);
    EXPECT_EQ(HexTextToUInt("0x"), 0u);
    EXPECT_EQ(HexTextToUInt("G1"), 0u);
    EXPECT_EQ(HexTextToUInt("ffffffff"), 0xFFFFFFFFu);
    EXPECT_EQ(HexTextToUInt("123456789"), 0x23456789u); // kept to 32 bits
}

TEST(SeriesNumber, RefusedOffsetsLeaveTheFlashAndTheNumberUnchanged)
{
    const std::string kLarger = "\nOffset address is larger than SPI flash size.\n ";
    const struct {
        const char* offset;
        std::string warning;
    } cases[] = {
        {"1000000", kLarger},  // 16 MiB: beyond what three-byte SPI addresses reach
        {"C0000000", kLarger}, // would wrap the block address into SRAM
        {"1FFFD", "Offset address out of range (the number needs 4 bytes within one 64 KiB block)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.offset);
        SeriesRig rig;
        const std::vector<uint8_t> flash = rig.target.Flash();
        rig.Burn(c.offset, "77");
        rig.ExpectFailedBurn("77");
        // Refused before anything, the identity step included, is written.
        EXPECT_EQ(rig.CountInTrace("06 8b "), 0u);
        EXPECT_EQ(rig.CountInTrace("06 72 "), 0u);
        EXPECT_TRUE(rig.target.Flash() == flash);
        ASSERT_EQ(rig.window->MessageBoxes().size(), 1u);
        EXPECT_EQ(rig.window->MessageBoxes()[0].text, c.warning);
        EXPECT_EQ(rig.window->MessageBoxes()[0].caption, "Warning");
    }
    {
        // Within 16 MiB but past the 4 MiB of this target: the target refuses
        // the block's commands (the link sees them complete) and the read-back
        // cannot match.
        SCOPED_TRACE("500000");
        SeriesRig rig;
        rig.Burn("500000", "77");
        rig.ExpectFailedBurn("77");
        EXPECT_EQ(rig.MessageTexts(), std::vector<std::string>{WithCopy(rig, "Compare Error!!", "00500000")});
        EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), WithCopy(rig, "Compare Error!!", "00500000"));
    }
}

// The console tells whether the transmitter holds its number from the outcome.
TEST(SeriesNumber, OutcomeOffersWhatTheFieldShowsNextOnlyAfterABurn)
{
    SeriesRig rig;
    rig.Burn("3FFFC", "FFFFFFFF");
    EXPECT_TRUE(rig.dlg->Outcome().seriesAdvanced);
    EXPECT_EQ(rig.dlg->Outcome().nextSeriesNumber, HexTextToUInt(rig.window->Text(IDC_SERIES_EDIT)));
    rig.Burn("1FFFD", "77");
    EXPECT_FALSE(rig.dlg->Outcome().seriesAdvanced);
}

TEST(SeriesNumber, ReadBackDifferenceKeepsTheNumber)
{
    SeriesRig rig;
    // The read after the fourth 16 KiB write (a set-address in between) comes back with one byte flipped.
    int writes = 0;
    rig.target.SetTraceListener([&](const std::string& line) {
        if (StartsWith(line, "06 72 00 40 ") && ++writes == 4) {
            rig.target.Faults().flipReadAt = rig.target.CommandCount() + 2;
            rig.target.Faults().flipOffset = 0x100;
        }
    });
    DiagnosticCapture diag;
    rig.Burn("20000", "5");
    rig.target.SetTraceListener(nullptr);
    rig.ExpectFailedBurn("5");
    EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), WithCopy(rig, "Compare Error!!", "00020000"));
    EXPECT_EQ(rig.MessageTexts(), std::vector<std::string>{WithCopy(rig, "Compare Error!!", "00020000")});
    EXPECT_TRUE(diag.Contains("Failed cont=256\n"));
    EXPECT_EQ(rig.dlg->LastJobFailure(), WithCopy(rig, "Compare Error!!", "00020000"));
}

TEST(SeriesNumber, AnEraseThatNeverFinishesFailsAfterFiveSeconds)
{
    SeriesRig rig;
    // The series block's erase (after its read and a set-address) stays busy.
    rig.target.SetTraceListener([&](const std::string& line) {
        if (StartsWith(line, "06 71 00 00 01 00 ")) rig.target.Faults().eraseNeverFinishesAt = rig.target.CommandCount() + 2;
    });
    const uint64_t started = rig.clock.NowMs();
    rig.Burn("20000", "5");
    rig.target.SetTraceListener(nullptr);
    rig.ExpectFailedBurn("5");
    EXPECT_GE(rig.clock.NowMs() - started, 5000u);
    EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), WithCopy(rig, "Block Erase FAILED", "00020000"));
    EXPECT_EQ(rig.MessageTexts(), std::vector<std::string>{WithCopy(rig, "Block Erase FAILED", "00020000")});
    EXPECT_EQ(rig.window->ProgressPos(IDC_PROGRESS), 0);
    // Nothing is written into a block that is still being erased.
    std::vector<std::string> series = rig.TraceFrom("06 55 00 00 02 40 ");
    EXPECT_TRUE(std::none_of(series.begin(), series.end(), [](const std::string& l) { return StartsWith(l, "06 72 "); }));
}

TEST(SeriesNumber, DevicesInARowGetConsecutiveNumbers)
{
    // Full upgrades from the boot ROM, one device after the other.
    DialogRig rig;
    rig.Advance(200);
    rig.window->Click(IDC_SERIES_OPTION);
    rig.window->SetWindowText(IDC_OFFSET_EDIT, "50010");
    rig.window->SetWindowText(IDC_SERIES_EDIT, "41");
    VirtualClock otherClock;
    const std::vector<uint8_t> factoryFlash = EmulatedTarget(otherClock).Flash();

    rig.PressExecute();
    EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), "Complete!");
    EXPECT_EQ(rig.FlashRange(0x50010, 4), (std::vector<uint8_t>{0x41, 0, 0, 0}));
    EXPECT_EQ(rig.window->Text(IDC_SERIES_EDIT), "42");

    // The next device: the first one leaves, a fresh one is plugged in.
    rig.target.Unplug();
    rig.WaitIdle();
    EXPECT_EQ(rig.window->Text(IDC_STATUS), "Disconnected");
    rig.target.LoadFlash(0, factoryFlash);
    rig.target.Plug();
    rig.WaitIdle();
    ASSERT_EQ(rig.window->Text(IDC_STATUS), "Connected");
    rig.Advance(200);

    rig.PressExecute();
    EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), "Complete!");
    EXPECT_EQ(rig.FlashRange(0x50010, 4), (std::vector<uint8_t>{0x42, 0, 0, 0}));
    EXPECT_EQ(rig.window->Text(IDC_SERIES_EDIT), "43");
    EXPECT_TRUE(rig.MessageTexts().empty());
}
