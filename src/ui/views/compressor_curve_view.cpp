#include "ui/views/compressor_curve_view.h"

#include "ui/views/curve_plot.h"
#include "ui/views/graphic_accessible.h"
#include "ui/views/painting.h"
#include "ui/views/panel_metrics.h"
#include "ui/views/ui_style.h"

#include <QEvent>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cmath>

namespace quellora {
namespace {

constexpr int viewHeight = 150;
constexpr int tickIntervalMs = 100;
constexpr int frameIntervalMs = 16;
// A stalled event loop moves the dot on by at most this much at once.
constexpr double longestFrameSeconds = 0.1;

// Typical levels of film and music, drawn as coloured dots on the curve.
struct MovieLevel {
    const char* name;
    float db;
    float red;
    float green;
    float blue;
    bool labelled;
};

constexpr std::array<MovieLevel, 9> movieLevels{{
    {"Explosion", -3.0f, 1.0f, 0.42f, 0.42f, true},
    {"Gunshot", -6.0f, 1.0f, 0.53f, 0.53f, false},
    {"Car Chase", -10.0f, 1.0f, 0.63f, 0.48f, false},
    {"Loud Music", -15.0f, 1.0f, 0.75f, 0.47f, false},
    {"Shouting", -20.0f, 1.0f, 0.88f, 0.40f, false},
    {"Dialogue", -27.0f, 0.50f, 0.73f, 1.0f, true},
    {"Quiet Dialogue", -35.0f, 0.45f, 0.75f, 0.99f, false},
    {"Whisper", -42.0f, 0.36f, 0.64f, 0.90f, true},
    {"Ambience", -48.0f, 0.57f, 0.83f, 0.63f, false},
}};

// Labels of quiet levels sit right of their dot, loud ones up and to the left,
// away from the plot's right edge.
constexpr float labelRightOfDotUpToDb = -20.0f;

QPolygonF plotted(const CurvePlot& plot, const std::vector<QPointF>& levels) {
    QPolygonF points;
    points.reserve(static_cast<qsizetype>(levels.size()));
    for (const auto& level : levels) {
        points << plot.point(level);
    }
    return points;
}

void drawGrid(QPainter& painter, const CurvePlot& plot, const QPalette& palette) {
    const QRectF& area = plot.area;
    painter.setFont(style::systemFont(7));
    for (int db = static_cast<int>(CurvePlot::dbMin); db <= static_cast<int>(CurvePlot::dbMax);
         db += 10) {
        painter.setPen(strokePen(style::primary(palette, 0.06), 0.5));
        painter.drawLine(QPointF(plot.x(db), area.top()), QPointF(plot.x(db), area.bottom()));
        painter.drawLine(QPointF(area.left(), plot.y(db)), QPointF(area.right(), plot.y(db)));
        painter.setPen(style::tertiary(palette));
        const QString label = QString::number(db);
        drawAnchoredText(painter, label, {plot.x(db), area.bottom() + 9.0}, Qt::AlignCenter);
        drawAnchoredText(painter, label, {23.0, plot.y(db)}, Qt::AlignRight | Qt::AlignVCenter);
    }
}

// Unity line, gain-reduction area, knee band, threshold and the curve itself.
void drawTransfer(QPainter& painter, const CurvePlot& plot, const CompressorParams& params,
                  ChainKind chain, const QPalette& palette) {
    const QRectF& area = plot.area;
    painter.setPen(dashedPen(style::primary(palette, 0.25), 0.75, 4.0, 3.0));
    painter.drawLine(plot.point(CurvePlot::dbMin, CurvePlot::dbMin),
                     plot.point(CurvePlot::dbMax, CurvePlot::dbMax));

    painter.setPen(Qt::NoPen);
    painter.setBrush(style::accent(0.06));
    painter.drawPolygon(plotted(plot, gainReductionArea(params, chain)));

    if (const auto knee = kneeSpan(params)) {
        painter.fillRect(QRectF(QPointF(plot.x(knee->lowDb), area.top()),
                                QPointF(plot.x(knee->highDb), area.bottom())),
                         style::accent(0.05));
    }

    painter.setPen(dashedPen(style::red(0.3), 0.5, 2.0, 2.0));
    const double thresholdX = plot.x(params.threshold);
    painter.drawLine(QPointF(thresholdX, area.top()), QPointF(thresholdX, area.bottom()));

    painter.setPen(strokePen(style::accent(), 1.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawPolyline(plotted(plot, transferCurve(params, chain)));
}

void drawMovieLevels(QPainter& painter, const CurvePlot& plot, const CompressorParams& params,
                     ChainKind chain) {
    painter.setFont(style::systemFont(7, QFont::Medium));
    for (const auto& level : movieLevels) {
        const QColor colour = QColor::fromRgbF(level.red, level.green, level.blue);
        const QPointF centre = plot.point(curveLevel(params, level.db, chain));
        fillCircle(painter, centre, 6.0, colour);
        if (!level.labelled) {
            continue;
        }
        painter.setPen(style::withOpacity(colour, 0.85));
        const QString name = QString::fromUtf8(level.name);
        if (level.db <= labelRightOfDotUpToDb) {
            drawAnchoredText(painter, name, centre + QPointF(6.0, 0.0),
                             Qt::AlignLeft | Qt::AlignVCenter);
        } else {
            drawAnchoredText(painter, name, centre - QPointF(6.0, 0.0),
                             Qt::AlignRight | Qt::AlignBottom);
        }
    }
}

// How far the dot (its halo) and a trail circle reach from their centres, with
// a pixel for antialiasing: what a repaint around them must cover.
constexpr double dotReach = 10.0 + 1.0;
constexpr double trailReach = 3.5 + 1.0;
constexpr double minimumFrameMovePixels = 0.25;

QRect around(QPointF centre, double reach) {
    return QRectF(centre - QPointF(reach, reach), QSizeF(2 * reach, 2 * reach)).toAlignedRect();
}

// A leveller has no static curve; the picture says where it sits. Night
// keeps its own aim whatever the programme target.
QString levellerNote(ChainKind chain, std::optional<float> programmeTarget) {
    if (chain == ChainKind::night) {
        return QStringLiteral("Night: speech levelled first");
    }
    if (programmeTarget) {
        return QStringLiteral("Programmes levelled to %1 LUFS first")
            .arg(static_cast<double>(*programmeTarget));
    }
    return {};
}

void drawNote(QPainter& painter, const QString& note, const CurvePlot& plot,
              const QPalette& palette) {
    painter.setFont(style::systemFont(7, QFont::Medium));
    painter.setPen(style::tertiary(palette));
    drawAnchoredText(painter, note, plot.area.topLeft() + QPointF(4.0, 6.0),
                     Qt::AlignLeft | Qt::AlignVCenter);
}

} // namespace

struct CompressorCurveView::State {
    explicit State(const AudioLevelBuffer& buffer)
        : levelBuffer(buffer) {}

    // One circle of the trail, at the curve's level (input dB, output dB)
    // for its input.
    struct TrailMark {
        float inputDb;
        QPointF level;
        double radius;
        double opacity;
    };

    CompressorParams params;
    ChainKind chain = ChainKind::standard;
    std::optional<float> programmeTarget;
    const AudioLevelBuffer& levelBuffer;
    bool isEnabled = false;
    bool isVisible = false;
    ViewClock clock = systemViewClock();

    QTimer ticker;
    QTimer frameTimer;
    double lastFrameSeconds = 0.0;

    // The dot moves among levels (input dB, output dB), so a resize of the
    // view carries it along.
    DotSpring dot;
    DotState dotState = DotState::disabled;
    double breathePhase = 0.0;
    // Only while active; it changes with the ticks, not with the frames.
    std::vector<TrailMark> trail;

    // Everything but the dot and its trail, drawn once for the parameters,
    // size, pixel density and palette it was drawn with; the timers then only
    // repaint around the dot.
    QImage staticLayer;
    // Where the dot and the trail were when last asked to be painted.
    QPointF dotCentre;
    QRect dotArea;
    QRegion trailArea;

    void retarget(const std::vector<LevelSample>& recent);
    // The parameters or the chain changed: the curve is drawn anew and the
    // trail moves onto it.
    void curveChanged();
    void drawTrackingDot(QPainter& painter, const CurvePlot& plot, const QPalette& palette,
                         const QRegion& dirty) const;
    QRegion trailRegion(const CurvePlot& plot) const;
};

void CompressorCurveView::State::retarget(const std::vector<LevelSample>& recent) {
    const auto target = dotTarget(recent, isEnabled);
    dotState = target.state;
    if (target.state == DotState::idle) {
        breathePhase = clock();
    }
    dot.setTarget(curveLevel(params, target.inputDb, chain));
    trail.clear();
    if (target.state == DotState::active) {
        for (const auto& trailDot : trailDots(recent)) {
            trail.push_back({trailDot.inputDb, curveLevel(params, trailDot.inputDb, chain),
                             trailDot.radius, trailDot.opacity});
        }
    }
}

void CompressorCurveView::State::curveChanged() {
    staticLayer = {};
    for (auto& mark : trail) {
        mark.level = curveLevel(params, mark.inputDb, chain);
    }
}

void CompressorCurveView::State::drawTrackingDot(QPainter& painter, const CurvePlot& plot,
                                                 const QPalette& palette,
                                                 const QRegion& dirty) const {
    const QPointF centre = plot.point(dot.position());
    switch (dotState) {
    case DotState::active:
        for (const auto& mark : trail) {
            const QPointF at = plot.point(mark.level);
            // Most frames repaint only around the dot.
            if (dirty.intersects(around(at, trailReach))) {
                fillCircle(painter, at, 2.0 * mark.radius, style::primary(palette, mark.opacity));
            }
        }
        fillCircle(painter, centre, 20.0, style::primary(palette, 0.08));
        fillCircle(painter, centre, 7.0, style::primary(palette, 0.9));
        fillCircle(painter, centre, 3.0, style::accent());
        break;
    case DotState::idle: {
        const auto glow = breathingGlow(breathePhase);
        fillCircle(painter, centre, glow.glowDiameter, style::accent(glow.glowOpacity));
        fillCircle(painter, centre, 5.0, style::accent(glow.coreOpacity));
        break;
    }
    case DotState::disabled:
        fillCircle(painter, centre, 5.0, style::primary(palette, 0.12));
        break;
    }
}

QRegion CompressorCurveView::State::trailRegion(const CurvePlot& plot) const {
    QRegion region;
    for (const auto& mark : trail) {
        region += around(plot.point(mark.level), trailReach);
    }
    return region;
}

CompressorCurveView::CompressorCurveView(const AudioLevelBuffer& levelBuffer, QWidget* parent)
    : QWidget(parent)
    , state_(std::make_unique<State>(levelBuffer)) {
    setFixedHeight(viewHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    presentAsGraphic(*this, QStringLiteral("Compression curve visualization"));

    state_->ticker.setTimerType(Qt::PreciseTimer);
    state_->ticker.setInterval(tickIntervalMs);
    connect(&state_->ticker, &QTimer::timeout, this, &CompressorCurveView::tick);
    state_->frameTimer.setTimerType(Qt::PreciseTimer);
    state_->frameTimer.setInterval(frameIntervalMs);
    connect(&state_->frameTimer, &QTimer::timeout, this, &CompressorCurveView::animationFrame);
}

CompressorCurveView::~CompressorCurveView() = default;

void CompressorCurveView::setParams(const CompressorParams& params) {
    if (params == state_->params) {
        return;
    }
    state_->params = params;
    state_->curveChanged();
    update();
}

void CompressorCurveView::setChain(ChainKind chain) {
    if (chain == state_->chain) {
        return;
    }
    state_->chain = chain;
    state_->curveChanged();
    noteChanged();
}

void CompressorCurveView::setProgrammeTarget(std::optional<float> targetLufs) {
    if (targetLufs == state_->programmeTarget) {
        return;
    }
    state_->programmeTarget = targetLufs;
    noteChanged();
}

QString CompressorCurveView::note() const {
    return levellerNote(state_->chain, state_->programmeTarget);
}

void CompressorCurveView::noteChanged() {
    setAccessibleDescription(note());
    state_->staticLayer = {};
    update();
}

void CompressorCurveView::setCompressionEnabled(bool enabled) {
    state_->isEnabled = enabled;
}

void CompressorCurveView::setPanelVisible(bool visible) {
    auto& s = *state_;
    if (visible == s.isVisible) {
        return;
    }
    s.isVisible = visible;
    if (visible) {
        s.dot.place(curveLevel(s.params, CurvePlot::dbMin, s.chain));
        s.ticker.start();
        // At once, rather than showing a stale state until the first tick.
        tick();
    } else {
        s.ticker.stop();
        s.frameTimer.stop();
        s.staticLayer = {}; // its memory is not needed while hidden
    }
    update();
}

QSize CompressorCurveView::sizeHint() const {
    return {panelContentWidth, viewHeight};
}

void CompressorCurveView::setClock(ViewClock clock) {
    state_->clock = std::move(clock);
}

void CompressorCurveView::tick() {
    auto& s = *state_;
    if (!s.isVisible) {
        return;
    }
    s.retarget(s.levelBuffer.recentSamples(trailCount));
    if (s.dot.isMoving() && !s.frameTimer.isActive()) {
        s.lastFrameSeconds = s.clock();
        s.frameTimer.start();
    }
    const QRegion trail = s.trailRegion(CurvePlot::inView(size()));
    update(s.trailArea + trail);
    s.trailArea = trail;
    updateTrackingDot();
}

void CompressorCurveView::animationFrame() {
    auto& s = *state_;
    const double now = s.clock();
    s.dot.advance(std::clamp(now - s.lastFrameSeconds, 0.0, longestFrameSeconds));
    s.lastFrameSeconds = now;
    if (!s.dot.isMoving()) {
        s.frameTimer.stop();
    }
    // A frame that would move the dot by less than a quarter of a pixel is
    // not worth a repaint; the next one or the last one paints it.
    const QPointF centre = CurvePlot::inView(size()).point(s.dot.position());
    const QPointF moved = (centre - s.dotCentre) * devicePixelRatioF();
    if (s.dot.isMoving() && std::hypot(moved.x(), moved.y()) < minimumFrameMovePixels) {
        return;
    }
    updateTrackingDot();
}

void CompressorCurveView::updateTrackingDot() {
    auto& s = *state_;
    s.dotCentre = CurvePlot::inView(size()).point(s.dot.position());
    const QRect now = around(s.dotCentre, dotReach);
    update(QRegion(s.dotArea) + now);
    s.dotArea = now;
}

bool CompressorCurveView::isTicking() const {
    return state_->ticker.isActive();
}

bool CompressorCurveView::isAnimating() const {
    return state_->frameTimer.isActive();
}

DotState CompressorCurveView::dotState() const {
    return state_->dotState;
}

QPointF CompressorCurveView::dotPosition() const {
    return CurvePlot::inView(size()).point(state_->dot.position());
}

void CompressorCurveView::changeEvent(QEvent* event) {
    if (changesLook(*event)) {
        state_->staticLayer = {};
        update();
    }
    QWidget::changeEvent(event);
}

void CompressorCurveView::paintEvent(QPaintEvent* event) {
    auto& s = *state_;
    if (!s.isVisible) {
        return;
    }
    QPainter painter(this);
    const auto plot = CurvePlot::inView(size());
    // Pixels per point of whatever is painted on: the screen, or an image
    // rendered at another density.
    const double scale = painter.deviceTransform().m11();
    const QSize pixels = (QSizeF(size()) * scale).toSize();
    if (s.staticLayer.size() != pixels || s.staticLayer.devicePixelRatio() != scale) {
        s.staticLayer = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        s.staticLayer.setDevicePixelRatio(scale);
        s.staticLayer.fill(Qt::transparent);
        QPainter layer(&s.staticLayer);
        layer.setRenderHint(QPainter::Antialiasing);
        drawGrid(layer, plot, palette());
        drawTransfer(layer, plot, s.params, s.chain, palette());
        drawMovieLevels(layer, plot, s.params, s.chain);
        if (const QString text = note(); !text.isEmpty()) {
            drawNote(layer, text, plot, palette());
        }
    }
    const QRect dirty = event->rect();
    painter.drawImage(dirty, s.staticLayer,
                      QRectF(QPointF(dirty.topLeft()) * scale, QSizeF(dirty.size()) * scale));
    painter.setRenderHint(QPainter::Antialiasing);
    s.drawTrackingDot(painter, plot, palette(), event->region());
}

} // namespace quellora
