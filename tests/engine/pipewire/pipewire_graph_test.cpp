// The PipeWire adapter's decisions about the graph, without a server.

#include "engine/hal/pipewire/pipewire_graph.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

namespace quellora::pipewire {
namespace {

GraphNode sink(std::uint32_t id, std::string name, int priority = 0) {
    GraphNode node;
    node.globalId = id;
    node.objectId = 100 + id;
    node.ownRole = ownRoleOf(name);
    node.name = std::move(name);
    node.serial = std::to_string(1000 + id);
    node.mediaClass = "Audio/Sink";
    node.priority = priority;
    return node;
}

GraphNode stream(std::uint32_t id, bool running) {
    GraphNode node;
    node.globalId = id;
    node.name = "player-" + std::to_string(id);
    node.mediaClass = "Stream/Output/Audio";
    node.running = running;
    return node;
}

TEST(PipeWireGraphTest, TheDefaultSinkIsNeverOneOfOurs) {
    Graph graph;
    graph.nodes[1] = sink(1, "speakers", 1000);
    graph.nodes[2] = sink(2, "headphones", 2000);
    graph.nodes[3] = sink(3, "quellora-tap-1", -1000);
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

// A graph with speakers, headphones, our tap and aggregate, and streams
// linked in various ways; client 5 is the session manager, 6 a patchbay.
class StreamRoutingTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto node : {sink(1, "speakers"), sink(2, "headphones"), sink(3, "quellora-tap-AB12"),
                          sink(4, "quellora-aggregate-CD34")}) {
            graph.nodes[node.globalId] = node;
        }
        graph.nodes[4].mediaClass.clear(); // a filter, not a sink
        graph.clients[5] = {5, 500, 100, true};
        graph.clients[6] = {6, 600, 200, false};
    }
    void link(std::uint32_t id, std::uint32_t from, std::uint32_t to, std::uint32_t client) {
        graph.links[id] = {from, to, client};
    }

    Graph graph;
};

TEST_F(StreamRoutingTest, OurNodesAreToldByNameAndWhoChoseAStreamsTarget) {
    EXPECT_EQ(ownRoleOf("quellora-aggregate-CD34"), ownAggregateRole);
    EXPECT_EQ(ownRoleOf("alsa_output.quellora-tap"), "");
    EXPECT_FALSE(graph.nodes[3].isSink());
    EXPECT_TRUE(graph.nodes[1].isSink());
    EXPECT_EQ(targetChooser(graph, std::nullopt), TargetChooser::nobody);
    EXPECT_EQ(targetChooser(graph, "-1"), TargetChooser::nobody);
    // Our tap by name or serial, and a tap of an earlier run.
    EXPECT_EQ(targetChooser(graph, "quellora-tap-AB12"), TargetChooser::us);
    EXPECT_EQ(targetChooser(graph, "1003"), TargetChooser::us);
    EXPECT_EQ(targetChooser(graph, "quellora-tap-GONE"), TargetChooser::us);
    // A mixer names the device by serial; by hand it may be a name. A
    // serial that is also our tap's id is still the device's.
    EXPECT_EQ(targetChooser(graph, "1002"), TargetChooser::user);
    EXPECT_EQ(targetChooser(graph, "headphones"), TargetChooser::user);
    EXPECT_EQ(targetChooser(graph, "3"), TargetChooser::user);
}

TEST_F(StreamRoutingTest, TheSessionManagersLeftoverLinksAreTold) {
    graph.nodes[10] = stream(10, true);
    link(20, 10, 3, 5); // into the tap
    link(21, 10, 1, 5); // left over on the speakers
    link(22, 10, 2, 6); // made with a patchbay: the user's
    link(23, 10, 4, 5); // not a device
    const auto links = streamLinks(graph, 10, 3);
    EXPECT_TRUE(links.intoTap);
    EXPECT_EQ(links.toDevices, std::vector<std::uint32_t>{21});
    EXPECT_FALSE(streamLinks(graph, 11, 3).intoTap);
}

TEST_F(StreamRoutingTest, ATapReceivesWhileARunningStreamIsLinkedIntoIt) {
    graph.nodes[10] = stream(10, false);
    graph.nodes[11] = stream(11, true);
    EXPECT_FALSE(graph.runningStreamInto(3));
    link(20, 10, 3, 5);
    link(21, 11, 1, 5); // running, but on the speakers
    EXPECT_FALSE(graph.runningStreamInto(3));
    graph.nodes[10].running = true;
    EXPECT_TRUE(graph.runningStreamInto(3));
    // Our own aggregate reading the tap is no source.
    graph.nodes[10].running = false;
    link(22, 4, 3, 0);
    graph.nodes[4].running = true;
    EXPECT_FALSE(graph.runningStreamInto(3));
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

// A tap of one layout bypassed onto a sink of another (a switch between a
// receiver and stereo speakers): nothing the fronts can carry is lost.
TEST(PipeWireGraphTest, ChannelsTheInputsLackFallBackToTheFrontsOnTheirSide) {
    std::vector<GraphPort> surround;
    std::uint32_t id = 1;
    for (const char* channel : {"FL", "FR", "FC", "LFE", "RL", "RR", "SL", "AUX0"}) {
        surround.push_back({id++, 10, true, true, std::string("monitor_") + channel, channel});
    }
    const GraphPort inFl{20, 30, false, false, "playback_FL", "FL"};
    const GraphPort inFr{21, 30, false, false, "playback_FR", "FR"};
    std::vector<const GraphPort*> from;
    for (const auto& port : surround) {
        from.push_back(&port);
    }
    using Pairs = std::vector<std::pair<std::uint32_t, std::uint32_t>>;
    // FC and the unplaced AUX0 reach both fronts, the rears and sides their
    // own side; the low-frequency effects none.
    EXPECT_EQ(
        channelLinks(from, {&inFl, &inFr}),
        (Pairs{{1, 20}, {2, 21}, {3, 20}, {3, 21}, {5, 20}, {6, 21}, {7, 20}, {8, 20}, {8, 21}}));
    // Where the sink has the channel, only it takes it.
    const GraphPort inFc{22, 30, false, false, "playback_FC", "FC"};
    EXPECT_EQ(channelLinks({from[2]}, {&inFl, &inFr, &inFc}), (Pairs{{3, 20}, {3, 21}, {3, 22}}));
    EXPECT_EQ(channelLinks({from[2], from[4]}, {&inFl, &inFr, &inFc}), (Pairs{{3, 22}, {5, 20}}));
}

TEST(PipeWireGraphTest, ASinksLayoutIsItsInputsInPortOrder) {
    Graph graph;
    graph.nodes[5] = sink(5, "receiver");
    // Announced out of order, monitors among them.
    const char* channels[] = {"RR", "FL", "LFE", "FR", "FC", "RL"};
    const std::uint32_t indexes[] = {5, 0, 3, 1, 2, 4};
    for (std::uint32_t i = 0; i < 6; ++i) {
        graph.ports[40 + i] = {40 + i, 5, false, false, "", channels[i], indexes[i]};
        graph.ports[50 + i] = {50 + i, 5, true, true, "", channels[i], indexes[i]};
    }
    EXPECT_EQ(graph.channelPositions(5),
              (std::vector<std::string>{"FL", "FR", "FC", "LFE", "RL", "RR"}));
    EXPECT_TRUE(graph.channelPositions(6).empty());
}

TEST(PipeWireGraphTest, ChannelPositionsMapToThePlatformsLabels) {
    namespace Label = AudioChannelLabel;
    const std::pair<const char*, std::uint32_t> cases[] = {
        {"MONO", Label::mono},
        {"FL", Label::left},
        {"FC", Label::center},
        {"LFE", Label::lfeScreen},
        {"RL", Label::rearSurroundLeft},
        {"SR", Label::rightSurround},
        {"AUX3", Label::discrete0 + 3},
        {"AUXx", Label::unknown},
        {"", Label::unknown},
        {"XYZ", Label::unknown},
    };
    for (const auto& [position, label] : cases) {
        EXPECT_EQ(channelLabelOf(position), label) << position;
    }
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

TEST(ProcessIdentityTest, NameElseBinaryAndCallsInAnyCaseOrJackPlayDirect) {
    EXPECT_EQ(applicationIdentity("firefox-esr", "Firefox"), "Firefox");
    EXPECT_EQ(applicationIdentity("electron", ""), "electron");
    EXPECT_EQ(applicationIdentity("", ""), "");
    for (const char* role : {"Communication", "communication", "Phone", "phone", "PHONE"}) {
        EXPECT_EQ(directOutputReason(role, "pipewire-pulse"), DirectOutputReason::callAudio)
            << role;
    }
    EXPECT_EQ(directOutputReason("", "jack"), DirectOutputReason::proAudio);
    EXPECT_EQ(directOutputReason("Phone", "jack"), DirectOutputReason::callAudio);
    for (const char* role : {"", "Music", "Movie", "Game", "Notification", "Communications"}) {
        EXPECT_EQ(directOutputReason(role, "pipewire-pulse"), DirectOutputReason::none) << role;
    }
}

class ProcessFactsTest : public ::testing::Test {
protected:
    GraphClient& client(std::uint32_t id, ApplicationProperties application) {
        application.known = true;
        graph.clients[id] = {id, 200 + id, 4000 + static_cast<std::int32_t>(id), false,
                             application};
        return graph.clients[id];
    }
    GraphNode& outputStream(std::uint32_t id, std::uint32_t clientId,
                            ApplicationProperties application) {
        auto node = stream(id, true);
        node.clientId = clientId;
        application.known = true;
        node.application = application;
        graph.nodes[id] = node;
        return graph.nodes[id];
    }

    Graph graph;
};

// Every paplay is pacat: two of them are two applications, by their names.
TEST_F(ProcessFactsTest, APulseAudioClientIsItsNameAndSaysWhenItIsACall) {
    auto& voice = client(1, {.name = "VoiceApp", .binary = "pacat", .api = "pipewire-pulse"});
    outputStream(10, 1, {.name = "VoiceApp", .binary = "pacat", .mediaRole = "Communication"});
    auto& other = client(4, {.name = "Alarm", .binary = "pacat", .api = "pipewire-pulse"});
    outputStream(40, 4, {.name = "Alarm", .binary = "pacat"});
    const auto facts = graph.processFacts(voice);
    EXPECT_EQ(facts.bundleID, "VoiceApp");
    EXPECT_EQ(graph.processFacts(other).bundleID, "Alarm");
    EXPECT_EQ(facts.binary, "pacat");
    EXPECT_EQ(facts.name, "VoiceApp");
    EXPECT_EQ(facts.reason, DirectOutputReason::callAudio);
    EXPECT_TRUE(facts.hasOutputStream);
    EXPECT_TRUE(facts.known);
}

// pw-play -P '{ application.name = ... }' names only its stream, which is
// then what the application is; the binary comes from the client, and icons
// from wherever one is given.
TEST_F(ProcessFactsTest, AStreamNamesItselfMorePreciselyThanItsClient) {
    auto& player = client(2, {.name = "pw-cat", .binary = "pw-cat", .iconName = "audio-player"});
    outputStream(20, 2, {.name = "Music Player", .mediaRole = "Music"});
    const auto facts = graph.processFacts(player);
    EXPECT_EQ(facts.bundleID, "Music Player");
    EXPECT_EQ(facts.binary, "pw-cat");
    EXPECT_EQ(facts.name, "Music Player");
    EXPECT_EQ(facts.iconName, "audio-player");
    EXPECT_EQ(facts.reason, DirectOutputReason::none);
}

TEST_F(ProcessFactsTest, AJackClientIsProAudioAndUnknownUntilEveryStreamHasSpoken) {
    auto& daw = client(3, {.name = "Ardour", .binary = "ardour", .api = "jack"});
    EXPECT_FALSE(graph.processFacts(daw).hasOutputStream);
    EXPECT_EQ(graph.processFacts(daw).reason, DirectOutputReason::proAudio);
    outputStream(30, 3, {.name = "Ardour"});
    outputStream(31, 3, {}).application.known = false; // its info has not come yet
    EXPECT_FALSE(graph.processFacts(daw).known);
    daw.application.known = false;
    graph.nodes.erase(31);
    EXPECT_FALSE(graph.processFacts(daw).known);
}

TEST(TargetNamesTest, ByNameSerialOrIdOfThatNodeOnly) {
    auto tap = sink(7, "quellora-tap-ABCD");
    EXPECT_TRUE(targetNames("quellora-tap-ABCD", tap.name, &tap));
    EXPECT_TRUE(targetNames(tap.serial, tap.name, &tap));
    EXPECT_FALSE(targetNames("7", tap.name, &tap));
    EXPECT_TRUE(targetNames("7", tap.name, &tap, true));
    EXPECT_FALSE(targetNames(tap.serial, tap.name, &tap, true));
    EXPECT_TRUE(targetNames("quellora-tap-ABCD", tap.name, nullptr));
    // Another instance's tap, or nothing at all.
    EXPECT_FALSE(targetNames("quellora-tap-EF01", tap.name, &tap));
    EXPECT_FALSE(targetNames(std::nullopt, tap.name, &tap));
}

// A session as pw-dump printed it (trimmed): speakers and headphones, a
// loopback sink (pw-loopback), a filter-chain sink (`pipewire -c` with a copy
// node), pipewire-pulse's combine and echo-cancel sinks, and applications
// through every client API, some with a device of their own: paplay
// --device, pw-play --target, and paplay streams the session manager sends
// where the user once moved paplay (target.node in the metadata).
class VirtualDeviceSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::ifstream file(QUELLORA_PIPEWIRE_DUMP);
        for (const auto& object : nlohmann::json::parse(file)) {
            const std::uint32_t id = object["id"];
            const auto type = object["type"].get<std::string>();
            if (type == "PipeWire:Interface:Metadata") {
                for (const auto& entry : object["metadata"]) {
                    if (entry["key"] == "target.node") {
                        restored[entry["subject"]] = entry["value"].dump();
                    }
                }
                continue;
            }
            Properties props;
            for (const auto& [key, value] : object["info"]["props"].items()) {
                props[key] = value.is_string() ? value.get<std::string>() : value.dump();
            }
            const auto text = [&](const char* key) {
                return props[key];
            };
            if (type == "PipeWire:Interface:Client") {
                GraphClient client{id, id, 0, text("application.name") == "WirePlumber"};
                client.application = {.name = text("application.name"),
                                      .binary = text("application.process.binary"),
                                      .known = true};
                graph.clients[id] = client;
                continue;
            }
            GraphNode node;
            node.globalId = id;
            node.name = text("node.name");
            node.serial = text("object.serial");
            node.mediaClass = text("media.class");
            node.description = text("node.description");
            node.clientId = static_cast<std::uint32_t>(std::atoi(text("client.id").c_str()));
            node.application = {.name = text("application.name"), .known = true};
            node.origin = nodeOrigin(props);
            graph.nodes[id] = node;
        }
        graph.defaultSinkName = "speakers";
    }
    const GraphNode& node(const std::string& name) const { return *graph.nodeNamed(name); }
    // Where the stream plays unless the tap takes it: "" for the default output.
    std::string destination(const std::string& name) const {
        const auto& stream = node(name);
        const auto restoredTarget = restored.find(stream.globalId);
        const auto found = streamDestination(
            graph, stream,
            {std::nullopt, restoredTarget == restored.end()
                               ? std::nullopt
                               : std::optional<std::string>(restoredTarget->second)});
        return found.followsDefault ? "" : found.device ? found.device->name : "?";
    }

    Graph graph;
    std::map<std::uint32_t, std::string> restored;
};

TEST_F(VirtualDeviceSessionTest, OnlyApplicationsStreamsAreTheTapsToTake) {
    for (const auto* name :
         {"eq_out", "dsp_out", "output.combined_speakers", "output.combined_headphones",
          "echo-cancel-playback", "recorder", "eq_sink", "speakers"}) {
        EXPECT_FALSE(graph.isApplicationStream(node(name))) << name;
    }
    for (const auto* name : {"later_paplay", "restored_paplay", "device_paplay", "target_pwplay",
                             "plain_pwplay", "plain_aplay"}) {
        EXPECT_TRUE(graph.isApplicationStream(node(name))) << name;
    }
    // A virtual device's own stream does not make its client an application.
    EXPECT_FALSE(graph.processFacts(graph.clients.at(node("eq_out").clientId)).hasOutputStream);
    graph.nodes[node("eq_out").globalId].running = true;
    EXPECT_FALSE(graph.clientRunsOutput(node("eq_out").clientId));
}

TEST_F(VirtualDeviceSessionTest, StreamsBoundElsewhereThanTheDefaultOutputPlayThere) {
    const std::pair<const char*, const char*> speakersDefault[] = {
        {"plain_pwplay", ""},
        {"plain_aplay", ""},
        {"device_paplay", "headphones"},   // paplay --device
        {"target_pwplay", "headphones"},   // pw-play --target
        {"restored_paplay", "headphones"}, // the session manager's memory of paplay
        {"later_paplay", "headphones"},
    };
    for (const auto& [stream, device] : speakersDefault) {
        EXPECT_EQ(destination(stream), device) << stream;
    }
    // Asking for the default output is following it; a virtual sink as
    // the default output is an ordinary output.
    graph.defaultSinkName = "headphones";
    EXPECT_EQ(destination("device_paplay"), "");
    EXPECT_EQ(destination("restored_paplay"), "");
    graph.defaultSinkName = "eq_sink";
    EXPECT_EQ(destination("plain_pwplay"), "");
    EXPECT_EQ(destination("target_pwplay"), "headphones");

    // Ours in front of the stream's own target; anyone else's move stands,
    // even onto the default output; -1 follows the default whatever else.
    const auto& stream = node("target_pwplay");
    const auto with = [&](std::optional<std::string> object, std::optional<std::string> restore) {
        const auto found = streamDestination(graph, stream, {object, restore});
        return found.followsDefault ? "" : found.device ? found.device->name : "?";
    };
    EXPECT_EQ(with("quellora-tap-AB12", std::nullopt), "headphones");
    EXPECT_EQ(with("quellora-tap-AB12", "-1"), "headphones");
    graph.defaultSinkName = "speakers";
    EXPECT_EQ(with(std::nullopt, "-1"), "");
    // A mixer's move half done (target.node first): still ours.
    EXPECT_EQ(destination("plain_pwplay"), "");
    EXPECT_EQ(
        streamDestination(graph, node("plain_pwplay"), {"quellora-tap-AB12", "37"}).followsDefault,
        true);
    EXPECT_EQ(with(node("eq_sink").serial, std::nullopt), "eq_sink");
    EXPECT_EQ(with("-1", "37"), "");
    EXPECT_EQ(with("gone-sink", std::nullopt), "?");
}

// Our tap, read by our aggregate, which plays on a virtual sink as the
// default output.
TEST_F(VirtualDeviceSessionTest, WhatOurOutputReachesThroughVirtualDevices) {
    graph.nodes[1] = sink(1, "quellora-tap-AB12");
    graph.nodes[2] = sink(2, "quellora-aggregate-CD34");
    graph.nodes[2].mediaClass.clear();
    const auto link = [&](std::uint32_t id, const std::string& from, const std::string& to) {
        graph.links[id] = {node(from).globalId, node(to).globalId, 0};
    };
    link(500, "quellora-tap-AB12", "quellora-aggregate-CD34");
    link(501, "quellora-aggregate-CD34", "eq_sink");
    link(502, "eq_out", "speakers");
    link(503, "speakers", "recorder");
    link(504, "plain_pwplay", "quellora-tap-AB12");
    const auto reached = graph.reachableFrom({1});
    for (const auto* name : {"eq_sink", "eq_out", "speakers", "recorder"}) {
        EXPECT_TRUE(reached.contains(node(name).globalId)) << name;
    }
    // Into a device, not out of it: the echo canceller's sink reaches its
    // playback and its source, but its capture stream feeds only the source.
    for (const auto* name : {"plain_pwplay", "dsp_out", "echo-cancel-playback", "ec_source"}) {
        EXPECT_FALSE(reached.contains(node(name).globalId)) << name;
    }
    const auto echo = graph.reachableFrom({node("ec_sink").globalId});
    EXPECT_TRUE(echo.contains(node("echo-cancel-playback").globalId));
    EXPECT_TRUE(echo.contains(node("ec_source").globalId));
    EXPECT_FALSE(echo.contains(node("echo-cancel-capture").globalId));
    EXPECT_EQ(graph.virtualDeviceOf(node("eq_out")), "Equaliser");
    EXPECT_EQ(graph.virtualDeviceOf(node("plain_pwplay")), "");
}

} // namespace
} // namespace quellora::pipewire
