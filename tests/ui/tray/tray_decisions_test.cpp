// The tray controller's pure decisions: icon, setup, clicks, hot key,
// quit shortcut and where the panel opens.

#include "ui/tray/panel_placement.h"
#include "ui/tray/tray_decisions.h"
#include "ui/tray/x11_global_hot_key.h"

#include <gtest/gtest.h>

namespace quellora {
namespace {

const auto failed = AppMode::error("Reconnecting to your audio…");

TEST(TrayDecisions, IconShowsTheModeAndTheLowVolumeWarningOnlyWhileOn) {
    EXPECT_EQ(statusSymbol(AppMode::off(), false), Symbol::waveform);
    EXPECT_EQ(statusSymbol(AppMode::off(), true), Symbol::waveform);
    EXPECT_EQ(statusSymbol(AppMode::on(), false), Symbol::waveform);
    EXPECT_EQ(statusSymbol(AppMode::on(), true), Symbol::waveformBadgeMinus);
    EXPECT_EQ(statusSymbol(AppMode::needsPermission(), true), Symbol::waveformBadgeExclamationmark);
    EXPECT_EQ(statusSymbol(failed, true), Symbol::waveformBadgeXmark);
}

TEST(TrayDecisions, SetupComesFirstWhileNeededOrStillOnScreen) {
    const auto needs = AppMode::needsPermission();
    EXPECT_EQ(setupPresentation(needs, false), SetupPresentation::detachAndShowSetup);
    EXPECT_EQ(setupPresentation(needs, true), SetupPresentation::detachAndShowSetup);
    EXPECT_EQ(setupPresentation(AppMode::on(), true), SetupPresentation::surfaceSuccess);
    EXPECT_EQ(setupPresentation(AppMode::off(), false), SetupPresentation::attachPanel);

    EXPECT_EQ(detachedClickAction(needs, false), SetupAction::showSetup);
    EXPECT_EQ(detachedClickAction(failed, true), SetupAction::surfaceSetup);
    EXPECT_EQ(detachedClickAction(AppMode::on(), false), SetupAction::nothing);
    EXPECT_EQ(reopenAction(needs, true), SetupAction::showSetup);
    EXPECT_EQ(reopenAction(AppMode::off(), true), SetupAction::surfaceSetup);
    EXPECT_EQ(reopenAction(AppMode::on(), false), SetupAction::openPanel);
}

TEST(TrayDecisions, QuitShortcutIsControlQAlone) {
    EXPECT_TRUE(isQuitShortcut(Qt::Key_Q, Qt::ControlModifier));
    EXPECT_FALSE(isQuitShortcut(Qt::Key_Q, Qt::NoModifier));
    EXPECT_FALSE(isQuitShortcut(Qt::Key_W, Qt::ControlModifier));
    EXPECT_FALSE(isQuitShortcut(Qt::Key_Q, Qt::ControlModifier | Qt::ShiftModifier));
    EXPECT_FALSE(isQuitShortcut(Qt::Key_Q, Qt::ControlModifier | Qt::AltModifier));
}

TEST(PanelPlacement, HangsFromTheAnchorAndStaysOnScreen) {
    const QRect screen(0, 0, 1280, 800);
    const QSize panel(300, 500);
    // An icon in a top bar, near the right edge: under it, pushed inwards.
    EXPECT_EQ(panelPosition(QRect(1250, 2, 22, 22), panel, screen), QPoint(976, 28));
    // In a bottom bar, in the middle: above it, centred.
    EXPECT_EQ(panelPosition(QRect(630, 776, 22, 22), panel, screen), QPoint(490, 272));
    // A screen too small for the panel: flush with its top-left corner.
    EXPECT_EQ(panelPosition(QRect(10, 2, 22, 22), panel, QRect(0, 0, 200, 300)), QPoint(4, 4));

    EXPECT_EQ(fallbackAnchor(screen, QPoint(900, 790)).topLeft(), QPoint(900, 790));
    EXPECT_EQ(fallbackAnchor(screen, QPoint(-5, 10)).topLeft(), QPoint(1279, 0));
    EXPECT_EQ(panelAnchor({true, QRect(), false}, screen, std::nullopt).topLeft(), QPoint(1279, 0));
}

TEST(HotKeyMatcher, IgnoresLocksButNoOtherModifierAndCountsAHeldKeyOnce) {
    constexpr std::uint8_t c = 54;
    constexpr std::uint16_t controlShift = HotKeyMatcher::hotKeyModifiers;
    HotKeyMatcher matcher({c});
    for (const auto locks : HotKeyMatcher::lockVariants) {
        EXPECT_TRUE(matcher.matches(c, controlShift | locks));
    }
    EXPECT_FALSE(matcher.matches(c, HotKeyMatcher::controlMask));
    EXPECT_FALSE(matcher.matches(c, controlShift | 8)); // with Alt
    EXPECT_FALSE(matcher.matches(55, controlShift));

    EXPECT_TRUE(matcher.press(c, controlShift));
    EXPECT_FALSE(matcher.press(c, controlShift)); // auto-repeat
    EXPECT_FALSE(matcher.release(55));
    EXPECT_TRUE(matcher.release(c));
    EXPECT_FALSE(matcher.release(c));
    EXPECT_TRUE(matcher.press(c, controlShift | HotKeyMatcher::numLockMask));
}

} // namespace
} // namespace quellora
