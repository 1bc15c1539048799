#include "ui/views/tracking_dot.h"

#include "ui/views/curve_plot.h"

#include <algorithm>
#include <cmath>

namespace quellora {
namespace {

constexpr double breathingRate = 1.2; // radians per second

// Settling limits, in dB and dB per second: far below a pixel.
constexpr double restDistance = 1e-3;
constexpr double restSpeed = 1e-2;
constexpr double stepTolerance = 1e-9; // seconds

float clampedToPlot(float db) {
    return std::clamp(db, CurvePlot::dbMin, CurvePlot::dbMax);
}

} // namespace

DotTarget dotTarget(const std::vector<LevelSample>& recent, bool isEnabled) {
    if (!isEnabled) {
        return {DotState::disabled, CurvePlot::dbMin};
    }
    const bool audible = std::any_of(recent.begin(), recent.end(), [](const LevelSample& sample) {
        return sample.inputPeak > silenceThresholdDb;
    });
    if (!audible) {
        return {DotState::idle, CurvePlot::dbMin};
    }
    return {DotState::active, clampedToPlot(recent.back().inputPeak)};
}

BreathingGlow breathingGlow(double breathePhase) {
    const double wave = std::sin(breathingRate * breathePhase);
    const double brightness = 0.3 + 0.2 * wave;
    return {12.0 + 4.0 * wave, brightness * 0.15, brightness};
}

std::vector<TrailDot> trailDots(const std::vector<LevelSample>& recent) {
    std::vector<TrailDot> trail;
    if (recent.size() < 2) {
        return trail;
    }
    const auto last = static_cast<double>(recent.size() - 2);
    trail.reserve(recent.size() - 1);
    for (std::size_t i = 0; i + 1 < recent.size(); ++i) {
        const double t = 1.0 - (last - static_cast<double>(i)) / std::max(last, 1.0);
        trail.push_back({clampedToPlot(recent[i].inputPeak), 2.0 + 1.5 * t, 0.08 + 0.15 * t});
    }
    return trail;
}

void DotSpring::place(QPointF position) {
    position_ = position;
    target_ = position;
    velocity_ = {};
    pendingSeconds_ = 0.0;
    moving_ = false;
}

void DotSpring::setTarget(QPointF target) {
    target_ = target;
    moving_ = moving_ || target_ != position_;
}

void DotSpring::advance(double seconds) {
    if (!moving_) {
        return;
    }
    pendingSeconds_ += seconds;
    // Frames a rounding error short of whole steps still take them.
    while (moving_ && pendingSeconds_ >= stepSeconds - stepTolerance) {
        pendingSeconds_ -= stepSeconds;
        step();
    }
}

// Semi-implicit Euler: stable and accurate at a step this far below the
// spring's period of about half a second.
void DotSpring::step() {
    const QPointF force = stiffness * (target_ - position_) - damping * velocity_;
    velocity_ += force / mass * stepSeconds;
    position_ += velocity_ * stepSeconds;
    const QPointF offset = target_ - position_;
    if (std::hypot(offset.x(), offset.y()) < restDistance &&
        std::hypot(velocity_.x(), velocity_.y()) < restSpeed) {
        place(target_);
    }
}

} // namespace quellora
