#pragma once

#include "engine/hal/audio_hal.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quellora {

// One buffer of an IO cycle: `channels` interleaved float channels, or no
// data pointer at all (what a server may hand over for a disabled stream).
struct SimulatedBufferLayout {
    std::uint32_t channels = 2;
    bool hasData = true;
};

// Owns the storage behind an AudioBufferList, so a test can build the exact
// layouts a server hands to an IO block and read or write the samples.
// Movable (the storage moves with it); not copyable, as the list points into it.
class SimulatedBufferList {
public:
    SimulatedBufferList(std::vector<SimulatedBufferLayout> layout, std::uint32_t frames);

    static SimulatedBufferList interleaved(std::uint32_t channels, std::uint32_t frames);
    // One single-channel buffer per channel.
    static SimulatedBufferList planar(std::uint32_t channels, std::uint32_t frames);
    static SimulatedBufferList empty();

    SimulatedBufferList(SimulatedBufferList&&) noexcept = default;
    SimulatedBufferList& operator=(SimulatedBufferList&&) noexcept = default;
    SimulatedBufferList(const SimulatedBufferList&) = delete;
    SimulatedBufferList& operator=(const SimulatedBufferList&) = delete;

    AudioBufferList& list() { return list_; }
    const AudioBufferList& list() const { return list_; }

    std::uint32_t frames() const { return frames_; }
    std::size_t bufferCount() const { return storage_.size(); }
    std::uint32_t channels(std::size_t buffer) const { return layout_[buffer].channels; }

    // The interleaved samples of one buffer; empty for a buffer without data.
    std::span<float> samples(std::size_t buffer);
    std::span<const float> samples(std::size_t buffer) const;
    float& at(std::size_t buffer, std::uint32_t frame, std::uint32_t channel);
    float at(std::size_t buffer, std::uint32_t frame, std::uint32_t channel) const;

    // Silence, and the list's fields as built (a block may have changed
    // them). Does not allocate, so it may run on an IO thread between cycles.
    void reset() noexcept;

private:
    std::size_t sampleIndex(std::size_t buffer, std::uint32_t frame, std::uint32_t channel) const;

    std::vector<SimulatedBufferLayout> layout_;
    std::uint32_t frames_ = 0;
    std::vector<std::vector<float>> storage_;
    std::vector<AudioBuffer> buffers_;
    AudioBufferList list_;
};

} // namespace quellora
