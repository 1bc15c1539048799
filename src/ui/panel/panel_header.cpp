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
namespace {

constexpr int headerSpacing = 10;
constexpr int statusRowSpacing = 6;

} // namespace

QString statusText(const AppMode& mode, const std::string& currentPresetLabel,
                   bool waitingForAudioOutput, const std::string& presetOutputName,
                   const std::string& unlevelledReason) {
    switch (mode.kind()) {
    case AppMode::Kind::off:
        return "Off";
    case AppMode::Kind::on:
        if (waitingForAudioOutput) {
            return "Waiting for Audio Output";
        }
        if (!unlevelledReason.empty()) {
            return QString::fromStdString(modeText(mode, false, unlevelledReason));
        }
        return QString::fromStdString(presetOutputName.empty()
                                          ? currentPresetLabel
                                          : currentPresetLabel + " · " + presetOutputName);
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
    , status_(new ElidedLabel({}, style::systemFont(11), &style::secondary, this))
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
    statusRow->setSpacing(statusRowSpacing);
    statusRow->addWidget(status_, 1);
    statusRow->addWidget(hotKeyHint);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    titles->addWidget(title);
    titles->addLayout(statusRow);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(headerSpacing);
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
    subscriptions_.push_back(
        model_.unlevelledAudio().subscribe([this](const std::string&) { render(); }));
    subscriptions_.push_back(
        model_.presetOutput().subscribe([this](const std::optional<OutputDevice>&) { render(); }));
    render();
}

void PanelHeader::render() {
    const auto& mode = model_.mode().get();
    logo_->setActive(mode.kind() == AppMode::Kind::on);
    const auto& output = model_.presetOutput().get();
    const auto presetLabel = model_.currentPresetLabel();
    const bool waiting = model_.waitingForAudioOutput().get();
    const auto& unlevelled = model_.unlevelledAudio().get();
    status_->setFullText(
        statusText(mode, presetLabel, waiting, output ? output->name : std::string(), unlevelled),
        statusText(mode, presetLabel, waiting, {}, unlevelled));
    switch_->setOn(mode.kind() != AppMode::Kind::off);
    switch_->setAccessibleDescription(compressionSwitchHint(mode));
}

} // namespace quellora
