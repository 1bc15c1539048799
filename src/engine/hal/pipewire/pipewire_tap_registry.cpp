#include "engine/hal/pipewire/pipewire_tap_registry.h"

#include <algorithm>
#include <cerrno>

namespace quellora::pipewire {

TapRegistry::TapRegistry(GraphView& view, Session& session)
    : view_(view)
    , session_(session) {}

TapRegistry::Made TapRegistry::make(const TapDescription& description) {
    if (!session_.connected()) {
        return {kAudioHardwareNotRunningError};
    }
    std::vector<std::string> positions;
    if (const auto status = channelsFor(description, positions); status != kAudioHardwareNoError) {
        return {status};
    }
    if (const auto lingering = adoptableTap(positions)) {
        return adopt(*lingering, description);
    }
    return makeSink(description, positions);
}

// Mixed as for the named device's output, or in stereo.
OSStatus TapRegistry::channelsFor(const TapDescription& description,
                                  std::vector<std::string>& positions) const {
    positions = {"FL", "FR"};
    if (description.stereo) {
        return kAudioHardwareNoError;
    }
    const auto& graph = view_.graph();
    const auto* device = description.deviceUID ? graph.nodeNamed(*description.deviceUID) : nullptr;
    if (!device || !device->isSink() || description.stream != 0) {
        return kAudioHardwareBadDeviceError;
    }
    positions = graph.channelPositions(device->globalId);
    if (positions.empty() || positions.size() > Aggregate::maxChannels) {
        return kAudioHardwareIllegalOperationError;
    }
    for (std::size_t c = 0; c < positions.size(); ++c) {
        if (positions[c].empty()) {
            positions[c] = "AUX" + std::to_string(c);
        }
    }
    return kAudioHardwareNoError;
}

// The tap a new generation of these channels may take over.
std::optional<AudioObjectID>
TapRegistry::adoptableTap(const std::vector<std::string>& positions) const {
    for (const auto& [id, tap] : view_.taps) {
        if (tap->retired && tap->adoptable && tap->node && session_.connected() &&
            tap->positions == positions) {
            return id;
        }
    }
    return std::nullopt;
}

// The applications stay where they are: in the tap.
TapRegistry::Made TapRegistry::adopt(AudioObjectID lingering, const TapDescription& description) {
    auto tap = std::move(view_.taps.extract(lingering).mapped());
    tap->retired = false;
    tap->adopted = true;
    tap->description = description;
    tap->sampleRate = view_.graph().clock.effectiveRate();
    tap->objectId = session_.nextObjectId();
    const auto id = tap->objectId;
    view_.taps[id] = std::move(tap);
    return {kAudioHardwareNoError, id, true};
}

TapRegistry::Made TapRegistry::makeSink(const TapDescription& description,
                                        const std::vector<std::string>& positions) {
    auto tap = std::make_unique<Tap>();
    tap->description = description;
    tap->positions = positions;
    tap->nodeName = tapNamePrefix + description.uuid.uppercaseString().substr(0, 8);
    tap->sampleRate = view_.graph().clock.effectiveRate();
    std::string positionList = "[";
    for (const auto& position : positions) {
        positionList += " " + position;
    }
    positionList += " ]";
    auto* props = pw_properties_new(
        "factory.name", "support.null-audio-sink", PW_KEY_NODE_NAME, tap->nodeName.c_str(),
        PW_KEY_NODE_DESCRIPTION, description.name.c_str(), PW_KEY_MEDIA_CLASS, "Audio/Sink",
        "audio.position", positionList.c_str(), PW_KEY_OBJECT_LINGER, "false", PW_KEY_NODE_VIRTUAL,
        "true", "priority.session", "-1000", "priority.driver", "0", "monitor.channel-volumes",
        "false", nullptr);
    pw_properties_setf(props, PW_KEY_AUDIO_CHANNELS, "%zu", positions.size());
    errno = 0;
    tap->node = static_cast<pw_proxy*>(pw_core_create_object(
        session_.core(), "adapter", PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, &props->dict, 0));
    const int createError = errno != 0 ? -errno : -EIO;
    pw_properties_free(props);
    if (!tap->node) {
        return {pipeWireFailure("pw_core_create_object(adapter)", createError)};
    }
    // Ready once a monitor port per channel exists, for the aggregate to link to.
    const auto& name = tap->nodeName;
    const auto ready = [&] {
        const auto* node = view_.graph().nodeNamed(name);
        return node && view_.graph().portsOf(node->globalId, true, true).size() >= positions.size();
    };
    if (!session_.waitFor(ready, std::chrono::milliseconds(2000))) {
        return {pipeWireFailure(session_.connected() ? "waiting for the tap's ports"
                                                     : "the connection while making the tap",
                                session_.connected() ? -ETIMEDOUT : -EPIPE)};
    }
    tap->objectId = session_.nextObjectId();
    const auto id = tap->objectId;
    view_.taps[id] = std::move(tap);
    return {kAudioHardwareNoError, id};
}

void TapRegistry::describe(Tap& tap, const TapDescription& description) {
    const auto uuid = tap.description.uuid;
    tap.description = description;
    tap.description.uuid = uuid;
}

bool TapRegistry::mayLinger(const Tap& tap) const {
    return tap.node && tap.adoptable && session_.connected();
}

void TapRegistry::retire(Tap& tap) {
    tap.retired = true;
}

std::vector<AudioObjectID> TapRegistry::retiredTaps() const {
    std::vector<AudioObjectID> retired;
    for (const auto& [id, tap] : view_.taps) {
        if (tap->retired) {
            retired.push_back(id);
        }
    }
    return retired;
}

void TapRegistry::end(AudioObjectID tapId, const std::vector<std::uint32_t>& streams) {
    const auto* tapNode = view_.graph().nodeNamed(view_.taps.at(tapId)->nodeName);
    const auto tapNodeId = tapNode ? tapNode->globalId : 0;
    // The session manager relinks the streams; a sink removed under links it
    // is still making leaves them unlinked until something else makes it
    // look again.
    session_.roundtrip();
    const auto handedOver = [&] {
        return std::none_of(streams.begin(), streams.end(), [&](std::uint32_t stream) {
            return view_.graph().isLinked(stream, tapNodeId);
        });
    };
    if (!session_.waitFor(handedOver, std::chrono::milliseconds(500))) {
        log_.error("Streams still play into the tap after 500 ms; removing it anyway");
    }
    view_.taps.erase(tapId);
}

LookAgain TapRegistry::settleAdoptions() {
    const auto* sink = view_.graph().defaultSink();
    LookAgain next;
    for (auto& [id, tap] : view_.taps) {
        if (tap->adopted && sink) {
            tap->adopted = !view_.readByAggregate(id, *tap, sink);
            next = sooner(next, view_.awaitTapAudio(id));
        }
    }
    return next;
}

bool TapRegistry::sessionManagerReturned() {
    log_.notice("The session manager started anew; rebuilding the pipeline for it");
    for (auto& [id, tap] : view_.taps) {
        tap->adoptable = false;
    }
    // A lingering tap is one of those it waits for, and once it goes
    // WirePlumber 0.4 looks again only when the next node comes: it must be
    // gone before the new generation's tap appears.
    return std::any_of(view_.taps.begin(), view_.taps.end(),
                       [](const auto& entry) { return entry.second->retired; });
}

void TapRegistry::serverLost() {
    std::erase_if(view_.taps, [](const auto& entry) { return entry.second->retired; });
    for (auto& [id, tap] : view_.taps) {
        tap->node = nullptr; // gone with the connection
    }
}

} // namespace quellora::pipewire
