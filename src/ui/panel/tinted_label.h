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

} // namespace quellora
