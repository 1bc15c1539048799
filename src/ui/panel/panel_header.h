#pragma once

#include "app/app_mode.h"
#include "base/observable.h"

#include <QString>
#include <QWidget>
#include <string>
#include <vector>

namespace quellora {

class AppState;
class ElidedLabel;
class MenuSwitch;
class WaveLogoView;

// The status under the title: "Off", the current preset while on, with the
// output it belongs to once one is known ("Standard · Headphones"), or
// "Waiting for Audio Output" while no pipeline runs, the reason while some
// audio passes unlevelled; "Error", "Needs Permission".
QString statusText(const AppMode& mode, const std::string& currentPresetLabel,
                   bool waitingForAudioOutput = false, const std::string& presetOutputName = {},
                   const std::string& unlevelledReason = {});

// What the main switch tells assistive technology it does.
QString compressionSwitchHint(const AppMode& mode);

// The top of the panel: logo, title, status with the hot-key hint, and the
// main switch (on whenever the mode is not off). The hint always shows; an
// output name with no room beside it is left to the status's tooltip.
class PanelHeader : public QWidget {
    Q_OBJECT
public:
    explicit PanelHeader(AppState& model, QWidget* parent = nullptr);

    MenuSwitch& compressionSwitch() { return *switch_; }

private:
    void render();

    AppState& model_;
    WaveLogoView* logo_;
    ElidedLabel* status_;
    MenuSwitch* switch_;
    std::vector<Subscription> subscriptions_;
};

} // namespace quellora
