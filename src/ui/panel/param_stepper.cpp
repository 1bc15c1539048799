#include "ui/panel/param_stepper.h"

#include "ui/panel/panel_paint.h"
#include "ui/panel/symbol_glyphs.h"
#include "ui/views/ui_style.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

namespace quellora {
namespace {

constexpr double glyphSize = 9.0;
// Each end's target for the pointer, the glyph centred in it.
constexpr double glyphZone = 16.0;
constexpr int stepperHeight = 16;
constexpr double textPadding = 2.0;
constexpr double focusRingRadius = 4.0;

} // namespace

ParamStepper::ParamStepper(ClosedRange<float> range, ValueFormat format, float stepSize,
                           QWidget* parent)
    : ParamTrack(range, format, stepSize, parent) {
    setFont(style::systemFont(11));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QString ParamStepper::widestText() const {
    const QFontMetricsF metrics(font());
    const auto low = formatParamValue(paramRange().lowerBound, valueFormat());
    const auto high = formatParamValue(paramRange().upperBound, valueFormat());
    return metrics.horizontalAdvance(low) >= metrics.horizontalAdvance(high) ? low : high;
}

QSize ParamStepper::sizeHint() const {
    const double text = QFontMetricsF(font()).horizontalAdvance(widestText());
    return {static_cast<int>(std::ceil(2 * glyphZone + 2 * textPadding + text)), stepperHeight};
}

QAbstractSlider::SliderAction ParamStepper::actionAt(double x) const {
    if (x < glyphZone) {
        return SliderSingleStepSub;
    }
    if (x >= width() - glyphZone) {
        return SliderSingleStepAdd;
    }
    return SliderNoAction;
}

void ParamStepper::mousePressEvent(QMouseEvent* event) {
    const auto action = actionAt(event->position().x());
    if (event->button() != Qt::LeftButton || action == SliderNoAction) {
        event->ignore();
        return;
    }
    event->accept();
    triggerAction(action);
    setRepeatAction(action);
}

void ParamStepper::mouseMoveEvent(QMouseEvent* event) {
    event->accept(); // nothing to drag
}

void ParamStepper::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    setRepeatAction(SliderNoAction);
}

void ParamStepper::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = rect();
    // An end that cannot step further is faint.
    const auto glyph = [&](Symbol symbol, double left, bool canStep) {
        const QRectF square(left + (glyphZone - glyphSize) / 2, (area.height() - glyphSize) / 2,
                            glyphSize, glyphSize);
        paintSymbol(painter, symbol, square, style::accent(canStep ? 1.0 : 0.35));
    };
    glyph(Symbol::minus, 0.0, value() > minimum());
    glyph(Symbol::plus, area.width() - glyphZone, value() < maximum());

    painter.setFont(font());
    painter.setPen(style::secondary(palette()));
    painter.drawText(area.adjusted(glyphZone, 0, -glyphZone, 0), Qt::AlignCenter, valueText());

    style::paintFocusRing(painter, *this, area, focusRingRadius);
}

} // namespace quellora
