#pragma once

#include "base/dispatcher.h"
#include "base/lifetime.h"
#include "base/log.h"
#include "base/observable.h"
#include "dsp/compressor_params.h"
#include "engine/audio_activity_gate.h"
#include "engine/audio_applications.h"
#include "engine/engine_error.h"
#include "engine/engine_io_state.h"
#include "engine/engine_switches.h"
#include "engine/hal/audio_hal.h"
#include "engine/pipeline_retry.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quellora {

// The output device a pipeline generation plays on.
struct OutputDevice {
    std::string uid;
    std::string name; // what the server calls it; the UID when it has no name

    friend bool operator==(const OutputDevice&, const OutputDevice&) = default;
};

// Captures the mix of every other process through a tap, compresses it and
// plays it on the default output. The pipeline (tap, aggregate device, two
// IOProcs) is built in numbered generations: rebuilt when the default output
// or its sample rate changes, retried without end when a build fails, and its
// IO suspended while nothing plays.
//
// All members run on the main queue; the IOProcs run on the server's IO
// threads and touch only the shared EngineIOState. The implementation is split
// by concern: construction, lifecycle, idle suspend, diagnostics.
class AudioEngine {
public:
    AudioEngine(AudioHal& hal, Dispatcher& mainQueue, Dispatcher& diagnosticsQueue,
                const EngineSwitchValues& switches);
    ~AudioEngine();
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    void start();
    void stop();

    const Observable<bool>& isRunning() const { return isRunning_; }
    const Observable<bool>& ioSuspended() const { return ioSuspended_; }
    // True from a generation's successful start until it is disposed, through
    // idle suspends: whether audio has a processed way to the output.
    const Observable<bool>& pipelineStarted() const { return pipelineStarted_; }
    // The output the last generation started on; kept after a stop.
    const Observable<std::optional<OutputDevice>>& currentOutput() const { return currentOutput_; }
    // Whether a generation has been built and started (its IO may be suspended).
    bool hasLivePipeline() const { return deviceProcID.has_value() && outputProcID.has_value(); }

    // Called each time a pipeline generation has started.
    std::function<void()> onRunning;
    // Called with the user-facing text when a failed start is due to be reported.
    std::function<void(const std::string&)> onFailed;

    void updateCompressorParams(const CompressorParams& params);
    // Which applications play around the tap and which through it against
    // their default. Applies to the running tap at once, without a rebuild,
    // and to every tap built later.
    void setApplicationRouting(ApplicationRouting routing);
    // Which stages process the audio, and the programme target ahead of
    // them (none: off); a change of stages fades out and in.
    void selectChain(ChainKind kind, std::optional<float> programmeTargetLufs = std::nullopt);
    ProcessingChain& processingChain() { return io_->chain; }
    AudioCompressor& compressor() { return io_->compressor; }
    float processingSampleRate() const { return io_->_sampleRate.load(std::memory_order_relaxed); }

private:
    // Reads what the tests check of the pipeline; tests/engine holds it.
    friend class AudioEngineTestPeer;

    struct DefaultOutput {
        AudioObjectID id;
        std::string uid;
    };
    // One attempt at building a generation, on a settled output.
    struct BuildAttempt {
        std::int64_t generation;
        std::string outputUID;
        AudioObjectID outputID;
        int attempt;
    };

    // Construction and teardown of one generation.
    DefaultOutput getDefaultOutputDevice();
    void createTap();
    void createAggregateDevice();
    // Polls until the aggregate is alive or `deadline` passes, then finishes the build.
    void awaitAggregate(const BuildAttempt& build, Dispatcher::TimePoint deadline);
    void configureAggregateDevice();
    void configureBufferSize();
    void reportAddedLatency();
    void installIOCallbacks();
    void startDevice();
    void stopDevice();
    void destroyIOProc();
    void destroyAggregateDevice();
    void destroyTap();
    void tearDownPipeline();

    // Lifecycle and recovery.
    void rebuildPipeline(const std::string& reason);
    void disposePipelineForRestart();
    void schedulePipelineStart(std::int64_t generation,
                               std::optional<std::string> expectedOutputUID, int attempt,
                               double delaySeconds);
    void startPipelineGeneration(std::int64_t generation,
                                 const std::optional<std::string>& expectedOutputUID, int attempt);
    void finishPipelineBuild(const BuildAttempt& build);
    // Runs a step of `build`; when it fails, logs why, disposes of what the
    // build made and schedules the next attempt, and returns false.
    bool runBuildStep(const BuildAttempt& build, const std::function<void()>& step);
    void handleDeviceChange();
    void handleSampleRateChange();
    void handleChannelLayoutChange();
    // Rebuilds when the output's rate or layout, settled, differs from the
    // generation's.
    void scheduleOutputFormatCheck();
    void installSampleRateListener(AudioObjectID device);
    void removeSampleRateListener();
    void installChannelLayoutListener(AudioObjectID device);
    void removeChannelLayoutListener();

    // Idle suspend.
    bool audioSourceActive();
    bool takenByTap(AudioObjectID process);
    // Whether a running source plays into the tap; nothing when the server cannot tell.
    std::optional<bool> tapReceivesAudio();
    void startActivityMonitor();
    void stopActivityMonitor();
    void activityTick();
    void suspendIO();
    void resumeIO();
    void installTapSourceListener();
    void removeTapSourceListener();
    void setIOSuspended(bool suspended);

    // Diagnostics.
    void logLatencyDiagnostics();
    void startLoadLogging();
    void stopLoadLogging();
    void startClickDebug();
    void stopClickDebug();
    void installOverloadListener();
    void removeOverloadListener();
    void handleOverload();

    // Logs `message` with the status and throws, after `cleanUp`, when a build step failed.
    void throwIfFailed(OSStatus status, std::string_view message, EngineError::Kind kind,
                       const std::function<void()>& cleanUp = {});
    void removeListener(std::optional<AudioObjectPropertyListenerID>& listener,
                        AudioObjectID& device, FourCharCode selector,
                        FourCharCode scope = AudioScope::global);
    static void cancel(std::shared_ptr<WorkItem>& pending);

    void setSampleRate(float sampleRate) {
        io_->_sampleRate.store(sampleRate, std::memory_order_relaxed);
    }
    std::optional<AudioObjectPropertyListenerID>
    addListener(AudioObjectID object, FourCharCode selector, std::function<void()> handler,
                OSStatus& status, FourCharCode scope = AudioScope::global);

    AudioHal& hal;
    Dispatcher& mainQueue;
    Dispatcher& diagnosticsQueue;
    Logger log{"AudioEngine"};
    std::shared_ptr<EngineIOState> io_;
    Lifetime lifetime;

    Observable<bool> isRunning_{false};
    Observable<bool> ioSuspended_{false};
    Observable<bool> pipelineStarted_{false};
    Observable<std::optional<CompressorParams>> _lastParams;
    Observable<std::optional<OutputDevice>> currentOutput_;
    ApplicationRouting applicationRouting_;

    // The current generation's platform objects; 0 or empty when absent.
    std::optional<TapDescription> tapDescription;
    AudioObjectID tapID = 0;
    AudioObjectID aggregateDeviceID = 0;
    AudioObjectID outputDeviceID = 0;
    std::optional<AudioDeviceIOProcID> deviceProcID;
    std::optional<AudioDeviceIOProcID> outputProcID;
    AudioObjectID outputProcDeviceID = 0;
    std::int64_t _outputBufferFrames = 256;
    double builtOutputNominalRate = 0;
    // The channels the tap carries: the output's, or a stereo mixdown.
    ChannelLayout tapChannelLayout = ChannelLayout::stereo();
    // The output's channel labels at build time, the reference for layout
    // changes; nothing when it could not tell.
    std::optional<std::vector<std::uint32_t>> builtOutputChannelLabels;

    // Recovery.
    const PipelineRetry retry;
    std::int64_t pipelineLifecycleGeneration = 0;
    std::shared_ptr<WorkItem> pendingPipelineRestart;
    std::shared_ptr<WorkItem> pendingRateRebuild;
    std::optional<AudioObjectPropertyListenerID> deviceChangeListener;
    std::optional<AudioObjectPropertyListenerID> sampleRateListener;
    AudioObjectID sampleRateListenerDeviceID = 0;
    std::optional<AudioObjectPropertyListenerID> channelLayoutListener;
    AudioObjectID channelLayoutListenerDeviceID = 0;

    // Idle suspend.
    AudioActivityGate activityGate;
    std::unique_ptr<RepeatingTimer> activityTimer;
    std::optional<AudioObjectPropertyListenerID> tapSourceListener;
    AudioObjectID tapSourceListenerTapID = 0;

    // Diagnostics.
    std::unique_ptr<RepeatingTimer> loadTimer;
    std::unique_ptr<RepeatingTimer> clickTimer;
    std::optional<AudioObjectPropertyListenerID> overloadListener;
};

} // namespace quellora
