#pragma once

#include "engine/audio_engine.h"

namespace quellora {

// What the tests read of an engine's pipeline, which the product never needs.
class AudioEngineTestPeer {
public:
    explicit AudioEngineTestPeer(const AudioEngine& engine)
        : engine_(engine) {}

    const Observable<std::optional<CompressorParams>>& lastParams() const {
        return engine_._lastParams;
    }
    ChainKind chainKind() const { return engine_.io_->chain.kind(); }
    const EngineIOState& ioState() const { return *engine_.io_; }
    std::int64_t pipelineGeneration() const { return engine_.pipelineLifecycleGeneration; }
    std::int64_t outputBufferFrames() const { return engine_._outputBufferFrames; }
    AudioObjectID aggregateDevice() const { return engine_.aggregateDeviceID; }
    // The channels the current generation processes.
    const ChannelLayout& pipelineChannelLayout() const { return engine_.tapChannelLayout; }
    double builtOutputRate() const { return engine_.builtOutputNominalRate; }

private:
    const AudioEngine& engine_;
};

} // namespace quellora
