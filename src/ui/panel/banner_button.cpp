#include "ui/panel/banner_button.h"

#include "ui/panel/accessible_factory.h"
#include "ui/panel/button_accessible.h"
#include "ui/panel/indeterminate_bar.h"
#include "ui/views/ui_style.h"

#include <QFontMetricsF>
#include <QPainter>
#include <cmath>

namespace quellora {
namespace {

constexpr double horizontalPadding = 10.0;
constexpr double verticalPadding = 7.0;
constexpr double spacing = 6.0;

QFont textFont() {
    return style::systemFont(11, QFont::Medium);
}
QFont trailingFont() {
    return style::systemFont(11);
}

} // namespace

BannerButton::BannerButton(Look look, QWidget* parent)
    : QAbstractButton(parent)
    , look_(std::move(look))
    , bar_(new IndeterminateBar(this)) {
    useAccessibleInterface<BannerButton, ButtonAccessible>();
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    bar_->hide();
}

void BannerButton::setContent(Symbol symbol, const QString& text, const QString& trailingText) {
    symbol_ = symbol;
    trailingText_ = trailingText;
    setText(text);
    update();
}

void BannerButton::setBarShown(bool shown) {
    bar_->setVisible(shown);
    placeBar();
    updateGeometry();
}

double BannerButton::rowHeight() const {
    return std::max(look_.symbolSize, QFontMetricsF(textFont()).height());
}

QSize BannerButton::sizeHint() const {
    const QFontMetricsF metrics(textFont());
    double width =
        2 * horizontalPadding + look_.symbolSize + spacing + metrics.horizontalAdvance(text());
    if (!trailingText_.isEmpty()) {
        width += spacing + QFontMetricsF(trailingFont()).horizontalAdvance(trailingText_);
    }
    double height = 2 * verticalPadding + rowHeight();
    if (!bar_->isHidden()) {
        height += spacing + bar_->height();
    }
    return QSize(static_cast<int>(std::ceil(width)), static_cast<int>(std::ceil(height)));
}

QSize BannerButton::minimumSizeHint() const {
    return QSize(0, sizeHint().height());
}

void BannerButton::resizeEvent(QResizeEvent*) {
    placeBar();
}

void BannerButton::placeBar() {
    const double top = verticalPadding + rowHeight() + spacing;
    bar_->setGeometry(static_cast<int>(horizontalPadding), static_cast<int>(std::lround(top)),
                      static_cast<int>(width() - 2 * horizontalPadding), bar_->height());
}

void BannerButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    style::paintRoundedBox(painter, QRectF(rect()), look_.background);
    if (isDown()) {
        painter.setOpacity(0.6);
    }

    const QColor foreground = look_.foreground(palette());
    const double middle = verticalPadding + rowHeight() / 2;
    const QRectF symbol(horizontalPadding, middle - look_.symbolSize / 2, look_.symbolSize,
                        look_.symbolSize);
    paintSymbol(painter, symbol_, symbol, foreground);

    const auto baseline = [middle](const QFontMetricsF& metrics) {
        return middle - metrics.height() / 2 + metrics.ascent();
    };
    const QFontMetricsF textMetrics(textFont());
    painter.setPen(foreground);
    painter.setFont(textFont());
    painter.drawText(QPointF(symbol.right() + spacing, baseline(textMetrics)), text());
    if (!trailingText_.isEmpty()) {
        const QFontMetricsF trailingMetrics(trailingFont());
        painter.setFont(trailingFont());
        painter.drawText(
            QPointF(width() - horizontalPadding - trailingMetrics.horizontalAdvance(trailingText_),
                    baseline(trailingMetrics)),
            trailingText_);
    }
    style::paintFocusRing(painter, *this, QRectF(rect()), style::boxCornerRadius);
}

} // namespace quellora
