#pragma once

#include "ui/panel/symbol_glyphs.h"

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPalette>

namespace quellora {

// The tray icon is drawn in the desktop theme's text colour with an outline
// that contrasts with it, so that it reads on light and dark panels alike:
// the theme's colours need not be the panel's.
struct TrayIconColours {
    QColor fill;
    QColor outline;
};

TrayIconColours trayIconColours(const QPalette& palette);

// One square rendering, `size` pixels wide.
QImage renderTrayIcon(Symbol symbol, const TrayIconColours& colours, int size);
// Renderings at the sizes trays ask for.
QIcon trayIcon(Symbol symbol, const TrayIconColours& colours);

} // namespace quellora
