#pragma once
// What the dialog asked of the window's frame and the shell, kept for the
// tests to look at: the tooltip and its tools, the system menu, icons, the
// about box, drag and drop, the cursor, the string table, and the messages it
// passed on to default processing. Every member may be called from any
// thread; none calls out.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "framework/canvas.h"

struct ToolTipInfo {
    int id = 0;
    std::string text;
};

struct SystemMenuItem {
    int commandId = 0;
    std::string text;
};

struct DefaultCall {
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};

class ShellRecord {
public:
    explicit ShellRecord(Point cursor) : cursor_(cursor) {}

    void SetString(int stringResource, const std::string& text);
    std::string LoadString(int stringResource) const; // empty: none
    void SetHasSystemMenu(bool has);
    bool HasSystemMenu() const;
    void AppendSystemMenu(int commandId, const std::string& text);
    std::vector<SystemMenuItem> SystemMenu() const;

    void ToolTipCreate();
    void ToolTipActivate(bool active);
    void ToolTipAddTool(int id, const std::string& text);
    void ToolTipUpdateTipText(int id, const std::string& text); // a tool never added: nothing
    void ToolTipSetMaxTipWidth(int width);
    bool ToolTipCreated() const;
    bool ToolTipActive() const;
    int ToolTipMaxWidth() const;
    std::vector<ToolTipInfo> ToolTips() const;           // in the order added

    void DragAcceptFiles(bool accept);
    bool AcceptsFiles() const;
    void SetCursorPos(Point p);
    Point CursorPos() const;
    void AddIcon(int iconResource);
    std::vector<int> Icons() const;                      // every SetIcon, in order
    void AboutBoxShown();
    int AboutBoxesShown() const;
    void AddDefaultCall(const DefaultCall& call);
    std::vector<DefaultCall> DefaultCalls() const;

private:
    mutable std::mutex mutex_;
    std::map<int, std::string> strings_;
    bool hasSystemMenu_ = true;
    std::vector<SystemMenuItem> systemMenu_;
    bool toolTipCreated_ = false;
    bool toolTipActive_ = false;
    int toolTipMaxWidth_ = -1;
    std::vector<ToolTipInfo> toolTips_;
    bool acceptsFiles_ = false;
    Point cursor_;
    std::vector<int> icons_;
    int aboutBoxes_ = 0;
    std::vector<DefaultCall> defaultCalls_;
};
