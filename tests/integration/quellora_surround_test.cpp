// Surround through Quellora: a 5.1 receiver as the default output keeps all
// six channels, each on its own speaker, with one gain for all; the tap
// follows each output's layout; a stereo stream on the receiver is upmixed as
// it would be without Quellora.

#include "quellora_under_test.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>

namespace quellora::integration {
namespace {

using namespace std::chrono_literals;

constexpr const char* receiver = "receiver";
constexpr const char* fivePointOne = "FL,FR,FC,LFE,RL,RR";
constexpr int channels = 6;
// A tone per channel, far enough apart to be told apart in 40 ms windows.
constexpr std::array<double, channels> toneHz{300.0, 500.0, 700.0, 60.0, 900.0, 1100.0};
// -14 dB RMS.
constexpr double tonePeakDb = -14.0 + 3.01;

class QuelloraSurround : public QuelloraTest {
protected:
    void SetUp() override {
        QuelloraTest::SetUp();
        if (!session().findNodeId(receiver)) {
            session().createNullSink({receiver, "Receiver", "FL FR FC LFE RL RR"});
        }
        session().setDefaultSink(receiver);
    }

    // `clip` played on the default output, recorded in 5.1 from the receiver
    // once it has played for `settleSeconds`: `seconds` of it.
    AudioClip playAndRecord(const AudioClip& clip, const std::string& channelMap,
                            double settleSeconds, double seconds) {
        auto recording = session().startRecording(receiver, 48000, channels, fivePointOne);
        auto playback = session().play(clip, {}, 1.0, channelMap);
        if (quellora) {
            waitUntilProcessed(playback.nodeName(), receiver);
        }
        EXPECT_TRUE(recording.waitForSeconds(settleSeconds + seconds + 1.0, 20s));
        auto recorded = recording.stop();
        const auto onset = onsetSeconds(recorded, -60.0);
        EXPECT_TRUE(onset) << "nothing reached the receiver";
        const double from = onset.value_or(0.0) + settleSeconds;
        return recorded.slice(from, from + seconds);
    }

    // The level of `hz` in one channel: the median over 40 ms windows.
    static double toneLevelDb(const AudioClip& clip, int channel, double hz) {
        const auto windows = toneWindows(clip.channel(channel), hz, 0.04, 0.02);
        std::vector<double> levels;
        for (const auto& window : windows) {
            levels.push_back(window.levelDb);
        }
        if (levels.empty()) {
            return -200.0;
        }
        std::nth_element(levels.begin(), levels.begin() + static_cast<long>(levels.size() / 2),
                         levels.end());
        return levels[levels.size() / 2];
    }

    static std::array<double, channels> channelRmsDb(const AudioClip& clip) {
        std::array<double, channels> levels{};
        for (int c = 0; c < channels; ++c) {
            levels[static_cast<std::size_t>(c)] = rmsDb(clip.channel(c));
        }
        return levels;
    }
};

AudioClip tonePerChannel(double seconds) {
    std::vector<AudioClip> tones;
    for (const double hz : toneHz) {
        tones.push_back(tone(tonePeakDb, seconds, hz, 48000, 1));
    }
    return interleaved(tones);
}

TEST_F(QuelloraSurround, EveryChannelArrivesOnItsOwnSpeakerWithOneGainForAll) {
    const auto clip = tonePerChannel(6.0);
    const auto without = playAndRecord(clip, fivePointOne, 1.0, 2.0);
    const auto levelsWithout = channelRmsDb(without);
    for (int c = 0; c < channels; ++c) {
        EXPECT_NEAR(levelsWithout[static_cast<std::size_t>(c)], -14.0, 0.5) << "channel " << c;
    }

    startQuellora(receiver);
    const auto with = playAndRecord(clip, fivePointOne, 3.0, 2.0);
    const auto levelsWith = channelRmsDb(with);

    std::array<double, channels> gains{};
    for (int c = 0; c < channels; ++c) {
        const auto index = static_cast<std::size_t>(c);
        gains[index] = levelsWith[index] - levelsWithout[index];
        // Its own tone, and none of the others.
        EXPECT_NEAR(toneLevelDb(with, c, toneHz[index]), tonePeakDb + gains[index], 0.5)
            << "channel " << c;
        for (int other = 0; other < channels; ++other) {
            if (other != c) {
                EXPECT_LT(toneLevelDb(with, c, toneHz[static_cast<std::size_t>(other)]),
                          tonePeakDb - 40.0)
                    << "tone " << other << " on channel " << c;
            }
        }
    }
    const auto [lowest, highest] = std::minmax_element(gains.begin(), gains.end());
    EXPECT_LE(*highest - *lowest, 0.1) << "the channels were not compressed alike";
    // Compressed: the standard preset takes this much down.
    EXPECT_LT(*highest, -3.0);
}

std::string tapChannels(const GraphSnapshot& g) {
    const auto* tap = ourNode(g, "quellora-tap-");
    return tap ? tap->property("audio.channels").value_or("") : "";
}

// From the receiver through the smallest and the largest layouts a tap
// takes, and back.
TEST_F(QuelloraSurround, TheTapFollowsEachOutputsLayout) {
    session().createNullSink({"mono", "Mono", "MONO"});
    session().createNullSink({"sevenPointOne", "7.1", "FL FR FC LFE RL RR SL SR"});
    startQuellora(receiver);
    auto playback = session().play(tone(-12.0, 120.0));
    for (const auto& [sink, count] :
         {std::pair{receiver, "6"}, std::pair{"speakers", "2"}, std::pair{"mono", "1"},
          std::pair{"sevenPointOne", "8"}, std::pair{receiver, "6"}}) {
        session().setDefaultSink(sink);
        waitForGraph(
            [&](const GraphSnapshot& g) {
                return processesInto(g, sink) && tapChannels(g) == count &&
                       routedThroughTap(g, playback.nodeName(), sink);
            },
            5s);
        EXPECT_GT(peakDb(session().record(sink, 0.5)), -25.0) << sink;
    }
}

TEST_F(QuelloraSurround, AStereoStreamIsUpmixedAsItWouldBeWithoutQuellora) {
    const auto stereo = interleaved(
        {tone(tonePeakDb, 6.0, 440.0, 48000, 1), tone(tonePeakDb, 6.0, 660.0, 48000, 1)});
    const auto levelsWithout = channelRmsDb(playAndRecord(stereo, "FL,FR", 1.0, 2.0));

    startQuellora(receiver);
    const auto levelsWith = channelRmsDb(playAndRecord(stereo, "FL,FR", 3.0, 2.0));

    // The fronts carry the stream; the same channels are silent or not, and
    // those that play are taken down alike.
    const double frontGain = levelsWith[0] - levelsWithout[0];
    for (int c = 0; c < channels; ++c) {
        const auto index = static_cast<std::size_t>(c);
        if (levelsWithout[index] < -80.0) {
            EXPECT_LT(levelsWith[index], -80.0) << "channel " << c;
        } else {
            EXPECT_NEAR(levelsWith[index] - levelsWithout[index], frontGain, 0.5)
                << "channel " << c;
        }
    }
}

} // namespace
} // namespace quellora::integration
