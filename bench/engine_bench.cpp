// One IO period end to end through the engine's real callback bodies on the
// simulated server: the capture callback (compressor included) and the output
// callback, at 256 frames, beside the compressor alone in the same run; on
// stereo speakers and on a 5.1 receiver.

#include "base/log_sinks.h"
#include "base/manual_dispatcher.h"
#include "engine/audio_engine.h"
#include "engine/hal/simulated/simulated_buffer_list.h"
#include "support/scripted_hal.h"
#include "support/test_signals.h"

#include <benchmark/benchmark.h>

#include <algorithm>

namespace {

using namespace quellora;

void runEnginePeriods(benchmark::State& state, bool metering, std::uint32_t channels = 2) {
    const auto frames = static_cast<std::uint32_t>(state.range(0));
    Log::setSinks({std::make_shared<MemoryLogSink>()});
    ManualDispatcher mainQueue;
    ManualDispatcher diagnosticsQueue;
    ScriptedHal hal(mainQueue);
    const auto speakers =
        hal.addOutputDevice({.uid = "speakers",
                             .bufferFrameSize = frames,
                             .channelLabels = SimulatedHal::usualChannelLabels(channels)});
    hal.setDefaultOutput(speakers);
    mainQueue.runUntilIdle();
    {
        AudioEngine engine(hal, mainQueue, diagnosticsQueue, {.meteringEnabled = metering});
        engine.updateCompressorParams(CompressorParams::defaults());
        engine.start();
        mainQueue.advance(seconds(0.4));
        const auto aggregate = hal.aggregateDevices().front();

        const auto noise = testing::stereoNoise(48000 * channels / 2, 0.25f);
        auto tap = SimulatedBufferList::interleaved(channels, frames);
        auto aggregateOutput = SimulatedBufferList::interleaved(2, frames);
        auto none = SimulatedBufferList::empty();
        auto output = SimulatedBufferList::interleaved(channels, frames);
        const std::size_t samples = std::size_t{frames} * channels;
        std::size_t position = 0;
        for (auto _ : state) {
            if (position + samples > noise.size()) {
                position = 0;
            }
            std::copy_n(noise.begin() + static_cast<std::ptrdiff_t>(position), samples,
                        tap.samples(0).begin());
            hal.runIOCycle(aggregate, tap.list(), aggregateOutput.list());
            hal.runIOCycle(speakers, none.list(), output.list());
            benchmark::DoNotOptimize(output.samples(0).data());
            position += samples;
        }
        engine.stop();
    }
    Log::setSinks(Log::defaultSinks());
    state.SetItemsProcessed(state.iterations() * frames);
}

void BM_EngineCallbacks(benchmark::State& state) {
    runEnginePeriods(state, false);
}

// Development builds meter every capture callback.
void BM_EngineCallbacksMetered(benchmark::State& state) {
    runEnginePeriods(state, true);
}

// 5.1: the per-frame cost beside BM_EngineCallbacks' stereo.
void BM_EngineCallbacks6Channels(benchmark::State& state) {
    runEnginePeriods(state, false, 6);
}

BENCHMARK(BM_EngineCallbacks)->Arg(256)->Arg(512);
BENCHMARK(BM_EngineCallbacks6Channels)->Arg(256)->Arg(512);
BENCHMARK(BM_EngineCallbacksMetered)->Arg(256);

} // namespace
