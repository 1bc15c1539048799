#pragma once

#include "dsp/compressor_params.h"
#include "dsp/processing_chain.h"

#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <optional>
#include <vector>

namespace quellora {

// Where the curve view puts a level: the plot rectangle inside the view and
// the mapping of dB on both axes into it.
struct CurvePlot {
    static constexpr float dbMin = -50.0f;
    static constexpr float dbMax = 0.0f;

    QRectF area;

    // Inset 26 on the left for the level labels, 16 at the bottom for the
    // others, 6 on the other sides.
    static CurvePlot inView(QSizeF viewSize);

    double x(double db) const;
    double y(double db) const;
    QPointF point(double inputDb, double outputDb) const { return {x(inputDb), y(outputDb)}; }
    QPointF point(QPointF levels) const { return point(levels.x(), levels.y()); }
};

// The drawn curve's resolution: one point every half dB.
constexpr float curveStepDb = 0.5f;

// The steady-state transfer curve as (input dB, output dB) from dbMin to
// dbMax, one point per step, rising input.
std::vector<QPointF> transferCurve(const CompressorParams& params,
                                   ChainKind chain = ChainKind::standard);

// Level (input dB, output dB) of the curve at `inputDb`.
QPointF curveLevel(const CompressorParams& params, float inputDb,
                   ChainKind chain = ChainKind::standard);

// The region between the unity line and the curve, in levels: along the unity
// line upwards, then back down the curve.
std::vector<QPointF> gainReductionArea(const CompressorParams& params,
                                       ChainKind chain = ChainKind::standard);

// The input levels the soft knee spans, if it has any width.
struct LevelSpan {
    float lowDb;
    float highDb;
};
std::optional<LevelSpan> kneeSpan(const CompressorParams& params);

} // namespace quellora
