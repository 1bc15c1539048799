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

// Tapped buffers that do not match the pipeline's channels (a format change
// racing a rebuild) are fitted to them: extra channels are dropped, missing
// ones stay silent, and mono plays on both front channels.

// How many single-channel buffers with data the list starts with.
std::int64_t planarChannels(const AudioBufferList& input) {
    std::int64_t count = 0;
    while (count < input.mNumberBuffers && input.mBuffers[count].mNumberChannels == 1 &&
           input.mBuffers[count].mData != nullptr) {
        ++count;
    }
    return count;
}

// Converts the tap's buffer list into interleaved frames of `channels`;
// returns the frames.
std::int64_t gatherFrames(const AudioBufferList& input, std::int64_t channels, float* scratch) {
    const auto& first = input.mBuffers[0];
    const auto sourceChannels = static_cast<std::int64_t>(first.mNumberChannels);
    const auto floats = floatsIn(first);
    const float* source = samplesOf(first);
    if (sourceChannels == channels) {
        const auto frames = std::min(floats / channels, maxFrames);
        std::memcpy(scratch, source, static_cast<std::size_t>(frames * channels) * sizeof(float));
        return frames;
    }
    if (sourceChannels >= 2) {
        const auto frames = std::min(floats / sourceChannels, maxFrames);
        const auto kept = std::min(sourceChannels, channels);
        for (std::int64_t i = 0; i < frames; ++i) {
            float* frame = scratch + i * channels;
            std::copy_n(source + i * sourceChannels, kept, frame);
            std::fill(frame + kept, frame + channels, 0.0f);
        }
        return frames;
    }
    const auto planar = std::min(planarChannels(input), channels);
    if (planar >= 2) {
        auto frames = maxFrames;
        for (std::int64_t c = 0; c < planar; ++c) {
            frames = std::min(frames, floatsIn(input.mBuffers[c]));
        }
        for (std::int64_t i = 0; i < frames; ++i) {
            float* frame = scratch + i * channels;
            for (std::int64_t c = 0; c < planar; ++c) {
                frame[c] = samplesOf(input.mBuffers[c])[i];
            }
            std::fill(frame + planar, frame + channels, 0.0f);
        }
        return frames;
    }
    const auto frames = std::min(floats, maxFrames);
    const auto fronts = std::min<std::int64_t>(channels, 2);
    for (std::int64_t i = 0; i < frames; ++i) {
        float* frame = scratch + i * channels;
        std::fill(frame, frame + fronts, source[i]);
        std::fill(frame + fronts, frame + channels, 0.0f);
    }
    return frames;
}

// The pipeline channel that plays on device channel `channel`, or -1 for
// silence: the same channel, and a mono pipeline on both fronts.
std::int64_t sourceFor(std::int64_t channel, std::int64_t channels) {
    if (channel < channels) {
        return channel;
    }
    return channels == 1 && channel == 1 ? 0 : -1;
}

void writeToDevice(const float* scratch, std::int64_t frames, std::int64_t channels,
                   AudioBufferList& output) {
    if (output.mNumberBuffers == 1) {
        auto& buffer = output.mBuffers[0];
        float* samples = samplesOf(buffer);
        const auto deviceChannels = static_cast<std::int64_t>(buffer.mNumberChannels);
        if (deviceChannels == channels || (deviceChannels <= 1 && channels == 1)) {
            std::memcpy(samples, scratch,
                        static_cast<std::size_t>(frames * channels) * sizeof(float));
        } else if (deviceChannels <= 1) {
            // A mono device hears the fronts.
            for (std::int64_t i = 0; i < frames; ++i) {
                samples[i] = (scratch[i * channels] + scratch[i * channels + 1]) * 0.5f;
            }
        } else {
            std::memset(samples, 0, buffer.mDataByteSize);
            for (std::int64_t c = 0; c < deviceChannels; ++c) {
                const auto source = sourceFor(c, channels);
                for (std::int64_t i = 0; source >= 0 && i < frames; ++i) {
                    samples[i * deviceChannels + c] = scratch[i * channels + source];
                }
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
        const auto source = sourceFor(b, channels);
        if (source < 0) {
            std::memset(samples, 0, buffer.mDataByteSize);
            continue;
        }
        const auto count = std::min(floats, frames);
        for (std::int64_t i = 0; i < count; ++i) {
            samples[i] = scratch[i * channels + source];
        }
        std::fill(samples + count, samples + floats, 0.0f);
    }
}

void addKeepAliveNoise(EngineIOState& io, float* scratch, std::int64_t samples) {
    const float amplitude = io.switches.keepAliveAmp;
    auto x = io._keepAliveRng.load(std::memory_order_relaxed);
    for (std::int64_t i = 0; i < samples; ++i) {
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
    const auto& layout = io._channelLayout;
    if (input.mNumberBuffers >= 1 && input.mBuffers[0].mData != nullptr) {
        const auto frames = gatherFrames(input, layout.count, scratch);
        if (frames > 0) {
            if (metering) {
                io._ioProcFrames.store(frames, std::memory_order_relaxed);
            }
            // A stream linked into the tap plays silence until its first
            // buffers reach it; the fade waits for sound.
            if (io._fadeInWaitsForTap.load(std::memory_order_relaxed) &&
                std::any_of(scratch, scratch + frames * layout.count,
                            [](float sample) { return sample != 0.0f; })) {
                io._fadeInWaitsForTap.store(false, std::memory_order_relaxed);
            }
            io.chain.processInterleaved(scratch, frames, layout);
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
    const auto deviceChannels = std::max<std::int64_t>(output.mBuffers[0].mNumberChannels, 1);
    const auto floats = floatsIn(output.mBuffers[0]);
    if (floats < deviceChannels) {
        return;
    }
    const auto frames = std::min(floats / deviceChannels, maxFrames);

    // Prefill: play silence until the ring holds one buffer, the latency target.
    if (!io._ringStarted.load(std::memory_order_relaxed)) {
        if (io.ring.fillFrames() < frames) {
            zeroBuffersWithData(output);
            return;
        }
        io._ringStarted.store(true, std::memory_order_relaxed);
    }

    float* scratch = io._outputScratch.get();
    const std::int64_t channels = io._channelLayout.count;
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
    if (remaining > 0 && !io._fadeInWaitsForTap.load(std::memory_order_relaxed)) {
        constexpr auto fadeFrames = static_cast<float>(EngineIOState::fadeInFrames);
        for (std::int64_t i = 0; i < frames; ++i) {
            const float gain = std::clamp(
                (fadeFrames - static_cast<float>(remaining) + static_cast<float>(i)) / fadeFrames,
                0.0f, 1.0f);
            for (std::int64_t c = 0; c < channels; ++c) {
                scratch[i * channels + c] *= gain;
            }
        }
        io._fadeInRemaining.store(std::max<std::int64_t>(remaining - frames, 0),
                                  std::memory_order_relaxed);
    }

    if (io.switches.keepAlive) {
        addKeepAliveNoise(io, scratch, frames * channels);
    }

    writeToDevice(scratch, frames, channels, output);

    if (io.switches.clickDebug) {
        measureClick(io, output);
    }
}

} // namespace quellora
