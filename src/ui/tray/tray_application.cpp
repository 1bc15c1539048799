#include "ui/tray/tray_application.h"

#include "app/model_instance_controller.h"
#include "app/session_bus_instance.h"
#include "distribution/command_runner.h"
#include "distribution/dev_build.h"
#include "distribution/linux_update_driver.h"
#include "runtime/application_services.h"
#include "runtime/qt_dispatcher.h"
#include "runtime/session_bus_pump.h"
#include "runtime/termination_signal_watcher.h"
#include "ui/tray/app_delegate.h"
#include "ui/tray/session_relaunch.h"
#include "ui/tray/system_tray_status_item.h"
#include "ui/tray/x11_global_hot_key.h"

#include <QApplication>
#include <QGuiApplication>
#include <optional>

namespace quellora {
namespace {

// A second launch: the running instance opens its panel, or its setup.
int handOverToRunningInstance(std::ostream& err) {
    const auto reply = sendToRunningInstance({InstanceCommand::activate, {}});
    if (reply.status == InstanceReply::Status::done) {
        return 0;
    }
    err << "quellora: another Quellora holds the session but did not answer"
        << (reply.text.empty() ? "" : ": " + reply.text) << '\n';
    return 1;
}

// Not quit(): that asks every window to close first, and the panel, a window
// of its own on a desktop without a tray, only minimises, which cancels it.
void quitApplication() {
    QCoreApplication::exit(0);
}

// Everything of one instance, its bus name included, lives and goes within this.
int runTraySession(std::ostream& err, RelaunchRequest& relaunch) {
    installApplicationLogSinks(LogLevel::error);
    const Logger log("Setup");

    int argc = 1;
    char programName[] = "quellora";
    char* argv[] = {programName, nullptr};
    QApplication application(argc, argv);
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Quellora"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.quellora.Quellora"));
    QApplication::setQuitOnLastWindowClosed(false);
    const TerminationSignalWatcher terminationSignals([](int) { quitApplication(); });

    QtDispatcher mainQueue;
    // Made after the instance check, so a second launch never touches the
    // audio server; outlives the model.
    std::unique_ptr<ApplicationServices> services;
    // The bus name outlives the model, so that a `quellora run` waiting for
    // it reads the settings only once this model has written them.
    AppDelegate* running = nullptr;
    ModelInstanceController controller(
        [&running] { return running ? running->existingModel() : nullptr; },
        [&running] {
            if (running) {
                running->applicationShouldHandleReopen();
            }
        });
    SessionBusInstance instance(InstanceKind::tray, controller);
    AppDelegate delegate({
        .mainQueue = mainQueue,
        .makeModel = [&] { return std::make_unique<AppState>(services->modelServices()); },
        .makeUpdater =
            [&] {
                auto quitAndRelaunch = [&relaunch](std::vector<std::string> command) {
                    relaunch = std::move(command);
                    quitApplication();
                };
                return std::make_unique<Updater>(makeUpdateDriver(mainQueue, quitAndRelaunch),
                                                 mainQueue, DevBuild::isActive());
            },
        .statusItem = std::make_unique<SystemTrayStatusItem>(),
        .hotKey = std::make_unique<X11GlobalHotKey>(),
        .quit = quitApplication,
    });

    running = &delegate;
    // A `quellora run` holding the name lets this one have it, and waits.
    std::optional<SessionBusPump> pump;
    switch (instance.claim()) {
    case SessionBusInstance::Claim::heldByAnother:
        return handOverToRunningInstance(err);
    case SessionBusInstance::Claim::noSessionBus:
        log.error("No D-Bus session bus (%{public}s): a second launch and the quellora commands "
                  "cannot reach this instance",
                  instance.connectionError());
        break;
    case SessionBusInstance::Claim::owned:
    case SessionBusInstance::Claim::queued:
        pump.emplace(instance);
        break;
    }

    services = std::make_unique<ApplicationServices>(mainQueue);
    QObject::connect(&application, &QGuiApplication::applicationStateChanged, &delegate,
                     [&delegate](Qt::ApplicationState state) {
                         if (state == Qt::ApplicationActive) {
                             delegate.applicationDidBecomeActive();
                         } else if (state == Qt::ApplicationInactive) {
                             delegate.applicationDidResignActive();
                         }
                     });
    delegate.applicationDidFinishLaunching();
    QApplication::exec();
    delegate.applicationWillTerminate();
    return 0;
}

} // namespace

int runTrayApplication(std::ostream& err) {
    ProcessCommandRunner runner;
    return runSessionThenRelaunch(
        [&err](RelaunchRequest& relaunch) { return runTraySession(err, relaunch); }, runner, err);
}

} // namespace quellora
