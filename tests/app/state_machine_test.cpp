// The mode/event table, its textual forms, and the model carrying it out.

#include "app_test_fixture.h"
#include "engine/audio_engine_test_peer.h"

namespace quellora {
namespace {

using Event = AppEvent::Kind;
using Transition = StateTransition::Kind;

TEST(ResolveTransitionTest, EveryModeAndEvent) {
    const auto failed = AppEvent::engineFailed("boom");
    const std::vector<AppEvent> events{
        Event::userEnabled,         Event::userDisabled,  Event::permissionIssueDetected,
        Event::permissionRecovered, Event::engineStarted, failed};
    const std::vector<std::pair<AppMode, std::vector<StateTransition>>> table{
        {AppMode::off(),
         {Transition::attemptStart, Transition::none, Transition::none, Transition::none,
          Transition::none, Transition::none}},
        {AppMode::on(),
         {Transition::none, Transition::enterOff, Transition::enterNeedsPermission,
          Transition::none, Transition::none, StateTransition::enterError("boom")}},
        {AppMode::needsPermission(),
         {Transition::none, Transition::enterOff, Transition::none, Transition::enterOnFromRecovery,
          Transition::none, StateTransition::enterError("boom")}},
        {AppMode::error("first"),
         {Transition::none, Transition::enterOff, Transition::none, Transition::none,
          Transition::enterOn, Transition::none}},
    };
    for (const auto& [mode, row] : table) {
        for (std::size_t e = 0; e < events.size(); ++e) {
            EXPECT_EQ(resolveTransition(mode, events[e]), row[e])
                << describe(mode) << " event " << e;
        }
    }
}

TEST(ResolveTransitionTest, TextualFormsQuoteAndEscapeMessages) {
    EXPECT_EQ(describe(StateTransition::enterError("say \"hi\"\\\n\t\x01")),
              "enterError(\"say \\\"hi\\\"\\\\\\n\\t\\u{1}\")");
}

TEST(ModeTextTest, NamesTheProgrammeTargetOnlyWhileOn) {
    EXPECT_EQ(modeText(AppMode::on(), false, {}, -18.0f), "on, programmes at -18 LUFS");
    EXPECT_EQ(modeText(AppMode::on(), true, {}, -21.5f),
              "on (waiting for audio output), programmes at -21.5 LUFS");
    EXPECT_EQ(modeText(AppMode::on(), false, "a reason", -18.0f),
              "on, programmes at -18 LUFS, some audio passes unlevelled: a reason");
    EXPECT_EQ(modeText(AppMode::off(), false, {}, -18.0f), "off");
}

TEST_F(AppStateTest, CreationWithPermissionStartsProcessing) {
    auto& app = makeModel();
    EXPECT_EQ(app.mode().get(), AppMode::on());
    EXPECT_TRUE(logged("Permission preflight: authorized"));
    EXPECT_TRUE(logged("State transition: off → attemptStart"));
    // Dry until the engine reports that it runs.
    EXPECT_TRUE(app.engine().compressor().bypassed());
    advance(0.4);
    EXPECT_FALSE(app.engine().compressor().bypassed());
    EXPECT_EQ(AudioEngineTestPeer(app.engine()).lastParams().get(), CompressorParams::defaults());
    // engineStarted in on changes nothing and logs nothing.
    EXPECT_EQ(logCount("State transition: on → enterOn"), 0u);
}

TEST_F(AppStateTest, SwitchingOffStopsTheEngineAfterTheCrossfade) {
    auto& app = runningModel();
    app.send(Event::userDisabled);
    EXPECT_EQ(app.mode().get(), AppMode::off());
    EXPECT_TRUE(app.engine().compressor().bypassed());
    EXPECT_TRUE(app.engine().isRunning().get());
    advance(0.05);
    EXPECT_FALSE(app.engine().isRunning().get());
    EXPECT_TRUE(hal.aggregateDevices().empty());
}

TEST_F(AppStateTest, SwitchingOnAgainWithinTheStopWindowKeepsTheEngineAndLiftsTheBypass) {
    auto& app = runningModel();
    const auto aggregate = hal.aggregateDevices().front();
    app.send(Event::userDisabled);
    advance(0.02);
    app.send(Event::userEnabled);
    advance(1.0);
    EXPECT_EQ(app.mode().get(), AppMode::on());
    EXPECT_TRUE(app.engine().isRunning().get());
    EXPECT_EQ(hal.aggregateDevices().front(), aggregate); // the same pipeline
    EXPECT_FALSE(app.engine().compressor().bypassed());
}

TEST_F(AppStateTest, EngineFailuresShowFromTheThirdAttemptUntilItRecovers) {
    hal.injectFailure(HalOperation::createAggregateDevice, 1, ScriptedHal::always);
    auto& app = makeModel();
    advance(1.0);
    EXPECT_EQ(app.mode().get(), AppMode::on());
    advance(0.3);
    EXPECT_EQ(app.mode().get(), AppMode::error("Reconnecting to your audio…"));
    EXPECT_TRUE(logged("State transition: on → enterError(\"Reconnecting to your audio…\")"));
    app.send(Event::userEnabled); // does nothing in error
    EXPECT_EQ(app.mode().get(), AppMode::error("Reconnecting to your audio…"));

    hal.clearFailures();
    advance(5.0);
    EXPECT_EQ(app.mode().get(), AppMode::on());
    EXPECT_FALSE(app.engine().compressor().bypassed());
    EXPECT_TRUE(logged("State transition: error(\"Reconnecting to your audio…\") → enterOn"));
}

TEST_F(AppStateTest, ALateFailureReportAfterSwitchingOffIsIgnored) {
    auto& app = runningModel();
    app.send(Event::userDisabled);
    app.send(AppEvent::engineFailed("late"));
    EXPECT_EQ(app.mode().get(), AppMode::off());
}

// What is shown while on without a pipeline: the mode stays on, and the
// model says that it waits for an output once that has lasted 2 s.
TEST_F(AppStateTest, OnWithoutAPipelineForTwoSecondsShowsThatItWaitsForAnOutput) {
    auto& app = runningModel();
    std::vector<bool> shown;
    const auto watching =
        app.waitingForAudioOutput().subscribe([&](bool waiting) { shown.push_back(waiting); });

    // Switching outputs rebuilds within the 2 s: nothing to show.
    const auto headphones = hal.addOutputDevice({.uid = "headphones"});
    hal.setDefaultOutput(headphones);
    advance(3.0);
    EXPECT_TRUE(shown.empty());

    // The outputs go and nothing replaces them.
    hal.removeDevice(speakers);
    hal.removeDevice(headphones);
    advance(1.9);
    EXPECT_TRUE(shown.empty());
    advance(0.2);
    EXPECT_EQ(shown, std::vector<bool>{true});
    EXPECT_EQ(app.mode().get(), AppMode::on());
    EXPECT_TRUE(logged("Processing is on but no audio pipeline runs; waiting for an output"));

    // Audio flows again as soon as an output is there.
    hal.setDefaultOutput(hal.addOutputDevice({.uid = "speakers again"}));
    advance(0.4);
    EXPECT_EQ(shown, (std::vector<bool>{true, false}));

    // Switching off ends the waiting at once, and off never waits.
    hal.setDefaultOutput(kAudioObjectUnknown);
    advance(2.5);
    ASSERT_TRUE(app.waitingForAudioOutput().get());
    app.send(AppEvent::Kind::userDisabled);
    EXPECT_FALSE(app.waitingForAudioOutput().get());
    advance(5.0);
    EXPECT_FALSE(app.waitingForAudioOutput().get());
}

TEST_F(AppStateTest, AnEngineFailureShowsTheErrorRatherThanWaiting) {
    hal.injectFailure(HalOperation::createAggregateDevice, 1, ScriptedHal::always);
    auto& app = makeModel();
    advance(10.0);
    EXPECT_EQ(app.mode().get(), AppMode::error("Reconnecting to your audio…"));
    EXPECT_FALSE(app.waitingForAudioOutput().get());
}

// Linux always grants capture; the permission flow runs once through its seam.
TEST_F(AppStateTest, PermissionFlowThroughItsSource) {
    permission->setStatus(SystemAudioAuthStatus::undetermined);
    auto& app = makeModel();
    EXPECT_EQ(app.mode().get(), AppMode::needsPermission());
    EXPECT_FALSE(app.engine().isRunning().get());
    EXPECT_EQ(loginItem->registrations, 1); // at once, for the permission screen
    app.requestPermission();
    ASSERT_TRUE(permission->hasPendingRequest());
    permission->answer(true);
    EXPECT_EQ(app.mode().get(), AppMode::needsPermission()); // the answer waits for the main queue
    mainQueue.runUntilIdle();
    EXPECT_EQ(app.mode().get(), AppMode::on());
    advance(0.4);
    EXPECT_FALSE(app.engine().compressor().bypassed());

    permission->setStatus(SystemAudioAuthStatus::undetermined);
    app.recheckPermission(); // undetermined while on: nothing
    EXPECT_EQ(app.mode().get(), AppMode::on());

    // Revoked while on: stops; once answered, the settings open instead of asking.
    permission->setStatus(SystemAudioAuthStatus::denied);
    app.setMenuIsOpen(true);
    EXPECT_EQ(app.mode().get(), AppMode::needsPermission());
    EXPECT_FALSE(app.engine().isRunning().get());
    app.requestPermission();
    EXPECT_EQ(permission->settingsOpened(), 1);
    EXPECT_EQ(permission->requests(), 1);

    permission->setStatus(SystemAudioAuthStatus::authorized);
    app.recheckPermission();
    EXPECT_EQ(app.mode().get(), AppMode::on());
    EXPECT_TRUE(app.engine().compressor().bypassed()); // lifted only by the running report
    advance(0.4);
    EXPECT_FALSE(app.engine().compressor().bypassed());

    // A user never set up who denied is not registered at once; an answer
    // that arrives after the model is gone is harmless.
    model.reset();
    settings = std::make_shared<InMemoryKeyValueStore>();
    permission->setStatus(SystemAudioAuthStatus::denied);
    loginItem->registrations = 0;
    EXPECT_EQ(makeModel().mode().get(), AppMode::needsPermission());
    EXPECT_EQ(loginItem->registrations, 0);
    permission->setStatus(SystemAudioAuthStatus::undetermined);
    model->recheckPermission();
    model->requestPermission();
    ASSERT_TRUE(permission->hasPendingRequest());
    model.reset();
    permission->answer(true);
    mainQueue.runUntilIdle();
}

} // namespace
} // namespace quellora
