#include "cli/run_command.h"

#include "app/app_state.h"
#include "cli/command_error.h"
#include "cli/preset_application.h"
#include "cli/preset_selection.h"
#include "cli/run_announcer.h"
#include "cli/run_options.h"
#include "ui/qt_core/qt_dispatcher.h"
#include "ui/qt_core/termination_signal_watcher.h"
#include "ui/tray/application_services.h"

#include <QCoreApplication>
#include <new>
#include <optional>

namespace quellora {
namespace {

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
    AppState* running = nullptr;
    const TerminationSignalWatcher terminationSignals([&running](int) {
        if (running != nullptr) {
            running->engine().stop();
        }
        QCoreApplication::quit();
    });

    QtDispatcher mainQueue;
    ApplicationServices services(mainQueue);
    AppState model(services.modelServices());
    running = &model;
    if (selection) {
        applyPresetSelection(model, *selection);
    }
    RunAnnouncer announcer(model, console.out, services.isServerConnected());
    services.setConnectionHandler(
        [&announcer](bool connected) { announcer.setServerConnected(connected); });

    QCoreApplication::exec();

    // Also when the loop ended some other way: the engine lets go of the
    // server's objects before the adapter disconnects.
    services.setConnectionHandler({});
    running = nullptr;
    if (model.engine().isRunning().get()) {
        model.engine().stop();
    }
    return static_cast<int>(ExitStatus::success);
}

int fail(const ConsoleStreams& console, ExitStatus status, std::string_view message) {
    return reportCommandError(console, "run", status, message);
}

} // namespace

std::string runUsage() {
    return "usage: quellora run [options]\n"
           "\n"
           "Runs Quellora without a window: what every other application plays is\n"
           "compressed and played on the default output until Ctrl+C or SIGTERM.\n"
           "Changes of state are printed as they happen.\n"
           "\n"
           "options:\n" +
           presetOptionsHelp("the built-in preset",
                             "(parameters then make a custom preset, as sliders do)") +
           "other:\n" +
           formatOptionHelp("-v, --verbose", "also print the log from level info on stderr") +
           formatOptionHelp("-h, --help", "show this text") +
           "\n"
           "Without preset or parameter options the presets last used stay selected;\n"
           "parameters given here are kept as the custom preset, like the panel's sliders.\n"
           "QUELLORA_LOG_LEVEL overrides the log level on stderr; QUELLORA_HAL=simulated\n"
           "runs on a simulated audio server that plays a demo programme.\n"
           "Options take their value as \"--opt value\" or \"--opt=value\".\n";
}

int runRunCommand(const std::vector<std::string>& args, const ConsoleStreams& console) {
    try {
        const auto options = parseRunOptions(args);
        if (options.showHelp) {
            console.out << runUsage();
            return static_cast<int>(ExitStatus::success);
        }
        // Checked before anything starts, so that a bad preset changes nothing.
        std::optional<PresetSelection> selection;
        if (options.presets.anyGiven()) {
            selection = selectPreset(options.presets);
        }
        return runApplication(options, selection, console);
    } catch (const CommandError& error) {
        return fail(console, error.status(), error.what());
    } catch (const std::bad_alloc&) {
        return fail(console, ExitStatus::failure, "out of memory");
    } catch (const std::exception& error) {
        return fail(console, ExitStatus::failure, error.what());
    }
}

} // namespace quellora
