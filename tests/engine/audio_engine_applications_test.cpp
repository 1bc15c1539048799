// Applications played around the tap (direct) or through it, changed while
// the pipeline runs; and the list of applications that play.

#include "engine/audio_engine_test_peer.h"
#include "engine_test_fixture.h"

namespace quellora {
namespace {

// Which processes a tap takes, by its description and what the process is.
struct TakeCase {
    const char* name;
    TapDescription tap;
    AudioObjectID process;
    std::string bundleID;
    DirectOutputReason reason;
    bool taken;
};

TapDescription tapWith(std::vector<AudioObjectID> processes, std::vector<std::string> excluded,
                       std::vector<std::string> included) {
    TapDescription tap;
    tap.excludedProcesses = std::move(processes);
    tap.excludedApplications = std::move(excluded);
    tap.includedApplications = std::move(included);
    return tap;
}

class TapTakesProcessTest : public ::testing::TestWithParam<TakeCase> {};

TEST_P(TapTakesProcessTest, Decides) {
    const auto& c = GetParam();
    EXPECT_EQ(tapTakesProcess(c.tap, c.process, c.bundleID, c.reason), c.taken);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, TapTakesProcessTest,
    ::testing::Values(TakeCase{"anyOther", tapWith({7}, {}, {}), 8, "player",
                               DirectOutputReason::none, true},
                      TakeCase{"excludedProcess", tapWith({7}, {}, {}), 7, "player",
                               DirectOutputReason::none, false},
                      TakeCase{"excludedApplication", tapWith({}, {"player"}, {}), 8, "player",
                               DirectOutputReason::none, false},
                      TakeCase{"callAudioByDefault", tapWith({}, {}, {}), 8, "phone",
                               DirectOutputReason::callAudio, false},
                      TakeCase{"proAudioByDefault", tapWith({}, {}, {}), 8, "daw",
                               DirectOutputReason::proAudio, false},
                      TakeCase{"callAudioTheUserLevels", tapWith({}, {}, {"phone"}), 8, "phone",
                               DirectOutputReason::callAudio, true},
                      TakeCase{"ourOwnProcessEvenWhenIncluded", tapWith({8}, {}, {"phone"}), 8,
                               "phone", DirectOutputReason::callAudio, false},
                      TakeCase{"unidentifiedMatchesNoList", tapWith({}, {""}, {""}), 8, "",
                               DirectOutputReason::none, true},
                      TakeCase{"unidentifiedCallAudio", tapWith({}, {}, {""}), 8, "",
                               DirectOutputReason::callAudio, false}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

class AudioEngineApplicationsTest : public EngineTest {
protected:
    AudioObjectID tap() const { return hal.taps().front(); }

    AudioObjectID music = hal.addProcess({.pid = 2001, .bundleID = "music", .name = "Music"});
    AudioObjectID phone = hal.addProcess({.pid = 2002,
                                          .bundleID = "phone",
                                          .name = "Phone",
                                          .directOutputReason = DirectOutputReason::callAudio});
};

TEST_F(AudioEngineApplicationsTest, TheFirstTapAlreadyLeavesOutWhatTheUserSentAround) {
    makeEngine().setApplicationRouting({{"music"}, {}});
    engine->start();
    advance(0.4);
    const auto description = *hal.tapDescription(tap());
    EXPECT_EQ(description.excludedApplications, std::vector<std::string>{"music"});
    EXPECT_FALSE(hal.tapTakes(tap(), music));
    EXPECT_FALSE(hal.tapTakes(tap(), phone));
    EXPECT_TRUE(hal.tapTakes(tap(), player));
}

TEST_F(AudioEngineApplicationsTest, ChangesApplyToTheRunningTapWithoutARebuild) {
    auto& audio = startedEngine();
    const auto generation = AudioEngineTestPeer(audio).pipelineGeneration();
    const auto firstTap = tap();
    const auto uuid = hal.tapDescription(firstTap)->uuid;
    hal.startPlayback(music, speakers);
    mainQueue.runUntilIdle();

    audio.setApplicationRouting({{"music"}, {"phone"}});
    EXPECT_EQ(hal.taps(), std::vector<AudioObjectID>{firstTap});
    EXPECT_EQ(hal.tapDescription(firstTap)->uuid, uuid);
    EXPECT_FALSE(hal.tapTakes(firstTap, music));
    EXPECT_TRUE(hal.tapTakes(firstTap, phone));
    advance(5.0);
    EXPECT_EQ(AudioEngineTestPeer(audio).pipelineGeneration(), generation);
    EXPECT_EQ(runningReports.size(), 1u);
    EXPECT_TRUE(logged("Tap exclusions changed: 1 applications direct, 1 levelled against their "
                       "default"));

    // The same routing again asks nothing of the server.
    hal.injectFailure(HalOperation::setTapDescription, kAudioHardwareUnspecifiedError);
    audio.setApplicationRouting({{"music"}, {"phone"}});
    EXPECT_FALSE(logged("Tap exclusion change failed, OSStatus=2003329396; rebuilding"));
}

// The only application that played went around the tap: nothing plays into
// it any more, so IO suspends as for silence, and resumes when the user
// brings the application back.
TEST_F(AudioEngineApplicationsTest, AnApplicationSentAroundNoLongerKeepsTheTapAwake) {
    auto& audio = startedEngine();
    hal.startPlayback(music, speakers);
    advance(3.0);
    ASSERT_FALSE(audio.ioSuspended().get());

    audio.setApplicationRouting({{"music"}, {}});
    advance(2.0);
    EXPECT_TRUE(audio.ioSuspended().get());
    audio.setApplicationRouting({});
    mainQueue.runUntilIdle();
    EXPECT_FALSE(audio.ioSuspended().get());
}

TEST_F(AudioEngineApplicationsTest, AServerThatCannotChangeTheTapGetsANewOne) {
    auto& audio = startedEngine();
    const auto generation = AudioEngineTestPeer(audio).pipelineGeneration();
    hal.injectFailure(HalOperation::setTapDescription, kAudioHardwareUnspecifiedError);
    audio.setApplicationRouting({{"music"}, {}});
    EXPECT_TRUE(logged("Tap exclusion change failed, OSStatus=2003329396; rebuilding"));
    advance(0.4);
    EXPECT_GT(AudioEngineTestPeer(audio).pipelineGeneration(), generation);
    EXPECT_FALSE(hal.tapTakes(tap(), music));
}

class ApplicationMonitorTest : public EngineTest {
protected:
    std::vector<std::string> names() const {
        std::vector<std::string> result;
        for (const auto& application : monitor.applications().get()) {
            result.push_back(application.name);
        }
        return result;
    }

    ApplicationMonitor monitor{hal, mainQueue};
};

TEST_F(ApplicationMonitorTest, ListsWhatHasAnOutputStreamByApplicationAndName) {
    const auto browser = hal.addProcess({.pid = 3001, .bundleID = "firefox", .name = "Firefox"});
    const auto browserTab = hal.addProcess({.pid = 3002, .bundleID = "firefox"});
    const auto call = hal.addProcess({.pid = 3003,
                                      .bundleID = "linphone",
                                      .name = "Linphone",
                                      .iconName = "linphone",
                                      .directOutputReason = DirectOutputReason::callAudio});
    const auto nameless = hal.addProcess({.pid = 3004, .bundleID = "aplay"});
    const auto anonymous = hal.addProcess({.pid = 3005});
    hal.addProcess({.pid = 3006, .bundleID = "silent", .name = "Silent"}); // no stream
    for (const auto process : {browser, browserTab, call, nameless, anonymous, ownProcess}) {
        hal.startPlayback(process, speakers);
    }
    hal.stopPlayback(call); // paused: its stream stays
    mainQueue.runUntilIdle();

    EXPECT_EQ(names(), (std::vector<std::string>{"aplay", "Firefox", "Linphone"}));
    const auto& firefox = monitor.applications().get()[1];
    EXPECT_EQ(firefox.processes, (std::vector<AudioObjectID>{browser, browserTab}));
    EXPECT_TRUE(firefox.playing);
    const auto& linphone = monitor.applications().get()[2];
    EXPECT_FALSE(linphone.playing);
    EXPECT_EQ(linphone.iconName, "linphone");
    EXPECT_EQ(linphone.directOutputReason, DirectOutputReason::callAudio);

    hal.closeOutputStream(call);
    hal.removeProcess(nameless);
    mainQueue.runUntilIdle();
    EXPECT_EQ(names(), std::vector<std::string>{"Firefox"});
}

TEST_F(ApplicationMonitorTest, FollowsAnApplicationThatRenamesItself) {
    const auto game = hal.addProcess({.pid = 3001, .bundleID = "game", .name = "Game"});
    hal.startPlayback(game, speakers);
    mainQueue.runUntilIdle();
    hal.renameProcess(game, "game", "Game: level 2");
    mainQueue.runUntilIdle();
    EXPECT_EQ(names(), std::vector<std::string>{"Game: level 2"});
    EXPECT_EQ(monitor.applications().get()[0].bundleID, "game");
}

} // namespace
} // namespace quellora
