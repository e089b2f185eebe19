// The product's main job, end to end: plug in, connect, read the version,
// press Upgrade, flash loader, re-enumeration, download, "Complete!".
#include "dialog_fixture.h"

#include <sstream>

namespace {

std::vector<std::string> Split(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

// The CDB's sub-code and direction/length/timeout of one trace line.
struct TraceCommand {
    std::string subCode, direction;
    uint32_t length = 0, timeout = 0;
    std::string cdb;
    bool ok = false;
};

TraceCommand Parse(const std::string& line)
{
    std::vector<std::string> w = Split(line);
    TraceCommand c;
    for (int i = 0; i < 10; ++i) c.cdb += (i ? " " : "") + w[static_cast<size_t>(i)];
    c.subCode = w[1];
    c.direction = w[10];
    c.length = static_cast<uint32_t>(std::stoul(w[11]));
    c.timeout = static_cast<uint32_t>(std::stoul(w[12]));
    c.ok = w[13] == "ok";
    return c;
}

} // namespace

TEST(Upgrade, PlugInConnectsAndShowsTheVersionOnce)
{
    DialogRig rig;
    EXPECT_EQ(rig.window->Text(IDC_STATUS), "Connected");
    EXPECT_EQ(rig.window->Text(IDC_PRODUCT_LINE), "Vane   ");
    EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), "");
    EXPECT_TRUE(rig.dlg->m_strFlashSize.empty());
    EXPECT_EQ(rig.window->Text(IDC_VERSION), "Current version: Unknown");
    rig.target.ClearTrace();
    rig.Advance(200);
    EXPECT_EQ(rig.window->Text(IDC_VERSION), "Current version:Vane_TX_V1020");
    // Exactly one version read: one set-address to the identity block and one read of 32 bytes.
    std::vector<std::string> trace = rig.target.Trace();
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0], "06 55 00 00 04 40 00 00 00 00 in 3583 5 ok");
    EXPECT_EQ(trace[1], "06 71 20 00 00 00 00 00 00 00 in 32 2 ok");
    rig.Advance(5000);
    EXPECT_EQ(rig.target.Trace().size(), 2u);
}

TEST(Upgrade, FromTheBootRomThroughTheFlashLoaderToComplete)
{
    DialogRig rig;
    rig.Advance(200);
    rig.target.ClearTrace();
    rig.PressExecute();

    EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), "Complete!");
    EXPECT_EQ(rig.window->ProgressPos(IDC_PROGRESS), 100);
    EXPECT_TRUE(rig.window->Enabled(IDC_EXECUTE));
    EXPECT_FALSE(rig.dlg->m_bBusy);
    EXPECT_EQ(rig.dlg->LastJobOutcome(), JobOutcome::Succeeded);
    EXPECT_TRUE(rig.MessageTexts().empty());
    EXPECT_EQ(rig.target.BootState(), kFlashLoaderState);

    // The flash holds the image byte for byte, and the identity names it.
    std::vector<uint8_t> image = MakeDemoFirmware();
    EXPECT_EQ(rig.FlashRange(0, image.size()), image);
    std::vector<uint8_t> id = rig.FlashRange(kEmuIdBlockOffset + 16, 17);
    EXPECT_EQ(std::string(id.begin(), id.end()), "Vane_TX_V1030.fir");

    rig.Advance(200);
    EXPECT_EQ(rig.window->Text(IDC_VERSION), "Current version:Vane_TX_V1030");
}

TEST(Upgrade, WireTraceFollowsTheOrderOfCalls)
{
    DialogRig rig;
    rig.Advance(200);
    rig.target.ClearTrace();
    rig.PressExecute();
    std::vector<TraceCommand> cmds;
    for (const std::string& line : rig.target.Trace()) cmds.push_back(Parse(line));

    size_t i = 0;
    auto expect = [&](const std::string& cdb, const std::string& dir, uint32_t length, uint32_t timeout) {
        ASSERT_LT(i, cmds.size());
        EXPECT_EQ(cmds[i].cdb, cdb) << "command " << i;
        EXPECT_EQ(cmds[i].direction, dir) << "command " << i;
        EXPECT_EQ(cmds[i].length, length) << "command " << i;
        EXPECT_EQ(cmds[i].timeout, timeout) << "command " << i;
        ++i;
    };
    auto skipWhile = [&](const std::string& subCode) {
        while (i < cmds.size() && cmds[i].subCode == subCode) ++i;
    };
    // Dispatcher: ping, boot state.
    expect("06 51 01 00 00 00 00 00 00 00", "in", 8, 1);
    expect("06 91 01 00 00 00 00 00 00 00", "in", 8, 5);
    // Flash loader to SRAM: set-address 0, two pieces (4096, then 6000-4096 = 1904 -> 2048), execute.
    expect("06 55 00 00 00 00 00 00 00 00", "in", 3583, 2);
    expect("06 72 00 10 00 00 00 00 00 00", "out", 4096, 30);
    expect("06 72 00 08 00 00 00 00 00 00", "out", 2048, 30);
    expect("06 60 00 00 00 00 00 00 00 00", "in", 3583, 5);
    // Reconnect: failed commands while the target is away are not on the bus; a ping on the new volume.
    while (i < cmds.size() && !(cmds[i].subCode == "51" && cmds[i].ok)) ++i;
    expect("06 51 01 00 00 00 00 00 00 00", "in", 8, 1);
    expect("06 85 00 00 00 00 00 00 00 00", "in", 8, 2);
    // Identity step: read twice, erase, polls, rewrite 256 bytes, read back.
    for (int read = 0; read < 2; ++read) {
        expect("06 55 00 00 04 40 00 00 00 00", "in", 3583, 5);
        expect("06 71 00 01 00 00 00 00 00 00", "in", 256, 2);
    }
    expect("06 55 00 00 04 40 00 00 00 00", "in", 3583, 5);
    expect("06 8b 01 00 00 00 00 00 00 00", "in", 8, 3);
    skipWhile("89");
    expect("06 55 00 00 04 40 00 00 00 00", "in", 3583, 5);
    expect("06 72 00 01 00 00 00 00 00 00", "out", 256, 30);
    expect("06 55 00 00 04 40 00 00 00 00", "in", 3583, 5);
    expect("06 71 00 01 00 00 00 00 00 00", "in", 256, 2);
    // Code image: flash mode, short flash-base form, status, 4 erases with polls.
    expect("06 91 01 00 00 00 00 00 00 00", "in", 8, 5);
    expect("06 55 00 00 00 40 00 00 00 00", "in", 8, 2);
    expect("06 89 00 00 00 00 00 00 00 00", "in", 8, 3);
    for (int block = 0; block < 4; ++block) {
        expect("06 8b 01 00 00 00 00 00 00 00", "in", 8, 3);
        ASSERT_LT(i, cmds.size());
        EXPECT_EQ(cmds[i].subCode, "89");
        skipWhile("89");
    }
    // Long flash-base form, 12 writes of 16 KiB and the last rounded to 256 (200000 - 12*16384 = 3392 -> 3584).
    expect("06 55 00 00 00 40 00 00 00 00", "in", 3583, 2);
    for (int piece = 0; piece < 12; ++piece) expect("06 72 00 40 00 00 00 00 00 00", "out", 16384, 30);
    expect("06 72 00 0e 00 00 00 00 00 00", "out", 3584, 30);
    // One final status, then the read-back: 3 reads of 64 KiB and the rest (200000 - 196608 = 3392).
    expect("06 89 00 00 00 00 00 00 00 00", "in", 8, 3);
    expect("06 55 00 00 00 40 00 00 00 00", "in", 3583, 2);
    for (int piece = 0; piece < 3; ++piece) expect("06 71 00 00 01 00 00 00 00 00", "in", 65536, 2);
    expect("06 71 40 0d 00 00 00 00 00 00", "in", 3392, 2);
    EXPECT_EQ(i, cmds.size());
}

TEST(Upgrade, InFlashModeTheDownloadStartsAtOnce)
{
    DialogRig rig({.bootState = kFlashLoaderState});
    rig.Advance(200);
    rig.target.ClearTrace();
    rig.PressExecute();
    EXPECT_EQ(rig.window->Text(IDC_PROGRESS_TEXT), "Complete!");
    std::vector<std::string> trace = rig.target.Trace();
    ASSERT_GE(trace.size(), 3u);
    EXPECT_EQ(Parse(trace[2]).cdb, "06 55 00 00 04 40 00 00 00 00"); // identity step right after ping and state
}
