// Idle suspend: while no other process plays, both IOProcs stop so that the
// audio server can idle; the generation stays built and IO restarts as soon
// as something plays on the output device again.

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
        if (pid != ownPID) {
            return true;
        }
    }
    return false;
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

void AudioEngine::activityTick() {
    if (!isRunning_.get()) {
        return;
    }
    // The elapsed time always counts as one interval, however late the tick.
    switch (activityGate.update(audioSourceActive(), 1.0, ioSuspended_.get())) {
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
    const auto status = hal.deviceStop(aggregateDeviceID, *deviceProcID);
    if (status != kAudioHardwareNoError) {
        log.error("Idle suspend AudioDeviceStop failed, OSStatus=%{public}d; staying live", status);
        return;
    }
    if (outputProcID) {
        hal.deviceStop(outputProcDeviceID, *outputProcID);
    }
    setIOSuspended(true);
    stopActivityMonitor();
    io_->compressor.reset();
    installDeviceRunningListener();
    log.notice("IO suspended (no audio sources) — coreaudiod idle until playback resumes");
}

void AudioEngine::installDeviceRunningListener() {
    removeDeviceRunningListener();
    if (outputDeviceID == 0) {
        return;
    }
    const auto device = outputDeviceID;
    OSStatus status = kAudioHardwareNoError;
    deviceRunningListener = addListener(
        device, AudioProperty::deviceIsRunningSomewhere,
        [this, device] {
            if (device != 0 &&
                audioObjectUInt32(hal, device, AudioProperty::deviceIsRunningSomewhere,
                                  AudioScope::global)
                        .value_or(0) != 0) {
                resumeIO();
            }
        },
        status);
    if (!deviceRunningListener) {
        log.error("DeviceIsRunningSomewhere listener install failed, OSStatus=%{public}d; falling "
                  "back to poll",
                  status);
        startActivityMonitor();
        return;
    }
    deviceRunningListenerDeviceID = device;
}

void AudioEngine::removeDeviceRunningListener() {
    removeListener(deviceRunningListener, deviceRunningListenerDeviceID,
                   AudioProperty::deviceIsRunningSomewhere);
}

void AudioEngine::resumeIO() {
    if (!isRunning_.get() || !ioSuspended_.get() || !deviceProcID || aggregateDeviceID == 0) {
        return;
    }
    removeDeviceRunningListener();
    auto& io = *io_;
    io.compressor.prepareForResume();
    io.ring.reset();
    io._ringStarted.store(false, std::memory_order_relaxed);
    io._fadeInRemaining.store(EngineIOState::fadeInFrames, std::memory_order_relaxed);

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
