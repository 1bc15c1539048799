// Choosing, editing, saving and restoring presets.

#include "app_test_fixture.h"
#include "dsp/processing_chain.h"
#include "dsp/saved_preset.h"
#include "engine/audio_engine_test_peer.h"

namespace quellora {
namespace {

using Parameter = CustomParameter;

class PresetsTest : public AppStateTest {
protected:
    std::vector<SavedPreset> storedPresets() const {
        const auto data = settings->data("savedPresets.v1");
        return data ? decodeSavedPresets(std::string(data->begin(), data->end()))
                    : std::vector<SavedPreset>{};
    }
    void storePresets(const std::vector<SavedPreset>& presets) {
        const auto json = encodeSavedPresets(presets);
        settings->setValue("savedPresets.v1", Bytes(json.begin(), json.end()));
    }
};

TEST_F(PresetsTest, MovingASliderSwitchesToCustomAndSavesEverything) {
    auto& app = runningModel();
    EXPECT_EQ(app.currentPresetLabel(), "Standard");
    app.setCustomValue(Parameter::ratio, 4.0f);
    EXPECT_EQ(app.selectedPreset().get(), Preset::custom);
    EXPECT_EQ(settings->string("selectedPreset"), "Custom");
    EXPECT_DOUBLE_EQ(settings->doubleValue("custom.ratio"), 4.0);
    EXPECT_DOUBLE_EQ(settings->doubleValue("custom.scHpfFreq"), 120.0);
    EXPECT_TRUE(settings->boolValue("custom.releaseV2"));
    EXPECT_FALSE(app.activePresetID().get());
    EXPECT_EQ(AudioEngineTestPeer(app.engine()).lastParams().get()->ratio, 4.0f);
    EXPECT_EQ(app.currentPresetLabel(), "Custom");
    EXPECT_TRUE(app.canSaveAsNewPreset());
}

TEST_F(PresetsTest, TheStandardSelectionResetsTheSlidersButNotTheStoredValues) {
    auto& app = runningModel();
    app.setCustomValue(Parameter::threshold, -40.0f);
    app.selectStandard();
    EXPECT_EQ(app.effectiveParams(), CompressorParams::defaults());
    EXPECT_EQ(AudioEngineTestPeer(app.engine()).lastParams().get(), CompressorParams::defaults());
    EXPECT_DOUBLE_EQ(settings->doubleValue("custom.threshold"), -40.0);
    EXPECT_EQ(settings->string("selectedPreset"), "On");

    // Choosing custom again while it is selected still writes and pushes.
    app.setSelectedPreset(Preset::custom);
    settings->removeValue("selectedPreset");
    app.setSelectedPreset(Preset::custom);
    EXPECT_EQ(settings->string("selectedPreset"), "Custom");
}

TEST_F(PresetsTest, SavingApplyingEditingUpdatingAndDeleting) {
    auto& app = runningModel();
    app.setCustomValue(Parameter::knee, 6.0f);
    app.saveAsNewPreset();
    ASSERT_EQ(app.savedPresets().get().size(), 1u);
    const auto first = app.savedPresets().get()[0];
    EXPECT_EQ(first.name, "Preset 1");
    EXPECT_EQ(app.activePresetID().get(), first.id);
    EXPECT_EQ(storedPresets(), app.savedPresets().get());
    EXPECT_FALSE(app.canSaveAsNewPreset());
    EXPECT_EQ(app.currentPresetLabel(), "Preset 1");

    app.selectStandard();
    app.applyPreset(first);
    EXPECT_EQ(app.effectiveParams().kneeWidth, 6.0f);
    EXPECT_FALSE(app.isActivePresetEdited());
    EXPECT_FALSE(app.canUpdatePreset());

    app.setCustomValue(Parameter::mix, 0.5f);
    EXPECT_EQ(app.currentPresetLabel(), "Preset 1 (edited)");
    EXPECT_TRUE(app.canUpdatePreset());
    EXPECT_TRUE(app.canSaveAsNewPreset());
    app.updateActivePreset();
    EXPECT_EQ(app.savedPresets().get()[0].params.mix, 0.5f);
    EXPECT_EQ(app.savedPresets().get()[0].id, first.id);
    EXPECT_EQ(storedPresets()[0].params.mix, 0.5f);

    app.saveAsNewPreset();
    const auto second = app.savedPresets().get()[1];
    app.deletePreset(first); // not the active one
    EXPECT_EQ(app.activePresetID().get(), second.id);
    app.deleteActivePreset();
    EXPECT_TRUE(app.savedPresets().get().empty());
    EXPECT_FALSE(app.activePresetID().get());
    EXPECT_EQ(app.selectedPreset().get(), Preset::custom);
    EXPECT_EQ(app.effectiveParams().mix, 0.5f);
    EXPECT_TRUE(storedPresets().empty());
}

TEST_F(PresetsTest, FivePresetsAtMostFromThePanelAndNamesSkipTakenOnes) {
    storePresets({{Uuid::random(), "Preset 1", CompressorParams::defaults()},
                  {Uuid::random(), "Preset 3", CompressorParams::defaults()}});
    auto& app = runningModel();
    app.setCustomValue(Parameter::attack, 2.0f);
    app.saveAsNewPreset();
    EXPECT_EQ(app.savedPresets().get().back().name, "Preset 4");
    for (int i = 0; i < 2; ++i) {
        app.setCustomValue(Parameter::attack, 3.0f + static_cast<float>(i));
        app.saveAsNewPreset();
    }
    ASSERT_EQ(app.savedPresets().get().size(), 5u);
    app.setCustomValue(Parameter::attack, 9.0f);
    EXPECT_FALSE(app.canSaveAsNewPreset());
    app.saveAsNewPreset(); // the panel hides the action; the model does not refuse
    EXPECT_EQ(app.savedPresets().get().size(), 6u);
}

TEST_F(PresetsTest, RestoreMigratesClampsAndIgnoresWhatItCannotRead) {
    settings->setValue("selectedPreset", std::string("Custom"));
    settings->setValue("custom.threshold", -70.0);
    settings->setValue("custom.ratio", 3.0);
    settings->setValue("custom.release", 100.0); // the old unit: 600 ms
    settings->setValue("custom.mix", 0.7);
    settings->setValue("savedPresets.v1", Bytes{'[', '{'});
    auto& app = makeModel();
    EXPECT_EQ(app.selectedPreset().get(), Preset::custom);
    const auto params = app.effectiveParams();
    EXPECT_EQ(params.threshold, -50.0f); // clamped
    EXPECT_EQ(params.releaseMs, 600.0f); // migrated
    EXPECT_EQ(params.attackMs, 1.0f);    // missing reads as 0, clamped
    EXPECT_EQ(params.mix, 0.7f);
    EXPECT_TRUE(settings->boolValue("custom.releaseV2"));
    EXPECT_DOUBLE_EQ(settings->doubleValue("custom.threshold"), -50.0);
    EXPECT_TRUE(app.savedPresets().get().empty());
    EXPECT_EQ(AudioEngineTestPeer(app.engine()).lastParams().get(), params);

    // The migration runs once.
    model.reset();
    EXPECT_EQ(makeModel().effectiveParams().releaseMs, 600.0f);
}

TEST_F(PresetsTest, RestoreIgnoresUnknownSelectionsAndResetsUnderStandard) {
    settings->setValue("selectedPreset", std::string("custom"));
    settings->setValue("custom.threshold", -40.0);
    auto& app = makeModel();
    EXPECT_EQ(app.selectedPreset().get(), Preset::on);
    EXPECT_EQ(app.effectiveParams(), CompressorParams::defaults());
    EXPECT_EQ(settings->string("selectedPreset"), "custom"); // not rewritten
}

TEST_F(PresetsTest, NightIsABuiltInSelectionThatRunsTheNightChainAndReportsItsDelay) {
    auto& app = runningModel();
    const auto aggregate = AudioEngineTestPeer(app.engine()).aggregateDevice();
    EXPECT_EQ(hal.reportedProcessingLatency(aggregate), 240u);

    app.selectNight();
    EXPECT_EQ(app.selectedPreset().get(), Preset::night);
    EXPECT_EQ(settings->string("selectedPreset"), "Night");
    EXPECT_EQ(app.currentPresetLabel(), "Night");
    EXPECT_EQ(app.effectiveParams(), nightCompressorParams());
    EXPECT_EQ(AudioEngineTestPeer(app.engine()).lastParams().get(), nightCompressorParams());
    EXPECT_EQ(AudioEngineTestPeer(app.engine()).chainKind(), ChainKind::night);
    EXPECT_EQ(hal.reportedProcessingLatency(aggregate), 342u);
    EXPECT_FALSE(settings->contains("custom.threshold")); // built-in: nothing saved as custom

    // A slider starts from Night's compressor but runs it alone, as Custom.
    app.setCustomValue(Parameter::ratio, 4.0f);
    EXPECT_EQ(app.selectedPreset().get(), Preset::custom);
    EXPECT_EQ(app.effectiveParams().threshold, nightCompressorParams().threshold);
    EXPECT_EQ(AudioEngineTestPeer(app.engine()).chainKind(), ChainKind::standard);
    EXPECT_EQ(hal.reportedProcessingLatency(aggregate), 240u);

    app.selectNight();
    app.selectStandard();
    EXPECT_EQ(app.effectiveParams(), CompressorParams::defaults());
    EXPECT_EQ(AudioEngineTestPeer(app.engine()).chainKind(), ChainKind::standard);
}

TEST_F(PresetsTest, NightIsRestoredAtTheNextLaunchWithItsOwnValues) {
    settings->setValue("selectedPreset", std::string("Night"));
    settings->setValue("custom.threshold", -40.0);
    auto& app = runningModel();
    EXPECT_EQ(app.selectedPreset().get(), Preset::night);
    EXPECT_EQ(app.effectiveParams(), nightCompressorParams());
    EXPECT_EQ(AudioEngineTestPeer(app.engine()).chainKind(), ChainKind::night);
    EXPECT_EQ(hal.reportedProcessingLatency(AudioEngineTestPeer(app.engine()).aggregateDevice()),
              342u);
}

} // namespace
} // namespace quellora
