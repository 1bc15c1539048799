#include "ui/views/waveform_model.h"

#include <algorithm>

namespace quellora {
namespace {

// Activity below this shows only the idle line, above its complement only
// the levels.
constexpr double activityMargin = 0.01;

// x of sample `i` of `count`, right-aligned in `rect`.
double sampleX(const QRectF& rect, std::size_t count, std::size_t i) {
    return rect.right() - static_cast<double>(count) + static_cast<double>(i);
}

} // namespace

double waveformActivity(const std::vector<LevelSample>& samples) {
    float peak = waveformFloorDb;
    for (const auto& sample : samples) {
        peak = std::max(peak, sample.inputPeak);
    }
    const double risen = static_cast<double>(peak - waveformFloorDb);
    return std::clamp(risen / (-0.5 * static_cast<double>(waveformFloorDb)), 0.0, 1.0);
}

double envelopeDeflection(float levelDb) {
    return static_cast<double>(std::max((levelDb - waveformFloorDb) / -waveformFloorDb, 0.0f));
}

double gainReductionDepth(float gainReductionDb) {
    return std::clamp(static_cast<double>(gainReductionDb) / -24.0, 0.0, 1.0);
}

WaveformLayers waveformLayers(bool isEnabled, double activity) {
    if (!isEnabled) {
        return {.disabledLine = true};
    }
    return {.levels = activity > activityMargin,
            .noiseOpacity = activity < 1.0 - activityMargin ? 1.0 - activity : 0.0};
}

QPolygonF envelopeShape(const std::vector<LevelSample>& samples, float LevelSample::*level,
                        const QRectF& band) {
    const double mid = band.center().y();
    const double half = band.height() / 2.0;
    const std::size_t n = samples.size();
    QPolygonF shape;
    if (n == 0) {
        return shape;
    }
    shape.reserve(static_cast<qsizetype>(2 * n + 1));
    shape << QPointF(sampleX(band, n, 0), mid);
    for (std::size_t i = 0; i < n; ++i) {
        shape << QPointF(sampleX(band, n, i), mid - half * envelopeDeflection(samples[i].*level));
    }
    for (std::size_t i = n; i-- > 0;) {
        shape << QPointF(sampleX(band, n, i), mid + half * envelopeDeflection(samples[i].*level));
    }
    return shape;
}

QPolygonF gainReductionShape(const std::vector<LevelSample>& samples, const QRectF& strip) {
    const std::size_t n = samples.size();
    QPolygonF shape;
    if (n == 0) {
        return shape;
    }
    shape.reserve(static_cast<qsizetype>(n + 2));
    shape << QPointF(sampleX(strip, n, 0), strip.top());
    for (std::size_t i = 0; i < n; ++i) {
        const double depth = gainReductionDepth(samples[i].gainReduction);
        shape << QPointF(sampleX(strip, n, i), strip.top() + strip.height() * depth);
    }
    shape << QPointF(sampleX(strip, n, n - 1), strip.top());
    return shape;
}

} // namespace quellora
