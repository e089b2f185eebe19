// The console display: the progress bar's figures, and what is printed when.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "programs/vane_upgrade/terminal_display.h"
#include "resources/resource.h"

namespace {

TEST(ProgressFigures, BarRateAndTime)
{
    EXPECT_EQ(FormatProgressBar(50, 1234567.0, 3, 10), "[#####-----]  50%  1.2 MB/s  0:03 left");
    EXPECT_EQ(FormatProgressBar(0, std::nullopt, std::nullopt, 4), "[----]   0%");
    EXPECT_EQ(FormatProgressBar(140, std::nullopt, std::nullopt, 4), "[####] 100%");
    EXPECT_EQ(FormatProgressBar(-3, std::nullopt, std::nullopt, 4), "[----]   0%");
    EXPECT_EQ(FormatRate(850), "850 B/s");
    EXPECT_EQ(FormatRate(12500), "12.5 kB/s");
    EXPECT_EQ(FormatDuration(7), "0:07");
    EXPECT_EQ(FormatDuration(754), "12:34");
    EXPECT_EQ(FormatDuration(3723), "1:02:03");
}

TEST(ProgressFigures, EstimateFromTheRunOfTheBar)
{
    ProgressEstimator e;
    e.Restart(1000, 200000);
    e.Update(1100, 10);
    EXPECT_FALSE(e.BytesPerSecond()) << "too early for a rate";
    e.Update(3000, 50); // 100000 bytes in 2 s
    ASSERT_TRUE(e.BytesPerSecond());
    EXPECT_DOUBLE_EQ(*e.BytesPerSecond(), 50000.0);
    EXPECT_EQ(e.SecondsLeft(), 2u);
    e.Update(3000, 100);
    EXPECT_EQ(e.SecondsLeft(), 0u);
    e.Restart(0, 0); // size unknown: time left, but no rate
    e.Update(1000, 25);
    EXPECT_FALSE(e.BytesPerSecond());
    EXPECT_EQ(e.SecondsLeft(), 3u);
}

class DisplayOutput : public ::testing::Test {
protected:
    void SetUp() override { out_ = open_memstream(&buffer_, &size_); }
    void TearDown() override
    {
        std::fclose(out_);
        std::free(buffer_);
    }
    std::string Text()
    {
        std::fflush(out_);
        return std::string(buffer_, size_);
    }
    VirtualClock clock_;
    char* buffer_ = nullptr;
    size_t size_ = 0;
    std::FILE* out_ = nullptr;
};

TEST_F(DisplayOutput, WithoutTerminalEveryChangeIsOneLine)
{
    TerminalDisplay d(out_, false, clock_);
    d.SetJobSizes({100000, 0});
    d.OnText(IDC_STATUS, "Connected");
    d.OnText(IDC_STATUS, "Connected");            // no change
    d.OnText(IDC_PRODUCT_LINE, "Vane   ");
    d.OnText(IDC_PROGRESS_TEXT, "Write CODE to SPI Flash ...");
    d.OnText(IDC_PROGRESS_TEXT, "Write CODE to SPI Flash ...");
    d.OnText(IDC_PROGRESS_TEXT, "");                // cleared: nothing to show
    d.OnText(IDC_CODE_NAME, "Vane_TX_V1030.fir");   // not a display control
    d.OnProgress(0);
    for (int p = 1; p <= 100; ++p) {
        clock_.Advance(10);
        d.OnProgress(p);
    }
    d.OnText(IDC_VERSION, "Current version:Vane_TX_V1030");
    d.Finish();
    const std::string expected = "Status: Connected\nProduct: Vane\nWrite CODE to SPI Flash ...\n"
                                 "Progress:  10%\nProgress:  20%\nProgress:  30%  100.0 kB/s  0:01 left\n";
    EXPECT_EQ(Text().substr(0, expected.size()), expected);
    EXPECT_NE(Text().find("Progress: 100%"), std::string::npos);
    EXPECT_EQ(Text().find("\r"), std::string::npos) << "no terminal control without a terminal";
    EXPECT_NE(Text().find("Current version:Vane_TX_V1030\n"), std::string::npos);
    size_t lines = 0;
    for (char c : Text()) lines += c == '\n';
    EXPECT_EQ(lines, 3u + 10u + 1u);
}

TEST_F(DisplayOutput, OnATerminalTheBarIsRedrawnInPlaceBelowTheLines)
{
    TerminalDisplay d(out_, true, clock_, 10);
    d.OnProgress(40);
    EXPECT_EQ(Text(), "\r[####------]  40%\033[K");
    d.OnText(IDC_STATUS, "Connected");
    const std::string tail = "\r\033[KStatus: Connected\n\r[####------]  40%\033[K";
    ASSERT_GE(Text().size(), tail.size());
    EXPECT_EQ(Text().substr(Text().size() - tail.size()), tail);
    d.ClearBar();
    d.Finish();
    EXPECT_EQ(Text().substr(Text().size() - 4), "\r\033[K");
}

} // namespace
