#pragma once
// The window's message boxes on the console: every box is printed on
// standard error; a question (OK/Cancel) is answered by --yes (OK), --no
// (Cancel), by the user on a terminal, or with Cancel when there is none.
// The answerer also counts the boxes it showed and the questions declined;
// a job's outcome comes from the dialog itself, which keeps the same.
#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "programs/vane_upgrade/cli/options.h"

// The box as printed: "vane-upgrade: " and the text, its later lines indented;
// a caption other than the program's title is put in front ("Warning: ...").
std::string FormatMessageBox(const std::string& text, const std::string& caption);
// The answer to a line typed at the question's prompt: OK for "o", "ok", "y",
// "yes"; Cancel for "c", "cancel", "n", "no"; nothing for anything else.
std::optional<int> AnswerOfTypedLine(const std::string& line);

class ConsoleMessageBoxes {
public:
    // readLine: one line from the terminal, nothing at its end (EOF).
    ConsoleMessageBoxes(QuestionPolicy policy, bool terminal, std::FILE* err,
                        std::function<std::optional<std::string>()> readLine);

    // Runs before anything is printed (the display takes its bar away).
    void SetBeforePrint(std::function<void()> beforePrint) { beforePrint_ = std::move(beforePrint); }
    // Told of every box once it is over: the answer of a question, nothing for OK boxes.
    void SetObserver(std::function<void(const std::string& caption, const std::string& text, std::optional<bool> ok)> observer)
    {
        observer_ = std::move(observer);
    }
    // Silent boxes are not printed; only a question put to the user on the terminal is.
    void SetSilent(bool silent) { silent_ = silent; }
    // The window's message-box hook: the answer of a question, nothing for OK boxes.
    std::optional<int> Show(const std::string& text, const std::string& caption, unsigned type);

    // Since the last ResetCounts: boxes that were not questions, questions declined.
    int ErrorBoxes() const { return errorBoxes_.load(); }
    int Declined() const { return declined_.load(); }
    std::string LastText() const;
    void ResetCounts();
    // A question waits for the user now (a waiting user is not a hang).
    bool Asking() const { return asking_.load(); }

private:
    int Ask(const std::string& text, const std::string& caption);
    void Print(const std::string& text, const std::string& caption);

    const QuestionPolicy policy_;
    const bool terminal_;
    std::FILE* err_;
    std::function<std::optional<std::string>()> readLine_;
    std::function<void()> beforePrint_;
    std::function<void(const std::string&, const std::string&, std::optional<bool>)> observer_;
    bool silent_ = false;
    mutable std::mutex mutex_;
    std::string lastText_;
    std::atomic<int> errorBoxes_{0};
    std::atomic<int> declined_{0};
    std::atomic<bool> asking_{false};
};
