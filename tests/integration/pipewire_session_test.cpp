// The harness on its own, without Quellora: if these fail, the integration
// tests built on it cannot be trusted.

#include "private_pipewire_session.h"

#include <gmock/gmock.h>

#include <cstdlib>

namespace quellora::integration {
namespace {

using namespace std::chrono_literals;

class PrivatePipeWireSessionSmoke : public PrivatePipeWireSessionTest {};

TEST_F(PrivatePipeWireSessionSmoke, StartsWithBothSinksSpeakersAsDefaultAndTheEnvironmentOnIt) {
    const auto graph = session().graph();
    for (const char* name : {"speakers", "headphones"}) {
        const auto* sink = graph.node(name);
        ASSERT_NE(sink, nullptr) << name << " missing:\n" << graph.describe();
        EXPECT_EQ(sink->mediaClass, "Audio/Sink");
    }
    EXPECT_EQ(session().defaultSink(), "speakers");

    const auto& root = session().runtimeDirectory();
    EXPECT_EQ(std::getenv("XDG_RUNTIME_DIR"), root.string());
    EXPECT_EQ(std::getenv("PIPEWIRE_RUNTIME_DIR"), root.string());
    EXPECT_EQ(std::filesystem::status(root).permissions(), std::filesystem::perms::owner_all);
    EXPECT_TRUE(std::filesystem::exists(root / "pipewire-0"));
}

TEST_F(PrivatePipeWireSessionSmoke, AToneOnTheDefaultSinkIsRecordedFromItsMonitorAtItsLevel) {
    auto playback = session().play(tone(-12.0, 30.0));
    GraphSnapshot graph;
    ASSERT_TRUE(session().waitForGraph(
        [&](const GraphSnapshot& g) {
            const auto links = g.linksBetween(playback.nodeName(), "speakers");
            return links.size() == 2 && links[0].state == "active" && links[1].state == "active";
        },
        10s, &graph))
        << graph.describe();

    const auto recorded = session().record("speakers", 1.0);

    ASSERT_EQ(recorded.channels, 2);
    ASSERT_GE(recorded.seconds(), 0.99);
    // The first window may hold the moment the recorder joined.
    const auto windows = levelWindows(recorded.slice(0.1, 1.0), 0.1);
    ASSERT_FALSE(windows.empty());
    for (const auto& window : windows) {
        EXPECT_NEAR(window.peakDb, -12.0, 1.0) << "at " << window.startSeconds << " s";
        EXPECT_NEAR(window.rmsDb, -15.01, 1.0) << "at " << window.startSeconds << " s";
    }
}

TEST_F(PrivatePipeWireSessionSmoke, NewStreamsFollowTheDefaultSinkAndLeaveNothingBehind) {
    const auto before = session().graph();
    session().setDefaultSink("headphones");
    std::string playerName;
    {
        auto playback = session().play(tone(-20.0, 30.0));
        playerName = playback.nodeName();
        GraphSnapshot graph;
        ASSERT_TRUE(session().waitForGraph(
            [&](const GraphSnapshot& g) { return g.isLinked(playerName, "headphones"); }, 10s,
            &graph))
            << graph.describe();
        EXPECT_FALSE(graph.isLinked(playerName, "speakers"));
    }

    GraphSnapshot after;
    EXPECT_TRUE(session().waitForGraph(
        [&](const GraphSnapshot& g) {
            return g.node(playerName) == nullptr && g.links.size() == before.links.size();
        },
        10s, &after))
        << after.describe();
    EXPECT_EQ(after.nodes.size(), before.nodes.size()) << after.describe();
}

} // namespace
} // namespace quellora::integration
