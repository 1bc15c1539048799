#pragma once

#include "app/app_state.h"
#include "base/dispatcher.h"
#include "base/lifetime.h"
#include "base/log.h"
#include "base/observable.h"
#include "distribution/updater.h"
#include "ui/tray/global_hot_key.h"
#include "ui/tray/panel_popup.h"
#include "ui/tray/setup_window.h"
#include "ui/tray/status_item.h"
#include "ui/tray/tray_decisions.h"

#include <QObject>
#include <QRect>
#include <functional>
#include <memory>
#include <string>

namespace quellora {

class SetupView;

// What the tray controller is built from.
struct AppDelegateServices {
    Dispatcher& mainQueue;
    // Called once, when the model and the update service are first needed.
    std::function<std::unique_ptr<AppState>()> makeModel;
    std::function<std::unique_ptr<Updater>()> makeUpdater;
    std::unique_ptr<StatusItem> statusItem;
    std::unique_ptr<GlobalHotKey> hotKey;
    // Ends the application; applicationWillTerminate follows.
    std::function<void()> quit;
};

// The application's shell: the tray icon and the panel that drops down from
// it, the setup window, the global hot key, the model and the update
// service. Keeps the icon, the panel's attachment and the setup window in
// step with the model's mode, and the taskbar entry present while a window
// needs it. Where the desktop has no tray, the panel is an ordinary window
// instead, shown at start and raised by a second launch; it follows a tray
// that appears or goes later. Main thread only; log category "Setup".
class AppDelegate final : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(AppDelegateServices services);
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // The application's life.
    void applicationDidFinishLaunching();
    void applicationDidBecomeActive();
    void applicationDidResignActive();
    // The user started the application again while it runs; always true.
    bool applicationShouldHandleReopen();
    void applicationWillTerminate();

    // The hot key: on in mode off, off in every other mode.
    void toggleCompression();
    // Opens the panel without a click, once the icon has a place; retries
    // every 0.05 s up to attempt 40.
    void openMenuBarMenu(long attempt);

    // The model once it has been made; what another process asks goes to it.
    AppState* existingModel() const { return appState_.get(); }

    // What is on screen.
    bool isAppStateInitialized() const { return appState_ != nullptr; }
    // A click on the icon opens the panel while it is attached; otherwise it
    // reaches the setup window.
    bool isPanelAttached() const { return panelAttached_; }
    bool isPanelOpen() const;
    // The panel is a window of its own: there is no tray to show the icon.
    bool isPanelWindowed() const { return panel_ && panel_->isWindowed(); }
    bool isSetupWindowVisible() const;
    PanelPopup* panel() const { return panel_.get(); }
    SetupWindow* setupWindow() const { return setupWindow_.get(); }

protected:
    // The quit shortcut, in every window of the application.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    AppState& appState();
    Updater& updater();
    void registerGlobalHotKey();
    void observeStateChanges();
    void stateChanged();
    void updateStatusIcon();
    void updateSetupPresentation();
    void showSetupWindow();
    void present(SetupWindow& window);
    void surface(SetupWindow& window);
    void iconClicked();
    void statusItemClicked();
    // What a click on the detached icon or a second launch asks for.
    void perform(SetupAction action);
    void windowWillClose();
    void menuWillOpen();
    void menuDidClose();
    void tryOpeningMenu(long attempt);
    void openPanel(const QRect& anchor);
    void followTray(bool trayAvailable);
    void attachPanel();
    void fitPanel();
    bool modeIs(AppMode::Kind kind) const;

    Dispatcher& mainQueue_;
    std::function<std::unique_ptr<AppState>()> makeModel_;
    std::function<std::unique_ptr<Updater>()> makeUpdater_;
    std::unique_ptr<StatusItem> statusItem_;
    std::unique_ptr<GlobalHotKey> hotKey_;
    std::function<void()> quit_;
    Logger log_{"Setup"};

    // Before the windows, whose views hold on to them.
    std::unique_ptr<AppState> appState_;
    std::unique_ptr<Updater> updater_;
    std::unique_ptr<PanelPopup> panel_;
    std::unique_ptr<SetupWindow> setupWindow_;
    SetupView* setupView_ = nullptr; // in setupWindow_
    bool panelAttached_ = false;
    Subscription modeObservation_;
    Subscription lowVolumeObservation_;
    bool updatePending_ = false;
    Lifetime lifetime_; // last: closures stop working before anything else goes
};

} // namespace quellora
