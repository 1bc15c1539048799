#pragma once

#include "ui/panel/panel_paint.h"
#include "ui/panel/symbol_glyphs.h"

#include <QAbstractButton>
#include <optional>

namespace quellora {

// A borderless button drawn as one row, leading-aligned: an optional symbol,
// the button's text, and an optional hint after it (a shortcut, say). Dimmed
// while pressed.
class PlainButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit PlainButton(QWidget* parent = nullptr);

    // `size` is the side of the symbol's square, in device-independent pixels.
    void setSymbol(Symbol symbol, double size, style::Tint tint);
    void setTextStyle(const QFont& font, style::Tint tint);
    void setHint(const QString& hint, const QFont& font, style::Tint tint);
    const QString& hint() const { return hint_; }
    void setSpacing(double spacing);
    void setPadding(double horizontal, double vertical);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Symbolic {
        Symbol symbol;
        double size;
        style::Tint tint;
    };

    double contentHeight() const;

    std::optional<Symbolic> symbol_;
    QFont textFont_;
    style::Tint textTint_;
    QString hint_;
    QFont hintFont_;
    style::Tint hintTint_;
    double spacing_ = 4.0;
    double horizontalPadding_ = 0.0;
    double verticalPadding_ = 0.0;
};

} // namespace quellora
