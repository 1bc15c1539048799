#pragma once

#include "dsp/level_sample.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

namespace quellora {

// Meter history handed from the capture IO thread to the displays: a fixed
// ring of 512 samples, one writer, any number of readers, no locks.
//
// A reader racing a writer that laps the ring may see a sample half
// overwritten; that costs one drawn point and is accepted. Slot fields are
// relaxed atomics so that the race is benign in the language as well.
class AudioLevelBuffer {
public:
    static constexpr std::int64_t capacity = 512;

    AudioLevelBuffer();
    AudioLevelBuffer(const AudioLevelBuffer&) = delete;
    AudioLevelBuffer& operator=(const AudioLevelBuffer&) = delete;

    // Writer side, real-time safe: one slot and one counter.
    void push(const LevelSample& sample) noexcept {
        const auto count = _writeCount.load(std::memory_order_relaxed);
        buffer[static_cast<std::size_t>(count % capacity)].store(sample);
        _writeCount.store(count + 1, std::memory_order_release);
    }

    // The most recent min(count, pushed, 512) samples, oldest first. `count`
    // must not be negative.
    std::vector<LevelSample> recentSamples(std::int64_t count) const;

    // Samples pushed since construction or the last clear().
    std::int64_t writeCount() const { return _writeCount.load(std::memory_order_acquire); }

    // Every slot back to the default sample, then the count to 0.
    void clear() noexcept;

private:
    struct Slot {
        std::atomic<float> inputPeak{-80.0f};
        std::atomic<float> outputPeak{-80.0f};
        std::atomic<float> gainReduction{0.0f};

        void store(const LevelSample& sample) noexcept {
            inputPeak.store(sample.inputPeak, std::memory_order_relaxed);
            outputPeak.store(sample.outputPeak, std::memory_order_relaxed);
            gainReduction.store(sample.gainReduction, std::memory_order_relaxed);
        }
        LevelSample load() const noexcept {
            return {inputPeak.load(std::memory_order_relaxed),
                    outputPeak.load(std::memory_order_relaxed),
                    gainReduction.load(std::memory_order_relaxed)};
        }
    };

    std::array<Slot, capacity> buffer;
    std::atomic<std::int64_t> _writeCount{0};
};

} // namespace quellora
