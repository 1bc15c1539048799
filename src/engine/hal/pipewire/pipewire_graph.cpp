#include "engine/hal/pipewire/pipewire_graph.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

namespace quellora::pipewire {
namespace {

std::optional<std::uint32_t> parseNumber(const std::optional<std::string>& text) {
    if (!text) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    const auto* end = text->data() + text->size();
    const auto [stop, error] = std::from_chars(text->data(), end, value);
    return error == std::errc{} && stop == end ? std::optional(value) : std::nullopt;
}

std::string valueOf(const Properties& properties, const char* key) {
    const auto found = properties.find(key);
    return found == properties.end() ? std::string() : found->second;
}

// The audio server's own processes: `pipewire` runs the daemon and every
// module process started as `pipewire -c` (a filter-chain's, say), and
// pipewire-pulse makes its modules' nodes on connections of its own under
// its own binary (its PulseAudio clients carry theirs); the session
// managers make nodes of their own too. No application's stream comes from
// them.
bool isServerProcess(const GraphClient& client) {
    static const std::set<std::string> binaries{"pipewire", "pipewire-pulse", "wireplumber",
                                                "pipewire-media-session"};
    return client.sessionManager || binaries.contains(client.application.binary);
}

bool takesAudioIn(const GraphNode& node) {
    return node.mediaClass.rfind("Audio/Sink", 0) == 0 || node.mediaClass == "Audio/Duplex" ||
           node.mediaClass == "Stream/Input/Audio";
}

bool givesAudioOut(const GraphNode& node) {
    return node.mediaClass.rfind("Audio/Source", 0) == 0 || node.mediaClass == "Audio/Duplex" ||
           node.mediaClass == "Stream/Output/Audio";
}

} // namespace

NodeOrigin nodeOrigin(const Properties& properties) {
    NodeOrigin origin;
    origin.linkGroup = valueOf(properties, "node.link-group");
    origin.madeByPulseModule = properties.contains("pulse.module.id");
    origin.target = valueOf(properties, "target.object");
    if (origin.target.empty()) {
        origin.target = valueOf(properties, "node.target");
        origin.targetIsId = !origin.target.empty();
    }
    return origin;
}

bool ClockSettings::apply(const std::string& key, const std::optional<std::string>& value) {
    const auto number = parseNumber(value);
    const struct {
        const char* key;
        std::uint32_t ClockSettings::*field;
        std::uint32_t fallback;
    } fields[] = {
        {"clock.rate", &ClockSettings::rate, 48000},
        {"clock.force-rate", &ClockSettings::forceRate, 0},
        {"clock.quantum", &ClockSettings::quantum, 1024},
        {"clock.force-quantum", &ClockSettings::forceQuantum, 0},
        {"clock.min-quantum", &ClockSettings::minQuantum, 32},
        {"clock.max-quantum", &ClockSettings::maxQuantum, 2048},
    };
    for (const auto& field : fields) {
        if (key == field.key) {
            this->*field.field = number.value_or(field.fallback);
            return true;
        }
    }
    return false;
}

std::optional<std::string> defaultNodeName(const std::string& json) {
    const auto document = nlohmann::json::parse(json, nullptr, false);
    if (document.is_object() && document.contains("name") && document["name"].is_string()) {
        return document["name"].get<std::string>();
    }
    return std::nullopt;
}

std::uint32_t transportCode(const GraphNode& node, const GraphDevice* device) {
    const std::string api = device ? device->api : "";
    const std::string bus = device ? device->bus : "";
    const std::string formFactor = device ? device->formFactor : "";
    if (api == "bluez5" || bus == "bluetooth") {
        return AudioTransport::bluetooth;
    }
    if (formFactor == "hdmi" || node.name.find("hdmi") != std::string::npos) {
        return AudioTransport::hdmi;
    }
    if (bus == "usb") {
        return AudioTransport::usb;
    }
    if (bus == "pci") {
        return AudioTransport::pci;
    }
    if (bus == "firewire") {
        return AudioTransport::fireWire;
    }
    if (!device) {
        return AudioTransport::virtualDevice; // null sinks, network and filter sinks
    }
    return AudioTransport::unknown;
}

std::string applicationIdentity(const std::string& binary, const std::string& name) {
    return name.empty() ? binary : name;
}

DirectOutputReason directOutputReason(const std::string& mediaRole, const std::string& api) {
    std::string role = mediaRole;
    std::transform(role.begin(), role.end(), role.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (role == "communication" || role == "phone") {
        return DirectOutputReason::callAudio;
    }
    return api == "jack" ? DirectOutputReason::proAudio : DirectOutputReason::none;
}

ProcessFacts Graph::processFacts(const GraphClient& client) const {
    const auto& own = client.application;
    ProcessFacts facts;
    facts.known = own.known;
    facts.binary = own.binary;
    std::string streamName;
    facts.reason = directOutputReason({}, own.api);
    for (const auto& [id, node] : nodes) {
        if (node.clientId != client.globalId || !isApplicationStream(node)) {
            continue;
        }
        const auto& stream = node.application;
        facts.hasOutputStream = true;
        facts.known = facts.known && stream.known;
        facts.binary = facts.binary.empty() ? stream.binary : facts.binary;
        streamName = streamName.empty() ? stream.name : streamName;
        facts.iconName = facts.iconName.empty() ? stream.iconName : facts.iconName;
        if (facts.reason == DirectOutputReason::none) {
            facts.reason = directOutputReason(stream.mediaRole, stream.api);
        }
    }
    // A stream may name itself more precisely than its client (pw-play -P).
    facts.name = streamName.empty() ? own.name : streamName;
    facts.iconName = facts.iconName.empty() ? own.iconName : facts.iconName;
    facts.bundleID = applicationIdentity(facts.binary, facts.name);
    return facts;
}

std::string ownRoleOf(const std::string& nodeName) {
    if (nodeName.rfind(tapNamePrefix, 0) == 0) {
        return ownTapRole;
    }
    return nodeName.rfind(aggregateNamePrefix, 0) == 0 ? ownAggregateRole : "";
}

const GraphNode* Graph::nodeNamed(const std::string& name) const {
    for (const auto& [id, node] : nodes) {
        if (node.name == name) {
            return &node;
        }
    }
    return nullptr;
}

const GraphNode* Graph::nodeWithObjectId(AudioObjectID objectId) const {
    for (const auto& [id, node] : nodes) {
        if (node.objectId == objectId) {
            return &node;
        }
    }
    return nullptr;
}

const GraphNode* Graph::nodeTargeted(const std::string& target, bool byId) const {
    if (const auto number = parseNumber(target)) {
        if (byId) {
            const auto found = nodes.find(*number);
            return found == nodes.end() ? nullptr : &found->second;
        }
        for (const auto& [id, node] : nodes) {
            if (node.serial == target) {
                return &node;
            }
        }
        return nullptr;
    }
    return nodeNamed(target);
}

// An application's stream is an output stream that belongs to no virtual
// device (no node.link-group), was not made by a pipewire-pulse module for
// itself (pulse.module.id) and does not come from one of the server's own
// processes (a module's or the session manager's). Streams that capture a
// monitor are input streams, which the tap never takes in the first place.
bool Graph::isApplicationStream(const GraphNode& node) const {
    if (!node.isOutputStream() || !node.origin.linkGroup.empty() || node.origin.madeByPulseModule) {
        return false;
    }
    const auto client = clients.find(node.clientId);
    return client == clients.end() || !isServerProcess(client->second);
}

std::set<std::uint32_t> Graph::reachableFrom(const std::vector<std::uint32_t>& from) const {
    std::multimap<std::uint32_t, std::uint32_t> next;
    for (const auto& [id, link] : links) {
        next.emplace(link.outputNode, link.inputNode);
    }
    for (const auto& [inId, in] : nodes) {
        for (const auto& [outId, out] : nodes) {
            if (inId != outId && !in.origin.linkGroup.empty() &&
                in.origin.linkGroup == out.origin.linkGroup && takesAudioIn(in) &&
                givesAudioOut(out)) {
                next.emplace(inId, outId);
            }
        }
    }
    std::set<std::uint32_t> reached(from.begin(), from.end());
    std::vector<std::uint32_t> pending(from.begin(), from.end());
    while (!pending.empty()) {
        const auto node = pending.back();
        pending.pop_back();
        const auto [first, last] = next.equal_range(node);
        for (auto edge = first; edge != last; ++edge) {
            if (reached.insert(edge->second).second) {
                pending.push_back(edge->second);
            }
        }
    }
    return reached;
}

std::string Graph::virtualDeviceOf(const GraphNode& node) const {
    if (node.origin.linkGroup.empty()) {
        return {};
    }
    // Its sink before its source: an echo canceller is known by what it plays.
    for (const char* kind : {"Audio/Sink", "Audio/Source"}) {
        for (const auto& [id, member] : nodes) {
            if (member.origin.linkGroup == node.origin.linkGroup &&
                member.mediaClass.rfind(kind, 0) == 0) {
                return member.description.empty() ? member.name : member.description;
            }
        }
    }
    return {};
}

const GraphNode* Graph::defaultSink() const {
    for (const auto& candidate : {defaultSinkName, configuredSinkName, userDefaultSinkName}) {
        if (!candidate) {
            continue;
        }
        const auto* node = nodeNamed(*candidate);
        if (node && node->isSink()) {
            return node;
        }
    }
    const GraphNode* preferred = nullptr;
    for (const auto& [id, node] : nodes) {
        if (node.isSink() && (!preferred || node.priority > preferred->priority)) {
            preferred = &node;
        }
    }
    return defaultSinkName ? preferred : nullptr;
}

std::vector<const GraphPort*> Graph::portsOf(std::uint32_t nodeId, bool output,
                                             bool monitor) const {
    std::vector<const GraphPort*> found;
    for (const auto& [id, port] : ports) {
        if (port.nodeId == nodeId && port.output == output && port.monitor == monitor) {
            found.push_back(&port);
        }
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const GraphPort* a, const GraphPort* b) { return a->index < b->index; });
    return found;
}

std::vector<std::string> Graph::channelPositions(std::uint32_t nodeId) const {
    std::vector<std::string> positions;
    for (const auto* port : portsOf(nodeId, false, false)) {
        positions.push_back(port->channel);
    }
    return positions;
}

bool Graph::isLinked(std::uint32_t outputNode, std::uint32_t inputNode) const {
    return std::any_of(links.begin(), links.end(), [&](const auto& entry) {
        return entry.second.outputNode == outputNode && entry.second.inputNode == inputNode;
    });
}

bool Graph::clientRunsOutput(std::uint32_t clientId) const {
    return std::any_of(nodes.begin(), nodes.end(), [&](const auto& entry) {
        return entry.second.clientId == clientId && isApplicationStream(entry.second) &&
               entry.second.running;
    });
}

bool Graph::runningStreamInto(std::uint32_t nodeId) const {
    return std::any_of(links.begin(), links.end(), [&](const auto& entry) {
        if (entry.second.inputNode != nodeId) {
            return false;
        }
        const auto source = nodes.find(entry.second.outputNode);
        return source != nodes.end() && source->second.isOutputStream() && source->second.running;
    });
}

StreamLinks streamLinks(const Graph& graph, std::uint32_t stream, std::uint32_t tapNode) {
    StreamLinks found;
    for (const auto& [id, link] : graph.links) {
        if (link.outputNode != stream) {
            continue;
        }
        const auto maker = graph.clients.find(link.clientId);
        const bool bySessionManager = maker != graph.clients.end() && maker->second.sessionManager;
        if (link.inputNode == tapNode) {
            found.intoTap = true;
            continue;
        }
        const auto target = graph.nodes.find(link.inputNode);
        if (target != graph.nodes.end() && target->second.isSink() && bySessionManager) {
            found.toDevices.push_back(id);
        }
    }
    return found;
}

TargetChooser targetChooser(const Graph& graph, const std::optional<std::string>& target) {
    if (!target || target->empty() || *target == "-1") {
        return TargetChooser::nobody;
    }
    if (target->rfind(tapNamePrefix, 0) == 0) {
        return TargetChooser::us;
    }
    const bool namesOurTap =
        std::any_of(graph.nodes.begin(), graph.nodes.end(), [&](const auto& entry) {
            const auto& node = entry.second;
            return node.ownRole == ownTapRole && node.serial == *target;
        });
    return namesOurTap ? TargetChooser::us : TargetChooser::user;
}

StreamDestination streamDestination(const Graph& graph, const GraphNode& stream,
                                    const StreamTargets& targets) {
    const auto* defaultSink = graph.defaultSink();
    const auto asked = [&](const std::string& target, bool byId) {
        const auto* device = target == "-1" ? nullptr : graph.nodeTargeted(target, byId);
        return device && device->isSink() && device != defaultSink
                   ? StreamDestination{false, device}
                   : StreamDestination{};
    };
    switch (targetChooser(graph, targets.object)) {
    case TargetChooser::user:
        return {false, graph.nodeTargeted(*targets.object, false)};
    case TargetChooser::nobody:
        if (targets.object) {
            return {}; // -1: the default, whatever else is said
        }
        if (targets.node) {
            return asked(*targets.node, true);
        }
        break;
    case TargetChooser::us:
        // Ours stands in front of the metadata's target.node, as for the
        // session manager; a mixer that moves the stream writes that first
        // and its target.object right after.
        break;
    }
    return stream.origin.target.empty() ? StreamDestination{}
                                        : asked(stream.origin.target, stream.origin.targetIsId);
}

namespace {

// Which front channel a position falls back to when a sink lacks it: "FL",
// "FR", both ("") or none (the low-frequency effects).
std::optional<std::string> frontFor(const std::string& position) {
    static const std::set<std::string> left{"FL",  "SL",  "RL",   "FLC", "TFL", "TRL", "RLC",
                                            "FLW", "FLH", "TFLC", "TSL", "BLC", "LLFE"};
    static const std::set<std::string> right{"FR",  "SR",  "RR",   "FRC", "TFR", "TRR", "RRC",
                                             "FRW", "FRH", "TFRC", "TSR", "BRC", "RLFE"};
    if (position == "LFE" || position == "LFE2") {
        return std::nullopt;
    }
    if (left.contains(position)) {
        return "FL";
    }
    return right.contains(position) ? "FR" : "";
}

} // namespace

bool targetNames(const std::optional<std::string>& target, const std::string& nodeName,
                 const GraphNode* node, bool byId) {
    const auto number = node ? (byId ? std::to_string(node->globalId) : node->serial) : "";
    return target && (*target == nodeName || (!number.empty() && *target == number));
}

std::vector<std::pair<std::uint32_t, std::uint32_t>>
channelLinks(const std::vector<const GraphPort*>& from, const std::vector<const GraphPort*>& to) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> links;
    if (from.empty() || to.empty()) {
        return links;
    }
    if (to.size() == 1) {
        links.emplace_back(from.front()->globalId, to.front()->globalId);
        return links;
    }
    const auto hasChannel = [&](const std::string& channel) {
        return std::any_of(to.begin(), to.end(),
                           [&](const GraphPort* input) { return input->channel == channel; });
    };
    for (const auto* output : from) {
        const bool matched = from.size() == 1 || hasChannel(output->channel);
        const auto front = matched ? std::optional<std::string>() : frontFor(output->channel);
        for (const auto* input : to) {
            const bool fallback =
                front && (input->channel == *front ||
                          (front->empty() && (input->channel == "FL" || input->channel == "FR")));
            if ((matched && (output->channel == input->channel || from.size() == 1)) || fallback) {
                links.emplace_back(output->globalId, input->globalId);
            }
        }
    }
    return links;
}

std::uint32_t channelLabelOf(const std::string& position) {
    namespace Label = AudioChannelLabel;
    static const std::map<std::string, std::uint32_t> labels{
        {"MONO", Label::mono},
        {"FL", Label::left},
        {"FR", Label::right},
        {"FC", Label::center},
        {"LFE", Label::lfeScreen},
        {"SL", Label::leftSurround},
        {"SR", Label::rightSurround},
        {"FLC", Label::leftCenter},
        {"FRC", Label::rightCenter},
        {"RC", Label::centerSurround},
        {"RL", Label::rearSurroundLeft},
        {"RR", Label::rearSurroundRight},
        {"TC", Label::topCenterSurround},
        {"TFL", Label::verticalHeightLeft},
        {"TFC", Label::verticalHeightCenter},
        {"TFR", Label::verticalHeightRight},
        {"TRL", Label::topBackLeft},
        {"TRC", Label::topBackCenter},
        {"TRR", Label::topBackRight},
        {"FLW", Label::leftWide},
        {"FRW", Label::rightWide},
        {"LFE2", Label::lfe2},
    };
    if (const auto found = labels.find(position); found != labels.end()) {
        return found->second;
    }
    if (position.rfind("AUX", 0) == 0) {
        if (const auto number = parseNumber(position.substr(3))) {
            return Label::discrete0 + *number;
        }
    }
    return Label::unknown;
}

} // namespace quellora::pipewire
