// Applications levelled or direct, on a real PipeWire server: players at
// different frequencies play the same two-step signal, and the recordings
// tell, tone by tone, which of them went through the compressor, and how
// often. Also where applications play when virtual devices stand between
// them and the speakers, when they ask for a device of their own, or when
// another audio manager moves them.

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
constexpr double alertHz = 1600.0;

// Quiet for two steps (time to set the player up), then loud.
AudioClip twoStepSignal(double frequencyHz) {
    return steppedTone({quietDb, quietDb, loudDb}, stepSeconds, frequencyHz);
}

// The level of one tone in the recording: the last half second of the
// signal's second (quiet) and third (loud) steps, counted from where that
// tone turns loud (a stream may lose its first moments while it moves).
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
    // Between the quiet and the loud step, compressed or not, for 200 ms:
    // a click from a dropout on a busy machine is no step.
    const double between = (compressedPeakDb(quietDb) + compressedPeakDb(loudDb)) / 2;
    constexpr long heldWindows = 20;
    auto loud = onset;
    for (; windows.end() - loud > heldWindows; ++loud) {
        if (loud->centreSeconds > onset->centreSeconds + stepSeconds &&
            std::all_of(loud, loud + heldWindows,
                        [&](const ToneWindow& w) { return w.levelDb > between; })) {
            break;
        }
    }
    if (windows.end() - loud <= heldWindows) {
        return std::nullopt;
    }
    // The median: a dropout on a busy machine (the echo canceller runs
    // the graph in cycles of 5 ms) is not what is measured.
    const auto level = [&](double from) {
        std::vector<double> levels{-200.0};
        for (const auto& window : windows) {
            const double at = window.centreSeconds - loud->centreSeconds;
            if (at >= from && at < from + 0.5) {
                levels.push_back(window.levelDb);
            }
        }
        std::nth_element(levels.begin(), levels.begin() + levels.size() / 2, levels.end());
        return levels[levels.size() / 2];
    };
    return StepLevels{level(-0.6), level(stepSeconds - 0.6)};
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
    // Samples the graph until the player ends: audio never goes round in a
    // loop. (Now and then: pw-dump costs the audio threads time.)
    void expectNoLoop(Playback& player) {
        while (player.isPlaying()) {
            const auto graph = session().graph();
            ASSERT_TRUE(graph.loops().empty()) << graph.describe();
            std::this_thread::sleep_for(200ms);
        }
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

class VirtualOutputs : public QuelloraApplications,
                       public ::testing::WithParamInterface<VirtualSinkKind> {};

// Quellora starts after the virtual sink became the default output; what
// every client plays reaches the speakers compressed exactly once.
TEST_P(VirtualOutputs, EveryClientIsCompressedOnceOnItsWayThroughIt) {
    const auto equaliser =
        session().createVirtualSink(GetParam(), "equaliser", "Equaliser", "speakers");
    session().setDefaultSink("equaliser");
    startQuellora("equaliser");
    for (const auto client : {AudioClient::pulse, AudioClient::native, AudioClient::alsa}) {
        auto recording = session().startRecording("speakers");
        auto player = session().play(twoStepSignal(musicHz), client);
        waitUntilProcessed(player.nodeName(), "equaliser");
        EXPECT_TRUE(session().graph().isLinked(equaliser.playbackNodeName(), "speakers"));
        expectNoLoop(player);
        ASSERT_TRUE(player.waitUntilFinished(15s));
        std::this_thread::sleep_for(300ms); // what is still on its way through the sink
        const auto levels = stepLevels(recording.stop(), musicHz);
        ASSERT_TRUE(levels) << clientName(client);
        expectCompressed(*levels);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, VirtualOutputs,
                         ::testing::Values(VirtualSinkKind::loopback, VirtualSinkKind::filterChain,
                                           VirtualSinkKind::combine, VirtualSinkKind::echoCancel),
                         [](const auto& each) { return std::string(kindName(each.param)); });

// The default output goes from the speakers to a virtual sink aimed at them
// and back while a tone plays, then the virtual sink goes while it is the
// default. Audio never goes round in a loop, the speakers never fall silent
// for longer than the server takes to play a stream anew, and the tone
// settles at the compressed level after each change.
TEST_F(QuelloraApplications, SwitchingToAndFromAVirtualSinkAndLosingItNeverSilences) {
    auto equaliser = session().createVirtualSink(VirtualSinkKind::loopback, "equaliser",
                                                 "Equaliser", "speakers");
    startQuellora();
    auto player = session().play(tone(loudDb, 30.0, musicHz), AudioClient::pulse);
    waitUntilProcessed(player.nodeName(), "speakers");
    auto recording = session().startRecording("speakers");
    const auto firstFrame = recording.waitForFirstFrame(10s);
    ASSERT_TRUE(firstFrame);
    const auto now = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - *firstFrame)
            .count();
    };
    std::vector<double> changes; // s into the recording
    for (const char* output : {"equaliser", "speakers", "equaliser", ""}) {
        std::this_thread::sleep_for(2s);
        changes.push_back(now());
        if (*output) {
            session().setDefaultSink(output);
        } else {
            equaliser.destroy();
        }
        waitUntilProcessed(player.nodeName(), *output ? output : "speakers");
        EXPECT_THAT(session().graph().loops(), ::testing::IsEmpty()) << "change " << changes.size();
    }
    std::this_thread::sleep_for(2s);
    const auto windows = toneWindows(recording.stop(), musicHz, 0.01, 0.005);
    const double compressed = compressedPeakDb(loudDb);
    int silent = 0;
    for (const auto& window : windows) {
        silent = window.levelDb < compressed - 20.0 ? silent + 1 : 0;
        if (silent == 50) {
            ADD_FAILURE() << "silent for 250 ms at " << window.centreSeconds << " s";
        }
    }
    // How long after each change the tone is back at the compressed level
    // for a second; the first and third make the virtual sink the default.
    for (std::size_t change = 0; change < changes.size(); ++change) {
        std::optional<double> settled;
        double since = changes[change];
        for (const auto& window : windows) {
            if (window.centreSeconds < changes[change]) {
                continue;
            }
            if (std::abs(window.levelDb - compressed) > 1.5) {
                since = window.centreSeconds;
            } else if (window.centreSeconds - since >= 1.0) {
                settled = since - changes[change];
                break;
            }
        }
        ASSERT_TRUE(settled) << "change " << change << " never settled";
        EXPECT_LT(*settled, 1.5) << "change " << change;
    }
}

// Streams that ask for the headphones while the speakers are the default
// play there, untouched; so does one that another audio manager moves into
// its own sink (aimed at the headphones), and Quellora does not move it back.
TEST_F(QuelloraApplications, StreamsBoundForAnotherDevicePlayThereUntouched) {
    const auto effects =
        session().createVirtualSink(VirtualSinkKind::loopback, "effects", "Effects", "headphones");
    startQuellora();
    auto speakers = session().startRecording("speakers");
    auto headphones = session().startRecording("headphones");
    auto native = session().play(twoStepSignal(musicHz), AudioClient::native, "headphones");
    auto pulse = session().play(twoStepSignal(voiceHz), AudioClient::pulse, "headphones");
    auto moved = session().play(tone(loudDb, 5.0, alertHz), AudioClient::alsa);
    waitUntilProcessed(moved.nodeName(), "speakers");
    session().moveStream(moved.nodeName(), "effects");
    waitForGraph(
        [&](const GraphSnapshot& g) { return playsDirect(g, moved.nodeName(), "effects"); }, 2s);
    EXPECT_THAT(command({"apps"}).output,
                ::testing::AllOf(::testing::ContainsRegex("pw-play +plays on Headphones\n"),
                                 ::testing::ContainsRegex("paplay +plays on Headphones\n"),
                                 ::testing::HasSubstr("plays on Effects\n")));
    expectNeverInTheTap(native);
    expectNeverInTheTap(pulse);
    ASSERT_TRUE(moved.waitUntilFinished(10s));
    EXPECT_TRUE(playsDirect(session().graph(), moved.nodeName(), "effects") ||
                !session().graph().node(moved.nodeName()));

    const auto onSpeakers = speakers.stop();
    const auto onHeadphones = headphones.stop();
    for (const double hz : {musicHz, voiceHz}) {
        EXPECT_FALSE(stepLevels(onSpeakers, hz)) << hz << " Hz";
        const auto levels = stepLevels(onHeadphones, hz);
        ASSERT_TRUE(levels) << hz << " Hz";
        expectUnprocessed(*levels);
    }
    // Where the moved one was heard: at its own level (a move's click aside).
    std::vector<double> heard;
    for (const auto& window : toneWindows(onHeadphones, alertHz, 0.04, 0.01)) {
        if (window.levelDb > -40.0) {
            heard.push_back(window.levelDb);
        }
    }
    ASSERT_FALSE(heard.empty());
    std::nth_element(heard.begin(), heard.begin() + heard.size() / 2, heard.end());
    EXPECT_NEAR(heard[heard.size() / 2], loudDb, 1.0);
}

// A mixer sends the equaliser's own stream into Quellora's sink while the
// equaliser is the default output: its output would come back to its input.
// Quellora sends it back where it played, says why, and what applications
// play stays compressed once.
TEST_F(QuelloraApplications, AVirtualDeviceSentIntoQuelloraPlaysDirectAndTheStatusSaysWhy) {
    const auto equaliser = session().createVirtualSink(VirtualSinkKind::loopback, "equaliser",
                                                       "Equaliser", "speakers");
    session().setDefaultSink("equaliser");
    startQuellora("equaliser");
    auto recording = session().startRecording("speakers");
    auto player = session().play(twoStepSignal(musicHz), AudioClient::pulse);
    waitUntilProcessed(player.nodeName(), "equaliser");
    const auto tap = ourNode(session().graph(), "quellora-tap-")->name;
    session().moveStream(equaliser.playbackNodeName(), tap);
    waitForGraph(
        [&](const GraphSnapshot& g) {
            return playsDirect(g, equaliser.playbackNodeName(), "speakers") && g.loops().empty();
        },
        2s);
    EXPECT_EQ(command({"status"}).output, "on, some audio passes unlevelled: the output of "
                                          "Equaliser would feed back into Quellora\n");
    ASSERT_TRUE(player.waitUntilFinished(15s));
    const auto levels = stepLevels(recording.stop(), musicHz);
    ASSERT_TRUE(levels);
    expectCompressed(*levels);
}

} // namespace
} // namespace quellora::integration
