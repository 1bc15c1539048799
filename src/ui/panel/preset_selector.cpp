#include "ui/panel/preset_selector.h"

#include "app/app_state.h"
#include "ui/panel/model_observation.h"
#include "ui/panel/plain_button.h"
#include "ui/panel/preset_pill.h"
#include "ui/panel/tinted_label.h"
#include "ui/views/ui_style.h"

#include <QBoxLayout>
#include <algorithm>

namespace quellora {
namespace {

// The pills keep a pixel on their trailing side for the edited dot, so the
// row's spacing is one less than the six it looks like.
constexpr int pillSpacing = 5;

PlainButton* actionButton(const QString& text, const QString& name, const QString& hint,
                          QWidget* parent) {
    auto* button = new PlainButton(parent);
    button->setText(text);
    button->setTextStyle(style::systemFont(11, QFont::Medium), style::fixedTint(style::accent()));
    button->setAccessibleName(name);
    button->setAccessibleDescription(hint);
    return button;
}

} // namespace

PresetSelector::PresetSelector(AppState& model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , pillRow_(new QHBoxLayout)
    , standard_(new PresetPill("Standard", this))
    , night_(new PresetPill("Night", this))
    , delete_(new PlainButton(this))
    , update_(actionButton("Update", "Update Preset",
                           "Overwrites the selected preset with the current sliders", this))
    , save_(actionButton({}, "Save as New Preset", "Saves the current sliders as a new preset",
                         this)) {
    standard_->setObjectName("standardPresetPill");
    standard_->setAccessibleName("Standard preset");
    connect(standard_, &PresetPill::clicked, this, [this] { model_.selectStandard(); });
    night_->setObjectName("nightPresetPill");
    night_->setAccessibleName("Night preset");
    night_->setToolTip("Night: dialogue up, explosions down, nothing clipped");
    connect(night_, &PresetPill::clicked, this, [this] { model_.selectNight(); });

    delete_->setObjectName("deletePresetButton");
    delete_->setSymbol(Symbol::trash, 10, style::fixedTint(style::red(0.5)));
    delete_->setPadding(2, 0);
    delete_->setToolTip("Delete the selected preset");
    delete_->setAccessibleName("Delete Preset");
    delete_->setAccessibleDescription("Removes the currently selected saved preset");
    connect(delete_, &PlainButton::clicked, this, [this] { model_.deleteActivePreset(); });

    save_->setSymbol(Symbol::plus, 9, style::fixedTint(style::accent()));
    save_->setSpacing(3);
    connect(update_, &PlainButton::clicked, this, [this] { model_.updateActivePreset(); });
    connect(save_, &PlainButton::clicked, this, [this] { model_.saveAsNewPreset(); });

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(new TintedLabel("Fine Tune", style::systemFont(12, QFont::Medium),
                                      &style::primaryText, this));
    header->addStretch();
    header->addWidget(update_);
    header->addWidget(save_);

    pillRow_->setSpacing(pillSpacing);
    pillRow_->addWidget(standard_);
    pillRow_->addWidget(night_);
    pillRow_->addWidget(delete_);
    pillRow_->addStretch();

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    column->addLayout(header);
    column->addLayout(pillRow_);

    subscriptions_ = observeAll([this] { rebuildSavedPills(); }, model_.savedPresets());
    append(subscriptions_, observePresets(model_, [this] { render(); }));
    rebuildSavedPills();
}

void PresetSelector::rebuildSavedPills() {
    for (const auto& saved : savedPills_) {
        pillRow_->removeWidget(saved.pill);
        saved.pill->hide();
        saved.pill->deleteLater(); // it may be the sender of the click that got us here
    }
    savedPills_.clear();
    int index = pillRow_->indexOf(night_) + 1;
    for (const auto& preset : model_.savedPresets().get()) {
        auto* pill = new PresetPill(presetPillTitle(preset.name), this);
        pill->setToolTip(presetPillToolTip(preset.name));
        connect(pill, &PresetPill::clicked, this, [this, id = preset.id] {
            const auto& presets = model_.savedPresets().get();
            const auto found = std::find_if(presets.begin(), presets.end(),
                                            [&](const SavedPreset& p) { return p.id == id; });
            if (found != presets.end()) {
                model_.applyPreset(*found);
            }
        });
        pillRow_->insertWidget(index++, pill);
        pill->show(); // a child added to a shown panel stays hidden until told
        savedPills_.push_back({preset.id, pill});
    }
    render();
}

void PresetSelector::render() {
    const auto& activeID = model_.activePresetID().get();
    standard_->setState(model_.selectedPreset().get() == Preset::on && !activeID, false);
    night_->setState(model_.selectedPreset().get() == Preset::night && !activeID, false);
    const PresetPill* activePill = nullptr;
    const bool edited = model_.isActivePresetEdited();
    for (const auto& saved : savedPills_) {
        const bool active = activeID == saved.id;
        saved.pill->setState(active, active && edited);
        if (active) {
            activePill = saved.pill;
        }
    }
    placeDeleteButton(activePill);

    update_->setVisible(model_.canUpdatePreset());
    save_->setVisible(model_.canSaveAsNewPreset());
    save_->setText(model_.canUpdatePreset() ? "New" : "Save");
}

void PresetSelector::placeDeleteButton(const PresetPill* activePill) {
    pillRow_->removeWidget(delete_);
    if (!activePill) {
        delete_->hide();
        pillRow_->insertWidget(pillRow_->count() - 1, delete_); // before the stretch
        return;
    }
    pillRow_->insertWidget(pillRow_->indexOf(activePill) + 1, delete_);
    delete_->show();
}

} // namespace quellora
