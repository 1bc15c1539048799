#include "ui/panel/circle_badge.h"

#include <QPainter>

namespace quellora {

CircleBadge::CircleBadge(int diameter, Look look, QWidget* parent)
    : QWidget(parent)
    , look_(std::move(look)) {
    setFixedSize(diameter, diameter);
}

void CircleBadge::setLook(Look look) {
    look_ = std::move(look);
    update();
}

void CircleBadge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(look_.fill);
    painter.drawEllipse(QRectF(rect()));
    if (look_.symbol) {
        const double size = look_.symbolSize;
        paintSymbol(painter, *look_.symbol,
                    QRectF((width() - size) / 2, (height() - size) / 2, size, size),
                    look_.symbolColour);
    }
}

} // namespace quellora
