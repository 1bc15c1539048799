#pragma once

#include "base/observable.h"
#include "base/uuid.h"

#include <QWidget>
#include <vector>

namespace quellora {

class AppState;
class PillRowLayout;
class PlainButton;
class PresetPill;

// "Fine Tune" with the update and save actions, and under it the preset
// pills: "Standard", "Night", then each saved preset, the active one followed
// by its delete button. Pills that do not fit beside each other wrap onto
// another row, so each shows its whole title.
class PresetSelector : public QWidget {
    Q_OBJECT
public:
    explicit PresetSelector(AppState& model, QWidget* parent = nullptr);

private:
    struct SavedPill {
        Uuid id;
        PresetPill* pill;
    };

    void render();
    void rebuildSavedPills();
    void placeDeleteButton(const PresetPill* activePill);

    AppState& model_;
    PillRowLayout* pillRow_;
    PresetPill* standard_;
    PresetPill* night_;
    std::vector<SavedPill> savedPills_;
    PlainButton* delete_;
    PlainButton* update_;
    PlainButton* save_;
    std::vector<Subscription> subscriptions_;
};

} // namespace quellora
