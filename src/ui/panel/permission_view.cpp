#include "ui/panel/permission_view.h"

#include "app/app_state.h"
#include "ui/panel/circle_badge.h"
#include "ui/panel/prominent_button.h"
#include "ui/panel/tinted_label.h"
#include "ui/views/ui_style.h"

#include <QBoxLayout>

namespace quellora {
namespace {

constexpr int notePadding = 4;

TintedLabel* noteText(const QString& text, int pixelSize, QWidget* parent) {
    auto* label = new TintedLabel(text, style::systemFont(pixelSize), &style::secondary, parent);
    label->setWordWrap(true);
    return label;
}

QColor badgeColour(bool firstRun) {
    return firstRun ? style::accent() : style::red();
}

} // namespace

PermissionScreenTexts permissionScreenTexts(SystemAudioAuthStatus status) {
    // Linux keeps no consent list for system audio: what stands in for the
    // system's prompt and its privacy settings is asked or checked again.
    if (status == SystemAudioAuthStatus::undetermined) {
        return {true, "Welcome to Quellora",
                "Quellora will route what your applications play through itself. That's how it "
                "hears and compresses it — nothing is stored or sent anywhere.",
                "Grant Permission", "Lets Quellora process your system audio"};
    }
    return {false, "Permission Required",
            "Quellora can't access your system audio. Check that nothing on this computer "
            "blocks it from the sound server, then try again.",
            "Try Again", "Checks again whether Quellora may process your system audio"};
}

PermissionView::PermissionView(AppState& model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , badge_(new CircleBadge(60, {}, this))
    , title_(new TintedLabel({}, style::systemFont(17, QFont::DemiBold), &style::primaryText, this))
    , explanation_(noteText({}, 13, this))
    , loginNote_(noteText("Quellora starts automatically when you log in. You can turn it off "
                          "anytime from its panel.",
                          12, this))
    , button_(new ProminentButton(4, this)) {
    title_->setAlignment(Qt::AlignCenter);
    explanation_->setAlignment(Qt::AlignCenter);
    loginNote_->setContentsMargins(notePadding, 0, notePadding, 0);
    connect(button_, &ProminentButton::clicked, this, [this] { model_.requestPermission(); });

    // Linux shows no recording indicator for the tap; what a user does notice
    // is Quellora among the outputs of the sound settings.
    auto* note = new QHBoxLayout;
    note->setContentsMargins(notePadding, 0, notePadding, 0);
    note->setSpacing(8);
    note->addWidget(new CircleBadge(8, {style::accent(), {}, 0, {}}, this), 0, Qt::AlignVCenter);
    note->addWidget(noteText("Your sound settings list Quellora as an output device while it is "
                             "active — this is normal.",
                             12, this),
                    1);

    auto* titles = new QVBoxLayout;
    titles->setSpacing(7);
    titles->addWidget(title_);
    titles->addWidget(explanation_);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(16);
    column->addSpacing(4);
    column->addWidget(badge_, 0, Qt::AlignHCenter);
    column->addLayout(titles);
    column->addLayout(note);
    column->addWidget(loginNote_);
    column->addWidget(button_);

    subscription_ =
        model_.permissionStatus().subscribe([this](SystemAudioAuthStatus) { render(); });
    render();
}

void PermissionView::render() {
    const auto texts = permissionScreenTexts(model_.permissionStatus().get());
    const QColor colour = badgeColour(texts.firstRun);
    badge_->setLook({style::withOpacity(colour, 0.15),
                     texts.firstRun ? Symbol::waveform : Symbol::waveformBadgeExclamationmark, 24,
                     colour});
    title_->setText(texts.title);
    explanation_->setText(texts.explanation);
    loginNote_->setVisible(texts.firstRun);
    button_->setText(texts.buttonText);
    button_->setAccessibleName(texts.buttonText);
    button_->setAccessibleDescription(texts.buttonHint);
}

} // namespace quellora
