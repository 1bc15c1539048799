#pragma once

#include "base/observable.h"

#include <QWidget>
#include <vector>

namespace quellora {

class AppState;
class EasedValue;
class MenuSwitch;
class ParamStepper;
class TintedLabel;

// "Even out programmes" and, on its trailing side, the loudness every
// programme is brought to, in one line: the panel must still fit a screen
// 800 high. The target works only while the switch is on. Night levels
// programmes its own way (speech first), so while it is the preset the
// switch stays where it is, dimmed and inert, and the note "built into
// Night" takes the target's place: the panel keeps its height under the
// pointer, and the user's choice is there again on leaving Night.
class ProgrammeLevellingControls : public QWidget {
    Q_OBJECT
public:
    explicit ProgrammeLevellingControls(AppState& model, QWidget* parent = nullptr);

private:
    void render();

    AppState& model_;
    QWidget* switchGroup_; // the switch and its caption
    MenuSwitch* switch_;
    ParamStepper* target_;
    TintedLabel* nightNote_;
    EasedValue* switchOpacity_;
    EasedValue* targetOpacity_;
    std::vector<Subscription> subscriptions_;
};

} // namespace quellora
