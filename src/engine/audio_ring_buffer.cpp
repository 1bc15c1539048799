#include "engine/audio_ring_buffer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace quellora {
namespace {

std::int64_t powerOfTwoAtLeast(std::int64_t frames) {
    std::int64_t capacity = 1;
    while (capacity < frames) {
        if (capacity > std::numeric_limits<std::int64_t>::max() / 2) {
            throw std::invalid_argument("ring buffer capacity is too large");
        }
        capacity *= 2;
    }
    return capacity;
}

} // namespace

AudioRingBuffer::AudioRingBuffer(std::int64_t capacityFrames, std::int64_t channels,
                                 std::int64_t maxChannels)
    : channels_(channels)
    , maxChannels_(maxChannels == 0 ? channels : maxChannels)
    , capacityFrames_(powerOfTwoAtLeast(capacityFrames)) {
    if (channels < 1) {
        throw std::invalid_argument("ring buffer needs at least one channel");
    }
    if (maxChannels_ < channels) {
        throw std::invalid_argument("ring buffer holds fewer channels than it starts with");
    }
    const auto maxSamples =
        static_cast<std::int64_t>(std::numeric_limits<std::size_t>::max() / sizeof(float));
    if (capacityFrames_ > maxSamples / maxChannels_) {
        throw std::invalid_argument("ring buffer capacity is too large");
    }
    storage = std::make_unique<float[]>(static_cast<std::size_t>(capacityFrames_ * maxChannels_));
}

template <typename CopyRun>
std::int64_t AudioRingBuffer::produce(std::int64_t frames, CopyRun copyRun) noexcept {
    const auto written = _written.load(std::memory_order_relaxed);
    const auto read = _read.load(std::memory_order_acquire);
    const auto free = capacityFrames_ - (written - read);
    const auto count = std::min(std::max<std::int64_t>(free, 0), frames);
    if (count < 1) {
        return 0;
    }
    const auto start = written & (capacityFrames_ - 1);
    const auto first = std::min(capacityFrames_ - start, count);
    copyRun(storage.get() + start * channels_, 0, first);
    if (count - first >= 1) {
        copyRun(storage.get(), first, count - first);
    }
    _written.store(written + count, std::memory_order_release);
    return count;
}

std::int64_t AudioRingBuffer::write(const float* source, std::int64_t frames) noexcept {
    return produce(frames, [&](float* into, std::int64_t offset, std::int64_t run) {
        std::memcpy(into, source + offset * channels_,
                    static_cast<std::size_t>(run * channels_) * sizeof(float));
    });
}

std::int64_t AudioRingBuffer::writeSilence(std::int64_t frames) noexcept {
    return produce(frames, [&](float* into, std::int64_t, std::int64_t run) {
        std::fill_n(into, run * channels_, 0.0f);
    });
}

std::int64_t AudioRingBuffer::read(float* destination, std::int64_t frames) noexcept {
    if (frames < 1) {
        return 0;
    }
    const auto read = _read.load(std::memory_order_relaxed);
    const auto written = _written.load(std::memory_order_acquire);
    const auto available = std::max<std::int64_t>(written - read, 0);
    const auto count = std::min(available, frames);
    if (count >= 1) {
        const auto start = read & (capacityFrames_ - 1);
        const auto first = std::min(capacityFrames_ - start, count);
        std::memcpy(destination, storage.get() + start * channels_,
                    static_cast<std::size_t>(first * channels_) * sizeof(float));
        if (count - first >= 1) {
            std::memcpy(destination + first * channels_, storage.get(),
                        static_cast<std::size_t>((count - first) * channels_) * sizeof(float));
        }
        _read.store(read + count, std::memory_order_release);
    }
    if (count < frames) {
        std::fill_n(destination + count * channels_, (frames - count) * channels_, 0.0f);
    }
    return count;
}

std::int64_t AudioRingBuffer::skip(std::int64_t frames) noexcept {
    const auto read = _read.load(std::memory_order_relaxed);
    const auto written = _written.load(std::memory_order_acquire);
    const auto count = std::min(std::max<std::int64_t>(written - read, 0), frames);
    if (count < 1) {
        return 0;
    }
    _read.store(read + count, std::memory_order_release);
    return count;
}

void AudioRingBuffer::reset() noexcept {
    _written.store(0, std::memory_order_release);
    _read.store(0, std::memory_order_release);
}

void AudioRingBuffer::reset(std::int64_t channels) noexcept {
    channels_ = std::clamp<std::int64_t>(channels, 1, maxChannels_);
    reset();
}

} // namespace quellora
