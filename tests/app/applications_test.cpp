// Per-application control: who plays levelled and who direct, by default and
// by the user's choice, remembered across runs.

#include "app_test_fixture.h"

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

} // namespace
} // namespace quellora
