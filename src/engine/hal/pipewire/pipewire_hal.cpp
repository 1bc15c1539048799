#include "engine/hal/pipewire/pipewire_hal.h"

#include "base/lifetime.h"
#include "base/log.h"
#include "engine/hal/pipewire/pipewire_objects.h"
#include "engine/hal/pipewire/pipewire_session.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <utility>
#include <variant>
#include <vector>

namespace quellora {

using namespace pipewire;

namespace {

constexpr auto reconnectInterval = seconds(1.0);
// How long a destroyed tap waits for the next generation to take it over.
constexpr auto tapLinger = seconds(1.5);
constexpr auto overloadPollInterval = seconds(1.0);
// How long a bypass stays on an output before it follows the default again.
constexpr auto bypassSettle = std::chrono::milliseconds(100);
// How often a started aggregate is looked at until the tap's audio reaches it.
constexpr auto tapAudioPoll = std::chrono::milliseconds(10);
// How long the session manager may take over a move before what it left
// behind counts as a mistake: its moves take milliseconds, but on a busy
// machine it may take hundreds of them to take up a new stream, and asking
// it again meanwhile only moves the stream once more.
constexpr auto misroutingGrace = seconds(1.0);
constexpr const char* routingKey = "target.object";
// Where the session manager restores a stream's application to, or -1 for
// one that follows the default output.
constexpr const char* restoredTargetKey = "target.node";

// An object and the property of it that changed.
using PropertyChange = std::pair<AudioObjectID, FourCharCode>;

// A variable-length record read whole (a channel layout).
struct Record {
    std::vector<std::byte> bytes;
};

// A property value as the platform lays it out.
using PropertyValue =
    std::variant<std::uint32_t, std::int32_t, double, std::vector<std::uint32_t>,
                 std::pair<double, double>, std::string, AudioStreamBasicDescription, Record>;

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

} // namespace

struct PipeWireHal::Impl {
    struct Listener {
        AudioObjectPropertyListenerID id;
        AudioObjectID object;
        FourCharCode selector;
        AudioObjectPropertyListenerBlock block;
    };

    // What the session manager got wrong about the streams routed into our
    // taps: its leftover links from them to devices, and streams it has not
    // moved into the tap.
    struct Misrouting {
        std::set<std::uint32_t> strayLinks;
        std::set<std::pair<AudioObjectID, std::uint32_t>> outsideTap; // tap, stream

        bool empty() const { return strayLinks.empty() && outsideTap.empty(); }
    };

    // What listeners are told about, as last seen.
    struct Snapshot {
        AudioObjectID defaultOutput = 0;
        std::uint32_t rate = 0;
        std::map<AudioObjectID, bool> devicesRunning; // every device, with its running state
        std::map<AudioObjectID, std::vector<std::string>> deviceLayouts;
        std::map<AudioObjectID, bool> aggregatesAlive;
        std::map<AudioObjectID, bool> tapsReceiving; // whether a running stream plays into it
        std::map<AudioObjectID, ProcessFacts> processes;
        // Where each plays instead of the default output.
        std::map<AudioObjectID, std::string> processOutputs;
        std::map<AudioObjectID, bool> processesRunning; // whether one of its streams runs
        bool sessionManagerPresent = false;
        std::string unlevelledReason;
    };

    Dispatcher& mainQueue;
    Logger log{"AudioEngine"};
    Lifetime lifetime;
    std::unique_ptr<Session> session;
    std::vector<Listener> listeners;
    AudioObjectPropertyListenerID nextListenerId = 1;
    AudioDeviceIOProcID nextProcId = 1;
    std::function<void(bool)> connectionHandler;
    std::map<AudioObjectID, std::unique_ptr<Tap>> taps;
    std::map<AudioObjectID, std::unique_ptr<Aggregate>> aggregates;
    std::map<AudioObjectID, std::uint32_t> requestedFrames; // buffer sizes asked for output devices
    Snapshot last;                                          // loop thread, locked
    std::shared_ptr<WorkItem> reconnect;
    std::unique_ptr<RepeatingTimer> overloadPoll;
    std::map<AudioObjectID, std::int64_t> overloadsSeen;
    Misrouting suspects;                  // main thread, locked
    std::shared_ptr<WorkItem> sweep;      // main thread
    std::shared_ptr<WorkItem> retirement; // main thread: the end of lingering taps
    bool sweepPending = false;            // locked
    bool connected = false;
    bool connecting = false; // written with the session locked

    explicit Impl(Dispatcher& queue)
        : mainQueue(queue) {
        session =
            std::make_unique<Session>([this] { postChanges(graphChanged()); },
                                      [this](std::uint64_t connection) {
                                          post([this, connection] { serverLost(connection); });
                                      });
    }

    // Runs `work` on the main queue unless the adapter is gone by then.
    void post(std::function<void()> work) { mainQueue.post(lifetime.guard(std::move(work))); }

    // ---- connection --------------------------------------------------------

    void setConnecting(bool value) {
        const Session::Lock lock(*session);
        connecting = value;
    }

    void tryConnect() {
        reconnect.reset();
        // The graph fills in while connecting; listeners hear the sum once.
        // (Not locked across connect(): its round trips wait on the loop.)
        setConnecting(true);
        const bool connectedNow = session->connect();
        setConnecting(false);
        if (!connectedNow) {
            reconnect =
                mainQueue.postAfter(reconnectInterval, lifetime.guard([this] { tryConnect(); }));
            return;
        }
        connected = true;
        log.notice("Connected to the PipeWire server");
        std::vector<PropertyChange> changes;
        {
            const Session::Lock lock(*session);
            changes = graphChanged();
        }
        // Told now, not posted: a listener added after this turn (the engine
        // starting on connection) must not hear of a change from before it.
        for (const auto& [object, selector] : changes) {
            deliver(object, selector);
        }
        if (connectionHandler) {
            connectionHandler(true);
        }
    }

    // Everything known of the old server goes: what comes back is learnt
    // from the new registry, as on a first connection.
    void serverLost(std::uint64_t connection) {
        if (!connected) {
            return; // the failed attempt cleaned up after itself; a retry is due
        }
        std::vector<AudioObjectID> gone;
        {
            const Session::Lock lock(*session);
            if (connection != session->connectionNumber()) {
                return; // news of a connection that was replaced already
            }
            log.error("The PipeWire server went away; waiting for it to come back");
            connected = false;
            for (auto& [id, aggregate] : aggregates) {
                aggregate.reset();
            }
            std::erase_if(taps, [](const auto& entry) { return entry.second->retired; });
            for (auto& [id, tap] : taps) {
                tap->bypass.clear();
                tap->bypassSink = 0;
                tap->node = nullptr; // gone with the connection
                tap->routed.clear();
                tap->looping.clear();
                tap->brokenLinks.clear();
                tap->unlevelledReason.clear();
            }
            session->disconnect();
            overloadsSeen.clear();
            suspects = {};
            sweepPending = false;
            for (const auto& [device, running] : last.devicesRunning) {
                gone.push_back(device);
            }
            last = Snapshot{};
        }
        deliver(kAudioObjectSystemObject, AudioProperty::defaultOutputDevice);
        deliver(kAudioObjectSystemObject, AudioProperty::unlevelledAudioReason);
        for (const auto device : gone) {
            deliver(device, AudioProperty::deviceIsAlive);
        }
        if (connectionHandler) {
            connectionHandler(false);
        }
        tryConnect();
    }

    // ---- graph changes (PipeWire's thread, locked) --------------------------

    // What changed since the last look, for the listeners.
    std::vector<PropertyChange> graphChanged() {
        if (connecting) {
            return {};
        }
        auto& graph = session->graph();
        startRoutingIntoLiveTaps(graph);
        routeStreams(graph);
        maintainBypasses(graph);
        if (!sweepPending && !misrouting(graph).empty()) {
            sweepPending = true;
            post([this] { watchMisrouting(); });
        }
        for (auto& [id, aggregate] : aggregates) {
            if (aggregate) {
                const auto tap = taps.find(aggregate->tapId());
                if (tap != taps.end()) {
                    aggregate->linkIfNeeded(graph, tap->second->nodeName);
                }
            }
        }
        const auto now = snapshot(graph);
        std::vector<PropertyChange> changes;
        if (now.defaultOutput != last.defaultOutput || sessionManagerReturned(now)) {
            changes.emplace_back(kAudioObjectSystemObject, AudioProperty::defaultOutputDevice);
        }
        if (now.processes != last.processes || now.processesRunning != last.processesRunning ||
            now.processOutputs != last.processOutputs) {
            changes.emplace_back(kAudioObjectSystemObject, AudioProperty::processObjectList);
        }
        if (now.unlevelledReason != last.unlevelledReason) {
            changes.emplace_back(kAudioObjectSystemObject, AudioProperty::unlevelledAudioReason);
        }
        for (const auto& [device, running] : now.devicesRunning) {
            const auto before = last.devicesRunning.find(device);
            if (before != last.devicesRunning.end() && before->second != running) {
                changes.emplace_back(device, AudioProperty::deviceIsRunningSomewhere);
            }
            if (last.rate != 0 && now.rate != last.rate) {
                changes.emplace_back(device, AudioProperty::nominalSampleRate);
            }
        }
        for (const auto& [device, running] : last.devicesRunning) {
            if (!now.devicesRunning.contains(device)) {
                changes.emplace_back(device, AudioProperty::deviceIsAlive);
            }
        }
        // A profile switch that keeps the node gives it other ports.
        for (const auto& [device, layout] : now.deviceLayouts) {
            const auto before = last.deviceLayouts.find(device);
            if (before != last.deviceLayouts.end() && before->second != layout) {
                changes.emplace_back(device, AudioProperty::preferredChannelLayout);
            }
        }
        for (const auto& [tap, receiving] : now.tapsReceiving) {
            const auto before = last.tapsReceiving.find(tap);
            if (before == last.tapsReceiving.end() ? receiving : before->second != receiving) {
                changes.emplace_back(tap, AudioProperty::tapHasRunningSource);
            }
        }
        for (const auto& [aggregate, alive] : now.aggregatesAlive) {
            const auto before = last.aggregatesAlive.find(aggregate);
            if (before == last.aggregatesAlive.end() || before->second != alive) {
                changes.emplace_back(aggregate, AudioProperty::deviceIsAlive);
            }
            if (last.rate != 0 && now.rate != last.rate) {
                changes.emplace_back(aggregate, AudioProperty::nominalSampleRate);
            }
        }
        last = now;
        return changes;
    }

    void postChanges(const std::vector<PropertyChange>& changes) {
        for (const auto& [object, selector] : changes) {
            post([this, object = object, selector = selector] { deliver(object, selector); });
        }
    }

    // A session manager that starts while our nodes exist never takes up
    // those that are in use (WirePlumber 0.4 waits for them, and links
    // nothing new meanwhile). Told as a change of the default output, it
    // makes the engine build anew, on the output the newcomer chose.
    bool sessionManagerReturned(const Snapshot& now) {
        const bool returned = now.sessionManagerPresent && !last.sessionManagerPresent &&
                              std::any_of(taps.begin(), taps.end(),
                                          [](const auto& entry) { return entry.second->node; });
        if (returned) {
            log.notice("The session manager started anew; rebuilding the pipeline for it");
            for (auto& [id, tap] : taps) {
                tap->adoptable = false;
            }
            // A lingering tap is one of those it waits for, and once it goes
            // WirePlumber 0.4 looks again only when the next node comes: it
            // must be gone before the new generation's tap appears.
            if (std::any_of(taps.begin(), taps.end(),
                            [](const auto& entry) { return entry.second->retired; })) {
                post([this] { endRetiredTaps(); });
            }
        }
        return returned;
    }

    Snapshot snapshot(const Graph& graph) const {
        Snapshot now;
        now.sessionManagerPresent =
            std::any_of(graph.clients.begin(), graph.clients.end(),
                        [](const auto& entry) { return entry.second.sessionManager; });
        const auto* sink = graph.defaultSink();
        now.defaultOutput = sink ? sink->objectId : 0;
        now.rate = graph.clock.effectiveRate();
        for (const auto& [id, client] : graph.clients) {
            now.processes[client.objectId] = graph.processFacts(client);
            now.processOutputs[client.objectId] = chosenOutputOf(graph, client);
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
            const auto receiving = tap->retired ? std::nullopt : tapReceiving(graph, *tap);
            if (receiving) {
                now.tapsReceiving[id] = *receiving;
            }
        }
        for (const auto& [id, aggregate] : aggregates) {
            if (aggregate) {
                now.aggregatesAlive[id] = aggregateAlive(graph, *aggregate);
            }
        }
        return now;
    }

    // Why some audio passes unlevelled, as the first tap that holds
    // streams out of a loop says.
    std::string unlevelledReason() const {
        for (const auto& [id, tap] : taps) {
            if (!tap->retired && !tap->unlevelledReason.empty()) {
                return tap->unlevelledReason;
            }
        }
        return {};
    }

    // The name of the device a client's application streams play on instead
    // of the default output, when all of them do and agree on it.
    std::string chosenOutputOf(const Graph& graph, const GraphClient& client) const {
        std::optional<std::string> chosen;
        for (const auto& [id, node] : graph.nodes) {
            if (node.clientId != client.globalId || !graph.isApplicationStream(node)) {
                continue;
            }
            const auto destination =
                streamDestination(graph, node,
                                  {session->defaultMetadata(id, routingKey),
                                   session->defaultMetadata(id, restoredTargetKey)});
            const auto* device = destination.device;
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

    // Whether a running application stream plays into the tap; nothing
    // while its node is not there to tell.
    static std::optional<bool> tapReceiving(const Graph& graph, const Tap& tap) {
        const auto* node = tap.node ? graph.nodeNamed(tap.nodeName) : nullptr;
        return node ? std::optional(graph.runningStreamInto(node->globalId)) : std::nullopt;
    }

    bool aggregateAlive(const Graph& graph, const Aggregate& aggregate) const {
        const auto tap = taps.find(aggregate.tapId());
        return tap != taps.end() && aggregate.ready(graph, tap->second->nodeName);
    }

    // Whether an aggregate runs, reading the tap (and playing on `device`, if
    // given): linked, and its last cycles had the tap's audio. (A link that
    // exists may not carry audio yet; what the tap gets meanwhile is lost.)
    bool readByAggregate(const Graph& graph, AudioObjectID tapId, const Tap& tap,
                         const GraphNode* device = nullptr) const {
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

    // A tap takes the applications once its aggregate runs, linked to it.
    void startRoutingIntoLiveTaps(const Graph& graph) {
        for (auto& [id, tap] : taps) {
            if (!tap->routing && !tap->retired) {
                tap->routing = readByAggregate(graph, id, *tap);
                awaitTapAudio(id, *tap);
            }
        }
    }

    // Locked. Whether the tap's audio reaching a started, linked aggregate is
    // news no graph change brings: looked for again shortly while awaited.
    void awaitTapAudio(AudioObjectID tapId, Tap& tap) {
        const bool awaited =
            std::any_of(aggregates.begin(), aggregates.end(), [&](const auto& entry) {
                const auto& aggregate = entry.second;
                return aggregate && aggregate->tapId() == tapId && aggregate->anyStarted() &&
                       !aggregate->receivesTap();
            });
        if (awaited) {
            lookAgainAfter(tap, tapAudioPoll);
        }
    }

    // Whether an aggregate of the tap runs its IO onto another output than `device`.
    bool playedElsewhere(AudioObjectID tapId, const GraphNode& device) const {
        return std::any_of(aggregates.begin(), aggregates.end(), [&](const auto& entry) {
            const auto& aggregate = entry.second;
            return aggregate && aggregate->tapId() == tapId && aggregate->anyStarted() &&
                   aggregate->description().mainSubDevice != device.name;
        });
    }

    // Locked. A tap that holds applications while no aggregate plays them
    // on the default output (it lingers, the next generation has not started
    // yet, the output changed or vanished) plays them there meanwhile. Made
    // as soon as the output changes, before the engine tears the old
    // generation down, it leaves no gap. (Not while IO is suspended: what
    // plays then resumes it, and fades in.)
    void maintainBypasses(const Graph& graph) {
        const auto* sink = graph.defaultSink();
        for (auto& [id, tap] : taps) {
            const auto* tapNode = tap->node ? graph.nodeNamed(tap->nodeName) : nullptr;
            if (tap->adopted && sink) {
                tap->adopted = !readByAggregate(graph, id, *tap, sink);
                awaitTapAudio(id, *tap);
            }
            const bool needed = tapNode && sink && !tap->routed.empty() &&
                                (tap->retired || tap->adopted || playedElsewhere(id, *sink));
            if (!needed) {
                tap->bypass.clear();
                tap->bypassSink = 0;
            } else if (tap->bypass.empty() || tap->bypassSink != sink->globalId) {
                if (!tap->bypass.empty() && graph.nodes.contains(tap->bypassSink) &&
                    deferBypassMove(*tap)) {
                    continue;
                }
                // The new links before the old ones go, so that the tap
                // never drives itself in between.
                tap->bypass = linkPorts(*session, graph,
                                        channelLinks(graph.portsOf(tapNode->globalId, true, true),
                                                     graph.portsOf(sink->globalId, false, false)));
                tap->bypassSink = sink->globalId;
                tap->bypassMovedAt = std::chrono::steady_clock::now();
            }
        }
    }

    // Locked. Whether a bypass that still plays on an output that exists
    // moved too recently to move again: each move gives the tap's players
    // another driver, and players whose driver changes many times in a
    // short while may fall silent for good (pw-play does). It moves once
    // the default output has held for `bypassSettle`; the old output plays
    // until then.
    bool deferBypassMove(Tap& tap) {
        const auto since = std::chrono::steady_clock::now() - tap.bypassMovedAt;
        if (since >= bypassSettle) {
            return false;
        }
        lookAgainAfter(tap, bypassSettle - since);
        return true;
    }

    // Locked. Goes over the graph again after `delay`, for news of the tap
    // that comes without a change of the graph, unless a look is due by then.
    void lookAgainAfter(Tap& tap, std::chrono::steady_clock::duration delay) {
        const auto at = std::chrono::steady_clock::now() + delay;
        if (tap.lookAgainAt <= at) {
            return;
        }
        tap.lookAgainAt = at;
        mainQueue.postAfter(delay, lifetime.guard([this] {
            const Session::Lock lock(*session);
            const auto now = std::chrono::steady_clock::now();
            for (auto& entry : taps) {
                if (entry.second->lookAgainAt <= now) {
                    entry.second->lookAgainAt = std::chrono::steady_clock::time_point::max();
                }
            }
            postChanges(graphChanged());
        }));
    }

    // Main thread, locked. Retires the tap: it lingers, in case the next
    // generation takes it over.
    void retire(AudioObjectID tapId) {
        auto& tap = *taps.at(tapId);
        tap.retired = true;
        last.tapsReceiving.erase(tapId);
        maintainBypasses(session->graph());
        // The engine stops the IO next: the bypass should be there by then.
        if (tap.bypassSink != 0) {
            const auto* tapNode = session->graph().nodeNamed(tap.nodeName);
            const auto tapNodeId = tapNode ? tapNode->globalId : 0;
            session->waitFor([&] { return session->graph().isLinked(tapNodeId, tap.bypassSink); },
                             std::chrono::milliseconds(200));
            session->roundtrip(std::chrono::milliseconds(200));
        }
        retirement = mainQueue.postAfter(tapLinger, lifetime.guard([this] { endRetiredTaps(); }));
    }

    // Main thread. The taps no generation took over go for good.
    void endRetiredTaps() {
        const Session::Lock lock(*session);
        std::vector<AudioObjectID> retired;
        for (const auto& [id, tap] : taps) {
            if (tap->retired) {
                retired.push_back(id);
            }
        }
        for (const auto id : retired) {
            removeTap(id);
        }
    }

    // Main thread, locked. The tap that a new generation of these channels
    // may take over.
    std::optional<AudioObjectID> adoptableTap(const std::vector<std::string>& positions) const {
        for (const auto& [id, tap] : taps) {
            if (tap->retired && tap->adoptable && tap->node && session->connected() &&
                tap->positions == positions) {
                return id;
            }
        }
        return std::nullopt;
    }

    // Main thread, locked. Streams go back to the default output before the
    // sink goes, so that nothing plays into the void in between: the session
    // manager relinks them, and a sink removed under links it is still making
    // leaves the streams unlinked until something else makes it look again.
    void removeTap(AudioObjectID tapId) {
        const auto found = taps.find(tapId);
        auto& tap = *found->second;
        const auto* tapNode = session->graph().nodeNamed(tap.nodeName);
        const auto tapNodeId = tapNode ? tapNode->globalId : 0;
        const std::vector<std::uint32_t> streams(tap.routed.begin(), tap.routed.end());
        unrouteStreams(tap);
        session->roundtrip();
        const auto handedOver = [&] {
            return std::none_of(streams.begin(), streams.end(), [&](std::uint32_t stream) {
                return session->graph().isLinked(stream, tapNodeId);
            });
        };
        if (!session->waitFor(handedOver, std::chrono::milliseconds(500))) {
            log.error("Streams still play into the tap after 500 ms; removing it anyway");
        }
        last.tapsReceiving.erase(tapId);
        taps.erase(found);
    }

    // Every other application's output stream bound for the default output
    // goes into the tap while it exists, whatever happened since it was
    // first routed (a rebuild, the session manager restarting and forgetting
    // its targets, a device vanishing), unless someone sent it elsewhere:
    // that choice stands. Streams of excluded processes, streams that now
    // play on a device of their own, and streams that would feed the tap its
    // own output go back where they belong. A virtual device's own streams
    // are never moved, except out of a loop.
    void routeStreams(const Graph& graph) {
        for (auto& [id, tap] : taps) {
            // A retired tap keeps what it holds until the next tap, of
            // another layout, takes it over.
            if (!tap->node || !tap->routing || tap->retired) {
                continue;
            }
            const auto gone = [&](std::uint32_t stream) {
                return !graph.nodes.contains(stream);
            };
            std::erase_if(tap->routed, gone);
            std::erase_if(tap->nudged, gone);
            std::erase_if(tap->looping, gone);
            std::erase_if(tap->brokenLinks,
                          [&](std::uint32_t link) { return !graph.links.contains(link); });
            const auto* tapNode = graph.nodeNamed(tap->nodeName);
            const auto feedsBack = tapNode
                                       ? graph.reachableFrom(outputsOf(graph, id, *tap, *tapNode))
                                       : std::set<std::uint32_t>{};
            std::erase_if(tap->looping,
                          [&](std::uint32_t stream) { return !feedsBack.contains(stream); });
            for (const auto& [nodeId, node] : graph.nodes) {
                if (!node.isOutputStream() || !tapNode) {
                    continue;
                }
                const StreamTargets targets{session->defaultMetadata(nodeId, routingKey),
                                            session->defaultMetadata(nodeId, restoredTargetKey)};
                const bool inTap = tap->routed.contains(nodeId) || tap->looping.contains(nodeId) ||
                                   graph.isLinked(nodeId, tapNode->globalId);
                if (inTap && feedsBack.contains(nodeId)) {
                    breakLoop(graph, *tap, node, targets);
                    continue;
                }
                const auto taken = takes(graph, *tap, node, targets);
                if (!taken) {
                    continue; // not yet known what it is: it plays where it is meanwhile
                }
                if (!*taken) {
                    // Back where it belongs; a virtual device's own stream
                    // someone sent into the tap stays there.
                    tap->routed.erase(nodeId);
                    if (graph.isApplicationStream(node) &&
                        targetsTap(graph, *tap, targets.object)) {
                        session->setDefaultMetadata(nodeId, routingKey, std::nullopt);
                    }
                    continue;
                }
                if (feedsBack.contains(nodeId)) {
                    breakLoop(graph, *tap, node, targets);
                    continue;
                }
                if (targets.object != tap->nodeName &&
                    !session->setDefaultMetadata(nodeId, routingKey, tap->nodeName)) {
                    continue; // no session manager to ask right now; again when it is back
                }
                tap->routed.insert(nodeId);
            }
            tap->unlevelledReason = loopReason(graph, *tap);
        }
    }

    // Where the tap's audio goes: its own links out, the output its
    // aggregates play on, its bypass, and the default output any next
    // generation plays on.
    std::vector<std::uint32_t> outputsOf(const Graph& graph, AudioObjectID tapId, const Tap& tap,
                                         const GraphNode& tapNode) const {
        std::vector<std::uint32_t> outputs{tapNode.globalId};
        for (const auto& [aggregateId, aggregate] : aggregates) {
            if (aggregate && aggregate->tapId() == tapId) {
                if (const auto* device = graph.nodeNamed(aggregate->description().mainSubDevice)) {
                    outputs.push_back(device->globalId);
                }
            }
        }
        if (tap.bypassSink != 0) {
            outputs.push_back(tap.bypassSink);
        }
        if (const auto* sink = graph.defaultSink()) {
            outputs.push_back(sink->globalId);
        }
        return outputs;
    }

    // Locked. A stream that is (or was to be) in the tap while the tap's own
    // output reaches it: it leaves the tap, by whoever it was sent there, and
    // plays where it would without us.
    void breakLoop(const Graph& graph, Tap& tap, const GraphNode& stream,
                   const StreamTargets& targets) {
        const auto streamId = stream.globalId;
        tap.routed.erase(streamId);
        if (tap.looping.insert(streamId).second) {
            log.notice("Stream %{public}u (%{public}s) would feed Quellora its own output; it "
                       "plays unlevelled",
                       streamId, stream.name);
        }
        // A mixer names the tap in both keys.
        if (targetsTap(graph, tap, targets.object)) {
            session->setDefaultMetadata(streamId, routingKey, std::nullopt);
        }
        if (targetsTap(graph, tap, targets.node, true)) {
            session->setDefaultMetadata(streamId, restoredTargetKey, std::nullopt);
        }
        // Links made by hand stay until someone removes them; the session
        // manager's follow the target.
        const auto* tapNode = graph.nodeNamed(tap.nodeName);
        for (const auto& [linkId, link] : graph.links) {
            const auto maker = graph.clients.find(link.clientId);
            const bool bySessionManager =
                maker != graph.clients.end() && maker->second.sessionManager;
            if (link.outputNode == streamId && tapNode && link.inputNode == tapNode->globalId &&
                !bySessionManager && tap.brokenLinks.insert(linkId).second) {
                session->destroyGlobal(linkId);
            }
        }
    }

    // Why some audio passes the tap unlevelled: the first stream held out of
    // a loop, by the virtual device it belongs to where it has one.
    static std::string loopReason(const Graph& graph, const Tap& tap) {
        for (const auto stream : tap.looping) {
            const auto& node = graph.nodes.at(stream);
            auto name = graph.virtualDeviceOf(node);
            for (const auto& candidate : {node.application.name, node.description, node.name}) {
                name = name.empty() ? candidate : name;
            }
            return "the output of " + name + " would feed back into Quellora";
        }
        return {};
    }

    // Whether the tap takes the stream, by what it is, where it is bound and
    // what its application is; nothing until the server has told what that
    // is. (A client's process ID says little: PulseAudio clients all have
    // pipewire-pulse's.)
    std::optional<bool> takes(const Graph& graph, const Tap& tap, const GraphNode& stream,
                              const StreamTargets& targets) const {
        if (!stream.application.known) {
            return std::nullopt;
        }
        if (!graph.isApplicationStream(stream) ||
            !streamDestination(graph, stream, targets).followsDefault) {
            return false;
        }
        const auto client = graph.clients.find(stream.clientId);
        if (client == graph.clients.end()) {
            const auto& own = stream.application;
            return tapTakesProcess(tap.description, kAudioObjectUnknown,
                                   applicationIdentity(own.binary, own.name),
                                   directOutputReason(own.mediaRole, own.api));
        }
        if (client->second.pid == ::getpid()) {
            return false;
        }
        const auto facts = graph.processFacts(client->second);
        if (!facts.known) {
            return std::nullopt;
        }
        return tapTakesProcess(tap.description, client->second.objectId, facts.bundleID,
                               facts.reason);
    }

    // The streams follow the default output again, except those the user
    // has sent somewhere else since, and those another tap took over (a
    // newer generation's, or the tray application's from a `quellora run`
    // that stepped aside).
    void unrouteStreams(Tap& tap) {
        for (const auto stream : tap.routed) {
            if (targetsTap(session->graph(), tap, session->defaultMetadata(stream, routingKey))) {
                session->setDefaultMetadata(stream, routingKey, std::nullopt);
            }
        }
        tap.routed.clear();
    }

    // Whether a stream's target names this tap: by name, or by the serial
    // (target.object) or id (target.node, `byId`) a mixer or our own second
    // request used.
    static bool targetsTap(const Graph& graph, const Tap& tap,
                           const std::optional<std::string>& target, bool byId = false) {
        return targetNames(target, tap.nodeName, tap.node ? graph.nodeNamed(tap.nodeName) : nullptr,
                           byId);
    }

    // ---- repairing the session manager's mistakes ------------------------------

    // Locked.
    Misrouting misrouting(const Graph& graph) const {
        Misrouting found;
        for (const auto& [id, tap] : taps) {
            const auto* tapNode = tap->node ? graph.nodeNamed(tap->nodeName) : nullptr;
            if (!tapNode) {
                continue;
            }
            for (const auto stream : tap->routed) {
                if (!targetsTap(graph, *tap, session->defaultMetadata(stream, routingKey))) {
                    continue;
                }
                const auto links = streamLinks(graph, stream, tapNode->globalId);
                if (links.intoTap) {
                    found.strayLinks.insert(links.toDevices.begin(), links.toDevices.end());
                } else if (!tap->nudged.contains(stream)) {
                    found.outsideTap.emplace(id, stream);
                }
            }
        }
        return found;
    }

    // Main thread. Only what is still wrong after the grace period, and was
    // wrong before it, is repaired; repairs continue while anything is wrong.
    void watchMisrouting() {
        const Session::Lock lock(*session);
        suspects = misrouting(session->graph());
        waitBeforeRepair();
    }

    void waitBeforeRepair() {
        if (suspects.empty()) {
            sweepPending = false;
            return;
        }
        sweep =
            mainQueue.postAfter(misroutingGrace, lifetime.guard([this] { repairMisrouting(); }));
    }

    void repairMisrouting() {
        const Session::Lock lock(*session);
        const auto& graph = session->graph();
        const auto now = misrouting(graph);
        for (const auto link : now.strayLinks) {
            if (suspects.strayLinks.contains(link)) {
                // Without it the application plays on the device unprocessed
                // as well as through the tap.
                log.notice("Removing link %{public}u the session manager left from a stream in the "
                           "tap to a device",
                           link);
                session->destroyGlobal(link);
            }
        }
        for (const auto& [tapId, stream] : now.outsideTap) {
            if (suspects.outsideTap.contains({tapId, stream})) {
                bringIntoTap(*taps.at(tapId), stream, graph);
            }
        }
        suspects = misrouting(graph);
        waitBeforeRepair();
    }

    // The session manager is asked once more: a changed value makes it look
    // at the stream anew (the tap's serial names the same target, and
    // routing writes the name back afterwards). Linking the stream ourselves
    // would be worse: WirePlumber never takes up a stream that is in use when
    // it starts, and links nothing new while it waits for it.
    void bringIntoTap(Tap& tap, std::uint32_t stream, const Graph& graph) {
        const auto* tapNode = graph.nodeNamed(tap.nodeName);
        if (!tapNode || !tap.nudged.insert(stream).second) {
            return;
        }
        log.notice("Stream %{public}u is still outside the tap; asking the session manager again",
                   stream);
        session->setDefaultMetadata(stream, routingKey,
                                    tapNode->serial.empty() ? tap.nodeName : tapNode->serial);
    }

    // ---- listeners (main thread) ---------------------------------------------

    void deliver(AudioObjectID object, FourCharCode selector) {
        std::vector<AudioObjectPropertyListenerID> ids;
        for (const auto& listener : listeners) {
            if (listener.object == object && listener.selector == selector) {
                ids.push_back(listener.id);
            }
        }
        for (const auto id : ids) {
            // Looked up again: an earlier block may have removed this one.
            const auto found =
                std::find_if(listeners.begin(), listeners.end(),
                             [&](const Listener& listener) { return listener.id == id; });
            if (found != listeners.end()) {
                const auto block = found->block;
                block();
            }
        }
    }

    void pollOverloads() {
        std::vector<AudioObjectID> overloaded;
        {
            const Session::Lock lock(*session);
            for (const auto& [id, aggregate] : aggregates) {
                if (!aggregate) {
                    continue;
                }
                const auto count = aggregate->overloads();
                auto& seen = overloadsSeen[id];
                for (; seen < count; ++seen) {
                    overloaded.push_back(id);
                }
            }
        }
        for (const auto id : overloaded) {
            deliver(id, AudioProperty::processorOverload);
        }
    }

    void updateOverloadPolling() {
        bool anyActive = false;
        for (const auto& [id, aggregate] : aggregates) {
            anyActive = anyActive || (aggregate && aggregate->anyStarted());
        }
        if (anyActive && !overloadPoll) {
            overloadPoll = mainQueue.startRepeatingTimer(
                overloadPollInterval, overloadPollInterval, seconds(0.5),
                lifetime.guard([this] { pollOverloads(); }));
        } else if (!anyActive && overloadPoll) {
            overloadPoll.reset();
        }
    }

    // ---- properties (main thread, locked) -----------------------------------

    enum class Kind { none, system, device, aggregate, process, tap };

    Kind kindOf(AudioObjectID object) const {
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
        const auto& graph = session->graph();
        if (const auto* node = graph.nodeWithObjectId(object); node && node->isSink()) {
            return Kind::device;
        }
        for (const auto& [id, client] : graph.clients) {
            if (client.objectId == object) {
                return Kind::process;
            }
        }
        return Kind::none;
    }

    std::uint32_t effectiveFrames(AudioObjectID device) const {
        const auto requested = requestedFrames.find(device);
        return requested != requestedFrames.end() ? requested->second
                                                  : session->graph().clock.effectiveQuantum();
    }

    // The value of a property, or the status that says why there is none.
    std::variant<PropertyValue, OSStatus> property(AudioObjectID object,
                                                   const AudioObjectPropertyAddress& address) {
        const auto& graph = session->graph();
        const auto selector = address.mSelector;
        const auto scope = address.mScope;
        const bool global = scope == AudioScope::global;
        switch (kindOf(object)) {
        case Kind::none:
            return kAudioHardwareBadObjectError;
        case Kind::system:
            if (global && selector == AudioProperty::defaultOutputDevice) {
                const auto* sink = graph.defaultSink();
                return PropertyValue(std::uint32_t{sink ? sink->objectId : 0});
            }
            if (global && selector == AudioProperty::unlevelledAudioReason) {
                return PropertyValue(unlevelledReason());
            }
            if (global && selector == AudioProperty::processObjectList) {
                std::vector<std::uint32_t> processes;
                for (const auto& [id, client] : graph.clients) {
                    processes.push_back(client.objectId);
                }
                return PropertyValue(processes);
            }
            break;
        case Kind::process: {
            const auto client =
                std::find_if(graph.clients.begin(), graph.clients.end(),
                             [&](const auto& entry) { return entry.second.objectId == object; });
            if (global && selector == AudioProperty::processPID) {
                return PropertyValue(std::int32_t{client->second.pid});
            }
            if (global && selector == AudioProperty::processIsRunningOutput) {
                return PropertyValue(
                    std::uint32_t{graph.clientRunsOutput(client->first) ? 1u : 0u});
            }
            if (global && selector == AudioProperty::processOutputDeviceName) {
                return PropertyValue(chosenOutputOf(graph, client->second));
            }
            return processProperty(graph.processFacts(client->second), address);
        }
        case Kind::tap:
            if (global && selector == AudioProperty::tapHasRunningSource) {
                const auto receiving = tapReceiving(graph, *taps.at(object));
                if (!receiving) {
                    return kAudioHardwareNotRunningError;
                }
                return PropertyValue(std::uint32_t{*receiving ? 1u : 0u});
            }
            if (global && selector == AudioProperty::tapFormat) {
                const auto& tap = *taps.at(object);
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
            break;
        case Kind::aggregate:
        case Kind::device:
            return deviceProperty(object, address);
        }
        (void)scope;
        return kAudioHardwareUnknownPropertyError;
    }

    // What the process's application is; strings empty where it says nothing.
    static std::variant<PropertyValue, OSStatus>
    processProperty(const ProcessFacts& facts, const AudioObjectPropertyAddress& address) {
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

    std::variant<PropertyValue, OSStatus>
    deviceProperty(AudioObjectID object, const AudioObjectPropertyAddress& address) {
        const auto& graph = session->graph();
        const auto* aggregate = aggregates.contains(object) ? aggregates.at(object).get() : nullptr;
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
            const bool alive = aggregate ? aggregateAlive(graph, *aggregate) : true;
            return PropertyValue(std::uint32_t{alive ? 1u : 0u});
        }
        if (global && selector == AudioProperty::nominalSampleRate) {
            return PropertyValue(static_cast<double>(clock.effectiveRate()));
        }
        if ((global || scope == AudioScope::input) && selector == AudioProperty::bufferFrameSize) {
            const auto frames = aggregate && aggregate->requestedFrames()
                                    ? aggregate->requestedFrames()
                                    : effectiveFrames(object);
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
        if (scope == AudioScope::output && selector == AudioProperty::preferredChannelLayout &&
            node) {
            return PropertyValue(channelLayoutRecord(graph.channelPositions(node->globalId)));
        }
        if (global && selector == AudioProperty::deviceIsRunningSomewhere && node) {
            return PropertyValue(std::uint32_t{node->running ? 1u : 0u});
        }
        return kAudioHardwareUnknownPropertyError;
    }

    Aggregate* aggregateHosting(AudioObjectID device) {
        const auto* node = session->graph().nodeWithObjectId(device);
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

    // Runs `action` on a proc and its aggregate, locked, then starts or
    // stops the overload polling to match.
    template <typename Action>
    OSStatus withProc(AudioObjectID device, AudioDeviceIOProcID procID, Action action) {
        const Session::Lock lock(*session);
        const auto [aggregate, proc] = findProc(device, procID);
        if (!proc) {
            return kAudioHardwareBadObjectError;
        }
        const OSStatus status = action(*aggregate, *proc);
        updateOverloadPolling();
        return status;
    }

    // The aggregate that runs the proc, with the proc.
    std::pair<Aggregate*, IOProc*> findProc(AudioObjectID device, AudioDeviceIOProcID procID) {
        if (aggregates.contains(device)) {
            auto* aggregate = aggregates.at(device).get();
            return {aggregate, aggregate ? aggregate->proc(procID) : nullptr};
        }
        for (auto& [id, aggregate] : aggregates) {
            if (aggregate) {
                if (auto* proc = aggregate->proc(procID)) {
                    return {aggregate.get(), proc};
                }
            }
        }
        return {nullptr, nullptr};
    }
};

PipeWireHal::PipeWireHal(Dispatcher& mainQueue)
    : impl(std::make_unique<Impl>(mainQueue)) {
    impl->tryConnect();
}

PipeWireHal::~PipeWireHal() {
    {
        const Session::Lock lock(*impl->session);
        for (auto& [id, tap] : impl->taps) {
            impl->unrouteStreams(*tap);
        }
        impl->session->roundtrip();
        impl->aggregates.clear();
        impl->taps.clear();
    }
    // The loop thread reports the graph's changes (also those the lines above
    // cause) into the adapter's members until the session stops: it goes
    // first, not after them.
    impl->session.reset();
}

bool PipeWireHal::isConnected() const {
    return impl->connected;
}

void PipeWireHal::setConnectionHandler(std::function<void(bool)> handler) {
    impl->connectionHandler = std::move(handler);
}

std::int32_t PipeWireHal::ownProcessID() {
    return static_cast<std::int32_t>(::getpid());
}

bool PipeWireHal::hasProperty(AudioObjectID object, const AudioObjectPropertyAddress& address) {
    const Session::Lock lock(*impl->session);
    return std::holds_alternative<PropertyValue>(impl->property(object, address));
}

OSStatus PipeWireHal::getPropertyDataSize(AudioObjectID object,
                                          const AudioObjectPropertyAddress& address,
                                          std::uint32_t& size) {
    const Session::Lock lock(*impl->session);
    const auto value = impl->property(object, address);
    if (const auto* status = std::get_if<OSStatus>(&value)) {
        return *status;
    }
    const auto& property = std::get<PropertyValue>(value);
    if (std::holds_alternative<std::string>(property)) {
        return kAudioHardwareIllegalOperationError;
    }
    size = byteSize(property);
    return kAudioHardwareNoError;
}

OSStatus PipeWireHal::getPropertyData(AudioObjectID object,
                                      const AudioObjectPropertyAddress& address,
                                      std::uint32_t& size, void* data) {
    const Session::Lock lock(*impl->session);
    const auto value = impl->property(object, address);
    if (const auto* status = std::get_if<OSStatus>(&value)) {
        return *status;
    }
    const auto& property = std::get<PropertyValue>(value);
    if (std::holds_alternative<std::string>(property)) {
        return kAudioHardwareIllegalOperationError;
    }
    const auto available = byteSize(property);
    const bool isList = std::holds_alternative<std::vector<std::uint32_t>>(property);
    if (!isList && size < available) {
        return kAudioHardwareBadPropertySizeError;
    }
    size = std::min(size, available);
    std::memcpy(data, bytesOf(property), size);
    return kAudioHardwareNoError;
}

OSStatus PipeWireHal::getPropertyString(AudioObjectID object,
                                        const AudioObjectPropertyAddress& address,
                                        std::optional<std::string>& value) {
    const Session::Lock lock(*impl->session);
    const auto result = impl->property(object, address);
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

OSStatus PipeWireHal::setPropertyData(AudioObjectID object,
                                      const AudioObjectPropertyAddress& address, std::uint32_t size,
                                      const void* data) {
    const Session::Lock lock(*impl->session);
    const auto kind = impl->kindOf(object);
    if (kind != Impl::Kind::device && kind != Impl::Kind::aggregate) {
        return kind == Impl::Kind::none ? kAudioHardwareBadObjectError
                                        : kAudioHardwareUnknownPropertyError;
    }
    if (size != sizeof(std::uint32_t)) {
        return kAudioHardwareBadPropertySizeError;
    }
    std::uint32_t value = 0;
    std::memcpy(&value, data, sizeof value);
    const auto& clock = impl->session->graph().clock;
    if (address.mSelector == AudioProperty::bufferFrameSize &&
        address.mScope == AudioScope::global) {
        // Reaches the server as our nodes' requested latency.
        const auto frames = std::clamp(value, clock.minQuantum, clock.maxQuantum);
        impl->requestedFrames[object] = frames;
        auto* aggregate = kind == Impl::Kind::aggregate ? impl->aggregates.at(object).get()
                                                        : impl->aggregateHosting(object);
        if (aggregate) {
            aggregate->requestFrames(frames, clock.effectiveRate());
        }
        return kAudioHardwareNoError;
    }
    if (address.mSelector == AudioProperty::latency && address.mScope == AudioScope::output &&
        kind == Impl::Kind::aggregate) {
        impl->aggregates.at(object)->reportLatency(value);
        return kAudioHardwareNoError;
    }
    return kAudioHardwareUnknownPropertyError;
}

OSStatus PipeWireHal::createProcessTap(const TapDescription& description, AudioObjectID& tapID) {
    const Session::Lock lock(*impl->session);
    auto& session = *impl->session;
    if (!session.connected()) {
        return kAudioHardwareNotRunningError;
    }
    // Mixed as for the named device's output, or in stereo.
    std::vector<std::string> positions{"FL", "FR"};
    if (!description.stereo) {
        const auto* device =
            description.deviceUID ? session.graph().nodeNamed(*description.deviceUID) : nullptr;
        if (!device || !device->isSink() || description.stream != 0) {
            return kAudioHardwareBadDeviceError;
        }
        positions = session.graph().channelPositions(device->globalId);
        if (positions.empty() || positions.size() > Aggregate::maxChannels) {
            return kAudioHardwareIllegalOperationError;
        }
        for (std::size_t c = 0; c < positions.size(); ++c) {
            if (positions[c].empty()) {
                positions[c] = "AUX" + std::to_string(c);
            }
        }
    }
    if (const auto lingering = impl->adoptableTap(positions)) {
        // The applications stay where they are: in the tap.
        auto tap = std::move(impl->taps.extract(*lingering).mapped());
        tap->retired = false;
        tap->adopted = true;
        tap->description = description;
        tap->sampleRate = session.graph().clock.effectiveRate();
        tap->objectId = session.nextObjectId();
        tapID = tap->objectId;
        impl->taps[tapID] = std::move(tap);
        impl->postChanges(impl->graphChanged());
        return kAudioHardwareNoError;
    }
    auto tap = std::make_unique<Tap>();
    tap->description = description;
    tap->positions = positions;
    tap->nodeName = tapNamePrefix + description.uuid.uppercaseString().substr(0, 8);
    tap->sampleRate = session.graph().clock.effectiveRate();
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
        session.core(), "adapter", PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, &props->dict, 0));
    const int createError = errno != 0 ? -errno : -EIO;
    pw_properties_free(props);
    if (!tap->node) {
        return pipeWireFailure("pw_core_create_object(adapter)", createError);
    }
    // Ready once a monitor port per channel exists, for the aggregate to link to.
    const auto& name = tap->nodeName;
    const auto ready = [&] {
        const auto* node = session.graph().nodeNamed(name);
        return node &&
               session.graph().portsOf(node->globalId, true, true).size() >= positions.size();
    };
    if (!session.waitFor(ready, std::chrono::milliseconds(2000))) {
        return pipeWireFailure(session.connected() ? "waiting for the tap's ports"
                                                   : "the connection while making the tap",
                               session.connected() ? -ETIMEDOUT : -EPIPE);
    }
    tap->objectId = session.nextObjectId();
    tapID = tap->objectId;
    impl->taps[tapID] = std::move(tap);
    return kAudioHardwareNoError;
}

OSStatus PipeWireHal::destroyProcessTap(AudioObjectID tapID) {
    const Session::Lock lock(*impl->session);
    const auto tap = impl->taps.find(tapID);
    if (tap == impl->taps.end() || tap->second->retired) {
        return kAudioHardwareBadObjectError;
    }
    if (tap->second->node && tap->second->adoptable && impl->session->connected()) {
        impl->retire(tapID);
    } else {
        impl->removeTap(tapID);
    }
    return kAudioHardwareNoError;
}

OSStatus PipeWireHal::setTapDescription(AudioObjectID tapID, const TapDescription& description) {
    const Session::Lock lock(*impl->session);
    const auto found = impl->taps.find(tapID);
    if (found == impl->taps.end() || found->second->retired) {
        return kAudioHardwareBadObjectError;
    }
    auto& tap = *found->second;
    const auto uuid = tap.description.uuid;
    tap.description = description;
    tap.description.uuid = uuid;
    // Streams move in or out at once, not at the next change of the graph.
    impl->postChanges(impl->graphChanged());
    return kAudioHardwareNoError;
}

OSStatus PipeWireHal::createAggregateDevice(const AggregateDeviceDescription& description,
                                            AudioObjectID& device) {
    const Session::Lock lock(*impl->session);
    auto& session = *impl->session;
    if (!session.connected()) {
        return kAudioHardwareNotRunningError;
    }
    const auto* main = session.graph().nodeNamed(description.mainSubDevice);
    AudioObjectID tapId = 0;
    for (const auto& [id, tap] : impl->taps) {
        for (const auto& subTap : description.taps) {
            if (tap->node && subTap.uid == tap->description.uuid.uppercaseString()) {
                tapId = id;
            }
        }
    }
    if (!main || !main->isSink() || tapId == 0 || description.uid.empty()) {
        return kAudioHardwareBadDeviceError;
    }
    const auto objectId = session.nextObjectId();
    const auto requested = impl->requestedFrames.find(main->objectId);
    auto aggregate = std::make_unique<Aggregate>(
        session, objectId, description, tapId, impl->taps.at(tapId)->positions,
        requested == impl->requestedFrames.end() ? 0 : requested->second,
        session.graph().clock.effectiveRate());
    if (const auto status = aggregate->connect(); status != kAudioHardwareNoError) {
        return status;
    }
    impl->aggregates[objectId] = std::move(aggregate);
    device = objectId;
    return kAudioHardwareNoError;
}

OSStatus PipeWireHal::destroyAggregateDevice(AudioObjectID device) {
    const Session::Lock lock(*impl->session);
    const auto aggregate = impl->aggregates.find(device);
    if (aggregate == impl->aggregates.end()) {
        return kAudioHardwareBadObjectError;
    }
    impl->aggregates.erase(aggregate);
    impl->requestedFrames.erase(device);
    impl->overloadsSeen.erase(device);
    impl->last.aggregatesAlive.erase(device);
    impl->updateOverloadPolling();
    return kAudioHardwareNoError;
}

OSStatus PipeWireHal::createIOProcID(AudioObjectID device, AudioDeviceIOBlock block,
                                     AudioDeviceIOProcID& procID) {
    const Session::Lock lock(*impl->session);
    const auto kind = impl->kindOf(device);
    Aggregate* aggregate = nullptr;
    if (kind == Impl::Kind::aggregate) {
        aggregate = impl->aggregates.at(device).get();
    } else if (kind == Impl::Kind::device) {
        // An output device's procs run inside the aggregate that plays on it.
        aggregate = impl->aggregateHosting(device);
    }
    if (!aggregate) {
        return kind == Impl::Kind::none ? kAudioHardwareBadObjectError
                                        : kAudioHardwareBadDeviceError;
    }
    const auto id = impl->nextProcId++;
    if (!aggregate->addProc(std::move(block), kind == Impl::Kind::device, id)) {
        return kAudioHardwareIllegalOperationError;
    }
    procID = id;
    return kAudioHardwareNoError;
}

OSStatus PipeWireHal::destroyIOProcID(AudioObjectID device, AudioDeviceIOProcID procID) {
    return impl->withProc(device, procID, [](Aggregate& aggregate, IOProc& proc) {
        aggregate.remove(proc);
        return kAudioHardwareNoError;
    });
}

OSStatus PipeWireHal::deviceStart(AudioObjectID device, AudioDeviceIOProcID procID) {
    return impl->withProc(device, procID, [this](Aggregate& aggregate, IOProc& proc) {
        const auto& graph = impl->session->graph();
        if (!impl->aggregateAlive(graph, aggregate)) {
            return kAudioHardwareNotRunningError;
        }
        aggregate.start(proc, graph, impl->taps.at(aggregate.tapId())->nodeName);
        return kAudioHardwareNoError;
    });
}

OSStatus PipeWireHal::deviceStop(AudioObjectID device, AudioDeviceIOProcID procID) {
    return impl->withProc(device, procID, [](Aggregate& aggregate, IOProc& proc) {
        aggregate.stop(proc);
        return kAudioHardwareNoError;
    });
}

OSStatus PipeWireHal::addPropertyListener(AudioObjectID object,
                                          const AudioObjectPropertyAddress& address,
                                          AudioObjectPropertyListenerBlock block,
                                          AudioObjectPropertyListenerID& listener) {
    if (!block) {
        return kAudioHardwareIllegalOperationError;
    }
    {
        const Session::Lock lock(*impl->session);
        if (impl->kindOf(object) == Impl::Kind::none) {
            return kAudioHardwareBadObjectError;
        }
    }
    listener = impl->nextListenerId++;
    impl->listeners.push_back({listener, object, address.mSelector, std::move(block)});
    return kAudioHardwareNoError;
}

OSStatus PipeWireHal::removePropertyListener(AudioObjectID object,
                                             const AudioObjectPropertyAddress& address,
                                             AudioObjectPropertyListenerID listener) {
    const auto removed = std::erase_if(impl->listeners, [&](const Impl::Listener& l) {
        return l.id == listener && l.object == object && l.selector == address.mSelector;
    });
    return removed ? kAudioHardwareNoError : kAudioHardwareBadObjectError;
}

} // namespace quellora
