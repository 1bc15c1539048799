#include "ui/panel/box_frame.h"

#include "ui/panel/panel_paint.h"

#include <QPainter>

namespace quellora {

BoxFrame::BoxFrame(const QColor& fill, QWidget* parent)
    : QWidget(parent)
    , fill_(fill) {}

void BoxFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    style::paintRoundedBox(painter, QRectF(rect()), fill_);
}

} // namespace quellora
