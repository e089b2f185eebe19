#pragma once
// The window's message boxes and file dialogs, answered from a script the
// test (or the console program) sets up, and kept for looking at afterwards.
// A question (any box but MB_OK) takes the hook's answer, else the next
// queued answer, else the default answer (IDOK); an OK box answers IDOK. A
// file dialog takes the next queued result, else asks the hook, else is
// cancelled. Hooks are called outside every lock of the window.
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "framework/messages.h"
#include "framework/window.h"

struct MessageBoxRecord {
    std::string text;
    std::string caption;                // as passed; empty: the program's title
    unsigned type = 0;
    int answer = 0;                     // 0 while the box is still open
};

class ScriptedDialogs {
public:
    using MessageBoxHook = std::function<std::optional<int>(const MessageBoxRecord&)>;
    using FileDialogHook = std::function<std::optional<FileDialogResult>(const FileDialogSpec&)>;

    void QueueAnswer(int answer);
    void SetDefaultAnswer(int answer);
    void SetMessageBoxHook(MessageBoxHook hook);
    std::vector<MessageBoxRecord> MessageBoxes() const;
    void QueueFileDialog(std::optional<FileDialogResult> result); // nullopt: cancelled
    void QueueFilePath(const std::string& path);         // name = the part after the last separator
    void SetFileDialogHook(FileDialogHook hook);
    std::vector<FileDialogSpec> FileDialogs() const;

    // The box shown and answered.
    int MessageBox(const std::string& text, const std::string& caption, unsigned type);
    // The dialog shown; false when cancelled.
    bool RunFileDialog(const FileDialogSpec& spec, FileDialogResult& result);

private:
    mutable std::mutex mutex_;
    std::deque<int> answers_;
    int defaultAnswer_ = IDOK;
    MessageBoxHook boxHook_;
    std::vector<MessageBoxRecord> boxes_;
    std::deque<std::optional<FileDialogResult>> fileAnswers_;
    FileDialogHook fileHook_;
    std::vector<FileDialogSpec> fileDialogs_;
};
