// `quellora run`: its options, how it puts the model on the chosen preset and
// what it tells the terminal. The application itself runs in the
// integration tests.

#include "app/app_test_fixture.h"
#include "cli/command_error.h"
#include "cli/preset_application.h"
#include "cli/run_announcer.h"
#include "cli/run_options.h"
#include "engine/audio_engine_test_peer.h"

#include <gmock/gmock.h>

#include <sstream>

namespace quellora {
namespace {

using ::testing::ElementsAre;
using Parameter = CustomParameter;

TEST(RunOptions, TakeThePresetOptionsOfProcessAndVerbose) {
    const auto none = parseRunOptions({});
    EXPECT_FALSE(none.presets.anyGiven());
    EXPECT_FALSE(none.verbose);
    EXPECT_TRUE(parseRunOptions({"--preset", "standard"}).presets.anyGiven());

    const auto options = parseRunOptions({"-v", "--preset-file=p.json", "--ratio", "4"});
    EXPECT_TRUE(options.verbose);
    EXPECT_EQ(options.presets.savedPreset->file, "p.json");
    EXPECT_EQ(options.presets.parameterOverrides[1], 4.0f);
    EXPECT_THROW(parseRunOptions({"--block", "64"}), CommandError);
    EXPECT_TRUE(parseRunOptions({"extra", "--help"}).showHelp);
}

class PresetApplicationTest : public AppStateTest {
protected:
    // A custom preset left by an earlier run, restored by the model.
    void SetUp() override {
        AppStateTest::SetUp();
        settings->setValue("selectedPreset", std::string("Custom"));
        settings->setValue("custom.releaseV2", true);
        const auto earlier = CompressorParams{-40.0f, 6.0f, 3.0f, 900.0f, 6.0f, 1.0f, 200.0f};
        const std::array<const char*, 7> keys{"custom.threshold", "custom.ratio", "custom.attack",
                                              "custom.release",   "custom.knee",  "custom.mix",
                                              "custom.scHpfFreq"};
        for (std::size_t index = 0; index < keys.size(); ++index) {
            settings->setValue(keys[index],
                               static_cast<double>(earlier.*compressorParamFields[index].member));
        }
    }

    PresetSelection selection(std::optional<SavedPreset> saved, CompressorParams params,
                              ChainKind chain = ChainKind::standard) {
        return {std::move(saved), chain, params, std::nullopt};
    }
};

TEST_F(PresetApplicationTest, ParametersGoOnTopOfTheStandardPresetNotOfEarlierCustomValues) {
    auto& app = runningModel();
    auto params = CompressorParams::defaults();
    params.threshold = -35.0f;

    applyPresetSelection(app, selection(std::nullopt, params));

    EXPECT_EQ(app.effectiveParams(), params);
    EXPECT_EQ(AudioEngineTestPeer(app.engine()).lastParams().get(), params);
    EXPECT_EQ(app.selectedPreset().get(), Preset::custom);
    EXPECT_DOUBLE_EQ(settings->doubleValue("custom.threshold"), -35.0);
    EXPECT_DOUBLE_EQ(settings->doubleValue("custom.ratio"), 2.5);
}

TEST_F(PresetApplicationTest, TheStandardPresetAloneSelectsStandard) {
    auto& app = runningModel();
    ASSERT_EQ(app.selectedPreset().get(), Preset::custom);

    applyPresetSelection(app, selection(std::nullopt, CompressorParams::defaults()));

    EXPECT_EQ(app.selectedPreset().get(), Preset::on);
    EXPECT_EQ(AudioEngineTestPeer(app.engine()).lastParams().get(), CompressorParams::defaults());
}

TEST_F(PresetApplicationTest, ASavedPresetBecomesActiveAndOverridesShowAsEdits) {
    auto& app = runningModel();
    const SavedPreset night{Uuid::random(), "Night",
                            CompressorParams{-40.0f, 6.0f, 3.0f, 900.0f, 6.0f, 1.0f, 200.0f}};
    auto params = night.params;
    params.mix = 0.5f;

    applyPresetSelection(app, selection(night, params));

    EXPECT_EQ(app.activePresetID().get(), night.id);
    EXPECT_EQ(app.effectiveParams(), params);
    EXPECT_EQ(AudioEngineTestPeer(app.engine()).lastParams().get(), params);
}

TEST_F(PresetApplicationTest, TheNightPresetSelectsNightAndAParameterOnTopMakesItCustom) {
    auto& app = runningModel();

    applyPresetSelection(app, selection(std::nullopt, nightCompressorParams(), ChainKind::night));
    EXPECT_EQ(app.selectedPreset().get(), Preset::night);
    EXPECT_EQ(AudioEngineTestPeer(app.engine()).chainKind(), ChainKind::night);

    auto params = nightCompressorParams();
    params.ratio = 2.0f;
    applyPresetSelection(app, selection(std::nullopt, params, ChainKind::night));
    EXPECT_EQ(app.selectedPreset().get(), Preset::custom);
    EXPECT_EQ(app.effectiveParams(), params);
}

class RunAnnouncerTest : public AppStateTest {
protected:
    std::vector<std::string> lines() const {
        std::vector<std::string> all;
        std::istringstream stream(out.str());
        for (std::string line; std::getline(stream, line);) {
            all.push_back(line);
        }
        return all;
    }

    std::ostringstream out;
};

TEST_F(RunAnnouncerTest, TellsTheModeOnceConnectedAndWhenTheServerComesAndGoes) {
    auto& app = makeModel();
    RunAnnouncer announcer(app, out, false);
    announcer.setServerConnected(false);
    announcer.setServerConnected(true);
    announcer.setServerConnected(true);
    app.send(AppEvent::Kind::userDisabled);
    announcer.setServerConnected(false);

    EXPECT_THAT(lines(),
                ElementsAre(RunAnnouncer::noServerLine, "Connected to PipeWire.", "Quellora is on.",
                            "Quellora is off.", RunAnnouncer::noServerLine));
}

TEST_F(RunAnnouncerTest, TellsTheEnginesFailureAndItsRecovery) {
    hal.injectFailure(HalOperation::createAggregateDevice, 1, ScriptedHal::always);
    auto& app = makeModel();
    RunAnnouncer announcer(app, out, true);
    advance(1.3);
    hal.clearFailures();
    advance(5.0);

    EXPECT_THAT(lines(), ElementsAre("Quellora is on.",
                                     "Quellora can't reach your audio: Reconnecting to your audio…",
                                     "Quellora is on."));
}

TEST_F(RunAnnouncerTest, TellsOnceThatItWaitsForAnOutputAndWhenAudioFlowsAgain) {
    auto& app = runningModel();
    RunAnnouncer announcer(app, out, true);
    hal.setDefaultOutput(kAudioObjectUnknown);
    advance(10.0);
    hal.setDefaultOutput(speakers);
    advance(1.0);
    app.send(AppEvent::Kind::userDisabled);

    EXPECT_THAT(lines(),
                ElementsAre("Quellora is on.", "Quellora is on (waiting for audio output).",
                            "Quellora is on.", "Quellora is off."));
}

TEST_F(RunAnnouncerTest, TellsTheLowVolumeWarningWhenItShows) {
    auto& app = runningModel();
    RunAnnouncer announcer(app, out, true);
    // Ninety seconds of input peaking at -30 dBFS, as the capture would meter it.
    for (int tick = 0; tick < 180; ++tick) {
        for (int buffer = 0; buffer < 48; ++buffer) {
            app.engine().processingChain().sourceLevels().push({-30.0f, -30.0f, 0.0f});
        }
        advance(0.5);
    }
    ASSERT_TRUE(app.lowVolumeWarning().get());
    app.dismissLowVolumeWarning();

    EXPECT_THAT(lines(), ElementsAre("Quellora is on.", RunAnnouncer::lowVolumeLine));
}

} // namespace
} // namespace quellora
