// `quellora run` on a real PipeWire server: what reaches the speakers, how
// the pipeline follows the default output and the rate, how it idles, what
// it loads, and what is left when it stops or dies.

#include "dsp/compressor_params.h"
#include "dsp/gain_computer.h"
#include "dsp/processing_chain.h"
#include "quellora_under_test.h"
#include "support/test_signals.h"

#include <gmock/gmock.h>

#include <stdlib.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>

namespace quellora::integration {
namespace {

using namespace std::chrono_literals;

using QuelloraPipeline = QuelloraTest;

TEST_F(QuelloraPipeline, CompressesWhatReachesTheSpeakersAndNothingElse) {
    startQuellora();
    // The player appears after Quellora: new clients are captured too.
    const double levels[] = {-30, -24, -18, -12, -6};
    // Silence first: the tone must start after the recorder does, or its
    // steps cannot be found (a loaded machine starts the recorder late).
    constexpr double leadIn = 2.0;
    auto clip = steppedTone({std::begin(levels), std::end(levels)}, 1.5);
    clip.samples.insert(clip.samples.begin(),
                        static_cast<std::size_t>(leadIn * clip.sampleRate * clip.channels), 0.0f);
    auto playback = session().play(clip);
    waitForGraph(
        [&](const GraphSnapshot& g) {
            return routedThroughTap(g, playback.nodeName(), "speakers");
        },
        5s);

    auto recording = session().startRecording("speakers");
    ASSERT_TRUE(recording.waitForSeconds(leadIn + 7.5, 25s));
    const auto recorded = recording.stop();

    // The last half second of every 1.5 s step, after the onset of the clip.
    const auto onset = onsetSeconds(recorded, -45.0);
    ASSERT_TRUE(onset);
    ASSERT_GT(*onset, 0.01) << "the recorder started after the tone";
    for (int step = 0; step < 5; ++step) {
        const double from = *onset + 1.5 * step + 0.9;
        const auto window = recorded.slice(from, from + 0.5);
        // An unprocessed copy on top would read several dB louder.
        EXPECT_NEAR(peakDb(window), compressedPeakDb(levels[step]), 1.0) << "step " << levels[step];
    }
}

TEST_F(QuelloraPipeline, FollowsTheDefaultOutputAndLeavesOneGenerationAfterManySwitches) {
    startQuellora();
    auto playback = session().play(tone(-12.0, 120.0));
    waitForGraph(
        [&](const GraphSnapshot& g) {
            return routedThroughTap(g, playback.nodeName(), "speakers");
        },
        5s);

    session().setDefaultSink("headphones");
    waitForGraph([&](const GraphSnapshot& g) { return processesInto(g, "headphones"); }, 1500ms);
    EXPECT_GT(peakDb(session().record("headphones", 0.5)), -25.0);
    EXPECT_LT(peakDb(session().record("speakers", 0.3)), -100.0);

    session().setDefaultSink("speakers");
    waitForGraph([&](const GraphSnapshot& g) { return processesInto(g, "speakers"); }, 1500ms);

    for (int i = 0; i < 20; ++i) {
        session().setDefaultSink(i % 2 ? "speakers" : "headphones");
    }
    // Settled on speakers: one tap, one aggregate, and only their links.
    waitForGraph(
        [&](const GraphSnapshot& g) {
            const auto* tap = ourNode(g, "quellora-tap-");
            const auto* aggregate = ourNode(g, "quellora-aggregate-");
            return processesInto(g, "speakers") && ourNodes(g).size() == 2 &&
                   g.linksInto(tap->name).size() == 2 && g.linksFrom(tap->name).size() == 2 &&
                   g.linksFrom(aggregate->name).size() == 2;
        },
        10s);
    EXPECT_GT(peakDb(session().record("speakers", 0.5)), -25.0);
}

TEST_F(QuelloraPipeline, RebuildsAtTheNewRateWhenTheGraphRateChanges) {
    startQuellora();
    auto playback = session().play(tone(-12.0, 120.0));
    const auto before = ourNode(session().graph(), "quellora-aggregate-")->name;

    session().forceSampleRate(44100);

    waitForGraph(
        [&](const GraphSnapshot& g) {
            const auto* aggregate = ourNode(g, "quellora-aggregate-");
            return aggregate && aggregate->name != before && processesInto(g, "speakers");
        },
        5s);
    EXPECT_GT(peakDb(session().record("speakers", 0.5, 44100)), -25.0);
}

TEST_F(QuelloraPipeline, IdlesWithoutSourcesAndFadesBackInWhenPlaybackStarts) {
    startQuellora();
    // Two idle seconds suspend IO: our nodes stop running.
    waitForGraph(
        [&](const GraphSnapshot& g) {
            const auto nodes = ourNodes(g);
            return nodes.size() == 2 &&
                   std::all_of(nodes.begin(), nodes.end(),
                               [](const GraphNode* node) { return node->state != "running"; });
        },
        6s);
    ASSERT_TRUE(logged("IO suspended (no audio sources)"));

    // The recorder keeps the speakers running, so that it misses nothing of
    // the fade-in (that no longer wakes Quellora: what the tap receives
    // does). The player aims at the tap itself, so that no unprocessed onset
    // (the session manager linking a new stream to the speakers first) hides
    // the fade-in.
    auto recording = session().startRecording("speakers");
    auto playback =
        session().play(tone(-12.0, 30.0), ourNode(session().graph(), "quellora-tap-")->name);
    ASSERT_TRUE(recording.waitForSeconds(2.0, 10s));
    const auto recorded = recording.stop();
    EXPECT_TRUE(logged("IO resumed (audio source active)"));

    // The level climbs from well below the settled one, without steps down
    // on the way, and is there after the 50 ms fade-in.
    const auto onset = onsetSeconds(recorded, -70.0);
    ASSERT_TRUE(onset);
    const auto settled = peakDb(recorded.slice(*onset + 0.8, *onset + 1.2));
    EXPECT_NEAR(settled, compressedPeakDb(-12.0), 1.0);
    EXPECT_LT(peakDb(recorded.slice(*onset, *onset + 0.0025)), settled - 10.0);
    double previous = -200.0;
    for (double from = *onset; from < *onset + 0.05; from += 0.005) {
        const auto level = peakDb(recorded.slice(from, from + 0.005));
        EXPECT_GE(level, previous - 0.1) << "at " << from - *onset << " s";
        previous = level;
    }
    EXPECT_NEAR(peakDb(recorded.slice(*onset + 0.06, *onset + 0.16)), settled, 0.5);
}

// The left channel reaches the speakers' left through Quellora; a hand-made
// link plays the same channel on the speakers' right directly. The onsets
// differ by exactly what Quellora adds: its 5 ms lookahead, and no buffer of
// the server's, because both of its callbacks run in the output's cycle.
struct PresetDelay {
    const char* preset;
    long frames;
};

class AddedDelay : public QuelloraPipeline, public ::testing::WithParamInterface<PresetDelay> {};

TEST_P(AddedDelay, IsTheChainsLookaheadAndNothingMore) {
    startQuellora("speakers", {"--preset", GetParam().preset});
    auto clip = onsetTone(1.0, 1.0, -6.0);
    for (std::int64_t frame = 0; frame < clip.frames(); ++frame) {
        clip.samples[static_cast<std::size_t>(frame * 2 + 1)] = 0.0f;
    }
    auto recording = session().startRecording("speakers");
    auto playback = session().play(clip);
    waitForGraph(
        [&](const GraphSnapshot& g) {
            return routedThroughTap(g, playback.nodeName(), "speakers");
        },
        5s);
    // A hand-made link, which the session manager leaves alone.
    runChecked({"pw-link", playback.nodeName() + ":output_FL", "speakers:playback_FR"});
    ASSERT_TRUE(playback.waitUntilFinished(10s));
    const auto recorded = recording.stop();

    const auto processed = onsetSeconds(recorded.channel(0), -40.0);
    const auto direct = onsetSeconds(recorded.channel(1), -40.0);
    ASSERT_TRUE(processed && direct);
    EXPECT_EQ(std::lround((*processed - *direct) * 48000.0), GetParam().frames);
}

// Standard: the compressor's 5 ms. Night: that, and the limiter's 2 ms with
// its interpolator's half width.
INSTANTIATE_TEST_SUITE_P(Presets, AddedDelay,
                         ::testing::Values(PresetDelay{"standard", 240}, PresetDelay{"night", 342}),
                         [](const auto& row) { return std::string(row.param.preset); });

// What Night plays on the live path is what the same chain makes of the same
// recording offline: quiet speech lifted, then loud music turned down.
TEST_F(QuelloraPipeline, NightReachesTheSpeakersAtTheLevelsTheOfflineChainPredicts) {
    startQuellora("speakers", {"--preset", "night"});
    AudioClip clip;
    clip.samples = testing::speechLike(6 * 48000, 48000.0f, -36.0f);
    const auto loud = testing::denseMusicLike(4 * 48000, 48000.0f, -12.0f);
    clip.samples.insert(clip.samples.end(), loud.begin(), loud.end());

    auto predicted = clip;
    ProcessingChain chain;
    chain.selectKind(ChainKind::night);
    chain.updateParams(nightCompressorParams(), 48000.0f);
    chain.reset();
    for (std::int64_t at = 0; at < predicted.frames(); at += 256) {
        chain.processInterleaved(predicted.samples.data() + at * 2,
                                 std::min<std::int64_t>(256, predicted.frames() - at), 2);
    }

    auto recording = session().startRecording("speakers");
    auto playback = session().play(clip);
    ASSERT_TRUE(playback.waitUntilFinished(20s));
    const auto recorded = recording.stop();

    const auto heard = onsetSeconds(recorded, -50.0);
    const auto expected = onsetSeconds(predicted, -50.0);
    ASSERT_TRUE(heard && expected);
    // Past the first half second, which the server may play before routing
    // the new stream into Quellora, every half second as predicted.
    for (double from = 0.5; from < 9.5; from += 0.5) {
        EXPECT_NEAR(rmsDb(recorded.slice(*heard + from, *heard + from + 0.5)),
                    rmsDb(predicted.slice(*expected + from, *expected + from + 0.5)), 1.0)
            << "at " << from << " s";
    }
    // And the speech did come up while the music went down.
    EXPECT_GT(rmsDb(recorded.slice(*heard + 4.0, *heard + 5.5)), -36.0 + 6.0);
    EXPECT_LT(rmsDb(recorded.slice(*heard + 7.5, *heard + 9.5)), -12.0 - 4.0);
}

TEST_F(QuelloraPipeline, LoadsQtCoreAndNothingOfTheTrayOrTheSoundFiles) {
    startQuellora();
    std::set<std::string> libraries;
    std::ifstream maps("/proc/" + std::to_string(quellora->pid()) + "/maps");
    for (std::string line; std::getline(maps, line);) {
        const auto slash = line.rfind('/');
        if (slash != std::string::npos && line.find(".so", slash) != std::string::npos) {
            libraries.insert(line.substr(slash + 1));
        }
    }
    EXPECT_THAT(libraries, ::testing::Contains(::testing::StartsWith("libQt6Core.so")));
    EXPECT_THAT(libraries, ::testing::Contains(::testing::StartsWith("libpipewire-0.3.so")));
    for (const char* other : {"libQt6Gui", "libQt6Widgets", "libQt6DBus", "libxcb", "libX11",
                              "quellora-tray", "libcurl", "libsndfile", "quellora-process"}) {
        EXPECT_THAT(libraries, ::testing::Not(::testing::Contains(::testing::StartsWith(other))))
            << other;
    }
}

std::set<std::string> nodeNames(const GraphSnapshot& graph) {
    std::set<std::string> names;
    for (const auto& node : graph.nodes) {
        names.insert(node.name);
    }
    return names;
}

class ReturnOfTheAudio : public QuelloraPipeline, public ::testing::WithParamInterface<int> {};

// Whether Quellora is interrupted, stopped or killed outright, the
// application plays on the speakers directly again within a second, and the
// graph is as it was before Quellora started.
TEST_P(ReturnOfTheAudio, TheApplicationPlaysOnTheSpeakersUnprocessedWithinASecond) {
    auto playback = session().play(tone(-6.0, 120.0));
    waitForGraph(
        [&](const GraphSnapshot& g) { return g.isLinked(playback.nodeName(), "speakers"); }, 5s);
    const auto before = session().graph();
    startQuellora();
    waitForGraph(
        [&](const GraphSnapshot& g) {
            return routedThroughTap(g, playback.nodeName(), "speakers");
        },
        5s);

    quellora->sendSignal(GetParam());
    waitForGraph(
        [&](const GraphSnapshot& g) {
            return ourNodes(g).empty() && g.isLinked(playback.nodeName(), "speakers");
        },
        1s);
    EXPECT_NEAR(peakDb(session().record("speakers", 0.5).slice(0.1, 0.5)), -6.0, 0.5);
    const auto status = quellora->waitForExit(5s);
    if (GetParam() != SIGKILL) {
        EXPECT_EQ(status, 0);
        EXPECT_EQ(quellora->output(), "Quellora is on.\n");
    }
    waitForGraph(
        [&](const GraphSnapshot& g) {
            return nodeNames(g) == nodeNames(before) && g.links.size() == before.links.size();
        },
        5s);

    // And nothing left behind changes routing at the next start.
    auto later = session().play(tone(-20.0, 30.0), "headphones");
    waitForGraph([&](const GraphSnapshot& g) { return g.isLinked(later.nodeName(), "headphones"); },
                 5s);
}

INSTANTIATE_TEST_SUITE_P(InterruptStopOrKill, ReturnOfTheAudio,
                         ::testing::Values(SIGINT, SIGTERM, SIGKILL), [](const auto& test) {
                             return std::string(test.param == SIGINT    ? "interrupted"
                                                : test.param == SIGTERM ? "stopped"
                                                                        : "killed");
                         });

} // namespace
} // namespace quellora::integration
