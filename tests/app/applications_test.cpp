// Per-application control: who plays levelled and who direct, by default and
// by the user's choice, remembered across runs.

#include "app/model_instance_controller.h"
#include "app_test_fixture.h"

#include <gmock/gmock.h>

#include <map>

namespace quellora {
namespace {

class ApplicationsTest : public AppStateTest {
protected:
    AudioObjectID tap() const { return hal.taps().front(); }
    const ApplicationEntry& entry(const std::string& bundleID) const {
        for (const auto& entry : model->applications().get()) {
            if (entry.application.bundleID == bundleID) {
                return entry;
            }
        }
        throw std::out_of_range("no application " + bundleID);
    }
    void play(AudioObjectID process) {
        hal.startPlayback(process, speakers);
        mainQueue.runUntilIdle();
    }

    AudioObjectID music = hal.addProcess({.pid = 2001, .bundleID = "music", .name = "Music"});
    AudioObjectID call = hal.addProcess({.pid = 2002,
                                         .bundleID = "linphone",
                                         .name = "Linphone",
                                         .directOutputReason = DirectOutputReason::callAudio});
    AudioObjectID daw = hal.addProcess({.pid = 2003,
                                        .bundleID = "ardour",
                                        .name = "Ardour",
                                        .directOutputReason = DirectOutputReason::proAudio});
};

TEST_F(ApplicationsTest, CallsAndProAudioPlayDirectByDefaultAndSayWhy) {
    runningModel();
    for (const auto process : {music, call, daw}) {
        play(process);
    }
    EXPECT_FALSE(entry("music").direct);
    EXPECT_TRUE(entry("linphone").direct);
    EXPECT_EQ(directOutputReasonText(entry("linphone").defaultReason), "call audio");
    EXPECT_EQ(directOutputReasonText(entry("ardour").defaultReason), "pro audio");
    EXPECT_TRUE(hal.tapTakes(tap(), music));
    EXPECT_FALSE(hal.tapTakes(tap(), call));
    EXPECT_FALSE(hal.tapTakes(tap(), daw));

    // Once the user says otherwise, the reason no longer applies.
    model->setApplicationDirect("linphone", false);
    EXPECT_FALSE(entry("linphone").direct);
    EXPECT_EQ(entry("linphone").defaultReason, DirectOutputReason::none);
    EXPECT_TRUE(hal.tapTakes(tap(), call));
}

TEST_F(ApplicationsTest, AChoiceMovesOnlyThatApplicationAndIsRemembered) {
    runningModel();
    play(music);
    const auto generation = model->engine().pipelineGeneration();
    model->setApplicationDirect("music", true);
    EXPECT_TRUE(entry("music").direct);
    EXPECT_FALSE(hal.tapTakes(tap(), music));
    EXPECT_FALSE(hal.tapTakes(tap(), call));
    EXPECT_EQ(model->engine().pipelineGeneration(), generation);
    const auto stored = settings->data("applications.v1");
    ASSERT_TRUE(stored);
    EXPECT_EQ(std::string(stored->begin(), stored->end()), R"({"music":"direct"})");

    // Next run: the first tap already leaves it out, before it plays again.
    model.reset();
    hal.closeOutputStream(music);
    runningModel();
    EXPECT_FALSE(hal.tapTakes(tap(), music));
    EXPECT_EQ(hal.tapDescription(tap())->excludedApplications, std::vector<std::string>{"music"});
    play(music);
    EXPECT_TRUE(entry("music").direct);
}

// What `quellora apps` and `quellora status` say of audio the tap does not
// take: an application that plays on a device of its own (every process of
// it), and audio that would loop back into the pipeline.
TEST_F(ApplicationsTest, WhatPlaysElsewhereAndWhatPassesUnlevelledIsSaid) {
    const auto game = hal.addProcess(
        {.pid = 2004, .bundleID = "game", .name = "Game", .outputDeviceName = "Headset"});
    const auto browser = hal.addProcess(
        {.pid = 2005, .bundleID = "browser", .name = "Browser", .outputDeviceName = "Headset"});
    const auto browserTab = hal.addProcess({.pid = 2006, .bundleID = "browser"});
    runningModel();
    for (const auto process : {game, browser, browserTab}) {
        play(process);
    }
    const ModelInstanceController controller([this] { return model.get(); }, {});
    std::map<std::string, std::string> playsOn;
    for (const auto& listed : controller.applications()) {
        playsOn[listed.bundleID] = listed.outputDeviceName;
    }
    EXPECT_EQ(playsOn, (std::map<std::string, std::string>{{"browser", ""}, {"game", "Headset"}}));

    EXPECT_EQ(controller.mode(), "on");
    hal.setUnlevelledAudioReason("the output of Equaliser would feed back into Quellora");
    mainQueue.runUntilIdle();
    EXPECT_EQ(controller.mode(), "on, some audio passes unlevelled: the output of Equaliser "
                                 "would feed back into Quellora");
    hal.setUnlevelledAudioReason("");
    mainQueue.runUntilIdle();
    EXPECT_EQ(controller.mode(), "on");
}

TEST_F(ApplicationsTest, UnreadableStoredChoicesAreReportedAndReplacedAtTheNextChoice) {
    const std::string broken = "[not an object";
    settings->setValue("applications.v1", Bytes(broken.begin(), broken.end()));
    runningModel();
    EXPECT_TRUE(logged("Ignoring the stored application choices: the application choices are "
                       "not a JSON object"));
    EXPECT_TRUE(hal.tapTakes(tap(), music));
    model->setApplicationDirect("music", true);
    const auto stored = settings->data("applications.v1");
    EXPECT_EQ(std::string(stored->begin(), stored->end()), R"({"music":"direct"})");
}

TEST(ApplicationChoicesCoding, RoundTripsAndSkipsWhatItDoesNotKnow) {
    ApplicationChoices choices;
    choices.set("music", true);
    choices.set("linphone", false);
    choices.set("na\xffme", true); // a binary name that is not UTF-8
    const auto decoded = ApplicationChoices::decode(choices.encode());
    EXPECT_EQ(decoded.isDirect("music"), true);
    EXPECT_EQ(decoded.isDirect("linphone"), false);
    EXPECT_EQ(decoded.entries().size(), 3u);
    EXPECT_EQ(decoded.routing(), (ApplicationRouting{{"music", "na\xef\xbf\xbd"
                                                               "me"},
                                                     {"linphone"}}));

    const auto later = ApplicationChoices::decode(R"({"a":"direct","b":"muted","c":3})");
    EXPECT_EQ(later.entries().size(), 1u);
    EXPECT_THROW(ApplicationChoices::decode("[]"), SettingsCodingError);
    EXPECT_THROW(ApplicationChoices::decode(""), SettingsCodingError);
}

// How `quellora direct NAME` and `level NAME` find the application meant.
struct NameCase {
    const char* label;
    std::string name;
    std::string bundleID; // found; empty: refused
    std::string refusal;  // part of the refusal
};

class FindApplicationTest : public ::testing::TestWithParam<NameCase> {
protected:
    static ApplicationEntry playing(std::string bundleID, std::string name) {
        ApplicationEntry entry;
        entry.application.bundleID = std::move(bundleID);
        entry.application.name = std::move(name);
        return entry;
    }
    const std::vector<ApplicationEntry> entries{
        playing("firefox-esr", "Firefox"), playing("celluloid", "mpv"),
        playing("mpv", "MPV Player"),      playing("app-a", "Player"),
        playing("app-b", "player"),
    };
    ApplicationChoices choices = [] {
        ApplicationChoices stored;
        stored.set("zoom", false); // a setting, but nothing plays
        return stored;
    }();
};

TEST_P(FindApplicationTest, ByIDThenByNameInAnyCase) {
    const auto& param = GetParam();
    if (param.bundleID.empty()) {
        try {
            findApplication(entries, choices, param.name);
            FAIL() << "found an application for " << param.name;
        } catch (const InstanceRefusal& refusal) {
            EXPECT_THAT(refusal.what(), ::testing::HasSubstr(param.refusal));
        }
        return;
    }
    EXPECT_EQ(findApplication(entries, choices, param.name).bundleID, param.bundleID);
}

INSTANTIATE_TEST_SUITE_P(
    Names, FindApplicationTest,
    ::testing::Values(NameCase{"byID", "firefox-esr", "firefox-esr", ""},
                      NameCase{"byNameInAnyCase", "FIREFOX", "firefox-esr", ""},
                      NameCase{"anIDBeforeAnotherOnesName", "mpv", "mpv", ""},
                      NameCase{"aSettingWithoutAStream", "zoom", "zoom", ""},
                      NameCase{"aSettingIsFoundByItsExactIDOnly", "Zoom", "",
                               "No application called \"Zoom\" plays now"},
                      NameCase{"twoOfTheSameName", "PLAYER", "",
                               "(app-a, app-b); name one by its ID"},
                      NameCase{"unknown", "Discord", "", "quellora apps lists those that play"},
                      NameCase{"empty", "", "", "No application called \"\""}),
    [](const auto& each) { return std::string(each.param.label); });

} // namespace
} // namespace quellora
