#include "ui/tray/app_delegate.h"

#include "ui/panel/content_view.h"
#include "ui/panel/setup_view.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

namespace quellora {
namespace {

constexpr auto menuRetryInterval = seconds(0.05);

QRect primaryAvailableGeometry() {
    const auto* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->availableGeometry() : QRect();
}

} // namespace

AppDelegate::AppDelegate(AppDelegateServices services)
    : mainQueue_(services.mainQueue)
    , makeModel_(std::move(services.makeModel))
    , makeUpdater_(std::move(services.makeUpdater))
    , statusItem_(std::move(services.statusItem))
    , hotKey_(std::move(services.hotKey))
    , quit_(std::move(services.quit)) {}

AppDelegate::~AppDelegate() {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeEventFilter(this);
    }
}

AppState& AppDelegate::appState() {
    if (!appState_) {
        appState_ = makeModel_();
    }
    return *appState_;
}

Updater& AppDelegate::updater() {
    if (!updater_) {
        updater_ = makeUpdater_();
    }
    return *updater_;
}

bool AppDelegate::modeIs(AppMode::Kind kind) const {
    return appState_ && appState_->mode().get().kind() == kind;
}

bool AppDelegate::isPanelOpen() const {
    return panel_ && panel_->isOpen();
}

bool AppDelegate::isSetupWindowVisible() const {
    return setupWindow_ && setupWindow_->isVisible();
}

void AppDelegate::applicationDidFinishLaunching() {
    statusItem_->setSymbol(Symbol::waveform);
    statusItem_->setClickHandler(lifetime_.guard([this] { iconClicked(); }));
    statusItem_->setTrayAvailabilityHandler(
        lifetime_.guard([this](bool available) { followTray(available); }));
    statusItem_->show();

    // The panel's view is the model's first use: creating the model starts
    // processing, or asks for the permission.
    auto* content = new ContentView(appState(), updater());
    connect(content, &ContentView::quitRequested, this, [this] { quit_(); });
    panel_ = std::make_unique<PanelPopup>(content);
    fitPanel();
    connect(panel_.get(), &PanelPopup::willOpen, this, &AppDelegate::menuWillOpen);
    connect(panel_.get(), &PanelPopup::didClose, this, &AppDelegate::menuDidClose);
    followTray(statusItem_->isTrayAvailable());

    updater().setDismissMenu(lifetime_.guard([this] { panel_->close(); }));

    QCoreApplication::instance()->installEventFilter(this);
    registerGlobalHotKey();
    updateStatusIcon();
    updateSetupPresentation();
    fitPanel();
    observeStateChanges();
}

void AppDelegate::registerGlobalHotKey() {
    // A failure leaves the application without the hot key, silently.
    hotKey_->registerHotKey(lifetime_.guard(
        [this] { mainQueue_.post(lifetime_.guard([this] { toggleCompression(); })); }));
}

void AppDelegate::toggleCompression() {
    if (appState_) {
        appState_->send(toggleEvent(appState_->mode().get()));
    }
}

void AppDelegate::observeStateChanges() {
    modeObservation_ = appState().mode().subscribe([this](const AppMode&) { stateChanged(); });
    lowVolumeObservation_ =
        appState().lowVolumeWarning().subscribe([this](bool) { stateChanged(); });
}

// Changes that come together are followed once, on the next turn of the
// main queue.
void AppDelegate::stateChanged() {
    if (std::exchange(updatePending_, true)) {
        return;
    }
    mainQueue_.post(lifetime_.guard([this] {
        updatePending_ = false;
        updateStatusIcon();
        updateSetupPresentation();
        fitPanel();
    }));
}

void AppDelegate::updateStatusIcon() {
    statusItem_->setSymbol(statusSymbol(appState().mode(), appState().lowVolumeWarning()));
}

void AppDelegate::updateSetupPresentation() {
    switch (setupPresentation(appState().mode(), isSetupWindowVisible())) {
    case SetupPresentation::detachAndShowSetup:
        panelAttached_ = false;
        panel_->hide();
        showSetupWindow();
        break;
    case SetupPresentation::surfaceSuccess:
        log_.notice("updateSetupPresentation: setup complete — surfacing success screen");
        showSetupWindow();
        break;
    case SetupPresentation::attachPanel:
        attachPanel();
        break;
    }
}

void AppDelegate::attachPanel() {
    // Without a tray the window is the only sign of Quellora: it shows from
    // the moment the panel may open.
    if (!std::exchange(panelAttached_, true) && panel_->isWindowed()) {
        panel_->raiseWindow();
    }
}

void AppDelegate::followTray(bool trayAvailable) {
    if (panel_->isWindowed() == !trayAvailable) {
        return;
    }
    if (trayAvailable) {
        log_.notice("A system tray appeared: the panel drops down from the tray icon again");
    } else {
        log_.notice("No system tray: the panel opens as a window of its own");
    }
    panel_->setWindowed(!trayAvailable);
    if (setupView_ != nullptr) {
        setupView_->setTrayShown(trayAvailable);
    }
    if (!trayAvailable && panelAttached_) {
        panel_->raiseWindow();
    }
}

void AppDelegate::showSetupWindow() {
    if (!setupWindow_) {
        auto* view = new SetupView(appState());
        view->setTrayShown(!panel_->isWindowed());
        connect(view, &SetupView::setupDone, this, [this] { setupWindow_->close(); });
        connect(view, &SetupView::quitRequested, this, [this] { quit_(); });
        setupView_ = view;
        setupWindow_ = std::make_unique<SetupWindow>(view);
        connect(setupWindow_.get(), &SetupWindow::closing, this, &AppDelegate::windowWillClose);
        setupWindow_->centreOnScreen();
    }
    present(*setupWindow_);
}

void AppDelegate::present(SetupWindow& window) {
    window.setFloating(true);
    surface(window);
}

void AppDelegate::surface(SetupWindow& window) {
    window.show();
    window.raise();
    window.activateWindow();
}

void AppDelegate::iconClicked() {
    if (!panelAttached_) {
        statusItemClicked();
    } else if (isPanelOpen()) {
        panel_->close();
    } else {
        openPanel(panelAnchor(statusItem_->placement(), primaryAvailableGeometry(),
                              statusItem_->lastClickPosition()));
    }
}

void AppDelegate::perform(SetupAction action) {
    switch (action) {
    case SetupAction::showSetup:
        showSetupWindow();
        break;
    case SetupAction::surfaceSetup:
        surface(*setupWindow_);
        break;
    case SetupAction::openPanel:
        openMenuBarMenu(0);
        break;
    case SetupAction::nothing:
        break;
    }
}

void AppDelegate::statusItemClicked() {
    perform(detachedClickAction(appState().mode(), isSetupWindowVisible()));
}

void AppDelegate::windowWillClose() {
    if (modeIs(AppMode::Kind::needsPermission)) {
        // Detached: the next click reopens setup.
        return;
    }
    panelAttached_ = true;
    openMenuBarMenu(0);
}

void AppDelegate::menuWillOpen() {
    appState().setMenuIsOpen(true);
    fitPanel();
    // Once more after the opened panel has laid itself out.
    mainQueue_.post(lifetime_.guard([this] { fitPanel(); }));
}

void AppDelegate::menuDidClose() {
    appState().setMenuIsOpen(false);
}

void AppDelegate::fitPanel() {
    panel_->fitContent();
}

void AppDelegate::openMenuBarMenu(long attempt) {
    mainQueue_.post(lifetime_.guard([this, attempt] { tryOpeningMenu(attempt); }));
}

void AppDelegate::tryOpeningMenu(long attempt) {
    if (!panelAttached_) {
        log_.notice("openMenuBarMenu: aborted — menu not attached");
        return;
    }
    if (panel_->isWindowed()) {
        log_.notice("openMenuBarMenu: no tray — raising the panel's window");
        panel_->raiseWindow();
        return;
    }
    const auto placement = statusItem_->placement();
    switch (panelOpeningStep(placement, attempt)) {
    case PanelOpening::atIcon:
    case PanelOpening::atFallback:
        log_.notice("openMenuBarMenu: clicking (attempt=%{public}ld, appActive=%{bool,public}d, "
                    "policy=%{public}s)",
                    attempt, QGuiApplication::applicationState() == Qt::ApplicationActive,
                    policyName(isSetupWindowVisible() || isPanelWindowed()));
        openPanel(panelAnchor(placement, primaryAvailableGeometry(), std::nullopt));
        break;
    case PanelOpening::retry:
        mainQueue_.postAfter(menuRetryInterval,
                             lifetime_.guard([this, attempt] { tryOpeningMenu(attempt + 1); }));
        break;
    case PanelOpening::giveUp:
        log_.error(
            "openMenuBarMenu: status button never positioned — gave up after %{public}ld attempts",
            attempt);
        break;
    }
}

void AppDelegate::openPanel(const QRect& anchor) {
    panel_->openAt(anchor);
}

void AppDelegate::applicationDidBecomeActive() {
    if (!appState_) {
        return;
    }
    appState_->recheckPermission();
    appState_->refreshLaunchAtLoginStatus();
    if (modeIs(AppMode::Kind::needsPermission)) {
        showSetupWindow();
    }
}

void AppDelegate::applicationDidResignActive() {
    if (appState_ && isSetupWindowVisible()) {
        setupWindow_->setFloating(false);
    }
}

bool AppDelegate::applicationShouldHandleReopen() {
    if (!appState_) {
        return true;
    }
    appState_->recheckPermission();
    appState_->refreshLaunchAtLoginStatus();
    perform(reopenAction(appState_->mode(), isSetupWindowVisible()));
    return true;
}

void AppDelegate::applicationWillTerminate() {
    if (appState_) {
        appState_->engine().stop();
    }
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (isQuitShortcut(key->key(), key->modifiers())) {
            quit_();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace quellora
