#pragma once

#include "ui/panel/param_slider.h"

namespace quellora {

// A parameter of few whole steps in one line: its value between a minus and
// a plus, each of which steps it (held, it repeats). It is a ParamTrack in
// all but looks: the arrow keys, Page Up and Down, Home and End move it, and
// assistive technology reads and sets it as a slider.
class ParamStepper : public ParamTrack {
    Q_OBJECT
public:
    ParamStepper(ClosedRange<float> range, ValueFormat format, float stepSize,
                 QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // What a press at `x` does: step down on the minus, up on the plus.
    SliderAction actionAt(double x) const;
    QString widestText() const;
};

} // namespace quellora
