#include "ui/panel/tinted_label.h"

#include <QEvent>
#include <QGuiApplication>

namespace quellora {

TintedLabel::TintedLabel(const QString& text, const QFont& font, style::Tint tint, QWidget* parent)
    : QLabel(parent)
    , tint_(std::move(tint)) {
    // Texts come from the model, preset names among them: "<b>x</b>" shows
    // its brackets.
    setTextFormat(Qt::PlainText);
    setText(text);
    setFont(font);
    applyTint();
}

void TintedLabel::changeEvent(QEvent* event) {
    // A new application palette reaches most widgets as a change of the
    // palette they inherit, not as an application palette change.
    if (event->type() == QEvent::ApplicationPaletteChange ||
        event->type() == QEvent::PaletteChange) {
        applyTint();
    }
    QLabel::changeEvent(event);
}

void TintedLabel::applyTint() {
    // From the application's palette: this label's own has been overridden.
    const QColor colour = tint_(QGuiApplication::palette());
    if (palette().color(QPalette::WindowText) == colour) {
        return; // also ends the change event that setting it causes
    }
    QPalette tinted = palette();
    tinted.setColor(QPalette::WindowText, colour);
    setPalette(tinted);
}

} // namespace quellora
