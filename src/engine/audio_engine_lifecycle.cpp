// Start, stop and recovery: the pipeline is rebuilt in numbered generations,
// each built only once the same live default output has been seen on two
// checks in a row, and retried without end when its build fails.

#include "engine/audio_engine.h"
#include "engine/device_queries.h"
#include "engine/engine_error.h"

namespace quellora {
namespace {

constexpr auto aggregateAliveTimeout = seconds(2.0);

} // namespace

void AudioEngine::start() {
    if (isRunning_.get()) {
        return;
    }
    log.notice("Starting audio engine");
    isRunning_.set(true);
    if (!deviceChangeListener) {
        // Output changes go unnoticed until the next start tries again.
        OSStatus status = kAudioHardwareNoError;
        deviceChangeListener = addListener(
            kAudioObjectSystemObject, AudioProperty::defaultOutputDevice,
            [this] { handleDeviceChange(); }, status);
        if (!deviceChangeListener) {
            log.error("Default output listener install failed, OSStatus=%{public}d", status);
        }
    }
    startLoadLogging();
    startClickDebug();
    rebuildPipeline("engine start");
}

void AudioEngine::stop() {
    log.notice("Stopping audio engine");
    ++pipelineLifecycleGeneration;
    cancel(pendingPipelineRestart);
    stopActivityMonitor();
    removeTapSourceListener();
    setIOSuspended(false);
    io_->_fadeInRemaining.store(0, std::memory_order_relaxed);
    cancel(pendingRateRebuild);
    stopLoadLogging();
    stopClickDebug();
    AudioObjectID system = kAudioObjectSystemObject;
    removeListener(deviceChangeListener, system, AudioProperty::defaultOutputDevice);
    tearDownPipeline();
    isRunning_.set(false);
}

void AudioEngine::rebuildPipeline(const std::string& reason) {
    cancel(pendingRateRebuild);
    cancel(pendingPipelineRestart);
    const auto generation = ++pipelineLifecycleGeneration;
    disposePipelineForRestart();
    std::optional<std::string> expected;
    try {
        expected = getDefaultOutputDevice().uid;
    } catch (const EngineError&) {
    }
    log.notice("Audio pipeline generation %{public}ld disposed; waiting for stable output "
               "(reason=%{public}s)",
               generation, reason);
    schedulePipelineStart(generation, expected, 1, retry.settleDelay);
}

void AudioEngine::disposePipelineForRestart() {
    stopActivityMonitor();
    removeTapSourceListener();
    setIOSuspended(false);
    io_->_fadeInRemaining.store(0, std::memory_order_relaxed);
    tearDownPipeline();
    io_->chain.reset();
}

void AudioEngine::schedulePipelineStart(std::int64_t generation,
                                        std::optional<std::string> expectedOutputUID, int attempt,
                                        double delaySeconds) {
    pendingPipelineRestart = mainQueue.postAfter(
        seconds(delaySeconds),
        lifetime.guard([this, generation, expected = std::move(expectedOutputUID), attempt] {
            startPipelineGeneration(generation, expected, attempt);
        }));
}

void AudioEngine::startPipelineGeneration(std::int64_t generation,
                                          const std::optional<std::string>& expectedOutputUID,
                                          int attempt) {
    if (!isRunning_.get() || generation != pipelineLifecycleGeneration) {
        return;
    }
    pendingPipelineRestart.reset();

    std::optional<DefaultOutput> output;
    try {
        output = getDefaultOutputDevice();
    } catch (const EngineError&) {
    }
    const bool alive =
        output && output->id != 0 &&
        audioObjectUInt32(hal, output->id, AudioProperty::deviceIsAlive, AudioScope::global)
                .value_or(0) != 0;
    if (!alive) {
        log.debug("No live default output while settling generation %{public}ld; waiting",
                  generation);
        schedulePipelineStart(generation, std::nullopt, attempt, retry.settleDelay);
        return;
    }
    if (expectedOutputUID != output->uid) {
        log.debug("Default output still changing while settling generation %{public}ld; waiting",
                  generation);
        schedulePipelineStart(generation, output->uid, attempt, retry.settleDelay);
        return;
    }

    const BuildAttempt build{generation, output->uid, output->id, attempt};
    if (runBuildStep(build, [this] {
            createTap();
            createAggregateDevice();
        })) {
        awaitAggregate(build, mainQueue.now() + aggregateAliveTimeout);
    }
}

void AudioEngine::finishPipelineBuild(const BuildAttempt& build) {
    if (!runBuildStep(build, [this] {
            configureAggregateDevice();
            installIOCallbacks();
            startDevice();
        })) {
        return;
    }
    activityGate.reset();
    startActivityMonitor();
    currentOutput_.set(OutputDevice{
        build.outputUID, audioObjectString(hal, build.outputID, AudioProperty::objectName)
                             .value_or(build.outputUID)});
    pipelineStarted_.set(true);
    log.notice("Audio pipeline generation %{public}ld started on stable output %{public}s",
               build.generation, build.outputUID);
    if (onRunning) {
        onRunning();
    }
}

bool AudioEngine::runBuildStep(const BuildAttempt& build, const std::function<void()>& step) {
    try {
        step();
        return true;
    } catch (const EngineError& error) {
        const auto& message = error.errorDescription();
        log.error(
            "Audio pipeline generation %{public}ld start attempt %{public}ld failed: %{public}s",
            build.generation, build.attempt, message);
        disposePipelineForRestart();
        if (retry.shouldReport(build.attempt) && onFailed) {
            onFailed(message);
        }
        schedulePipelineStart(build.generation, build.outputUID, build.attempt + 1,
                              retry.delay(build.attempt));
        return false;
    }
}

void AudioEngine::handleDeviceChange() {
    if (!isRunning_.get()) {
        return;
    }
    log.notice("Output device changed, cold-restarting audio pipeline");
    rebuildPipeline("output device change");
}

void AudioEngine::handleSampleRateChange() {
    scheduleOutputFormatCheck();
}

// A profile switch changes the output's channels without another device
// becoming the default; the tap must follow them as it follows the rate.
void AudioEngine::handleChannelLayoutChange() {
    scheduleOutputFormatCheck();
}

// Rate and layout notifications come in bursts; only what holds 0.4 s later
// counts, and only if it differs from what the generation was built for.
void AudioEngine::scheduleOutputFormatCheck() {
    if (!isRunning_.get()) {
        return;
    }
    cancel(pendingRateRebuild);
    pendingRateRebuild = mainQueue.postAfter(seconds(retry.settleDelay), lifetime.guard([this] {
        if (!isRunning_.get()) {
            return;
        }
        const double rate = deviceNominalSampleRate(hal, outputDeviceID);
        const auto labels = queryOutputChannelLabels(hal, outputDeviceID);
        if (rate > 0 && rate != builtOutputNominalRate) {
            log.notice("Output sample-rate changed %{public}f→%{public}f Hz, cold-restarting audio "
                       "pipeline",
                       builtOutputNominalRate, rate);
            rebuildPipeline("output sample-rate change");
        } else if (labels != builtOutputChannelLabels) {
            const auto count = [](const auto& list) {
                return static_cast<std::int64_t>(list ? list->size() : 0);
            };
            log.notice("Output channel layout changed %{public}ld→%{public}ld channels, "
                       "cold-restarting audio pipeline",
                       count(builtOutputChannelLabels), count(labels));
            rebuildPipeline("output channel layout change");
        } else {
            log.debug("Sample-rate notification settled with no net change; skipping rebuild");
        }
    }));
}

void AudioEngine::installSampleRateListener(AudioObjectID device) {
    removeSampleRateListener();
    if (device == 0) {
        return;
    }
    OSStatus status = kAudioHardwareNoError;
    sampleRateListener = addListener(
        device, AudioProperty::nominalSampleRate, [this] { handleSampleRateChange(); }, status);
    if (!sampleRateListener) {
        log.error("Sample-rate listener install failed, OSStatus=%{public}d", status);
        return;
    }
    sampleRateListenerDeviceID = device;
}

void AudioEngine::removeSampleRateListener() {
    removeListener(sampleRateListener, sampleRateListenerDeviceID,
                   AudioProperty::nominalSampleRate);
}

// Devices that cannot tell their layout have nothing to listen to.
void AudioEngine::installChannelLayoutListener(AudioObjectID device) {
    removeChannelLayoutListener();
    if (device == 0 ||
        !hal.hasProperty(device, {AudioProperty::preferredChannelLayout, AudioScope::output, 0})) {
        return;
    }
    OSStatus status = kAudioHardwareNoError;
    channelLayoutListener = addListener(
        device, AudioProperty::preferredChannelLayout, [this] { handleChannelLayoutChange(); },
        status, AudioScope::output);
    if (!channelLayoutListener) {
        log.error("Channel layout listener install failed, OSStatus=%{public}d", status);
        return;
    }
    channelLayoutListenerDeviceID = device;
}

void AudioEngine::removeChannelLayoutListener() {
    removeListener(channelLayoutListener, channelLayoutListenerDeviceID,
                   AudioProperty::preferredChannelLayout, AudioScope::output);
}

} // namespace quellora
