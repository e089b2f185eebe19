#pragma once
// The dialog window on Qt: a fixed-size top-level widget laid out from the
// template in dialog units (the base units measured from the template's
// font), painted by the dialog, with one QtControlView per control. It
// takes the user's keys (Escape, Return, typing), closing, drops and the
// system menu (a context menu here) and hands them to the window.
#include <QWidget>
#include <map>
#include <vector>

#include "platform/headless/headless_controls.h"
#include "platform/headless/shell_record.h"
#include "platform/qt/qt_control_host.h"
#include "platform/qt/qt_control_view.h"

// Pixels per 4 horizontal and per 8 vertical dialog units for a font, as the
// system measures them: the mean width of the 52 letters, the font's height.
struct QtBaseUnits {
    int x = 6;
    int y = 13;
};
QtBaseUnits MeasureBaseUnits(const QFont& font);
// The font of the template ("Arial" 10 point); a metric-compatible face
// stands in where the named one is missing.
QFont TemplateFont(const char* family, int points);
QRect DialogUnitsToPixels(const Rect& dialogUnits, QtBaseUnits units);

class QtDialogSurface final : public QWidget {
public:
    QtDialogSurface(QtControlHost& host, QtBaseUnits units);
    ~QtDialogSurface() override;

    void AddControl(const HeadlessControl& state);
    void SetClientSize(const Rect& dialogUnits);
    QtControlView* View(int id) const;
    std::vector<QtControlView*> Views() const;
    void SetSystemMenu(const std::vector<SystemMenuItem>& items) { systemMenu_ = items; }
    QtBaseUnits Units() const { return units_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

private:
    bool Key(int id, QKeyEvent* key);

    QtControlHost& host_;
    QtBaseUnits units_;
    std::map<int, QtControlView*> views_;
    std::vector<SystemMenuItem> systemMenu_;
};
