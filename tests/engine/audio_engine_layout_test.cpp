// The pipeline in the output's own channels: the tap is mixed for the
// default output's layout, each channel plays on its own speaker, and a
// change of layout rebuilds as a change of rate does.

#include "allocation_counter.h"
#include "engine/audio_engine_test_peer.h"
#include "engine_test_fixture.h"

namespace quellora {
namespace {

namespace Label = AudioChannelLabel;

const std::vector<std::uint32_t> fivePointOne = SimulatedHal::usualChannelLabels(6);

class AudioEngineLayoutTest : public EngineTest {
protected:
    TapDescription tapDescription() const { return *hal.tapDescription(hal.taps().front()); }

    // One period of `channels` through the pipeline, channel c carrying
    // (c + 1) / 16 in every frame: what each channel of `device` plays once
    // the lookahead has passed.
    std::vector<float> playedChannels(std::uint32_t channels, AudioObjectID device) {
        auto tap = SimulatedBufferList::interleaved(channels, 512);
        for (std::uint32_t f = 0; f < 512; ++f) {
            for (std::uint32_t c = 0; c < channels; ++c) {
                tap.at(0, f, c) = static_cast<float>(c + 1) / 16.0f;
            }
        }
        auto output = SimulatedBufferList::interleaved(channels, 512);
        runPeriod(tap, output, device);
        runPeriod(tap, output, device);
        std::vector<float> played;
        for (std::uint32_t c = 0; c < channels; ++c) {
            played.push_back(output.at(0, 400, c));
        }
        return played;
    }

    AudioObjectID surround =
        hal.addOutputDevice({.uid = "surround", .channelLabels = fivePointOne});
};

struct OutputCase {
    const char* name;
    std::vector<std::uint32_t> labels;
    int lowFrequencyChannel; // -1 for none
};

class TapLayoutFollowsTheOutputTest : public AudioEngineLayoutTest,
                                      public ::testing::WithParamInterface<OutputCase> {};

TEST_P(TapLayoutFollowsTheOutputTest, AndEveryChannelPlaysOnItsOwnSpeaker) {
    const auto& labels = GetParam().labels;
    const auto channels = static_cast<std::uint32_t>(labels.size());
    const auto device = hal.addOutputDevice({.uid = "receiver", .channelLabels = labels});
    hal.setDefaultOutput(device);
    auto& audio = startedEngine();
    auto params = CompressorParams::defaults();
    params.mix = 0.0f; // dry: the levels pass unchanged, once the mix has glided there
    audio.updateCompressorParams(params);

    const auto tap = tapDescription();
    EXPECT_FALSE(tap.stereo);
    EXPECT_EQ(tap.deviceUID, "receiver");
    const auto& layout = AudioEngineTestPeer(audio).pipelineChannelLayout();
    ASSERT_EQ(layout.count, static_cast<int>(channels));
    for (int c = 0; c < layout.count; ++c) {
        EXPECT_EQ(layout.positions[static_cast<std::size_t>(c)] == SpeakerPosition::lowFrequency,
                  c == GetParam().lowFrequencyChannel)
            << "channel " << c;
    }
    const auto played = playedChannels(channels, device);
    for (std::uint32_t c = 0; c < channels; ++c) {
        EXPECT_NEAR(played[c], static_cast<float>(c + 1) / 16.0f, 1e-5f) << "channel " << c;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, TapLayoutFollowsTheOutputTest,
    ::testing::Values(OutputCase{"mono", {Label::mono}, -1},
                      OutputCase{"stereo", {Label::left, Label::right}, -1},
                      OutputCase{"twoPointOne", {Label::left, Label::right, Label::lfeScreen}, 2},
                      OutputCase{"fivePointOne", fivePointOne, 3},
                      OutputCase{"sevenPointOne", SimulatedHal::usualChannelLabels(8), 3}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(AudioEngineLayoutTest, OutputsWithoutAKnownLayoutOfUpToEightChannelsGetAStereoMixdown) {
    const auto wide = hal.addOutputDevice(
        {.uid = "interface", .channelLabels = SimulatedHal::usualChannelLabels(12)});
    hal.removeProperty(surround, AudioProperty::preferredChannelLayout, AudioScope::output);
    for (const auto device : {wide, surround}) {
        hal.setDefaultOutput(device);
        mainQueue.runUntilIdle();
        engine.reset();
        runningReports.clear();
        auto& audio = startedEngine();
        EXPECT_TRUE(tapDescription().stereo);
        EXPECT_EQ(AudioEngineTestPeer(audio).pipelineChannelLayout(), ChannelLayout::stereo());
    }
}

TEST_F(AudioEngineLayoutTest, AProfileSwitchRebuildsWithTheNewLayoutOnceItSettles) {
    auto& audio = startedEngine();
    EXPECT_EQ(AudioEngineTestPeer(audio).pipelineChannelLayout().count, 2);

    hal.setChannelLayout(speakers, fivePointOne);
    advance(0.39);
    EXPECT_EQ(AudioEngineTestPeer(audio).pipelineGeneration(), 1);
    advance(0.41);
    EXPECT_TRUE(
        logged("Output channel layout changed 2→6 channels, cold-restarting audio pipeline"));
    EXPECT_EQ(runningReports.size(), 2u);
    EXPECT_EQ(AudioEngineTestPeer(audio).pipelineChannelLayout().count, 6);
    EXPECT_EQ(tapDescription().deviceUID, "speakers");

    // Told again without a change: nothing to rebuild.
    hal.setChannelLayout(speakers, fivePointOne);
    advance(1.0);
    EXPECT_EQ(runningReports.size(), 2u);
    EXPECT_EQ(hal.listenerCount(speakers, AudioProperty::preferredChannelLayout), 1u);
}

TEST_F(AudioEngineLayoutTest, SwitchingTheDefaultBetweenStereoAndSurroundFollowsEachLayout) {
    auto& audio = startedEngine();
    for (const auto& [device, channels] :
         {std::pair{surround, 6}, std::pair{speakers, 2}, std::pair{surround, 6}}) {
        hal.setDefaultOutput(device);
        advance(0.8);
        ASSERT_EQ(AudioEngineTestPeer(audio).pipelineChannelLayout().count, channels);
        // Only the current output is listened to.
        EXPECT_EQ(hal.listenerCount(device, AudioProperty::preferredChannelLayout), 1u);
        EXPECT_EQ(hal.listenerCount(device == surround ? speakers : surround,
                                    AudioProperty::preferredChannelLayout),
                  0u);
    }
    EXPECT_EQ(runningReports.size(), 4u);
}

TEST_F(AudioEngineLayoutTest, SevenPointOneFlowsWithoutAllocating) {
    const auto receiver = hal.addOutputDevice(
        {.uid = "receiver", .channelLabels = SimulatedHal::usualChannelLabels(8)});
    hal.setDefaultOutput(receiver);
    startedEngine().updateCompressorParams(CompressorParams::defaults());
    auto tap = SimulatedBufferList::interleaved(8, 1024);
    for (std::size_t i = 0; i < tap.samples(0).size(); ++i) {
        tap.samples(0)[i] = (i % 7 == 0) ? 0.8f : -0.3f;
    }
    auto aggregateOutput = SimulatedBufferList::interleaved(2, 1024);
    auto none = SimulatedBufferList::empty();
    auto output = SimulatedBufferList::interleaved(8, 1024);
    const auto capture = aggregate();
    const testing::AllocationCounter allocations;
    for (int period = 0; period < 20; ++period) {
        hal.runIOCycle(capture, tap.list(), aggregateOutput.list());
        hal.runIOCycle(receiver, none.list(), output.list());
    }
    EXPECT_EQ(allocations.count(), 0);
    EXPECT_NE(output.at(0, 1000, 7), 0.0f);
}

} // namespace
} // namespace quellora
