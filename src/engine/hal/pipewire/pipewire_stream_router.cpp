#include "engine/hal/pipewire/pipewire_stream_router.h"

#include <unistd.h>

#include <algorithm>

namespace quellora::pipewire {
namespace {

// How long a bypass stays on an output before it follows the default again.
constexpr auto bypassSettle = std::chrono::milliseconds(100);
// How long the session manager may take over a move before what it left
// behind counts as a mistake: its moves take milliseconds, but on a busy
// machine it may take hundreds of them to take up a new stream, and asking
// it again meanwhile only moves the stream once more.
constexpr auto misroutingGrace = seconds(1.0);

// Why some audio passes the tap unlevelled: the first stream held out of
// a loop, by the virtual device it belongs to where it has one.
std::string loopReason(const Graph& graph, const Tap& tap) {
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

} // namespace

StreamRouter::StreamRouter(GraphView& view, Session& session, Dispatcher& mainQueue)
    : view_(view)
    , session_(session)
    , mainQueue_(mainQueue) {}

LookAgain StreamRouter::routeStreams() {
    LookAgain next;
    for (auto& [id, tap] : view_.taps) {
        // A tap takes the applications once its aggregate runs, linked to it.
        if (!tap->routing && !tap->retired) {
            tap->routing = view_.readByAggregate(id, *tap);
            next = sooner(next, view_.awaitTapAudio(id));
        }
        // A retired tap keeps what it holds until the next tap, of another
        // layout, takes it over.
        if (tap->node && tap->routing && !tap->retired) {
            route(id, *tap);
        }
    }
    if (!sweepPending_ && !misrouting().empty()) {
        sweepPending_ = true;
        mainQueue_.post(lifetime_.guard([this] { watchMisrouting(); }));
    }
    return next;
}

// Every other application's output stream bound for the default output goes
// into the tap while it exists, whatever happened since it was first routed
// (a rebuild, the session manager restarting and forgetting its targets, a
// device vanishing), unless someone sent it elsewhere: that choice stands.
// Streams of excluded processes, streams that now play on a device of their
// own, and streams that would feed the tap its own output go back where they
// belong. A virtual device's own streams are never moved, except out of a
// loop.
void StreamRouter::route(AudioObjectID tapId, Tap& tap) {
    const auto& graph = view_.graph();
    const auto gone = [&](std::uint32_t stream) {
        return !graph.nodes.contains(stream);
    };
    std::erase_if(tap.routed, gone);
    std::erase_if(tap.nudged, gone);
    std::erase_if(tap.looping, gone);
    std::erase_if(tap.brokenLinks, [&](std::uint32_t link) { return !graph.links.contains(link); });
    const auto* tapNode = graph.nodeNamed(tap.nodeName);
    const auto feedsBack =
        tapNode ? graph.reachableFrom(outputsOf(tapId, tap, *tapNode)) : std::set<std::uint32_t>{};
    std::erase_if(tap.looping, [&](std::uint32_t stream) { return !feedsBack.contains(stream); });
    for (const auto& [nodeId, node] : graph.nodes) {
        if (!node.isOutputStream() || !tapNode) {
            continue;
        }
        const auto targets = view_.targetsOf(nodeId);
        const bool inTap = tap.routed.contains(nodeId) || tap.looping.contains(nodeId) ||
                           graph.isLinked(nodeId, tapNode->globalId);
        if (inTap && feedsBack.contains(nodeId)) {
            breakLoop(tap, node, targets);
            continue;
        }
        const auto taken = tapTakesStream(graph, tap.description, node, targets, ::getpid());
        if (!taken) {
            continue; // not yet known what it is: it plays where it is meanwhile
        }
        if (!*taken) {
            // Back where it belongs; a virtual device's own stream someone
            // sent into the tap stays there.
            tap.routed.erase(nodeId);
            if (graph.isApplicationStream(node) && targetsTap(tap, targets.object)) {
                session_.setDefaultMetadata(nodeId, routingKey, std::nullopt);
            }
            continue;
        }
        if (feedsBack.contains(nodeId)) {
            breakLoop(tap, node, targets);
            continue;
        }
        if (targets.object != tap.nodeName &&
            !session_.setDefaultMetadata(nodeId, routingKey, tap.nodeName)) {
            continue; // no session manager to ask right now; again when it is back
        }
        tap.routed.insert(nodeId);
    }
    tap.unlevelledReason = loopReason(graph, tap);
}

// Where the tap's audio goes: its own links out, the output its aggregates
// play on, its bypass, and the default output any next generation plays on.
std::vector<std::uint32_t> StreamRouter::outputsOf(AudioObjectID tapId, const Tap& tap,
                                                   const GraphNode& tapNode) const {
    const auto& graph = view_.graph();
    std::vector<std::uint32_t> outputs{tapNode.globalId};
    for (const auto& [aggregateId, aggregate] : view_.aggregates) {
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

// A stream that is (or was to be) in the tap while the tap's own output
// reaches it: it leaves the tap, by whoever it was sent there, and plays
// where it would without us.
void StreamRouter::breakLoop(Tap& tap, const GraphNode& stream, const StreamTargets& targets) {
    const auto& graph = view_.graph();
    const auto streamId = stream.globalId;
    tap.routed.erase(streamId);
    if (tap.looping.insert(streamId).second) {
        log_.notice("Stream %{public}u (%{public}s) would feed Quellora its own output; it plays "
                    "unlevelled",
                    streamId, stream.name);
    }
    // A mixer names the tap in both keys.
    if (targetsTap(tap, targets.object)) {
        session_.setDefaultMetadata(streamId, routingKey, std::nullopt);
    }
    if (targetsTap(tap, targets.node, true)) {
        session_.setDefaultMetadata(streamId, restoredTargetKey, std::nullopt);
    }
    // Links made by hand stay until someone removes them; the session
    // manager's follow the target.
    const auto* tapNode = graph.nodeNamed(tap.nodeName);
    for (const auto& [linkId, link] : graph.links) {
        const auto maker = graph.clients.find(link.clientId);
        const bool bySessionManager = maker != graph.clients.end() && maker->second.sessionManager;
        if (link.outputNode == streamId && tapNode && link.inputNode == tapNode->globalId &&
            !bySessionManager && tap.brokenLinks.insert(linkId).second) {
            session_.destroyGlobal(linkId);
        }
    }
}

// Whether a stream's target names this tap: by name, or by the serial
// (target.object) or id (target.node, `byId`) a mixer or our own second
// request used.
bool StreamRouter::targetsTap(const Tap& tap, const std::optional<std::string>& target,
                              bool byId) const {
    return targetNames(target, tap.nodeName,
                       tap.node ? view_.graph().nodeNamed(tap.nodeName) : nullptr, byId);
}

std::vector<std::uint32_t> StreamRouter::unroute(Tap& tap) {
    const std::vector<std::uint32_t> streams(tap.routed.begin(), tap.routed.end());
    for (const auto stream : streams) {
        if (targetsTap(tap, session_.defaultMetadata(stream, routingKey))) {
            session_.setDefaultMetadata(stream, routingKey, std::nullopt);
        }
    }
    tap.routed.clear();
    return streams;
}

void StreamRouter::serverLost() {
    for (auto& [id, tap] : view_.taps) {
        tap->bypass.clear();
        tap->bypassSink = 0;
        tap->routed.clear();
        tap->looping.clear();
        tap->brokenLinks.clear();
        tap->unlevelledReason.clear();
    }
    suspects_ = {};
    sweepPending_ = false;
}

// ---- bypasses -------------------------------------------------------------

// A tap that holds applications while no aggregate plays them on the default
// output (it lingers, the next generation has not started yet, the output
// changed or vanished) plays them there meanwhile. Made as soon as the output
// changes, before the engine tears the old generation down, it leaves no
// gap. (Not while IO is suspended: what plays then resumes it, and fades
// in.)
LookAgain StreamRouter::maintainBypasses() {
    const auto& graph = view_.graph();
    const auto* sink = graph.defaultSink();
    LookAgain next;
    for (auto& [id, tap] : view_.taps) {
        const auto* tapNode = tap->node ? graph.nodeNamed(tap->nodeName) : nullptr;
        const bool needed = tapNode && sink && !tap->routed.empty() &&
                            (tap->retired || tap->adopted || playedElsewhere(id, *sink));
        if (!needed) {
            tap->bypass.clear();
            tap->bypassSink = 0;
        } else if (tap->bypass.empty() || tap->bypassSink != sink->globalId) {
            if (!tap->bypass.empty() && graph.nodes.contains(tap->bypassSink)) {
                if (const auto wait = deferBypassMove(*tap)) {
                    next = sooner(next, wait);
                    continue;
                }
            }
            // The new links before the old ones go, so that the tap never
            // drives itself in between.
            tap->bypass = linkPorts(session_, graph,
                                    channelLinks(graph.portsOf(tapNode->globalId, true, true),
                                                 graph.portsOf(sink->globalId, false, false)));
            tap->bypassSink = sink->globalId;
            tap->bypassMovedAt = std::chrono::steady_clock::now();
        }
    }
    return next;
}

// Whether an aggregate of the tap runs its IO onto another output than `device`.
bool StreamRouter::playedElsewhere(AudioObjectID tapId, const GraphNode& device) const {
    return std::any_of(view_.aggregates.begin(), view_.aggregates.end(), [&](const auto& entry) {
        const auto& aggregate = entry.second;
        return aggregate && aggregate->tapId() == tapId && aggregate->anyStarted() &&
               aggregate->description().mainSubDevice != device.name;
    });
}

// How long a bypass that still plays on an output that exists waits before
// it moves again, if it moved too recently: each move gives the tap's
// players another driver, and players whose driver changes many times in a
// short while may fall silent for good (pw-play does). It moves once the
// default output has held for `bypassSettle`; the old output plays until
// then.
LookAgain StreamRouter::deferBypassMove(const Tap& tap) const {
    const auto since = std::chrono::steady_clock::now() - tap.bypassMovedAt;
    return since >= bypassSettle ? std::nullopt : LookAgain(bypassSettle - since);
}

void StreamRouter::awaitBypass(const Tap& tap) {
    if (tap.bypassSink == 0) {
        return;
    }
    const auto* tapNode = view_.graph().nodeNamed(tap.nodeName);
    const auto tapNodeId = tapNode ? tapNode->globalId : 0;
    session_.waitFor([&] { return view_.graph().isLinked(tapNodeId, tap.bypassSink); },
                     std::chrono::milliseconds(200));
    session_.roundtrip(std::chrono::milliseconds(200));
}

// ---- repairing the session manager's mistakes -----------------------------

StreamRouter::Misrouting StreamRouter::misrouting() const {
    const auto& graph = view_.graph();
    Misrouting found;
    for (const auto& [id, tap] : view_.taps) {
        const auto* tapNode = tap->node ? graph.nodeNamed(tap->nodeName) : nullptr;
        if (!tapNode) {
            continue;
        }
        for (const auto stream : tap->routed) {
            if (!targetsTap(*tap, session_.defaultMetadata(stream, routingKey))) {
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

// Only what is still wrong after the grace period, and was wrong before it,
// is repaired; repairs continue while anything is wrong.
void StreamRouter::watchMisrouting() {
    const Session::Lock lock(session_);
    suspects_ = misrouting();
    waitBeforeRepair();
}

void StreamRouter::waitBeforeRepair() {
    if (suspects_.empty()) {
        sweepPending_ = false;
        return;
    }
    sweep_ = mainQueue_.postAfter(misroutingGrace, lifetime_.guard([this] { repairMisrouting(); }));
}

void StreamRouter::repairMisrouting() {
    const Session::Lock lock(session_);
    const auto now = misrouting();
    for (const auto link : now.strayLinks) {
        if (suspects_.strayLinks.contains(link)) {
            // Without it the application plays on the device unprocessed as
            // well as through the tap.
            log_.notice("Removing link %{public}u the session manager left from a stream in the "
                        "tap to a device",
                        link);
            session_.destroyGlobal(link);
        }
    }
    for (const auto& [tapId, stream] : now.outsideTap) {
        if (suspects_.outsideTap.contains({tapId, stream})) {
            bringIntoTap(*view_.taps.at(tapId), stream);
        }
    }
    suspects_ = misrouting();
    waitBeforeRepair();
}

// The session manager is asked once more: a changed value makes it look at
// the stream anew (the tap's serial names the same target, and routing
// writes the name back afterwards). Linking the stream ourselves would be
// worse: WirePlumber never takes up a stream that is in use when it starts,
// and links nothing new while it waits for it.
void StreamRouter::bringIntoTap(Tap& tap, std::uint32_t stream) {
    const auto* tapNode = view_.graph().nodeNamed(tap.nodeName);
    if (!tapNode || !tap.nudged.insert(stream).second) {
        return;
    }
    log_.notice("Stream %{public}u is still outside the tap; asking the session manager again",
                stream);
    session_.setDefaultMetadata(stream, routingKey,
                                tapNode->serial.empty() ? tap.nodeName : tapNode->serial);
}

} // namespace quellora::pipewire
