#include "ui/panel/panel_paint.h"

#include "ui/views/ui_style.h"

#include <QPainter>
#include <QWidget>

namespace quellora::style {

QColor blend(const QColor& from, const QColor& to, double amount) {
    const auto mix = [amount](float a, float b) {
        return static_cast<float>(a + (b - a) * static_cast<float>(amount));
    };
    return QColor::fromRgbF(mix(from.redF(), to.redF()), mix(from.greenF(), to.greenF()),
                            mix(from.blueF(), to.blueF()), mix(from.alphaF(), to.alphaF()));
}

void paintRoundedBox(QPainter& painter, const QRectF& rect, const QColor& fill) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(rect, boxCornerRadius, boxCornerRadius);
    painter.restore();
}

bool hasKeyboardFocus(const QWidget& control) {
    return control.hasFocus() && control.window()->testAttribute(Qt::WA_KeyboardFocusChange);
}

void paintFocusRing(QPainter& painter, const QWidget& control, const QRectF& rect,
                    double cornerRadius) {
    if (!hasKeyboardFocus(control)) {
        return;
    }
    constexpr double width = 1.5;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(accent(0.6), width));
    painter.setBrush(Qt::NoBrush);
    const auto ring = rect.adjusted(width / 2, width / 2, -width / 2, -width / 2);
    painter.drawRoundedRect(ring, cornerRadius, cornerRadius);
    painter.restore();
}

} // namespace quellora::style
