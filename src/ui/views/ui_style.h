#pragma once

// The look shared by every painted part of the tray application: the accent
// colour, the text styles and the system font at a size in device-independent
// pixels (what the panel's geometry is measured in).

#include <QColor>
#include <QFont>
#include <QPalette>

namespace quellora::style {

// A violet; the whole panel is tinted with it.
inline QColor accent(double opacity = 1.0) {
    return QColor::fromRgbF(0.55f, 0.42f, 0.92f, static_cast<float>(opacity));
}

inline QColor withOpacity(QColor colour, double opacity) {
    colour.setAlphaF(static_cast<float>(static_cast<double>(colour.alphaF()) * opacity));
    return colour;
}

// The text colour of the current palette: dark on light panels, light on dark.
inline QColor primary(const QPalette& palette, double opacity = 1.0) {
    return withOpacity(palette.color(QPalette::WindowText), opacity);
}

// Text of lesser importance, in three steps.
inline QColor secondary(const QPalette& palette) {
    return primary(palette, 0.55);
}
inline QColor tertiary(const QPalette& palette) {
    return primary(palette, 0.3);
}
inline QColor quaternary(const QPalette& palette) {
    return primary(palette, 0.18);
}

inline QColor orange(double opacity = 1.0) {
    return QColor::fromRgbF(1.0f, 0.58f, 0.0f, static_cast<float>(opacity));
}
inline QColor red(double opacity = 1.0) {
    return QColor::fromRgbF(1.0f, 0.23f, 0.19f, static_cast<float>(opacity));
}
inline QColor green(double opacity = 1.0) {
    return QColor::fromRgbF(0.2f, 0.78f, 0.35f, static_cast<float>(opacity));
}

// The system font at `pixelSize` device-independent pixels.
inline QFont systemFont(int pixelSize, QFont::Weight weight = QFont::Normal) {
    QFont font;
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

// Corner radius of the rounded boxes (banners, cards).
constexpr double boxCornerRadius = 8.0;

} // namespace quellora::style
