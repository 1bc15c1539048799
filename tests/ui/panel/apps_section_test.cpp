// The panel's Apps section and the output its preset belongs to, bound to a
// real model on the simulated server.

#include "panel_test_fixture.h"
#include "ui/panel/apps_section.h"
#include "ui/panel/content_view.h"
#include "ui/panel/menu_switch.h"
#include "ui/panel/plain_button.h"
#include "ui/panel/tinted_label.h"

#include <gmock/gmock.h>

#include <QTest>

namespace quellora {
namespace {

const std::string longName = "A Remarkably Long Application Name That No Panel Row Could Ever Hold";

class AppsSectionTest : public PanelTest {
protected:
    ContentView& makePanel() {
        auto& panel = keep(std::make_unique<ContentView>(*model, updater));
        panel.resize(panel.sizeHint());
        panel.show();
        QCoreApplication::processEvents();
        return panel;
    }
    // Adds an application that has started playing on the speakers.
    AudioObjectID play(ProcessProfile profile) {
        const auto process = hal.addProcess(profile);
        hal.startPlayback(process, speakers);
        mainQueue.runUntilIdle();
        return process;
    }
    static AppsSection& apps(const ContentView& panel) {
        return *panel.findChild<AppsSection*>("apps");
    }
    static QWidget& list(const ContentView& panel) {
        return *panel.findChild<QWidget*>("appsList");
    }
    static PlainButton& disclosure(const ContentView& panel) {
        return *panel.findChild<PlainButton*>("appsDisclosure");
    }
    // The switch of the application shown as `name`, while the list is open.
    static MenuSwitch* switchOf(const ContentView& panel, const QString& name) {
        return accessible<MenuSwitch>(panel, name);
    }
    void expand(ContentView& panel) {
        disclosure(panel).click();
        panel.resize(panel.sizeHint());
        QCoreApplication::processEvents();
    }
    // The panel with the list open, kept as a screenshot, and all of it shown.
    ContentView& expandedPanel(const QString& screenshotName) {
        auto& panel = makePanel();
        expand(panel);
        screenshot(panel, screenshotName);
        expectContentFits(panel);
        return panel;
    }
};

TEST_F(AppsSectionTest, IsCollapsedUntilOpenedAndSaysWhenNothingPlays) {
    runningModel();
    auto& panel = makePanel();
    EXPECT_FALSE(apps(panel).isExpanded());
    EXPECT_FALSE(list(panel).isVisibleTo(&panel));
    EXPECT_EQ(disclosure(panel).hint(), "none");
    EXPECT_EQ(accessibleName(disclosure(panel)), "Apps, collapsed");
    const int collapsedHeight = panel.sizeHint().height();

    expand(panel);
    EXPECT_TRUE(list(panel).isVisibleTo(&panel));
    EXPECT_THAT(shownTexts(panel), ::testing::Contains("No application plays now."));
    EXPECT_GT(panel.sizeHint().height(), collapsedHeight);
    screenshot(panel, "panel-apps-none");
    expectContentFits(panel);
}

TEST_F(AppsSectionTest, ACallPlaysDirectSaysWhyAndItsSwitchLevelsIt) {
    runningModel();
    const auto call = play({.pid = 2001,
                            .bundleID = "linphone",
                            .name = "Linphone",
                            .directOutputReason = DirectOutputReason::callAudio});
    auto& panel = expandedPanel("panel-apps-one");
    EXPECT_EQ(disclosure(panel).hint(), "1, 1 direct");

    auto* toggle = switchOf(panel, "Linphone");
    ASSERT_NE(toggle, nullptr);
    EXPECT_FALSE(toggle->isOn());
    EXPECT_THAT(shownTexts(panel), ::testing::Contains("call audio"));
    EXPECT_FALSE(hal.tapTakes(hal.taps().front(), call));

    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_TRUE(toggle->isOn());
    EXPECT_TRUE(hal.tapTakes(hal.taps().front(), call));
    EXPECT_FALSE(model->applications().get().front().direct);
    EXPECT_THAT(shownTexts(panel), ::testing::Not(::testing::Contains("call audio")));
    EXPECT_EQ(disclosure(panel).hint(), "1");
}

// One of them plays on a device of its own, and says so.
TEST_F(AppsSectionTest, EightApplicationsFitAndLongNamesEndInAnEllipsis) {
    runningModel();
    const std::vector<std::string> names{"Firefox", "Spotify", "mpv",     "Linphone",
                                         "Steam",   "VLC",     "Discord", longName};
    std::int32_t pid = 3000;
    for (const auto& name : names) {
        play({.pid = ++pid,
              .bundleID = "app-" + std::to_string(pid),
              .name = name,
              .outputDeviceName = name == "Steam" ? "Headset" : ""});
    }
    play({.pid = 9999}); // nothing identifies it: not listed
    auto& panel = expandedPanel("panel-apps-eight");

    EXPECT_EQ(disclosure(panel).hint(), "8");
    EXPECT_THAT(shownTexts(panel), ::testing::Contains("plays on Headset"));
    for (const auto& name : names) {
        EXPECT_NE(switchOf(panel, QString::fromStdString(name)), nullptr) << name;
    }
    const auto labels = panel.findChildren<ElidedLabel*>();
    const auto elided = std::find_if(labels.begin(), labels.end(), [](const ElidedLabel* label) {
        return label->fullText().toStdString() == longName;
    });
    ASSERT_NE(elided, labels.end());
    EXPECT_TRUE((*elided)->text().endsWith(QChar(0x2026))) << (*elided)->text().toStdString();
    EXPECT_LT((*elided)->text().size(), static_cast<qsizetype>(longName.size()));
    EXPECT_THAT((*elided)->toolTip().toStdString(), ::testing::HasSubstr(longName));
    EXPECT_LE((*elided)->mapTo(&panel, QPoint((*elided)->width(), 0)).x(), panel.width());
}

TEST_F(AppsSectionTest, RememberedChoicesFollowWhatPlaysAndCanBeForgotten) {
    runningModel();
    play({.pid = 2001, .bundleID = "music", .name = "Music"});
    model->setApplicationDirect("Zoom", true);
    auto& panel = expandedPanel("panel-apps-remembered");
    EXPECT_EQ(disclosure(panel).hint(), "1");

    auto* zoom = switchOf(panel, "Zoom");
    ASSERT_NE(zoom, nullptr);
    EXPECT_FALSE(zoom->isOn());
    EXPECT_GT(zoom->mapTo(&panel, QPoint()).y(),
              switchOf(panel, "Music")->mapTo(&panel, QPoint()).y());
    EXPECT_THAT(shownTexts(panel), ::testing::Contains("remembered"));
    EXPECT_EQ(accessible(panel, "Forget Music"), nullptr);
    auto* forget = accessible<QAbstractButton>(panel, "Forget Zoom");
    ASSERT_NE(forget, nullptr);
    QTest::mouseClick(forget, Qt::LeftButton);
    EXPECT_EQ(switchOf(panel, "Zoom"), nullptr);
    EXPECT_EQ(model->applications().get().size(), 1u);
}

TEST_F(AppsSectionTest, IsDimmedAndInertWhileOff) {
    runningModel();
    play({.pid = 2001, .bundleID = "music", .name = "Music"});
    model->send(AppEvent::Kind::userDisabled);
    auto& panel = makePanel();
    expand(panel);
    EXPECT_FALSE(apps(panel).isExpanded()); // nor does it open
    apps(panel).setExpanded(true);
    EXPECT_FALSE(apps(panel).isEnabled());
    auto* toggle = switchOf(panel, "Music");
    ASSERT_NE(toggle, nullptr);
    QTest::mouseClick(toggle, Qt::LeftButton);
    EXPECT_FALSE(settings->contains("applications.v2"));
}

TEST_F(AppsSectionTest, ThePresetSaysWhichOutputItBelongsToAndALongNameGivesWay) {
    const auto headphones = hal.addOutputDevice(
        {.uid = "headphones", .name = "Family 17h/19h HD Audio Controller Headphones"});
    runningModel();
    auto& panel = makePanel();
    auto& status = *panel.findChild<ElidedLabel*>("statusLabel");
    EXPECT_EQ(status.fullText(), "Standard · speakers");

    hal.setDefaultOutput(headphones);
    advance(1.0);
    QCoreApplication::processEvents();
    // The output's name gives way to the hot-key hint; the preset stays
    // whole, and the tooltip and assistive technology have all of it.
    EXPECT_EQ(status.fullText(), "Standard · Family 17h/19h HD Audio Controller Headphones");
    EXPECT_EQ(status.text(), "Standard");
    EXPECT_TRUE(status.toolTip().contains("Family 17h/19h HD Audio Controller Headphones"));
    EXPECT_EQ(accessibleName(status), status.fullText());
    EXPECT_TRUE(shownTexts(panel).contains("Ctrl+Shift+C"));
    screenshot(panel, "panel-output-long-name");
}

} // namespace
} // namespace quellora
