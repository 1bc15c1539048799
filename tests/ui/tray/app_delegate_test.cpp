// The tray controller on a fake tray icon, hot key and update driver, with
// the real panel and setup screens, the model on the simulated server and
// the main queue on virtual time.

#include "app/app_test_fixture.h"
#include "support/staging_update_driver.h"
#include "ui/panel/setup_view.h"
#include "ui/tray/app_delegate.h"

#include <QApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTest>

namespace quellora {
namespace {

class FakeStatusItem final : public StatusItem {
public:
    void show() override { shown = true; }
    void setSymbol(Symbol newSymbol) override { symbol = newSymbol; }
    IconPlacement placement() const override { return place; }
    std::optional<QPoint> lastClickPosition() const override { return std::nullopt; }
    void setClickHandler(std::function<void()> handler) override { clicked = std::move(handler); }
    bool isTrayAvailable() const override { return trayAvailable; }
    void setTrayAvailabilityHandler(std::function<void(bool)> handler) override {
        availabilityChanged = std::move(handler);
    }
    void setTrayAvailable(bool available) {
        trayAvailable = available;
        availabilityChanged(available);
    }

    bool shown = false;
    Symbol symbol = Symbol::trash;
    IconPlacement place{true, QRect(700, 2, 22, 22), true};
    bool trayAvailable = true;
    std::function<void()> clicked;
    std::function<void(bool)> availabilityChanged;
};

class FakeHotKey final : public GlobalHotKey {
public:
    bool registerHotKey(std::function<void()> handler) override {
        pressed = std::move(handler);
        return true;
    }
    std::function<void()> pressed;
};

class AppDelegateTest : public AppStateTest {
protected:
    void TearDown() override {
        delegate.reset();
        AppStateTest::TearDown();
    }

    AppDelegate& makeDelegate() {
        auto ownedIcon = std::make_unique<FakeStatusItem>();
        auto ownedHotKey = std::make_unique<FakeHotKey>();
        icon = ownedIcon.get();
        hotKey = ownedHotKey.get();
        delegate = std::make_unique<AppDelegate>(AppDelegateServices{
            mainQueue,
            [this] {
                auto created = std::make_unique<AppState>(AppServices{
                    hal, mainQueue, diagnosticsQueue, {}, settings, permission, loginItem});
                appState = created.get();
                return created;
            },
            [this] { return std::make_unique<Updater>(driver, mainQueue, false); },
            std::move(ownedIcon), std::move(ownedHotKey),
            [this] {
                ++quits;
            }});
        return *delegate;
    }
    AppDelegate& launch(SystemAudioAuthStatus status = SystemAudioAuthStatus::authorized,
                        bool trayAvailable = true) {
        permission->setStatus(status);
        makeDelegate();
        icon->trayAvailable = trayAvailable;
        delegate->applicationDidFinishLaunching();
        mainQueue.runUntilIdle();
        return *delegate;
    }
    void pressHotKey() {
        hotKey->pressed();
        mainQueue.runUntilIdle();
    }
    void closeSetup() {
        delegate->setupWindow()->close();
        mainQueue.runUntilIdle();
    }
    AppMode mode() const { return appState->mode().get(); }

    std::shared_ptr<StagingUpdateDriver> driver = std::make_shared<StagingUpdateDriver>();
    FakeStatusItem* icon = nullptr;
    FakeHotKey* hotKey = nullptr;
    AppState* appState = nullptr;
    int quits = 0;
    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(AppDelegateTest, LaunchWithPermissionAttachesThePanelThatClicksOpenAndClose) {
    auto& tray = launch();
    EXPECT_TRUE(icon->shown);
    EXPECT_EQ(icon->symbol, Symbol::waveform);
    EXPECT_EQ(mode(), AppMode::on());
    EXPECT_TRUE(tray.isPanelAttached());
    EXPECT_EQ(tray.setupWindow(), nullptr);

    icon->clicked();
    EXPECT_TRUE(tray.isPanelOpen());
    EXPECT_TRUE(appState->menuIsOpen().get());
    // Under the icon, at the top of the screen.
    EXPECT_GT(tray.panel()->y(), icon->place.geometry.bottom());
    icon->clicked();
    EXPECT_FALSE(tray.isPanelOpen());
    EXPECT_FALSE(appState->menuIsOpen().get());
}

TEST_F(AppDelegateTest, LaunchWithoutPermissionShowsSetupUntilClosedAndAClickBringsItBack) {
    auto& tray = launch(SystemAudioAuthStatus::denied);
    EXPECT_EQ(mode(), AppMode::needsPermission());
    EXPECT_EQ(icon->symbol, Symbol::waveformBadgeExclamationmark);
    EXPECT_FALSE(tray.isPanelAttached());
    ASSERT_TRUE(tray.isSetupWindowVisible());
    const auto* firstWindow = tray.setupWindow();
    closeSetup();
    EXPECT_FALSE(tray.isPanelAttached());
    EXPECT_FALSE(tray.isPanelOpen());
    icon->clicked();
    EXPECT_TRUE(tray.isSetupWindowVisible());
    EXPECT_EQ(tray.setupWindow(), firstWindow);
    EXPECT_FALSE(tray.isPanelOpen());
}

TEST_F(AppDelegateTest, PermissionGrantedWhileSetupIsUpSurfacesSuccessAndDoneOpensThePanel) {
    auto& tray = launch(SystemAudioAuthStatus::undetermined);
    ASSERT_TRUE(tray.isSetupWindowVisible());
    permission->setStatus(SystemAudioAuthStatus::authorized);
    tray.applicationDidBecomeActive();
    mainQueue.runUntilIdle();

    EXPECT_EQ(mode(), AppMode::on());
    EXPECT_TRUE(tray.isSetupWindowVisible());
    EXPECT_FALSE(tray.isPanelAttached());
    EXPECT_EQ(icon->symbol, Symbol::waveform);

    Q_EMIT tray.setupWindow()->findChild<SetupView*>()->setupDone();
    EXPECT_FALSE(tray.isSetupWindowVisible());
    EXPECT_TRUE(tray.isPanelAttached());
    mainQueue.runUntilIdle();
    EXPECT_TRUE(tray.isPanelOpen());
    EXPECT_EQ(log.countStartingWith("openMenuBarMenu: clicking (attempt=0,"), 1u) << "once";
}

TEST_F(AppDelegateTest, HotKeySwitchesOffInEveryModeButOffOnTheNextTurnOfTheQueue) {
    launch(SystemAudioAuthStatus::denied);
    hotKey->pressed();
    EXPECT_EQ(mode(), AppMode::needsPermission());
    mainQueue.runUntilIdle();
    EXPECT_EQ(mode(), AppMode::off());

    permission->setStatus(SystemAudioAuthStatus::authorized);
    pressHotKey();
    EXPECT_EQ(mode(), AppMode::on());
    appState->send(AppEvent::engineFailed("Reconnecting to your audio…"));
    mainQueue.runUntilIdle();
    EXPECT_EQ(icon->symbol, Symbol::waveformBadgeXmark);
    pressHotKey();
    EXPECT_EQ(mode(), AppMode::off());
}

TEST_F(AppDelegateTest, OpeningWithoutAClickWaitsForTheIconGivesUpAfterAttempt40OrUsesTheCorner) {
    auto& tray = launch();
    icon->place = {true, QRect(0, 0, 22, 22), true}; // not docked yet
    tray.openMenuBarMenu(0);
    advance(0.975);
    EXPECT_FALSE(tray.isPanelOpen());
    icon->place.geometry.moveTo(900, 2);
    advance(0.05);
    EXPECT_TRUE(tray.isPanelOpen());
    EXPECT_EQ(log.countStartingWith("openMenuBarMenu: clicking (attempt=20, "), 1u);

    tray.panel()->close();
    icon->place = {false, QRect(), true};
    tray.openMenuBarMenu(0);
    advance(5.0);
    EXPECT_FALSE(tray.isPanelOpen());
    EXPECT_EQ(log.count("openMenuBarMenu: status button never positioned — gave up after 40 "
                        "attempts"),
              1u);

    // Notifier hosts never tell: the panel opens at once in the screen's corner.
    icon->place = {true, QRect(), false};
    tray.applicationShouldHandleReopen();
    mainQueue.runUntilIdle();
    ASSERT_TRUE(tray.isPanelOpen());
    const auto screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_GT(tray.panel()->geometry().right(), screen.right() - 10);
}

TEST_F(AppDelegateTest, OpeningWhileDetachedIsAbortedAndTheQuitShortcutQuits) {
    auto& tray = launch(SystemAudioAuthStatus::denied);
    tray.openMenuBarMenu(0);
    mainQueue.runUntilIdle();
    EXPECT_FALSE(tray.isPanelOpen());

    QKeyEvent other(QEvent::KeyPress, Qt::Key_W, Qt::ControlModifier);
    QCoreApplication::sendEvent(tray.setupWindow(), &other);
    EXPECT_EQ(quits, 0);
    QKeyEvent quit(QEvent::KeyPress, Qt::Key_Q, Qt::ControlModifier, "q");
    QCoreApplication::sendEvent(tray.setupWindow(), &quit);
    EXPECT_EQ(quits, 1);
}

TEST_F(AppDelegateTest, BeforeLaunchNothingCreatesTheModelAndTerminatingStopsTheEngine) {
    auto& tray = makeDelegate();
    EXPECT_TRUE(tray.applicationShouldHandleReopen());
    tray.applicationDidBecomeActive();
    tray.toggleCompression();
    tray.applicationWillTerminate();
    EXPECT_FALSE(tray.isAppStateInitialized());
    EXPECT_EQ(tray.existingModel(), nullptr);

    tray.applicationDidFinishLaunching();
    advance(0.5);
    ASSERT_EQ(hal.taps().size(), 1u);
    tray.applicationWillTerminate();
    EXPECT_TRUE(hal.taps().empty());
}

TEST_F(AppDelegateTest, WithoutATrayThePanelIsAWindowThatStaysInTheTaskbarAndReopenRaises) {
    auto& tray = launch(SystemAudioAuthStatus::authorized, false);
    EXPECT_TRUE(logged("No system tray: the panel opens as a window of its own"));
    ASSERT_TRUE(tray.isPanelWindowed());
    EXPECT_TRUE(tray.isPanelOpen()) << "shown at start";
    EXPECT_TRUE(appState->menuIsOpen().get());
    EXPECT_FALSE(tray.panel()->windowFlags().testFlag(Qt::Popup));
    EXPECT_TRUE(tray.panel()->findChild<QWidget*>("noTrayNote")->isVisible());

    // Closing, or Escape, only minimises: Quellora stays in the taskbar.
    tray.panel()->close();
    EXPECT_TRUE(tray.panel()->isVisible());
    EXPECT_TRUE(tray.panel()->isMinimized());
    EXPECT_FALSE(tray.isPanelOpen());
    EXPECT_FALSE(appState->menuIsOpen().get()) << "the displays rest";
    EXPECT_TRUE(tray.applicationShouldHandleReopen());
    mainQueue.runUntilIdle();
    EXPECT_TRUE(tray.isPanelOpen());
    QTest::keyClick(tray.panel(), Qt::Key_Escape);
    EXPECT_TRUE(tray.panel()->isMinimized());

    // A tray appears: the window goes and the icon's panel drops down again.
    icon->setTrayAvailable(true);
    EXPECT_FALSE(tray.isPanelWindowed());
    EXPECT_FALSE(tray.panel()->isVisible());
    icon->clicked();
    EXPECT_TRUE(tray.isPanelOpen());
    EXPECT_TRUE(tray.panel()->windowFlags().testFlag(Qt::Popup));
    EXPECT_FALSE(tray.panel()->findChild<QWidget*>("noTrayNote")->isVisible());

    // And when it goes, the window comes back at once.
    icon->setTrayAvailable(false);
    EXPECT_TRUE(tray.isPanelOpen());
    EXPECT_TRUE(tray.isPanelWindowed());
}

TEST_F(AppDelegateTest, WithoutATrayOrPermissionSetupComesFirstAndDoneOpensTheWindow) {
    auto& tray = launch(SystemAudioAuthStatus::undetermined, false);
    EXPECT_TRUE(tray.isSetupWindowVisible());
    EXPECT_FALSE(tray.isPanelOpen());
    permission->setStatus(SystemAudioAuthStatus::authorized);
    tray.applicationDidBecomeActive();
    mainQueue.runUntilIdle();
    Q_EMIT tray.setupWindow()->findChild<SetupView*>()->setupDone();
    mainQueue.runUntilIdle();
    EXPECT_TRUE(tray.isPanelWindowed());
    EXPECT_TRUE(tray.isPanelOpen());
}

class PanelPopupTest : public ::testing::Test {
protected:
    QWidget* content = new QWidget;
    PanelPopup popup{content};
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
};

TEST_F(PanelPopupTest, AGrowingPanelKeepsHangingFromItsIconInsideTheScreen) {
    content->setFixedSize(300, 200);
    // An icon in a panel at the bottom of the screen: the popup opens above it.
    const QRect icon(screen.center().x(), screen.bottom() - 24, 22, 22);
    popup.openAt(icon);
    ASSERT_EQ(popup.geometry().bottom(), icon.top() - 5);

    content->setFixedSize(300, 320); // a banner came in
    QCoreApplication::processEvents();
    EXPECT_EQ(popup.height(), 320);
    EXPECT_EQ(popup.geometry().bottom(), icon.top() - 5);

    content->setFixedSize(300, 2 * screen.height());
    QCoreApplication::processEvents();
    EXPECT_EQ(popup.y(), screen.top() + 4) << "flush with the top when it cannot fit";
}

} // namespace
} // namespace quellora
