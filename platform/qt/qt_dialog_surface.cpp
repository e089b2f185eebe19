#include "platform/qt/qt_dialog_surface.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QUrl>

#include "platform/qt/qt_canvas.h"

namespace {

constexpr unsigned kBackspace = 8;
constexpr int kComboFieldExtra = 8; // the combo box's field: the font's height and its edges

int MulDiv(int a, int b, int c) { return static_cast<int>((static_cast<long long>(a) * b + c / 2) / c); }

} // namespace

QtBaseUnits MeasureBaseUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    QtBaseUnits units;
    units.x = (letters / 26 + 1) / 2;
    units.y = metrics.height();
    return units;
}

QFont TemplateFont(const char* family, int points)
{
    QFont font(QString::fromLatin1(family));
    // Liberation Sans has Arial's metrics: the layout comes out the same.
    QFont::insertSubstitution(QString::fromLatin1(family), QStringLiteral("Liberation Sans"));
    // Points at the system's 96 dots per inch, as the template's font is
    // made; a high-density screen scales the whole window.
    font.setPixelSize(MulDiv(points, 96, 72));
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

QRect DialogUnitsToPixels(const Rect& du, QtBaseUnits units)
{
    const int left = MulDiv(du.left, units.x, 4);
    const int top = MulDiv(du.top, units.y, 8);
    return QRect(left, top, MulDiv(du.Width(), units.x, 4), MulDiv(du.Height(), units.y, 8));
}

QtDialogSurface::QtDialogSurface(QtControlHost& host, QtBaseUnits units) : host_(host), units_(units)
{
    setFont(host.DialogFont());
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QtDialogSurface::~QtDialogSurface() = default;

void QtDialogSurface::AddControl(const HeadlessControl& state)
{
    auto* view = new QtControlView(host_, state, this);
    QRect area = DialogUnitsToPixels(state.dialogUnits, units_);
    if (state.kind == ControlKind::Combo)
        area.setHeight(std::min(area.height(), QFontMetrics(host_.DialogFont()).height() + kComboFieldExtra));
    view->setGeometry(area);
    view->setVisible(Shown(state));
    view->installEventFilter(this);
    views_[state.id] = view;
}

void QtDialogSurface::SetClientSize(const Rect& dialogUnits)
{
    const QRect area = DialogUnitsToPixels(dialogUnits, units_);
    setFixedSize(area.size());
}

QtControlView* QtDialogSurface::View(int id) const
{
    auto it = views_.find(id);
    return it == views_.end() ? nullptr : it->second;
}

std::vector<QtControlView*> QtDialogSurface::Views() const
{
    std::vector<QtControlView*> all;
    for (const auto& entry : views_) all.push_back(entry.second);
    return all;
}

void QtDialogSurface::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    QtCanvas canvas(painter, host_.DialogFont());
    host_.PaintDialog(canvas, {0, 0, width(), height()});
}

void QtDialogSurface::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return;
    const QPoint at = event->position().toPoint();
    host_.UserPressOnDialog({at.x(), at.y()});
}

void QtDialogSurface::closeEvent(QCloseEvent* event)
{
    // The close box asks the dialog; the window goes when the dialog ends.
    event->ignore();
    host_.UserClose();
}

void QtDialogSurface::contextMenuEvent(QContextMenuEvent* event)
{
    if (systemMenu_.empty()) return;
    QMenu menu(this);
    for (const SystemMenuItem& item : systemMenu_) {
        QString text = QString::fromLocal8Bit(item.text.c_str());
        QAction* action = menu.addAction(text.replace(QLatin1Char('&'), QString()));
        action->setData(item.commandId);
    }
    if (QAction* chosen = menu.exec(event->globalPos())) host_.UserSystemCommand(static_cast<uint32_t>(chosen->data().toInt()));
}

void QtDialogSurface::dragEnterEvent(QDragEnterEvent* event)
{
    if (acceptDrops() && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void QtDialogSurface::dragMoveEvent(QDragMoveEvent* event)
{
    if (acceptDrops() && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void QtDialogSurface::dropEvent(QDropEvent* event)
{
    std::vector<std::string> paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
    if (paths.empty()) return;
    event->acceptProposedAction();
    const QPoint at = mapToGlobal(event->position().toPoint());
    host_.UserDrop(paths, {at.x(), at.y()});
}

bool QtDialogSurface::event(QEvent* event)
{
    if (event->type() == QEvent::KeyPress && Key(0, static_cast<QKeyEvent*>(event))) return true;
    return QWidget::event(event);
}

bool QtDialogSurface::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress) return false;
    auto* view = dynamic_cast<QtControlView*>(watched);
    return Key(view ? view->Id() : 0, static_cast<QKeyEvent*>(event));
}

bool QtDialogSurface::Key(int id, QKeyEvent* key)
{
    // Every key goes to the dialog's own rules: Escape and Return first, the
    // space bar clicks a focused button, characters type into a focused edit.
    const int focused = host_.FocusedControl();
    const int target = focused != 0 ? focused : id;
    switch (key->key()) {
    case Qt::Key_Escape: host_.UserKey(VK_ESCAPE, target); return true;
    case Qt::Key_Return:
    case Qt::Key_Enter: host_.UserKey(VK_RETURN, target); return true;
    case Qt::Key_Backspace: host_.UserChar(target, kBackspace); return true;
    default: break;
    }
    QtControlView* view = View(target);
    if (view == nullptr) return true;
    if (key->key() == Qt::Key_Space && view->State().kind == ControlKind::Button) {
        host_.UserClick(target);
        return true;
    }
    if (view->State().kind != ControlKind::Edit) return true;
    const QByteArray typed = key->text().toLocal8Bit();
    for (char c : typed)
        if (static_cast<unsigned char>(c) >= 0x20) host_.UserChar(target, static_cast<unsigned char>(c));
    return true;
}
