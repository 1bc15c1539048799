#pragma once

#include "dsp/level_sample.h"

#include <QPolygonF>
#include <QRectF>
#include <vector>

namespace quellora {

// The waveform view's geometry: the level band on top, the gain-reduction
// strip below it.
namespace WaveformLayout {
constexpr double waveHeight = 56.0;
constexpr double gap = 2.0;
constexpr double grHeight = 24.0;
constexpr double height = waveHeight + gap + grHeight;

inline QRectF waveBand(double width) {
    return {0.0, 0.0, width, waveHeight};
}
inline QRectF gainReductionStrip(double width) {
    return {0.0, waveHeight + gap, width, grHeight};
}
} // namespace WaveformLayout

// The quietest level the envelopes show.
constexpr float waveformFloorDb = -60.0f;

// How much is playing, 0 to 1: the loudest recent input peak from the floor
// (0) to half-way up (1), -30 dB.
double waveformActivity(const std::vector<LevelSample>& samples);

// An envelope's half-height as a fraction of the band's half-height: 0 at the
// floor and below, 1 at 0 dBFS, beyond 1 above it.
double envelopeDeflection(float levelDb);

// The strip's fill depth as a fraction of its height: 24 dB of reduction
// fills it.
double gainReductionDepth(float gainReductionDb);

// What one redraw shows. The strip's "GR" label is always drawn.
struct WaveformLayers {
    bool disabledLine = false; // compression off: a flat line
    bool levels = false;       // envelopes, centre line and gain-reduction fill
    double noiseOpacity = 0.0; // the idle line, crossfading with the levels
};
WaveformLayers waveformLayers(bool isEnabled, double activity);

// The mirrored envelope of one level of each sample about the band's centre,
// one sample per point with the newest at the right edge.
QPolygonF envelopeShape(const std::vector<LevelSample>& samples, float LevelSample::*level,
                        const QRectF& band);

// The gain reduction hanging down from the strip's top edge, aligned with the
// envelopes.
QPolygonF gainReductionShape(const std::vector<LevelSample>& samples, const QRectF& strip);

} // namespace quellora
