// The control panel bound to a real model on the simulated server.

#include "panel_test_fixture.h"
#include "ui/panel/banner_button.h"
#include "ui/panel/content_view.h"
#include "ui/panel/eased_value.h"
#include "ui/panel/indeterminate_bar.h"
#include "ui/panel/menu_switch.h"
#include "ui/panel/param_slider.h"
#include "ui/panel/plain_button.h"
#include "ui/panel/preset_pill.h"
#include "ui/panel/switch_glow.h"
#include "ui/panel/tinted_label.h"
#include "ui/views/compressor_curve_view.h"

#include <gmock/gmock.h>

#include <QAccessible>
#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>

namespace quellora {
namespace {

using ::testing::Contains;
using ::testing::Not;

const std::string noSpeakers =
    "Can't find your speakers or headphones. Make sure they're connected.";

// What a tooltip or label reads as on screen: Qt renders text that looks like
// markup as rich text.
QString shownAsPlainText(const QString& text) {
    if (!Qt::mightBeRichText(text)) {
        return text;
    }
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText();
}

class ContentViewTest : public PanelTest {
protected:
    ContentView& makePanel() { return keep(std::make_unique<ContentView>(*model, updater)); }

    // What the capture side meters: about 48 samples a half-second tick.
    void feed(float inputPeakDb, int ticks) {
        for (int tick = 0; tick < ticks; ++tick) {
            for (int sample = 0; sample < 48; ++sample) {
                auto& chain = model->engine().processingChain();
                chain.sourceLevels().push({inputPeakDb, inputPeakDb, 0.0f});
                chain.compressor().levelBuffer().push({inputPeakDb, inputPeakDb, 0.0f});
            }
            advance(0.5);
        }
    }

    static double opacity(const ContentView& panel, const char* section) {
        const auto* widget = panel.findChild<QWidget*>(section);
        return static_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect())->opacity();
    }
    static QString status(const ContentView& panel) {
        return panel.findChild<ElidedLabel*>("statusLabel")->fullText();
    }
    static MenuSwitch& mainSwitch(const ContentView& panel) {
        return *panel.findChild<MenuSwitch*>("compressionSwitch");
    }
    static const CompressorCurveView& curve(const ContentView& panel) {
        return *panel.findChild<CompressorCurveView*>("curve");
    }
    static void finishFades(const ContentView& panel) {
        for (auto* fade : panel.findChildren<EasedValue*>()) {
            fade->finish();
        }
    }
    static ParamSlider& slider(const ContentView& panel, const QString& title) {
        return *static_cast<ParamSlider*>(accessible<ParamTrack>(panel, title)->parentWidget());
    }
    static std::vector<PresetPill*> savedPills(const ContentView& panel) {
        std::vector<PresetPill*> pills;
        for (auto* pill : panel.findChildren<PresetPill*>()) {
            if (pill->isVisibleTo(&panel) && pill->objectName() != "standardPresetPill" &&
                pill->objectName() != "nightPresetPill") {
                pills.push_back(pill);
            }
        }
        // In reading order: the row wraps.
        std::sort(pills.begin(), pills.end(), [](const QWidget* a, const QWidget* b) {
            return std::pair(a->y(), a->x()) < std::pair(b->y(), b->x());
        });
        return pills;
    }
    void savePresets(std::initializer_list<const char*> names) {
        std::vector<SavedPreset> presets;
        for (const char* name : names) {
            presets.push_back({Uuid::random(), name, CompressorParams::defaults()});
        }
        const auto json = encodeSavedPresets(presets);
        settings->setValue("savedPresets.v1", Bytes(json.begin(), json.end()));
    }
};

class ContentViewModeTest;

// One row per mode the panel can show.
struct ModeCase {
    const char* name;
    std::function<void(ContentViewModeTest&)> arrange;
    QString status;
    bool switchOn;
    const char* banner; // object name of the visible banner, or null
};

void PrintTo(const ModeCase& mode, std::ostream* out) {
    *out << mode.name;
}

class ContentViewModeTest : public ContentViewTest, public ::testing::WithParamInterface<ModeCase> {
public:
    // For the table's set-up steps.
    using ContentViewTest::advance;
    using ContentViewTest::feed;
    using ContentViewTest::hal;
    using ContentViewTest::makeModel;
    using ContentViewTest::model;
    using ContentViewTest::permission;
    using ContentViewTest::runningModel;
};

TEST_P(ContentViewModeTest, ShowsTheModeInStatusSwitchBannersAndDimming) {
    const auto& mode = GetParam();
    mode.arrange(*this);
    model->setMenuIsOpen(true); // the displays draw only while the panel is open
    auto& panel = makePanel();
    screenshot(panel, QString("panel-") + mode.name);
    expectContentFits(panel);

    const bool off = model->mode().get() == AppMode::off();
    const bool active = model->mode().get() == AppMode::on();
    EXPECT_EQ(status(panel), mode.status);
    EXPECT_EQ(mainSwitch(panel).isOn(), mode.switchOn);
    for (const char* banner : {"lowVolumeBanner", "errorBanner"}) {
        const bool expected = mode.banner && std::string(banner) == mode.banner;
        EXPECT_EQ(panel.findChild<QWidget*>(banner)->isVisibleTo(&panel), expected) << banner;
    }
    // Whatever is not at work is dimmed.
    for (const char* section : {"curve", "waveform", "fineTune"}) {
        EXPECT_EQ(opacity(panel, section) == 1.0, active) << section;
    }
    EXPECT_EQ(panel.findChild<QWidget*>("fineTune")->isEnabled(), active);
    EXPECT_EQ(panel.findChild<SwitchGlow*>()->isShown(), off);
    // Controls that are always there, with the names assistive technology reads.
    for (const char* name : {"Compression", "Standard preset", "Night preset", "Threshold",
                             "SC HPF", "Launch at Login", "Support and FAQ", "Quit Quellora"}) {
        EXPECT_NE(accessible(panel, name), nullptr) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ContentViewModeTest,
    ::testing::Values(ModeCase{"off",
                               [](ContentViewModeTest& test) {
                                   test.runningModel().send(AppEvent::Kind::userDisabled);
                               },
                               "Off", false, nullptr},
                      ModeCase{"on",
                               [](ContentViewModeTest& test) {
                                   // Every part of the panel in use (docs/panel.png).
                                   test.runningModel().setEvenOutProgrammes(true);
                               },
                               "Standard · speakers", true, nullptr},
                      ModeCase{"on-low-volume",
                               [](ContentViewModeTest& test) {
                                   test.runningModel();
                                   test.feed(-30.0f, 180);
                                   ASSERT_TRUE(test.model->lowVolumeWarning().get());
                               },
                               "Standard · speakers", true, "lowVolumeBanner"},
                      ModeCase{"on-waiting-for-output",
                               [](ContentViewModeTest& test) {
                                   test.runningModel();
                                   test.hal.setDefaultOutput(kAudioObjectUnknown);
                                   test.advance(2.5);
                               },
                               "Waiting for Audio Output", true, nullptr},
                      ModeCase{"on-some-audio-unlevelled",
                               [](ContentViewModeTest& test) {
                                   test.runningModel();
                                   test.hal.setUnlevelledAudioReason("a reason");
                                   test.advance(0.1);
                               },
                               "on, some audio passes unlevelled: a reason", true, nullptr},
                      ModeCase{"error",
                               [](ContentViewModeTest& test) {
                                   test.runningModel().send(AppEvent::engineFailed(noSpeakers));
                               },
                               "Error", true, "errorBanner"},
                      ModeCase{"needs-permission",
                               [](ContentViewModeTest& test) {
                                   test.permission->setStatus(SystemAudioAuthStatus::denied);
                                   test.makeModel();
                               },
                               "Needs Permission", true, nullptr}),
    [](const ::testing::TestParamInfo<ModeCase>& row) {
        std::string name = row.param.name;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

TEST_F(ContentViewTest, TheErrorBannerShowsTheEngineMessageAndTheSwitchStillTurnsOff) {
    runningModel();
    auto& panel = makePanel();
    auto& toggle = mainSwitch(panel);
    // Switching on without the permission lands in needsPermission: still "on".
    toggle.click();
    permission->setStatus(SystemAudioAuthStatus::denied);
    toggle.click();
    EXPECT_EQ(model->mode().get(), AppMode::needsPermission());
    EXPECT_TRUE(toggle.isOn());

    model->send(AppEvent::engineFailed(noSpeakers));
    EXPECT_THAT(shownTexts(panel), Contains(QString::fromStdString(noSpeakers)));
    toggle.click();
    EXPECT_EQ(model->mode().get(), AppMode::off());
    EXPECT_FALSE(toggle.isOn());
}

TEST_F(ContentViewTest, InactiveContentFadesOverTimeAndTakesNoClicks) {
    savePresets({"Preset 1"});
    runningModel();
    auto& panel = makePanel();
    panel.show();
    model->send(AppEvent::Kind::userDisabled);

    // Shown, the fade is under way rather than done.
    EXPECT_DOUBLE_EQ(opacity(panel, "fineTune"), 1.0);
    finishFades(panel);
    EXPECT_LT(opacity(panel, "fineTune"), 1.0);

    // A click where the pill is goes nowhere, and the keyboard cannot reach it.
    ASSERT_EQ(savedPills(panel).size(), 1u);
    auto* pill = savedPills(panel).front();
    QTest::mouseClick(panel.windowHandle(), Qt::LeftButton, {},
                      pill->mapTo(&panel, pill->rect().center()));
    EXPECT_FALSE(model->activePresetID().get());
    EXPECT_FALSE(pill->isEnabled());
    EXPECT_FALSE(slider(panel, "Mix").track().isEnabled());

    model->send(AppEvent::Kind::userEnabled);
    QTest::mouseClick(panel.windowHandle(), Qt::LeftButton, {},
                      pill->mapTo(&panel, pill->rect().center()));
    EXPECT_TRUE(model->activePresetID().get());
}

TEST_F(ContentViewTest, TheNightPillSelectsNightBesideStandardAndBeforeSavedPresets) {
    savePresets({"Preset 1"});
    runningModel().setMenuIsOpen(true);
    auto& panel = makePanel();
    panel.show();
    auto* standard = accessible<PresetPill>(panel, "Standard preset");
    auto* night = accessible<PresetPill>(panel, "Night preset");
    ASSERT_NE(night, nullptr);
    EXPECT_GT(night->x(), standard->x());
    EXPECT_LT(night->x(), savedPills(panel).front()->x());

    night->click();
    EXPECT_EQ(model->selectedPreset().get(), Preset::night);
    EXPECT_EQ(status(panel), "Night · speakers");
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(night)->state().selected);
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(standard)->state().selected);
    EXPECT_EQ(slider(panel, "Threshold").valueText(),
              QString("%1 dB").arg(static_cast<double>(nightCompressorParams().threshold)));
    finishFades(panel);
    screenshot(panel, "panel-night");

    savedPills(panel).front()->click();
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(night)->state().selected);
}

TEST_F(ContentViewTest, PillsNameSavedPresetsAndMarkTheActiveOne) {
    savePresets({"Preset 12", "Preset", "Preset x"});
    runningModel().setMenuIsOpen(true);
    auto& panel = makePanel();

    const auto pills = savedPills(panel);
    ASSERT_EQ(pills.size(), 3u);
    EXPECT_EQ(pills[0]->text(), "12");
    EXPECT_EQ(shownAsPlainText(pills[0]->toolTip()), "Preset 12");
    EXPECT_EQ(accessible(panel, "Delete Preset"), nullptr);
    auto* standard = accessible<PresetPill>(panel, "Standard preset");
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(standard)->state().selected);

    pills[1]->click();
    EXPECT_EQ(model->activePresetID().get(), model->savedPresets().get()[1].id);
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(pills[1])->state().selected);
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(standard)->state().selected);
    // The delete button follows the active pill, before the next one (on
    // its row, or the next).
    panel.show();
    auto* remove = accessible(panel, "Delete Preset");
    ASSERT_NE(remove, nullptr);
    EXPECT_GT(remove->x(), pills[1]->x());
    EXPECT_TRUE(remove->x() < pills[2]->x() || remove->y() < pills[2]->y());

    model->setCustomValue(CustomParameter::ratio, 4.0f);
    EXPECT_EQ(pills[1]->accessibleName(), "Preset preset, edited");

    static_cast<QAbstractButton*>(remove)->click();
    EXPECT_EQ(model->savedPresets().get().size(), 2u);
    EXPECT_EQ(savedPills(panel).size(), 2u);
    EXPECT_EQ(accessible(panel, "Delete Preset"), nullptr);
}

TEST_F(ContentViewTest, FiveSavedPresetsWrapSoEveryPillShowsItsWholeTitle) {
    savePresets({"Preset 1", "Dialogue", "Preset 3", "Late film", "Quiet nights"});
    runningModel().setMenuIsOpen(true);
    auto& panel = makePanel();
    model->applyPreset(model->savedPresets().get().back());
    model->setCustomValue(CustomParameter::ratio, 4.0f);
    // Everything the panel can show under the presets at once.
    model->setEvenOutProgrammes(true);
    ASSERT_FALSE(curve(panel).note().isEmpty());
    screenshot(panel, "panel-five-presets");
    expectContentFits(panel);

    // The delete button stays on the active pill's row, right after it.
    auto* active = accessible(panel, "Quiet nights preset, edited");
    auto* remove = accessible(panel, "Delete Preset");
    ASSERT_TRUE(active && remove);
    EXPECT_NEAR(remove->geometry().center().y(), active->geometry().center().y(), 1);
    EXPECT_GT(remove->x(), active->x());
}

TEST_F(ContentViewTest, PresetActionsFollowWhatTheModelAllows) {
    savePresets({"Preset 1"});
    runningModel();
    auto& panel = makePanel();
    const auto shown = [&](const char* name) {
        return accessible(panel, name) != nullptr;
    };
    EXPECT_FALSE(shown("Update Preset"));
    EXPECT_FALSE(shown("Save as New Preset"));

    model->setCustomValue(CustomParameter::knee, 10.0f); // custom, nothing saved
    EXPECT_FALSE(shown("Update Preset"));
    EXPECT_EQ(accessible<QAbstractButton>(panel, "Save as New Preset")->text(), "Save");

    savedPills(panel).front()->click();
    model->setCustomValue(CustomParameter::knee, 12.0f);
    EXPECT_TRUE(shown("Update Preset"));
    EXPECT_EQ(accessible<QAbstractButton>(panel, "Save as New Preset")->text(), "New");

    accessible<QAbstractButton>(panel, "Save as New Preset")->click();
    EXPECT_EQ(savedPills(panel).size(), 2u);
    EXPECT_EQ(savedPills(panel).back()->text(), "2");
}

TEST_F(ContentViewTest, SlidersFollowAndWriteTheModelByPointerKeysAndAssistiveTechnology) {
    runningModel();
    auto& panel = makePanel();
    model->setCustomValue(CustomParameter::ratio, 4.0f);
    EXPECT_THAT(shownTexts(panel), Contains("4.0:1"));

    // Dragged to the top: the range's bound, as a float, in the model.
    auto& release = slider(panel, "Release").track();
    release.setValue(release.maximum());
    EXPECT_EQ(model->customValue(CustomParameter::release).get(), 2000.0f);

    auto& threshold = slider(panel, "Threshold").track();
    QTest::keyClick(&threshold, Qt::Key_Right);
    // One step is a hundredth of the range: half a decibel.
    EXPECT_FLOAT_EQ(model->customValue(CustomParameter::threshold).get(), -28.5f);
    EXPECT_EQ(model->selectedPreset().get(), Preset::custom);
    QTest::keyClick(&threshold, Qt::Key_Left);
    QTest::keyClick(&threshold, Qt::Key_Left);
    EXPECT_FLOAT_EQ(model->customValue(CustomParameter::threshold).get(), -29.5f);

    auto* mix = QAccessible::queryAccessibleInterface(&slider(panel, "Mix").track());
    mix->valueInterface()->setCurrentValue(0.25);
    EXPECT_EQ(model->customValue(CustomParameter::mix).get(), 0.25f);
    EXPECT_EQ(mix->text(QAccessible::Value), "25%");
}

TEST_F(ContentViewTest, EvenOutProgrammesWritesTheModelAndShowsWhatItHolds) {
    runningModel();
    auto& panel = makePanel();
    auto& toggle = *accessible<MenuSwitch>(panel, "Even out programmes");
    auto& target = *accessible<ParamTrack>(panel, "Target loudness");
    auto* targetValue = QAccessible::queryAccessibleInterface(&target)->valueInterface();
    const auto& levelling = model->programmeLevelling();
    EXPECT_FALSE(toggle.isOn());
    EXPECT_FALSE(target.isEnabled()) << "no target while nothing is evened out";
    EXPECT_TRUE(curve(panel).note().isEmpty());

    toggle.click();
    EXPECT_TRUE(levelling.get().enabled);
    ASSERT_TRUE(target.isEnabled());
    EXPECT_TRUE(curve(panel).note().contains("-18 LUFS")) << curve(panel).note().toStdString();
    // The target moves by whole LU, from its plus and minus, the keys and
    // assistive technology, and never beyond its range.
    QTest::mouseClick(&target, Qt::LeftButton, {}, QPoint(target.width() - 4, target.height() / 2));
    EXPECT_EQ(levelling.get().targetLufs, -17.0f);
    QTest::mouseClick(&target, Qt::LeftButton, {}, QPoint(target.width() / 2, target.height() / 2));
    EXPECT_EQ(levelling.get().targetLufs, -17.0f) << "the value itself is no button";
    QTest::keyClick(&target, Qt::Key_Left);
    QTest::mouseClick(&target, Qt::LeftButton, {}, QPoint(4, target.height() / 2));
    EXPECT_EQ(levelling.get().targetLufs, -19.0f);
    targetValue->setCurrentValue(-20.4);
    EXPECT_EQ(levelling.get().targetLufs, -20.0f);
    targetValue->setCurrentValue(-40.0);
    EXPECT_EQ(levelling.get().targetLufs, -24.0f);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&target)->text(QAccessible::Value), "-24 LUFS");

    // What the model holds shows, however it got there (another output's
    // choice coming back, say).
    model->setProgrammeTarget(-15.0f);
    EXPECT_EQ(target.valueText(), "-15 LUFS");
    EXPECT_TRUE(curve(panel).note().contains("-15 LUFS"));
    model->setEvenOutProgrammes(false);
    EXPECT_FALSE(toggle.isOn());
    EXPECT_FALSE(target.isEnabled());
    EXPECT_TRUE(curve(panel).note().isEmpty());

    // Night aims on its own: the switch inert with the choice kept for
    // afterwards, and a word on why in the target's place.
    model->setEvenOutProgrammes(true);
    accessible<PresetPill>(panel, "Night preset")->click();
    EXPECT_TRUE(toggle.isOn());
    EXPECT_FALSE(toggle.isEnabled());
    EXPECT_FALSE(target.isVisibleTo(&panel));
    EXPECT_THAT(shownTexts(panel), Contains("built into Night"));
    EXPECT_FALSE(curve(panel).note().contains("LUFS"));
    accessible<PresetPill>(panel, "Standard preset")->click();
    EXPECT_TRUE(toggle.isEnabled());
    EXPECT_TRUE(target.isVisibleTo(&panel) && target.isEnabled());
    EXPECT_THAT(shownTexts(panel), Not(Contains("built into Night")));
}

TEST_F(ContentViewTest, TheUpdateBannerInstallsOnceHoweverOftenItIsPressed) {
    runningModel().setMenuIsOpen(true);
    auto& panel = makePanel();
    const auto* banner = panel.findChild<BannerButton*>("updateBanner");
    EXPECT_FALSE(banner->isVisibleTo(&panel));

    int installs = 0;
    driver->events.willInstallOnQuit([&] { ++installs; });
    ASSERT_TRUE(banner->isVisibleTo(&panel));
    EXPECT_EQ(banner->accessibleName(), "Update available");
    EXPECT_FALSE(banner->bar().isVisibleTo(&panel));

    auto* button = accessible<BannerButton>(panel, "Update available");
    button->click();
    button->click();
    EXPECT_EQ(installs, 1);
    EXPECT_EQ(banner->accessibleName(), "Installing update");
    EXPECT_TRUE(banner->bar().isVisibleTo(&panel));
    EXPECT_FALSE(banner->bar().isAnimating()); // the panel is closed
    screenshot(panel, "panel-installing-update");
    EXPECT_TRUE(banner->bar().isAnimating());
    panel.hide();
    EXPECT_FALSE(banner->bar().isAnimating());
}

TEST_F(ContentViewTest, LaunchAtLoginShowsTheOutcomeNotTheWish) {
    runningModel();
    auto& panel = makePanel();
    auto& toggle = *panel.findChild<MenuSwitch*>("launchAtLoginSwitch");
    loginItem->status_ = LoginItemStatus::notRegistered;
    model->refreshLaunchAtLoginStatus();
    ASSERT_FALSE(toggle.isOn());

    loginItem->failure = "no autostart folder";
    toggle.click();
    EXPECT_FALSE(toggle.isOn());

    loginItem->failure.clear();
    loginItem->answerToRegister = LoginItemStatus::requiresApproval;
    toggle.click();
    EXPECT_FALSE(toggle.isOn());
    EXPECT_NE(accessible(panel, "Approve Quellora in your startup applications"), nullptr);

    loginItem->answerToRegister = LoginItemStatus::enabled;
    toggle.click();
    EXPECT_TRUE(toggle.isOn());
    EXPECT_EQ(accessible(panel, "Approve Quellora in your startup applications"), nullptr);
}

TEST_F(ContentViewTest, TheGlowPulsesOnlyWhileOffAndOpen) {
    runningModel();
    auto& panel = makePanel();
    const auto& glow = *panel.findChild<SwitchGlow*>();
    model->send(AppEvent::Kind::userDisabled);
    EXPECT_TRUE(glow.isShown());
    EXPECT_FALSE(glow.isPulsing());
    model->setMenuIsOpen(true);
    EXPECT_TRUE(glow.isPulsing());
    model->setMenuIsOpen(false);
    EXPECT_FALSE(glow.isPulsing());
}

TEST_F(ContentViewTest, QuitAsksTheTray) {
    runningModel();
    auto& panel = makePanel();
    QSignalSpy quit(&panel, &ContentView::quitRequested);
    accessible<QAbstractButton>(panel, "Quit Quellora")->click();
    EXPECT_EQ(quit.count(), 1);
}

TEST_F(ContentViewTest, PresetNamesAreShownAsThePlainTextTheyAre) {
    savePresets({"<b>x</b>", "a  &amp; b"});
    runningModel();
    auto& panel = makePanel();
    const auto pills = savedPills(panel);
    ASSERT_EQ(pills.size(), 2u);
    EXPECT_EQ(pills[0]->text(), "<b>x</b>");
    EXPECT_EQ(shownAsPlainText(pills[0]->toolTip()), "<b>x</b>");
    EXPECT_EQ(shownAsPlainText(pills[1]->toolTip()), "a  &amp; b");

    pills[0]->click();
    EXPECT_EQ(status(panel), "<b>x</b> · speakers");
    for (const auto* label : panel.findChildren<QLabel*>()) {
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
    }
}

// Each way a control can be worked: the pointer, the keyboard (Tab to it,
// then Space) or assistive technology's action (a switch is toggled, a
// button pressed).
enum class Way { pointer, keyboard, assistiveTechnology };

class ControlOperationTest;

struct ControlCase {
    const char* accessibleName;
    std::function<void(ControlOperationTest&)> arrange;
    // What the model shows once the control has acted.
    std::function<bool(const AppState&)> acted;
};

void PrintTo(const ControlCase& control, std::ostream* out) {
    *out << control.accessibleName;
}

class ControlOperationTest : public ContentViewTest,
                             public ::testing::WithParamInterface<std::tuple<ControlCase, Way>> {
public:
    using ContentViewTest::feed;
    using ContentViewTest::loginItem;
    using ContentViewTest::model;
};

void customised(ControlOperationTest& test) {
    test.model->setCustomValue(CustomParameter::knee, 10.0f);
}

TEST_P(ControlOperationTest, EveryWayOfWorkingAControlReachesTheModel) {
    const auto& [control, way] = GetParam();
    savePresets({"Preset 1"});
    runningModel();
    control.arrange(*this);
    auto& panel = makePanel();
    panel.show();
    panel.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&panel));
    auto* button = accessible<QAbstractButton>(panel, control.accessibleName);
    ASSERT_NE(button, nullptr);
    ASSERT_FALSE(control.acted(*model));

    switch (way) {
    case Way::pointer:
        QTest::mouseClick(button, Qt::LeftButton);
        break;
    case Way::keyboard:
        for (int presses = 0; presses < 40 && QApplication::focusWidget() != button; ++presses) {
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &panel,
                            Qt::Key_Tab);
        }
        ASSERT_EQ(QApplication::focusWidget(), button) << "Tab never reached it";
        QTest::keyClick(button, Qt::Key_Space);
        break;
    case Way::assistiveTechnology: {
        auto* actions = QAccessible::queryAccessibleInterface(button)->actionInterface();
        ASSERT_NE(actions, nullptr);
        const auto toggle = QAccessibleActionInterface::toggleAction();
        actions->doAction(actions->actionNames().contains(toggle)
                              ? toggle
                              : QAccessibleActionInterface::pressAction());
        break;
    }
    }
    EXPECT_TRUE(control.acted(*model));
}

INSTANTIATE_TEST_SUITE_P(
    Controls, ControlOperationTest,
    ::testing::Combine(::testing::Values(ControlCase{"Compression", [](auto&) {},
                                                     [](const AppState& m) {
                                                         return m.mode().get() == AppMode::off();
                                                     }},
                                         ControlCase{"Launch at Login",
                                                     [](ControlOperationTest& test) {
                                                         test.loginItem->status_ =
                                                             LoginItemStatus::notRegistered;
                                                         test.model->refreshLaunchAtLoginStatus();
                                                     },
                                                     [](const AppState& m) {
                                                         return m.launchAtLogin();
                                                     }},
                                         ControlCase{"1 preset", [](auto&) {},
                                                     [](const AppState& m) {
                                                         return m.activePresetID().get() ==
                                                                m.savedPresets().get()[0].id;
                                                     }},
                                         ControlCase{"Standard preset", customised,
                                                     [](const AppState& m) {
                                                         return m.selectedPreset().get() ==
                                                                Preset::on;
                                                     }},
                                         ControlCase{"Save as New Preset", customised,
                                                     [](const AppState& m) {
                                                         return m.savedPresets().get().size() == 2;
                                                     }},
                                         ControlCase{
                                             "Even out programmes", [](auto&) {},
                                             [](const AppState& m) {
                                                 return m.programmeLevelling().get().enabled;
                                             }},
                                         ControlCase{"Dismiss",
                                                     [](ControlOperationTest& test) {
                                                         test.feed(-30.0f, 180);
                                                     },
                                                     [](const AppState& m) {
                                                         return !m.lowVolumeWarning().get();
                                                     }}),
                       ::testing::Values(Way::pointer, Way::keyboard, Way::assistiveTechnology)),
    [](const ::testing::TestParamInfo<std::tuple<ControlCase, Way>>& row) {
        std::string name = std::get<0>(row.param).accessibleName;
        std::erase(name, ' ');
        return "n" + name + "_" + std::to_string(static_cast<int>(std::get<1>(row.param)));
    });

TEST_F(ContentViewTest, SwitchesReadAsCheckBoxesThatFollowTheModel) {
    runningModel();
    auto& panel = makePanel();
    auto* accessibleSwitch = QAccessible::queryAccessibleInterface(&mainSwitch(panel));
    EXPECT_EQ(accessibleSwitch->role(), QAccessible::CheckBox);
    EXPECT_TRUE(accessibleSwitch->state().checkable);
    EXPECT_TRUE(accessibleSwitch->state().checked);
    model->send(AppEvent::Kind::userDisabled);
    EXPECT_FALSE(accessibleSwitch->state().checked);
}

TEST_F(ContentViewTest, ADarkDesktopGetsADarkPanel) {
    runningModel().setMenuIsOpen(true);
    feed(-20.0f, 2); // the curve's dot and the waveform have something to show
    model->setEvenOutProgrammes(true);
    auto& panel = makePanel();
    const QPalette light = QApplication::palette();
    QPalette dark = light;
    dark.setColor(QPalette::Window, QColor(30, 30, 32));
    dark.setColor(QPalette::WindowText, QColor(235, 235, 240));
    dark.setColor(QPalette::Base, QColor(44, 44, 46));
    dark.setColor(QPalette::Text, QColor(235, 235, 240));
    dark.setColor(QPalette::Button, QColor(58, 58, 60));
    dark.setColor(QPalette::ButtonText, QColor(235, 235, 240));
    QApplication::setPalette(dark);
    screenshot(panel, "panel-on-dark");
    // Every text follows, the ones the new palette reaches only through
    // their parents too.
    for (const auto* label : panel.findChildren<QLabel*>()) {
        EXPECT_GT(label->palette().color(QPalette::WindowText).lightness(), 100)
            << label->text().toStdString();
    }
    QApplication::setPalette(light);
}

} // namespace
} // namespace quellora
