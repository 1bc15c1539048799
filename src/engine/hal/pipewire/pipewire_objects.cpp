#include "engine/hal/pipewire/pipewire_objects.h"

#include "base/log.h"

#include <spa/param/latency-utils.h>
#include <spa/pod/builder.h>
#include <spa/utils/result.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

namespace quellora::pipewire {
namespace {

const Logger& adapterLog() {
    static const Logger log{"AudioEngine"};
    return log;
}

std::string latencyText(std::uint32_t frames, std::uint32_t rate) {
    return std::to_string(frames) + "/" + std::to_string(rate);
}

// PipeWire's calls that return an object leave the reason for a null in errno.
int lastError() {
    return errno != 0 ? -errno : -EIO;
}

} // namespace

OSStatus pipeWireFailure(const char* call, int result) {
    adapterLog().error("%{public}s failed: %{public}s (%{public}d)", call, spa_strerror(result),
                       result);
    return result;
}

PortLinks linkPorts(Session& session, const Graph& graph,
                    const std::vector<std::pair<std::uint32_t, std::uint32_t>>& pairs) {
    PortLinks links;
    for (const auto& [outputPort, inputPort] : pairs) {
        const auto& out = graph.ports.at(outputPort);
        const auto& in = graph.ports.at(inputPort);
        auto* props = pw_properties_new(PW_KEY_OBJECT_LINGER, "false", nullptr);
        pw_properties_setf(props, PW_KEY_LINK_OUTPUT_NODE, "%u", out.nodeId);
        pw_properties_setf(props, PW_KEY_LINK_OUTPUT_PORT, "%u", out.globalId);
        pw_properties_setf(props, PW_KEY_LINK_INPUT_NODE, "%u", in.nodeId);
        pw_properties_setf(props, PW_KEY_LINK_INPUT_PORT, "%u", in.globalId);
        errno = 0;
        auto* proxy = static_cast<pw_proxy*>(
            pw_core_create_object(session.core(), "link-factory", PW_TYPE_INTERFACE_Link,
                                  PW_VERSION_LINK, &props->dict, 0));
        const int result = lastError();
        pw_properties_free(props);
        if (!proxy) {
            pipeWireFailure("pw_core_create_object(link-factory)", result);
            return {};
        }
        links.push_back(std::make_unique<PortLink>(proxy));
    }
    return links;
}

Aggregate::Aggregate(Session& session, AudioObjectID objectId,
                     AggregateDeviceDescription description, AudioObjectID tapId,
                     std::vector<std::string> positions, std::uint32_t requestedFrames,
                     std::uint32_t rate)
    : session_(session)
    , objectId_(objectId)
    , description_(std::move(description))
    , tapId_(tapId)
    , nodeName_(aggregateNamePrefix + description_.uid.substr(0, 8))
    , requestedFrames_(requestedFrames)
    , positions_(std::move(positions))
    , aggregateOutput_(static_cast<std::size_t>(maxFrames) * 2) {
    positions_.resize(std::min(positions_.size(), maxChannels));
    auto* props = pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Filter",
                                    PW_KEY_MEDIA_ROLE, "DSP", PW_KEY_NODE_NAME, nodeName_.c_str(),
                                    PW_KEY_NODE_DESCRIPTION, "Quellora", nullptr);
    if (requestedFrames_ > 0) {
        pw_properties_set(props, PW_KEY_NODE_LATENCY, latencyText(requestedFrames_, rate).c_str());
    }
    errno = 0;
    filter_ = pw_filter_new(session_.core(), nodeName_.c_str(), props);
    if (!filter_) {
        setupResult_ = lastError();
        return;
    }
    static const pw_filter_events filterEvents = [] {
        pw_filter_events events{};
        events.version = PW_VERSION_FILTER_EVENTS;
        events.process = &Aggregate::onProcess;
        return events;
    }();
    pw_filter_add_listener(filter_, &filterListener_, &filterEvents, this);
    for (const auto& position : positions_) {
        const auto addPort = [&](pw_direction direction, const std::string& name) {
            errno = 0;
            void* port = pw_filter_add_port(
                filter_, direction, PW_FILTER_PORT_FLAG_MAP_BUFFERS, 0,
                pw_properties_new(PW_KEY_FORMAT_DSP, "32 bit float mono audio", PW_KEY_PORT_NAME,
                                  name.c_str(), PW_KEY_AUDIO_CHANNEL, position.c_str(), nullptr),
                nullptr, 0);
            if (!port && setupResult_ == 0) {
                setupResult_ = lastError();
            }
            return port;
        };
        inputs_.push_back(addPort(PW_DIRECTION_INPUT, "input_" + position));
        outputs_.push_back(addPort(PW_DIRECTION_OUTPUT, "output_" + position));
    }
}

OSStatus Aggregate::connect() {
    if (setupResult_ != 0) {
        return pipeWireFailure(filter_ ? "pw_filter_add_port" : "pw_filter_new", setupResult_);
    }
    const int result = pw_filter_connect(
        filter_, static_cast<pw_filter_flags>(PW_FILTER_FLAG_RT_PROCESS | PW_FILTER_FLAG_INACTIVE),
        nullptr, 0);
    return result < 0 ? pipeWireFailure("pw_filter_connect", result) : kAudioHardwareNoError;
}

Aggregate::~Aggregate() {
    for (auto& proc : procs_) {
        if (proc.inUse.load()) {
            stop(proc);
        }
    }
    links_.clear();
    if (filter_) {
        spa_hook_remove(&filterListener_);
        pw_filter_destroy(filter_);
    }
}

bool Aggregate::ready(const Graph& graph, const std::string& tapNodeName) const {
    const auto* self = graph.nodeNamed(nodeName_);
    const auto* tap = graph.nodeNamed(tapNodeName);
    const auto* device = graph.nodeNamed(description_.mainSubDevice);
    const auto channels = positions_.size();
    return self && tap && device &&
           graph.portsOf(self->globalId, false, false).size() >= channels &&
           graph.portsOf(self->globalId, true, false).size() >= channels &&
           graph.portsOf(tap->globalId, true, true).size() >= channels &&
           !graph.portsOf(device->globalId, false, false).empty();
}

void Aggregate::linkIfNeeded(const Graph& graph, const std::string& tapNodeName) {
    if (!active_ || !links_.empty() || !ready(graph, tapNodeName)) {
        return;
    }
    const auto* self = graph.nodeNamed(nodeName_);
    const auto* tap = graph.nodeNamed(tapNodeName);
    const auto* device = graph.nodeNamed(description_.mainSubDevice);
    auto pairs = channelLinks(graph.portsOf(tap->globalId, true, true),
                              graph.portsOf(self->globalId, false, false));
    const auto playback = channelLinks(graph.portsOf(self->globalId, true, false),
                                       graph.portsOf(device->globalId, false, false));
    pairs.insert(pairs.end(), playback.begin(), playback.end());
    links_ = linkPorts(session_, graph, pairs);
}

void Aggregate::unlink() {
    links_.clear();
}

void Aggregate::requestFrames(std::uint32_t frames, std::uint32_t rate) {
    requestedFrames_ = frames;
    const auto text = latencyText(frames, rate);
    const spa_dict_item item = SPA_DICT_ITEM_INIT(PW_KEY_NODE_LATENCY, text.c_str());
    const spa_dict dict = SPA_DICT_INIT(&item, 1);
    if (const int result = pw_filter_update_properties(filter_, nullptr, &dict); result < 0) {
        pipeWireFailure("pw_filter_update_properties(node.latency)", result);
    }
}

// Tells the server how late our output is against our input, so that players
// can keep picture and sound together.
void Aggregate::reportLatency(std::uint32_t frames) {
    reportedLatency_ = frames;
    std::uint8_t buffer[256];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_process_latency_info info{};
    info.rate = frames;
    const spa_pod* params[1] = {
        spa_process_latency_build(&builder, SPA_PARAM_ProcessLatency, &info)};
    if (const int result = pw_filter_update_params(filter_, nullptr, params, 1); result < 0) {
        pipeWireFailure("pw_filter_update_params(ProcessLatency)", result);
    }
}

IOProc* Aggregate::addProc(AudioDeviceIOBlock block, bool hosted, AudioDeviceIOProcID id) {
    for (auto& proc : procs_) {
        if (!proc.inUse.load(std::memory_order_relaxed)) {
            proc.id = id;
            proc.block = std::move(block);
            proc.hosted = hosted;
            proc.started.store(false, std::memory_order_relaxed);
            proc.inUse.store(true, std::memory_order_release);
            return &proc;
        }
    }
    return nullptr;
}

IOProc* Aggregate::proc(AudioDeviceIOProcID id) {
    for (auto& proc : procs_) {
        if (proc.inUse.load(std::memory_order_relaxed) && proc.id == id) {
            return &proc;
        }
    }
    return nullptr;
}

bool Aggregate::anyStarted() const {
    return std::any_of(procs_.begin(), procs_.end(), [](const IOProc& proc) {
        return proc.inUse.load(std::memory_order_relaxed) &&
               proc.started.load(std::memory_order_relaxed);
    });
}

void Aggregate::setActive(bool active) {
    if (active != active_) {
        active_ = active;
        resync_.store(true, std::memory_order_relaxed);
        receivesTap_.store(false, std::memory_order_relaxed);
        if (const int result = pw_filter_set_active(filter_, active); result < 0) {
            pipeWireFailure("pw_filter_set_active", result);
        }
        if (!active) {
            unlink();
        }
    }
}

void Aggregate::start(IOProc& proc, const Graph& graph, const std::string& tapNodeName) {
    proc.started.store(true, std::memory_order_seq_cst);
    setActive(true);
    linkIfNeeded(graph, tapNodeName);
}

void Aggregate::stop(IOProc& proc) {
    proc.started.store(false, std::memory_order_seq_cst);
    waitForCycleToFinish();
    if (!anyStarted()) {
        setActive(false);
    }
}

void Aggregate::remove(IOProc& proc) {
    stop(proc);
    proc.inUse.store(false, std::memory_order_seq_cst);
    waitForCycleToFinish();
    proc.block = nullptr;
}

// A cycle that read `started` before it was cleared may still be running
// the block; it finishes within one quantum. (Paired with the order of the
// two flags in process().)
void Aggregate::waitForCycleToFinish() const {
    while (inCycle_.load(std::memory_order_seq_cst)) {
        std::this_thread::yield();
    }
}

void Aggregate::onProcess(void* data, spa_io_position* position) {
    static_cast<Aggregate*>(data)->process(position);
}

void Aggregate::process(spa_io_position* position) noexcept {
    inCycle_.store(true, std::memory_order_seq_cst);
    const auto frames =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(position->clock.duration, maxFrames));

    // A cycle that starts later than the previous one ended is a dropout,
    // unless the filter was just activated or another driver took over.
    const auto cycleStart = position->clock.position;
    const bool sameTimeline =
        !resync_.exchange(false, std::memory_order_relaxed) && clockId_ == position->clock.id;
    if (sameTimeline && cycleStart > expectedPosition_ + frames / 2) {
        overloads_.fetch_add(1, std::memory_order_relaxed);
    }
    expectedPosition_ = cycleStart + position->clock.duration;
    clockId_ = position->clock.id;

    // One buffer per channel, as the tap and the device lay them out.
    const auto channels = static_cast<std::uint32_t>(positions_.size());
    AudioBuffer inputBuffers[maxChannels];
    AudioBuffer outputBuffers[maxChannels];
    for (std::size_t channel = 0; channel < channels; ++channel) {
        inputBuffers[channel] = {1, frames * 4, pw_filter_get_dsp_buffer(inputs_[channel], frames)};
        outputBuffers[channel] = {1, frames * 4,
                                  pw_filter_get_dsp_buffer(outputs_[channel], frames)};
        if (outputBuffers[channel].mData) {
            std::memset(outputBuffers[channel].mData, 0, frames * sizeof(float));
        }
    }
    AudioBuffer ownOutput{2, frames * 8, aggregateOutput_.data()};
    const AudioBufferList input{channels, inputBuffers};
    AudioBufferList aggregateOutput{1, &ownOutput};
    AudioBufferList deviceOutput{channels, outputBuffers};
    AudioBufferList noInput{};
    if (!receivesTap_.load(std::memory_order_relaxed) && channels > 0 &&
        std::all_of(inputBuffers, inputBuffers + channels,
                    [](const AudioBuffer& buffer) { return buffer.mData != nullptr; })) {
        receivesTap_.store(true, std::memory_order_relaxed);
    }

    // Capture first, then the output device's procs: what was captured in
    // this cycle plays in this cycle.
    for (const bool hosted : {false, true}) {
        for (auto& proc : procs_) {
            if (proc.hosted == hosted && proc.inUse.load(std::memory_order_acquire) &&
                proc.started.load(std::memory_order_seq_cst)) {
                if (hosted) {
                    proc.block(noInput, deviceOutput);
                } else {
                    proc.block(input, aggregateOutput);
                }
            }
        }
    }
    inCycle_.store(false, std::memory_order_seq_cst);
}

} // namespace quellora::pipewire
