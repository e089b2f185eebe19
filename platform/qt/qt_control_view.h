#pragma once
// One control of the dialog on Qt: a widget that draws the control's state as
// the window keeps it (text, check, rows, position, colours) in the classic
// look, and hands every click, key and pick to the window. The widget keeps
// no state of its own beyond what it shows.
#include <QWidget>

#include "platform/headless/headless_controls.h"
#include "platform/qt/qt_control_host.h"

class QtControlView final : public QWidget {
public:
    QtControlView(QtControlHost& host, const HeadlessControl& state, QWidget* parent);
    int Id() const { return state_.id; }
    // Takes the window's state; repaints when it changed.
    void Show(const HeadlessControl& state);
    const HeadlessControl& State() const { return state_; }
    void SetTipText(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void PaintStatic(QPainter& painter);
    void PaintPushButton(QPainter& painter);
    void PaintOwnerDrawn(QPainter& painter);
    void PaintCheckBox(QPainter& painter);
    void PaintEdit(QPainter& painter);
    void PaintCombo(QPainter& painter);
    void PaintProgress(QPainter& painter);
    void PopUpRows();
    bool PressedInside() const { return pressed_ && pressedOver_; }

    QtControlHost& host_;
    HeadlessControl state_;
    bool pressed_ = false;      // the left button went down here and is still down
    bool pressedOver_ = false;  // ... and the mouse is over the control
};
