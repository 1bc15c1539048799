#include "engine/audio_engine.h"

namespace quellora {

AudioEngine::AudioEngine(AudioHal& audioHal, Dispatcher& main, Dispatcher& diagnostics,
                         const EngineSwitchValues& switches)
    : hal(audioHal)
    , mainQueue(main)
    , diagnosticsQueue(diagnostics)
    , io_(std::make_shared<EngineIOState>(switches)) {}

AudioEngine::~AudioEngine() {
    stop();
}

void AudioEngine::updateCompressorParams(const CompressorParams& params) {
    _lastParams.set(params);
    io_->chain.updateParams(params, processingSampleRate());
}

void AudioEngine::setApplicationRouting(ApplicationRouting routing) {
    if (routing == applicationRouting_) {
        return;
    }
    applicationRouting_ = std::move(routing);
    if (tapID == 0 || !tapDescription) {
        return;
    }
    auto description = *tapDescription;
    description.excludedApplications = applicationRouting_.direct;
    description.includedApplications = applicationRouting_.levelled;
    const auto status = hal.setTapDescription(tapID, description);
    if (status != kAudioHardwareNoError) {
        // A new tap takes the new routing.
        log.error("Tap exclusion change failed, OSStatus=%{public}d; rebuilding", status);
        rebuildPipeline("application routing change");
        return;
    }
    tapDescription = std::move(description);
    log.notice("Tap exclusions changed: %{public}ld applications direct, %{public}ld levelled "
               "against their default",
               static_cast<long>(applicationRouting_.direct.size()),
               static_cast<long>(applicationRouting_.levelled.size()));
}

void AudioEngine::selectChain(ChainKind kind, std::optional<float> programmeTargetLufs) {
    const auto delayBefore = io_->chain.lookaheadSamples();
    io_->chain.selectKind(kind);
    io_->chain.setProgrammeTarget(programmeTargetLufs);
    // The chains differ in delay: players need the new figure.
    if (aggregateDeviceID != 0 && io_->chain.lookaheadSamples() != delayBefore) {
        reportAddedLatency();
    }
}

std::optional<AudioObjectPropertyListenerID>
AudioEngine::addListener(AudioObjectID object, FourCharCode selector, std::function<void()> handler,
                         OSStatus& status, FourCharCode scope) {
    AudioObjectPropertyListenerID listener = 0;
    status = hal.addPropertyListener(object, {selector, scope, 0},
                                     lifetime.guard(std::move(handler)), listener);
    return status == kAudioHardwareNoError ? std::optional(listener) : std::nullopt;
}

void AudioEngine::throwIfFailed(OSStatus status, std::string_view message, EngineError::Kind kind,
                                const std::function<void()>& cleanUp) {
    if (status == kAudioHardwareNoError) {
        return;
    }
    if (cleanUp) {
        cleanUp();
    }
    log.error(message, status);
    throw EngineError(kind, status);
}

void AudioEngine::removeListener(std::optional<AudioObjectPropertyListenerID>& listener,
                                 AudioObjectID& device, FourCharCode selector, FourCharCode scope) {
    if (!listener) {
        return;
    }
    if (device != 0) {
        hal.removePropertyListener(device, {selector, scope, 0}, *listener);
    }
    listener.reset();
    device = 0;
}

void AudioEngine::cancel(std::shared_ptr<WorkItem>& pending) {
    if (pending) {
        pending->cancel();
        pending.reset();
    }
}

} // namespace quellora
