// `quellora run` as people start it: its own process on a private server,
// told what happens on stdout, ended by a signal.

#include "private_pipewire_session.h"

#include <gmock/gmock.h>

#include <csignal>
#include <fstream>
#include <set>

namespace quellora::integration {
namespace {

using namespace std::chrono_literals;

// The file names of the shared libraries process `pid` has mapped.
std::set<std::string> loadedLibraries(pid_t pid) {
    std::set<std::string> libraries;
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    for (std::string line; std::getline(maps, line);) {
        const auto slash = line.rfind('/');
        if (slash != std::string::npos && line.find(".so", slash) != std::string::npos) {
            libraries.insert(line.substr(slash + 1));
        }
    }
    return libraries;
}

std::set<std::string> nodeNames(const GraphSnapshot& graph) {
    std::set<std::string> names;
    for (const auto& node : graph.nodes) {
        names.insert(node.name);
    }
    return names;
}

ChildProcess startQuelloraRun() {
    return ChildProcess::start({QUELLORA_EXECUTABLE, "run"});
}

TEST(QuelloraRunWithoutServer, SaysSoWaitsAndStartsOnceTheServerIsThere) {
    PrivatePipeWireSession session({.startAudioServer = false});
    auto quellora = startQuelloraRun();
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

class QuelloraRunOnServer : public PrivatePipeWireSessionTest {};

TEST_F(QuelloraRunOnServer, InterruptStopsTheEngineAndLeavesTheGraphAsItWas) {
    const auto before = session().graph();
    auto quellora = startQuelloraRun();
    ASSERT_TRUE(quellora.waitForOutput("Quellora is on.\n", 10s)) << quellora.errors();
    // Interrupted only once the pipeline's nodes are up, so there is
    // something to clean up.
    GraphSnapshot running;
    ASSERT_TRUE(session().waitForGraph(
        [&](const GraphSnapshot& g) { return g.nodes.size() > before.nodes.size(); }, 10s,
        &running))
        << running.describe();

    quellora.sendSignal(SIGINT);

    EXPECT_EQ(quellora.waitForExit(10s), 0) << quellora.errors();
    EXPECT_EQ(quellora.output(), "Quellora is on.\n");
    GraphSnapshot after;
    EXPECT_TRUE(session().waitForGraph(
        [&](const GraphSnapshot& g) {
            return nodeNames(g) == nodeNames(before) && g.links.size() == before.links.size();
        },
        10s, &after))
        << "before:\n"
        << before.describe() << "after:\n"
        << after.describe();
}

TEST_F(QuelloraRunOnServer, LoadsQtCoreAndNothingOfTheTrayOrTheSoundFiles) {
    auto quellora = startQuelloraRun();
    ASSERT_TRUE(quellora.waitForOutput("Quellora is on.\n", 10s)) << quellora.errors();
    const auto libraries = loadedLibraries(quellora.pid());
    EXPECT_THAT(libraries, ::testing::Contains(::testing::StartsWith("libQt6Core.so")));
    EXPECT_THAT(libraries, ::testing::Contains(::testing::StartsWith("libpipewire-0.3.so")));
    for (const char* other : {"libQt6Gui", "libQt6Widgets", "libQt6DBus", "libxcb", "libX11",
                              "quellora-tray", "libcurl", "libsndfile", "quellora-process"}) {
        EXPECT_THAT(libraries, ::testing::Not(::testing::Contains(::testing::StartsWith(other))))
            << other;
    }
    quellora.sendSignal(SIGTERM);
    EXPECT_EQ(quellora.waitForExit(10s), 0) << quellora.errors();
}

} // namespace
} // namespace quellora::integration
