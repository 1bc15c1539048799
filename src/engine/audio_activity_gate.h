#pragma once

namespace quellora {

enum class AudioActivityAction { suspend, resume, none };

// Decides from the monitor's ticks when IO should be suspended for idleness
// and when it should resume.
struct AudioActivityGate {
    double suspendAfterIdleS = 2.0;
    double idleDurationS = 0.0;

    AudioActivityAction update(bool audioActive, double dt, bool suspended) {
        if (audioActive) {
            idleDurationS = 0.0;
            return suspended ? AudioActivityAction::resume : AudioActivityAction::none;
        }
        if (suspended) {
            return AudioActivityAction::none;
        }
        idleDurationS += dt;
        return suspendAfterIdleS <= idleDurationS ? AudioActivityAction::suspend
                                                  : AudioActivityAction::none;
    }

    void reset() { idleDurationS = 0.0; }
};

} // namespace quellora
