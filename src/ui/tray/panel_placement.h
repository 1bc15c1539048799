#pragma once

// Where the panel opens. XEmbed trays tell where the icon sits once they have
// docked it; StatusNotifierItem hosts never do, so there the panel opens at
// the pointer or in the top-right corner of the screen.

#include <QPoint>
#include <QRect>
#include <QSize>
#include <optional>

namespace quellora {

// What the desktop tells about the tray icon.
struct IconPlacement {
    bool visible = false;
    // Global, in device-independent pixels; empty while unknown.
    QRect geometry;
    // False for StatusNotifierItem hosts, which never report a geometry.
    bool hostReportsGeometry = true;
};

// A docked icon sits inside a tray; before docking its window still lies
// at the root window's origin, where no tray puts an icon.
bool isDocked(const QRect& iconGeometry);

// One step of opening the panel without a click.
enum class PanelOpening { atIcon, atFallback, retry, giveUp };
// Attempts are counted from 0 and retried up to this one.
constexpr long lastPanelOpeningAttempt = 40;
PanelOpening panelOpeningStep(const IconPlacement& placement, long attempt);

// Where the panel hangs from when the icon's geometry is unknown: the
// pointer (where the user just clicked) if it lies on `available`, else the
// top-right corner of `available`.
QRect fallbackAnchor(const QRect& available, std::optional<QPoint> pointer);

// The anchor for the panel: the docked icon, or the fallback.
QRect panelAnchor(const IconPlacement& placement, const QRect& available,
                  std::optional<QPoint> pointer);

// The panel's top-left corner: under the anchor when it lies in the upper
// half of the screen, above it otherwise, centred on it, and kept inside
// `available` (the screen without its panels).
QPoint panelPosition(const QRect& anchor, const QSize& panel, const QRect& available);

} // namespace quellora
