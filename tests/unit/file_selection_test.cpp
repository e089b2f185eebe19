// The mode list and the ways a file becomes the code image: browse buttons,
// drops and the typed path, in each mode.
#include "dialog_fixture.h"

namespace {

std::string MakeFile(const WorkingFolder& folder, const std::string& name, size_t size)
{
    const fs::path path = folder.Path() / name;
    WriteFileBytes(path, std::vector<uint8_t>(size, 0x5A));
    return path.string();
}

} // namespace

TEST(FileSelection, SramCodeFileMayHoldAt32KiB)
{
    DialogRig rig;
    ASSERT_TRUE(rig.window->SelectComboRow(IDC_MODE, kModeRowSram));
    EXPECT_EQ(rig.window->Text(IDC_EXECUTE), "Download");
    const std::string fits = MakeFile(rig.folder, "fits.bin", 32768);
    const std::string tooLong = MakeFile(rig.folder, "toolong.bin", 32769);

    rig.window->QueueFilePath(fits);
    rig.window->SendClick(IDC_CODE_BUTTON);
    EXPECT_TRUE(rig.MessageTexts().empty());
    EXPECT_EQ(rig.window->Text(IDC_CODE_PATH), fits);
    EXPECT_EQ(rig.dlg->m_nCodeSize, 32768);

    rig.window->QueueFilePath(tooLong);
    rig.window->SendClick(IDC_CODE_BUTTON);
    EXPECT_EQ(rig.MessageTexts(), std::vector<std::string>{"File Size is larger than 32K!!!"});
    EXPECT_EQ(rig.window->Text(IDC_CODE_PATH), fits);
}

TEST(FileSelection, DropsBelowTheDataButtonAreIgnoredOnlyInSpiMode)
{
    DialogRig rig;
    const int dataTop = rig.window->GetWindowRect(IDC_DATA_BUTTON).top;
    const std::string first = MakeFile(rig.folder, "first.bin", 100);
    const std::string second = MakeFile(rig.folder, "second.bin", 100);
    const std::string before = rig.window->Text(IDC_CODE_PATH);

    ASSERT_TRUE(rig.window->DropFiles({first}, {150, dataTop}));
    EXPECT_EQ(rig.window->Text(IDC_CODE_PATH), before);
    ASSERT_TRUE(rig.window->DropFiles({first, second}, {150, dataTop - 1}));
    EXPECT_EQ(rig.window->Text(IDC_CODE_PATH), first);

    for (int row : {kModeRowSram, kModeRowDump}) {
        SCOPED_TRACE(row);
        ASSERT_TRUE(rig.window->SelectComboRow(IDC_MODE, row));
        const std::string path = MakeFile(rig.folder, "row" + std::to_string(row) + ".bin", 100);
        ASSERT_TRUE(rig.window->DropFiles({path}, {150, dataTop + 40}));
        EXPECT_EQ(rig.window->Text(IDC_CODE_PATH), path);
    }
}

TEST(FileSelection, SramModeIsRefusedWhileTheTargetRunsTheFlashLoader)
{
    DialogRig rig({.bootState = kFlashLoaderState});
    ASSERT_TRUE(rig.window->SelectComboRow(IDC_MODE, kModeRowSram));
    EXPECT_EQ(rig.MessageTexts(), std::vector<std::string>{"Please reboot the target for SDRAM download!"});
    EXPECT_EQ(rig.window->ComboSel(IDC_MODE), kModeRowSpi);
    EXPECT_EQ(rig.window->Text(IDC_EXECUTE), "Download"); // the caption is not put back
}

TEST(FileSelection, TypedPathInDumpModeCreatesAnEmptyFile)
{
    DialogRig rig;
    const fs::path spiPath = rig.folder.Path() / "not_there.bin";
    rig.window->SetWindowText(IDC_CODE_PATH, spiPath.string());
    EXPECT_FALSE(fs::exists(spiPath)) << "only Dump mode creates the file";

    ASSERT_TRUE(rig.window->SelectComboRow(IDC_MODE, kModeRowDump));
    EXPECT_TRUE(rig.window->Visible(IDC_DUMP_LENGTH));
    const fs::path typed = rig.folder.Path() / "out.bin";
    rig.window->SetWindowText(IDC_CODE_PATH, typed.string());
    ASSERT_TRUE(fs::exists(typed));
    EXPECT_EQ(fs::file_size(typed), 0u);
}

TEST(FileSelection, DataButtonWorksOnlyInSpiMode)
{
    DialogRig rig;
    rig.window->SetCheck(IDC_DATA_OPTION, true);
    rig.dlg->EnableJobControls(true);
    const std::string data = MakeFile(rig.folder, "data.bin", 100);
    rig.window->SetFileDialogHook([&](const FileDialogSpec&) { return FileDialogResult{data, "data.bin"}; });

    for (int row : {kModeRowSram, kModeRowDump}) {
        SCOPED_TRACE(row);
        ASSERT_TRUE(rig.window->SelectComboRow(IDC_MODE, row));
        ASSERT_TRUE(rig.window->Click(IDC_DATA_BUTTON));
        EXPECT_TRUE(rig.window->FileDialogs().empty());
        EXPECT_EQ(rig.window->Text(IDC_DATA_PATH), "");
    }
    ASSERT_TRUE(rig.window->SelectComboRow(IDC_MODE, kModeRowSpi));
    ASSERT_TRUE(rig.window->Click(IDC_DATA_BUTTON));
    EXPECT_EQ(rig.window->FileDialogs().size(), 1u);
    EXPECT_EQ(rig.window->Text(IDC_DATA_PATH), data);
}
