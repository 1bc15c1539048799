// Creation, the state machine and the capture permission.

#include "app/app_state.h"

namespace quellora {

namespace {
constexpr auto engineStopDelay = seconds(0.05);
// Longer than a rebuild on a settled output takes, so that switching outputs
// never reads as waiting.
constexpr auto waitingReportDelay = seconds(2.0);
} // namespace

AppState::AppState(AppServices appServices)
    : services(std::move(appServices))
    , engine_(std::make_unique<AudioEngine>(services.hal, services.mainQueue,
                                            services.diagnosticsQueue, services.engineSwitches)) {
    setCustomStores(CompressorParams::defaults());
    launchAtLoginStatus_.set(services.loginItem->status());
    restorePresets();
    restoreProgrammeLevelling();
    restoreOutputPresets();
    pushParamsToEngine();
    // Before the first tap, so that no remembered application is heard through it.
    restoreApplicationChoices();
    engine_->setApplicationRouting(applicationChoices_.routing());
    applicationMonitor_ = std::make_unique<ApplicationMonitor>(services.hal, services.mainQueue);
    applicationObservation = applicationMonitor_->applications().subscribe(
        lifetime.guard([this](const std::vector<AudioApplication>&) { refreshApplications(); }));
    refreshApplications();
    outputObservation = engine_->currentOutput().subscribe(lifetime.guard(
        [this](const std::optional<OutputDevice>& output) { followOutput(output); }));
    engine_->onRunning = lifetime.guard([this] { handleEngineRunning(); });
    engine_->onFailed = lifetime.guard(
        [this](const std::string& message) { send(AppEvent::engineFailed(message)); });
    pipelineObservations.push_back(
        mode_.subscribe(lifetime.guard([this](const AppMode&) { followPipeline(); })));
    pipelineObservations.push_back(
        engine_->pipelineStarted().subscribe(lifetime.guard([this](bool) { followPipeline(); })));
    send(AppEvent::Kind::userEnabled);
}

AppState::~AppState() = default;

void AppState::followPipeline() {
    const bool withoutPipeline = mode_.get() == AppMode::on() && !engine_->pipelineStarted().get();
    if (!withoutPipeline) {
        if (pendingWaitingReport) {
            pendingWaitingReport->cancel();
            pendingWaitingReport.reset();
        }
        waitingForAudioOutput_.set(false);
        return;
    }
    if (pendingWaitingReport || waitingForAudioOutput_.get()) {
        return;
    }
    pendingWaitingReport = services.mainQueue.postAfter(waitingReportDelay, lifetime.guard([this] {
        pendingWaitingReport.reset();
        if (mode_.get() == AppMode::on() && !engine_->pipelineStarted().get()) {
            log.notice("Processing is on but no audio pipeline runs; waiting for an output");
            waitingForAudioOutput_.set(true);
        }
    }));
}

void AppState::setMenuIsOpen(bool open) {
    menuIsOpen_.set(open);
    if (open) {
        recheckPermission();
    }
}

void AppState::send(const AppEvent& event) {
    const auto before = mode_.get();
    const auto transition = resolveTransition(before, event);
    if (transition.kind() == StateTransition::Kind::none) {
        return;
    }
    log.notice("State transition: %{public}s → %{public}s", describe(before), describe(transition));
    switch (transition.kind()) {
    case StateTransition::Kind::attemptStart:
        attemptStart();
        break;
    case StateTransition::Kind::enterOn:
        mode_.set(AppMode::on());
        startLowVolumeMonitor();
        break;
    case StateTransition::Kind::enterOff:
        enterOff();
        break;
    case StateTransition::Kind::enterNeedsPermission:
        enterNeedsPermission();
        break;
    case StateTransition::Kind::enterOnFromRecovery:
        startEngineBypassed();
        enterOnAndMonitor();
        break;
    case StateTransition::Kind::enterError:
        // The engine keeps retrying by itself; its next start leads back to on.
        stopLowVolumeMonitor();
        mode_.set(AppMode::error(transition.message()));
        break;
    case StateTransition::Kind::none:
        break;
    }
}

void AppState::attemptStart() {
    permissionStatus_.set(services.permission->status());
    log.notice("Permission preflight: %{public}s", rawValue(permissionStatus_.get()));
    if (permissionStatus_.get() != SystemAudioAuthStatus::authorized) {
        enterNeedsPermission();
        return;
    }
    startEngineBypassed();
    enterOnAndMonitor();
}

// Processing starts dry; the engine's running report lifts the bypass. When
// the user switches on again before the delayed stop of switching off, the
// engine is still running its pipeline, so no running report will come: the
// bypass is lifted here instead, and the compressor is not reset under the
// running IO.
void AppState::startEngineBypassed() {
    auto& compressor = engine_->compressor();
    compressor.setBypassed(true);
    if (engine_->isRunning().get() && engine_->hasLivePipeline()) {
        pushParamsToEngine();
        compressor.setBypassed(false);
        return;
    }
    engine_->processingChain().reset();
    engine_->start();
}

void AppState::enterOnAndMonitor() {
    mode_.set(AppMode::on());
    startLowVolumeMonitor();
    registerLoginItemOnFirstSetup(true);
}

void AppState::handleEngineRunning() {
    pushParamsToEngine();
    engine_->compressor().setBypassed(false);
    send(AppEvent::Kind::engineStarted);
}

void AppState::enterOff() {
    engine_->compressor().setBypassed(true);
    stopLowVolumeMonitor();
    mode_.set(AppMode::off());
    // The short delay lets the bypass crossfade finish before the audio stops.
    services.mainQueue.postAfter(engineStopDelay, lifetime.guard([this] {
        if (mode_.get() == AppMode::off()) {
            engine_->stop();
        }
    }));
}

void AppState::enterNeedsPermission() {
    permissionStatus_.set(services.permission->status());
    stopLowVolumeMonitor();
    if (engine_->isRunning().get()) {
        engine_->compressor().setBypassed(true);
        engine_->stop();
    }
    mode_.set(AppMode::needsPermission());
    if (permissionStatus_.get() == SystemAudioAuthStatus::undetermined) {
        registerLoginItemOnFirstSetup(false);
    }
}

void AppState::recheckPermission() {
    permissionStatus_.set(services.permission->status());
    const auto status = permissionStatus_.get();
    if (mode_.get() == AppMode::on() && status == SystemAudioAuthStatus::denied) {
        log.notice("Permission revoked (preflight) — stopping");
        send(AppEvent::Kind::permissionIssueDetected);
    } else if (mode_.get() == AppMode::needsPermission() &&
               status == SystemAudioAuthStatus::authorized) {
        log.notice("Permission granted (preflight) — recovering");
        send(AppEvent::Kind::permissionRecovered);
    }
}

void AppState::requestPermission() {
    if (permissionStatus_.get() != SystemAudioAuthStatus::undetermined) {
        services.permission->openSystemSettings();
        return;
    }
    // The answer may come on any thread; the model is only touched on the main queue.
    auto answered = lifetime.guard([this](bool granted) {
        permissionStatus_.set(services.permission->status());
        if (granted && mode_.get() == AppMode::needsPermission()) {
            send(AppEvent::Kind::permissionRecovered);
        }
    });
    services.permission->request([queue = &services.mainQueue, answered](bool granted) {
        queue->post([answered, granted] { answered(granted); });
    });
}

} // namespace quellora
