#pragma once

#include "dsp/loudness_meter.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace quellora {

// A LoudnessMeter on a thread of its own. Measuring costs about as much as
// decoding, compressing and encoding together (the true-peak oversampling
// above all), so it runs beside them instead of after each pass.
class BackgroundLoudnessMeter {
public:
    // Throws std::invalid_argument like LoudnessMeter; the caller has
    // already refused the formats it names.
    BackgroundLoudnessMeter(const ChannelLayout& layout, int sampleRate);
    // Abandons whatever is still queued.
    ~BackgroundLoudnessMeter();
    BackgroundLoudnessMeter(const BackgroundLoudnessMeter&) = delete;
    BackgroundLoudnessMeter& operator=(const BackgroundLoudnessMeter&) = delete;

    // Copies the interleaved samples into the queue; waits while the queue
    // is full. Throws CommandError if the measuring thread has failed.
    void add(std::span<const float> samples);

    // Waits until everything added is measured. Call once, last.
    LoudnessMeasurement finish();

private:
    void run();
    void stop();

    // Passes queued at most: enough to ride out uneven scheduling, bounded
    // so that memory does not grow with the file.
    static constexpr std::size_t maxQueued = 4;

    LoudnessMeter meter;
    int channels;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::vector<float>> queued;
    std::vector<std::vector<float>> spare; // buffers to reuse
    bool closing = false;
    std::exception_ptr failure;
    std::thread worker; // last, so that it starts after everything it uses exists
};

} // namespace quellora
