// Whatever an application plays is heard: after pauses that suspend
// Quellora's IO, when the output vanishes and returns, when the default
// moves; and Quellora says when it waits for a server or an output. (Restarts
// of the server and the session manager: the chaos run.)

#include "quellora_under_test.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <csignal>
#include <string>
#include <thread>

namespace quellora::integration {
namespace {

using namespace std::chrono_literals;

void expectCompressedTone(const AudioClip& recorded, const std::string& where) {
    ASSERT_GT(recorded.seconds(), 0.3) << where;
    EXPECT_NEAR(peakDb(recorded.slice(0.1, recorded.seconds())), compressedPeakDb(-12.0), 1.0)
        << where;
}

class QuelloraRecovery : public QuelloraTest {};

// Short plays separated by silences across the 2 s after which IO suspends,
// with nothing else keeping the speakers running (the chaos run's recorders
// do). Every play comes out, compressed.
TEST_F(QuelloraRecovery, EveryPlayAfterAPauseComesOutCompressed) {
    startQuellora();
    auto recording = session().startPassiveRecording("speakers");
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
        const auto windows = toneWindows(recorded, frequencies[play], 0.04, 0.02);
        EXPECT_GE(std::count_if(windows.begin(), windows.end(),
                                [](const auto& window) {
                                    return std::abs(window.levelDb - compressedPeakDb(-12.0)) < 1.5;
                                }),
                  20)
            << "play " << play << " at " << frequencies[play] << " Hz after a " << pauses[play]
            << " s pause";
    }
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

// Real outputs switched while a play glides: how far into it each 10 ms
// step was heard tells every gap, whichever recorder's clock drops cycles.
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
    std::vector<bool> heard(801, false);
    for (const auto& recorded : {speakers.stop(), headphones.stop()}) {
        for (const auto& window : toneWindows(recorded, 640.0, 0.04, 0.01)) {
            const auto step = std::lround((window.frequencyHz - 600.0) / 10.0 / 0.01);
            if (window.levelDb > compressedPeakDb(-12.0) - 30.0 && step >= 0 && step < 801) {
                heard[static_cast<std::size_t>(step)] = true;
            }
        }
    }
    // The server needs about 100 ms to play a stream anew on another output,
    // with or without Quellora, and up to half as long again when both cores
    // are busy; a pipeline rebuilt without sound in the meantime leaves
    // 400 ms or more. 40 ms windows 10 ms apart: twenty unheard in a row are
    // more than 200 ms of silence.
    int unheard = 0;
    int longest = 0;
    std::size_t longestEnd = 0;
    for (std::size_t step = 0; step < heard.size(); ++step) {
        unheard = heard[step] ? 0 : unheard + 1;
        if (unheard > longest) {
            longest = unheard;
            longestEnd = step;
        }
    }
    EXPECT_LT(longest, 20) << "silent " << static_cast<double>(longestEnd) * 0.01 << " s into it";
}

// A server that stops reading Quellora (here: it waits for a client that
// does not answer for the metadata Quellora binds) gets a new connection,
// and sound is levelled again once that client answers.
TEST_F(QuelloraRecovery, ConnectsAgainWhenTheServerStopsAnswering) {
    startQuellora();
    auto stuck = ChildProcess::start({UNANSWERING_METADATA_EXECUTABLE});
    ASSERT_TRUE(stuck.waitForOutput("exported\n", 5s)) << stuck.errors();
    EXPECT_TRUE(waitUntil(
        [&] {
            return quellora->errors().find("The PipeWire server stopped answering Quellora; "
                                           "connecting again") != std::string::npos;
        },
        15s))
        << quellora->errors();

    stuck.sendSignal(SIGCONT);
    auto playback = session().play(tone(-12.0, 60.0), AudioClient::native);
    waitUntilProcessed(playback.nodeName(), "speakers", 15s);
    expectCompressedTone(session().record("speakers", 0.8), "after connecting again");
}

TEST(QuelloraWithoutServer, SaysSoWaitsAndStartsOnceTheServerIsThere) {
    PrivatePipeWireSession session({.startAudioServer = false});
    auto quellora = ChildProcess::start({QUELLORA_EXECUTABLE, "run"});
    ASSERT_TRUE(quellora.waitForOutput("No audio server is running; Quellora will start as soon "
                                       "as PipeWire is available.\n",
                                       10s))
        << quellora.output() << quellora.errors();

    session.startAudioServer();

    EXPECT_TRUE(quellora.waitForOutput("Connected to PipeWire.\nQuellora is on.\n", 30s))
        << quellora.output() << quellora.errors();
    quellora.sendSignal(SIGTERM);
    EXPECT_EQ(quellora.waitForExit(10s), 0) << quellora.errors();
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
