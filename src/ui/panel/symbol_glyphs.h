#pragma once

#include <QColor>
#include <QPainterPath>
#include <QRectF>

class QPainter;

namespace quellora {

// The few pictograms the tray application draws. Each is one filled shape on
// a 24-unit square grid; knocked-out details (the tick in a filled circle,
// the glyph in a badge) are holes, so they show whatever lies beneath.
enum class Symbol {
    waveform,
    waveformBadgeMinus,
    waveformBadgeExclamationmark,
    waveformBadgeXmark,
    trash,
    plus,
    minus,
    questionmarkCircle,
    arrowDownCircleFill,
    arrowTriangle2Circlepath,
    exclamationmarkTriangleFill,
    checkmarkCircleFill,
    chevronRight,
    chevronDown,
};

// The symbol's shape on the 24 × 24 grid.
QPainterPath symbolPath(Symbol symbol);

// Fills the symbol in `colour`, centred in `rect` at the largest square that fits.
void paintSymbol(QPainter& painter, Symbol symbol, const QRectF& rect, const QColor& colour);

} // namespace quellora
