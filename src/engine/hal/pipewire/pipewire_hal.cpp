#include "engine/hal/pipewire/pipewire_hal.h"

#include "base/lifetime.h"
#include "base/log.h"
#include "engine/hal/pipewire/pipewire_graph_view.h"
#include "engine/hal/pipewire/pipewire_objects.h"
#include "engine/hal/pipewire/pipewire_session.h"
#include "engine/hal/pipewire/pipewire_stream_router.h"
#include "engine/hal/pipewire/pipewire_tap_registry.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

namespace quellora {

using namespace pipewire;

namespace {

constexpr auto reconnectInterval = seconds(1.0);
// How long a destroyed tap waits for the next generation to take it over.
constexpr auto tapLinger = seconds(1.5);
constexpr auto overloadPollInterval = seconds(1.0);
// A healthy server answers in milliseconds even when busy; one that takes
// this long has stopped reading us.
constexpr auto answerCheckInterval = seconds(1.0);
constexpr auto answerPatience = std::chrono::milliseconds(5000);

} // namespace

// The connection, the listeners and the aggregates. Each change of the graph
// goes to the stream router and the tap registry in turn, then to the
// listeners as the property changes it makes.
//
// Main thread, except graphChanged(), which PipeWire's thread calls (with
// the session locked) as the graph changes.
struct PipeWireHal::Impl {
    struct Listener {
        AudioObjectPropertyListenerID id;
        AudioObjectID object;
        FourCharCode selector;
        AudioObjectPropertyListenerBlock block;
    };

    Dispatcher& mainQueue;
    Logger log{"AudioEngine"};
    Lifetime lifetime;
    std::unique_ptr<Session> session;
    GraphView view;
    StreamRouter router;
    TapRegistry registry;
    std::vector<Listener> listeners;
    AudioObjectPropertyListenerID nextListenerId = 1;
    AudioDeviceIOProcID nextProcId = 1;
    std::function<void(bool)> connectionHandler;
    std::shared_ptr<WorkItem> reconnect;
    std::shared_ptr<WorkItem> retirement; // the end of lingering taps
    std::unique_ptr<RepeatingTimer> overloadPoll;
    std::unique_ptr<RepeatingTimer> answerCheck;
    std::map<AudioObjectID, std::int64_t> overloadsSeen;
    // When the graph is next looked at for news that comes without a change
    // of it; max while no look is due. Locked.
    std::chrono::steady_clock::time_point nextLook = std::chrono::steady_clock::time_point::max();
    bool connected = false;
    bool connecting = false; // written with the session locked

    explicit Impl(Dispatcher& queue)
        : mainQueue(queue)
        , session(std::make_unique<Session>(
              [this] { postChanges(graphChanged()); },
              [this](std::uint64_t connection) {
                  post([this, connection] {
                      dropConnection(connection, "The PipeWire server went away; waiting "
                                                 "for it to come back");
                  });
              }))
        , view(*session)
        , router(view, *session, queue)
        , registry(view, *session) {}

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
        answerCheck =
            mainQueue.startRepeatingTimer(answerCheckInterval, answerCheckInterval, seconds(0.5),
                                          lifetime.guard([this] { checkAnswering(); }));
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

    // Dropping a connection the server no longer reads also frees whoever
    // waits on our streams there: the session manager, in that deadlock.
    void checkAnswering() {
        std::uint64_t connection = 0;
        {
            const Session::Lock lock(*session);
            if (session->stillAnswering(answerPatience)) {
                return;
            }
            connection = session->connectionNumber();
        }
        dropConnection(connection,
                       "The PipeWire server stopped answering Quellora; connecting again");
    }

    // Everything known of the old server goes: what comes back is learnt
    // from the new registry, as on a first connection.
    void dropConnection(std::uint64_t connection, const char* why) {
        if (!connected) {
            return; // the failed attempt cleaned up after itself; a retry is due
        }
        std::vector<AudioObjectID> gone;
        {
            const Session::Lock lock(*session);
            if (connection != session->connectionNumber()) {
                return; // news of a connection that was replaced already
            }
            log.error("%{public}s", why);
            connected = false;
            answerCheck.reset();
            for (auto& [id, aggregate] : view.aggregates) {
                aggregate.reset();
            }
            registry.serverLost();
            router.serverLost();
            session->disconnect();
            overloadsSeen.clear();
            gone = view.serverLost();
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

    // ---- graph changes (locked) ----------------------------------------------

    // What changed since the last look, for the listeners.
    std::vector<PropertyChange> graphChanged() {
        if (connecting) {
            return {};
        }
        lookAgainAfter(router.routeStreams());
        lookAgainAfter(registry.settleAdoptions());
        lookAgainAfter(router.maintainBypasses());
        const auto& graph = view.graph();
        for (auto& [id, aggregate] : view.aggregates) {
            if (aggregate) {
                const auto tap = view.taps.find(aggregate->tapId());
                if (tap != view.taps.end()) {
                    aggregate->linkIfNeeded(graph, tap->second->nodeName);
                }
            }
        }
        auto changes = view.changes();
        if (changes.sessionManagerReturned && registry.sessionManagerReturned()) {
            post([this] { endRetiredTaps(); });
        }
        return std::move(changes.properties);
    }

    void postChanges(const std::vector<PropertyChange>& changes) {
        for (const auto& [object, selector] : changes) {
            post([this, object = object, selector = selector] { deliver(object, selector); });
        }
    }

    // Goes over the graph again after `delay`, for news that comes without a
    // change of the graph, unless a look is due by then.
    void lookAgainAfter(LookAgain delay) {
        if (!delay) {
            return;
        }
        const auto at = std::chrono::steady_clock::now() + *delay;
        if (nextLook <= at) {
            return;
        }
        nextLook = at;
        mainQueue.postAfter(*delay, lifetime.guard([this] {
            const Session::Lock lock(*session);
            if (nextLook <= std::chrono::steady_clock::now()) {
                nextLook = std::chrono::steady_clock::time_point::max();
            }
            postChanges(graphChanged());
        }));
    }

    // ---- taps' ends (main thread, locked) -------------------------------------

    // The tap lingers, in case the next generation takes it over; its
    // applications play on the default output meanwhile.
    void retire(Tap& tap) {
        registry.retire(tap);
        lookAgainAfter(registry.settleAdoptions());
        lookAgainAfter(router.maintainBypasses());
        // The engine stops the IO next: the bypass should be there by then.
        router.awaitBypass(tap);
        retirement = mainQueue.postAfter(tapLinger, lifetime.guard([this] { endRetiredTaps(); }));
    }

    // Streams go back to the default output before the sink goes.
    void endTap(AudioObjectID tapId) { registry.end(tapId, router.unroute(*view.taps.at(tapId))); }

    // Main thread. The taps no generation took over go for good.
    void endRetiredTaps() {
        const Session::Lock lock(*session);
        for (const auto id : registry.retiredTaps()) {
            endTap(id);
        }
    }

    // ---- listeners and aggregates (main thread) ---------------------------------

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
            for (const auto& [id, aggregate] : view.aggregates) {
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
        for (const auto& [id, aggregate] : view.aggregates) {
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
        auto& aggregates = view.aggregates;
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
        for (auto& [id, tap] : impl->view.taps) {
            impl->router.unroute(*tap);
        }
        impl->session->roundtrip();
        impl->view.aggregates.clear();
        impl->view.taps.clear();
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
    return impl->view.hasProperty(object, address);
}

OSStatus PipeWireHal::getPropertyDataSize(AudioObjectID object,
                                          const AudioObjectPropertyAddress& address,
                                          std::uint32_t& size) {
    const Session::Lock lock(*impl->session);
    return impl->view.getPropertyDataSize(object, address, size);
}

OSStatus PipeWireHal::getPropertyData(AudioObjectID object,
                                      const AudioObjectPropertyAddress& address,
                                      std::uint32_t& size, void* data) {
    const Session::Lock lock(*impl->session);
    return impl->view.getPropertyData(object, address, size, data);
}

OSStatus PipeWireHal::getPropertyString(AudioObjectID object,
                                        const AudioObjectPropertyAddress& address,
                                        std::optional<std::string>& value) {
    const Session::Lock lock(*impl->session);
    return impl->view.getPropertyString(object, address, value);
}

OSStatus PipeWireHal::setPropertyData(AudioObjectID object,
                                      const AudioObjectPropertyAddress& address, std::uint32_t size,
                                      const void* data) {
    const Session::Lock lock(*impl->session);
    auto& view = impl->view;
    const auto kind = view.kindOf(object);
    if (kind != GraphView::Kind::device && kind != GraphView::Kind::aggregate) {
        return kind == GraphView::Kind::none ? kAudioHardwareBadObjectError
                                             : kAudioHardwareUnknownPropertyError;
    }
    if (size != sizeof(std::uint32_t)) {
        return kAudioHardwareBadPropertySizeError;
    }
    std::uint32_t value = 0;
    std::memcpy(&value, data, sizeof value);
    const auto& clock = view.graph().clock;
    if (address.mSelector == AudioProperty::bufferFrameSize &&
        address.mScope == AudioScope::global) {
        // Reaches the server as our nodes' requested latency.
        const auto frames = std::clamp(value, clock.minQuantum, clock.maxQuantum);
        view.requestedFrames[object] = frames;
        auto* aggregate = kind == GraphView::Kind::aggregate ? view.aggregates.at(object).get()
                                                             : view.aggregateHosting(object);
        if (aggregate) {
            aggregate->requestFrames(frames, clock.effectiveRate());
        }
        return kAudioHardwareNoError;
    }
    if (address.mSelector == AudioProperty::latency && address.mScope == AudioScope::output &&
        kind == GraphView::Kind::aggregate) {
        view.aggregates.at(object)->reportLatency(value);
        return kAudioHardwareNoError;
    }
    return kAudioHardwareUnknownPropertyError;
}

OSStatus PipeWireHal::createProcessTap(const TapDescription& description, AudioObjectID& tapID) {
    const Session::Lock lock(*impl->session);
    const auto made = impl->registry.make(description);
    if (made.status != kAudioHardwareNoError) {
        return made.status;
    }
    tapID = made.tap;
    if (made.adopted) {
        impl->postChanges(impl->graphChanged());
    }
    return kAudioHardwareNoError;
}

OSStatus PipeWireHal::destroyProcessTap(AudioObjectID tapID) {
    const Session::Lock lock(*impl->session);
    auto* tap = impl->view.liveTap(tapID);
    if (!tap) {
        return kAudioHardwareBadObjectError;
    }
    if (impl->registry.mayLinger(*tap)) {
        impl->retire(*tap);
    } else {
        impl->endTap(tapID);
    }
    return kAudioHardwareNoError;
}

OSStatus PipeWireHal::setTapDescription(AudioObjectID tapID, const TapDescription& description) {
    const Session::Lock lock(*impl->session);
    auto* tap = impl->view.liveTap(tapID);
    if (!tap) {
        return kAudioHardwareBadObjectError;
    }
    TapRegistry::describe(*tap, description);
    // Streams move in or out at once, not at the next change of the graph.
    impl->postChanges(impl->graphChanged());
    return kAudioHardwareNoError;
}

OSStatus PipeWireHal::createAggregateDevice(const AggregateDeviceDescription& description,
                                            AudioObjectID& device) {
    const Session::Lock lock(*impl->session);
    auto& session = *impl->session;
    auto& view = impl->view;
    if (!session.connected()) {
        return kAudioHardwareNotRunningError;
    }
    const auto* main = view.graph().nodeNamed(description.mainSubDevice);
    AudioObjectID tapId = 0;
    for (const auto& [id, tap] : view.taps) {
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
    const auto requested = view.requestedFrames.find(main->objectId);
    auto aggregate = std::make_unique<Aggregate>(
        session, objectId, description, tapId, view.taps.at(tapId)->positions,
        requested == view.requestedFrames.end() ? 0 : requested->second,
        view.graph().clock.effectiveRate());
    if (const auto status = aggregate->connect(); status != kAudioHardwareNoError) {
        return status;
    }
    view.aggregates[objectId] = std::move(aggregate);
    device = objectId;
    return kAudioHardwareNoError;
}

OSStatus PipeWireHal::destroyAggregateDevice(AudioObjectID device) {
    const Session::Lock lock(*impl->session);
    if (!impl->view.aggregates.erase(device)) {
        return kAudioHardwareBadObjectError;
    }
    impl->view.requestedFrames.erase(device);
    impl->overloadsSeen.erase(device);
    impl->updateOverloadPolling();
    return kAudioHardwareNoError;
}

OSStatus PipeWireHal::createIOProcID(AudioObjectID device, AudioDeviceIOBlock block,
                                     AudioDeviceIOProcID& procID) {
    const Session::Lock lock(*impl->session);
    const auto kind = impl->view.kindOf(device);
    Aggregate* aggregate = nullptr;
    if (kind == GraphView::Kind::aggregate) {
        aggregate = impl->view.aggregates.at(device).get();
    } else if (kind == GraphView::Kind::device) {
        // An output device's procs run inside the aggregate that plays on it.
        aggregate = impl->view.aggregateHosting(device);
    }
    if (!aggregate) {
        return kind == GraphView::Kind::none ? kAudioHardwareBadObjectError
                                             : kAudioHardwareBadDeviceError;
    }
    const auto id = impl->nextProcId++;
    if (!aggregate->addProc(std::move(block), kind == GraphView::Kind::device, id)) {
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
        const auto& view = impl->view;
        if (!view.aggregateAlive(aggregate)) {
            return kAudioHardwareNotRunningError;
        }
        aggregate.start(proc, view.graph(), view.taps.at(aggregate.tapId())->nodeName);
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
        if (impl->view.kindOf(object) == GraphView::Kind::none) {
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
