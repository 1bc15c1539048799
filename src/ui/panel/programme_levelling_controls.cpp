#include "ui/panel/programme_levelling_controls.h"

#include "app/app_state.h"
#include "ui/panel/eased_value.h"
#include "ui/panel/menu_switch.h"
#include "ui/panel/model_observation.h"
#include "ui/panel/param_slider.h"
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
    , targetText_(new TintedLabel({}, style::systemFont(11), &style::tertiary, this))
    , nightNote_(new TintedLabel("built into Night", style::systemFont(11), &style::tertiary, this))
    , target_(new ParamTrack(ParamRange::programmeTarget, {0, " LUFS", 1}, 1.0f, this))
    , switchOpacity_(fadeable(*switchGroup_))
    , targetOpacity_{fadeable(*targetText_), fadeable(*target_)} {
    switch_->setObjectName("evenOutSwitch");
    switch_->setAccessibleName("Even out programmes");
    connect(switch_, &MenuSwitch::clicked, this,
            [this] { model_.setEvenOutProgrammes(!switch_->isOn()); });
    target_->setObjectName("programmeTarget");
    target_->setAccessibleName("Target loudness");
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

    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(switchGroup_);
    row->addStretch();
    row->addWidget(targetText_);
    row->addWidget(nightNote_);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    column->addLayout(row);
    column->addWidget(target_);

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
    target_->setEnabled(targetWorks);
    target_->setAccessibleDescription(night ? nightLevelsItself : QString());
    targetText_->setText(target_->valueText());
    targetText_->setVisible(!night);
    nightNote_->setVisible(night);
    switchOpacity_->setTarget(night ? inertOpacity : 1.0);
    for (auto* opacity : targetOpacity_) {
        opacity->setTarget(targetWorks ? 1.0 : inertOpacity);
    }
}

} // namespace quellora
