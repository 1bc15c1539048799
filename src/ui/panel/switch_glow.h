#pragma once

#include <QImage>
#include <QObject>
#include <QRectF>
#include <QTimer>

class QPainter;
class QWidget;

namespace quellora {

// The intensity of a glow that is not pulsing.
inline constexpr double restingGlowIntensity = 0.8;

// The glow behind the main switch while compression is off, inviting the user
// to switch it back on. It is painted by `canvas` (under the switch, which is
// one of its descendants) and pulses at 30 frames a second only while the
// panel is open; when closed it rests at 0.8.
class SwitchGlow : public QObject {
    Q_OBJECT
public:
    SwitchGlow(QWidget& canvas, QSizeF switchSize);

    void setShown(bool shown);
    void setPulsing(bool pulsing);
    bool isShown() const { return shown_; }
    bool isPulsing() const { return timer_.isActive(); }

    void paint(QPainter& painter, const QRectF& switchRect);

private:
    struct Layer {
        double scale;
        double blurRadius;
        double opacity; // at intensity 1
        QImage image;
    };

    void updateTimer();
    double intensityNow() const;
    // The part of the canvas the glow may cover, around a switch at `switchRect`.
    QRectF bounds(const QRectF& switchRect) const;

    QWidget& canvas_;
    QSizeF switchSize_;
    Layer layers_[2];
    QTimer timer_;
    bool shown_ = false;
    bool pulsing_ = false;
    QRectF lastSwitchRect_;
};

} // namespace quellora
