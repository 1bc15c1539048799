#pragma once

#include "dsp/param_range.h"

#include <QSlider>
#include <QString>
#include <optional>

namespace quellora {

class TintedLabel;

// How a parameter's value reads: value × scale with `decimals` decimals,
// then the unit ("%.1f:1" is {1, ":1", 1}; a mix shown in percent is
// {0, "%", 100}).
struct ValueFormat {
    int decimals;
    const char* suffix;
    double scale;
};

// The text of `value` in `format`. A value that rounds to zero reads "0",
// never "-0".
QString formatParamValue(float value, const ValueFormat& format);

// The sliders move in whole steps, by default this many across the
// parameter's range.
inline constexpr int sliderSteps = 1000;
int sliderPosition(float value, const ClosedRange<float>& range, int steps = sliderSteps);
float sliderValue(int position, const ClosedRange<float>& range, int steps = sliderSteps);

// The slider of a ParamSlider; assistive technology reads its value as the
// formatted text ("4.0:1"), not as a step number. With a step size, every
// value the user sets lands on a whole step (a target of -17 LUFS, never
// -17.3); without, the slider's fine steps only guide the pointer and the
// keys, and assistive technology may set any value.
class ParamTrack : public QSlider {
    Q_OBJECT
public:
    ParamTrack(ClosedRange<float> range, ValueFormat format, std::optional<float> stepSize = {},
               QWidget* parent = nullptr);

    float paramValue() const { return value_; }
    QString valueText() const { return formatParamValue(value_, format_); }
    const ClosedRange<float>& paramRange() const { return range_; }
    const ValueFormat& valueFormat() const { return format_; }
    // The smallest change the slider makes.
    float stepSize() const;
    // Moves the knob to `value` without emitting anything.
    void showValue(float value);
    // Sets `value` as the user would, emitting valueEdited.
    void editValue(float value);

signals:
    void valueEdited(float value);

private:
    ClosedRange<float> range_;
    ValueFormat format_;
    int steps_;
    bool wholeSteps_;
    float value_;
};

// One parameter: its title and current value above a slider over its range.
// The slider writes through valueEdited; the model's value comes back
// through setValue.
class ParamSlider : public QWidget {
    Q_OBJECT
public:
    ParamSlider(const QString& title, ClosedRange<float> range, ValueFormat format,
                std::optional<float> stepSize = {}, QWidget* parent = nullptr);

    void setValue(float value);
    ParamTrack& track() { return *track_; }
    QString valueText() const { return track_->valueText(); }

signals:
    void valueEdited(float value);

private:
    ParamTrack* track_;
    TintedLabel* valueLabel_;
};

} // namespace quellora
