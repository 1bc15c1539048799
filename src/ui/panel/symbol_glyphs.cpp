#include "ui/panel/symbol_glyphs.h"

#include <QPainter>
#include <QPainterPathStroker>
#include <QTransform>
#include <array>
#include <cmath>
#include <numbers>

namespace quellora {
namespace {

constexpr double gridSize = 24.0;
const QPointF centre(12.0, 12.0);

// The outline of a stroke of `width` along `path`, with round caps and joins.
QPainterPath stroked(const QPainterPath& path, double width) {
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(path).simplified();
}

QPainterPath polyline(std::initializer_list<QPointF> points, double width) {
    QPainterPath path;
    path.moveTo(*points.begin());
    for (auto point = points.begin() + 1; point != points.end(); ++point) {
        path.lineTo(*point);
    }
    return stroked(path, width);
}

QPainterPath disc(QPointF at, double radius) {
    QPainterPath path;
    path.addEllipse(at, radius, radius);
    return path;
}

QPainterPath ring(QPointF at, double radius, double width) {
    return disc(at, radius + width / 2).subtracted(disc(at, radius - width / 2));
}

QPainterPath waveform() {
    constexpr std::array<double, 9> barHeights{5, 10, 16, 21, 13, 18, 10, 14, 6};
    constexpr double barWidth = 1.8;
    QPainterPath path;
    for (std::size_t bar = 0; bar < barHeights.size(); ++bar) {
        const double x = 2.4 + 2.4 * static_cast<double>(bar);
        const double height = barHeights[bar];
        path.addRoundedRect(QRectF(x - barWidth / 2, 12.0 - height / 2, barWidth, height),
                            barWidth / 2, barWidth / 2);
    }
    return path.simplified();
}

// The exclamation mark of the warning triangle and the badge, centred on x.
QPainterPath exclamationMark(double x, double top, double stemBottom, double dotY, double width) {
    return polyline({{x, top}, {x, stemBottom}}, width).united(disc({x, dotY}, width * 0.58));
}

// The waveform with a disc at its bottom-trailing corner (set apart by a
// gap) and `glyph` knocked out of the disc.
QPainterPath badged(const QPainterPath& glyph) {
    const QPointF badgeCentre(18.5, 18.5);
    const auto badge = disc(badgeCentre, 5.5).subtracted(glyph);
    return waveform().subtracted(disc(badgeCentre, 7.0)).united(badge);
}

// One half of the two-arrow circle: an arc over the top, clockwise, ending
// in an arrowhead.
QPainterPath circlingArrow() {
    constexpr double radius = 7.5;
    constexpr double startDegrees = 160.0, endDegrees = 25.0;
    const QRectF circle(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    QPainterPath arc;
    arc.arcMoveTo(circle, startDegrees);
    arc.arcTo(circle, startDegrees, endDegrees - startDegrees);

    const double end = endDegrees * std::numbers::pi / 180.0;
    const QPointF tip = arc.currentPosition();
    const QPointF along(std::sin(end), std::cos(end)); // clockwise tangent, y down
    const QPointF across(-along.y(), along.x());
    QPainterPath head;
    head.addPolygon(QPolygonF{{tip + along * 2.6, tip + across * 2.8, tip - across * 2.8}});
    head.closeSubpath();
    return stroked(arc, 1.8).united(head);
}

QPainterPath trash() {
    QPainterPath handle;
    handle.moveTo(9.0, 6.0);
    handle.lineTo(9.0, 3.6);
    handle.lineTo(15.0, 3.6);
    handle.lineTo(15.0, 6.0);
    return polyline({{3.5, 6.0}, {20.5, 6.0}}, 1.8)
        .united(stroked(handle, 1.6))
        .united(polyline({{5.8, 6.5}, {6.9, 20.2}, {17.1, 20.2}, {18.2, 6.5}}, 1.7))
        .united(polyline({{9.9, 9.6}, {10.2, 16.8}}, 1.4))
        .united(polyline({{14.1, 9.6}, {13.8, 16.8}}, 1.4));
}

QPainterPath questionmarkCircle() {
    QPainterPath hook;
    const QRectF bow(9.2, 6.4, 5.6, 5.6);
    hook.arcMoveTo(bow, 180.0);
    hook.arcTo(bow, 180.0, -240.0);
    hook.lineTo(12.0, 14.0);
    return ring(centre, 10.0, 1.7).united(stroked(hook, 1.8)).united(disc({12.0, 17.2}, 1.15));
}

} // namespace

QPainterPath symbolPath(Symbol symbol) {
    switch (symbol) {
    case Symbol::waveform:
        return waveform();
    case Symbol::waveformBadgeMinus:
        return badged(polyline({{16.2, 18.5}, {20.8, 18.5}}, 1.8));
    case Symbol::waveformBadgeExclamationmark:
        return badged(exclamationMark(18.5, 15.8, 18.8, 21.0, 1.6));
    case Symbol::waveformBadgeXmark:
        return badged(polyline({{16.7, 16.7}, {20.3, 20.3}}, 1.6)
                          .united(polyline({{20.3, 16.7}, {16.7, 20.3}}, 1.6)));
    case Symbol::trash:
        return trash();
    case Symbol::chevronRight:
        return polyline({{9.0, 5.5}, {15.5, 12.0}, {9.0, 18.5}}, 2.6);
    case Symbol::chevronDown:
        return polyline({{5.5, 9.0}, {12.0, 15.5}, {18.5, 9.0}}, 2.6);
    case Symbol::plus:
        return polyline({{12.0, 4.5}, {12.0, 19.5}}, 2.4)
            .united(polyline({{4.5, 12.0}, {19.5, 12.0}}, 2.4));
    case Symbol::minus:
        return polyline({{4.5, 12.0}, {19.5, 12.0}}, 2.4);
    case Symbol::questionmarkCircle:
        return questionmarkCircle();
    case Symbol::arrowDownCircleFill:
        return disc(centre, 11.0)
            .subtracted(polyline({{12.0, 6.5}, {12.0, 16.6}}, 2.2)
                            .united(polyline({{7.8, 12.6}, {12.0, 16.8}, {16.2, 12.6}}, 2.2)));
    case Symbol::arrowTriangle2Circlepath: {
        const auto half = circlingArrow();
        const auto halfTurn =
            QTransform().translate(12.0, 12.0).rotate(180.0).translate(-12.0, -12.0);
        return half.united(halfTurn.map(half));
    }
    case Symbol::exclamationmarkTriangleFill: {
        QPainterPath triangle;
        triangle.addPolygon(QPolygonF{{{12.0, 3.2}, {21.6, 20.0}, {2.4, 20.0}}});
        triangle.closeSubpath();
        return triangle.united(stroked(triangle, 2.2))
            .subtracted(exclamationMark(12.0, 8.8, 14.0, 17.1, 2.2));
    }
    case Symbol::checkmarkCircleFill:
        return disc(centre, 11.0)
            .subtracted(polyline({{7.2, 12.4}, {10.6, 15.8}, {16.8, 8.6}}, 2.2));
    }
    return {};
}

void paintSymbol(QPainter& painter, Symbol symbol, const QRectF& rect, const QColor& colour) {
    const double side = std::min(rect.width(), rect.height());
    if (side <= 0.0) {
        return;
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(rect.center() - QPointF(side / 2, side / 2));
    painter.scale(side / gridSize, side / gridSize);
    painter.fillPath(symbolPath(symbol), colour);
    painter.restore();
}

} // namespace quellora
