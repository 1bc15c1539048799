#include "ui/panel/prominent_button.h"

#include "ui/panel/accessible_factory.h"
#include "ui/panel/button_accessible.h"
#include "ui/panel/panel_paint.h"

#include <QFontMetrics>
#include <QPainter>

namespace quellora {
namespace {

constexpr int controlHeight = 28;
constexpr double cornerRadius = 7.0;

} // namespace

ProminentButton::ProminentButton(int verticalPadding, QWidget* parent)
    : QAbstractButton(parent)
    , verticalPadding_(verticalPadding) {
    setFont(style::systemFont(13, QFont::Medium));
    useAccessibleInterface<ProminentButton, ButtonAccessible>();
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize ProminentButton::sizeHint() const {
    const QFontMetrics metrics(font());
    return QSize(metrics.horizontalAdvance(text()) + 24,
                 std::max(controlHeight, metrics.height() + 10) + 2 * verticalPadding_);
}

void ProminentButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF shape(rect());
    painter.setPen(Qt::NoPen);
    painter.setBrush(isDown() ? style::accent().darker(120) : style::accent());
    painter.drawRoundedRect(shape, cornerRadius, cornerRadius);
    painter.setPen(Qt::white);
    painter.drawText(shape, Qt::AlignCenter, text());
    if (style::hasKeyboardFocus(*this)) {
        painter.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.6f), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(shape.adjusted(2, 2, -2, -2), cornerRadius - 2, cornerRadius - 2);
    }
}

} // namespace quellora
