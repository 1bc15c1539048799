#include "ui/panel/success_view.h"

#include "ui/panel/circle_badge.h"
#include "ui/panel/prominent_button.h"
#include "ui/panel/tinted_label.h"
#include "ui/views/ui_style.h"

#include <QBoxLayout>
#include <QShortcut>

namespace quellora {

QString successText(bool trayShown) {
    return trayShown ? "Quellora is running in your system tray. Click its waveform icon anytime "
                       "to adjust it or turn it off."
                     : "Quellora is running. Its window lets you adjust it or turn it off "
                       "anytime.";
}

SuccessView::SuccessView(QWidget* parent)
    : QWidget(parent)
    , text_(new TintedLabel(successText(true), style::systemFont(13), &style::secondary, this)) {
    auto* doneButton = new ProminentButton(0, this);
    auto* badge = new CircleBadge(
        60, {style::green(0.15), Symbol::checkmarkCircleFill, 30, style::green()}, this);
    auto* title = new TintedLabel("You're all set!", style::systemFont(17, QFont::DemiBold),
                                  &style::primaryText, this);
    title->setAlignment(Qt::AlignCenter);
    text_->setAlignment(Qt::AlignCenter);
    text_->setWordWrap(true);

    doneButton->setText("Done");
    doneButton->setAccessibleName("Done");
    doneButton->setAccessibleDescription("Closes setup and opens Quellora's panel");
    connect(doneButton, &ProminentButton::clicked, this, &SuccessView::done);
    // The default button: Return anywhere in the window presses it (while
    // this screen shows; a hidden widget's shortcuts do not fire).
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        connect(shortcut, &QShortcut::activated, doneButton, &ProminentButton::click);
    }

    auto* titles = new QVBoxLayout;
    titles->setSpacing(7);
    titles->addWidget(title);
    titles->addWidget(text_);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(16);
    column->addSpacing(4);
    column->addWidget(badge, 0, Qt::AlignHCenter);
    column->addLayout(titles);
    column->addWidget(doneButton);
}

void SuccessView::setTrayShown(bool trayShown) {
    text_->setText(successText(trayShown));
}

} // namespace quellora
