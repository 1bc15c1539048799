#include "ui/tray/panel_placement.h"

#include <algorithm>

namespace quellora {
namespace {

// Between the icon and the panel, and between the panel and the screen's edge.
constexpr int gap = 4;

// Keeps [start, start + length) inside [low, high); flush with `low` when it
// cannot fit.
int clampSpan(int start, int length, int low, int high) {
    return std::max(low, std::min(start, high - length));
}

} // namespace

bool isDocked(const QRect& iconGeometry) {
    return !iconGeometry.isEmpty() && iconGeometry.topLeft() != QPoint(0, 0);
}

PanelOpening panelOpeningStep(const IconPlacement& placement, long attempt) {
    if (placement.visible && isDocked(placement.geometry)) {
        return PanelOpening::atIcon;
    }
    if (placement.visible && !placement.hostReportsGeometry) {
        return PanelOpening::atFallback;
    }
    return attempt < lastPanelOpeningAttempt ? PanelOpening::retry : PanelOpening::giveUp;
}

QRect fallbackAnchor(const QRect& available, std::optional<QPoint> pointer) {
    const auto corner = pointer && available.contains(*pointer) ? *pointer : available.topRight();
    return {corner, QSize(1, 1)};
}

QRect panelAnchor(const IconPlacement& placement, const QRect& available,
                  std::optional<QPoint> pointer) {
    return isDocked(placement.geometry) ? placement.geometry : fallbackAnchor(available, pointer);
}

QPoint panelPosition(const QRect& anchor, const QSize& panel, const QRect& available) {
    const bool below = anchor.center().y() < available.center().y();
    const int y = below ? anchor.bottom() + 1 + gap : anchor.top() - gap - panel.height();
    const int x = anchor.center().x() - panel.width() / 2;
    const int right = available.left() + available.width() - gap;
    const int bottom = available.top() + available.height() - gap;
    return {clampSpan(x, panel.width(), available.left() + gap, right),
            clampSpan(y, panel.height(), available.top() + gap, bottom)};
}

} // namespace quellora
