#include "ui/panel/wave_logo_view.h"

#include "ui/panel/eased_value.h"
#include "ui/panel/panel_paint.h"
#include "ui/panel/symbol_glyphs.h"
#include "ui/views/ui_style.h"

#include <QPainter>

namespace quellora {

WaveLogoView::WaveLogoView(QWidget* parent)
    : QWidget(parent)
    , activity_(new EasedValue(*this, fadeDurationMs, 0.0, [this](double) { update(); })) {
    setFixedSize(sizeHint());
}

void WaveLogoView::setActive(bool active) {
    activity_->setTarget(active ? 1.0 : 0.0);
}

void WaveLogoView::paintEvent(QPaintEvent*) {
    const double activity = activity_->value();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(style::blend(style::primary(palette(), 0.06), style::accent(0.2), activity));
    painter.drawEllipse(QRectF(rect()));

    constexpr double symbolSize = 16.0;
    const QRectF symbol(QPointF(width() - symbolSize, height() - symbolSize) / 2,
                        QSizeF(symbolSize, symbolSize));
    paintSymbol(painter, Symbol::waveform, symbol,
                style::blend(style::primary(palette(), 0.3), style::accent(), activity));
}

} // namespace quellora
