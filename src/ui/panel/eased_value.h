#pragma once

#include <QObject>
#include <QVariantAnimation>
#include <functional>

class QEasingCurve;
class QWidget;

namespace quellora {

// The curve every transition of the panel follows: slow start, slow end
// (cubic Bézier through (0.42, 0) and (0.58, 1)).
QEasingCurve easeInOut();

// Durations of the panel's transitions.
inline constexpr int fadeDurationMs = 300;   // content opacity, logo
inline constexpr int switchDurationMs = 180; // a switch's knob and track

// A number that eases to each new target over a fixed duration, handing every
// intermediate value to `apply`. While `owner` is hidden there is nothing to
// watch, so the value jumps to its target at once.
class EasedValue : public QObject {
    Q_OBJECT
public:
    EasedValue(QWidget& owner, int durationMs, double initial, std::function<void(double)> apply);

    void setTarget(double target);
    double value() const { return value_; }
    // Runs an animation under way to its end (for tests and screenshots).
    void finish();

private:
    void show(double value);

    QWidget& owner_;
    QVariantAnimation animation_;
    std::function<void(double)> apply_;
    double target_;
    double value_;
};

// Gives `section` an opacity that eases to each new target. Fully opaque,
// the effect steps aside: the section then paints straight to the panel, as
// often as its live displays redraw, with nothing in between.
EasedValue* fadeable(QWidget& section);

} // namespace quellora
