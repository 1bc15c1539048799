// The standard, custom and saved presets and their persistence.

#include "app/app_state.h"
#include "dsp/compressor_param_fields.h"
#include "dsp/processing_chain.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace quellora {
namespace {

// The settings key of each custom value, in the order of compressorParamFields.
constexpr std::array<std::string_view, 7> customKeys{
    "custom.threshold", "custom.ratio", "custom.attack",   "custom.release",
    "custom.knee",      "custom.mix",   "custom.scHpfFreq"};
constexpr std::string_view selectedPresetKey = "selectedPreset";
constexpr std::string_view savedPresetsKey = "savedPresets.v1";
constexpr std::string_view releaseMigratedKey = "custom.releaseV2";
constexpr std::string_view outputPresetsKey = "outputPresets.v1";
constexpr std::string_view evenOutKey = "programmes.evenOut";
constexpr std::string_view programmeTargetKey = "programmes.targetLufs";
constexpr std::size_t releaseIndex = static_cast<std::size_t>(CustomParameter::release);
// Release times were once stored in a unit six times larger.
constexpr double legacyReleaseFactor = 6.0;

// What the built-in presets set the seven values to.
CompressorParams builtInParams(Preset preset) {
    return preset == Preset::night ? nightCompressorParams() : CompressorParams::defaults();
}

} // namespace

const Observable<float>& AppState::customValue(CustomParameter parameter) const {
    return customStores_[static_cast<std::size_t>(parameter)];
}

CompressorParams AppState::effectiveParams() const {
    CompressorParams params;
    for (std::size_t i = 0; i < compressorParamFields.size(); ++i) {
        params.*compressorParamFields[i].member = customStores_[i].get();
    }
    return params;
}

void AppState::setCustomStores(const CompressorParams& params) {
    for (std::size_t i = 0; i < compressorParamFields.size(); ++i) {
        customStores_[i].set(params.*compressorParamFields[i].member);
    }
}

void AppState::pushParamsToEngine() {
    const auto& programmes = programmeLevelling_.get();
    engine_->selectChain(selectedPreset_.get() == Preset::night ? ChainKind::night
                                                                : ChainKind::standard,
                         programmes.enabled ? std::optional(programmes.targetLufs) : std::nullopt);
    engine_->updateCompressorParams(effectiveParams());
}

void AppState::setEvenOutProgrammes(bool enabled) {
    auto levelling = programmeLevelling_.get();
    levelling.enabled = enabled;
    setProgrammeLevelling(levelling);
    rememberPick();
}

void AppState::setProgrammeTarget(float targetLufs) {
    auto levelling = programmeLevelling_.get();
    levelling.targetLufs = std::isnan(targetLufs)
                               ? ParamRange::defaultProgrammeTargetLufs
                               : clamped(targetLufs, ParamRange::programmeTarget);
    setProgrammeLevelling(levelling);
    rememberPick();
}

void AppState::setProgrammeLevelling(const ProgrammeLevelling& levelling) {
    programmeLevelling_.set(levelling);
    services.settings->setValue(evenOutKey, levelling.enabled);
    services.settings->setValue(programmeTargetKey, static_cast<double>(levelling.targetLufs));
    pushParamsToEngine();
}

void AppState::restoreProgrammeLevelling() {
    const auto& settings = *services.settings;
    ProgrammeLevelling levelling;
    levelling.enabled = settings.boolValue(evenOutKey);
    if (settings.contains(programmeTargetKey)) {
        const auto stored = static_cast<float>(settings.doubleValue(programmeTargetKey));
        if (!std::isnan(stored)) {
            levelling.targetLufs = clamped(stored, ParamRange::programmeTarget);
        }
    }
    programmeLevelling_.set(levelling);
}

void AppState::setSelectedPreset(Preset preset) {
    selectedPreset_.set(preset);
    applySelectionRule();
}

void AppState::applySelectionRule() {
    services.settings->setValue(selectedPresetKey, std::string(rawValue(selectedPreset_.get())));
    if (selectedPreset_.get() != Preset::custom) {
        setCustomStores(builtInParams(selectedPreset_.get()));
    }
    pushParamsToEngine();
}

void AppState::setCustomValue(CustomParameter parameter, float value) {
    customStores_[static_cast<std::size_t>(parameter)].set(value);
    if (selectedPreset_.get() != Preset::custom) {
        setSelectedPreset(Preset::custom);
    }
    saveCustomParams();
    pushParamsToEngine();
    rememberPick();
}

void AppState::saveCustomParams() {
    for (std::size_t i = 0; i < customKeys.size(); ++i) {
        services.settings->setValue(customKeys[i], static_cast<double>(customStores_[i].get()));
    }
    services.settings->setValue(releaseMigratedKey, true);
}

const SavedPreset* AppState::activePreset() const {
    const auto& id = activePresetID_.get();
    if (!id) {
        return nullptr;
    }
    for (const auto& preset : savedPresets_.get()) {
        if (preset.id == *id) {
            return &preset;
        }
    }
    return nullptr;
}

bool AppState::isActivePresetEdited() const {
    const auto* preset = activePreset();
    return preset != nullptr && preset->params != effectiveParams();
}

bool AppState::hasUnsavedEdits() const {
    return selectedPreset_.get() == Preset::custom &&
           (!activePresetID_.get() || isActivePresetEdited());
}

bool AppState::canSaveAsNewPreset() const {
    return hasUnsavedEdits() && savedPresets_.get().size() < maxSavedPresets;
}

std::string AppState::currentPresetLabel() const {
    if (const auto* preset = activePreset()) {
        return isActivePresetEdited() ? preset->name + " (edited)" : preset->name;
    }
    switch (selectedPreset_.get()) {
    case Preset::custom:
        return "Custom";
    case Preset::night:
        return "Night";
    case Preset::on:
        break;
    }
    return "Standard";
}

void AppState::selectStandard() {
    select(Preset::on);
    rememberPick();
}

void AppState::selectNight() {
    select(Preset::night);
    rememberPick();
}

void AppState::applyPreset(const SavedPreset& preset) {
    choose(preset);
    rememberPick();
}

void AppState::select(Preset preset) {
    activePresetID_.set(std::nullopt);
    setSelectedPreset(preset);
}

void AppState::choose(const SavedPreset& preset) {
    setCustomStores(preset.params);
    setSelectedPreset(Preset::custom);
    activePresetID_.set(preset.id);
    saveCustomParams();
}

void AppState::updateActivePreset() {
    const auto& id = activePresetID_.get();
    if (!id) {
        return;
    }
    auto presets = savedPresets_.get();
    for (auto& preset : presets) {
        if (preset.id == *id) {
            preset.params = effectiveParams();
            savedPresets_.set(std::move(presets));
            persistSavedPresets();
            return;
        }
    }
}

void AppState::saveAsNewPreset() {
    SavedPreset preset{Uuid::random(), nextPresetName(), effectiveParams()};
    auto presets = savedPresets_.get();
    presets.push_back(preset);
    savedPresets_.set(std::move(presets));
    activePresetID_.set(preset.id);
    persistSavedPresets();
    rememberPick();
}

std::string AppState::nextPresetName() const {
    std::set<std::string> names;
    for (const auto& preset : savedPresets_.get()) {
        names.insert(preset.name);
    }
    for (auto n = savedPresets_.get().size() + 1;; ++n) {
        auto name = "Preset " + std::to_string(n);
        if (!names.contains(name)) {
            return name;
        }
    }
}

void AppState::deleteActivePreset() {
    if (const auto* preset = activePreset()) {
        deletePreset(SavedPreset(*preset));
    }
}

void AppState::deletePreset(const SavedPreset& preset) {
    auto presets = savedPresets_.get();
    std::erase_if(presets, [&](const SavedPreset& saved) { return saved.id == preset.id; });
    savedPresets_.set(std::move(presets));
    if (activePresetID_.get() == preset.id) {
        activePresetID_.set(std::nullopt);
    }
    persistSavedPresets();
}

void AppState::persistSavedPresets() {
    try {
        const auto json = encodeSavedPresets(savedPresets_.get());
        services.settings->setValue(savedPresetsKey, Bytes(json.begin(), json.end()));
    } catch (const PresetCodingError&) {
        log.error("Failed to encode saved presets");
    }
}

void AppState::restorePresets() {
    auto& settings = *services.settings;
    if (const auto stored = settings.string(selectedPresetKey)) {
        if (const auto preset = presetFromRawValue(*stored)) {
            setSelectedPreset(*preset);
        }
    }
    if (const auto data = settings.data(savedPresetsKey)) {
        try {
            savedPresets_.set(decodeSavedPresets(std::string(data->begin(), data->end())));
        } catch (const PresetCodingError&) {
            // Kept empty; the stored data is replaced at the next change of the list.
        }
    }
    if (selectedPreset_.get() != Preset::custom) {
        setCustomStores(builtInParams(selectedPreset_.get()));
        return;
    }
    if (!settings.contains(customKeys[0])) {
        return;
    }
    if (!settings.boolValue(releaseMigratedKey)) {
        settings.setValue(customKeys[releaseIndex],
                          settings.doubleValue(customKeys[releaseIndex]) * legacyReleaseFactor);
        settings.setValue(releaseMigratedKey, true);
    }
    for (std::size_t i = 0; i < customKeys.size(); ++i) {
        auto stored = static_cast<float>(settings.doubleValue(customKeys[i]));
        if (!std::isfinite(stored)) {
            stored = 0.0f; // as if missing; clamping then makes it usable
        }
        customStores_[i].set(clamped(stored, compressorParamFields[i].range));
    }
    saveCustomParams();
}

// What plays now, as an output remembers it: a saved preset with the values
// heard, so that edits not yet saved into it come back with it.
PresetChoice AppState::currentPresetChoice() const {
    if (selectedPreset_.get() == Preset::custom) {
        return {Preset::custom, activePresetID_.get(), effectiveParams(),
                programmeLevelling_.get()};
    }
    return {selectedPreset_.get(), std::nullopt, std::nullopt, programmeLevelling_.get()};
}

void AppState::rememberPick() {
    if (!presetOutputUID_) {
        pickAwaitsOutput_ = true; // it belongs to the output the engine finds first
        return;
    }
    const auto choice = currentPresetChoice();
    const auto known = outputPresets_.find(*presetOutputUID_);
    if (known != outputPresets_.end() && known->second == choice) {
        return;
    }
    outputPresets_[*presetOutputUID_] = choice;
    const auto json = encodeOutputPresets(outputPresets_);
    services.settings->setValue(outputPresetsKey, Bytes(json.begin(), json.end()));
}

// Runs once each generation has started, on the output it plays on.
void AppState::followOutput(const std::optional<OutputDevice>& output) {
    if (!output) {
        return;
    }
    const auto previous = std::exchange(presetOutputUID_, output->uid);
    if (std::exchange(pickAwaitsOutput_, false)) {
        rememberPick();
        return;
    }
    if (previous == output->uid) {
        return;
    }
    // An output seen for the first time keeps what is selected.
    if (const auto remembered = outputPresets_.find(output->uid);
        remembered != outputPresets_.end() && remembered->second != currentPresetChoice()) {
        applyRememberedPreset(output->uid, remembered->second);
    }
}

void AppState::applyRememberedPreset(const std::string& outputUID, const PresetChoice& choice) {
    setProgrammeLevelling(choice.programmes);
    if (choice.savedPresetID) {
        const auto& presets = savedPresets_.get();
        const auto saved =
            std::find_if(presets.begin(), presets.end(), [&](const SavedPreset& preset) {
                return preset.id == *choice.savedPresetID;
            });
        if (saved == presets.end()) {
            log.notice("The preset output %{public}s had is deleted; using Standard", outputUID);
            select(Preset::on);
            return;
        }
        log.notice("Output %{public}s: applying its preset %{public}s", outputUID, saved->name);
        choose(SavedPreset(*saved));
        if (choice.customParams && *choice.customParams != saved->params) {
            // Edited on this output and not saved into the preset: as heard.
            setCustomStores(*choice.customParams);
            saveCustomParams();
            pushParamsToEngine();
        }
        return;
    }
    log.notice("Output %{public}s: applying its preset %{public}s", outputUID,
               std::string(rawValue(choice.preset)));
    if (choice.customParams) {
        setCustomStores(*choice.customParams);
        select(Preset::custom);
        saveCustomParams();
        return;
    }
    select(choice.preset);
}

void AppState::restoreOutputPresets() {
    const auto data = services.settings->data(outputPresetsKey);
    if (!data) {
        return;
    }
    try {
        outputPresets_ = decodeOutputPresets(std::string(data->begin(), data->end()));
    } catch (const SettingsCodingError& error) {
        // Replaced at the next pick.
        log.error("Ignoring the stored presets of the outputs: %{public}s", error.what());
    }
}

} // namespace quellora
