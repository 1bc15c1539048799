#include "ui/views/curve_plot.h"

namespace quellora {
namespace {

constexpr int curveSteps = static_cast<int>((CurvePlot::dbMax - CurvePlot::dbMin) / curveStepDb);

float curveInputDb(int step) {
    return CurvePlot::dbMin + static_cast<float>(step) * curveStepDb;
}

// Fraction of the way from dbMin to dbMax.
double levelFraction(double db) {
    constexpr auto low = static_cast<double>(CurvePlot::dbMin);
    constexpr auto high = static_cast<double>(CurvePlot::dbMax);
    return (db - low) / (high - low);
}

} // namespace

CurvePlot CurvePlot::inView(QSizeF viewSize) {
    return {QRectF(26.0, 6.0, viewSize.width() - 32.0, viewSize.height() - 22.0)};
}

double CurvePlot::x(double db) const {
    return area.left() + area.width() * levelFraction(db);
}

double CurvePlot::y(double db) const {
    return area.top() + area.height() * (1.0 - levelFraction(db));
}

QPointF curveLevel(const CompressorParams& params, float inputDb, ChainKind chain) {
    return {inputDb, chainSteadyStateOutputDb(chain, params, inputDb)};
}

std::vector<QPointF> transferCurve(const CompressorParams& params, ChainKind chain) {
    std::vector<QPointF> curve;
    curve.reserve(curveSteps + 1);
    for (int step = 0; step <= curveSteps; ++step) {
        curve.push_back(curveLevel(params, curveInputDb(step), chain));
    }
    return curve;
}

std::vector<QPointF> gainReductionArea(const CompressorParams& params, ChainKind chain) {
    std::vector<QPointF> area;
    area.reserve(2 * (curveSteps + 1));
    for (int step = 0; step <= curveSteps; ++step) {
        area.emplace_back(curveInputDb(step), curveInputDb(step));
    }
    const auto curve = transferCurve(params, chain);
    area.insert(area.end(), curve.rbegin(), curve.rend());
    return area;
}

std::optional<LevelSpan> kneeSpan(const CompressorParams& params) {
    if (!(params.kneeWidth > 0.0f)) {
        return std::nullopt;
    }
    const float half = params.kneeWidth / 2.0f;
    return LevelSpan{params.threshold - half, params.threshold + half};
}

} // namespace quellora
