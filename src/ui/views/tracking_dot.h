#pragma once

#include "dsp/level_sample.h"

#include <QPointF>
#include <cstdint>
#include <vector>

namespace quellora {

// What the dot on the curve shows: the live input level, silence, or that
// compression is off.
enum class DotState { active, idle, disabled };

// How many recent samples the dot's trail covers (the newest is the dot).
constexpr std::int64_t trailCount = 12;

// Below this input peak a sample counts as silence.
constexpr float silenceThresholdDb = -60.0f;

struct DotTarget {
    DotState state;
    float inputDb; // where on the curve the dot goes
};

// The dot's state and input level from the recent samples (oldest first):
// the newest input peak, limited to the plot, while anything is audible;
// otherwise the bottom of the plot.
DotTarget dotTarget(const std::vector<LevelSample>& recent, bool isEnabled);

// The idle dot's glow, slowly pulsing with `breathePhase` (seconds).
struct BreathingGlow {
    double glowDiameter;
    double glowOpacity;
    double coreOpacity;
};
BreathingGlow breathingGlow(double breathePhase);

// One circle of the trail behind the active dot, at the curve point of
// `inputDb`; older ones are smaller and fainter.
struct TrailDot {
    float inputDb;
    double radius;
    double opacity;
};
// Every sample but the newest, oldest first; none for fewer than 2 samples.
std::vector<TrailDot> trailDots(const std::vector<LevelSample>& recent);

// The dot's motion toward its target: a spring of mass 1, stiffness 300 and
// damping 22 on each axis, stepped at a fixed rate so that its path does not
// depend on the frame rate. A new target keeps the current velocity, so a
// dot retargeted in flight moves on smoothly.
class DotSpring {
public:
    static constexpr double mass = 1.0;
    static constexpr double stiffness = 300.0;
    static constexpr double damping = 22.0;
    static constexpr double stepSeconds = 1.0 / 240.0;

    // Puts the dot at `position`, at rest there.
    void place(QPointF position);
    void setTarget(QPointF target);
    // Moves the dot on by `seconds`, in whole steps; the remainder carries
    // over to the next call. Once close enough and slow enough the dot
    // settles exactly on its target.
    void advance(double seconds);

    QPointF position() const { return position_; }
    bool isMoving() const { return moving_; }

private:
    void step();

    QPointF position_;
    QPointF velocity_;
    QPointF target_;
    double pendingSeconds_ = 0.0;
    bool moving_ = false;
};

} // namespace quellora
