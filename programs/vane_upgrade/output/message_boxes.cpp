#include "programs/vane_upgrade/output/message_boxes.h"

#include <algorithm>
#include <cctype>

#include "framework/messages.h"

namespace {

constexpr int kMaxPrompts = 5;

std::string Lowered(std::string text)
{
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Stripped(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

} // namespace

std::string FormatMessageBox(const std::string& text, const std::string& caption)
{
    // The texts were written for a window: blank leading and trailing lines go.
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find('\n', start);
        lines.push_back(Stripped(text.substr(start, end == std::string::npos ? std::string::npos : end - start)));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    while (!lines.empty() && lines.front().empty()) lines.erase(lines.begin());
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    std::string result = "vane-upgrade: ";
    const std::string title = Stripped(caption);
    if (!title.empty()) {
        std::string bare = title;
        while (!bare.empty() && (bare.back() == '!' || bare.back() == ':')) bare.pop_back();
        result += bare + ": ";
    }
    for (size_t i = 0; i < lines.size(); ++i) result += (i == 0 ? "" : "\n  ") + lines[i];
    return result;
}

std::optional<int> AnswerOfTypedLine(const std::string& line)
{
    const std::string answer = Lowered(Stripped(line));
    if (answer == "o" || answer == "ok" || answer == "y" || answer == "yes") return IDOK;
    if (answer == "c" || answer == "cancel" || answer == "n" || answer == "no") return IDCANCEL;
    return std::nullopt;
}

ConsoleMessageBoxes::ConsoleMessageBoxes(QuestionPolicy policy, bool terminal, std::FILE* err,
                                         std::function<std::optional<std::string>()> readLine)
    : policy_(policy), terminal_(terminal), err_(err), readLine_(std::move(readLine))
{
}

void ConsoleMessageBoxes::Print(const std::string& text, const std::string& caption)
{
    if (beforePrint_) beforePrint_();
    std::fprintf(err_, "%s\n", FormatMessageBox(text, caption).c_str());
    std::fflush(err_);
}

std::optional<int> ConsoleMessageBoxes::Show(const std::string& text, const std::string& caption, unsigned type)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lastText_ = text;
    }
    if (!silent_) Print(text, caption);
    if ((type & 0xF) == MB_OK) {
        ++errorBoxes_;
        if (observer_) observer_(caption, text, std::nullopt);
        return std::nullopt;
    }
    const int answer = Ask(text, caption);
    if (answer != IDOK) ++declined_;
    if (observer_) observer_(caption, text, answer == IDOK);
    return answer;
}

int ConsoleMessageBoxes::Ask(const std::string& text, const std::string& caption)
{
    auto told = [this](const char* line) {
        if (silent_) return;
        std::fprintf(err_, "%s\n", line);
        std::fflush(err_);
    };
    switch (policy_) {
    case QuestionPolicy::Yes:
        told("  -> OK (--yes)");
        return IDOK;
    case QuestionPolicy::No:
        told("  -> Cancel (--no)");
        return IDCANCEL;
    case QuestionPolicy::Ask:
        break;
    }
    if (!terminal_ || !readLine_) {
        told("  -> Cancel (no terminal to ask; --yes answers OK)");
        return IDCANCEL;
    }
    if (silent_) Print(text, caption); // the user must see what is asked
    asking_ = true;
    int answer = IDCANCEL;
    for (int i = 0; i < kMaxPrompts; ++i) {
        std::fprintf(err_, "  [o]k or [c]ancel? ");
        std::fflush(err_);
        const std::optional<std::string> line = readLine_();
        if (!line) break; // end of input: Cancel
        if (const std::optional<int> typed = AnswerOfTypedLine(*line)) {
            answer = *typed;
            break;
        }
    }
    asking_ = false;
    std::fprintf(err_, "  -> %s\n", answer == IDOK ? "OK" : "Cancel");
    std::fflush(err_);
    return answer;
}

std::string ConsoleMessageBoxes::LastText() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return lastText_;
}

void ConsoleMessageBoxes::ResetCounts()
{
    errorBoxes_ = 0;
    declined_ = 0;
}
