#pragma once

#include "app/app_mode.h"
#include "app/application_choices.h"
#include "app/login_item.h"
#include "app/low_volume_detector.h"
#include "app/output_presets.h"
#include "app/system_audio_permission.h"
#include "base/dispatcher.h"
#include "base/key_value_store.h"
#include "base/lifetime.h"
#include "base/log.h"
#include "base/observable.h"
#include "base/uuid.h"
#include "dsp/compressor_params.h"
#include "dsp/preset.h"
#include "dsp/saved_preset.h"
#include "engine/audio_engine.h"

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quellora {

// What the model needs from the platform.
struct AppServices {
    AudioHal& hal;
    Dispatcher& mainQueue;
    Dispatcher& diagnosticsQueue;
    EngineSwitchValues engineSwitches;
    std::shared_ptr<KeyValueStore> settings;
    std::shared_ptr<PermissionSource> permission;
    std::shared_ptr<LoginItemService> loginItem;
};

// An application with an output stream, or one the user chose for that has
// none now, and how it plays.
struct ApplicationEntry {
    AudioApplication application;
    bool direct = false; // around the tap, straight to the output
    // Why it plays direct without the user having said so; none once the user chose.
    DirectOutputReason defaultReason = DirectOutputReason::none;
    // It has an output stream now. Without one, only the user's choice is
    // listed, kept for when the application plays again.
    bool present = true;

    friend bool operator==(const ApplicationEntry&, const ApplicationEntry&) = default;
};

// The panel's words for a reason: "call audio", "pro audio"; empty for none.
std::string directOutputReasonText(DirectOutputReason reason);

// The seven custom parameters, in the order of compressorParamFields.
enum class CustomParameter { threshold, ratio, attack, release, knee, mix, scHpfFreq };

// The application model: owns the audio engine, holds everything the user
// interface shows and runs the state machine that decides when the engine
// runs. Created once, it restores the user's presets and starts processing at
// once. Main thread only.
class AppState {
public:
    static constexpr std::size_t maxSavedPresets = 5;

    explicit AppState(AppServices services);
    ~AppState();
    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;

    AudioEngine& engine() { return *engine_; }

    // State machine.
    const Observable<AppMode>& mode() const { return mode_; }
    const Observable<SystemAudioAuthStatus>& permissionStatus() const { return permissionStatus_; }
    const Observable<bool>& menuIsOpen() const { return menuIsOpen_; }
    // True while the mode is on but no pipeline has run for the last 2 s (no
    // output to play on, the server reconnecting): what is shown then. The
    // mode itself stays on.
    const Observable<bool>& waitingForAudioOutput() const { return waitingForAudioOutput_; }
    // Why some audio the tap would take passes it unlevelled (it would feed
    // the pipeline its own output); empty while none does.
    const Observable<std::string>& unlevelledAudio() const {
        return applicationMonitor_->unlevelledReason();
    }
    // Opening the panel re-checks the permission.
    void setMenuIsOpen(bool open);
    void send(const AppEvent& event);
    void recheckPermission();
    void requestPermission();

    // Presets.
    const Observable<Preset>& selectedPreset() const { return selectedPreset_; }
    // Runs the selection rule even when the value does not change.
    void setSelectedPreset(Preset preset);
    const Observable<float>& customValue(CustomParameter parameter) const;
    // The slider rule: switches to the custom selection and saves.
    void setCustomValue(CustomParameter parameter, float value);
    const Observable<std::vector<SavedPreset>>& savedPresets() const { return savedPresets_; }
    const Observable<std::optional<Uuid>>& activePresetID() const { return activePresetID_; }
    CompressorParams effectiveParams() const;
    bool isActivePresetEdited() const;
    bool canUpdatePreset() const { return isActivePresetEdited(); }
    bool canSaveAsNewPreset() const;
    std::string currentPresetLabel() const;
    void selectStandard();
    void selectNight();
    void applyPreset(const SavedPreset& preset);
    void updateActivePreset();
    void saveAsNewPreset();
    void deleteActivePreset();
    void deletePreset(const SavedPreset& preset);

    // "Even out programmes": every programme brought to one loudness ahead
    // of the compressor, whatever the preset (Night keeps its own aim).
    // Persisted, and remembered per output with the preset.
    const Observable<ProgrammeLevelling>& programmeLevelling() const { return programmeLevelling_; }
    void setEvenOutProgrammes(bool enabled);
    // Clamped into ParamRange::programmeTarget.
    void setProgrammeTarget(float targetLufs);

    // Presets follow the output: what the user picks is remembered for the
    // output that plays, and applied again when that output becomes the
    // default once more. The output the current preset belongs to:
    const Observable<std::optional<OutputDevice>>& presetOutput() const {
        return engine_->currentOutput();
    }

    // Applications: each plays levelled (through the tap) or direct, as the
    // user chose or, without a choice, as its default. Those with a stream
    // come first, by name; then the remembered choices for the others.
    const Observable<std::vector<ApplicationEntry>>& applications() const { return applications_; }
    // Also for an application that does not play now: the choice waits for it.
    void setApplicationDirect(const std::string& bundleID, bool direct);
    // Back to its default; whether there was a choice to forget.
    bool forgetApplicationChoice(const std::string& bundleID);

    // Low-volume warning.
    const Observable<bool>& lowVolumeWarning() const { return lowVolumeWarning_; }
    void dismissLowVolumeWarning();

    // Launch at login.
    const Observable<LoginItemStatus>& launchAtLoginStatus() const { return launchAtLoginStatus_; }
    bool launchAtLogin() const { return launchAtLoginStatus_.get() == LoginItemStatus::enabled; }
    void setLaunchAtLogin(bool enabled);
    bool launchAtLoginNeedsApproval() const {
        return launchAtLoginStatus_.get() == LoginItemStatus::requiresApproval;
    }
    void refreshLaunchAtLoginStatus();

private:
    // State machine steps.
    void attemptStart();
    void startEngineBypassed();
    void enterOnAndMonitor();
    void enterOff();
    void enterNeedsPermission();
    void handleEngineRunning();
    void followPipeline();

    // Presets.
    void select(Preset preset);
    void choose(const SavedPreset& preset);
    void applySelectionRule();
    void setCustomStores(const CompressorParams& params);
    void setProgrammeLevelling(const ProgrammeLevelling& levelling);
    void restoreProgrammeLevelling();
    void saveCustomParams();
    void persistSavedPresets();
    void restorePresets();
    std::string nextPresetName() const;
    const SavedPreset* activePreset() const;
    bool hasUnsavedEdits() const;
    void pushParamsToEngine();
    // Presets that follow the output.
    void rememberPick();
    void followOutput(const std::optional<OutputDevice>& output);
    void applyRememberedPreset(const std::string& outputUID, const PresetChoice& choice);
    PresetChoice currentPresetChoice() const;
    void restoreOutputPresets();

    // Applications.
    void restoreApplicationChoices();
    void applicationChoicesChanged();
    void refreshApplications();

    // Low-volume warning.
    void startLowVolumeMonitor();
    void stopLowVolumeMonitor();
    void checkLowVolume();

    // Launch at login.
    void registerLoginItemOnFirstSetup(bool deferred);

    AppServices services;
    Logger log{"AppState"};
    std::unique_ptr<AudioEngine> engine_;

    Observable<AppMode> mode_{AppMode::off()};
    Observable<SystemAudioAuthStatus> permissionStatus_{SystemAudioAuthStatus::undetermined};
    Observable<bool> menuIsOpen_{false};
    Observable<bool> waitingForAudioOutput_{false};
    Observable<bool> lowVolumeWarning_{false};
    Observable<std::vector<SavedPreset>> savedPresets_;
    Observable<std::optional<Uuid>> activePresetID_;
    Observable<Preset> selectedPreset_{Preset::on};
    Observable<ProgrammeLevelling> programmeLevelling_;
    std::array<Observable<float>, 7> customStores_;
    Observable<LoginItemStatus> launchAtLoginStatus_{LoginItemStatus::notRegistered};
    OutputPresets outputPresets_;
    // The output picks belong to; none until the first generation started.
    std::optional<std::string> presetOutputUID_;
    bool pickAwaitsOutput_ = false; // picked before any output was known
    ApplicationChoices applicationChoices_;
    // Stored by binary before names identified applications; see
    // carryOverFormerChoices.
    ApplicationChoices formerApplicationChoices_;
    std::unique_ptr<ApplicationMonitor> applicationMonitor_;
    Observable<std::vector<ApplicationEntry>> applications_;

    std::shared_ptr<WorkItem> pendingWaitingReport;
    std::vector<Subscription> pipelineObservations;
    Subscription outputObservation;
    Subscription applicationObservation;

    std::unique_ptr<RepeatingTimer> lowVolumeMonitorTimer;
    bool lowVolumeWarningDismissed = false;
    LowVolumeDetector lowVolumeDetector;
    Lifetime lifetime; // last: closures stop working before anything else goes
};

} // namespace quellora
