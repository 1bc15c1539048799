// The ring's hand-over cost per IO period, single-threaded so that it
// measures the copies and counters, not the scheduler.

#include "engine/audio_ring_buffer.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

void BM_RingWriteRead(benchmark::State& state) {
    const auto frames = state.range(0);
    quellora::AudioRingBuffer ring(16384, 2);
    std::vector<float> in(static_cast<std::size_t>(frames * 2), 0.25f);
    std::vector<float> out(in.size());
    for (auto _ : state) {
        ring.write(in.data(), frames);
        ring.read(out.data(), frames);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * frames);
}

BENCHMARK(BM_RingWriteRead)->Arg(256)->Arg(1024);

} // namespace
