// Idle suspend: while no other process plays, both IOProcs stop so that the
// audio server can idle; the generation stays built and IO restarts as soon
// as a running source plays into the tap again. Whatever plays must be
// heard: the resume is driven by what the tap receives, checked again right
// after the listener is armed and once a second while suspended, and IO stays
// live wherever the server cannot tell.

#include "engine/audio_engine.h"
#include "engine/device_queries.h"

#include <vector>

namespace quellora {
namespace {

constexpr auto activityInterval = seconds(1.0);
constexpr auto activityLeeway = seconds(0.25);

} // namespace

void AudioEngine::setIOSuspended(bool suspended) {
    io_->ioSuspended.store(suspended, std::memory_order_relaxed);
    ioSuspended_.set(suspended);
}

bool AudioEngine::audioSourceActive() {
    const auto ownPID = hal.ownProcessID();
    for (const auto process : readProcessObjectList(hal)) {
        const auto running = audioObjectUInt32(hal, process, AudioProperty::processIsRunningOutput,
                                               AudioScope::global);
        if (!running || *running == 0) {
            continue;
        }
        std::int32_t pid = -1;
        std::uint32_t pidSize = sizeof pid;
        hal.getPropertyData(process, {AudioProperty::processPID, AudioScope::global, 0}, pidSize,
                            &pid);
        if (pid != ownPID && takenByTap(process)) {
            return true;
        }
    }
    return false;
}

// An application that plays around the tap is no source: a long call sent
// direct must not keep the pipeline processing silence.
bool AudioEngine::takenByTap(AudioObjectID process) {
    if (!tapDescription) {
        return true;
    }
    const auto reason = static_cast<DirectOutputReason>(
        audioObjectUInt32(hal, process, AudioProperty::processDirectOutputReason,
                          AudioScope::global)
            .value_or(0));
    return tapTakesProcess(
        *tapDescription, process,
        audioObjectString(hal, process, AudioProperty::processBundleID).value_or(""), reason);
}

std::optional<bool> AudioEngine::tapReceivesAudio() {
    if (tapID == 0) {
        return std::nullopt;
    }
    const auto running =
        audioObjectUInt32(hal, tapID, AudioProperty::tapHasRunningSource, AudioScope::global);
    return running ? std::optional(*running != 0) : std::nullopt;
}

void AudioEngine::startActivityMonitor() {
    stopActivityMonitor();
    activityTimer =
        mainQueue.startRepeatingTimer(activityInterval, activityInterval, activityLeeway,
                                      lifetime.guard([this] { activityTick(); }));
}

void AudioEngine::stopActivityMonitor() {
    if (activityTimer) {
        activityTimer->cancel();
        activityTimer.reset();
    }
}

// Runs while IO is live and, as the fail-safe behind the tap listener, while
// it is suspended: a notification that never came must not leave audio in
// the tap unheard. A tick costs a few property reads on the main thread and
// wakes no IO.
void AudioEngine::activityTick() {
    if (!isRunning_.get()) {
        return;
    }
    const bool suspended = ioSuspended_.get();
    const bool active = suspended ? tapReceivesAudio().value_or(true)
                                  : audioSourceActive() || tapReceivesAudio().value_or(false);
    // The elapsed time always counts as one interval, however late the tick.
    switch (activityGate.update(active, 1.0, suspended)) {
    case AudioActivityAction::suspend:
        suspendIO();
        break;
    case AudioActivityAction::resume:
        resumeIO();
        break;
    case AudioActivityAction::none:
        break;
    }
}

void AudioEngine::suspendIO() {
    if (!isRunning_.get() || ioSuspended_.get() || !deviceProcID || aggregateDeviceID == 0) {
        return;
    }
    // Without word from the tap nothing could tell when to resume.
    if (!tapReceivesAudio()) {
        log.debug("Staying live: the tap cannot tell when playback starts");
        return;
    }
    const auto status = hal.deviceStop(aggregateDeviceID, *deviceProcID);
    if (status != kAudioHardwareNoError) {
        log.error("Idle suspend AudioDeviceStop failed, OSStatus=%{public}d; staying live", status);
        return;
    }
    if (outputProcID) {
        hal.deviceStop(outputProcDeviceID, *outputProcID);
    }
    setIOSuspended(true);
    io_->compressor.reset();
    installTapSourceListener();
    log.notice("IO suspended (no audio sources) — the output can idle until playback resumes");
    // A source that started while IO was stopping changed nothing the
    // listener could hear of.
    if (tapReceivesAudio().value_or(true)) {
        resumeIO();
    }
}

void AudioEngine::installTapSourceListener() {
    removeTapSourceListener();
    const auto tap = tapID;
    OSStatus status = kAudioHardwareNoError;
    tapSourceListener = addListener(
        tap, AudioProperty::tapHasRunningSource,
        [this] {
            if (tapReceivesAudio().value_or(true)) {
                resumeIO();
            }
        },
        status);
    if (!tapSourceListener) {
        // The activity monitor's tick resumes IO instead, within a second.
        log.error("Tap source listener install failed, OSStatus=%{public}d; falling back to poll",
                  status);
        return;
    }
    tapSourceListenerTapID = tap;
}

void AudioEngine::removeTapSourceListener() {
    removeListener(tapSourceListener, tapSourceListenerTapID, AudioProperty::tapHasRunningSource);
}

void AudioEngine::resumeIO() {
    if (!isRunning_.get() || !ioSuspended_.get() || !deviceProcID || aggregateDeviceID == 0) {
        return;
    }
    removeTapSourceListener();
    auto& io = *io_;
    io.chain.prepareForResume();
    io.ring.reset();
    io._ringStarted.store(false, std::memory_order_relaxed);
    io._fadeInRemaining.store(EngineIOState::fadeInFrames, std::memory_order_relaxed);
    io._fadeInWaitsForTap.store(true, std::memory_order_relaxed);

    auto status = kAudioHardwareNoError;
    if (outputProcID) {
        status = hal.deviceStart(outputProcDeviceID, *outputProcID);
    }
    if (status == kAudioHardwareNoError) {
        status = hal.deviceStart(aggregateDeviceID, *deviceProcID);
    }
    if (status != kAudioHardwareNoError) {
        log.error("Idle resume AudioDeviceStart failed, OSStatus=%{public}d; rebuilding", status);
        setIOSuspended(false);
        rebuildPipeline("idle resume failure");
        return;
    }
    setIOSuspended(false);
    activityGate.reset();
    startActivityMonitor();
    log.notice("IO resumed (audio source active)");
}

} // namespace quellora
