#include "engine/hal/simulated/simulated_buffer_list.h"
#include "simulated_hal_fixture.h"

#include <gtest/gtest.h>

#include <vector>

namespace quellora {
namespace {

struct LayoutCase {
    const char* name;
    std::vector<SimulatedBufferLayout> layout;
};

class SimulatedBufferLayoutTest : public SimulatedHalTest,
                                  public ::testing::WithParamInterface<LayoutCase> {};

float pattern(std::size_t buffer, std::uint32_t frame, std::uint32_t channel) {
    return static_cast<float>(buffer * 1000 + frame * 10 + channel);
}

// A proc reads and writes the raw lists the way an engine does, interleaved
// within each buffer; the owning list's accessors must agree with it.
TEST_P(SimulatedBufferLayoutTest, ProcSeesTheLayoutTheTestBuilt) {
    constexpr std::uint32_t frames = 32;
    SimulatedBufferList input(GetParam().layout, frames);
    SimulatedBufferList output(GetParam().layout, frames);
    for (std::size_t buffer = 0; buffer < input.bufferCount(); ++buffer) {
        for (std::uint32_t frame = 0; GetParam().layout[buffer].hasData && frame < frames;
             ++frame) {
            for (std::uint32_t channel = 0; channel < input.channels(buffer); ++channel) {
                input.at(buffer, frame, channel) = pattern(buffer, frame, channel);
            }
        }
    }
    std::vector<std::uint32_t> bytesSeen;
    AudioDeviceIOProcID proc = 0;
    ASSERT_EQ(hal.createIOProcID(
                  speakers,
                  [&](const AudioBufferList& in, AudioBufferList& out) {
                      ASSERT_EQ(in.mNumberBuffers, out.mNumberBuffers);
                      for (std::uint32_t b = 0; b < in.mNumberBuffers; ++b) {
                          bytesSeen.push_back(in.mBuffers[b].mDataByteSize);
                          const auto* source = static_cast<const float*>(in.mBuffers[b].mData);
                          auto* target = static_cast<float*>(out.mBuffers[b].mData);
                          const auto samples = in.mBuffers[b].mDataByteSize / sizeof(float);
                          for (std::size_t i = 0; source && target && i < samples; ++i) {
                              target[i] = -source[i];
                          }
                      }
                  },
                  proc),
              kAudioHardwareNoError);
    ASSERT_EQ(hal.deviceStart(speakers, proc), kAudioHardwareNoError);

    EXPECT_EQ(hal.runIOCycle(speakers, input.list(), output.list()), 1);
    std::vector<std::uint32_t> expectedBytes;
    for (std::size_t buffer = 0; buffer < input.bufferCount(); ++buffer) {
        const auto& layout = GetParam().layout[buffer];
        expectedBytes.push_back(layout.channels * frames * std::uint32_t{sizeof(float)});
        EXPECT_EQ(output.samples(buffer).empty(), !layout.hasData);
        for (std::uint32_t frame = 0; layout.hasData && frame < frames; ++frame) {
            for (std::uint32_t channel = 0; channel < layout.channels; ++channel) {
                EXPECT_EQ(output.at(buffer, frame, channel), -pattern(buffer, frame, channel));
            }
        }
    }
    EXPECT_EQ(bytesSeen, expectedBytes);

    output.reset();
    for (std::size_t buffer = 0; buffer < output.bufferCount(); ++buffer) {
        for (const auto sample : output.samples(buffer)) {
            ASSERT_EQ(sample, 0.0f);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, SimulatedBufferLayoutTest,
    ::testing::Values(LayoutCase{"Mono", {{1, true}}}, LayoutCase{"Stereo", {{2, true}}},
                      LayoutCase{"FivePointOne", {{6, true}}},
                      LayoutCase{"PlanarStereo", {{1, true}, {1, true}}},
                      LayoutCase{"MissingData", {{2, false}}},
                      LayoutCase{"SecondBufferMissing", {{2, true}, {2, false}}}),
    CaseName());

TEST_F(SimulatedHalTest, OnlyStartedProcsRunInCreationOrder) {
    std::vector<int> ran;
    const auto makeProc = [&](int tag) {
        AudioDeviceIOProcID proc = 0;
        EXPECT_EQ(hal.createIOProcID(
                      speakers,
                      [&ran, tag](const AudioBufferList&, AudioBufferList&) { ran.push_back(tag); },
                      proc),
                  kAudioHardwareNoError);
        return proc;
    };
    const auto first = makeProc(1);
    const auto second = makeProc(2);
    const auto third = makeProc(3);
    auto input = SimulatedBufferList::empty();
    auto output = SimulatedBufferList::interleaved(2, 8);
    const auto cycle = [&] {
        return hal.runIOCycle(speakers, input.list(), output.list());
    };

    EXPECT_EQ(cycle(), 0);
    for (const auto proc : {third, first, second}) {
        ASSERT_EQ(hal.deviceStart(speakers, proc), kAudioHardwareNoError);
    }
    EXPECT_EQ(cycle(), 3);
    EXPECT_EQ(hal.deviceStop(speakers, second), kAudioHardwareNoError);
    EXPECT_EQ(hal.destroyIOProcID(speakers, third), kAudioHardwareNoError);
    EXPECT_EQ(cycle(), 1);
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3, 1}));
    EXPECT_EQ(hal.cycleCount(speakers), 3u);

    EXPECT_EQ(hal.deviceStart(speakers, third), kAudioHardwareIllegalOperationError);
    EXPECT_EQ(hal.destroyIOProcID(speakers, third), kAudioHardwareIllegalOperationError);
    EXPECT_EQ(hal.deviceStart(headphones, first), kAudioHardwareIllegalOperationError)
        << "a proc belongs to the device it was made for";
    AudioDeviceIOProcID unused = 0;
    EXPECT_EQ(hal.createIOProcID(
                  player, [](const AudioBufferList&, AudioBufferList&) {}, unused),
              kAudioHardwareBadDeviceError);

    hal.removeDevice(speakers);
    EXPECT_EQ(cycle(), 0);
    EXPECT_EQ(ran.size(), 4u);
    EXPECT_EQ(hal.deviceStop(speakers, first), kAudioHardwareBadObjectError);
}

} // namespace
} // namespace quellora
