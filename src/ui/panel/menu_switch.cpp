#include "ui/panel/menu_switch.h"

#include "ui/panel/accessible_factory.h"
#include "ui/panel/button_accessible.h"
#include "ui/panel/eased_value.h"
#include "ui/panel/panel_paint.h"
#include "ui/views/ui_style.h"

#include <QPainter>
#include <cmath>

namespace quellora {

MenuSwitch::MenuSwitch(QSizeF size, QWidget* parent)
    : QAbstractButton(parent)
    , size_(size)
    , position_(new EasedValue(*this, switchDurationMs, 0.0, [this](double) { update(); })) {
    useAccessibleInterface<MenuSwitch, ButtonAccessible>();
    setCheckable(true);
    setFocusPolicy(Qt::TabFocus);
    setFixedSize(sizeHint());
}

QSize MenuSwitch::sizeHint() const {
    return QSize(static_cast<int>(std::ceil(size_.width())),
                 static_cast<int>(std::ceil(size_.height())));
}

void MenuSwitch::checkStateSet() {
    position_->setTarget(isChecked() ? 1.0 : 0.0);
}

void MenuSwitch::paintEvent(QPaintEvent*) {
    const auto geometry = menuSwitchGeometry(size_);
    const double progress = position_->value();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isDown()) {
        painter.setOpacity(0.85);
    }

    const QRectF track(QPointF(0, 0), size_);
    const double radius = size_.height() / 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(style::blend(style::primary(palette(), 0.18), style::accent(), progress));
    painter.drawRoundedRect(track, radius, radius);

    const QRectF knob(geometry.inset + geometry.travel * progress, geometry.inset, geometry.knob,
                      geometry.knob);
    // A soft shadow half a point below the knob.
    painter.setBrush(QColor::fromRgbF(0, 0, 0, 0.25f));
    painter.drawEllipse(knob.translated(0, 0.5).adjusted(-0.25, -0.25, 0.25, 0.25));
    painter.setBrush(Qt::white);
    painter.drawEllipse(knob);

    style::paintFocusRing(painter, *this, track, radius);
}

} // namespace quellora
