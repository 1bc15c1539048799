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
    const auto stored = settings->data("applications.v2");
    ASSERT_TRUE(stored);
    EXPECT_EQ(std::string(stored->begin(), stored->end()), R"({"music":"direct"})");

    // Next run: the first tap already leaves it out, before it plays again,
    // and the list keeps the choice meanwhile.
    model.reset();
    hal.closeOutputStream(music);
    runningModel();
    EXPECT_FALSE(hal.tapTakes(tap(), music));
    EXPECT_EQ(hal.tapDescription(tap())->excludedApplications, std::vector<std::string>{"music"});
    EXPECT_FALSE(entry("music").present);
    play(music);
    EXPECT_TRUE(entry("music").direct);
    EXPECT_TRUE(entry("music").present);
}

// `quellora direct NAME` for an application that does not play: the choice
// waits for it, is listed meanwhile, and can be forgotten.
TEST_F(ApplicationsTest, AChoiceForAnApplicationNotPlayingWaitsForItAndCanBeForgotten) {
    runningModel();
    ModelInstanceController controller([this] { return model.get(); }, {});
    const auto chosen = controller.setApplicationDirect("Zoom", true);
    EXPECT_EQ(chosen, (ListedApplication{"Zoom", "Zoom", true, "", false, false}));
    EXPECT_THAT(controller.applications(), ::testing::Contains(chosen));

    const auto zoom = hal.addProcess({.pid = 2004, .bundleID = "Zoom", .name = "Zoom"});
    play(zoom);
    EXPECT_FALSE(hal.tapTakes(tap(), zoom));
    EXPECT_TRUE(entry("Zoom").present);

    EXPECT_EQ(controller.forgetApplication("zoom"), "Zoom");
    EXPECT_TRUE(hal.tapTakes(tap(), zoom));
    EXPECT_FALSE(entry("Zoom").direct);
    EXPECT_THROW(controller.forgetApplication("Zoom"), InstanceRefusal);
}

// Choices stored while binaries identified applications ("pacat" for every
// paplay) go over to the applications that run that binary once, by name.
TEST_F(ApplicationsTest, FormerChoicesByBinaryGoOverOnceToTheApplicationsNames) {
    const std::string former = R"({"pacat":"direct","Gone":"levelled"})";
    settings->setValue("applications.v1", Bytes(former.begin(), former.end()));
    const auto alpha =
        hal.addProcess({.pid = 2005, .bundleID = "Alpha", .name = "Alpha", .binary = "pacat"});
    runningModel();
    EXPECT_FALSE(entry("pacat").present); // listed, and can be forgotten, until it goes over
    play(alpha);
    EXPECT_TRUE(entry("Alpha").direct);
    EXPECT_FALSE(hal.tapTakes(tap(), alpha));
    EXPECT_THROW(entry("pacat"), std::out_of_range);
    const auto left = settings->data("applications.v1");
    ASSERT_TRUE(left);
    EXPECT_EQ(std::string(left->begin(), left->end()), R"({"Gone":"levelled"})");

    // Gone over, it stays with Alpha: a later paplay is another application.
    const auto beta =
        hal.addProcess({.pid = 2006, .bundleID = "Beta", .name = "Beta", .binary = "pacat"});
    play(beta);
    EXPECT_TRUE(hal.tapTakes(tap(), beta));
    model->forgetApplicationChoice("Gone");
    EXPECT_FALSE(settings->contains("applications.v1"));
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
    settings->setValue("applications.v2", Bytes(broken.begin(), broken.end()));
    runningModel();
    EXPECT_TRUE(logged("Ignoring the stored application choices: the application choices are "
                       "not a JSON object"));
    EXPECT_TRUE(hal.tapTakes(tap(), music));
    model->setApplicationDirect("music", true);
    const auto stored = settings->data("applications.v2");
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

// How `quellora direct NAME`, `level NAME` and `forget NAME` find the
// application meant, among those that play and the remembered choices.
struct NameCase {
    const char* label;
    std::string name;
    std::string bundleID; // found; empty: none
    std::string refusal;  // part of the refusal; empty: none
};

class FindApplicationTest : public ::testing::TestWithParam<NameCase> {
protected:
    static ApplicationEntry listed(std::string bundleID, std::string name, bool present = true) {
        ApplicationEntry entry;
        entry.application.bundleID = std::move(bundleID);
        entry.application.name = std::move(name);
        entry.present = present;
        return entry;
    }
    const std::vector<ApplicationEntry> entries{
        listed("firefox-esr", "Firefox"), listed("celluloid", "mpv"), listed("mpv", "MPV Player"),
        listed("app-a", "Player"),        listed("app-b", "player"),  listed("zoom", "zoom", false),
    };
};

TEST_P(FindApplicationTest, ByIDThenByNameInAnyCase) {
    const auto& param = GetParam();
    if (!param.refusal.empty()) {
        try {
            findApplication(entries, param.name);
            FAIL() << "found an application for " << param.name;
        } catch (const InstanceRefusal& refusal) {
            EXPECT_THAT(refusal.what(), ::testing::HasSubstr(param.refusal));
        }
        return;
    }
    const auto found = findApplication(entries, param.name);
    EXPECT_EQ(found ? found->application.bundleID : "", param.bundleID);
}

INSTANTIATE_TEST_SUITE_P(
    Names, FindApplicationTest,
    ::testing::Values(NameCase{"byID", "firefox-esr", "firefox-esr", ""},
                      NameCase{"byNameInAnyCase", "FIREFOX", "firefox-esr", ""},
                      NameCase{"anIDBeforeAnotherOnesName", "mpv", "mpv", ""},
                      NameCase{"aRememberedChoiceInAnyCase", "Zoom", "zoom", ""},
                      NameCase{"twoOfTheSameName", "PLAYER", "",
                               "(app-a, app-b); name one by its ID"},
                      NameCase{"unknown", "Discord", "", ""}),
    [](const auto& each) { return std::string(each.param.label); });

} // namespace
} // namespace quellora
