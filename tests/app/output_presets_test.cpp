// Presets that follow the output: what the user picks while an output plays
// comes back when that output is the default again.

#include "app_test_fixture.h"
#include "dsp/processing_chain.h"
#include "engine/audio_engine_test_peer.h"

namespace quellora {
namespace {

using Parameter = CustomParameter;

class OutputPresetsTest : public AppStateTest {
protected:
    // The default output changes; the model's preset follows once the
    // engine has rebuilt on it.
    void switchTo(const std::string& uid) {
        hal.setDefaultOutput(*hal.deviceWithUID(uid));
        advance(1.0);
        ASSERT_EQ(model->presetOutput().get()->uid, uid);
    }
    std::string label() const { return model->currentPresetLabel(); }

    AudioObjectID headphones = hal.addOutputDevice({.uid = "headphones", .name = "Headphones"});
    AudioObjectID hdmi = hal.addOutputDevice({.uid = "hdmi", .name = "Television"});
};

TEST_F(OutputPresetsTest, EachOutputGetsBackWhatWasPickedOnIt) {
    auto& app = runningModel();
    app.selectNight();
    switchTo("headphones");
    EXPECT_EQ(app.presetOutput().get(), (OutputDevice{"headphones", "Headphones"}));
    EXPECT_EQ(label(), "Night"); // never seen: keeps what plays
    app.selectStandard();

    switchTo("speakers");
    EXPECT_EQ(label(), "Night");
    EXPECT_EQ(AudioEngineTestPeer(app.engine()).chainKind(), ChainKind::night);
    switchTo("headphones");
    EXPECT_EQ(label(), "Standard");
    EXPECT_EQ(AudioEngineTestPeer(app.engine()).chainKind(), ChainKind::standard);
    switchTo("speakers");
    EXPECT_EQ(label(), "Night");
    EXPECT_TRUE(logged("Output speakers: applying its preset Night"));

    // An output without a name is called by its UID.
    EXPECT_EQ(app.presetOutput().get(), (OutputDevice{"speakers", "speakers"}));
}

TEST_F(OutputPresetsTest, CustomValuesBelongToTheirOutput) {
    auto& app = runningModel();
    app.setCustomValue(Parameter::ratio, 6.0f);
    switchTo("headphones");
    app.setCustomValue(Parameter::ratio, 3.0f);
    app.saveAsNewPreset(); // "Preset 1", ratio 3
    switchTo("hdmi");
    app.applyPreset(app.savedPresets().get()[0]);

    switchTo("speakers");
    EXPECT_EQ(label(), "Custom");
    EXPECT_EQ(app.effectiveParams().ratio, 6.0f);
    EXPECT_EQ(AudioEngineTestPeer(app.engine()).lastParams().get()->ratio, 6.0f);
    switchTo("headphones");
    EXPECT_EQ(label(), "Preset 1");
}

TEST_F(OutputPresetsTest, ADeletedSavedPresetFallsBackToStandard) {
    auto& app = runningModel();
    app.setCustomValue(Parameter::ratio, 5.0f);
    app.saveAsNewPreset();
    switchTo("headphones");
    app.selectNight();
    app.applyPreset(app.savedPresets().get()[0]); // picked on the headphones as well
    app.deleteActivePreset();
    EXPECT_EQ(label(), "Custom");

    switchTo("speakers");
    EXPECT_EQ(label(), "Standard");
    EXPECT_EQ(app.effectiveParams(), CompressorParams::defaults());
    EXPECT_TRUE(logged("The preset output speakers had is deleted; using Standard"));
}

TEST_F(OutputPresetsTest, APickBeforeAnyOutputBelongsToTheFirstOne) {
    makeModel();
    model->selectNight(); // as `quellora run --preset night` does, before the pipeline runs
    advance(0.4);
    EXPECT_EQ(label(), "Night");
    switchTo("headphones");
    model->selectStandard();
    switchTo("speakers");
    EXPECT_EQ(label(), "Night");
}

TEST_F(OutputPresetsTest, RememberedAcrossRunsAndAppliedOnTheFirstOutput) {
    runningModel().selectNight();
    switchTo("headphones");
    model->setCustomValue(Parameter::knee, 4.0f);
    model.reset();

    // Started again on the speakers, with Custom last selected.
    hal.setDefaultOutput(speakers);
    mainQueue.runUntilIdle();
    runningModel();
    EXPECT_EQ(label(), "Night");
    switchTo("headphones");
    EXPECT_EQ(label(), "Custom");
    EXPECT_EQ(model->effectiveParams().kneeWidth, 4.0f);
}

// What was last heard on an output comes back with it, after a restart as
// on a return: a saved preset as edited, and the programme target.
TEST_F(OutputPresetsTest, AnOutputGetsBackWhatItLastPlayedEditsAndTargetIncluded) {
    auto& app = runningModel();
    app.setCustomValue(Parameter::ratio, 3.0f);
    app.saveAsNewPreset();
    app.setCustomValue(Parameter::knee, 4.0f);
    app.setEvenOutProgrammes(true);
    app.setProgrammeTarget(-22.0f);
    ASSERT_EQ(label(), "Preset 1 (edited)");
    switchTo("headphones");
    app.selectStandard();
    app.setEvenOutProgrammes(false);

    const auto playsAsLeftOnTheSpeakers = [this] {
        EXPECT_EQ(label(), "Preset 1 (edited)");
        EXPECT_EQ(model->effectiveParams().kneeWidth, 4.0f);
        EXPECT_EQ(AudioEngineTestPeer(model->engine()).lastParams().get()->kneeWidth, 4.0f);
        EXPECT_EQ(model->programmeLevelling().get(), (ProgrammeLevelling{true, -22.0f}));
        EXPECT_EQ(model->engine().processingChain().programmeTarget(), -22.0f);
    };
    switchTo("speakers");
    playsAsLeftOnTheSpeakers();
    switchTo("headphones");
    EXPECT_EQ(model->engine().processingChain().programmeTarget(), std::nullopt);

    model.reset(); // and started again on the speakers
    hal.setDefaultOutput(speakers);
    mainQueue.runUntilIdle();
    runningModel();
    playsAsLeftOnTheSpeakers();
}

TEST_F(OutputPresetsTest, UnreadableStoredPresetsAreIgnored) {
    const std::string broken = "\"On\"";
    settings->setValue("outputPresets.v1", Bytes(broken.begin(), broken.end()));
    runningModel().selectNight();
    EXPECT_TRUE(logged("Ignoring the stored presets of the outputs: the presets of the outputs "
                       "are not a JSON object"));
    switchTo("headphones");
    switchTo("speakers");
    EXPECT_EQ(label(), "Night");
}

TEST_F(OutputPresetsTest, TheOneTimeReleaseMigrationStillRunsAndLeavesThemAlone) {
    settings->setValue("selectedPreset", std::string("Custom"));
    settings->setValue("custom.threshold", -30.0);
    settings->setValue("custom.release", 50.0); // the old unit: 300 ms
    const std::string stored =
        R"({"headphones":{"preset":"Custom","params":{"threshold":-30,"ratio":4,"attackMs":8,)"
        R"("releaseMs":200,"kneeWidth":6,"mix":1,"scHpfFreq":120}}})";
    settings->setValue("outputPresets.v1", Bytes(stored.begin(), stored.end()));
    runningModel();
    EXPECT_EQ(model->effectiveParams().releaseMs, 300.0f);
    EXPECT_TRUE(settings->boolValue("custom.releaseV2"));

    switchTo("headphones");
    EXPECT_EQ(model->effectiveParams().releaseMs, 200.0f); // already in milliseconds
    model.reset();
    EXPECT_EQ(makeModel().effectiveParams().releaseMs, 200.0f); // migrated once only
}

TEST(OutputPresetsCoding, RoundTripsEveryKindAndSkipsWhatItCannotRead) {
    const auto id = *Uuid::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    auto custom = CompressorParams::defaults();
    custom.ratio = 4.5f;
    const OutputPresets presets{
        {"speakers", {Preset::on, std::nullopt, std::nullopt, {true, -22.0f}}},
        {"headphones", {Preset::night, std::nullopt, std::nullopt, {}}},
        {"hdmi", {Preset::custom, id, std::nullopt, {}}},
        {"dock", {Preset::custom, id, custom, {true, -14.0f}}},
        {"usb", {Preset::custom, std::nullopt, custom, {false, -20.0f}}},
    };
    EXPECT_EQ(decodeOutputPresets(encodeOutputPresets(presets)), presets);
    // The forms stored before programmes were evened out still read.
    const auto older =
        decodeOutputPresets(R"({"a":"Night","b":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F"})");
    EXPECT_EQ(older.at("a"), (PresetChoice{Preset::night, std::nullopt, std::nullopt, {}}));
    EXPECT_EQ(older.at("b"), (PresetChoice{Preset::custom, id, std::nullopt, {}}));

    const auto read = decodeOutputPresets(
        R"({"a":"Custom","b":"night","c":7,"d":{"preset":"Custom","params":{"ratio":2}},)"
        R"("e":{"preset":"Custom","params":{"threshold":-99,"ratio":50,"attackMs":8,)"
        R"("releaseMs":600,"kneeWidth":20,"mix":0.95,"scHpfFreq":120},"targetLufs":-40}})");
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read.at("e").programmes.targetLufs, -24.0f);
    EXPECT_EQ(read.at("e").customParams->threshold, -50.0f);
    EXPECT_EQ(read.at("e").customParams->ratio, 8.0f);
    EXPECT_THROW(decodeOutputPresets("not json"), SettingsCodingError);
}

} // namespace
} // namespace quellora
