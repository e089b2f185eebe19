#include "platform/headless/scripted_dialogs.h"

#include "platform/headless/state_lock.h"

void ScriptedDialogs::QueueAnswer(int answer)
{
    HeadlessStateLock lock(mutex_);
    answers_.push_back(answer);
}

void ScriptedDialogs::SetDefaultAnswer(int answer)
{
    HeadlessStateLock lock(mutex_);
    defaultAnswer_ = answer;
}

void ScriptedDialogs::SetMessageBoxHook(MessageBoxHook hook)
{
    HeadlessStateLock lock(mutex_);
    boxHook_ = std::move(hook);
}

std::vector<MessageBoxRecord> ScriptedDialogs::MessageBoxes() const
{
    HeadlessStateLock lock(mutex_);
    return boxes_;
}

void ScriptedDialogs::QueueFileDialog(std::optional<FileDialogResult> result)
{
    HeadlessStateLock lock(mutex_);
    fileAnswers_.push_back(std::move(result));
}

void ScriptedDialogs::QueueFilePath(const std::string& path)
{
    const size_t slash = path.find_last_of("\\/");
    QueueFileDialog(FileDialogResult{path, slash == std::string::npos ? path : path.substr(slash + 1)});
}

void ScriptedDialogs::SetFileDialogHook(FileDialogHook hook)
{
    HeadlessStateLock lock(mutex_);
    fileHook_ = std::move(hook);
}

std::vector<FileDialogSpec> ScriptedDialogs::FileDialogs() const
{
    HeadlessStateLock lock(mutex_);
    return fileDialogs_;
}

int ScriptedDialogs::MessageBox(const std::string& text, const std::string& caption, unsigned type)
{
    const bool question = (type & 0xF) != MB_OK;
    const MessageBoxRecord record{text, caption, type, 0};
    size_t index;
    MessageBoxHook hook;
    {
        HeadlessStateLock lock(mutex_);
        boxes_.push_back(record);
        index = boxes_.size() - 1;
        hook = boxHook_;
    }
    HeadlessStateLock::CheckNoneHeld();
    std::optional<int> hookAnswer;
    if (hook) hookAnswer = hook(record);
    HeadlessStateLock lock(mutex_);
    int answer = IDOK;
    if (question) {
        if (hookAnswer) {
            answer = *hookAnswer;
        } else if (!answers_.empty()) {
            answer = answers_.front();
            answers_.pop_front();
        } else {
            answer = defaultAnswer_;
        }
    }
    boxes_[index].answer = answer;
    return answer;
}

bool ScriptedDialogs::RunFileDialog(const FileDialogSpec& spec, FileDialogResult& result)
{
    std::optional<FileDialogResult> answer;
    FileDialogHook hook;
    {
        HeadlessStateLock lock(mutex_);
        fileDialogs_.push_back(spec);
        if (!fileAnswers_.empty()) {
            answer = std::move(fileAnswers_.front());
            fileAnswers_.pop_front();
        } else {
            hook = fileHook_;
        }
    }
    HeadlessStateLock::CheckNoneHeld();
    if (hook) answer = hook(spec);
    if (!answer) return false;
    result = *answer;
    return true;
}
