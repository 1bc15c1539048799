#pragma once

// The objects the adapter creates on the server: taps (our virtual sinks)
// and aggregate devices (a filter node between a tap and an output device
// that runs the IOProcs).

#include "engine/hal/audio_hal.h"
#include "engine/hal/pipewire/pipewire_session.h"

#include <pipewire/filter.h>

#include <array>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace quellora::pipewire {

// A link we made between two ports; the server removes it with its proxy.
class PortLink {
public:
    explicit PortLink(pw_proxy* proxy)
        : proxy_(proxy) {}
    ~PortLink() { pw_proxy_destroy(proxy_); }
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;

private:
    pw_proxy* proxy_;
};
using PortLinks = std::vector<std::unique_ptr<PortLink>>;

// A PipeWire call that failed: logged with its errno, which is returned as
// the status the engine sees (negative, as PipeWire gives it).
OSStatus pipeWireFailure(const char* call, int result);

// With the session locked: links each (output port, input port) pair, all
// or none (a failure is logged; the caller tries again with the next change
// of the graph).
PortLinks linkPorts(Session& session, const Graph& graph,
                    const std::vector<std::pair<std::uint32_t, std::uint32_t>>& pairs);

struct Tap {
    AudioObjectID objectId = 0;
    TapDescription description;
    std::string nodeName;
    // Its channels, as its monitor ports and the aggregate's ports carry them.
    std::vector<std::string> positions;
    double sampleRate = 0;
    pw_proxy* node = nullptr; // owned: destroying it removes the sink
    // Streams are routed in only once an aggregate plays what the tap
    // receives: until then they play on the device, unprocessed but heard,
    // rather than into a tap that nothing reads yet.
    bool routing = false;
    // The streams routed into the tap (global ids), and those the session
    // manager was asked again to move in.
    std::set<std::uint32_t> routed;
    std::set<std::uint32_t> nudged;
    // Streams that would feed the tap its own output, held out while they
    // would; the links into the tap we removed for it; why audio passes
    // unlevelled meanwhile (empty: none does).
    std::set<std::uint32_t> looping;
    std::set<std::uint32_t> brokenLinks;
    std::string unlevelledReason;
    // A tap the engine destroys lingers a moment, so that the next
    // generation takes it over (`adopted` until its aggregate runs) and its
    // applications never move: the session manager's moves silence a stream
    // while it links it anew. Meanwhile, and while the aggregate still plays
    // on an output that is no longer the default, `bypass` plays the tap on
    // the default output, unprocessed. A tap made before the session manager
    // restarted is not taken over: the newcomer needs a node of its own.
    bool retired = false;
    bool adopted = false;
    bool adoptable = true;
    PortLinks bypass;
    std::uint32_t bypassSink = 0; // the node `bypass` plays into
    // When `bypass` last moved to another output, and when the graph is
    // looked at again for it (the output changed again since, or its
    // aggregate's audio is awaited); max while no look is due.
    std::chrono::steady_clock::time_point bypassMovedAt{};
    std::chrono::steady_clock::time_point lookAgainAt =
        std::chrono::steady_clock::time_point::max();

    ~Tap() {
        if (node) {
            pw_proxy_destroy(node);
        }
    }
};

// One IOProc: the engine's block and whether it runs. `inUse` publishes the
// block to the IO thread; it is written only while the IO thread cannot be
// running it.
struct IOProc {
    AudioDeviceIOProcID id = 0;
    AudioDeviceIOBlock block;
    bool hosted = false; // an output device's proc, run after the capture procs
    std::atomic<bool> inUse{false};
    std::atomic<bool> started{false};
};

class Aggregate {
public:
    static constexpr std::size_t maxProcs = 4;
    static constexpr std::uint32_t maxFrames = 8192;
    static constexpr std::size_t maxChannels = 8;

    // A port in and out per channel of `positions` (at most maxChannels);
    // nothing reaches the server before connect().
    Aggregate(Session& session, AudioObjectID objectId, AggregateDeviceDescription description,
              AudioObjectID tapId, std::vector<std::string> positions,
              std::uint32_t requestedFrames, std::uint32_t rate);
    ~Aggregate();
    Aggregate(const Aggregate&) = delete;
    Aggregate& operator=(const Aggregate&) = delete;

    // With the session locked: the filter, inactive. 0, or PipeWire's
    // negative errno.
    OSStatus connect();

    AudioObjectID objectId() const { return objectId_; }
    AudioObjectID tapId() const { return tapId_; }
    const AggregateDeviceDescription& description() const { return description_; }
    const std::string& nodeName() const { return nodeName_; }
    // Whether the filter, the tap and the device are all there with their
    // ports, so that the filter can be linked between them.
    bool ready(const Graph& graph, const std::string& tapNodeName) const;

    // With the session locked: links the filter between the tap and the
    // device while it is active and not yet linked. Unlinked while inactive,
    // so that an idle pipeline leaves the device and the tap idle too.
    void linkIfNeeded(const Graph& graph, const std::string& tapNodeName);

    std::uint32_t requestedFrames() const { return requestedFrames_; }
    void requestFrames(std::uint32_t frames, std::uint32_t rate);
    void reportLatency(std::uint32_t frames);
    std::uint32_t reportedLatency() const { return reportedLatency_; }

    // Main thread, session locked.
    IOProc* addProc(AudioDeviceIOBlock block, bool hosted, AudioDeviceIOProcID id);
    IOProc* proc(AudioDeviceIOProcID id);
    bool hosts(AudioDeviceIOProcID id) { return proc(id) != nullptr; }
    void start(IOProc& proc, const Graph& graph, const std::string& tapNodeName);
    // Returns once no cycle can be running the proc any more.
    void stop(IOProc& proc);
    void remove(IOProc& proc);
    bool anyStarted() const;
    // Whether a cycle since the filter was last activated had the tap's
    // audio on every input port: the links carry it, not only exist.
    bool receivesTap() const { return receivesTap_.load(std::memory_order_relaxed); }

    // Missed cycles seen by the IO thread since construction.
    std::int64_t overloads() const { return overloads_.load(std::memory_order_relaxed); }

private:
    static void onProcess(void* data, spa_io_position* position);
    void process(spa_io_position* position) noexcept;
    void waitForCycleToFinish() const;
    void setActive(bool active);
    void unlink();

    Session& session_;
    AudioObjectID objectId_;
    AggregateDeviceDescription description_;
    AudioObjectID tapId_;
    std::string nodeName_;
    std::uint32_t requestedFrames_;
    std::uint32_t reportedLatency_ = 0;
    pw_filter* filter_ = nullptr;
    spa_hook filterListener_{};
    int setupResult_ = 0; // PipeWire's errno if making the filter or a port failed
    std::vector<std::string> positions_;
    std::vector<void*> inputs_;
    std::vector<void*> outputs_;
    PortLinks links_;
    bool active_ = false;

    std::array<IOProc, maxProcs> procs_{};
    std::atomic<bool> inCycle_{false};
    std::atomic<std::int64_t> overloads_{0};
    std::uint64_t expectedPosition_ = 0; // IO thread only
    std::uint32_t clockId_ = 0;          // IO thread only
    std::atomic<bool> resync_{true};     // the next cycle starts a new timeline
    std::atomic<bool> receivesTap_{false};
    std::vector<float> aggregateOutput_; // the aggregate's own output, never played
};

} // namespace quellora::pipewire
