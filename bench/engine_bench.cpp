// One IO period end to end through the engine's real callback bodies on the
// simulated server: the capture callback (compressor included) and the output
// callback, at 256 frames, beside the compressor alone in the same run.

#include "base/log_sinks.h"
#include "base/manual_dispatcher.h"
#include "engine/audio_engine.h"
#include "engine/hal/simulated/simulated_buffer_list.h"
#include "engine/hal/simulated/simulated_hal.h"
#include "support/test_signals.h"

#include <benchmark/benchmark.h>

#include <algorithm>

namespace {

using namespace quellora;

void runEnginePeriods(benchmark::State& state, bool metering) {
    const auto frames = static_cast<std::uint32_t>(state.range(0));
    Log::setSinks({std::make_shared<MemoryLogSink>()});
    ManualDispatcher mainQueue;
    ManualDispatcher diagnosticsQueue;
    SimulatedHal hal(mainQueue);
    const auto speakers = hal.addOutputDevice({.uid = "speakers", .bufferFrameSize = frames});
    hal.setDefaultOutput(speakers);
    mainQueue.runUntilIdle();
    {
        AudioEngine engine(hal, mainQueue, diagnosticsQueue, {.meteringEnabled = metering});
        engine.updateCompressorParams(CompressorParams::defaults());
        engine.start();
        mainQueue.advance(seconds(0.4));
        const auto aggregate = hal.aggregateDevices().front();

        const auto noise = testing::stereoNoise(48000, 0.25f);
        auto tap = SimulatedBufferList::interleaved(2, frames);
        auto aggregateOutput = SimulatedBufferList::interleaved(2, frames);
        auto none = SimulatedBufferList::empty();
        auto output = SimulatedBufferList::interleaved(2, frames);
        std::size_t position = 0;
        for (auto _ : state) {
            if (position + frames * 2 > noise.size()) {
                position = 0;
            }
            std::copy_n(noise.begin() + static_cast<std::ptrdiff_t>(position), frames * 2,
                        tap.samples(0).begin());
            hal.runIOCycle(aggregate, tap.list(), aggregateOutput.list());
            hal.runIOCycle(speakers, none.list(), output.list());
            benchmark::DoNotOptimize(output.samples(0).data());
            position += frames * 2;
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

BENCHMARK(BM_EngineCallbacks)->Arg(256)->Arg(512);
BENCHMARK(BM_EngineCallbacksMetered)->Arg(256);

} // namespace
