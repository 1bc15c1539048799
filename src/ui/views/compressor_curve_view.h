#pragma once

#include "dsp/audio_level_buffer.h"
#include "dsp/compressor_params.h"
#include "dsp/processing_chain.h"
#include "ui/views/tracking_dot.h"
#include "ui/views/view_clock.h"

#include <QWidget>
#include <memory>
#include <optional>

namespace quellora {

// The panel's input/output transfer curve of the current parameters on a dB
// grid, with the gain-reduction area, knee band, threshold, reference levels
// and a dot that follows the live input level along the curve. 150 high; as
// wide as the panel. Draws nothing and reads nothing while the panel is hidden.
// The curve and its grid are drawn once per change of parameters, size, pixel
// density or palette; the dot's timers repaint only around the dot.
class CompressorCurveView : public QWidget {
    Q_OBJECT
public:
    explicit CompressorCurveView(const AudioLevelBuffer& levelBuffer, QWidget* parent = nullptr);
    ~CompressorCurveView() override;

    void setParams(const CompressorParams& params);
    // Night draws its compressor capped by the limiter's ceiling, and says
    // that the leveller works before the curve.
    void setChain(ChainKind chain);
    // Programmes evened out at a target (none: off): outside Night, a note
    // says that they are brought to it before the curve.
    void setProgrammeTarget(std::optional<float> targetLufs);
    // What the curve's note says works before it; empty when nothing does.
    // Assistive technology reads it as the graphic's description.
    QString note() const;
    // Whether compression is on.
    void setCompressionEnabled(bool enabled);
    // Whether the panel shows; the dot's timer runs only while it does.
    void setPanelVisible(bool visible);

    QSize sizeHint() const override;

    // The clock of the breathing glow and the dot's motion: the wall clock
    // unless a test pins it.
    void setClock(ViewClock clock);

    // The timers' work, public so that tests can drive it without waiting:
    // read the level history and retarget the dot (every 0.1 s while the panel
    // shows), and move the dot on to the clock's present (about 60 times a
    // second while it is moving).
    void tick();
    void animationFrame();

    bool isTicking() const;
    bool isAnimating() const;
    DotState dotState() const;
    // The dot's centre, in the view's coordinates.
    QPointF dotPosition() const;

protected:
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // The note is drawn with the curve, and read out with it.
    void noteChanged();
    // Repaints where the dot was and where it is now.
    void updateTrackingDot();

    struct State;
    std::unique_ptr<State> state_;
};

} // namespace quellora
