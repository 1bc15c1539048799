#include "ui/panel/eased_value.h"

#include <QEasingCurve>
#include <QGraphicsOpacityEffect>
#include <QWidget>

namespace quellora {

QEasingCurve easeInOut() {
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.42, 0.0), QPointF(0.58, 1.0), QPointF(1.0, 1.0));
    return curve;
}

EasedValue::EasedValue(QWidget& owner, int durationMs, double initial,
                       std::function<void(double)> apply)
    : QObject(&owner)
    , owner_(owner)
    , apply_(std::move(apply))
    , target_(initial)
    , value_(initial) {
    animation_.setDuration(durationMs);
    animation_.setEasingCurve(easeInOut());
    connect(&animation_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { show(value.toDouble()); });
    apply_(value_);
}

void EasedValue::setTarget(double target) {
    if (target == target_) {
        return;
    }
    target_ = target;
    animation_.stop();
    if (!owner_.isVisible()) {
        show(target);
        return;
    }
    animation_.setStartValue(value_);
    animation_.setEndValue(target);
    animation_.start();
}

void EasedValue::finish() {
    if (animation_.state() == QAbstractAnimation::Running) {
        animation_.setCurrentTime(animation_.duration());
    }
}

void EasedValue::show(double value) {
    value_ = value;
    apply_(value);
}

EasedValue* fadeable(QWidget& section) {
    auto* effect = new QGraphicsOpacityEffect(&section);
    section.setGraphicsEffect(effect);
    return new EasedValue(section, fadeDurationMs, 1.0, [effect](double opacity) {
        effect->setOpacity(opacity);
        effect->setEnabled(opacity < 1.0);
    });
}

} // namespace quellora
