#include "ui/tray/tray_icon.h"

#include <QPainter>
#include <QPen>
#include <QPixmap>

namespace quellora {
namespace {

// The grid the symbols are drawn on.
constexpr double gridSize = 24.0;
// Grid units of outline around the shape, half of it outside the shape.
constexpr double outlineWidth = 2.0;

constexpr int iconSizes[] = {16, 22, 24, 32, 48, 64};

} // namespace

TrayIconColours trayIconColours(const QPalette& palette) {
    const auto fill = palette.color(QPalette::Active, QPalette::WindowText);
    // Perceived lightness; the outline is the opposite extreme.
    const bool lightFill = fill.lightnessF() > 0.5f;
    return {fill, lightFill ? QColor(0, 0, 0, 210) : QColor(255, 255, 255, 210)};
}

QImage renderTrayIcon(Symbol symbol, const TrayIconColours& colours, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // The outline's outer half must stay inside the image.
    const double scale = size / (gridSize + outlineWidth);
    painter.translate(size / 2.0, size / 2.0);
    painter.scale(scale, scale);
    painter.translate(-gridSize / 2.0, -gridSize / 2.0);
    const auto path = symbolPath(symbol);
    painter.strokePath(
        path, QPen(colours.outline, outlineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.fillPath(path, colours.fill);
    return image;
}

QIcon trayIcon(Symbol symbol, const TrayIconColours& colours) {
    QIcon icon;
    for (const int size : iconSizes) {
        icon.addPixmap(QPixmap::fromImage(renderTrayIcon(symbol, colours, size)));
    }
    return icon;
}

} // namespace quellora
