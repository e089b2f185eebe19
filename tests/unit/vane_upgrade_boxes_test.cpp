// Message boxes on the console: how they read, and who answers the questions.
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>

#include "framework/messages.h"
#include "programs/vane_upgrade/output/message_boxes.h"

namespace {

TEST(MessageBoxText, WindowTextBecomesConsoleLines)
{
    EXPECT_EQ(FormatMessageBox("Compare Error!!", ""), "vane-upgrade: Compare Error!!");
    EXPECT_EQ(FormatMessageBox("\nOffset address is larger than SPI flash size.\n ", "Warning"),
              "vane-upgrade: Warning: Offset address is larger than SPI flash size.");
    EXPECT_EQ(FormatMessageBox("Update File Version is old!\nContinue to upgrade?", "Warning!!"),
              "vane-upgrade: Warning: Update File Version is old!\n  Continue to upgrade?");
}

TEST(MessageBoxText, TypedAnswers)
{
    for (const char* ok : {"o", "OK\n", " yes ", "Y"}) EXPECT_EQ(AnswerOfTypedLine(ok), IDOK) << ok;
    for (const char* cancel : {"c", "Cancel\n", "no", "N"}) EXPECT_EQ(AnswerOfTypedLine(cancel), IDCANCEL) << cancel;
    for (const char* neither : {"", "\n", "maybe", "okay"}) EXPECT_FALSE(AnswerOfTypedLine(neither)) << neither;
}

class Boxes : public ::testing::Test {
protected:
    void SetUp() override { err_ = open_memstream(&buffer_, &size_); }
    void TearDown() override
    {
        std::fclose(err_);
        std::free(buffer_);
    }
    std::string Text()
    {
        std::fflush(err_);
        return std::string(buffer_, size_);
    }
    ConsoleMessageBoxes Make(QuestionPolicy policy, bool terminal)
    {
        return ConsoleMessageBoxes(policy, terminal, err_, [this]() -> std::optional<std::string> {
            ++reads_;
            if (typed_.empty()) return std::nullopt;
            std::string line = typed_.front();
            typed_.pop_front();
            return line;
        });
    }
    std::deque<std::string> typed_;
    int reads_ = 0;
    char* buffer_ = nullptr;
    size_t size_ = 0;
    std::FILE* err_ = nullptr;
};

TEST_F(Boxes, ErrorBoxesAreCountedAndNeedNoAnswer)
{
    ConsoleMessageBoxes boxes = Make(QuestionPolicy::Ask, true);
    int cleared = 0;
    boxes.SetBeforePrint([&] { ++cleared; });
    EXPECT_FALSE(boxes.Show("Write fail", "", MB_OK));
    EXPECT_EQ(boxes.ErrorBoxes(), 1);
    EXPECT_EQ(boxes.Declined(), 0);
    EXPECT_EQ(reads_, 0);
    EXPECT_EQ(cleared, 1);
    EXPECT_EQ(Text(), "vane-upgrade: Write fail\n");
    boxes.ResetCounts();
    EXPECT_EQ(boxes.ErrorBoxes(), 0);
}

TEST_F(Boxes, QuestionsByPolicy)
{
    ConsoleMessageBoxes yes = Make(QuestionPolicy::Yes, false);
    EXPECT_EQ(yes.Show("Continue?", "Warning!!", MB_OKCANCEL), IDOK);
    EXPECT_EQ(yes.Declined(), 0);
    ConsoleMessageBoxes no = Make(QuestionPolicy::No, true);
    EXPECT_EQ(no.Show("Continue?", "Warning!!", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(no.Declined(), 1);
    ConsoleMessageBoxes nobodyToAsk = Make(QuestionPolicy::Ask, false);
    EXPECT_EQ(nobodyToAsk.Show("Continue?", "Warning!!", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(reads_, 0) << "without a terminal nobody is asked";
    EXPECT_NE(Text().find("--yes"), std::string::npos);
}

TEST_F(Boxes, TheUserIsAskedUntilTheAnswerIsClear)
{
    ConsoleMessageBoxes boxes = Make(QuestionPolicy::Ask, true);
    typed_ = {"what?\n", "ok\n"};
    EXPECT_EQ(boxes.Show("Continue?", "Warning!!", MB_OKCANCEL), IDOK);
    EXPECT_EQ(reads_, 2);
    EXPECT_FALSE(boxes.Asking());
    typed_.clear(); // end of input
    EXPECT_EQ(boxes.Show("Continue?", "Warning!!", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(boxes.Declined(), 1);
    typed_ = {"x", "x", "x", "x", "x", "ok"}; // five unclear answers: Cancel, the sixth is never read
    EXPECT_EQ(boxes.Show("Continue?", "Warning!!", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(typed_.size(), 1u);
}

} // namespace
