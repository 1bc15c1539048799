#pragma once

namespace quellora {

enum class LowVolumeVerdict { showWarning, clearWarning, noChange };

// Notices an application whose own volume is turned far down: the input has
// stayed below a healthy peak for a long time without being silent. Silence
// pauses the quiet clock; only a healthy peak resets it.
struct LowVolumeDetector {
    float silenceFloorDb = -55.0f;
    float healthyPeakDb = -16.0f;
    double warnWindowS = 90.0;
    double clearOnSilenceS = 1.5;
    double secondsSinceHealthyPeak = 0.0;
    double silenceDurationS = 0.0;

    void reset() {
        secondsSinceHealthyPeak = 0.0;
        silenceDurationS = 0.0;
    }

    LowVolumeVerdict update(float windowPeakDb, double dt, bool currentWarning) {
        if (windowPeakDb >= healthyPeakDb) {
            secondsSinceHealthyPeak = 0.0;
            silenceDurationS = 0.0;
            return currentWarning ? LowVolumeVerdict::clearWarning : LowVolumeVerdict::noChange;
        }
        if (windowPeakDb <= silenceFloorDb) {
            silenceDurationS += dt;
            return silenceDurationS >= clearOnSilenceS && currentWarning
                       ? LowVolumeVerdict::clearWarning
                       : LowVolumeVerdict::noChange;
        }
        // Quiet, or a peak that is not a number.
        silenceDurationS = 0.0;
        secondsSinceHealthyPeak += dt;
        return secondsSinceHealthyPeak >= warnWindowS && !currentWarning
                   ? LowVolumeVerdict::showWarning
                   : LowVolumeVerdict::noChange;
    }
};

} // namespace quellora
