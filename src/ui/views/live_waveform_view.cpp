#include "ui/views/live_waveform_view.h"

#include "ui/views/graphic_accessible.h"
#include "ui/views/idle_noise.h"
#include "ui/views/painting.h"
#include "ui/views/panel_metrics.h"
#include "ui/views/ui_style.h"
#include "ui/views/waveform_model.h"

#include <QEvent>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <cmath>

namespace quellora {
namespace {

constexpr int redrawIntervalMs = 100;
constexpr double cornerRadius = 6.0;
constexpr double lineInset = 8.0;
constexpr double idleAmplitude = 8.0;
constexpr double idleGlowAmplitude = idleAmplitude * 1.8;

void drawCentreLine(QPainter& painter, const QRectF& band, const QColor& colour, double inset) {
    painter.setPen(strokePen(colour, 0.5));
    const double mid = band.center().y();
    painter.drawLine(QPointF(band.left() + inset, mid), QPointF(band.right() - inset, mid));
}

void drawLevels(QPainter& painter, const std::vector<LevelSample>& samples, const QRectF& band,
                const QRectF& strip, const QPalette& palette) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(style::accent(0.18));
    painter.drawPolygon(envelopeShape(samples, &LevelSample::inputPeak, band));
    painter.setBrush(style::accent(0.65));
    painter.drawPolygon(envelopeShape(samples, &LevelSample::outputPeak, band));
    drawCentreLine(painter, band, style::primary(palette, 0.07), 0.0);

    painter.setPen(Qt::NoPen);
    painter.setBrush(style::accent(0.45));
    painter.drawPolygon(gainReductionShape(samples, strip));
}

void drawIdleLine(QPainter& painter, const QRectF& band, double seconds, double opacity) {
    painter.setBrush(Qt::NoBrush);
    painter.setPen(strokePen(style::accent(0.25 * opacity), 1.0));
    painter.drawPolyline(idleLine(band, seconds, idleAmplitude));
    const double glowOpacity = opacity * (0.08 + 0.05 * std::sin(1.5 * seconds));
    painter.setPen(strokePen(style::accent(glowOpacity), 3.0));
    painter.drawPolyline(idleLine(band, seconds, idleGlowAmplitude));
}

QPainterPath outline(const QRectF& bounds) {
    QPainterPath path;
    path.addRoundedRect(bounds, cornerRadius, cornerRadius);
    return path;
}

// The background and the strip's label, which only the size, the pixel
// density and the palette change.
QImage backgroundLayer(QSize size, double scale, const QPalette& palette) {
    QImage layer((QSizeF(size) * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(scale);
    layer.fill(Qt::transparent);
    QPainter painter(&layer);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(QPointF(0, 0), QSizeF(size));
    painter.fillPath(outline(bounds), style::primary(palette, 0.03));
    const QRectF strip = WaveformLayout::gainReductionStrip(bounds.width());
    painter.setPen(style::primary(palette, 0.25));
    painter.setFont(style::systemFont(7, QFont::Medium));
    drawAnchoredText(painter, QStringLiteral("GR"), {strip.left() + 10.0, strip.center().y()},
                     Qt::AlignCenter);
    return layer;
}

} // namespace

struct LiveWaveformView::State {
    explicit State(const AudioLevelBuffer& buffer)
        : levelBuffer(buffer) {}

    const AudioLevelBuffer& levelBuffer;
    bool isEnabled = false;
    bool isVisible = false;
    ViewClock clock = systemViewClock();
    QTimer redraw;
    QImage background;
};

LiveWaveformView::LiveWaveformView(const AudioLevelBuffer& levelBuffer, QWidget* parent)
    : QWidget(parent)
    , state_(std::make_unique<State>(levelBuffer)) {
    setFixedHeight(static_cast<int>(WaveformLayout::height));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    presentAsGraphic(*this, QStringLiteral("Live audio waveform display"));

    // Precise, like the curve's ticker started with it: both then repaint in
    // the same turn of the event loop, one paint and one flush instead of two.
    state_->redraw.setTimerType(Qt::PreciseTimer);
    state_->redraw.setInterval(redrawIntervalMs);
    connect(&state_->redraw, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

LiveWaveformView::~LiveWaveformView() = default;

void LiveWaveformView::setCompressionEnabled(bool enabled) {
    state_->isEnabled = enabled;
}

void LiveWaveformView::setPanelVisible(bool visible) {
    if (visible == state_->isVisible) {
        return;
    }
    state_->isVisible = visible;
    if (visible) {
        state_->redraw.start();
    } else {
        state_->redraw.stop();
        state_->background = {};
    }
    update();
}

QSize LiveWaveformView::sizeHint() const {
    return {panelContentWidth, static_cast<int>(WaveformLayout::height)};
}

void LiveWaveformView::setClock(ViewClock clock) {
    state_->clock = std::move(clock);
}

bool LiveWaveformView::isTicking() const {
    return state_->redraw.isActive();
}

void LiveWaveformView::changeEvent(QEvent* event) {
    if (changesLook(*event)) {
        state_->background = {};
        update();
    }
    QWidget::changeEvent(event);
}

void LiveWaveformView::paintEvent(QPaintEvent*) {
    auto& s = *state_;
    if (!s.isVisible) {
        return;
    }
    QPainter painter(this);
    // Pixels per point of whatever is painted on.
    const double scale = painter.deviceTransform().m11();
    if (s.background.size() != (QSizeF(size()) * scale).toSize() ||
        s.background.devicePixelRatio() != scale) {
        s.background = backgroundLayer(size(), scale, palette());
    }
    // The label lies under the levels, so the gain reduction may cover it.
    painter.drawImage(QPointF(0, 0), s.background);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipPath(outline(QRectF(rect())));

    const QRectF band = WaveformLayout::waveBand(width());
    const QRectF strip = WaveformLayout::gainReductionStrip(width());

    const auto samples =
        s.isEnabled ? s.levelBuffer.recentSamples(width()) : std::vector<LevelSample>{};
    const auto layers = waveformLayers(s.isEnabled, waveformActivity(samples));
    if (layers.disabledLine) {
        drawCentreLine(painter, band, style::primary(palette(), 0.06), lineInset);
    }
    if (layers.levels) {
        drawLevels(painter, samples, band, strip, palette());
    }
    if (layers.noiseOpacity > 0.0) {
        drawIdleLine(painter, band, s.clock(), layers.noiseOpacity);
    }
}

} // namespace quellora
