#include "platform/qt/qt_control_view.h"

#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include "framework/system_colours.h"
#include "platform/qt/qt_canvas.h"
#include "platform/qt/qt_pictures.h"

namespace {

constexpr Colour kWhite = Rgb(255, 255, 255);
constexpr Colour kBlack = Rgb(0, 0, 0);
constexpr Colour kHighlightBar = Rgb(0, 0, 128);   // the classic selection colour
constexpr Colour kGreyText = Rgb(128, 128, 128);
constexpr int kEditMargin = 2;
constexpr int kCheckBoxSize = 13;

QColor Sys(int index) { return ToQColor(GetSystemColour(index)); }

// Two one-pixel rings, top-left colour then bottom-right colour, as the
// system draws a three-dimensional edge.
void Ring(QPainter& p, QRect r, const QColor& topLeft, const QColor& bottomRight)
{
    p.setPen(topLeft);
    p.drawLine(r.left(), r.bottom(), r.left(), r.top());
    p.drawLine(r.left(), r.top(), r.right(), r.top());
    p.setPen(bottomRight);
    p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
    p.drawLine(r.right(), r.bottom(), r.right(), r.top());
}

void SunkenEdge(QPainter& p, const QRect& r)
{
    Ring(p, r, Sys(COLOR_BTNSHADOW), Sys(COLOR_BTNHIGHLIGHT));
    Ring(p, r.adjusted(1, 1, -1, -1), Sys(COLOR_3DDKSHADOW), Sys(COLOR_3DLIGHT));
}

QString Text(const std::string& text) { return QString::fromLocal8Bit(text.data(), static_cast<int>(text.size())); }

// Statics show "&&" as "&" and underline nothing else here.
QString StaticText(const std::string& text)
{
    QString shown = Text(text);
    shown.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    shown.remove(QLatin1Char('&'));
    shown.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return shown;
}

bool IsOn(Colour c) { return c != kHeadlessDefaultColour; }

} // namespace

QtControlView::QtControlView(QtControlHost& host, const HeadlessControl& state, QWidget* parent)
    : QWidget(parent), host_(host), state_(state)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setFocusPolicy(TakesFocus(state) ? Qt::ClickFocus : Qt::NoFocus);
    setMouseTracking(false);
}

void QtControlView::Show(const HeadlessControl& state)
{
    const bool changed = state.text != state_.text || state.enabled != state_.enabled ||
                         state.checked != state_.checked || state.comboSel != state_.comboSel ||
                         state.comboRows != state_.comboRows || state.progressPos != state_.progressPos ||
                         state.progressLow != state_.progressLow || state.progressHigh != state_.progressHigh ||
                         state.progressBk != state_.progressBk || state.progressBar != state_.progressBar ||
                         state.bitmap != state_.bitmap;
    state_ = state;
    if (isHidden() == Shown(state)) setVisible(Shown(state));
    if (!state.enabled) pressed_ = false;
    if (changed) update();
}

void QtControlView::SetTipText(const QString& text)
{
    if (toolTip() != text) setToolTip(text);
}

// ---------------------------------------------------------------- the user

void QtControlView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) return;
    if (!state_.enabled) return;
    if (state_.kind == ControlKind::Button) {
        // A button acts when the button comes up over it; meanwhile it shows pressed.
        pressed_ = pressedOver_ = true;
        update();
        return;
    }
    host_.UserClick(state_.id);
    if (state_.kind == ControlKind::Combo) PopUpRows();
}

void QtControlView::mouseMoveEvent(QMouseEvent* event)
{
    if (!pressed_) return;
    const bool over = rect().contains(event->position().toPoint());
    if (over != pressedOver_) {
        pressedOver_ = over;
        update();
    }
}

void QtControlView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !pressed_) return;
    const bool click = rect().contains(event->position().toPoint());
    pressed_ = pressedOver_ = false;
    update();
    if (click) host_.UserClick(state_.id);
}

void QtControlView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !state_.enabled) return;
    if (state_.kind == ControlKind::Button) {
        pressed_ = pressedOver_ = true; // the second click comes up like the first
        update();
        return;
    }
    host_.UserDoubleClick(state_.id);
}

void QtControlView::PopUpRows()
{
    host_.UserDropDown(state_.id);
    if (state_.comboRows.empty()) return;
    QMenu rows(this);
    rows.setFont(host_.DialogFont());
    for (size_t i = 0; i < state_.comboRows.size(); ++i) {
        QAction* row = rows.addAction(Text(state_.comboRows[i]));
        row->setData(static_cast<int>(i));
    }
    rows.setMinimumWidth(width());
    if (QAction* picked = rows.exec(mapToGlobal(QPoint(0, height())))) host_.UserPickRow(state_.id, picked->data().toInt());
}

// ---------------------------------------------------------------- drawing

void QtControlView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setFont(host_.DialogFont());
    switch (state_.kind) {
    case ControlKind::Static: PaintStatic(painter); break;
    case ControlKind::Button:
        if (state_.style == ControlStyle::OwnerDraw) PaintOwnerDrawn(painter);
        else if (state_.style == ControlStyle::AutoCheck) PaintCheckBox(painter);
        else PaintPushButton(painter);
        break;
    case ControlKind::Edit: PaintEdit(painter); break;
    case ControlKind::Combo: PaintCombo(painter); break;
    case ControlKind::Progress: PaintProgress(painter); break;
    }
}

void QtControlView::PaintStatic(QPainter& p)
{
    const CtlColorResult colours = host_.ColoursOf(state_.id);
    // The brush the dialog answers with fills the control; the text goes over it.
    if (colours.brush != nullptr && colours.brush->created) p.fillRect(rect(), ToQColor(colours.brush->colour));
    else p.fillRect(rect(), Sys(COLOR_BTNFACE));
    QRect area = rect();
    if (state_.style == ControlStyle::StaticNotifyBorder) {
        p.setPen(ToQColor(kBlack));
        p.drawRect(area.adjusted(0, 0, -1, -1));
        area = area.adjusted(1, 1, -1, -1);
    }
    const QString text = StaticText(state_.text);
    const int align = (state_.style == ControlStyle::StaticRight ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop |
                      Qt::TextWordWrap;
    if (colours.bkMode != CtlColorResult::BkMode::Transparent && colours.setBkColour)
        p.fillRect(p.boundingRect(area, align, text).intersected(area), ToQColor(colours.bkColour));
    const Colour ink = !state_.enabled ? kGreyText : colours.setTextColour ? colours.textColour : GetSystemColour(COLOR_BTNTEXT);
    p.setPen(ToQColor(ink));
    p.drawText(area, align, text);
}

void QtControlView::PaintPushButton(QPainter& p)
{
    const QRect r = rect();
    p.fillRect(r, Sys(COLOR_BTNFACE));
    const bool focused = host_.FocusedControl() == state_.id;
    QRect ring = r;
    if (focused || PressedInside()) {
        Ring(p, ring, ToQColor(kBlack), ToQColor(kBlack));
        ring = ring.adjusted(1, 1, -1, -1);
    }
    if (PressedInside()) {
        Ring(p, ring, Sys(COLOR_BTNSHADOW), Sys(COLOR_BTNSHADOW));
    } else {
        Ring(p, ring, Sys(COLOR_BTNHIGHLIGHT), Sys(COLOR_3DDKSHADOW));
        Ring(p, ring.adjusted(1, 1, -1, -1), Sys(COLOR_3DLIGHT), Sys(COLOR_BTNSHADOW));
    }
    const int shift = PressedInside() ? 1 : 0;
    const QRect inside = r.adjusted(3 + shift, 3 + shift, -3 + shift, -3 + shift);
    if (state_.style == ControlStyle::PushBitmap && state_.bitmap != 0) {
        const QPixmap& picture = PictureOf(state_.bitmap);
        if (!picture.isNull()) {
            // Centred and cut to the button, never scaled.
            p.save();
            p.setClipRect(inside);
            const QPoint at(inside.left() + (inside.width() - picture.width()) / 2,
                            inside.top() + (inside.height() - picture.height()) / 2);
            p.drawPixmap(at, picture);
            if (!state_.enabled) p.fillRect(inside, QColor(192, 192, 192, 128));
            p.restore();
        }
    } else {
        const QString text = StaticText(state_.text);
        if (!state_.enabled) {
            p.setPen(ToQColor(kWhite));
            p.drawText(inside.translated(1, 1), Qt::AlignCenter, text);
            p.setPen(Sys(COLOR_BTNSHADOW));
        } else {
            p.setPen(Sys(COLOR_BTNTEXT));
        }
        p.drawText(inside, Qt::AlignCenter, text);
    }
    if (focused) {
        QtCanvas canvas(p, host_.DialogFont());
        canvas.FocusRect({4, 4, r.width() - 4, r.height() - 4});
    }
}

void QtControlView::PaintOwnerDrawn(QPainter& p)
{
    DrawItemInfo info;
    info.item = {0, 0, width(), height()};
    if (PressedInside()) info.state |= ODS_SELECTED;
    if (!state_.enabled) info.state |= ODS_DISABLED;
    if (host_.FocusedControl() == state_.id) info.state |= ODS_FOCUS;
    QtCanvas canvas(p, host_.DialogFont());
    host_.DrawItem(state_.id, info, canvas);
}

void QtControlView::PaintCheckBox(QPainter& p)
{
    const CtlColorResult colours = host_.ColoursOf(state_.id);
    if (colours.brush != nullptr && colours.brush->created) p.fillRect(rect(), ToQColor(colours.brush->colour));
    else p.fillRect(rect(), Sys(COLOR_BTNFACE));
    const int size = std::min(kCheckBoxSize, std::min(width(), height()));
    const QRect box(0, (height() - size) / 2, size, size);
    p.fillRect(box.adjusted(2, 2, -2, -2), state_.enabled ? ToQColor(kWhite) : Sys(COLOR_BTNFACE));
    SunkenEdge(p, box);
    if (state_.checked) {
        p.setPen(QPen(state_.enabled ? ToQColor(kBlack) : Sys(COLOR_BTNSHADOW), 2));
        const QPoint a(box.left() + 3, box.top() + size / 2), b(box.left() + size / 2 - 1, box.bottom() - 3),
            c(box.right() - 3, box.top() + 3);
        p.drawLine(a, b);
        p.drawLine(b, c);
    }
    if (!state_.text.empty()) {
        p.setPen(state_.enabled ? Sys(COLOR_BTNTEXT) : Sys(COLOR_BTNSHADOW));
        p.drawText(rect().adjusted(size + 4, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, StaticText(state_.text));
    }
    if (host_.FocusedControl() == state_.id && !state_.text.empty()) {
        QtCanvas canvas(p, host_.DialogFont());
        canvas.FocusRect({size + 3, 0, width(), height()});
    }
}

void QtControlView::PaintEdit(QPainter& p)
{
    const CtlColorResult colours = host_.ColoursOf(state_.id);
    QColor background = ToQColor(kWhite);
    if (!state_.enabled) background = Sys(COLOR_BTNFACE);
    else if (colours.brush != nullptr && colours.brush->created) background = ToQColor(colours.brush->colour);
    p.fillRect(rect(), background);
    SunkenEdge(p, rect());
    const QRect area = rect().adjusted(2 + kEditMargin, 2, -2 - kEditMargin, -2);
    const QString text = Text(state_.text);
    const bool right = state_.style == ControlStyle::EditDigitsRight;
    const Colour ink = !state_.enabled ? kGreyText : colours.setTextColour ? colours.textColour : kBlack;
    p.save();
    p.setClipRect(area);
    p.setPen(ToQColor(ink));
    // The caret stays at the end: a long text shows its end, as it scrolls there.
    const int textWidth = p.fontMetrics().horizontalAdvance(text);
    const int x = right || textWidth > area.width() ? area.right() - textWidth : area.left();
    p.drawText(QRect(x, area.top(), textWidth + 1, area.height()), Qt::AlignLeft | Qt::AlignVCenter, text);
    if (host_.FocusedControl() == state_.id && state_.enabled) {
        const int caret = std::min(x + textWidth, area.right());
        p.drawLine(caret, area.top() + 1, caret, area.bottom() - 1);
    }
    p.restore();
}

void QtControlView::PaintCombo(QPainter& p)
{
    // The field's height is the template's; the rest is the list when dropped.
    const int field = std::min(height(), p.fontMetrics().height() + 8);
    const QRect box(0, 0, width(), field);
    p.fillRect(box, state_.enabled ? ToQColor(kWhite) : Sys(COLOR_BTNFACE));
    SunkenEdge(p, box);
    const int arrowWidth = field - 4;
    const QRect button(box.right() - 1 - arrowWidth, 2, arrowWidth, field - 4);
    p.fillRect(button, Sys(COLOR_BTNFACE));
    Ring(p, button, Sys(COLOR_3DLIGHT), Sys(COLOR_3DDKSHADOW));
    Ring(p, button.adjusted(1, 1, -1, -1), Sys(COLOR_BTNHIGHLIGHT), Sys(COLOR_BTNSHADOW));
    const QPoint c = button.center();
    p.setPen(Qt::NoPen);
    p.setBrush(state_.enabled ? Sys(COLOR_BTNTEXT) : Sys(COLOR_BTNSHADOW));
    const QPoint arrow[3] = {{c.x() - 3, c.y() - 1}, {c.x() + 4, c.y() - 1}, {c.x(), c.y() + 3}};
    p.drawPolygon(arrow, 3);
    p.setBrush(Qt::NoBrush);
    p.setPen(state_.enabled ? ToQColor(kBlack) : ToQColor(kGreyText));
    p.drawText(QRect(4, 2, button.left() - 5, field - 4), Qt::AlignLeft | Qt::AlignVCenter, Text(state_.text));
}

void QtControlView::PaintProgress(QPainter& p)
{
    const QRect r = rect();
    p.setPen(ToQColor(kBlack));
    p.drawRect(r.adjusted(0, 0, -1, -1));
    const QRect inside = r.adjusted(1, 1, -1, -1);
    p.fillRect(inside, IsOn(state_.progressBk) ? ToQColor(state_.progressBk) : Sys(COLOR_BTNFACE));
    const int span = state_.progressHigh - state_.progressLow;
    if (span <= 0) return;
    const int filled = static_cast<int>(static_cast<long long>(state_.progressPos - state_.progressLow) * inside.width() / span);
    if (filled <= 0) return;
    p.fillRect(QRect(inside.left(), inside.top(), std::min(filled, inside.width()), inside.height()),
               IsOn(state_.progressBar) ? ToQColor(state_.progressBar) : ToQColor(kHighlightBar));
}
