#include "ui/panel/switch_glow.h"

#include "ui/views/ui_style.h"

#include <QDateTime>
#include <QPainter>
#include <QWidget>
#include <cmath>
#include <vector>

namespace quellora {
namespace {

constexpr int framesPerSecond = 30;

// One pass of a box blur of `radius` pixels along rows (step 1) or columns
// (step = width) of an alpha plane.
void boxBlur(std::vector<float>& alpha, int lines, int length, int lineStride, int step,
             int radius) {
    std::vector<float> line(static_cast<std::size_t>(length));
    const float window = static_cast<float>(2 * radius + 1);
    for (int l = 0; l < lines; ++l) {
        const auto at = [&](int i) -> float& {
            return alpha[static_cast<std::size_t>(l * lineStride + i * step)];
        };
        for (int i = 0; i < length; ++i) {
            line[static_cast<std::size_t>(i)] = at(i);
        }
        float sum = 0.0f;
        for (int i = -radius; i <= radius; ++i) {
            sum += (i >= 0 && i < length) ? line[static_cast<std::size_t>(i)] : 0.0f;
        }
        for (int i = 0; i < length; ++i) {
            at(i) = sum / window;
            const int leaving = i - radius, entering = i + radius + 1;
            sum -= (leaving >= 0) ? line[static_cast<std::size_t>(leaving)] : 0.0f;
            sum += (entering < length) ? line[static_cast<std::size_t>(entering)] : 0.0f;
        }
    }
}

// How strongly the glow shines at `seconds` on the wall clock: a swing
// between 0.5 and 0.95 about every 1.6 s.
double glowIntensity(double seconds) {
    return (std::sin(3.9 * seconds) * 0.5 + 0.5) * 0.45 + 0.5;
}

// A blurred accent capsule of `size` on a transparent image with room for the
// blur around it; `blurRadius` in device-independent pixels.
QImage blurredCapsule(QSizeF size, double blurRadius, double devicePixelRatio) {
    // Three box passes of about half the radius come close to a Gaussian
    // whose visible spread is the radius.
    const int boxRadius =
        std::max(1, static_cast<int>(std::lround(blurRadius * devicePixelRatio / 2)));
    const int margin = 3 * boxRadius + 1;
    const int width = static_cast<int>(std::ceil(size.width() * devicePixelRatio)) + 2 * margin;
    const int height = static_cast<int>(std::ceil(size.height() * devicePixelRatio)) + 2 * margin;

    QImage shape(width, height, QImage::Format_Alpha8);
    shape.fill(0);
    {
        QPainter painter(&shape);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        const QRectF capsule(margin, margin, size.width() * devicePixelRatio,
                             size.height() * devicePixelRatio);
        const double radius = capsule.height() / 2;
        painter.drawRoundedRect(capsule, radius, radius);
    }

    std::vector<float> alpha(static_cast<std::size_t>(width * height));
    for (int y = 0; y < height; ++y) {
        const uchar* row = shape.constScanLine(y);
        for (int x = 0; x < width; ++x) {
            alpha[static_cast<std::size_t>(y * width + x)] = static_cast<float>(row[x]) / 255.0f;
        }
    }
    for (int pass = 0; pass < 3; ++pass) {
        boxBlur(alpha, height, width, width, 1, boxRadius);
        boxBlur(alpha, width, height, 1, width, boxRadius);
    }

    QImage blurred(width, height, QImage::Format_ARGB32_Premultiplied);
    const QColor colour = style::accent();
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(blurred.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const float a = alpha[static_cast<std::size_t>(y * width + x)];
            row[x] = qPremultiply(qRgba(colour.red(), colour.green(), colour.blue(),
                                        static_cast<int>(std::lround(a * 255.0f))));
        }
    }
    blurred.setDevicePixelRatio(devicePixelRatio);
    return blurred;
}

} // namespace

SwitchGlow::SwitchGlow(QWidget& canvas, QSizeF switchSize)
    : QObject(&canvas)
    , canvas_(canvas)
    , switchSize_(switchSize)
    , layers_{{1.625, 10.0, 0.6, {}}, {1.3, 4.0, 1.0, {}}} {
    timer_.setObjectName("glowTimer");
    timer_.setInterval(1000 / framesPerSecond);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this,
            [this] { canvas_.update(bounds(lastSwitchRect_).toAlignedRect()); });
}

void SwitchGlow::setShown(bool shown) {
    if (shown != shown_) {
        shown_ = shown;
        updateTimer();
        canvas_.update();
    }
}

void SwitchGlow::setPulsing(bool pulsing) {
    if (pulsing != pulsing_) {
        pulsing_ = pulsing;
        updateTimer();
        canvas_.update();
    }
}

void SwitchGlow::updateTimer() {
    if (shown_ && pulsing_) {
        timer_.start();
    } else {
        timer_.stop();
    }
}

double SwitchGlow::intensityNow() const {
    if (!pulsing_) {
        return restingGlowIntensity;
    }
    return glowIntensity(static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0);
}

QRectF SwitchGlow::bounds(const QRectF& switchRect) const {
    const auto& outer = layers_[0];
    const QSizeF size = switchSize_ * outer.scale;
    const double spread = 2 * outer.blurRadius;
    return QRectF(switchRect.center() - QPointF(size.width() / 2, size.height() / 2), size)
        .adjusted(-spread, -spread, spread, spread);
}

void SwitchGlow::paint(QPainter& painter, const QRectF& switchRect) {
    lastSwitchRect_ = switchRect;
    if (!shown_) {
        return;
    }
    const double intensity = intensityNow();
    const double devicePixelRatio = canvas_.devicePixelRatioF();
    painter.save();
    for (auto& layer : layers_) {
        if (layer.image.isNull() || layer.image.devicePixelRatio() != devicePixelRatio) {
            layer.image =
                blurredCapsule(switchSize_ * layer.scale, layer.blurRadius, devicePixelRatio);
        }
        const QSizeF imageSize = layer.image.deviceIndependentSize();
        painter.setOpacity(layer.opacity * intensity);
        painter.drawImage(switchRect.center() -
                              QPointF(imageSize.width() / 2, imageSize.height() / 2),
                          layer.image);
    }
    painter.restore();
}

} // namespace quellora
