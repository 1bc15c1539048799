#include "ui/panel/programme_levelling_controls.h"

#include "app/app_state.h"
#include "ui/panel/eased_value.h"
#include "ui/panel/menu_switch.h"
#include "ui/panel/model_observation.h"
#include "ui/panel/param_stepper.h"
#include "ui/panel/tinted_label.h"
#include "ui/views/ui_style.h"

#include <QBoxLayout>

namespace quellora {
namespace {

constexpr double inertOpacity = 0.4;
const QString nightLevelsItself = "Night levels programmes its own way, speech first";

} // namespace

ProgrammeLevellingControls::ProgrammeLevellingControls(AppState& model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , switchGroup_(new QWidget(this))
    , switch_(new MenuSwitch(MenuSwitch::smallSize, switchGroup_))
    , target_(new ParamStepper(ParamRange::programmeTarget, {0, " LUFS", 1}, 1.0f, this))
    , nightNote_(new TintedLabel("built into Night", style::systemFont(11), &style::tertiary, this))
    , switchOpacity_(fadeable(*switchGroup_))
    , targetOpacity_(fadeable(*target_)) {
    switch_->setObjectName("evenOutSwitch");
    switch_->setAccessibleName("Even out programmes");
    connect(switch_, &MenuSwitch::clicked, this,
            [this] { model_.setEvenOutProgrammes(!switch_->isOn()); });
    target_->setObjectName("programmeTarget");
    target_->setAccessibleName("Target loudness");
    target_->setToolTip("The loudness every programme is brought to");
    connect(target_, &ParamTrack::valueEdited, this,
            [this](float lufs) { model_.setProgrammeTarget(lufs); });
    nightNote_->setObjectName("evenOutNightNote");
    nightNote_->setToolTip(nightLevelsItself);

    auto* switchRow = new QHBoxLayout(switchGroup_);
    switchRow->setContentsMargins(0, 0, 0, 0);
    switchRow->setSpacing(8);
    switchRow->addWidget(switch_);
    switchRow->addWidget(new TintedLabel("Even out programmes", style::systemFont(12),
                                         &style::primaryText, switchGroup_));

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(switchGroup_);
    row->addStretch();
    row->addWidget(target_);
    row->addWidget(nightNote_);

    subscriptions_ =
        observeAll([this] { render(); }, model_.programmeLevelling(), model_.selectedPreset());
    render();
}

void ProgrammeLevellingControls::render() {
    const auto& levelling = model_.programmeLevelling().get();
    const bool night = model_.selectedPreset().get() == Preset::night;
    const bool targetWorks = levelling.enabled && !night;

    switch_->setOn(levelling.enabled);
    switch_->setEnabled(!night);
    switch_->setAccessibleDescription(night ? nightLevelsItself
                                            : "Brings every programme to the target loudness");
    target_->showValue(levelling.targetLufs);
    target_->update(); // a new value may leave the step where it was
    target_->setEnabled(targetWorks);
    target_->setVisible(!night);
    nightNote_->setVisible(night);
    switchOpacity_->setTarget(night ? inertOpacity : 1.0);
    targetOpacity_->setTarget(targetWorks ? 1.0 : inertOpacity);
}

} // namespace quellora
