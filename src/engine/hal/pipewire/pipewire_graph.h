#pragma once

// What the adapter knows of the server's graph, kept free of PipeWire's own
// types so that its decisions can be tested without a server.

#include "engine/hal/audio_hal.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace quellora::pipewire {

// A property set as the server reports it (key to value).
using Properties = std::map<std::string, std::string>;

// Our nodes are told by their names, so that they are never taken for
// devices, default outputs or streams to route (the registry shows only a
// few well-known properties of a node, never keys of our own). Tap names
// also mark the targets an earlier run left in the session manager's memory.
inline constexpr const char* tapNamePrefix = "quellora-tap-";
inline constexpr const char* aggregateNamePrefix = "quellora-aggregate-";
inline constexpr const char* ownTapRole = "tap";
inline constexpr const char* ownAggregateRole = "aggregate";
// ownTapRole or ownAggregateRole for the name of one of our nodes, else empty.
std::string ownRoleOf(const std::string& nodeName);

// What an application tells of itself, on its client and on its streams.
struct ApplicationProperties {
    std::string name{};      // application.name
    std::string binary{};    // application.process.binary
    std::string iconName{};  // application.icon-name (or PulseAudio's icon_name)
    std::string mediaRole{}; // media.role, streams only
    std::string api{};       // client.api: pipewire-pulse, jack, ...
    bool known = false;      // the object's info with all its properties has come

    friend bool operator==(const ApplicationProperties&, const ApplicationProperties&) = default;
};

// What a node's own properties (its info; the registry shows only a few
// keys) say of where it belongs and where it wants to play.
struct NodeOrigin {
    // node.link-group: PipeWire's modules (loopback, filter-chain,
    // echo-cancel, combine-stream) and pipewire-pulse's (combine-sink, and
    // those built on the former: remap-sink, ladspa-sink, ...) give every
    // node of one virtual device the same group, its sink and the stream
    // that plays what the sink receives; WirePlumber takes a stream carrying
    // it for a filter's, never follows the default with it and never links
    // it into its own group. No application sets it.
    std::string linkGroup;
    // pulse.module.id: a pipewire-pulse module made the node for itself.
    bool madeByPulseModule = false;
    // The device the stream asked for when it was made: target.object (what
    // paplay --device, pw-play --target and device pickers set; a serial or
    // a name), else the older node.target (an id or a name).
    std::string target;
    bool targetIsId = false; // node.target: an id, not a serial, when a number

    friend bool operator==(const NodeOrigin&, const NodeOrigin&) = default;
};
NodeOrigin nodeOrigin(const Properties& properties);

struct GraphNode {
    std::uint32_t globalId = 0;
    AudioObjectID objectId = 0; // the adapter's own id for it
    std::string name;
    std::string serial; // object.serial, what mixers name a target by
    std::string mediaClass;
    std::uint32_t clientId = 0;
    std::uint32_t deviceId = 0; // the device object it belongs to, 0 for none
    std::string ownRole;        // ownTapRole or ownAggregateRole for ours
    int priority = 0;           // priority.session: the session manager's preference
    bool running = false;
    std::string description;           // node.description, else node.nick: what people call it
    ApplicationProperties application; // output streams
    NodeOrigin origin;                 // with `application`, from the node's info

    bool isSink() const { return mediaClass == "Audio/Sink" && ownRole.empty(); }
    bool isOutputStream() const { return mediaClass == "Stream/Output/Audio" && ownRole.empty(); }
};

struct GraphPort {
    std::uint32_t globalId = 0;
    std::uint32_t nodeId = 0;
    bool output = false;
    bool monitor = false;
    std::string name;
    std::string channel;     // FL, FR, MONO, ...
    std::uint32_t index = 0; // port.id: its place among the node's ports of its direction
};

struct GraphLink {
    std::uint32_t outputNode = 0;
    std::uint32_t inputNode = 0;
    std::uint32_t clientId = 0; // who made it; 0 for links that outlive their maker
};

struct GraphClient {
    std::uint32_t globalId = 0;
    AudioObjectID objectId = 0;
    std::int32_t pid = -1;
    bool sessionManager = false; // WirePlumber, which links streams to their targets
    ApplicationProperties application{};
};

struct GraphDevice {
    std::uint32_t globalId = 0;
    std::string api; // alsa, bluez5, ...
    std::string bus; // usb, pci, bluetooth, ...
    std::string formFactor;
};

// The graph's clock as the "settings" metadata sets it; a forced value wins.
struct ClockSettings {
    std::uint32_t rate = 48000;
    std::uint32_t forceRate = 0;
    std::uint32_t quantum = 1024;
    std::uint32_t forceQuantum = 0;
    std::uint32_t minQuantum = 32;
    std::uint32_t maxQuantum = 2048;

    std::uint32_t effectiveRate() const { return forceRate ? forceRate : rate; }
    std::uint32_t effectiveQuantum() const { return forceQuantum ? forceQuantum : quantum; }
    // Applies one "settings" metadata key; false for keys that are not the clock's.
    bool apply(const std::string& key, const std::optional<std::string>& value);
};

// The "name" of a default-node metadata value such as {"name":"speakers"}.
std::optional<std::string> defaultNodeName(const std::string& json);

// What identifies an application across runs: the name it gives itself (the
// one a mixer shows, and the session manager restores its streams by), else
// the name of its binary; empty when it gives neither. Binaries are shared:
// every paplay is pacat, and Electron, Python or Wine programs run one
// interpreter.
std::string applicationIdentity(const std::string& binary, const std::string& name);

// Calls (media.role Communication or Phone, in any case; PulseAudio clients
// say phone) and JACK clients reach the device untouched by default.
DirectOutputReason directOutputReason(const std::string& mediaRole, const std::string& api);

// A client (a process object) as the engine sees it: its application,
// taken from its output streams where they say more than the client.
struct ProcessFacts {
    std::string bundleID;
    std::string name;
    std::string binary;
    std::string iconName;
    DirectOutputReason reason = DirectOutputReason::none;
    bool hasOutputStream = false;
    // The client's and every stream's properties have come: until then the
    // application may not be the one it will turn out to be.
    bool known = false;

    friend bool operator==(const ProcessFacts&, const ProcessFacts&) = default;
};

// The platform transport code that best describes a sink.
std::uint32_t transportCode(const GraphNode& node, const GraphDevice* device);

struct Graph {
    std::map<std::uint32_t, GraphNode> nodes;
    std::map<std::uint32_t, GraphPort> ports;
    std::map<std::uint32_t, GraphClient> clients;
    std::map<std::uint32_t, GraphDevice> devices;
    std::map<std::uint32_t, GraphLink> links;
    ClockSettings clock;
    std::optional<std::string> defaultSinkName;
    std::optional<std::string> configuredSinkName;
    // The last default that was not ours: the session manager may fall back
    // to our own sink for a moment; the user's choice still stands then.
    std::optional<std::string> userDefaultSinkName;

    const GraphNode* nodeNamed(const std::string& name) const;
    const GraphNode* nodeWithObjectId(AudioObjectID objectId) const;
    // The node a routing target names: by serial (`byId` false: target.object)
    // or id (true: node.target, target.node) when it is a number, else by name.
    const GraphNode* nodeTargeted(const std::string& target, bool byId) const;
    // The user's default sink, never one of ours: when the current default is
    // ours, the configured one, the last default that was not ours, or the
    // sink the session manager prefers most stands in; none without sinks.
    const GraphNode* defaultSink() const;
    // In the order of their index.
    std::vector<const GraphPort*> portsOf(std::uint32_t nodeId, bool output, bool monitor) const;
    // The channel positions of a sink's inputs, in order: its layout.
    std::vector<std::string> channelPositions(std::uint32_t nodeId) const;
    bool isLinked(std::uint32_t outputNode, std::uint32_t inputNode) const;
    // Whether the node is an application's output stream, the only kind the
    // tap takes, rather than a virtual device's own (see the rule in the
    // definition).
    bool isApplicationStream(const GraphNode& node) const;
    // The nodes audio leaving `from` reaches: along links, and through each
    // virtual device from the nodes that take its audio in to those that
    // give it out (the nodes of one node.link-group).
    std::set<std::uint32_t> reachableFrom(const std::vector<std::uint32_t>& from) const;
    // The virtual device a node belongs to, as people know it: the
    // description of the sink or source of its link group; empty for none.
    std::string virtualDeviceOf(const GraphNode& node) const;
    // Whether a client has an application output stream that is running.
    bool clientRunsOutput(std::uint32_t clientId) const;
    // Whether a running application stream is linked into the node.
    bool runningStreamInto(std::uint32_t nodeId) const;
    ProcessFacts processFacts(const GraphClient& client) const;
};

// How a stream meant to play into a tap is linked: whether into the tap,
// and the session manager's links from it to devices. Those are left over
// from its own moves when a device vanished or the target changed quickly
// (it does not always remove the old link); hand-made links are not its.
struct StreamLinks {
    bool intoTap = false;
    std::vector<std::uint32_t> toDevices; // link global ids
};
StreamLinks streamLinks(const Graph& graph, std::uint32_t stream, std::uint32_t tapNode);

// Who chose where a stream plays, going by its "target.object" in the
// default metadata: nobody (absent, or -1 for "follow the default"), we (one
// of our taps, by name or serial, or a tap of an earlier run), or the user,
// with a mixer (pavucontrol, pactl move-sink-input) or by hand. (A serial is
// never read as an id: the server numbers both from one counter each, so a
// device's serial may be our tap's id.)
enum class TargetChooser { nobody, us, user };
TargetChooser targetChooser(const Graph& graph, const std::optional<std::string>& target);
// The default metadata's routing keys for one stream.
struct StreamTargets {
    std::optional<std::string> object; // target.object: ours, a mixer's, another manager's
    // target.node: the device the session manager restores for the
    // stream's application, or -1 once the stream follows the default.
    std::optional<std::string> node;
};

// Where a stream plays unless the tap takes it.
struct StreamDestination {
    bool followsDefault = true;        // bound for the default output: ours to level
    const GraphNode* device = nullptr; // otherwise where it plays, if the graph has it
};

// Read in the session manager's order: the metadata's target.object, its
// target.node, then the stream's own target; -1 follows the default. The
// stream's own target still counts behind ours. A move
// anyone but us made stands wherever it leads (a mixer, another audio
// manager moving every stream into its own sink). A device the stream
// asked for, or the session manager restores for its application, counts
// while it is not the default output: only streams bound for the default
// output are levelled.
StreamDestination streamDestination(const Graph& graph, const GraphNode& stream,
                                    const StreamTargets& targets);

// Whether a target names this very node: by name, or by serial (a
// "target.object") or id (`byId`: a "target.node").
bool targetNames(const std::optional<std::string>& target, const std::string& nodeName,
                 const GraphNode* node, bool byId = false);

// Pairs of (output port, input port) that connect `from`'s ports to `to`'s,
// channel by channel. A single input takes the first output, a single
// output feeds every input; a channel the inputs lack goes to the front
// channel on its side, or to both fronts from the centre (the low-frequency
// effects are left out, as a downmix leaves them).
std::vector<std::pair<std::uint32_t, std::uint32_t>>
channelLinks(const std::vector<const GraphPort*>& from, const std::vector<const GraphPort*>& to);

// The platform's label for a PipeWire channel position; AUXn are discrete
// channels.
std::uint32_t channelLabelOf(const std::string& position);

} // namespace quellora::pipewire
