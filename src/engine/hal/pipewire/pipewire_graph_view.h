#pragma once

#include "engine/hal/pipewire/pipewire_objects.h"
#include "engine/hal/pipewire/pipewire_session.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quellora::pipewire {

// The default metadata's keys a stream is routed by. target.object is ours
// (and a mixer's, and another audio manager's); target.node is where the
// session manager restores the stream's application to, or -1 for one that
// follows the default output.
inline constexpr const char* routingKey = "target.object";
inline constexpr const char* restoredTargetKey = "target.node";

// An object and the property of it that changed.
using PropertyChange = std::pair<AudioObjectID, FourCharCode>;

// How soon to go over the graph again, for news of it that comes without a
// change of the graph (an aggregate's first audio, a bypass free to move);
// none when no look is due.
using LookAgain = std::optional<std::chrono::steady_clock::duration>;
// The sooner of two looks.
inline LookAgain sooner(LookAgain a, LookAgain b) {
    return !a ? b : !b ? a : std::min(*a, *b);
}

// What the adapter knows of the server's graph: the session's mirror of it,
// the objects we made there, what listeners were last told of it, and the
// answers to property reads drawn from all that.
//
// Every call holds the session's lock: property reads come from the main
// thread; looks for changes from PipeWire's thread as the graph changes,
// and from the main thread after a change of our own.
class GraphView {
public:
    enum class Kind { none, system, device, aggregate, process, tap };

    // What changed since the last look.
    struct Changes {
        std::vector<PropertyChange> properties;
        // A session manager came while our taps existed (see TapRegistry).
        bool sessionManagerReturned = false;
    };

    explicit GraphView(Session& session)
        : session_(session) {}
    GraphView(const GraphView&) = delete;
    GraphView& operator=(const GraphView&) = delete;

    // Our objects, by the ids the engine knows them by. The tap registry
    // makes and ends taps; the adapter makes and destroys aggregates (null
    // once the server they were made on went away) and records the buffer
    // sizes asked of devices.
    std::map<AudioObjectID, std::unique_ptr<Tap>> taps;
    std::map<AudioObjectID, std::unique_ptr<Aggregate>> aggregates;
    std::map<AudioObjectID, std::uint32_t> requestedFrames;

    const Graph& graph() const { return session_.graph(); }
    // The default metadata's routing keys for one stream.
    StreamTargets targetsOf(std::uint32_t stream) const;
    // A tap the engine has (not one that lingers after it let it go), or null.
    Tap* liveTap(AudioObjectID tap);
    Kind kindOf(AudioObjectID object) const;
    // The aggregate that plays on an output device: the device's IOProcs run in it.
    Aggregate* aggregateHosting(AudioObjectID device);

    // Whether a running application stream plays into the tap; nothing
    // while its node is not there to tell.
    std::optional<bool> tapReceiving(const Tap& tap) const;
    bool aggregateAlive(const Aggregate& aggregate) const;
    // Whether an aggregate runs, reading the tap (and playing on `device`, if
    // given): linked, and its last cycles had the tap's audio. (A link that
    // exists may not carry audio yet; what the tap gets meanwhile is lost.)
    bool readByAggregate(AudioObjectID tapId, const Tap& tap,
                         const GraphNode* device = nullptr) const;
    // The tap's audio reaching a started, linked aggregate is news no graph
    // change brings: while it is awaited, how soon to look for it again.
    LookAgain awaitTapAudio(AudioObjectID tapId) const;
    // Why some audio passes unlevelled, as the first tap the engine has that
    // holds streams out of a loop says; empty when none does.
    std::string unlevelledReason() const;

    // Compares the graph with what listeners were last told, which it
    // becomes.
    Changes changes();
    // The server went away: listeners were told nothing yet of the next one.
    // Returns the devices they knew, all gone now.
    std::vector<AudioObjectID> serverLost();

    // Property reads, as AudioHal's.
    bool hasProperty(AudioObjectID object, const AudioObjectPropertyAddress& address) const;
    OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                 std::uint32_t& size) const;
    OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                             std::uint32_t& size, void* data) const;
    OSStatus getPropertyString(AudioObjectID object, const AudioObjectPropertyAddress& address,
                               std::optional<std::string>& value) const;

private:
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

    Snapshot snapshot() const;

    Session& session_;
    Snapshot last_;
};

} // namespace quellora::pipewire
