#pragma once

#include "base/dispatcher.h"
#include "base/lifetime.h"
#include "base/log.h"
#include "engine/hal/pipewire/pipewire_graph_view.h"

#include <cstdint>
#include <memory>
#include <set>
#include <utility>
#include <vector>

namespace quellora::pipewire {

// Where applications play while our taps exist. Every other application's
// output stream bound for the default output goes into the tap once an
// aggregate reads it: the session manager is asked to move it there, by the
// stream's routing key. A stream that would feed the tap its own output
// plays where it would without us. What the session manager gets wrong
// (links it leaves behind, moves it misses) is repaired once it has had
// time to set it right. A tap that holds applications while no aggregate
// plays them on the default output plays them there itself: its bypass.
//
// Its passes over the graph run with the session locked: on PipeWire's
// thread as the graph changes, and on the main thread when the adapter
// asks. Repairs run on the main queue, taking the lock.
class StreamRouter {
public:
    StreamRouter(GraphView& view, Session& session, Dispatcher& mainQueue);
    StreamRouter(const StreamRouter&) = delete;
    StreamRouter& operator=(const StreamRouter&) = delete;

    // Starts routing into the taps an aggregate now reads, moves streams in
    // and out of every tap the engine has, and watches for the session
    // manager's mistakes.
    LookAgain routeStreams();
    // Makes, moves or removes each tap's bypass as its state requires.
    LookAgain maintainBypasses();
    // Main thread. Waits a moment for the tap's bypass, if it needs one, to
    // be linked.
    void awaitBypass(const Tap& tap);
    // The streams the tap holds follow the default output again, except
    // those sent elsewhere since; returns them.
    std::vector<std::uint32_t> unroute(Tap& tap);
    // The server went away: what the taps held went with it.
    void serverLost();

private:
    // What the session manager got wrong about the streams routed into our
    // taps: its leftover links from them to devices, and streams it has not
    // moved into the tap.
    struct Misrouting {
        std::set<std::uint32_t> strayLinks;
        std::set<std::pair<AudioObjectID, std::uint32_t>> outsideTap; // tap, stream

        bool empty() const { return strayLinks.empty() && outsideTap.empty(); }
    };

    void route(AudioObjectID tapId, Tap& tap);
    std::vector<std::uint32_t> outputsOf(AudioObjectID tapId, const Tap& tap,
                                         const GraphNode& tapNode) const;
    void breakLoop(Tap& tap, const GraphNode& stream, const StreamTargets& targets);
    bool targetsTap(const Tap& tap, const std::optional<std::string>& target,
                    bool byId = false) const;
    bool playedElsewhere(AudioObjectID tapId, const GraphNode& device) const;
    LookAgain deferBypassMove(const Tap& tap) const;

    Misrouting misrouting() const;
    void watchMisrouting();
    void waitBeforeRepair();
    void repairMisrouting();
    void bringIntoTap(Tap& tap, std::uint32_t stream);

    GraphView& view_;
    Session& session_;
    Dispatcher& mainQueue_;
    Logger log_{"AudioEngine"};
    Lifetime lifetime_;
    Misrouting suspects_;             // main thread, locked
    std::shared_ptr<WorkItem> sweep_; // main thread
    bool sweepPending_ = false;       // locked
};

} // namespace quellora::pipewire
