// Building one pipeline generation (tap, aggregate device, IOProcs, start)
// and tearing it down again.

#include "engine/audio_engine.h"
#include "engine/device_queries.h"
#include "engine/engine_error.h"

#include <cstring>
#include <vector>

namespace quellora {
namespace {

constexpr auto aggregateAlivePoll = seconds(0.01);

} // namespace

AudioEngine::DefaultOutput AudioEngine::getDefaultOutputDevice() {
    AudioObjectID device = 0;
    std::uint32_t size = sizeof device;
    const auto status = hal.getPropertyData(
        kAudioObjectSystemObject, {AudioProperty::defaultOutputDevice, AudioScope::global, 0}, size,
        &device);
    if (status != kAudioHardwareNoError) {
        throw EngineError(EngineError::Kind::noOutputDevice, status);
    }
    std::optional<std::string> uid;
    const auto uidStatus =
        hal.getPropertyString(device, {AudioProperty::deviceUID, AudioScope::global, 0}, uid);
    if (uidStatus != kAudioHardwareNoError || !uid) {
        throw EngineError(EngineError::Kind::noOutputDevice, uidStatus);
    }
    return {device, *uid};
}

void AudioEngine::createTap() {
    const auto ownPID = hal.ownProcessID();
    std::vector<AudioObjectID> excluded;
    for (const auto process : readProcessObjectList(hal)) {
        std::int32_t pid = -1;
        std::uint32_t size = sizeof pid;
        if (hal.getPropertyData(process, {AudioProperty::processPID, AudioScope::global, 0}, size,
                                &pid) == kAudioHardwareNoError &&
            pid == ownPID) {
            excluded.push_back(process);
        }
    }

    TapDescription description;
    description.excludedProcesses = std::move(excluded);
    description.excludedApplications = applicationRouting_.direct;
    description.includedApplications = applicationRouting_.levelled;
    // Applications are mixed for the output's own channels, as they would be
    // without us: surround stays surround. An output that cannot tell its
    // layout, or has more than 7.1, gets a stereo mixdown.
    std::vector<std::uint32_t> outputLabels;
    try {
        const auto output = getDefaultOutputDevice();
        if (auto labels = queryOutputChannelLabels(hal, output.id)) {
            outputLabels = std::move(*labels);
            description.stereo = false;
            description.deviceUID = output.uid;
            description.stream = 0;
        }
    } catch (const EngineError&) {
        // The aggregate's build reports the missing output.
    }
    description.uuid = Uuid::random();
    description.name = "Quellora";
    description.muteBehavior = TapDescription::MuteBehavior::mutedWhenTapped;
    tapDescription = description;

    AudioObjectID tap = 0;
    throwIfFailed(hal.createProcessTap(description, tap),
                  "Tap creation failed, OSStatus=%{public}d", EngineError::Kind::tapCreationFailed);
    tapID = tap;
    log.info("Process tap created (global), tapID=%{public}u", tapID);

    AudioStreamBasicDescription format;
    std::uint32_t size = sizeof format;
    auto channels = description.stereo ? 2u : static_cast<std::uint32_t>(outputLabels.size());
    if (hal.getPropertyData(tapID, {AudioProperty::tapFormat, AudioScope::global, 0}, size,
                            &format) == kAudioHardwareNoError) {
        if (format.mSampleRate > 0) {
            setSampleRate(static_cast<float>(format.mSampleRate));
        }
        if (format.mChannelsPerFrame > 0) {
            channels = format.mChannelsPerFrame;
        }
    }
    tapChannelLayout = pipelineLayout(channels, outputLabels);
    log.info("Tap carries %{public}ld channels (%{public}s)",
             static_cast<std::int64_t>(tapChannelLayout.count),
             description.stereo ? "stereo mixdown" : "the output's layout");
}

void AudioEngine::createAggregateDevice() {
    if (!tapDescription) {
        throw EngineError(EngineError::Kind::noTap);
    }
    const auto output = getDefaultOutputDevice();
    outputDeviceID = output.id;

    const bool driftCompensation = io_->switches.tapDriftCompensation;
    AggregateDeviceDescription description;
    description.name = "QuelloraAgg";
    description.uid = Uuid::random().uppercaseString();
    description.mainSubDevice = output.uid;
    description.clockDevice = output.uid;
    description.subDevices = {{output.uid, false}};
    description.taps = {{tapDescription->uuid.uppercaseString(), driftCompensation}};

    AudioObjectID aggregate = 0;
    throwIfFailed(hal.createAggregateDevice(description, aggregate),
                  "Aggregate device creation failed, OSStatus=%{public}d",
                  EngineError::Kind::aggregateDeviceFailed);
    aggregateDeviceID = aggregate;
    log.info("Aggregate device created, deviceID=%{public}u, output=%{public}s, "
             "tapDriftComp=%{bool,public}d",
             aggregateDeviceID, output.uid, driftCompensation);
}

// Not coming alive in time is not an error: the build goes on and fails
// later if the device really is unusable. The wait is a poll on the main
// queue, which keeps serving the panel meanwhile; a rebuild or a stop during
// the wait cancels it, and a build whose generation is no longer current
// when the poll runs is abandoned, as its objects are gone or already belong
// to the newer generation.
void AudioEngine::awaitAggregate(const BuildAttempt& build, Dispatcher::TimePoint deadline) {
    pendingPipelineRestart.reset();
    if (build.generation != pipelineLifecycleGeneration || !isRunning_.get()) {
        log.debug("Audio pipeline generation %{public}ld superseded while it was being built",
                  build.generation);
        return;
    }
    std::uint32_t alive = 0;
    std::uint32_t size = sizeof alive;
    const bool isAlive = hal.getPropertyData(aggregateDeviceID,
                                             {AudioProperty::deviceIsAlive, AudioScope::global, 0},
                                             size, &alive) == kAudioHardwareNoError &&
                         alive != 0;
    if (isAlive || mainQueue.now() >= deadline) {
        finishPipelineBuild(build);
        return;
    }
    pendingPipelineRestart = mainQueue.postAfter(
        aggregateAlivePoll,
        lifetime.guard([this, build, deadline] { awaitAggregate(build, deadline); }));
}

void AudioEngine::configureAggregateDevice() {
    // The aggregate's rate is the one the IO runs at, so the DSP follows it.
    const float tapRate = processingSampleRate();
    const double aggregateRate = deviceNominalSampleRate(hal, aggregateDeviceID);
    if (aggregateRate > 0) {
        setSampleRate(static_cast<float>(aggregateRate));
    }
    if (processingSampleRate() != tapRate) {
        log.notice(
            "Processing rate %{public}fHz (aggregate) overrides tap format %{public}fHz — DSP "
            "time constants follow the aggregate",
            processingSampleRate(), tapRate);
    }
    if (const auto& params = _lastParams.get()) {
        io_->chain.updateParams(*params, processingSampleRate());
    }
    reportAddedLatency();

    configureBufferSize();
    builtOutputNominalRate = deviceNominalSampleRate(hal, outputDeviceID);
    builtOutputChannelLabels = queryOutputChannelLabels(hal, outputDeviceID);
    logLatencyDiagnostics();
    installSampleRateListener(outputDeviceID);
    installChannelLayoutListener(outputDeviceID);
}

// Tells the server how much later the audio comes out than it went in, so
// that players can keep picture and sound together. Servers without the
// notion refuse the write, which changes nothing.
void AudioEngine::reportAddedLatency() {
    const auto frames = static_cast<std::uint32_t>(io_->chain.lookaheadSamples());
    hal.setPropertyData(aggregateDeviceID, {AudioProperty::latency, AudioScope::output, 0},
                        sizeof frames, &frames);
}

void AudioEngine::configureBufferSize() {
    const auto desired = io_->switches.desiredBufferFrames;
    if (desired < 1) {
        if (const auto frames = queryBufferFrameSize(hal, outputDeviceID)) {
            _outputBufferFrames = *frames;
        }
        log.notice("Buffer frame size: leaving system default (%{public}ld frames)",
                   _outputBufferFrames);
        return;
    }
    const auto range = queryBufferFrameSizeRange(hal, aggregateDeviceID);
    const auto applied = applyBufferFrameSize(hal, aggregateDeviceID, desired);
    if (!applied) {
        log.error("Buffer frame size: failed to set %{public}ld frames; keeping default", desired);
        return;
    }
    log.notice("Buffer frame size: requested=%{public}ld applied=%{public}ld frames "
               "range=[%{public}ld…%{public}ld]",
               desired, *applied, range ? range->min : -1, range ? range->max : -1);
    if (const auto outputApplied = applyBufferFrameSize(hal, outputDeviceID, desired)) {
        _outputBufferFrames = *outputApplied;
        log.notice(
            "Output client buffer frame size: applied=%{public}ld frames (= ring fill target)",
            _outputBufferFrames);
    } else {
        _outputBufferFrames = desired;
    }
}

void AudioEngine::installIOCallbacks() {
    auto& io = *io_;
    io._captureScratch = std::make_unique<float[]>(EngineIOState::scratchFloats);
    io._outputScratch = std::make_unique<float[]>(EngineIOState::scratchFloats);

    EngineIOState* state = io_.get();
    AudioDeviceIOProcID capture = 0;
    throwIfFailed(hal.createIOProcID(
                      aggregateDeviceID,
                      [state](const AudioBufferList& input, AudioBufferList& output) {
                          runCaptureCallback(*state, input, output);
                      },
                      capture),
                  "Capture IOProc creation failed, OSStatus=%{public}d",
                  EngineError::Kind::ioProcFailed);
    deviceProcID = capture;

    AudioDeviceIOProcID playback = 0;
    throwIfFailed(hal.createIOProcID(
                      outputDeviceID,
                      [state](const AudioBufferList&, AudioBufferList& output) {
                          runOutputCallback(*state, output);
                      },
                      playback),
                  "Output IOProc creation failed, OSStatus=%{public}d",
                  EngineError::Kind::ioProcFailed, [this] { destroyIOProc(); });
    outputProcID = playback;
    outputProcDeviceID = outputDeviceID;
    io.setChannelLayout(tapChannelLayout);
    io._ringStarted.store(false, std::memory_order_relaxed);
}

void AudioEngine::startDevice() {
    if (!deviceProcID || !outputProcID) {
        throw EngineError(EngineError::Kind::noIOProc);
    }
    // Output first, so that it is waiting when the first captured buffer arrives.
    throwIfFailed(hal.deviceStart(outputProcDeviceID, *outputProcID),
                  "Output AudioDeviceStart failed, OSStatus=%{public}d",
                  EngineError::Kind::startFailed);
    throwIfFailed(hal.deviceStart(aggregateDeviceID, *deviceProcID),
                  "AudioDeviceStart failed, OSStatus=%{public}d", EngineError::Kind::startFailed,
                  [this] { hal.deviceStop(outputProcDeviceID, *outputProcID); });
    if (!overloadListener && aggregateDeviceID != 0) {
        installOverloadListener();
    }
    log.info("IO threads started, aggregate=%{public}u output=%{public}u", aggregateDeviceID,
             outputProcDeviceID);
}

// Teardown steps tolerate whatever is missing and ignore the server's statuses.

void AudioEngine::stopDevice() {
    removeOverloadListener();
    if (deviceProcID) {
        hal.deviceStop(aggregateDeviceID, *deviceProcID);
    }
    if (outputProcID) {
        hal.deviceStop(outputProcDeviceID, *outputProcID);
    }
}

void AudioEngine::destroyIOProc() {
    if (deviceProcID) {
        hal.destroyIOProcID(aggregateDeviceID, *deviceProcID);
        deviceProcID.reset();
    }
    if (outputProcID) {
        hal.destroyIOProcID(outputProcDeviceID, *outputProcID);
        outputProcID.reset();
    }
    outputProcDeviceID = 0;
    // Only now can no callback be using them.
    io_->_captureScratch.reset();
    io_->_outputScratch.reset();
    io_->_ringStarted.store(false, std::memory_order_relaxed);
}

void AudioEngine::destroyAggregateDevice() {
    removeSampleRateListener();
    removeChannelLayoutListener();
    if (aggregateDeviceID != 0) {
        hal.destroyAggregateDevice(aggregateDeviceID);
        aggregateDeviceID = 0;
    }
}

void AudioEngine::destroyTap() {
    if (tapID != 0) {
        hal.destroyProcessTap(tapID);
        tapID = 0;
    }
    tapDescription.reset();
}

// The tap goes first, while the IO still runs: the server hands the
// applications back to their devices as it goes, and they are heard
// processed until they play there. Stopping the IO first would leave them
// playing into a tap that nothing reads for as long as that hand-over takes.
void AudioEngine::tearDownPipeline() {
    pipelineStarted_.set(false);
    destroyTap();
    stopDevice();
    destroyIOProc();
    destroyAggregateDevice();
}

} // namespace quellora
