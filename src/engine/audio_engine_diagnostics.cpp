// What the engine tells its log about the running pipeline: a latency summary
// per build, the IO load (development builds), overloads, and clicks when
// click debugging is on. None of it changes the audio.

#include "engine/audio_engine.h"
#include "engine/device_queries.h"
#include "engine/host_clock.h"

namespace quellora {
namespace {

constexpr auto loadInterval = seconds(5.0);
constexpr auto clickInterval = seconds(0.25);
constexpr std::int64_t audibleStepMicro = 10000; // 0.01 of full scale

std::int64_t take(std::atomic<std::int64_t>& counter) {
    return counter.exchange(0, std::memory_order_relaxed);
}

// Runs on the diagnostics queue; reads only the shared IO state.
void logLoad(const Logger& log, EngineIOState& io) {
    const auto calls = take(io._ioProcCalls);
    if (calls < 1) {
        return;
    }
    const auto sum = take(io._ioProcSumTicks);
    const auto peak = take(io._ioProcMaxTicks);
    const auto frames = io._ioProcFrames.load(std::memory_order_relaxed);
    const auto overloads = io._overloadCount.load(std::memory_order_relaxed);
    const auto timebase = HostClock::timebase();
    const double ticksToNs = static_cast<double>(timebase.numerator) / timebase.denominator;
    const double meanNs = static_cast<double>(sum) * ticksToNs / static_cast<double>(calls);
    const double peakNs = static_cast<double>(peak) * ticksToNs;
    const double sampleRate = io._sampleRate.load(std::memory_order_relaxed);
    const double budgetNs =
        sampleRate > 0 && frames >= 1 ? static_cast<double>(frames) / sampleRate * 1e9 : 0.0;
    const double meanPct = budgetNs > 0 ? meanNs / budgetNs * 100.0 : 0.0;
    const double peakPct = budgetNs > 0 ? peakNs / budgetNs * 100.0 : 0.0;
    const auto under = take(io._ringUnderflowFrames);
    const auto drop = take(io._ringDroppedFrames);
    const auto skip = take(io._ringSkippedFrames);
    log.info("IO load: buffer=%{public}ldf mean=%{public}.*f%% peak=%{public}.*f%% "
             "(mean=%{public}.*fµs peak=%{public}.*fµs budget=%{public}.*fµs) calls=%{public}ld "
             "overloads=%{public}ld ring(fill=%{public}ldf under=%{public}ldf drop=%{public}ldf "
             "skip=%{public}ldf)",
             frames, 1, meanPct, 1, peakPct, 1, meanNs / 1000.0, 1, peakNs / 1000.0, 1,
             budgetNs / 1000.0, calls, overloads, io.ring.fillFrames(), under, drop, skip);
}

void logClickDebug(const Logger& log, EngineIOState& io) {
    const auto step = take(io._clickMaxStepMicro);
    const auto zeros = take(io._zeroInputBuffers);
    if (step <= audibleStepMicro && zeros < 1) {
        return;
    }
    log.notice("CLICK maxStep=%{public}.*f branch=%{public}s ringFill=%{public}ld "
               "outputCount=%{public}ld fadeRemaining=%{public}ld zeroInputBuffers=%{public}ld "
               "suspended=%{bool,public}d",
               4, static_cast<double>(step) / 1e6, "processed",
               io._clickInputCount.load(std::memory_order_relaxed),
               io._clickOutputCount.load(std::memory_order_relaxed),
               io._clickFade.load(std::memory_order_relaxed), zeros,
               io.ioSuspended.load(std::memory_order_relaxed));
}

} // namespace

void AudioEngine::logLatencyDiagnostics() {
    if (aggregateDeviceID == 0) {
        return;
    }
    const auto transport = queryTransportType(hal, outputDeviceID);
    const auto breakdown =
        queryAddedLatency(hal, aggregateDeviceID, outputDeviceID, io_->chain.lookaheadSamples());
    const double sampleRate = processingSampleRate();
    const double deviceRate = builtOutputNominalRate > 0 ? builtOutputNominalRate : sampleRate;
    const double ringMs =
        sampleRate > 0 ? static_cast<double>(_outputBufferFrames) / sampleRate * 1000.0 : 0.0;
    log.notice(
        "Audio path: transport=%{public}s sampleRate=%{public}f pipelineLatency=%{public}fms "
        "[lookahead=%{public}ld buf=%{public}ld inBuf=%{public}ld ring=%{public}ld frames] "
        "tapPathOverhead≈%{public}fms+slack @ %{public}fHz [dev=%{public}ld safety=%{public}ld "
        "frames] (true added ≈ pipeline + overhead; see docs/LATENCY.md)",
        transportTypeName(transport), sampleRate, ringMs + breakdown.addedMs(sampleRate),
        breakdown.lookaheadFrames, breakdown.bufferFrames, breakdown.inputBufferFrames,
        _outputBufferFrames, breakdown.deviceCompensatedMs(deviceRate), deviceRate,
        breakdown.deviceLatencyFrames, breakdown.safetyOffsetFrames);
    if (isBluetoothTransport(transport)) {
        const auto inputStreams = deviceInputStreamCount(hal, outputDeviceID);
        log.notice(
            "Bluetooth output: profile=%{public}s inputStreams=%{public}ld — device is aggregate "
            "clock master; tap is drift-compensated. (The active codec is not read; sample "
            "rate is the A2DP↔HFP signal.)",
            bluetoothProfileName(sampleRate, inputStreams), inputStreams);
    }
}

void AudioEngine::startLoadLogging() {
    stopLoadLogging();
    if (!io_->switches.meteringEnabled) {
        return;
    }
    loadTimer = diagnosticsQueue.startRepeatingTimer(
        loadInterval, loadInterval, {}, [logger = log, io = io_] { logLoad(logger, *io); });
}

void AudioEngine::stopLoadLogging() {
    if (loadTimer) {
        loadTimer->cancel();
        loadTimer.reset();
    }
}

void AudioEngine::startClickDebug() {
    stopClickDebug();
    if (!io_->switches.clickDebug) {
        return;
    }
    io_->_clickLastOut.store(0.0f, std::memory_order_relaxed);
    io_->_clickMaxStepMicro.store(0, std::memory_order_relaxed);
    io_->_zeroInputBuffers.store(0, std::memory_order_relaxed);
    clickTimer = diagnosticsQueue.startRepeatingTimer(
        clickInterval, clickInterval, {}, [logger = log, io = io_] { logClickDebug(logger, *io); });
    log.notice(
        "Click debug ENABLED (QUELLORA_CLICK_DEBUG=1) — watching for output discontinuities");
}

void AudioEngine::stopClickDebug() {
    if (clickTimer) {
        clickTimer->cancel();
        clickTimer.reset();
    }
}

void AudioEngine::installOverloadListener() {
    OSStatus status = kAudioHardwareNoError;
    overloadListener = addListener(
        aggregateDeviceID, AudioProperty::processorOverload, [this] { handleOverload(); }, status);
}

void AudioEngine::removeOverloadListener() {
    if (overloadListener && aggregateDeviceID != 0) {
        hal.removePropertyListener(aggregateDeviceID,
                                   {AudioProperty::processorOverload, AudioScope::global, 0},
                                   *overloadListener);
        overloadListener.reset();
    }
}

void AudioEngine::handleOverload() {
    const auto count = io_->_overloadCount.fetch_add(1, std::memory_order_relaxed) + 1;
    log.error("IO overload (dropout) #%{public}ld at buffer=%{public}ld frames", count,
              io_->switches.desiredBufferFrames);
}

} // namespace quellora
