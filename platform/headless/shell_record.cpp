#include "platform/headless/shell_record.h"

#include "platform/headless/state_lock.h"

void ShellRecord::SetString(int stringResource, const std::string& text)
{
    HeadlessStateLock lock(mutex_);
    strings_[stringResource] = text;
}

std::string ShellRecord::LoadString(int stringResource) const
{
    HeadlessStateLock lock(mutex_);
    auto it = strings_.find(stringResource);
    return it == strings_.end() ? std::string() : it->second;
}

void ShellRecord::SetHasSystemMenu(bool has)
{
    HeadlessStateLock lock(mutex_);
    hasSystemMenu_ = has;
}

bool ShellRecord::HasSystemMenu() const
{
    HeadlessStateLock lock(mutex_);
    return hasSystemMenu_;
}

void ShellRecord::AppendSystemMenu(int commandId, const std::string& text)
{
    HeadlessStateLock lock(mutex_);
    systemMenu_.push_back({commandId, text});
}

std::vector<SystemMenuItem> ShellRecord::SystemMenu() const
{
    HeadlessStateLock lock(mutex_);
    return systemMenu_;
}

void ShellRecord::ToolTipCreate()
{
    HeadlessStateLock lock(mutex_);
    toolTipCreated_ = true;
}

void ShellRecord::ToolTipActivate(bool active)
{
    HeadlessStateLock lock(mutex_);
    toolTipActive_ = active;
}

void ShellRecord::ToolTipAddTool(int id, const std::string& text)
{
    HeadlessStateLock lock(mutex_);
    toolTips_.push_back({id, text});
}

void ShellRecord::ToolTipUpdateTipText(int id, const std::string& text)
{
    HeadlessStateLock lock(mutex_);
    for (ToolTipInfo& t : toolTips_) {
        if (t.id == id) {
            t.text = text;
            return;
        }
    }
}

void ShellRecord::ToolTipSetMaxTipWidth(int width)
{
    HeadlessStateLock lock(mutex_);
    toolTipMaxWidth_ = width;
}

bool ShellRecord::ToolTipCreated() const
{
    HeadlessStateLock lock(mutex_);
    return toolTipCreated_;
}

bool ShellRecord::ToolTipActive() const
{
    HeadlessStateLock lock(mutex_);
    return toolTipActive_;
}

int ShellRecord::ToolTipMaxWidth() const
{
    HeadlessStateLock lock(mutex_);
    return toolTipMaxWidth_;
}

std::vector<ToolTipInfo> ShellRecord::ToolTips() const
{
    HeadlessStateLock lock(mutex_);
    return toolTips_;
}

void ShellRecord::DragAcceptFiles(bool accept)
{
    HeadlessStateLock lock(mutex_);
    acceptsFiles_ = accept;
}

bool ShellRecord::AcceptsFiles() const
{
    HeadlessStateLock lock(mutex_);
    return acceptsFiles_;
}

void ShellRecord::SetCursorPos(Point p)
{
    HeadlessStateLock lock(mutex_);
    cursor_ = p;
}

Point ShellRecord::CursorPos() const
{
    HeadlessStateLock lock(mutex_);
    return cursor_;
}

void ShellRecord::AddIcon(int iconResource)
{
    HeadlessStateLock lock(mutex_);
    icons_.push_back(iconResource);
}

std::vector<int> ShellRecord::Icons() const
{
    HeadlessStateLock lock(mutex_);
    return icons_;
}

void ShellRecord::AboutBoxShown()
{
    HeadlessStateLock lock(mutex_);
    ++aboutBoxes_;
}

int ShellRecord::AboutBoxesShown() const
{
    HeadlessStateLock lock(mutex_);
    return aboutBoxes_;
}

void ShellRecord::AddDefaultCall(const DefaultCall& call)
{
    HeadlessStateLock lock(mutex_);
    defaultCalls_.push_back(call);
}

std::vector<DefaultCall> ShellRecord::DefaultCalls() const
{
    HeadlessStateLock lock(mutex_);
    return defaultCalls_;
}
