#include "ui/panel/tinted_label.h"

#include <QEvent>
#include <QFontMetrics>
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

ElidedLabel::ElidedLabel(const QString& text, const QFont& font, style::Tint tint, QWidget* parent)
    : TintedLabel({}, font, std::move(tint), parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setFullText(text);
}

void ElidedLabel::setFullText(const QString& text, const QString& shortText) {
    if (text == fullText_ && shortText == shortText_ && !this->text().isEmpty()) {
        return;
    }
    fullText_ = text;
    shortText_ = shortText;
    updateGeometry();
    elide();
}

QSize ElidedLabel::minimumSizeHint() const {
    return {0, QLabel::minimumSizeHint().height()};
}

QSize ElidedLabel::sizeHint() const {
    return {fontMetrics().horizontalAdvance(fullText_), QLabel::sizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    TintedLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::elide() {
    const bool fits = fontMetrics().horizontalAdvance(fullText_) <= width();
    const auto& fitting = fits || shortText_.isEmpty() ? fullText_ : shortText_;
    const auto shown = fontMetrics().elidedText(fitting, Qt::ElideRight, width());
    setText(shown);
    // Tooltips render what looks like markup: the text is shown as it is.
    setToolTip(
        shown == fullText_
            ? QString()
            : QStringLiteral("<p style='white-space:pre'>%1</p>").arg(fullText_.toHtmlEscaped()));
    setAccessibleName(fullText_);
}

} // namespace quellora
