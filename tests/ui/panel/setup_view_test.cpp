// The setup screens: the permission step by status, the success screen, and
// the choice between them by mode alone.

#include "panel_test_fixture.h"
#include "ui/panel/setup_view.h"

#include <gmock/gmock.h>

#include <QAbstractButton>
#include <QSignalSpy>
#include <QTest>

namespace quellora {
namespace {

using ::testing::Contains;
using ::testing::Not;

const QString loginNote = "Quellora starts automatically when you log in. You can turn it off "
                          "anytime from its panel.";

class SetupViewTest : public PanelTest {
protected:
    SetupView& makeSetup(SystemAudioAuthStatus status) {
        permission->setStatus(status);
        makeModel();
        return keep(std::make_unique<SetupView>(*model));
    }
    static bool hasQuitButton(const SetupView& setup) {
        return accessible<QAbstractButton>(setup, "Quit Quellora") != nullptr;
    }
};

TEST_F(SetupViewTest, FirstRunWelcomesAndAsksTheSystem) {
    auto& setup = makeSetup(SystemAudioAuthStatus::undetermined);
    screenshot(setup, "setup-permission-undetermined");
    expectContentFits(setup);
    ASSERT_EQ(model->mode().get(), AppMode::needsPermission());

    const auto texts = shownTexts(setup);
    EXPECT_THAT(texts, Contains("Welcome to Quellora"));
    EXPECT_THAT(texts, Contains(loginNote));
    EXPECT_THAT(texts, Not(Contains("You're all set!")));
    EXPECT_TRUE(hasQuitButton(setup));
    auto* grant = accessible<QAbstractButton>(setup, "Grant Permission");
    ASSERT_NE(grant, nullptr);

    grant->click();
    EXPECT_EQ(permission->requests(), 1);
    permission->answer(true);
    advance(0.0);
    EXPECT_EQ(model->mode().get(), AppMode::on());
    EXPECT_THAT(shownTexts(setup), Contains("You're all set!"));
    EXPECT_FALSE(hasQuitButton(setup));
}

TEST_F(SetupViewTest, ADeniedPermissionSendsTheUserToTheSettings) {
    auto& setup = makeSetup(SystemAudioAuthStatus::denied);
    screenshot(setup, "setup-permission-denied");
    expectContentFits(setup);

    const auto texts = shownTexts(setup);
    EXPECT_THAT(texts, Contains("Permission Required"));
    EXPECT_THAT(texts, Not(Contains(loginNote)));
    EXPECT_TRUE(hasQuitButton(setup));
    auto* retry = accessible<QAbstractButton>(setup, "Try Again");
    ASSERT_NE(retry, nullptr);
    retry->click();
    EXPECT_EQ(permission->settingsOpened(), 1);

    QSignalSpy quit(&setup, &SetupView::quitRequested);
    accessible<QAbstractButton>(setup, "Quit Quellora")->click();
    EXPECT_EQ(quit.count(), 1);
}

TEST_F(SetupViewTest, TheScreenFollowsTheModeAlone) {
    auto& setup = makeSetup(SystemAudioAuthStatus::denied);
    model->send(AppEvent::Kind::userDisabled); // the hot key while setup shows
    EXPECT_EQ(model->mode().get(), AppMode::off());
    EXPECT_THAT(shownTexts(setup), Contains("You're all set!"));
    EXPECT_FALSE(hasQuitButton(setup));
}

TEST_F(SetupViewTest, ReturnOnTheSuccessScreenIsDone) {
    auto& setup = makeSetup(SystemAudioAuthStatus::authorized);
    screenshot(setup, "setup-success");
    QSignalSpy done(&setup, &SetupView::setupDone);
    setup.show();
    setup.activateWindow();
    QCoreApplication::processEvents();

    QTest::keyClick(&setup, Qt::Key_Return);
    EXPECT_EQ(done.count(), 1);
    accessible<QAbstractButton>(setup, "Done")->click();
    EXPECT_EQ(done.count(), 2);

    // On the permission screen Return is nobody's.
    model->send(AppEvent::Kind::userDisabled);
    permission->setStatus(SystemAudioAuthStatus::denied);
    model->send(AppEvent::Kind::userEnabled);
    ASSERT_EQ(model->mode().get(), AppMode::needsPermission());
    QTest::keyClick(&setup, Qt::Key_Return);
    EXPECT_EQ(done.count(), 2);
}

} // namespace
} // namespace quellora
