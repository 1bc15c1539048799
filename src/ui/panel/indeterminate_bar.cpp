#include "ui/panel/indeterminate_bar.h"

#include "ui/panel/accessible_factory.h"
#include "ui/views/ui_style.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QDateTime>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace quellora {
namespace {

constexpr double sweepSeconds = 1.1;
constexpr int framesPerSecond = 30;

class HiddenBarAccessible final : public QAccessibleWidget {
public:
    explicit HiddenBarAccessible(QWidget* bar)
        : QAccessibleWidget(bar, QAccessible::Animation) {}
    QAccessible::State state() const override {
        auto state = QAccessibleWidget::state();
        state.invisible = true;
        return state;
    }
};

} // namespace

BarSegment indeterminateSegment(double barWidth, double seconds) {
    const double phase = std::fmod(seconds, sweepSeconds) / sweepSeconds;
    const double width = std::max(0.4 * barWidth, 24.0);
    return {(barWidth + width) * phase - width, width};
}

IndeterminateBar::IndeterminateBar(QWidget* parent)
    : QWidget(parent) {
    useAccessibleInterface<IndeterminateBar, HiddenBarAccessible>();
    setFixedHeight(3);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    timer_.setInterval(1000 / framesPerSecond);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

void IndeterminateBar::showEvent(QShowEvent*) {
    timer_.start();
}

void IndeterminateBar::hideEvent(QHideEvent*) {
    timer_.stop();
}

void IndeterminateBar::paintEvent(QPaintEvent*) {
    const QRectF track(rect());
    const double radius = track.height() / 2;
    QPainterPath capsule;
    capsule.addRoundedRect(track, radius, radius);

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipPath(capsule);
    painter.fillRect(track, style::accent(0.18));

    const double now = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    const auto segment = indeterminateSegment(track.width(), now);
    painter.setPen(Qt::NoPen);
    painter.setBrush(style::accent());
    painter.drawRoundedRect(QRectF(segment.offset, 0, segment.width, track.height()), radius,
                            radius);
}

} // namespace quellora
