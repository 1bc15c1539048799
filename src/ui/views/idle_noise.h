#pragma once

#include <QPolygonF>
#include <QRectF>

namespace quellora {

// Smooth one-dimensional gradient noise at coordinate `p`, within (-1, 1),
// zero at whole numbers, repeating every 256 units.
double idleNoise(double p);

// The idle line's offset from the band's centre, in units of its amplitude:
// two octaves of noise at `u`.
double idleLineValue(double u);

// The slowly drifting noise line across `band` at time `seconds`, deflected
// by `amplitude` points: a point every 4 points, 8 in from either end.
QPolygonF idleLine(const QRectF& band, double seconds, double amplitude);

} // namespace quellora
