#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace quellora {

// Lock-free single-producer single-consumer ring of interleaved float frames
// between the capture and the output IO threads. Free-running 64-bit frame
// counters; each side publishes its own with release and reads the other's
// with acquire, so neither ever sees frames the other has not finished with.
class AudioRingBuffer {
public:
    // The capacity becomes the smallest power of two of at least
    // `capacityFrames` (1 for a request below 2); the storage holds frames of
    // up to `maxChannels`, so that a later reset to another channel count
    // never allocates. Throws std::invalid_argument for fewer than one
    // channel, `maxChannels` below `channels` or a size that does not fit in
    // memory.
    explicit AudioRingBuffer(std::int64_t capacityFrames = 16384, std::int64_t channels = 2,
                             std::int64_t maxChannels = 0);
    AudioRingBuffer(const AudioRingBuffer&) = delete;
    AudioRingBuffer& operator=(const AudioRingBuffer&) = delete;

    // Producer: frames actually written; what does not fit is left to the caller.
    std::int64_t write(const float* source, std::int64_t frames) noexcept;
    std::int64_t writeSilence(std::int64_t frames) noexcept;

    // Consumer: frames actually read; the rest of the request is zero-filled,
    // so the destination always receives `frames` complete frames.
    std::int64_t read(float* destination, std::int64_t frames) noexcept;
    std::int64_t skip(std::int64_t frames) noexcept;

    std::int64_t fillFrames() const noexcept {
        return _written.load(std::memory_order_acquire) - _read.load(std::memory_order_acquire);
    }

    // Only with both sides stopped. The storage keeps its old samples.
    void reset() noexcept;
    // The same, for frames of `channels` (1 to the maximum) from now on.
    void reset(std::int64_t channels) noexcept;

    std::int64_t channels() const { return channels_; }
    std::int64_t capacityFrames() const { return capacityFrames_; }

private:
    template <typename CopyRun>
    std::int64_t produce(std::int64_t frames, CopyRun copyRun) noexcept;

    std::int64_t channels_; // written only while both sides are stopped
    std::int64_t maxChannels_;
    std::int64_t capacityFrames_; // a power of two
    std::unique_ptr<float[]> storage;
    alignas(64) std::atomic<std::int64_t> _written{0};
    alignas(64) std::atomic<std::int64_t> _read{0};
};

} // namespace quellora
