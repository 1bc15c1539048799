// How long an application takes to move when the user sends it around
// Quellora or back: from the moment `quellora direct` or `quellora level`
// starts to the moment the speakers play the application's tone at its new
// level (unprocessed, or compressed). Prints every switch, the median and
// the worst; it is a measurement, not a test. Usage: quellora-switch-probe [switches]

#include "quellora_under_test.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <map>
#include <thread>
#include <vector>

namespace quellora::integration {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Loud enough that levelled and direct differ by several dB: the arrival
// test below tells them apart within 1 dB.
constexpr double levelDb = -6.0;
constexpr double toneHz = 1000.0;
constexpr auto settle = 1200ms;

// When, after `fromSeconds`, the tone first holds `targetDb` (within 1 dB)
// for 25 ms; in seconds from the recording's start.
std::optional<double> arrival(const std::vector<ToneWindow>& windows, double fromSeconds,
                              double targetDb) {
    constexpr std::size_t holding = 10; // 2.5 ms hops
    for (std::size_t index = 0; index + holding < windows.size(); ++index) {
        if (windows[index].centreSeconds < fromSeconds) {
            continue;
        }
        const bool holds =
            std::all_of(windows.begin() + static_cast<std::ptrdiff_t>(index),
                        windows.begin() + static_cast<std::ptrdiff_t>(index + holding),
                        [&](const ToneWindow& w) { return std::abs(w.levelDb - targetDb) < 1.0; });
        if (holds) {
            return windows[index].centreSeconds;
        }
    }
    return std::nullopt;
}

const char* directionName(bool direct) {
    return direct ? "direct" : "level ";
}

double seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

int probe(int switches) {
    PrivatePipeWireSession session;
    auto quellora = ChildProcess::start({QUELLORA_EXECUTABLE, "run"});
    if (!quellora.waitForOutput("Quellora is on.\n", 10s)) {
        std::cerr << "quellora run did not start:\n" << quellora.errors();
        return 1;
    }
    const double compressedDb = compressedPeakDb(levelDb);
    std::cout << "tone at " << levelDb << " dBFS, compressed to " << compressedDb << " dBFS\n";
    if (std::abs(compressedDb - levelDb) < 3.0) {
        std::cerr << "levelled and direct sound too much alike to tell apart\n";
        return 1;
    }
    auto player = session.playAs(tone(levelDb, 600.0, toneHz), AudioClient::pulse, "Switched");
    if (!session.waitForGraph(
            [&](const GraphSnapshot& g) { return onlyInTheTap(g, player.nodeName()); }, 10s)) {
        std::cerr << "the player never went through Quellora\n";
        return 1;
    }
    auto recording = session.startRecording("speakers");
    const auto firstFrame = recording.waitForFirstFrame(5000ms);
    if (!firstFrame) {
        std::cerr << "the recording got no audio\n";
        return 1;
    }
    struct Switch {
        bool direct;
        double atSeconds;      // from the recording's first frame
        double commandSeconds; // how long the command itself ran
    };
    std::vector<Switch> made;
    for (int index = 0; index < switches; ++index) {
        std::this_thread::sleep_for(settle);
        const bool direct = index % 2 == 0;
        const auto start = Clock::now();
        const auto result =
            runCommand({QUELLORA_EXECUTABLE, direct ? "direct" : "level", "Switched"});
        if (result.exitStatus != 0) {
            std::cerr << "the switch failed: " << result.errors;
            return 1;
        }
        made.push_back({direct, seconds(start - *firstFrame), seconds(Clock::now() - start)});
    }
    std::this_thread::sleep_for(settle);
    const auto windows = toneWindows(recording.stop(), toneHz, 0.01, 0.0025);

    // Per direction: into the tap also waits for the compressor's path.
    std::map<bool, std::vector<double>> delays;
    std::size_t arrived = 0;
    for (const auto& each : made) {
        const auto heard = arrival(windows, each.atSeconds, each.direct ? levelDb : compressedDb);
        if (!heard) {
            std::cout << "  " << directionName(each.direct) << ": never arrived\n";
            continue;
        }
        // The window's centre lies 5 ms after the change shows in it.
        delays[each.direct].push_back((*heard - 0.005 - each.atSeconds) * 1000.0);
        ++arrived;
        std::cout << "  " << directionName(each.direct) << ": " << delays[each.direct].back()
                  << " ms (the command ran " << each.commandSeconds * 1000.0 << " ms)\n";
    }
    std::cout << "from the switch command's start to the stream heard at its new level:\n";
    for (auto& [direct, each] : delays) {
        std::sort(each.begin(), each.end());
        std::cout << "  " << directionName(direct) << ": " << each.size() << " switches, median "
                  << each[each.size() / 2] << " ms, worst " << each.back() << " ms, best "
                  << each.front() << " ms\n";
    }
    return arrived == made.size() ? 0 : 1;
}

} // namespace
} // namespace quellora::integration

int main(int argc, char** argv) {
    try {
        return quellora::integration::probe(argc > 1 ? std::atoi(argv[1]) : 20);
    } catch (const std::exception& error) {
        std::cerr << "switch probe: " << error.what() << '\n';
        return 1;
    }
}
