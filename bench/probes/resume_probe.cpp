// How long a stream that starts while Quellora's IO is suspended waits to be
// heard, processed, at the speakers: over many plays, each after a pause long
// enough to suspend IO, with a recorder on the speakers' monitor (which also
// keeps them running, as a level meter does). Prints the median and the
// worst; it is a measurement, not a test.
//
// Each play glides up from 600 Hz at 400 Hz/s and aims at Quellora's sink
// directly (so the session manager never plays it on the speakers first):
// the frequency of the first audible processed output tells how much of the
// play was not heard. Usage: quellora-resume-probe [plays]

#include "quellora_under_test.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <thread>
#include <vector>

namespace quellora::integration {
namespace {

using namespace std::chrono_literals;

constexpr double startHz = 600.0;
constexpr double hzPerSecond = 400.0;
constexpr double playSeconds = 0.6;
constexpr double levelDb = -12.0;

std::size_t count(const std::string& text, std::string_view what) {
    std::size_t found = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++found;
    }
    return found;
}

// How far into the play its processed output first reached 20 dB below
// where it settles; nothing if it never did.
std::optional<double> firstAudiblePosition(const AudioClip& recorded) {
    const double audible = compressedPeakDb(levelDb) - 20.0;
    for (const auto& window :
         toneWindows(recorded, startHz + hzPerSecond * playSeconds / 2, 0.01, 0.0025)) {
        const double position = (window.frequencyHz - startHz) / hzPerSecond;
        if (window.levelDb > audible && position > -0.05 && position < playSeconds) {
            return position;
        }
    }
    return std::nullopt;
}

int probe(int plays) {
    PrivatePipeWireSession session;
    auto quellora = ChildProcess::start(
        {"env", "QUELLORA_LOG_LEVEL=info", QUELLORA_EXECUTABLE, "run", "--verbose"});
    if (!quellora.waitForOutput("Quellora is on.\n", 10s)) {
        std::cerr << "quellora run did not start:\n" << quellora.errors();
        return 1;
    }
    std::vector<double> delays;
    int unheard = 0;
    for (int play = 0; play < plays; ++play) {
        const auto suspends = count(quellora.errors(), "IO suspended");
        if (!waitUntil([&] { return count(quellora.errors(), "IO suspended") > suspends; }, 10s)) {
            std::cerr << "IO did not suspend\n" << quellora.errors();
            return 1;
        }
        const auto* tap = ourNode(session.graph(), "quellora-tap-");
        if (tap == nullptr) {
            std::cerr << "no tap\n";
            return 1;
        }
        auto recording = session.startRecording("speakers");
        recording.waitForFirstFrame(5000ms);
        std::this_thread::sleep_for(200ms);
        auto playback = session.play(glide(levelDb, playSeconds, startHz, hzPerSecond), tap->name);
        playback.waitUntilFinished(10000ms);
        std::this_thread::sleep_for(200ms);
        if (const auto position = firstAudiblePosition(recording.stop())) {
            delays.push_back(*position * 1000.0);
            std::cout << "  play " << play << ": " << delays.back() << " ms" << std::endl;
        } else {
            ++unheard;
            std::cout << "  play " << play << ": not heard" << std::endl;
        }
    }
    std::sort(delays.begin(), delays.end());
    if (delays.empty()) {
        std::cout << "no play was heard\n";
        return 1;
    }
    std::cout << "from a stream's start to audible processed output after a suspend, "
              << delays.size() << " plays: median " << delays[delays.size() / 2] << " ms, worst "
              << delays.back() << " ms, best " << delays.front() << " ms; " << unheard
              << " not heard\n";
    return 0;
}

} // namespace
} // namespace quellora::integration

int main(int argc, char** argv) {
    try {
        return quellora::integration::probe(argc > 1 ? std::atoi(argv[1]) : 50);
    } catch (const std::exception& error) {
        std::cerr << "resume probe: " << error.what() << '\n';
        return 1;
    }
}
