// Audio through a running engine: compressed on the capture side, played on
// the output, without allocating on either IO path; and a threaded soak with
// drifting clocks.

#include "allocation_counter.h"
#include "dsp/true_peak_limiter.h"
#include "engine/audio_engine_test_peer.h"
#include "engine_test_fixture.h"

#include <cmath>
#include <mutex>

namespace quellora {
namespace {

// A tone at the Nyquist frequency: constant magnitude, unity through the
// sidechain filter, so the compressed level is known exactly.
constexpr float toneLevel = 0.35481339f; // -9 dBFS
// The standard preset at -9 dBFS: -12 dB from the curve, 2.16 dB makeup, 95 % wet.
const float compressedLevel =
    toneLevel * (0.05f + 0.95f * std::pow(10.0f, (-12.0f + 2.16f) / 20.0f));

void fillTone(float* interleaved, std::uint32_t frames, std::uint64_t& phase) {
    for (std::uint32_t i = 0; i < frames; ++i, ++phase) {
        const float sample = phase % 2 ? -toneLevel : toneLevel;
        interleaved[i * 2] = sample;
        interleaved[i * 2 + 1] = sample;
    }
}

using AudioEngineAudioTest = EngineTest;

class AudioEngineStereoTest : public EngineTest {
protected:
    // One stereo IO period: the tap's block through the capture side, then
    // the output's.
    void runStereoPeriod() {
        hal.runIOCycle(capture, tap.list(), aggregateOutput.list());
        hal.runIOCycle(speakers, none.list(), output.list());
    }

    SimulatedBufferList tap = SimulatedBufferList::interleaved(2, 512);
    SimulatedBufferList aggregateOutput = SimulatedBufferList::interleaved(2, 512);
    SimulatedBufferList none = SimulatedBufferList::empty();
    SimulatedBufferList output = SimulatedBufferList::interleaved(2, 512);
    AudioObjectID capture = 0;
};

TEST_F(AudioEngineStereoTest, TheOutputPlaysTheCompressedTapWithoutAllocating) {
    auto& audio = startedEngine();
    audio.updateCompressorParams(CompressorParams::defaults());
    audio.compressor().setBypassed(false);
    capture = aggregate();
    std::uint64_t phase = 0;
    for (int period = 0; period < 200; ++period) {
        fillTone(tap.samples(0).data(), 512, phase);
        const testing::AllocationCounter allocations;
        runStereoPeriod();
        ASSERT_EQ(allocations.count(), 0);
    }
    for (std::uint32_t frame = 0; frame < 512; ++frame) {
        ASSERT_NEAR(std::fabs(output.at(0, frame, 0)), compressedLevel, 2e-4f) << frame;
    }
    EXPECT_EQ(AudioEngineTestPeer(audio).ioState()._ringUnderflowFrames.load(), 0);
    EXPECT_EQ(audio.compressor().levelBuffer().writeCount(), 200);
}

// Night adds a leveller and a true-peak limiter to the same IO path: a
// near full-scale sine must come out under the limiter's ceiling, and
// nothing may allocate while it limits.
TEST_F(AudioEngineStereoTest, TheNightChainLimitsWithoutAllocating) {
    auto& audio = startedEngine();
    audio.selectChain(ChainKind::night);
    audio.compressor().setBypassed(false);
    capture = aggregate();
    const float ceiling = std::pow(10.0f, TruePeakLimiter::ceilingDbtp / 20.0f);
    std::uint64_t phase = 0;
    float loudest = 0.0f;
    const testing::AllocationCounter allocations;
    for (int period = 0; period < 400; ++period) {
        for (auto& sample : tap.samples(0)) {
            sample =
                0.99f * static_cast<float>(std::sin(0.0412 * static_cast<double>(phase++ / 2)));
        }
        runStereoPeriod();
        for (const float sample : output.samples(0)) {
            loudest = std::max(loudest, std::fabs(sample));
        }
    }
    EXPECT_EQ(allocations.count(), 0);
    EXPECT_LE(loudest, ceiling * 1.001f);
    EXPECT_GT(loudest, ceiling * 0.5f) << "the tone is heard";
}

TEST_F(AudioEngineAudioTest, KeepAliveAndClickPathsDoNotAllocateEither) {
    startedEngine({.keepAlive = true, .clickDebug = true, .meteringEnabled = true});
    auto tap = SimulatedBufferList::interleaved(6, 480);
    auto missing = SimulatedBufferList({{2, false}}, 480);
    auto aggregateOutput = SimulatedBufferList::interleaved(2, 480);
    auto none = SimulatedBufferList::empty();
    auto output = SimulatedBufferList::interleaved(1, 480);
    const auto capture = aggregate();
    const testing::AllocationCounter allocations;
    for (int period = 0; period < 50; ++period) {
        hal.runIOCycle(capture, (period % 3 ? tap : missing).list(), aggregateOutput.list());
        hal.runIOCycle(speakers, none.list(), output.list());
    }
    EXPECT_EQ(allocations.count(), 0);
}

// Thirty seconds of audio with the capture clock 0.1 % fast: the ring's
// latency cap keeps absorbing the drift and whatever plays is the compressed
// tone. The clocks run ten times faster than real time on a machine that may
// be busy with other tests (and sanitizers), so scheduling jitter weighs far
// more than on a real device: underflows and skips are allowed as long as the
// audio mostly flows and every sample that plays is right.
TEST(AudioEngineSoakThreadedTest, DriftingClocksForThirtySecondsOfAudio) {
    const testing::LogCapture log;
    ManualDispatcher mainQueue;
    ManualDispatcher diagnosticsQueue;
    ScriptedHal hal(mainQueue);
    const auto speakers = hal.addOutputDevice({.uid = "speakers", .bufferFrameSize = 512});
    hal.setDefaultOutput(speakers);
    mainQueue.runUntilIdle();

    struct Recording {
        std::mutex mutex;
        std::int64_t frames = 0;
        std::int64_t atLevel = 0;
        std::int64_t silent = 0;
        std::int64_t wrong = 0;
        std::int64_t nonFinite = 0;
    } recording;
    std::uint64_t tapPhase = 0; // only the aggregate's thread touches it
    ThreadedClockOptions clocks;
    clocks.timeScale = 5.0; // fast enough to be quick, slow enough for a busy machine
    clocks.aggregateDrift = 0.001;
    clocks.tapSource = [&tapPhase](float* samples, std::uint32_t frames, std::uint32_t) {
        fillTone(samples, frames, tapPhase);
    };
    clocks.outputSink = [&](AudioObjectID, const AudioBufferList& output) {
        const auto* samples = static_cast<const float*>(output.mBuffers[0].mData);
        const auto frames = output.mBuffers[0].mDataByteSize / sizeof(float) / 2;
        const std::scoped_lock lock(recording.mutex);
        for (std::size_t i = 0; i < frames; ++i, ++recording.frames) {
            const float magnitude = std::fabs(samples[i * 2]);
            if (!std::isfinite(samples[i * 2])) {
                ++recording.nonFinite;
            } else if (recording.frames >= 48000 * 10 &&
                       std::fabs(magnitude - compressedLevel) < 0.002f) {
                ++recording.atLevel;
            } else if (recording.frames >= 48000 * 10 && magnitude == 0.0f) {
                ++recording.silent;
            } else if (recording.frames >= 48000 * 10) {
                ++recording.wrong;
            }
        }
    };
    hal.runDevicesOnThreads(clocks);

    {
        AudioEngine engine(hal, mainQueue, diagnosticsQueue, {.meteringEnabled = true});
        engine.updateCompressorParams(CompressorParams::defaults());
        engine.start();
        mainQueue.advance(seconds(0.4));
        ASSERT_TRUE(hal.isRunningOnThread(speakers));
        const std::uint64_t periods = 30 * 48000 / 512;
        ASSERT_TRUE(hal.waitForCycles(speakers, periods, std::chrono::seconds(120)));

        const auto& io = AudioEngineTestPeer(engine).ioState();
        // The surplus 0.1 % is absorbed by skips, or by the gaps that jitter
        // leaves; either way the ring never runs away.
        EXPECT_LT(io._ringUnderflowFrames.load() + io._ringDroppedFrames.load(), 48000 * 30 / 4);
        EXPECT_LE(io.ring.fillFrames(), 16384);
        engine.stop();
    }
    hal.stopDeviceThreads();

    const std::scoped_lock lock(recording.mutex);
    EXPECT_EQ(recording.nonFinite, 0);
    const auto judged = recording.frames - 48000 * 10;
    ASSERT_GT(judged, 48000 * 15);
    EXPECT_GT(recording.atLevel, judged * 3 / 4);
    EXPECT_LT(recording.wrong, judged / 1000);
}

} // namespace
} // namespace quellora
