#include "platform/qt/qt_canvas.h"

#include <QPen>
#include <QString>

#include "platform/qt/qt_pictures.h"

QColor ToQColor(Colour c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

namespace {

QRect ToQRect(const Rect& r) { return QRect(r.left, r.top, r.Width(), r.Height()); }

} // namespace

void QtCanvas::FillSolid(const Rect& r, Colour c) { painter_.fillRect(ToQRect(r), ToQColor(c)); }

void QtCanvas::Line(int x1, int y1, int x2, int y2, Colour c)
{
    // GDI leaves out the last point; the lines drawn here are horizontal or vertical.
    if (x1 == x2 && y1 == y2) return;
    const int ex = x2 == x1 ? x2 : (x2 > x1 ? x2 - 1 : x2 + 1);
    const int ey = y2 == y1 ? y2 : (y2 > y1 ? y2 - 1 : y2 + 1);
    painter_.save();
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.setPen(QPen(ToQColor(c), 1));
    painter_.drawLine(x1, y1, ex, ey);
    painter_.restore();
}

void QtCanvas::CentredText(const std::string& text, const Rect& r, Colour c)
{
    painter_.save();
    painter_.setFont(font_);
    painter_.setPen(ToQColor(c));
    painter_.drawText(ToQRect(r), Qt::AlignCenter | Qt::TextSingleLine, QString::fromStdString(text));
    painter_.restore();
}

void QtCanvas::FocusRect(const Rect& r)
{
    // The dotted rectangle of the system, drawn by inverting every other pixel.
    painter_.save();
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    QPen pen(Qt::white, 1, Qt::DotLine);
    painter_.setPen(pen);
    painter_.drawRect(QRect(r.left, r.top, r.Width() - 1, r.Height() - 1));
    painter_.restore();
}

void QtCanvas::StretchBitmap(int bitmapResource, const Rect& destination)
{
    const QPixmap& picture = PictureOf(bitmapResource);
    if (picture.isNull()) return;
    // Nearest pixel, as the system's default stretch mode does.
    painter_.save();
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter_.drawPixmap(ToQRect(destination), picture);
    painter_.restore();
}
