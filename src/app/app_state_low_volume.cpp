// The low-volume warning: an application turned far down leaves the input
// quiet for a long time; the panel then suggests raising it.

#include "app/app_state.h"

#include <algorithm>

namespace quellora {
namespace {

constexpr auto monitorInterval = seconds(0.5);
constexpr auto monitorLeeway = seconds(0.2);
constexpr double monitorStepS = 0.5;
constexpr std::int64_t windowSamples = 96;
constexpr float silenceDb = -80.0f;

} // namespace

void AppState::startLowVolumeMonitor() {
    stopLowVolumeMonitor();
    lowVolumeWarning_.set(false);
    lowVolumeWarningDismissed = false;
    lowVolumeDetector.reset();
    lowVolumeMonitorTimer =
        services.mainQueue.startRepeatingTimer(monitorInterval, monitorInterval, monitorLeeway,
                                               lifetime.guard([this] { checkLowVolume(); }));
}

void AppState::stopLowVolumeMonitor() {
    if (lowVolumeMonitorTimer) {
        lowVolumeMonitorTimer->cancel();
        lowVolumeMonitorTimer.reset();
    }
    lowVolumeWarning_.set(false);
}

void AppState::checkLowVolume() {
    if (mode_.get() != AppMode::on() || !engine_->isRunning().get()) {
        return;
    }
    // What the applications send, before any stage: a leveller ahead of the
    // compressor would make a far turned-down application read as healthy.
    float windowPeak = silenceDb;
    for (const auto& sample :
         engine_->processingChain().sourceLevels().recentSamples(windowSamples)) {
        windowPeak = std::max(windowPeak, sample.inputPeak);
    }
    // Always the nominal step, however late the tick came.
    switch (lowVolumeDetector.update(windowPeak, monitorStepS, lowVolumeWarning_.get())) {
    case LowVolumeVerdict::showWarning:
        if (!lowVolumeWarningDismissed) {
            log.info("Low volume warning shown, quietFor=%{public}fs",
                     lowVolumeDetector.secondsSinceHealthyPeak);
            lowVolumeWarning_.set(true);
        }
        break;
    case LowVolumeVerdict::clearWarning:
        log.info("Low volume warning cleared");
        lowVolumeWarning_.set(false);
        break;
    case LowVolumeVerdict::noChange:
        break;
    }
}

void AppState::dismissLowVolumeWarning() {
    lowVolumeWarning_.set(false);
    lowVolumeWarningDismissed = true;
}

} // namespace quellora
