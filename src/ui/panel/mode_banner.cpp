#include "ui/panel/mode_banner.h"

#include "app/app_state.h"
#include "ui/panel/box_frame.h"
#include "ui/panel/model_observation.h"
#include "ui/panel/plain_button.h"
#include "ui/panel/tinted_label.h"
#include "ui/views/ui_style.h"

#include <QBoxLayout>

namespace quellora {
namespace {

constexpr int padding = 10;

const char* const lowVolumeAdvice =
    "Your app-specific volume is low. For best results:\n"
    "•  Increase the application volume to max and\n"
    "•  Use the system volume to control loudness\n"
    "\n"
    "(This may sometimes be a false warning with genuinely quiet sources!)";

TintedLabel* wrappingText(const QString& text, const QColor& colour, QWidget* parent) {
    auto* label = new TintedLabel(text, style::systemFont(11), style::fixedTint(colour), parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

ModeBannerKind modeBannerFor(const AppMode& mode, bool lowVolumeWarning) {
    if (mode.kind() == AppMode::Kind::on && lowVolumeWarning) {
        return ModeBannerKind::lowVolume;
    }
    if (mode.kind() == AppMode::Kind::error) {
        return ModeBannerKind::error;
    }
    return ModeBannerKind::none;
}

ModeBanner::ModeBanner(AppState& model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , lowVolume_(new BoxFrame(style::orange(0.06), this))
    , error_(new BoxFrame(style::red(0.06), this))
    , errorText_(wrappingText({}, style::red(), error_)) {
    lowVolume_->setObjectName("lowVolumeBanner");
    error_->setObjectName("errorBanner");

    auto* dismiss = new PlainButton(lowVolume_);
    dismiss->setText("Dismiss");
    dismiss->setTextStyle(style::systemFont(11), style::fixedTint(style::orange()));
    dismiss->setAccessibleName("Dismiss");
    connect(dismiss, &PlainButton::clicked, this, [this] { model_.dismissLowVolumeWarning(); });
    auto* lowVolumeColumn = new QVBoxLayout(lowVolume_);
    lowVolumeColumn->setContentsMargins(padding, padding, padding, padding);
    lowVolumeColumn->setSpacing(4);
    lowVolumeColumn->addWidget(wrappingText(lowVolumeAdvice, style::orange(), lowVolume_));
    lowVolumeColumn->addWidget(dismiss, 0, Qt::AlignRight);

    auto* errorColumn = new QVBoxLayout(error_);
    errorColumn->setContentsMargins(padding, padding, padding, padding);
    errorColumn->addWidget(errorText_);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 12, 0, 0);
    column->setSpacing(0);
    column->addWidget(lowVolume_);
    column->addWidget(error_);

    subscriptions_ = observeAll([this] { render(); }, model_.mode(), model_.lowVolumeWarning());
    render();
}

void ModeBanner::render() {
    const auto& mode = model_.mode().get();
    const auto kind = modeBannerFor(mode, model_.lowVolumeWarning().get());
    lowVolume_->setVisible(kind == ModeBannerKind::lowVolume);
    error_->setVisible(kind == ModeBannerKind::error);
    errorText_->setText(QString::fromStdString(mode.message()));
    setVisible(kind != ModeBannerKind::none);
}

} // namespace quellora
