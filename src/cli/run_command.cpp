#include "cli/run_command.h"

#include "app/app_state.h"
#include "app/model_instance_controller.h"
#include "app/session_bus_instance.h"
#include "base/log.h"
#include "cli/command_error.h"
#include "cli/command_reference.h"
#include "cli/preset_application.h"
#include "cli/preset_selection.h"
#include "cli/run_announcer.h"
#include "cli/run_options.h"
#include "runtime/application_services.h"
#include "runtime/qt_dispatcher.h"
#include "runtime/session_bus_pump.h"
#include "runtime/termination_signal_watcher.h"

#include <QCoreApplication>
#include <memory>
#include <new>
#include <optional>
#include <string>

namespace quellora {
namespace {

// What a `quellora run` that finds the session taken says.
std::string waitingLine(const std::optional<InstanceHolder>& holder) {
    const auto process =
        holder && holder->pid ? " (process " + std::to_string(*holder->pid) + ")" : std::string();
    if (holder && holder->kind == instanceKindName(InstanceKind::tray)) {
        return "Quellora already runs in the tray" + process +
               "; this one waits and takes over when it quits. Ctrl+C stops waiting.";
    }
    if (holder && holder->kind == instanceKindName(InstanceKind::headless)) {
        return "Quellora already runs as quellora run" + process +
               ", perhaps as the user service quellora.service; this one waits and takes over "
               "when it stops. Ctrl+C stops waiting.";
    }
    return "Another Quellora runs in this session; this one waits and takes over when it stops. "
           "Ctrl+C stops waiting.";
}

// The model runs only while this instance owns the session's name: from the
// start, or once the instance it waited for has quit; the tray application
// may take the name over, and this one then waits again.
class HeadlessInstance {
public:
    HeadlessInstance(ApplicationServices& services, const std::optional<PresetSelection>& selection,
                     std::ostream& out)
        : services_(services)
        , selection_(selection)
        , out_(out) {
        services_.setConnectionHandler([this](bool connected) {
            if (announcer_) {
                announcer_->setServerConnected(connected);
            }
        });
    }
    ~HeadlessInstance() {
        services_.setConnectionHandler({});
        stop();
    }
    HeadlessInstance(const HeadlessInstance&) = delete;
    HeadlessInstance& operator=(const HeadlessInstance&) = delete;

    AppState* model() const { return model_.get(); }

    void start() {
        if (model_) {
            return;
        }
        model_ = std::make_unique<AppState>(services_.modelServices());
        if (selection_) {
            applyPresetSelection(*model_, *selection_);
        }
        announcer_ = std::make_unique<RunAnnouncer>(*model_, out_, services_.isServerConnected());
    }

    // The engine lets go of the server's objects, and the settings reach
    // the disk, before anything else happens.
    void stop() {
        announcer_.reset();
        if (model_ && model_->engine().isRunning().get()) {
            model_->engine().stop();
        }
        model_.reset();
    }

private:
    ApplicationServices& services_;
    const std::optional<PresetSelection>& selection_;
    std::ostream& out_;
    std::unique_ptr<AppState> model_;
    std::unique_ptr<RunAnnouncer> announcer_;
};

int runApplication(const RunOptions& options, const std::optional<PresetSelection>& selection,
                   const ConsoleStreams& console) {
    // The journal gets everything; the terminal errors only, unless asked
    // for more with --verbose or QUELLORA_LOG_LEVEL.
    installApplicationLogSinks(options.verbose ? LogLevel::info : LogLevel::error);

    int argc = 1;
    char programName[] = "quellora";
    char* argv[] = {programName, nullptr};
    QCoreApplication application(argc, argv);

    // Installed first, so that a signal during start-up also ends the
    // process cleanly, once the event loop runs.
    HeadlessInstance* running = nullptr;
    const TerminationSignalWatcher terminationSignals([&running](int) {
        if (running != nullptr) {
            running->stop();
        }
        QCoreApplication::quit();
    });

    QtDispatcher mainQueue;
    ApplicationServices services(mainQueue);
    HeadlessInstance instance(services, selection, console.out);
    running = &instance;
    ModelInstanceController controller([&instance] { return instance.model(); }, {});
    SessionBusInstance bus(InstanceKind::headless, controller);
    bus.onOwnershipChanged = [&](bool owned) {
        if (owned) {
            console.out << "The Quellora this one waited for has stopped; this one takes over."
                        << std::endl;
            instance.start();
            return;
        }
        instance.stop();
        console.out << "The tray application took over; this one waits and takes over again when "
                       "it quits."
                    << std::endl;
    };
    std::optional<SessionBusPump> pump;
    switch (bus.claim()) {
    case SessionBusInstance::Claim::owned:
        instance.start();
        break;
    case SessionBusInstance::Claim::queued:
    case SessionBusInstance::Claim::heldByAnother:
        console.out << waitingLine(runningInstanceHolder()) << std::endl;
        break;
    case SessionBusInstance::Claim::noSessionBus:
        Logger("Setup").error("No D-Bus session bus (%{public}s): the quellora commands cannot "
                              "reach this instance, and another Quellora would not know of it",
                              bus.connectionError());
        instance.start();
        break;
    }
    if (bus.fileDescriptor() >= 0) {
        pump.emplace(bus);
    }

    QCoreApplication::exec();

    running = nullptr;
    instance.stop(); // before the bus lets go of the name
    return static_cast<int>(ExitStatus::success);
}

} // namespace

int runRunCommand(const std::vector<std::string>& args, const ConsoleStreams& console) {
    return runReportingErrors(console, "run", [&] {
        const auto options = parseRunOptions(args);
        if (options.showHelp) {
            console.out << formatCommandUsage(*findCommandHelp("run"));
            return static_cast<int>(ExitStatus::success);
        }
        // Checked before anything starts, so that a bad preset changes nothing.
        std::optional<PresetSelection> selection;
        if (options.presets.anyGiven()) {
            selection = selectPreset(options.presets);
        }
        return runApplication(options, selection, console);
    });
}

} // namespace quellora
