#include "engine/engine_io_state.h"
#include "engine/host_clock.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quellora {
namespace {

constexpr std::int64_t maxFrames = EngineIOState::maxCallbackFrames;

std::int64_t floatsIn(const AudioBuffer& buffer) {
    return buffer.mDataByteSize / sizeof(float);
}

const float* samplesOf(const AudioBuffer& buffer) {
    return static_cast<const float*>(buffer.mData);
}
float* samplesOf(AudioBuffer& buffer) {
    return static_cast<float*>(buffer.mData);
}

void zeroBuffersWithData(AudioBufferList& list) {
    for (std::uint32_t b = 0; b < list.mNumberBuffers; ++b) {
        if (list.mBuffers[b].mData != nullptr) {
            std::memset(list.mBuffers[b].mData, 0, list.mBuffers[b].mDataByteSize);
        }
    }
}

void raiseMaximum(std::atomic<std::int64_t>& maximum, std::int64_t value) {
    auto current = maximum.load(std::memory_order_relaxed);
    while (value > current &&
           !maximum.compare_exchange_weak(current, value, std::memory_order_relaxed)) {
    }
}

// Converts the tap's buffer list into interleaved stereo; returns the frames.
std::int64_t gatherStereo(const AudioBufferList& input, float* scratch) {
    const auto& first = input.mBuffers[0];
    const auto channels = static_cast<std::int64_t>(first.mNumberChannels);
    const auto floats = floatsIn(first);
    const float* source = samplesOf(first);
    if (channels == 2) {
        const auto frames = std::min(floats / 2, maxFrames);
        std::memcpy(scratch, source, static_cast<std::size_t>(frames * 2) * sizeof(float));
        return frames;
    }
    if (channels > 2) {
        const auto frames = std::min(floats / channels, maxFrames);
        for (std::int64_t i = 0; i < frames; ++i) {
            scratch[i * 2] = source[i * channels];
            scratch[i * 2 + 1] = source[i * channels + 1];
        }
        return frames;
    }
    if (input.mNumberBuffers >= 2 && input.mBuffers[1].mNumberChannels == 1 &&
        input.mBuffers[1].mData != nullptr) {
        const float* right = samplesOf(input.mBuffers[1]);
        const auto frames = std::min({floats, floatsIn(input.mBuffers[1]), maxFrames});
        for (std::int64_t i = 0; i < frames; ++i) {
            scratch[i * 2] = source[i];
            scratch[i * 2 + 1] = right[i];
        }
        return frames;
    }
    const auto frames = std::min(floats, maxFrames);
    for (std::int64_t i = 0; i < frames; ++i) {
        scratch[i * 2] = scratch[i * 2 + 1] = source[i];
    }
    return frames;
}

void writeToDevice(const float* scratch, std::int64_t frames, AudioBufferList& output) {
    if (output.mNumberBuffers == 1) {
        auto& buffer = output.mBuffers[0];
        float* samples = samplesOf(buffer);
        const auto channels = static_cast<std::int64_t>(buffer.mNumberChannels);
        if (channels == 2) {
            std::memcpy(samples, scratch, static_cast<std::size_t>(frames * 2) * sizeof(float));
        } else if (channels <= 1) {
            for (std::int64_t i = 0; i < frames; ++i) {
                samples[i] = (scratch[i * 2] + scratch[i * 2 + 1]) * 0.5f;
            }
        } else {
            std::memset(samples, 0, buffer.mDataByteSize);
            for (std::int64_t i = 0; i < frames; ++i) {
                samples[i * channels] = scratch[i * 2];
                samples[i * channels + 1] = scratch[i * 2 + 1];
            }
        }
        return;
    }
    for (std::uint32_t b = 0; b < output.mNumberBuffers; ++b) {
        auto& buffer = output.mBuffers[b];
        if (buffer.mData == nullptr) {
            continue;
        }
        float* samples = samplesOf(buffer);
        const auto floats = floatsIn(buffer);
        if (b >= 2) {
            std::memset(samples, 0, buffer.mDataByteSize);
            continue;
        }
        const auto count = std::min(floats, frames);
        for (std::int64_t i = 0; i < count; ++i) {
            samples[i] = scratch[i * 2 + b];
        }
        std::fill(samples + count, samples + floats, 0.0f);
    }
}

void addKeepAliveNoise(EngineIOState& io, float* scratch, std::int64_t frames) {
    const float amplitude = io.switches.keepAliveAmp;
    auto x = io._keepAliveRng.load(std::memory_order_relaxed);
    for (std::int64_t i = 0; i < frames * 2; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        scratch[i] += amplitude * (static_cast<float>(x >> 8) / 8388608.0f - 1.0f);
    }
    io._keepAliveRng.store(x, std::memory_order_relaxed);
}

void measureClick(EngineIOState& io, const AudioBufferList& output) {
    const auto& buffer = output.mBuffers[0];
    const auto floats = floatsIn(buffer);
    const float* samples = samplesOf(buffer);
    float previous = io._clickLastOut.load(std::memory_order_relaxed);
    float step = 0.0f;
    for (std::int64_t i = 0; i < floats; ++i) {
        step = std::max(step, std::fabs(samples[i] - previous));
        previous = samples[i];
    }
    io._clickLastOut.store(previous, std::memory_order_relaxed);
    const auto micro = static_cast<std::int64_t>(std::min(step, 1000.0f) * 1000000.0f);
    if (micro > io._clickMaxStepMicro.load(std::memory_order_relaxed)) {
        io._clickMaxStepMicro.store(micro, std::memory_order_relaxed);
        io._clickCode.store(1, std::memory_order_relaxed);
        io._clickInputCount.store(io.ring.fillFrames(), std::memory_order_relaxed);
        io._clickOutputCount.store(output.mNumberBuffers, std::memory_order_relaxed);
        io._clickFade.store(io._fadeInRemaining.load(std::memory_order_relaxed),
                            std::memory_order_relaxed);
    }
}

} // namespace

void runCaptureCallback(EngineIOState& io, const AudioBufferList& input,
                        AudioBufferList& output) noexcept {
    const bool metering = io.switches.meteringEnabled;
    const auto startTicks = metering ? HostClock::now() : 0;

    // The aggregate's own output is never played; the output callback plays
    // on the device directly.
    zeroBuffersWithData(output);

    float* scratch = io._captureScratch.get();
    if (input.mNumberBuffers >= 1 && input.mBuffers[0].mData != nullptr) {
        const auto frames = gatherStereo(input, scratch);
        if (frames > 0) {
            if (metering) {
                io._ioProcFrames.store(frames, std::memory_order_relaxed);
            }
            io.chain.processInterleaved(scratch, frames, 2);
            const auto written = io.ring.write(scratch, frames);
            if (written < frames) {
                io._ringDroppedFrames.fetch_add(frames - written, std::memory_order_relaxed);
            }
        }
    } else {
        // No tap data: keep the output side fed with silence.
        if (output.mNumberBuffers >= 1) {
            const auto channels = std::max<std::int64_t>(output.mBuffers[0].mNumberChannels, 1);
            const auto floats = floatsIn(output.mBuffers[0]);
            if (channels <= floats) {
                io.ring.writeSilence(std::min(floats / channels, maxFrames));
            }
        }
        if (io.switches.clickDebug) {
            io._zeroInputBuffers.fetch_add(1, std::memory_order_relaxed);
        }
    }

    if (metering) {
        const auto elapsed = HostClock::now() - startTicks;
        io._ioProcSumTicks.fetch_add(elapsed, std::memory_order_relaxed);
        io._ioProcCalls.fetch_add(1, std::memory_order_relaxed);
        raiseMaximum(io._ioProcMaxTicks, elapsed);
    }
}

void runOutputCallback(EngineIOState& io, AudioBufferList& output) noexcept {
    if (output.mNumberBuffers < 1 || output.mBuffers[0].mData == nullptr) {
        return;
    }
    const auto channels = std::max<std::int64_t>(output.mBuffers[0].mNumberChannels, 1);
    const auto floats = floatsIn(output.mBuffers[0]);
    if (floats < channels) {
        return;
    }
    const auto frames = std::min(floats / channels, maxFrames);

    // Prefill: play silence until the ring holds one buffer, the latency target.
    if (!io._ringStarted.load(std::memory_order_relaxed)) {
        if (io.ring.fillFrames() < frames) {
            zeroBuffersWithData(output);
            return;
        }
        io._ringStarted.store(true, std::memory_order_relaxed);
    }

    float* scratch = io._outputScratch.get();
    const auto got = io.ring.read(scratch, frames);
    if (got < frames) {
        io._ringUnderflowFrames.fetch_add(frames - got, std::memory_order_relaxed);
    }

    // Latency cap: more than three buffers queued goes back to one.
    const auto fill = io.ring.fillFrames();
    if (fill > 3 * frames) {
        io._ringSkippedFrames.fetch_add(io.ring.skip(fill - frames), std::memory_order_relaxed);
    }

    const auto remaining = io._fadeInRemaining.load(std::memory_order_relaxed);
    if (remaining > 0) {
        constexpr auto fadeFrames = static_cast<float>(EngineIOState::fadeInFrames);
        for (std::int64_t i = 0; i < frames; ++i) {
            const float gain = std::clamp(
                (fadeFrames - static_cast<float>(remaining) + static_cast<float>(i)) / fadeFrames,
                0.0f, 1.0f);
            scratch[i * 2] *= gain;
            scratch[i * 2 + 1] *= gain;
        }
        io._fadeInRemaining.store(std::max<std::int64_t>(remaining - frames, 0),
                                  std::memory_order_relaxed);
    }

    if (io.switches.keepAlive) {
        addKeepAliveNoise(io, scratch, frames);
    }

    writeToDevice(scratch, frames, output);

    if (io.switches.clickDebug) {
        measureClick(io, output);
    }
}

} // namespace quellora
