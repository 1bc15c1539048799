// Compressor and Night chain throughput at real IO block sizes, beside the
// straightforward scalar evaluation of the compressor measured in the same run.

#include "dsp/audio_compressor.h"
#include "dsp/processing_chain.h"
#include "support/reference_compressor.h"
#include "support/test_signals.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

constexpr float sampleRate = 48000.0f;
constexpr std::int64_t signalFrames = 48000;

// Processes consecutive blocks of one second of noise (-12 dBFS unless
// asked otherwise), different on every channel, so the detector moves as it
// would on programme material.
template <typename Compressor>
void runInterleaved(
    benchmark::State& state, Compressor& compressor,
    const quellora::CompressorParams& params = quellora::CompressorParams::defaults(),
    float noiseAmplitude = 0.25f, int channels = 2) {
    const auto blockFrames = state.range(0);
    const auto noise = quellora::testing::stereoNoise(signalFrames * channels / 2, noiseAmplitude);
    std::vector<float> block(static_cast<std::size_t>(blockFrames * channels));
    compressor.updateParams(params, sampleRate);
    std::int64_t position = 0;
    for (auto _ : state) {
        if (position + blockFrames > signalFrames) {
            position = 0;
        }
        std::copy_n(noise.begin() + position * channels, blockFrames * channels, block.begin());
        compressor.processInterleaved(block.data(), blockFrames, channels);
        benchmark::DoNotOptimize(block.data());
        position += blockFrames;
    }
    state.SetItemsProcessed(state.iterations() * blockFrames);
}

void BM_CompressorInterleaved(benchmark::State& state) {
    quellora::AudioCompressor compressor;
    runInterleaved(state, compressor);
}

// 5.1: the per-frame cost beside BM_CompressorInterleaved's stereo.
void BM_CompressorInterleaved6Channels(benchmark::State& state) {
    quellora::AudioCompressor compressor;
    runInterleaved(state, compressor, quellora::CompressorParams::defaults(), 0.25f, 6);
}

void BM_CompressorInterleaved6ChannelsPortable(benchmark::State& state) {
    quellora::AudioCompressor compressor(quellora::InstructionSet::portable);
    runInterleaved(state, compressor, quellora::CompressorParams::defaults(), 0.25f, 6);
}

// The form that runs on processors without AVX2.
void BM_CompressorInterleavedPortable(benchmark::State& state) {
    quellora::AudioCompressor compressor(quellora::InstructionSet::portable);
    runInterleaved(state, compressor);
}

void BM_ReferenceCompressorInterleaved(benchmark::State& state) {
    quellora::testing::ReferenceCompressor compressor;
    runInterleaved(state, compressor);
    compressor.meters.clear();
}

// The whole Night chain (leveller, compressor, true-peak limiter), to set
// beside BM_CompressorInterleaved: Standard is the compressor alone.
void BM_NightChainInterleaved(benchmark::State& state) {
    quellora::ProcessingChain chain;
    chain.selectKind(quellora::ChainKind::night);
    chain.reset();
    runInterleaved(state, chain, quellora::nightCompressorParams());
}

void BM_NightChainInterleavedPortable(benchmark::State& state) {
    quellora::ProcessingChain chain(quellora::InstructionSet::portable);
    chain.selectKind(quellora::ChainKind::night);
    chain.reset();
    runInterleaved(state, chain, quellora::nightCompressorParams());
}

void BM_NightChainInterleaved6Channels(benchmark::State& state) {
    quellora::ProcessingChain chain;
    chain.selectKind(quellora::ChainKind::night);
    chain.reset();
    runInterleaved(state, chain, quellora::nightCompressorParams(), 0.25f, 6);
}

// Standard with "Even out programmes": leveller, compressor and limiter, to
// set beside BM_CompressorInterleaved (the design allows twice its cost).
void BM_ProgrammeTargetChainInterleaved(benchmark::State& state) {
    quellora::ProcessingChain chain;
    chain.setProgrammeTarget(-18.0f);
    chain.reset();
    runInterleaved(state, chain);
}

// Full-scale noise: the limiter works on every block, its slowest case.
void BM_NightChainInterleavedLimiting(benchmark::State& state) {
    quellora::ProcessingChain chain;
    chain.selectKind(quellora::ChainKind::night);
    chain.reset();
    runInterleaved(state, chain, quellora::nightCompressorParams(), 1.0f);
}

BENCHMARK(BM_CompressorInterleaved)->Arg(256)->Arg(512)->Arg(1024);
BENCHMARK(BM_CompressorInterleaved6Channels)->Arg(256)->Arg(512)->Arg(1024);
BENCHMARK(BM_CompressorInterleaved6ChannelsPortable)->Arg(256)->Arg(512)->Arg(1024);
BENCHMARK(BM_NightChainInterleaved6Channels)->Arg(256)->Arg(512)->Arg(1024);
BENCHMARK(BM_NightChainInterleavedLimiting)->Arg(256);
BENCHMARK(BM_NightChainInterleaved)->Arg(256)->Arg(512)->Arg(1024);
BENCHMARK(BM_ProgrammeTargetChainInterleaved)->Arg(256)->Arg(512)->Arg(1024);
BENCHMARK(BM_NightChainInterleavedPortable)->Arg(256)->Arg(512)->Arg(1024);
BENCHMARK(BM_CompressorInterleavedPortable)->Arg(256)->Arg(512)->Arg(1024);
BENCHMARK(BM_ReferenceCompressorInterleaved)->Arg(256)->Arg(512)->Arg(1024);

} // namespace
