// The identity block: compatibility questions, the rewritten name, the
// version shown, and the bytes around the name.
#include "dialog_fixture.h"
#include "firmware/image_name.h"

namespace {

constexpr uint32_t kIdBlock = kEmuIdBlockOffset;

// A rig in flash mode whose code step is off, so that a press runs only the identity step.
struct IdentityRig : DialogRig {
    explicit IdentityRig(const std::string& deviceText) : DialogRig({.bootState = kFlashLoaderState, .open = false})
    {
        target.SetIdentityText(deviceText);
        window->Open();
        WaitIdle();
        window->SetCheck(IDC_CODE_OPTION, false);
    }
    // Uses an image file of this name (a copy of the demo image).
    void UseImage(const std::string& name)
    {
        WriteFileBytes(folder.Path() / "Data" / name, MakeDemoFirmware(1000));
        std::string path = ".\\Data\\" + name;
        dlg->ShowCodePath(path);
        dlg->RefreshCodeFileInfo(path);
    }
    std::string StoredText(size_t length)
    {
        std::vector<uint8_t> bytes = FlashRange(kIdBlock + 16, length);
        return {bytes.begin(), bytes.end()};
    }
    std::vector<MessageBoxRecord> Questions()
    {
        std::vector<MessageBoxRecord> q;
        for (const auto& m : window->MessageBoxes())
            if (m.caption == "Warning!!") q.push_back(m);
        return q;
    }
};

} // namespace

TEST(Identity, SameVersionAsksNothingAndRewritesTheBlock)
{
    IdentityRig rig("Vane_TX_V1030.fir");
    rig.UseImage("Vane_TX_V1030.fir");
    rig.PressExecute();
    EXPECT_TRUE(rig.Questions().empty());
    EXPECT_EQ(rig.StoredText(17), "Vane_TX_V1030.fir");
    EXPECT_FALSE(g_bDeclined);
    rig.Advance(200);
    EXPECT_EQ(rig.window->Text(IDC_VERSION), "Current version:Vane_TX_V1030");
}

TEST(Identity, OlderImageAsksAndCancelWritesNothing)
{
    IdentityRig rig("Vane_TX_V1030.fir");
    rig.UseImage("Vane_TX_V1020.fir");
    rig.window->QueueAnswer(IDCANCEL);
    rig.target.ClearTrace();
    rig.PressExecute();
    ASSERT_EQ(rig.Questions().size(), 1u);
    EXPECT_EQ(rig.Questions()[0].text, "Update File Version is old!\nContinue to upgrade?");
    EXPECT_EQ(rig.Questions()[0].type & 0xF, MB_OKCANCEL);
    EXPECT_TRUE(g_bDeclined);
    EXPECT_EQ(rig.StoredText(17), "Vane_TX_V1030.fir");
    for (const std::string& line : rig.target.Trace()) EXPECT_EQ(line.find("06 8b"), std::string::npos) << line;
    EXPECT_EQ(rig.dlg->LastJobOutcome(), JobOutcome::Failed);
}

TEST(Identity, OlderImageConfirmedIsWritten)
{
    IdentityRig rig("Vane_TX_V1030.fir");
    rig.UseImage("Vane_TX_V1020.fir");
    rig.window->QueueAnswer(IDOK);
    rig.PressExecute();
    EXPECT_EQ(rig.Questions().size(), 1u);
    EXPECT_EQ(rig.StoredText(17), "Vane_TX_V1020.fir");
}

TEST(Identity, FourthDigitTakesNoPart)
{
    IdentityRig rig("Vane_TX_V1030.fir");
    rig.UseImage("Vane_TX_V1039.fir");
    rig.PressExecute();
    EXPECT_TRUE(rig.Questions().empty());
    EXPECT_EQ(rig.StoredText(17), "Vane_TX_V1039.fir");
}

TEST(Identity, AnotherModelAsksThenStillChecksTheImageName)
{
    IdentityRig rig("Vane_RX_V1030.fir");
    rig.UseImage("Vane_TX_V1030.fir");
    rig.window->QueueAnswer(IDOK);
    rig.PressExecute();
    ASSERT_EQ(rig.Questions().size(), 1u);
    EXPECT_EQ(rig.Questions()[0].text, kIncompatibleQuestion);
    EXPECT_EQ(rig.StoredText(17), "Vane_TX_V1030.fir");

    IdentityRig declined("Vane_RX_V1030.fir");
    declined.UseImage("Vane_TX_V1030.fir");
    declined.window->QueueAnswer(IDCANCEL);
    declined.PressExecute();
    EXPECT_TRUE(g_bDeclined);
    EXPECT_EQ(declined.StoredText(17), "Vane_RX_V1030.fir");
}

TEST(Identity, RenamedOrShortImageIsAnInputFileError)
{
    for (const std::string name : {"Firmware_V1030.fir", "Vane_TX.bin"}) {
        SCOPED_TRACE(name);
        IdentityRig rig("Vane_TX_V1020.fir");
        rig.UseImage(name);
        rig.PressExecute();
        ASSERT_FALSE(rig.MessageTexts().empty());
        EXPECT_EQ(rig.MessageTexts().back(), " Input File Error!!");
        EXPECT_TRUE(g_bDeclined);
        EXPECT_EQ(rig.StoredText(17), "Vane_TX_V1020.fir");
    }
}

TEST(Identity, WithoutTheCheckAnyNameIsWrittenAndAShorterNameLeavesTheTail)
{
    IdentityRig rig("Vane_TX_V1020.fir-long-tail");
    rig.window->SetCheck(IDC_CHECK_ID, false);
    rig.UseImage("abc.bin");
    rig.PressExecute();
    EXPECT_TRUE(rig.MessageTexts().empty());
    EXPECT_EQ(rig.StoredText(27), "abc.bin_V1020.fir-long-tail");
}

TEST(Identity, OtherBytesOfTheBlockArePreservedAndTheRestOfItsEraseBlockIsErased)
{
    IdentityRig rig("Vane_TX_V1020.fir");
    std::vector<uint8_t> before(256);
    for (size_t i = 0; i < before.size(); ++i) before[i] = static_cast<uint8_t>(i * 7 + 3);
    const std::string text = "Vane_TX_V1020.fir";
    std::copy(text.begin(), text.end(), before.begin() + 16);
    rig.target.LoadFlash(kIdBlock, before);
    rig.target.LoadFlash(kIdBlock + 256, std::vector<uint8_t>(1000, 0x12));
    rig.UseImage("Vane_TX_V1030.fir");
    rig.PressExecute();

    std::vector<uint8_t> expected = before;
    const std::string written = "Vane_TX_V1030.fir";
    std::copy(written.begin(), written.end(), expected.begin() + 16);
    EXPECT_EQ(rig.FlashRange(kIdBlock, 256), expected);
    std::vector<uint8_t> rest = rig.FlashRange(kIdBlock + 256, 65536 - 256);
    EXPECT_EQ(rest, std::vector<uint8_t>(rest.size(), 0xFF));
}

TEST(Identity, OverlongNameIsCutToTheBlock)
{
    IdentityRig rig("Vane_TX_V1020.fir");
    rig.window->SetCheck(IDC_CHECK_ID, false);
    std::string longName(300, 'x');
    rig.UseImage("Vane_TX_V1030" + longName.substr(0, 200) + ".fir");
    rig.window->SetWindowText(IDC_ID_TEXT, longName);
    rig.PressExecute();
    EXPECT_EQ(rig.StoredText(240), std::string(240, 'x'));
    EXPECT_EQ(rig.FlashRange(kIdBlock + 256, 1)[0], 0xFF);
}

TEST(Identity, ReadIdHexShowsTheFirstTwentyBytes)
{
    IdentityRig rig("Vane_TX_V1020.fir");
    std::vector<uint8_t> head = {0x00, 0x1F, 0xA0, 0xFF};
    rig.target.LoadFlash(kIdBlock, head);
    rig.window->SendClick(IDC_READ_ID_HEX);
    EXPECT_EQ(rig.window->Text(IDC_ID_HEX), "001FA0FF" + std::string(24, 'F') + "56616E65");
}
