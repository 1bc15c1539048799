#pragma once

#include "app/app_state.h"
#include "base/dispatcher.h"
#include "base/log.h"
#include "base/thread_dispatcher.h"

#include <functional>
#include <memory>

namespace quellora {

class DemoAudioServer;
class PipeWireHal;

// The audio server the application runs on: PipeWire, or with
// QUELLORA_HAL=simulated the demo server in this process.
enum class AudioServerChoice { pipeWire, simulated };

// QUELLORA_HAL: unset, empty or "pipewire", or "simulated". Throws
// std::invalid_argument for anything else.
AudioServerChoice audioServerChoice(const char* value);
// QUELLORA_PERMISSION, read in the demo mode only: "undetermined", "denied"
// or "authorized" (also when unset or empty). Throws std::invalid_argument
// for anything else.
SystemAudioAuthStatus demoPermissionStatus(const char* value);

// The platform around the application model, as both the tray application
// and `quellora run` compose it from the environment: the audio server, the
// main and diagnostics queues, the settings file, the permission and the
// autostart entry. Lives longer than the model it serves.
class ApplicationServices {
public:
    // Throws std::invalid_argument for environment values it does not know.
    explicit ApplicationServices(Dispatcher& mainQueue);
    ~ApplicationServices();
    ApplicationServices(const ApplicationServices&) = delete;
    ApplicationServices& operator=(const ApplicationServices&) = delete;

    // For one model.
    AppServices modelServices();

    // Whether the audio server can be reached now; the demo server always can.
    bool isServerConnected() const;
    // Called on the main queue when the connection comes or goes; the demo
    // server never calls it.
    void setConnectionHandler(std::function<void(bool connected)> handler);

private:
    Dispatcher& mainQueue_;
    ThreadDispatcher diagnosticsQueue_;
    std::unique_ptr<PipeWireHal> pipeWire_;
    std::unique_ptr<DemoAudioServer> demo_;
    std::shared_ptr<PermissionSource> permission_;
};

// The log of the running application: everything to the journal where one
// runs, the terminal from `terminalLevel` on (QUELLORA_LOG_LEVEL overrides).
void installApplicationLogSinks(LogLevel terminalLevel);

} // namespace quellora
