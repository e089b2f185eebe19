// The console's output: the progress figures, and what each mode prints of a job's events.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "programs/vane_upgrade/output/human_output.h"
#include "programs/vane_upgrade/output/json_output.h"
#include "programs/vane_upgrade/output/progress_figures.h"
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

class Output : public ::testing::Test {
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
    // An upgrade as the window shows it: connection, version, then each
    // phase's step text and bar positions, 100 ms apart.
    void Upgrade(EventReporter& r)
    {
        r.SetLocator([](std::string& port, std::string& node) {
            port = "1-1.4";
            node = "/dev/sg2";
        });
        r.OnText(IDC_STATUS, "Connected");
        r.OnText(IDC_PRODUCT_LINE, "Vane   ");
        r.OnText(IDC_VERSION, "Current version:Vane_TX_V1020");
        r.OnProgress(30); // no job yet: not the job's bar
        r.JobStarting(Command::Upgrade, {200000, 0});
        for (const char* step : {"Block Erasing ...", "Write CODE to SPI Flash ...", "Data Compare..."}) {
            r.OnText(IDC_PROGRESS_TEXT, step);
            r.OnText(IDC_PROGRESS_TEXT, step); // set again for every piece
            for (int p = 5; p <= 100; p += 5) {
                clock_.Advance(100);
                r.OnProgress(p);
            }
            r.OnProgress(0);
        }
        r.OnText(IDC_PROGRESS_TEXT, "Complete!");
        r.JobEnded();
        r.OnText(IDC_VERSION, "Unknown");
        r.OnText(IDC_VERSION, "Current version:Vane_TX_V1030");
        ConsoleEvent result;
        result.outcome = "completed";
        result.text = "Complete!";
        r.Result(result);
    }
    VirtualClock clock_;
    char* buffer_ = nullptr;
    size_t size_ = 0;
    std::FILE* out_ = nullptr;
};

TEST_F(Output, PlainLinesForEveryStepAndEachQuarterOfEveryPhase)
{
    HumanOutput human(out_, out_, false, Verbosity::Normal);
    EventReporter reporter(human, clock_, nullptr, "-");
    Upgrade(reporter);
    const std::string expected = "Target: port 1-1.4, node /dev/sg2\n"
                                 "Current version:Vane_TX_V1020\n"
                                 "Block Erasing ...\n"
                                 "  erase   25%  131.1 kB/s  0:02 left\n  erase   50%  131.1 kB/s  0:01 left\n"
                                 "  erase   75%  131.1 kB/s  0:01 left\n  erase  100%  131.1 kB/s\n"
                                 "Write CODE to SPI Flash ...\n"
                                 "  write   25%  100.0 kB/s  0:02 left\n  write   50%  100.0 kB/s  0:01 left\n"
                                 "  write   75%  100.0 kB/s  0:01 left\n  write  100%  100.0 kB/s\n"
                                 "Data Compare...\n"
                                 "  verify  25%  100.0 kB/s  0:02 left\n  verify  50%  100.0 kB/s  0:01 left\n"
                                 "  verify  75%  100.0 kB/s  0:01 left\n  verify 100%  100.0 kB/s\n"
                                 "Complete!\n"
                                 "Current version:Vane_TX_V1030\n"
                                 "Result: completed in 0:06  (Vane_TX_V1020 -> Vane_TX_V1030)\n";
    EXPECT_EQ(Text(), expected);
}

struct Recorder : IEventSink {
    void Emit(const ConsoleEvent& e) override
    {
        if (e.kind == EventKind::Progress) runs.push_back(e.phase + " " + std::to_string(e.total.value_or(0)));
    }
    std::vector<std::string> runs;
};

TEST_F(Output, EachPhaseCountsTheBytesOfItsOwnFile)
{
    Recorder recorder;
    EventReporter reporter(recorder, clock_, nullptr, "-");
    reporter.JobStarting(Command::Upgrade, {200000, 150256});
    for (const char* step : {"Block Erasing ...", "Write CODE to SPI Flash ...", "Data Compare...", "Block Erasing ...",
                             "Write DATA to SPI Flash ...", "Data Compare..."}) {
        reporter.OnText(IDC_PROGRESS_TEXT, step);
        reporter.OnProgress(100);
        reporter.OnProgress(0);
    }
    const std::vector<std::string> expected = {"erase 262144", "write 200000", "verify 200000",
                                               "erase 196608", "data 150256",  "verify 150256"};
    EXPECT_EQ(recorder.runs, expected);
}

TEST_F(Output, OnATerminalTheBarIsRedrawnInPlace)
{
    HumanOutput human(out_, out_, true, Verbosity::Normal, 10);
    EventReporter reporter(human, clock_, nullptr, "emulated");
    reporter.JobStarting(Command::Dump, {1000, 0});
    reporter.OnText(IDC_PROGRESS_TEXT, "Downloading SPI Data...");
    reporter.OnProgress(40);
    EXPECT_EQ(Text(), "Downloading SPI Data...\n\r  dump   [####------]  40%\033[K");
    human.ClearBar(); // a box is printed: a bar short of its end goes
    EXPECT_EQ(Text().substr(Text().size() - 4), "\r\033[K");
    reporter.OnProgress(100);
    reporter.OnText(IDC_PROGRESS_TEXT, "Complete!"); // a full bar stays as its phase's line
    EXPECT_TRUE(Text().ends_with("\r  dump   [##########] 100%\033[K\nComplete!\n")) << Text();
}

TEST_F(Output, QuietShowsTheResultOnlyAndJsonEveryEventOnItsLine)
{
    HumanOutput quiet(out_, out_, false, Verbosity::Quiet);
    EventReporter reporter(quiet, clock_, nullptr, "-");
    Upgrade(reporter);
    EXPECT_EQ(Text(), "Result: completed in 0:06  (Vane_TX_V1020 -> Vane_TX_V1030)\n");

    ConsoleEvent question;
    question.kind = EventKind::Question;
    question.wallMs = 1796726712345; // 2026-12-08 10:45:12.345
    question.port = "emu-3";
    question.caption = "Warning!!";
    question.text = "Update File Version is old!\n\"Continue?\"\xff";
    question.answer = "cancel";
    const auto parsed = nlohmann::json::parse(JsonEventLine(question));
    EXPECT_EQ(parsed["v"], kJsonEventsVersion);
    EXPECT_EQ(parsed["time"], "2026-12-08T10:45:12.345Z");
    EXPECT_EQ(parsed["port"], "emu-3");
    EXPECT_EQ(parsed["event"], "question");
    EXPECT_EQ(parsed["text"], "Update File Version is old!\n\"Continue?\"\xef\xbf\xbd") << "a byte that is no UTF-8 is replaced";
    EXPECT_EQ(parsed["answer"], "cancel");
    EXPECT_EQ(JsonEventLine(question).find('\n'), std::string::npos);
}

} // namespace
