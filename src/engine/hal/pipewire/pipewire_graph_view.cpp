#include "engine/hal/pipewire/pipewire_graph_view.h"

#include <algorithm>
#include <cstring>
#include <variant>

namespace quellora::pipewire {
namespace {

// How often a started aggregate is looked at until the tap's audio reaches it.
constexpr auto tapAudioPoll = std::chrono::milliseconds(10);

// A variable-length record read whole (a channel layout).
struct Record {
    std::vector<std::byte> bytes;
};

// A property value as the platform lays it out.
using PropertyValue =
    std::variant<std::uint32_t, std::int32_t, double, std::vector<std::uint32_t>,
                 std::pair<double, double>, std::string, AudioStreamBasicDescription, Record>;

// The value of a property, or the status that says why there is none.
using Property = std::variant<PropertyValue, OSStatus>;

// A sink's channel positions as the platform's channel layout.
Record channelLayoutRecord(const std::vector<std::string>& positions) {
    const auto count = static_cast<std::uint32_t>(positions.size());
    Record record{std::vector<std::byte>(AudioChannelLayout::sizeFor(count))};
    const std::uint32_t header[3] = {AudioChannelLayout::useChannelDescriptions, 0, count};
    std::memcpy(record.bytes.data(), header, sizeof header);
    for (std::uint32_t c = 0; c < count; ++c) {
        AudioChannelDescription description;
        description.mChannelLabel = channelLabelOf(positions[c]);
        std::memcpy(record.bytes.data() + AudioChannelLayout::sizeFor(c), &description,
                    sizeof description);
    }
    return record;
}

std::uint32_t byteSize(const PropertyValue& value) {
    return std::visit(
        [](const auto& v) -> std::uint32_t {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::vector<std::uint32_t>>) {
                return static_cast<std::uint32_t>(v.size() * sizeof(std::uint32_t));
            } else if constexpr (std::is_same_v<T, Record>) {
                return static_cast<std::uint32_t>(v.bytes.size());
            } else if constexpr (std::is_same_v<T, std::string>) {
                return 0;
            } else {
                return sizeof v;
            }
        },
        value);
}

const void* bytesOf(const PropertyValue& value) {
    return std::visit(
        [](const auto& v) -> const void* {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::vector<std::uint32_t>>) {
                return v.data();
            } else if constexpr (std::is_same_v<T, Record>) {
                return v.bytes.data();
            } else if constexpr (std::is_same_v<T, std::string>) {
                return v.data();
            } else {
                return &v;
            }
        },
        value);
}

// The name of the device a client's application streams play on instead
// of the default output, when all of them do and agree on it.
std::string chosenOutputOf(const GraphView& view, const GraphClient& client) {
    const auto& graph = view.graph();
    std::optional<std::string> chosen;
    for (const auto& [id, node] : graph.nodes) {
        if (node.clientId != client.globalId || !graph.isApplicationStream(node)) {
            continue;
        }
        const auto* device = streamDestination(graph, node, view.targetsOf(id)).device;
        const auto name = !device                       ? std::string()
                          : device->description.empty() ? device->name
                                                        : device->description;
        if ((chosen && *chosen != name) || name.empty()) {
            return {};
        }
        chosen = name;
    }
    return chosen.value_or("");
}

// What the process's application is; strings empty where it says nothing.
Property processProperty(const ProcessFacts& facts, const AudioObjectPropertyAddress& address) {
    if (address.mScope != AudioScope::global) {
        return kAudioHardwareUnknownPropertyError;
    }
    switch (address.mSelector) {
    case AudioProperty::processBundleID:
        return PropertyValue(facts.bundleID);
    case AudioProperty::objectName:
        return PropertyValue(facts.name);
    case AudioProperty::processBinary:
        return PropertyValue(facts.binary);
    case AudioProperty::processIconName:
        return PropertyValue(facts.iconName);
    case AudioProperty::processDirectOutputReason:
        return PropertyValue(static_cast<std::uint32_t>(facts.reason));
    case AudioProperty::processHasOutputStream:
        return PropertyValue(std::uint32_t{facts.hasOutputStream ? 1u : 0u});
    default:
        return kAudioHardwareUnknownPropertyError;
    }
}

Property deviceProperty(const GraphView& view, AudioObjectID object,
                        const AudioObjectPropertyAddress& address) {
    const auto& graph = view.graph();
    const auto* aggregate =
        view.aggregates.contains(object) ? view.aggregates.at(object).get() : nullptr;
    const auto* node = aggregate ? nullptr : graph.nodeWithObjectId(object);
    const auto selector = address.mSelector;
    const auto scope = address.mScope;
    const bool global = scope == AudioScope::global;
    const auto& clock = graph.clock;
    if (global && selector == AudioProperty::deviceUID) {
        return PropertyValue(aggregate ? aggregate->description().uid : node->name);
    }
    if (global && selector == AudioProperty::objectName) {
        return PropertyValue(aggregate ? aggregate->description().name : node->description);
    }
    if (global && selector == AudioProperty::deviceIsAlive) {
        const bool alive = aggregate ? view.aggregateAlive(*aggregate) : true;
        return PropertyValue(std::uint32_t{alive ? 1u : 0u});
    }
    if (global && selector == AudioProperty::nominalSampleRate) {
        return PropertyValue(static_cast<double>(clock.effectiveRate()));
    }
    if ((global || scope == AudioScope::input) && selector == AudioProperty::bufferFrameSize) {
        // What was asked of the aggregate, else of the device, else the graph's quantum.
        const auto requested = view.requestedFrames.find(object);
        const auto frames = aggregate && aggregate->requestedFrames() ? aggregate->requestedFrames()
                            : requested != view.requestedFrames.end() ? requested->second
                                                                      : clock.effectiveQuantum();
        return PropertyValue(std::uint32_t{frames});
    }
    if (global && selector == AudioProperty::bufferFrameSizeRange) {
        return PropertyValue(std::pair<double, double>{clock.minQuantum, clock.maxQuantum});
    }
    if (global && selector == AudioProperty::transportType) {
        if (aggregate) {
            return PropertyValue(std::uint32_t{AudioTransport::aggregate});
        }
        const auto device = graph.devices.find(node->deviceId);
        return PropertyValue(
            transportCode(*node, device == graph.devices.end() ? nullptr : &device->second));
    }
    if (scope == AudioScope::input && selector == AudioProperty::streams) {
        // An aggregate's one input stream is its tap; output devices take none.
        return PropertyValue(std::vector<std::uint32_t>(aggregate ? 1 : 0, 1));
    }
    if (scope == AudioScope::output && selector == AudioProperty::latency) {
        return PropertyValue(std::uint32_t{aggregate ? aggregate->reportedLatency() : 0u});
    }
    if (scope == AudioScope::output && selector == AudioProperty::safetyOffset) {
        return PropertyValue(std::uint32_t{0});
    }
    if (scope == AudioScope::output && selector == AudioProperty::preferredChannelLayout && node) {
        return PropertyValue(channelLayoutRecord(graph.channelPositions(node->globalId)));
    }
    if (global && selector == AudioProperty::deviceIsRunningSomewhere && node) {
        return PropertyValue(std::uint32_t{node->running ? 1u : 0u});
    }
    return kAudioHardwareUnknownPropertyError;
}

Property tapProperty(const GraphView& view, const Tap& tap,
                     const AudioObjectPropertyAddress& address) {
    if (address.mScope != AudioScope::global) {
        return kAudioHardwareUnknownPropertyError;
    }
    if (address.mSelector == AudioProperty::tapHasRunningSource) {
        const auto receiving = view.tapReceiving(tap);
        if (!receiving) {
            return kAudioHardwareNotRunningError;
        }
        return PropertyValue(std::uint32_t{*receiving ? 1u : 0u});
    }
    if (address.mSelector == AudioProperty::tapFormat) {
        const auto channels = static_cast<std::uint32_t>(tap.positions.size());
        AudioStreamBasicDescription format;
        format.mSampleRate = tap.sampleRate;
        format.mFormatID = fourCharCode("lpcm");
        format.mFormatFlags = 1 | 8; // float, packed
        format.mBytesPerPacket = format.mBytesPerFrame = channels * 4;
        format.mFramesPerPacket = 1;
        format.mChannelsPerFrame = channels;
        format.mBitsPerChannel = 32;
        return PropertyValue(format);
    }
    return kAudioHardwareUnknownPropertyError;
}

Property property(const GraphView& view, AudioObjectID object,
                  const AudioObjectPropertyAddress& address) {
    const auto& graph = view.graph();
    const auto selector = address.mSelector;
    const bool global = address.mScope == AudioScope::global;
    switch (view.kindOf(object)) {
    case GraphView::Kind::none:
        return kAudioHardwareBadObjectError;
    case GraphView::Kind::system:
        if (global && selector == AudioProperty::defaultOutputDevice) {
            const auto* sink = graph.defaultSink();
            return PropertyValue(std::uint32_t{sink ? sink->objectId : 0});
        }
        if (global && selector == AudioProperty::unlevelledAudioReason) {
            return PropertyValue(view.unlevelledReason());
        }
        if (global && selector == AudioProperty::processObjectList) {
            std::vector<std::uint32_t> processes;
            for (const auto& [id, client] : graph.clients) {
                processes.push_back(client.objectId);
            }
            return PropertyValue(processes);
        }
        return kAudioHardwareUnknownPropertyError;
    case GraphView::Kind::process: {
        const auto client =
            std::find_if(graph.clients.begin(), graph.clients.end(),
                         [&](const auto& entry) { return entry.second.objectId == object; });
        if (global && selector == AudioProperty::processPID) {
            return PropertyValue(std::int32_t{client->second.pid});
        }
        if (global && selector == AudioProperty::processIsRunningOutput) {
            return PropertyValue(std::uint32_t{graph.clientRunsOutput(client->first) ? 1u : 0u});
        }
        if (global && selector == AudioProperty::processOutputDeviceName) {
            return PropertyValue(chosenOutputOf(view, client->second));
        }
        return processProperty(graph.processFacts(client->second), address);
    }
    case GraphView::Kind::tap:
        return tapProperty(view, *view.taps.at(object), address);
    case GraphView::Kind::aggregate:
    case GraphView::Kind::device:
        return deviceProperty(view, object, address);
    }
    return kAudioHardwareUnknownPropertyError;
}

// A property read as bytes; text is read only as a string.
Property bytesProperty(const GraphView& view, AudioObjectID object,
                       const AudioObjectPropertyAddress& address) {
    auto value = property(view, object, address);
    const auto* found = std::get_if<PropertyValue>(&value);
    if (found && std::holds_alternative<std::string>(*found)) {
        return kAudioHardwareIllegalOperationError;
    }
    return value;
}

} // namespace

StreamTargets GraphView::targetsOf(std::uint32_t stream) const {
    return {session_.defaultMetadata(stream, routingKey),
            session_.defaultMetadata(stream, restoredTargetKey)};
}

Tap* GraphView::liveTap(AudioObjectID tap) {
    const auto found = taps.find(tap);
    return found == taps.end() || found->second->retired ? nullptr : found->second.get();
}

GraphView::Kind GraphView::kindOf(AudioObjectID object) const {
    if (object == kAudioObjectSystemObject) {
        return Kind::system;
    }
    if (aggregates.contains(object)) {
        return Kind::aggregate;
    }
    // A retired tap lingers for the next generation, but is gone for the engine.
    if (const auto tap = taps.find(object); tap != taps.end() && !tap->second->retired) {
        return Kind::tap;
    }
    if (const auto* node = graph().nodeWithObjectId(object); node && node->isSink()) {
        return Kind::device;
    }
    for (const auto& [id, client] : graph().clients) {
        if (client.objectId == object) {
            return Kind::process;
        }
    }
    return Kind::none;
}

Aggregate* GraphView::aggregateHosting(AudioObjectID device) {
    const auto* node = graph().nodeWithObjectId(device);
    if (!node) {
        return nullptr;
    }
    for (auto& [id, aggregate] : aggregates) {
        if (aggregate && aggregate->description().mainSubDevice == node->name) {
            return aggregate.get();
        }
    }
    return nullptr;
}

std::optional<bool> GraphView::tapReceiving(const Tap& tap) const {
    const auto* node = tap.node ? graph().nodeNamed(tap.nodeName) : nullptr;
    return node ? std::optional(graph().runningStreamInto(node->globalId)) : std::nullopt;
}

bool GraphView::aggregateAlive(const Aggregate& aggregate) const {
    const auto tap = taps.find(aggregate.tapId());
    return tap != taps.end() && aggregate.ready(graph(), tap->second->nodeName);
}

bool GraphView::readByAggregate(AudioObjectID tapId, const Tap& tap,
                                const GraphNode* device) const {
    const auto& graph = this->graph();
    const auto* tapNode = graph.nodeNamed(tap.nodeName);
    return tapNode && std::any_of(aggregates.begin(), aggregates.end(), [&](const auto& entry) {
               const auto& aggregate = entry.second;
               const auto* self = aggregate && aggregate->tapId() == tapId
                                      ? graph.nodeNamed(aggregate->nodeName())
                                      : nullptr;
               return self && aggregate->anyStarted() && self->running &&
                      aggregate->receivesTap() &&
                      graph.isLinked(tapNode->globalId, self->globalId) &&
                      (!device || (aggregate->description().mainSubDevice == device->name &&
                                   graph.isLinked(self->globalId, device->globalId)));
           });
}

LookAgain GraphView::awaitTapAudio(AudioObjectID tapId) const {
    const bool awaited = std::any_of(aggregates.begin(), aggregates.end(), [&](const auto& entry) {
        const auto& aggregate = entry.second;
        return aggregate && aggregate->tapId() == tapId && aggregate->anyStarted() &&
               !aggregate->receivesTap();
    });
    return awaited ? LookAgain(tapAudioPoll) : std::nullopt;
}

std::string GraphView::unlevelledReason() const {
    for (const auto& [id, tap] : taps) {
        if (!tap->retired && !tap->unlevelledReason.empty()) {
            return tap->unlevelledReason;
        }
    }
    return {};
}

GraphView::Snapshot GraphView::snapshot() const {
    const auto& graph = this->graph();
    Snapshot now;
    now.sessionManagerPresent =
        std::any_of(graph.clients.begin(), graph.clients.end(),
                    [](const auto& entry) { return entry.second.sessionManager; });
    const auto* sink = graph.defaultSink();
    now.defaultOutput = sink ? sink->objectId : 0;
    now.rate = graph.clock.effectiveRate();
    for (const auto& [id, client] : graph.clients) {
        now.processes[client.objectId] = graph.processFacts(client);
        now.processOutputs[client.objectId] = chosenOutputOf(*this, client);
        now.processesRunning[client.objectId] = graph.clientRunsOutput(id);
    }
    for (const auto& [id, node] : graph.nodes) {
        if (node.isSink()) {
            now.devicesRunning[node.objectId] = node.running;
            now.deviceLayouts[node.objectId] = graph.channelPositions(id);
        }
    }
    now.unlevelledReason = unlevelledReason();
    for (const auto& [id, tap] : taps) {
        const auto receiving = tap->retired ? std::nullopt : tapReceiving(*tap);
        if (receiving) {
            now.tapsReceiving[id] = *receiving;
        }
    }
    for (const auto& [id, aggregate] : aggregates) {
        if (aggregate) {
            now.aggregatesAlive[id] = aggregateAlive(*aggregate);
        }
    }
    return now;
}

GraphView::Changes GraphView::changes() {
    const auto now = snapshot();
    Changes changes;
    // A session manager that starts while our nodes exist is told of it as
    // a change of the default output (see TapRegistry).
    changes.sessionManagerReturned =
        now.sessionManagerPresent && !last_.sessionManagerPresent &&
        std::any_of(taps.begin(), taps.end(), [](const auto& entry) { return entry.second->node; });
    auto& found = changes.properties;
    if (now.defaultOutput != last_.defaultOutput || changes.sessionManagerReturned) {
        found.emplace_back(kAudioObjectSystemObject, AudioProperty::defaultOutputDevice);
    }
    if (now.processes != last_.processes || now.processesRunning != last_.processesRunning ||
        now.processOutputs != last_.processOutputs) {
        found.emplace_back(kAudioObjectSystemObject, AudioProperty::processObjectList);
    }
    if (now.unlevelledReason != last_.unlevelledReason) {
        found.emplace_back(kAudioObjectSystemObject, AudioProperty::unlevelledAudioReason);
    }
    const bool rateChanged = last_.rate != 0 && now.rate != last_.rate;
    for (const auto& [device, running] : now.devicesRunning) {
        const auto before = last_.devicesRunning.find(device);
        if (before != last_.devicesRunning.end() && before->second != running) {
            found.emplace_back(device, AudioProperty::deviceIsRunningSomewhere);
        }
        if (rateChanged) {
            found.emplace_back(device, AudioProperty::nominalSampleRate);
        }
    }
    for (const auto& [device, running] : last_.devicesRunning) {
        if (!now.devicesRunning.contains(device)) {
            found.emplace_back(device, AudioProperty::deviceIsAlive);
        }
    }
    // A profile switch that keeps the node gives it other ports.
    for (const auto& [device, layout] : now.deviceLayouts) {
        const auto before = last_.deviceLayouts.find(device);
        if (before != last_.deviceLayouts.end() && before->second != layout) {
            found.emplace_back(device, AudioProperty::preferredChannelLayout);
        }
    }
    for (const auto& [tap, receiving] : now.tapsReceiving) {
        const auto before = last_.tapsReceiving.find(tap);
        if (before == last_.tapsReceiving.end() ? receiving : before->second != receiving) {
            found.emplace_back(tap, AudioProperty::tapHasRunningSource);
        }
    }
    for (const auto& [aggregate, alive] : now.aggregatesAlive) {
        const auto before = last_.aggregatesAlive.find(aggregate);
        if (before == last_.aggregatesAlive.end() || before->second != alive) {
            found.emplace_back(aggregate, AudioProperty::deviceIsAlive);
        }
        if (rateChanged) {
            found.emplace_back(aggregate, AudioProperty::nominalSampleRate);
        }
    }
    last_ = now;
    return changes;
}

std::vector<AudioObjectID> GraphView::serverLost() {
    std::vector<AudioObjectID> devices;
    for (const auto& [device, running] : last_.devicesRunning) {
        devices.push_back(device);
    }
    last_ = Snapshot{};
    return devices;
}

bool GraphView::hasProperty(AudioObjectID object, const AudioObjectPropertyAddress& address) const {
    return std::holds_alternative<PropertyValue>(property(*this, object, address));
}

OSStatus GraphView::getPropertyDataSize(AudioObjectID object,
                                        const AudioObjectPropertyAddress& address,
                                        std::uint32_t& size) const {
    const auto value = bytesProperty(*this, object, address);
    if (const auto* status = std::get_if<OSStatus>(&value)) {
        return *status;
    }
    size = byteSize(std::get<PropertyValue>(value));
    return kAudioHardwareNoError;
}

OSStatus GraphView::getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                    std::uint32_t& size, void* data) const {
    const auto value = bytesProperty(*this, object, address);
    if (const auto* status = std::get_if<OSStatus>(&value)) {
        return *status;
    }
    const auto& found = std::get<PropertyValue>(value);
    const auto available = byteSize(found);
    const bool isList = std::holds_alternative<std::vector<std::uint32_t>>(found);
    if (!isList && size < available) {
        return kAudioHardwareBadPropertySizeError;
    }
    size = std::min(size, available);
    std::memcpy(data, bytesOf(found), size);
    return kAudioHardwareNoError;
}

OSStatus GraphView::getPropertyString(AudioObjectID object,
                                      const AudioObjectPropertyAddress& address,
                                      std::optional<std::string>& value) const {
    const auto result = property(*this, object, address);
    if (const auto* status = std::get_if<OSStatus>(&result)) {
        return *status;
    }
    const auto* text = std::get_if<std::string>(&std::get<PropertyValue>(result));
    if (!text) {
        return kAudioHardwareIllegalOperationError;
    }
    value = *text;
    return kAudioHardwareNoError;
}

} // namespace quellora::pipewire
