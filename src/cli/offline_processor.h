#pragma once

#include "dsp/compressor_params.h"
#include "dsp/level_sample.h"
#include "dsp/processing_chain.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quellora {

// Runs a recording through the real-time processing chain in blocks of a fixed
// size, as the audio thread would, and by default lines the result up with
// the input: the chain delays everything by its lookahead, so the first
// lookahead frames it produces are dropped and the delay is flushed with as
// many frames of silence at the end. The result then has the input's length.
// Unaligned, the output is what the chain produced, delay and all.
class OfflineProcessor {
public:
    struct Settings {
        CompressorParams params;
        ChainKind chain = ChainKind::standard;
        float sampleRate = 48000.0f;
        ChannelLayout layout = ChannelLayout::stereo();
        std::int64_t blockFrames = 512; // frames per compressor call
        bool align = true;
        bool keepBlockMeters = false;
        std::optional<float> programmeTarget; // LUFS, "Even out programmes"; none: off
    };

    explicit OfflineProcessor(const Settings& settings);

    // Frames of delay the chain adds; 0 when the rate is too low for the
    // compressor to run at all.
    std::int64_t lookaheadFrames() const {
        return chain.compressor().lookaheadSamples() < 1 ? 0 : chain.lookaheadSamples();
    }

    // Processes `frameCount` interleaved frames in place and returns those
    // that belong to the result: all of them, except while the lookahead is
    // still being dropped.
    std::span<const float> process(float* frames, std::int64_t frameCount);

    // The frames still held in the delay (none when unaligned). Call once,
    // after the last process().
    std::span<const float> finish();

    // One meter sample per chain call of the latest process() or
    // finish(), when kept.
    const std::vector<LevelSample>& blockMeters() const { return meters; }

private:
    void compressBlocks(float* frames, std::int64_t frameCount);
    std::span<const float> dropLookahead(const float* frames, std::int64_t frameCount);

    ProcessingChain chain;
    ChannelLayout layout;
    std::int64_t channels;
    std::int64_t blockFrames;
    bool align;
    bool keepBlockMeters;
    std::int64_t framesToDrop;
    std::vector<float> flush;
    std::vector<LevelSample> meters;
};

} // namespace quellora
