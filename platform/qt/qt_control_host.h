#pragma once
// What the Qt widgets of a dialog ask of the window they belong to: the
// dialog's colours and owner drawing, and the user's actions, which go to
// the window's notification rules (the same ones the in-memory window keeps).
#include <QFont>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/dialog.h"

class QtControlHost {
public:
    virtual ~QtControlHost() = default;
    virtual const QFont& DialogFont() const = 0;
    virtual CtlColorResult ColoursOf(int id) = 0;
    virtual void DrawItem(int id, const DrawItemInfo& info, ICanvas& canvas) = 0;
    virtual void PaintDialog(ICanvas& canvas, const Rect& client) = 0;
    virtual int FocusedControl() = 0;

    // --- the user ---
    virtual void UserClick(int id) = 0;              // a click released over the control
    virtual void UserDoubleClick(int id) = 0;        // the second click of a double click
    virtual void UserPressOnDialog(Point client) = 0; // a press on the dialog, off every control
    virtual void UserKey(uintptr_t vk, int id) = 0;
    virtual void UserChar(int id, unsigned character) = 0;
    virtual void UserDropDown(int id) = 0;
    virtual void UserPickRow(int id, int row) = 0;
    virtual void UserDrop(const std::vector<std::string>& paths, Point cursor) = 0;
    virtual void UserClose() = 0;
    virtual void UserSystemCommand(uint32_t command) = 0;
};
