#include "ui/panel/panel_header.h"

#include "app/app_state.h"
#include "ui/panel/menu_switch.h"
#include "ui/panel/model_observation.h"
#include "ui/panel/tinted_label.h"
#include "ui/panel/wave_logo_view.h"
#include "ui/views/ui_style.h"

#include <QBoxLayout>
#include <QKeySequence>

namespace quellora {

QString statusText(const AppMode& mode, const std::string& currentPresetLabel,
                   bool waitingForAudioOutput) {
    switch (mode.kind()) {
    case AppMode::Kind::off:
        return "Off";
    case AppMode::Kind::on:
        return waitingForAudioOutput ? "Waiting for Audio Output"
                                     : QString::fromStdString(currentPresetLabel);
    case AppMode::Kind::needsPermission:
        return "Needs Permission";
    case AppMode::Kind::error:
        return "Error";
    }
    return {};
}

QString compressionSwitchHint(const AppMode& mode) {
    return mode.kind() == AppMode::Kind::off ? "Compression is off. Activate to turn it back on."
                                             : "Toggle audio compression on or off";
}

PanelHeader::PanelHeader(AppState& model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , logo_(new WaveLogoView(this))
    , status_(new TintedLabel({}, style::systemFont(11), &style::secondary, this))
    , switch_(new MenuSwitch(MenuSwitch::mainSize, this)) {
    auto* title = new TintedLabel("Quellora", style::systemFont(14, QFont::DemiBold),
                                  &style::primaryText, this);
    // The global shortcut that toggles compression, as this desktop writes it.
    const auto hotKey = QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C);
    auto* hotKeyHint = new TintedLabel(hotKey.toString(QKeySequence::NativeText),
                                       style::systemFont(9), &style::quaternary, this);
    status_->setObjectName("statusLabel");
    switch_->setObjectName("compressionSwitch");
    switch_->setAccessibleName("Compression");

    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(6);
    statusRow->addWidget(status_);
    statusRow->addWidget(hotKeyHint);
    statusRow->addStretch();
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    titles->addWidget(title);
    titles->addLayout(statusRow);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    row->addWidget(logo_);
    row->addLayout(titles, 1);
    row->addWidget(switch_);

    connect(switch_, &MenuSwitch::clicked, this, [this] {
        model_.send(switch_->isOn() ? AppEvent::Kind::userDisabled : AppEvent::Kind::userEnabled);
        render(); // the outcome, which may differ from what was asked
    });
    subscriptions_ = observePresets(model_, [this] { render(); });
    subscriptions_.push_back(model_.mode().subscribe([this](const AppMode&) { render(); }));
    subscriptions_.push_back(model_.waitingForAudioOutput().subscribe([this](bool) { render(); }));
    render();
}

void PanelHeader::render() {
    const auto& mode = model_.mode().get();
    logo_->setActive(mode.kind() == AppMode::Kind::on);
    status_->setText(
        statusText(mode, model_.currentPresetLabel(), model_.waitingForAudioOutput().get()));
    switch_->setOn(mode.kind() != AppMode::Kind::off);
    switch_->setAccessibleDescription(compressionSwitchHint(mode));
}

} // namespace quellora
