#include "dsp/audio_level_buffer.h"

#include <algorithm>
#include <cassert>

namespace quellora {

AudioLevelBuffer::AudioLevelBuffer() = default;

std::vector<LevelSample> AudioLevelBuffer::recentSamples(std::int64_t count) const {
    assert(count >= 0);
    const auto written = _writeCount.load(std::memory_order_acquire);
    const auto n = std::min({count, written, capacity});
    std::vector<LevelSample> samples;
    if (n <= 0) {
        return samples;
    }
    samples.reserve(static_cast<std::size_t>(n));
    for (std::int64_t i = 0; i < n; ++i) {
        samples.push_back(buffer[static_cast<std::size_t>((written - n + i) % capacity)].load());
    }
    return samples;
}

void AudioLevelBuffer::clear() noexcept {
    for (auto& slot : buffer) {
        slot.store(LevelSample{});
    }
    _writeCount.store(0, std::memory_order_release);
}

} // namespace quellora
