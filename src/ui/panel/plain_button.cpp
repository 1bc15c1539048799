#include "ui/panel/plain_button.h"

#include "ui/panel/accessible_factory.h"
#include "ui/panel/button_accessible.h"
#include "ui/views/ui_style.h"

#include <QFontMetricsF>
#include <QPainter>
#include <cmath>

namespace quellora {

PlainButton::PlainButton(QWidget* parent)
    : QAbstractButton(parent)
    , textFont_(style::systemFont(12))
    , textTint_(&style::primaryText) {
    useAccessibleInterface<PlainButton, ButtonAccessible>();
    setFocusPolicy(Qt::TabFocus);
}

void PlainButton::setSymbol(Symbol symbol, double size, style::Tint tint) {
    symbol_ = Symbolic{symbol, size, std::move(tint)};
    updateGeometry();
    update();
}

void PlainButton::setTextStyle(const QFont& font, style::Tint tint) {
    textFont_ = font;
    textTint_ = std::move(tint);
    updateGeometry();
    update();
}

void PlainButton::setHint(const QString& hint, const QFont& font, style::Tint tint) {
    hint_ = hint;
    hintFont_ = font;
    hintTint_ = std::move(tint);
    updateGeometry();
    update();
}

void PlainButton::setSpacing(double spacing) {
    spacing_ = spacing;
    updateGeometry();
}

void PlainButton::setPadding(double horizontal, double vertical) {
    horizontalPadding_ = horizontal;
    verticalPadding_ = vertical;
    updateGeometry();
}

double PlainButton::contentHeight() const {
    double height = symbol_ ? symbol_->size : 0.0;
    if (!text().isEmpty()) {
        height = std::max(height, QFontMetricsF(textFont_).height());
    }
    if (!hint_.isEmpty()) {
        height = std::max(height, QFontMetricsF(hintFont_).height());
    }
    return height;
}

QSize PlainButton::sizeHint() const {
    double width = 0.0;
    const auto append = [&](double itemWidth) {
        width += (width > 0.0 ? spacing_ : 0.0) + itemWidth;
    };
    if (symbol_) {
        append(symbol_->size);
    }
    if (!text().isEmpty()) {
        append(QFontMetricsF(textFont_).horizontalAdvance(text()));
    }
    if (!hint_.isEmpty()) {
        append(QFontMetricsF(hintFont_).horizontalAdvance(hint_));
    }
    return QSize(static_cast<int>(std::ceil(width + 2 * horizontalPadding_)),
                 static_cast<int>(std::ceil(contentHeight() + 2 * verticalPadding_)));
}

void PlainButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isDown()) {
        painter.setOpacity(0.6);
    }
    const double middle = height() / 2.0;
    double x = horizontalPadding_;
    const auto advance = [&](double itemWidth) {
        x += itemWidth + spacing_;
    };

    if (symbol_) {
        const QRectF square(x, middle - symbol_->size / 2, symbol_->size, symbol_->size);
        paintSymbol(painter, symbol_->symbol, square, symbol_->tint(palette()));
        advance(symbol_->size);
    }
    const auto drawText = [&](const QString& text, const QFont& font, const style::Tint& tint) {
        const QFontMetricsF metrics(font);
        painter.setFont(font);
        painter.setPen(tint(palette()));
        painter.drawText(QPointF(x, middle - metrics.height() / 2 + metrics.ascent()), text);
        advance(metrics.horizontalAdvance(text));
    };
    if (!text().isEmpty()) {
        drawText(text(), textFont_, textTint_);
    }
    if (!hint_.isEmpty()) {
        drawText(hint_, hintFont_, hintTint_);
    }
    style::paintFocusRing(painter, *this, QRectF(rect()), 4.0);
}

} // namespace quellora
