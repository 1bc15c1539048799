// Applications levelled or direct, on a real PipeWire server: two players
// at different frequencies play the same two-step signal, and the speakers'
// recording tells, tone by tone, which of them went through the compressor.

#include "quellora_under_test.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <csignal>
#include <thread>

namespace quellora::integration {
namespace {

using namespace std::chrono_literals;

constexpr double quietDb = -30.0;
constexpr double loudDb = -6.0;
constexpr double stepSeconds = 1.5;
// Two players, each with its own tone.
constexpr double musicHz = 1000.0;
constexpr double voiceHz = 2500.0;

// Quiet for two steps (time to set the player up), then loud.
AudioClip twoStepSignal(double frequencyHz) {
    return steppedTone({quietDb, quietDb, loudDb}, stepSeconds, frequencyHz);
}

// The level of one tone in the recording: the last half second of the
// signal's second (quiet) and third (loud) steps, counted from that tone's
// own onset.
struct StepLevels {
    double quietDb;
    double loudDb;
};

std::optional<StepLevels> stepLevels(const AudioClip& recorded, double frequencyHz) {
    const auto windows = toneWindows(recorded, frequencyHz, 0.04, 0.01);
    const auto onset = std::find_if(windows.begin(), windows.end(),
                                    [](const ToneWindow& w) { return w.levelDb > -45.0; });
    if (onset == windows.end()) {
        return std::nullopt;
    }
    const auto level = [&](double from) {
        double peak = -200.0;
        for (const auto& window : windows) {
            const double at = window.centreSeconds - onset->centreSeconds;
            if (at >= from && at < from + 0.5) {
                peak = std::max(peak, window.levelDb);
            }
        }
        return peak;
    };
    return StepLevels{level(2 * stepSeconds - 0.6), level(3 * stepSeconds - 0.6)};
}

class QuelloraApplications : public QuelloraTest {
protected:
    // What one test chose for an application must not reach the next.
    void SetUp() override {
        QuelloraTest::SetUp();
        ownSettings.emplace();
    }
    CommandResult command(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), QUELLORA_EXECUTABLE);
        return runCommand(arguments, 10s);
    }
    // Whether the stream plays on `sink` directly and not into the tap.
    static bool playsDirect(const GraphSnapshot& g, std::string_view stream,
                            std::string_view sink) {
        const auto* tap = ourNode(g, "quellora-tap-");
        return g.isLinked(stream, sink) && (!tap || !g.isLinked(stream, tap->name));
    }
    // Samples the graph until the player ends: its stream never goes into
    // the tap. (Its node goes a moment before its process ends.)
    void expectNeverInTheTap(Playback& player) {
        while (player.isPlaying()) {
            const auto graph = session().graph();
            const auto* tap = ourNode(graph, "quellora-tap-");
            ASSERT_FALSE(tap && graph.isLinked(player.nodeName(), tap->name)) << graph.describe();
        }
    }
    void expectUnprocessed(const StepLevels& levels) {
        EXPECT_NEAR(levels.quietDb, quietDb, 1.0);
        EXPECT_NEAR(levels.loudDb, loudDb, 1.0);
        EXPECT_NEAR(levels.loudDb - levels.quietDb, loudDb - quietDb, 1.0);
    }
    void expectCompressed(const StepLevels& levels) {
        EXPECT_NEAR(levels.quietDb, compressedPeakDb(quietDb), 1.5);
        EXPECT_NEAR(levels.loudDb, compressedPeakDb(loudDb), 1.5);
    }
};

// Two PulseAudio players run the same binary (pacat), and are two
// applications by their names.
TEST_F(QuelloraApplications, TheDirectOneReachesTheSpeakersUnprocessedTheOtherCompressed) {
    startQuellora();
    auto recording = session().startRecording("speakers");
    auto music = session().playAs(twoStepSignal(musicHz), AudioClient::pulse, "Music Player");
    auto voice = session().playAs(twoStepSignal(voiceHz), AudioClient::pulse, "Voice Memo");
    waitUntilProcessed(voice.nodeName(), "speakers");

    const auto switched = command({"direct", "Voice Memo"});
    ASSERT_EQ(switched.exitStatus, 0) << switched.errors;
    EXPECT_EQ(switched.output, "Voice Memo now plays direct.\n");
    waitForGraph(
        [&](const GraphSnapshot& g) { return playsDirect(g, voice.nodeName(), "speakers"); }, 1s);
    EXPECT_THAT(command({"apps"}).output,
                ::testing::AllOf(::testing::HasSubstr("Voice Memo    Voice Memo    direct\n"),
                                 ::testing::HasSubstr("Music Player  Music Player  levelled\n")));

    ASSERT_TRUE(music.waitUntilFinished(15s));
    ASSERT_TRUE(voice.waitUntilFinished(15s));
    const auto recorded = recording.stop();
    const auto direct = stepLevels(recorded, voiceHz);
    const auto levelled = stepLevels(recorded, musicHz);
    ASSERT_TRUE(direct && levelled);
    expectUnprocessed(*direct);
    expectCompressed(*levelled);
}

// A call's stream, as each kind of client says so.
struct CallClient {
    const char* label;
    AudioClient client;
    const char* mediaRole;
};

class CallsPlayDirect : public QuelloraApplications,
                        public ::testing::WithParamInterface<CallClient> {};

TEST_P(CallsPlayDirect, ByDefaultFromTheirFirstBuffer) {
    startQuellora();
    auto recording = session().startRecording("speakers");
    auto call = session().playAs(twoStepSignal(voiceHz), GetParam().client, "Softphone",
                                 GetParam().mediaRole);
    waitForGraph(
        [&](const GraphSnapshot& g) { return playsDirect(g, call.nodeName(), "speakers"); }, 5s);
    EXPECT_THAT(command({"apps"}).output, ::testing::HasSubstr("direct (call audio)"));
    expectNeverInTheTap(call);
    const auto levels = stepLevels(recording.stop(), voiceHz);
    ASSERT_TRUE(levels);
    expectUnprocessed(*levels);
}

INSTANTIATE_TEST_SUITE_P(Clients, CallsPlayDirect,
                         ::testing::Values(CallClient{"pulsePhone", AudioClient::pulse, "phone"},
                                           CallClient{"nativeCommunication", AudioClient::native,
                                                      "Communication"}),
                         [](const auto& each) { return std::string(each.param.label); });

TEST_F(QuelloraApplications, TheChoiceOutlivesARestartAndHoldsForANewStreamFromItsStart) {
    startQuellora();
    {
        auto first =
            session().playAs(tone(quietDb, 30.0, voiceHz), AudioClient::pulse, "Voice Memo");
        waitUntilProcessed(first.nodeName(), "speakers");
        ASSERT_EQ(command({"direct", "Voice Memo"}).exitStatus, 0);
        waitForGraph(
            [&](const GraphSnapshot& g) { return playsDirect(g, first.nodeName(), "speakers"); },
            1s);
    }
    quellora->sendSignal(SIGTERM);
    ASSERT_EQ(quellora->waitForExit(10s), 0) << quellora->errors();
    startQuellora();

    auto recording = session().startRecording("speakers");
    auto again = session().playAs(twoStepSignal(voiceHz), AudioClient::pulse, "Voice Memo");
    expectNeverInTheTap(again);
    const auto recorded = recording.stop();
    const auto levels = stepLevels(recorded, voiceHz);
    ASSERT_TRUE(levels);
    expectUnprocessed(*levels);
    // From its first buffer: the onset comes at the signal's own level.
    const auto windows = toneWindows(recorded, voiceHz, 0.01, 0.0025);
    const auto onset = std::find_if(windows.begin(), windows.end(),
                                    [](const ToneWindow& w) { return w.levelDb > -45.0; });
    ASSERT_NE(onset, windows.end());
    EXPECT_NEAR(std::max_element(onset, std::min(onset + 8, windows.end()),
                                 [](const auto& a, const auto& b) { return a.levelDb < b.levelDb; })
                    ->levelDb,
                quietDb, 1.0);
}

// Sending one application around the tap and back moves only its streams:
// another one, playing through the tap all along, goes on without a gap.
TEST_F(QuelloraApplications, SwitchingOneLeavesNoGapInAnother) {
    startQuellora();
    auto music = session().playAs(tone(-12.0, 30.0, musicHz), AudioClient::native, "Music Player");
    auto voice = session().playAs(tone(-40.0, 30.0, voiceHz), AudioClient::pulse, "Voice Memo");
    waitUntilProcessed(voice.nodeName(), "speakers");
    waitUntilProcessed(music.nodeName(), "speakers");
    auto recording = session().startRecording("speakers");
    ASSERT_TRUE(recording.waitForSeconds(1.0, 10s));

    for (int flip = 0; flip < 4; ++flip) {
        const bool direct = flip % 2 == 0;
        ASSERT_EQ(command({direct ? "direct" : "level", "Voice Memo"}).exitStatus, 0);
        waitForGraph(
            [&](const GraphSnapshot& g) {
                return direct ? playsDirect(g, voice.nodeName(), "speakers")
                              : onlyInTheTap(g, voice.nodeName());
            },
            2s);
        std::this_thread::sleep_for(300ms); // both ways heard for a while
    }
    ASSERT_TRUE(recording.waitForSeconds(4.0, 10s));
    const auto recorded = recording.stop();

    // Windows of 10 ms: a gap of a few milliseconds shows as a drop of
    // several dB; the compressor barely reacts to the quiet voice coming or going.
    const auto windows =
        toneWindows(recorded.slice(0.5, recorded.seconds() - 0.2), musicHz, 0.01, 0.0025);
    ASSERT_FALSE(windows.empty());
    std::vector<double> levels;
    for (const auto& window : windows) {
        levels.push_back(window.levelDb);
    }
    std::vector<double> sorted = levels;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    EXPECT_NEAR(median, compressedPeakDb(-12.0), 1.5);
    for (const auto& window : windows) {
        EXPECT_GT(window.levelDb, median - 3.0) << "a dropout at " << window.centreSeconds << " s";
    }
}

} // namespace
} // namespace quellora::integration
