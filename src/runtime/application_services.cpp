#include "runtime/application_services.h"

#include "app/xdg_autostart_login_item.h"
#include "base/json_file_key_value_store.h"
#include "base/log_sinks.h"
#include "distribution/dev_build.h"
#include "engine/engine_switches.h"
#include "engine/hal/pipewire/pipewire_hal.h"
#include "runtime/demo_audio_server.h"
#include "runtime/demo_permission_source.h"

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quellora {
namespace {

// Changes to the settings reach the disk together, at most this often: a
// dragged slider changes eight keys at every step.
constexpr auto settingsWriteDelay = seconds(0.25);

// Stands in when no autostart entry can be made for this executable, so the
// model still runs and the user learns why launch at login does not work.
class UnavailableLoginItem final : public LoginItemService {
public:
    explicit UnavailableLoginItem(std::string reason)
        : reason_(std::move(reason)) {}

    LoginItemStatus status() const override { return LoginItemStatus::notRegistered; }
    void registerItem() override { throw LoginItemError(reason_); }
    void unregisterItem() override { throw LoginItemError(reason_); }

private:
    std::string reason_;
};

std::shared_ptr<LoginItemService> makeLoginItem() {
    try {
        return std::make_shared<XdgAutostartLoginItem>(
            XdgAutostartLoginItem::forThisExecutable({}));
    } catch (const LoginItemError& error) {
        return std::make_shared<UnavailableLoginItem>(
            std::string("launch at login is unavailable: ") + error.what());
    }
}

std::string_view text(const char* value) {
    return value != nullptr ? value : "";
}

} // namespace

AudioServerChoice audioServerChoice(const char* value) {
    const auto name = text(value);
    if (name.empty() || name == "pipewire") {
        return AudioServerChoice::pipeWire;
    }
    if (name == "simulated") {
        return AudioServerChoice::simulated;
    }
    throw std::invalid_argument("QUELLORA_HAL=\"" + std::string(name) +
                                "\" names no audio server: use pipewire or simulated");
}

SystemAudioAuthStatus demoPermissionStatus(const char* value) {
    const auto name = text(value);
    if (name.empty()) {
        return SystemAudioAuthStatus::authorized;
    }
    if (const auto status = systemAudioAuthStatusFromRawValue(name)) {
        return *status;
    }
    throw std::invalid_argument("QUELLORA_PERMISSION=\"" + std::string(name) +
                                "\" is none of undetermined, denied and authorized");
}

ApplicationServices::ApplicationServices(Dispatcher& mainQueue)
    : mainQueue_(mainQueue) {
    if (audioServerChoice(std::getenv("QUELLORA_HAL")) == AudioServerChoice::simulated) {
        permission_ = std::make_shared<DemoPermissionSource>(
            demoPermissionStatus(std::getenv("QUELLORA_PERMISSION")), mainQueue_);
        demo_ = std::make_unique<DemoAudioServer>(mainQueue_);
    } else {
        permission_ = std::make_shared<LinuxPermissionSource>();
        pipeWire_ = std::make_unique<PipeWireHal>(mainQueue_);
    }
}

ApplicationServices::~ApplicationServices() = default;

AppServices ApplicationServices::modelServices() {
    AudioHal& hal = demo_ ? demo_->hal() : static_cast<AudioHal&>(*pipeWire_);
    // The model keeps its values; the file follows behind and gets what is
    // still pending when the model, its one owner, goes.
    auto settings =
        std::make_shared<JsonFileKeyValueStore>(JsonFileKeyValueStore::defaultFilePath());
    settings->writeBehind(mainQueue_, settingsWriteDelay);
    return {hal,
            mainQueue_,
            diagnosticsQueue_,
            EngineSwitchValues::fromEnvironment(DevBuild::isActive()),
            std::move(settings),
            permission_,
            makeLoginItem()};
}

bool ApplicationServices::isServerConnected() const {
    return !pipeWire_ || pipeWire_->isConnected();
}

void ApplicationServices::setConnectionHandler(std::function<void(bool connected)> handler) {
    if (pipeWire_) {
        pipeWire_->setConnectionHandler(std::move(handler));
    }
}

void installApplicationLogSinks(LogLevel terminalLevel) {
    if (const char* requested = std::getenv("QUELLORA_LOG_LEVEL")) {
        terminalLevel = StderrLogSink::parseLevel(requested).value_or(terminalLevel);
    }
    std::vector<std::shared_ptr<LogSink>> sinks{std::make_shared<StderrLogSink>(terminalLevel)};
    if (JournalLogSink::isReachable()) {
        sinks.push_back(std::make_shared<JournalLogSink>());
    }
    Log::setSinks(std::move(sinks));
}

} // namespace quellora
