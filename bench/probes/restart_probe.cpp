// How long the speakers go without compressed audio when `quellora run`,
// supervised as the shipped user service says, is killed with SIGKILL: five
// kills, each measured in a recording of the speakers, and their median.
// Prints figures; it is a measurement, not a test.
//
// In the recording, the kill shows where the compressed level ends; the
// audio is back once the level has settled at the compressed level again
// (within 1 dB) and stays there, the restarted engine's fade-in included.
// Before that the speakers play silence, then the unprocessed tone, as
// the server returns the stream to them.

#include "compressed_level.h"
#include "private_pipewire_session.h"
#include "quellora_graph.h"
#include "service_supervisor.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <thread>

namespace quellora::integration {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr double inputDb = -6.0;
constexpr double windowSeconds = 0.01;
constexpr double toleranceDb = 1.0;

struct Outage {
    double compressedAgainSeconds; // from the end of compressed audio to its settled return
    double unprocessedSeconds;     // from the same moment to the unprocessed tone's return
};

bool compressed(const LevelWindow& window) {
    return std::abs(window.peakDb - compressedPeakDb(inputDb)) <= toleranceDb;
}

// Nothing when the recording does not show a kill and a return.
std::optional<Outage> measureOutage(const AudioClip& recording) {
    const auto windows = levelWindows(recording, windowSeconds);
    // The recorder's first moments may precede the audio.
    const auto start = std::find_if(windows.begin(), windows.end(), compressed);
    const auto end = std::find_if_not(start, windows.end(), compressed);
    auto back = windows.end();
    while (back != end && compressed(*(back - 1))) {
        --back;
    }
    if (end == windows.end() || end->startSeconds - start->startSeconds < 0.5 ||
        back == windows.end() || windows.back().startSeconds - back->startSeconds < 1.0) {
        return std::nullopt;
    }
    const auto unprocessed = std::find_if(end, back, [](const LevelWindow& window) {
        return std::abs(window.peakDb - inputDb) <= toleranceDb;
    });
    return Outage{back->startSeconds - end->startSeconds,
                  unprocessed == back ? -1.0 : unprocessed->startSeconds - end->startSeconds};
}

bool waitForCompression(PrivatePipeWireSession& session, const Playback& playback,
                        ServiceSupervisor& service, int starts) {
    return session.waitForGraph(
        [&](const GraphSnapshot& g) {
            return service.starts() == starts && processesInto(g, "speakers") &&
                   routedThroughTap(g, playback.nodeName(), "speakers");
        },
        20s);
}

int probe(int kills) {
    PrivatePipeWireSession session;
    const auto policy = RestartPolicy::read(QUELLORA_SERVICE_UNIT);
    std::vector<std::string> command{QUELLORA_EXECUTABLE};
    command.insert(command.end(), policy.execStart.begin() + 1, policy.execStart.end());

    auto playback = session.play(tone(inputDb, 600.0));
    ServiceSupervisor service(policy, command, session.file("quellora.log"));
    std::printf("quellora run as the user service (RestartSec %lld ms) on a private PipeWire "
                "server, a %.0f dBFS tone playing; SIGKILL %d times\n",
                static_cast<long long>(policy.restartDelay.count()), inputDb, kills);

    std::vector<double> outages;
    for (int kill = 1; kill <= kills; ++kill) {
        if (!waitForCompression(session, playback, service, kill)) {
            std::cerr << "not compressing before kill " << kill << ":\n"
                      << session.graph().describe();
            return 1;
        }
        std::this_thread::sleep_for(1s); // past the fade-in
        auto recording = session.startRecording("speakers");
        recording.waitForSeconds(1.0, 10s);
        const auto killedAt = Clock::now();
        service.sendSignal(SIGKILL);
        if (!waitForCompression(session, playback, service, kill + 1)) {
            std::cerr << "not compressing again after kill " << kill << '\n';
            return 1;
        }
        const auto graphBack = std::chrono::duration<double>(Clock::now() - killedAt).count();
        // Enough after the graph is back for the fade-in and a settled second.
        recording.waitForSeconds(1.0 + graphBack + 2.0, 20s);
        const auto outage = measureOutage(recording.stop());
        if (!outage) {
            std::cerr << "kill " << kill << ": the recording shows no kill and return\n";
            return 1;
        }
        std::printf("  kill %d: compressed audio again after %.3f s (unprocessed audio after "
                    "%.3f s; pipeline rebuilt in the graph after %.3f s)\n",
                    kill, outage->compressedAgainSeconds, outage->unprocessedSeconds, graphBack);
        outages.push_back(outage->compressedAgainSeconds);
    }
    std::sort(outages.begin(), outages.end());
    std::printf("  median %.3f s, from %.3f to %.3f s\n", outages[outages.size() / 2],
                outages.front(), outages.back());
    return 0;
}

} // namespace
} // namespace quellora::integration

int main(int argc, char** argv) {
    try {
        return quellora::integration::probe(argc > 1 ? std::max(1, std::stoi(argv[1])) : 5);
    } catch (const std::exception& error) {
        std::cerr << "restart probe: " << error.what() << '\n';
        return 1;
    }
}
