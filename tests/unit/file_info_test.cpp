// Image names and the file information of the window.
#include "dialog_fixture.h"

#include <sys/stat.h>
#include <utime.h>

#include "firmware/image_name.h"

TEST(ImageName, VersionFromRawCharacterCodes)
{
    EXPECT_EQ(VersionNumberOf("Vane_TX_V1030.fir"), 103u);
    EXPECT_EQ(VersionNumberOf("Vane_TX_V0990.fir"), 99u);
    // Non-digits enter the sum with their raw codes, modulo 2^32.
    EXPECT_EQ(VersionNumberOf("Vane_TX_VA00.fir"), static_cast<uint32_t>(('A' - '0') * 100));
    EXPECT_EQ(VersionNumberOf("Vane_TX_V !0.fir"), static_cast<uint32_t>((' ' - '0') * 100 + ('!' - '0') * 10));
    EXPECT_FALSE(VersionNumberOf("Vane_TX_V10").has_value()); // 11 characters: no third digit
    EXPECT_TRUE(VersionNumberOf("Vane_TX_V103").has_value());
    EXPECT_TRUE(HasModelTag("Vane_TX_V1030.fir"));
    EXPECT_FALSE(HasModelTag("Vane_RX_V1030.fir"));
    EXPECT_FALSE(HasModelTag("Vane_T"));
    EXPECT_EQ(FileNameOf(".\\Data\\Vane_TX_V1030.fir"), "Vane_TX_V1030.fir");
    EXPECT_EQ(FileNameOf("/tmp/x/y.bin"), "y.bin");
    EXPECT_EQ(FileNameOf("plain.fir"), "plain.fir");
}

TEST(ImageName, SizeTextsAtTheThresholds)
{
    EXPECT_EQ(SizeText(0), "0 Bytes");
    EXPECT_EQ(SizeText(10239), "10239 Bytes");
    EXPECT_EQ(SizeText(10240), "10.00 KBytes");
    EXPECT_EQ(SizeText(200000), "195.31 KBytes");
    EXPECT_EQ(SizeText(1048575), "1024.00 KBytes");
    EXPECT_EQ(SizeText(1048576), "1.00 MBytes");
}

TEST(ImageName, DateText)
{
    std::tm t{};
    t.tm_year = 2012 - 1900;
    t.tm_mon = 7;
    t.tm_mday = 5;
    t.tm_hour = 14;
    t.tm_min = 3;
    t.tm_sec = 9;
    EXPECT_EQ(DateText(&t), "2012-08-05 14:03:09 ");
    EXPECT_EQ(DateText(nullptr), "0000-00-00 -1:-1:-1 ");
}

TEST(FileInfo, StartUpShowsTheDefaultImage)
{
    DialogRig rig;
    EXPECT_EQ(rig.window->Text(IDC_CODE_NAME), "Vane_TX_V1030.fir");
    EXPECT_EQ(rig.window->Text(IDC_ID_TEXT), "Vane_TX_V1030.fir");
    EXPECT_EQ(rig.window->Text(IDC_CODE_SIZE), "195.31 KBytes");
    EXPECT_EQ(rig.window->Text(IDC_CODE_PATH), ".\\Data\\Vane_TX_V1030.fir");
    EXPECT_EQ(rig.dlg->m_nCodeSize, 200000);
    EXPECT_EQ(rig.window->Text(IDC_CODE_DATE).size(), 20u);
    EXPECT_TRUE(rig.window->Checked(IDC_CODE_OPTION));
    EXPECT_FALSE(rig.window->Checked(IDC_DATA_OPTION));
    EXPECT_TRUE(rig.window->Checked(IDC_CHECK_ID));
    EXPECT_FALSE(rig.window->Visible(IDC_DUMP_LENGTH));
    EXPECT_FALSE(rig.window->Enabled(IDC_DUMP_LENGTH));
}

TEST(FileInfo, DateOfTheFileInLocalTime)
{
    DialogRig rig;
    std::tm t{};
    t.tm_year = 2012 - 1900;
    t.tm_mon = 7;
    t.tm_mday = 5;
    t.tm_hour = 14;
    t.tm_min = 3;
    t.tm_sec = 9;
    t.tm_isdst = -1;
    utimbuf times{mktime(&t), mktime(&t)};
    ASSERT_EQ(utime((rig.folder.Path() / "Data" / "Vane_TX_V1030.fir").c_str(), &times), 0);
    rig.Advance(2000);
    EXPECT_EQ(rig.window->Text(IDC_CODE_DATE), "2012-08-05 14:03:09 ");
}

TEST(FileInfo, WithoutTheDataFolderTheCodeFileIsUnknown)
{
    DialogRig rig({.demoImages = false});
    EXPECT_EQ(rig.window->Text(IDC_CODE_NAME), "Unknown");
    EXPECT_EQ(rig.window->Text(IDC_CODE_DATE), "Unknown");
    EXPECT_EQ(rig.window->Text(IDC_CODE_SIZE), "Unknown");
    EXPECT_TRUE(rig.dlg->m_strCodePath.empty());
    EXPECT_EQ(rig.dlg->m_nCodeSize, 0);
}

TEST(FileInfo, DeletedCodeFileTurnsUnknownAtTheNextTickAndStaysForgotten)
{
    DialogRig rig;
    fs::path image = rig.folder.Path() / "Data" / "Vane_TX_V1030.fir";
    std::vector<uint8_t> bytes = ReadFileBytes(image);
    fs::remove(image);
    rig.Advance(2000);
    EXPECT_EQ(rig.window->Text(IDC_CODE_NAME), "Unknown");
    EXPECT_TRUE(rig.dlg->m_strCodePath.empty());
    WriteFileBytes(image, bytes);
    rig.Advance(2000);
    EXPECT_EQ(rig.window->Text(IDC_CODE_NAME), "Unknown");
}

TEST(FileInfo, InDumpModeAMissingFileChangesNothing)
{
    DialogRig rig;
    rig.window->SelectComboRow(IDC_MODE, kModeRowDump);
    rig.WaitIdle();
    fs::remove(rig.folder.Path() / "Data" / "Vane_TX_V1030.fir");
    rig.Advance(2000);
    EXPECT_EQ(rig.window->Text(IDC_CODE_NAME), "Vane_TX_V1030.fir");
    EXPECT_FALSE(rig.dlg->m_strCodePath.empty());
}

TEST(FileInfo, EmptyFileIsZeroBytes)
{
    DialogRig rig;
    WriteFileBytes(rig.folder.Path() / "Data" / "Vane_TX_V1040.fir", {});
    rig.dlg->ShowCodePath(".\\Data\\Vane_TX_V1040.fir");
    rig.Advance(2000);
    EXPECT_EQ(rig.window->Text(IDC_CODE_SIZE), "0 Bytes");
    EXPECT_EQ(rig.dlg->m_nCodeSize, 0);
}
