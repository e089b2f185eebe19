#pragma once
// The drawing surface of the Qt window: ICanvas on a QPainter, in the
// painted widget's own coordinates.
#include <QColor>
#include <QFont>
#include <QPainter>

#include "framework/canvas.h"

QColor ToQColor(Colour c);

class QtCanvas final : public ICanvas {
public:
    QtCanvas(QPainter& painter, const QFont& font) : painter_(painter), font_(font) {}
    void FillSolid(const Rect& r, Colour c) override;
    void Line(int x1, int y1, int x2, int y2, Colour c) override;
    void CentredText(const std::string& text, const Rect& r, Colour c) override;
    void FocusRect(const Rect& r) override;
    void StretchBitmap(int bitmapResource, const Rect& destination) override;

private:
    QPainter& painter_;
    QFont font_;
};
