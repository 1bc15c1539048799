// Whatever an application plays is heard: through every client API, after
// pauses that suspend Quellora's IO (with and without something else keeping
// the speakers running), when the session manager or the whole server
// restarts, when the output vanishes and returns, when the default moves, and
// Quellora says when it waits for an output.

#include "quellora_under_test.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <string>
#include <thread>

namespace quellora::integration {
namespace {

using namespace std::chrono_literals;

// Windows for levels of single tones: 40 ms, every 20 ms.
constexpr double levelWindowSeconds = 0.04;
constexpr double levelHopSeconds = 0.02;

// How many windows of `recorded` hold the tone at `frequencyHz` at the level
// the standard preset gives a -12 dBFS tone.
int windowsAtCompressedLevel(const AudioClip& recorded, double frequencyHz) {
    const auto windows = toneWindows(recorded, frequencyHz, levelWindowSeconds, levelHopSeconds);
    return static_cast<int>(std::count_if(windows.begin(), windows.end(), [](const auto& window) {
        return std::abs(window.levelDb - compressedPeakDb(-12.0)) < 1.5;
    }));
}

void expectCompressedTone(const AudioClip& recorded, const std::string& where) {
    ASSERT_GT(recorded.seconds(), 0.3) << where;
    EXPECT_NEAR(peakDb(recorded.slice(0.1, recorded.seconds())), compressedPeakDb(-12.0), 1.0)
        << where;
}

class QuelloraClients : public QuelloraTest, public ::testing::WithParamInterface<AudioClient> {};

TEST_P(QuelloraClients, AreCompressedOnTheWayToTheSpeakers) {
    startQuellora();
    auto playback = session().play(tone(-12.0, 30.0), GetParam());
    waitUntilProcessed(playback.nodeName(), "speakers");
    expectCompressedTone(session().record("speakers", 1.0), clientName(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(EachApi, QuelloraClients,
                         ::testing::Values(AudioClient::native, AudioClient::pulse,
                                           AudioClient::alsa),
                         [](const auto& test) { return std::string(clientName(test.param)); });

// Short plays separated by silences across the 2 s after which IO suspends;
// a level meter (a recorder on the speakers' monitor) may keep the speakers
// running all along. Every play comes out, compressed.
class SuspendWindow : public QuelloraTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SuspendWindow, EveryPlayAfterAPauseComesOutCompressed) {
    const bool meterOnTheSpeakers = GetParam();
    startQuellora();
    auto recording = meterOnTheSpeakers ? session().startRecording("speakers")
                                        : session().startPassiveRecording("speakers");
    const double pauses[] = {3.0, 1.5, 2.6, 2.0, 3.0, 1.8};
    const AudioClient clients[] = {AudioClient::native, AudioClient::pulse, AudioClient::alsa};
    std::vector<double> frequencies;
    for (std::size_t play = 0; play < std::size(pauses); ++play) {
        std::this_thread::sleep_for(std::chrono::duration<double>(pauses[play]));
        frequencies.push_back(400.0 + 150.0 * static_cast<double>(play));
        auto playback = session().play(tone(-12.0, 0.8, frequencies.back()), clients[play % 3]);
        ASSERT_TRUE(playback.waitUntilFinished(10s));
    }
    const auto recorded = recording.stop();

    const auto& log = quellora->errors();
    std::size_t suspends = 0;
    for (auto at = log.find("IO suspended"); at != std::string::npos;
         at = log.find("IO suspended", at + 1)) {
        ++suspends;
    }
    EXPECT_GE(suspends, 3u) << "the pauses did not reach the suspend window";
    for (std::size_t play = 0; play < frequencies.size(); ++play) {
        // At least 0.4 s of each 0.8 s play at the compressed level.
        EXPECT_GE(windowsAtCompressedLevel(recorded, frequencies[play]), 20)
            << "play " << play << " at " << frequencies[play] << " Hz after a " << pauses[play]
            << " s pause";
    }
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutAMeter, SuspendWindow, ::testing::Bool(),
                         [](const auto& test) {
                             return test.param ? std::string("meterOnTheSpeakers")
                                               : std::string("nothingElsePlaying");
                         });

class QuelloraRecovery : public QuelloraTest {};

// The session manager restarting alone takes the devices' nodes with it and
// makes them again: the pipeline is rebuilt on fresh nodes, and what plays
// afterwards is processed. (WirePlumber 0.4 leaves the streams that played
// across its restart unlinked, with or without Quellora.)
TEST_F(QuelloraRecovery, TheSessionManagerRestartingAloneRebuildsThePipeline) {
    startQuellora();
    const auto before = ourNode(session().graph(), "quellora-tap-")->name;

    session().restartSessionManager();

    auto playback = session().play(tone(-12.0, 30.0), AudioClient::pulse);
    waitUntilProcessed(playback.nodeName(), "speakers", 10s);
    EXPECT_NE(ourNode(session().graph(), "quellora-tap-")->name, before);
    EXPECT_TRUE(logged("The session manager started anew; rebuilding the pipeline for it"));
    expectCompressedTone(session().record("speakers", 0.8), "after the restart");
}

TEST_F(QuelloraRecovery, AServerRestartReconnectsFromScratch) {
    startQuellora();
    session().restartAudioServer();

    waitForGraph([](const GraphSnapshot& g) { return processesInto(g, "speakers"); }, 15s);
    EXPECT_TRUE(quellora->isRunning());
    auto playback = session().play(tone(-12.0, 30.0), AudioClient::pulse);
    waitUntilProcessed(playback.nodeName(), "speakers");
    expectCompressedTone(session().record("speakers", 0.8), "after the restart");
}

// A headset unplugged while it plays, and plugged in again.
TEST_F(QuelloraRecovery, StreamsFollowAnOutputThatVanishesAndReturns) {
    startQuellora();
    auto playback = session().play(tone(-12.0, 60.0), AudioClient::pulse);
    waitUntilProcessed(playback.nodeName(), "speakers");

    session().destroyNode("speakers");
    waitUntilProcessed(playback.nodeName(), "headphones", 5s);
    expectCompressedTone(session().record("headphones", 0.8), "on the fallback");

    session().createNullSink({"speakers", "Speakers"});
    waitUntilProcessed(playback.nodeName(), "speakers", 5s);
    expectCompressedTone(session().record("speakers", 0.8), "back on the speakers");
    EXPECT_LT(peakDb(session().record("headphones", 0.3)), -100.0);
}

class DefaultOutputTools : public QuelloraTest,
                           public ::testing::WithParamInterface<DefaultSinkTool> {};

TEST_P(DefaultOutputTools, MoveTheProcessedStreamsToTheNewDefault) {
    startQuellora();
    auto playback = session().play(tone(-12.0, 60.0), AudioClient::pulse);
    waitUntilProcessed(playback.nodeName(), "speakers");

    session().setDefaultSink("headphones", GetParam());

    waitUntilProcessed(playback.nodeName(), "headphones", 3s);
    expectCompressedTone(session().record("headphones", 0.8), "on the new default");
}

INSTANTIATE_TEST_SUITE_P(PactlAndWpctl, DefaultOutputTools,
                         ::testing::Values(DefaultSinkTool::pactl, DefaultSinkTool::wpctl),
                         [](const auto& test) {
                             return test.param == DefaultSinkTool::pactl ? std::string("pactl")
                                                                         : std::string("wpctl");
                         });

// A stream the user moved with a mixer stays where they sent it, through
// rebuilds; the others follow the pipeline.
TEST_F(QuelloraRecovery, AStreamTheUserMovesStaysThroughRebuilds) {
    startQuellora();
    auto moved = session().play(tone(-12.0, 60.0, 700.0), AudioClient::pulse);
    auto other = session().play(tone(-12.0, 60.0), AudioClient::native);
    waitUntilProcessed(moved.nodeName(), "speakers");
    waitUntilProcessed(other.nodeName(), "speakers");

    session().moveStream(moved.nodeName(), "headphones");
    const auto movedToHeadphones = [&](const GraphSnapshot& g) {
        const auto links = g.linksFrom(moved.nodeName());
        return !links.empty() && std::all_of(links.begin(), links.end(), [](const GraphLink& link) {
            return link.inputNodeName == "headphones";
        });
    };
    waitForGraph(movedToHeadphones, 5s);

    for (const char* output : {"headphones", "speakers"}) {
        session().setDefaultSink(output);
        waitUntilProcessed(other.nodeName(), output, 5s);
        waitForGraph(movedToHeadphones, 2s);
    }
}

TEST_F(QuelloraRecovery, SaysWhenItWaitsForAnOutputAndWhenAudioFlowsAgain) {
    startQuellora();
    session().destroyNode("speakers");
    session().destroyNode("headphones");
    EXPECT_TRUE(quellora->waitForOutput("Quellora is on (waiting for audio output).\n", 10s))
        << quellora->output();

    session().createNullSink({"speakers", "Speakers"});
    session().createNullSink({"headphones", "Headphones"});
    EXPECT_TRUE(waitUntil(
        [&] {
            const auto& said = quellora->output();
            return said.rfind("Quellora is on.\n") > said.find("(waiting for audio output)");
        },
        10s))
        << quellora->output();
    waitForGraph([](const GraphSnapshot& g) { return processesInto(g, "speakers"); }, 5s);
}

} // namespace
} // namespace quellora::integration

namespace quellora::integration {
namespace {

// Where in a gliding play (startHz rising by hzPerSecond) the recordings
// heard it: 10 ms steps of the play, on any sink.
std::vector<bool> heardSteps(const std::vector<AudioClip>& recordings, double seconds,
                             double startHz, double hzPerSecond, double floorDb) {
    std::vector<bool> heard(static_cast<std::size_t>(seconds / 0.01) + 1, false);
    for (const auto& recorded : recordings) {
        for (const auto& window :
             toneWindows(recorded, startHz + hzPerSecond * seconds / 2, 0.04, 0.01)) {
            const auto step = std::lround((window.frequencyHz - startHz) / hzPerSecond / 0.01);
            if (window.levelDb > floorDb && step >= 0 && step < static_cast<long>(heard.size())) {
                heard[static_cast<std::size_t>(step)] = true;
            }
        }
    }
    return heard;
}

TEST_F(QuelloraRecovery, SwitchingTheDefaultOutputLeavesNoSilence) {
    startQuellora();
    auto speakers = session().startRecording("speakers");
    auto headphones = session().startRecording("headphones");
    auto playback = session().play(glide(-12.0, 8.0, 600.0, 10.0), AudioClient::native);
    for (const char* output : {"headphones", "speakers", "headphones"}) {
        std::this_thread::sleep_for(2s);
        session().setDefaultSink(output);
    }
    ASSERT_TRUE(playback.waitUntilFinished(10s));
    const auto heard = heardSteps({speakers.stop(), headphones.stop()}, 8.0, 600.0, 10.0,
                                  compressedPeakDb(-12.0) - 30.0);
    // The server needs about 100 ms to play a stream anew on another output,
    // with or without Quellora; 40 ms windows 10 ms apart: thirteen unheard
    // in a row are more than 150 ms of silence.
    int unheard = 0;
    for (std::size_t step = 0; step < heard.size(); ++step) {
        unheard = heard[step] ? 0 : unheard + 1;
        EXPECT_LT(unheard, 13) << "silent " << static_cast<double>(step) * 0.01 << " s into it";
    }
}

} // namespace
} // namespace quellora::integration
