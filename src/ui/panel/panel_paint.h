#pragma once

// Painting helpers shared by the panel's and the setup screen's controls.

#include "ui/views/ui_style.h"

#include <QColor>
#include <QPalette>
#include <QRectF>
#include <functional>

class QPainter;
class QWidget;

namespace quellora::style {

// A colour chosen when painting: text styles follow the palette (light or
// dark), fixed colours ignore it.
using Tint = std::function<QColor(const QPalette&)>;

inline Tint fixedTint(const QColor& colour) {
    return [colour](const QPalette&) {
        return colour;
    };
}

// The primary text style; as a function, it serves as a Tint.
inline QColor primaryText(const QPalette& palette) {
    return primary(palette);
}

// `from` moved `amount` (0 to 1) of the way to `to`, alpha included.
QColor blend(const QColor& from, const QColor& to, double amount);

// A rounded box of the panel (banners), corner radius boxCornerRadius.
void paintRoundedBox(QPainter& painter, const QRectF& rect, const QColor& fill);

// Whether `control` has focus that the user moved there with the keyboard
// (focus a window hands out by itself shows no ring).
bool hasKeyboardFocus(const QWidget& control);

// Shows which control the keyboard is on: an accent outline just inside
// `rect`, while `control` has keyboard focus.
void paintFocusRing(QPainter& painter, const QWidget& control, const QRectF& rect,
                    double cornerRadius);

} // namespace quellora::style
