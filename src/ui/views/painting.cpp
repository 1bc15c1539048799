#include "ui/views/painting.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>

namespace quellora {
namespace {

// Where a box of `length` starts along one axis so that its point named by
// the flags lies at `at`.
double boxStart(double at, double length, Qt::Alignment anchor, Qt::AlignmentFlag start,
                Qt::AlignmentFlag end) {
    if (anchor & start) {
        return at;
    }
    if (anchor & end) {
        return at - length;
    }
    return at - length / 2.0;
}

} // namespace

QPen strokePen(const QColor& colour, double width) {
    QPen pen(colour, width);
    pen.setCapStyle(Qt::FlatCap);
    return pen;
}

QPen dashedPen(const QColor& colour, double width, double on, double off) {
    QPen pen = strokePen(colour, width);
    pen.setDashPattern({on / width, off / width});
    return pen;
}

void fillCircle(QPainter& painter, QPointF centre, double diameter, const QColor& colour) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(centre, diameter / 2.0, diameter / 2.0);
}

bool changesLook(const QEvent& event) {
    switch (event.type()) {
    case QEvent::PaletteChange:
    case QEvent::ApplicationPaletteChange:
    case QEvent::FontChange:
    case QEvent::ApplicationFontChange:
        return true;
    default:
        return false;
    }
}

void drawAnchoredText(QPainter& painter, const QString& text, QPointF at, Qt::Alignment anchor) {
    const QFontMetricsF metrics(painter.font());
    const double width = metrics.horizontalAdvance(text);
    const double height = metrics.height();
    const QRectF box(boxStart(at.x(), width, anchor, Qt::AlignLeft, Qt::AlignRight),
                     boxStart(at.y(), height, anchor, Qt::AlignTop, Qt::AlignBottom), width,
                     height);
    painter.drawText(box, Qt::AlignCenter | Qt::TextDontClip, text);
}

} // namespace quellora
