#pragma once

#include "ui/panel/panel_paint.h"

#include <QLabel>

namespace quellora {

// A plain text in one of the panel's styles: its font and a tint that follows
// the desktop's palette (light or dark), also when that changes.
class TintedLabel : public QLabel {
    Q_OBJECT
public:
    TintedLabel(const QString& text, const QFont& font, style::Tint tint,
                QWidget* parent = nullptr);

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyTint();

    style::Tint tint_;
};

// A one-line TintedLabel that gives up width: a text longer than its room
// gives way to its shorter form, if it has one, and ends in "…" where that
// does not fit either; its tooltip then shows all of it.
class ElidedLabel : public TintedLabel {
    Q_OBJECT
public:
    ElidedLabel(const QString& text, const QFont& font, style::Tint tint,
                QWidget* parent = nullptr);

    void setFullText(const QString& text, const QString& shortText = {});
    const QString& fullText() const { return fullText_; }

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();

    QString fullText_;
    QString shortText_;
};

} // namespace quellora
