#pragma once

#include "base/observable.h"

#include <QWidget>
#include <vector>

namespace quellora {

class AppState;
class EasedValue;
class MenuSwitch;
class ParamTrack;
class TintedLabel;

// "Even out programmes" with the loudness every programme is brought to, on
// its trailing side, and under them the target's slider, which works only
// while the switch is on. Night levels programmes its own way (speech
// first), so while it is the preset both stay where they are, dimmed and
// inert, and the note "built into Night" takes the target's place: the panel
// keeps its height under the pointer, and the user's choice is there again
// on leaving Night.
class ProgrammeLevellingControls : public QWidget {
    Q_OBJECT
public:
    explicit ProgrammeLevellingControls(AppState& model, QWidget* parent = nullptr);

private:
    void render();

    AppState& model_;
    QWidget* switchGroup_; // the switch and its caption
    MenuSwitch* switch_;
    TintedLabel* targetText_;
    TintedLabel* nightNote_;
    ParamTrack* target_;
    EasedValue* switchOpacity_;
    std::vector<EasedValue*> targetOpacity_;
    std::vector<Subscription> subscriptions_;
};

} // namespace quellora
