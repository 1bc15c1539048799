#include "ui/panel/tinted_label.h"

#include <QEvent>
#include <QGuiApplication>

namespace quellora {

TintedLabel::TintedLabel(const QString& text, const QFont& font, style::Tint tint, QWidget* parent)
    : QLabel(text, parent)
    , tint_(std::move(tint)) {
    setFont(font);
    applyTint();
}

void TintedLabel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ApplicationPaletteChange) {
        applyTint();
    }
    QLabel::changeEvent(event);
}

void TintedLabel::applyTint() {
    // From the application's palette: this label's own has been overridden.
    QPalette tinted = palette();
    tinted.setColor(QPalette::WindowText, tint_(QGuiApplication::palette()));
    setPalette(tinted);
}

} // namespace quellora
