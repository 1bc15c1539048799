// The PipeWire adapter's decisions about the graph, without a server.

#include "engine/hal/pipewire/pipewire_graph.h"

#include <gtest/gtest.h>

namespace quellora::pipewire {
namespace {

GraphNode sink(std::uint32_t id, std::string name, int priority = 0, std::string role = {}) {
    GraphNode node;
    node.globalId = id;
    node.objectId = 100 + id;
    node.name = std::move(name);
    node.mediaClass = "Audio/Sink";
    node.priority = priority;
    node.ownRole = std::move(role);
    return node;
}

TEST(PipeWireGraphTest, TheDefaultSinkIsNeverOneOfOurs) {
    Graph graph;
    graph.nodes[1] = sink(1, "speakers", 1000);
    graph.nodes[2] = sink(2, "headphones", 2000);
    graph.nodes[3] = sink(3, "quellora-tap-1", -1000, ownTapRole);
    EXPECT_EQ(graph.defaultSink(), nullptr); // no default named yet

    graph.defaultSinkName = "speakers";
    EXPECT_EQ(graph.defaultSink()->name, "speakers");

    // The session manager fell back to our sink: the user's last choice stands.
    graph.userDefaultSinkName = "speakers";
    graph.defaultSinkName = "quellora-tap-1";
    EXPECT_EQ(graph.defaultSink()->name, "speakers");
    // A configured default wins over the remembered one.
    graph.configuredSinkName = "headphones";
    EXPECT_EQ(graph.defaultSink()->name, "headphones");
    // Neither exists any more: the sink the session manager prefers.
    graph.nodes.erase(1);
    graph.nodes.erase(2);
    graph.nodes[4] = sink(4, "hdmi", 500);
    graph.nodes[5] = sink(5, "usb", 900);
    EXPECT_EQ(graph.defaultSink()->name, "usb");
}

TEST(PipeWireGraphTest, ClientsRunOutputWhileOneOfTheirStreamsRuns) {
    Graph graph;
    GraphNode stream;
    stream.globalId = 7;
    stream.mediaClass = "Stream/Output/Audio";
    stream.clientId = 40;
    graph.nodes[7] = stream;
    EXPECT_FALSE(graph.clientRunsOutput(40));
    graph.nodes[7].running = true;
    EXPECT_TRUE(graph.clientRunsOutput(40));
    EXPECT_FALSE(graph.clientRunsOutput(41));
    graph.nodes[7].mediaClass = "Stream/Input/Audio"; // recording is not playing
    EXPECT_FALSE(graph.clientRunsOutput(40));
}

TEST(PipeWireGraphTest, ChannelsLinkByNameAndSingleChannelsTakeTheFirst) {
    const GraphPort fl{1, 10, true, false, "output_FL", "FL"};
    const GraphPort fr{2, 10, true, false, "output_FR", "FR"};
    const GraphPort inFl{3, 20, false, false, "playback_FL", "FL"};
    const GraphPort inFr{4, 20, false, false, "playback_FR", "FR"};
    const GraphPort inFc{5, 20, false, false, "playback_FC", "FC"};
    const GraphPort mono{6, 30, false, false, "playback_MONO", "MONO"};
    using Pairs = std::vector<std::pair<std::uint32_t, std::uint32_t>>;
    EXPECT_EQ(channelLinks({&fl, &fr}, {&inFl, &inFr, &inFc}), (Pairs{{1, 3}, {2, 4}}));
    EXPECT_EQ(channelLinks({&fl, &fr}, {&mono}), (Pairs{{1, 6}}));
    EXPECT_TRUE(channelLinks({}, {&inFl}).empty());
}

TEST(PipeWireGraphTest, ClockSettingsPreferForcedValues) {
    ClockSettings clock;
    EXPECT_EQ(clock.effectiveRate(), 48000u);
    EXPECT_TRUE(clock.apply("clock.force-rate", "44100"));
    EXPECT_TRUE(clock.apply("clock.quantum", "256"));
    EXPECT_FALSE(clock.apply("log.level", "2"));
    EXPECT_EQ(clock.effectiveRate(), 44100u);
    EXPECT_EQ(clock.effectiveQuantum(), 256u);
    EXPECT_TRUE(clock.apply("clock.force-rate", std::nullopt)); // removed: back to the default
    EXPECT_TRUE(clock.apply("clock.rate", "not a number"));
    EXPECT_EQ(clock.effectiveRate(), 48000u);
}

TEST(PipeWireGraphTest, MetadataNamesAndTransports) {
    EXPECT_EQ(defaultNodeName(R"({"name":"alsa_output.pci"})"), "alsa_output.pci");
    EXPECT_FALSE(defaultNodeName("not json"));
    EXPECT_FALSE(defaultNodeName(R"({"id":4})"));

    const auto node = sink(1, "alsa_output.usb-headset");
    const GraphDevice usb{9, "alsa", "usb", ""};
    const GraphDevice bluetooth{9, "bluez5", "", ""};
    const GraphDevice hdmi{9, "alsa", "pci", "hdmi"};
    EXPECT_EQ(transportCode(node, &usb), AudioTransport::usb);
    EXPECT_EQ(transportCode(node, &bluetooth), AudioTransport::bluetooth);
    EXPECT_EQ(transportCode(node, &hdmi), AudioTransport::hdmi);
    EXPECT_EQ(transportCode(node, nullptr), AudioTransport::virtualDevice);
}

} // namespace
} // namespace quellora::pipewire
