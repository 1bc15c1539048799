#include "ui/panel/param_slider.h"

#include "ui/panel/accessible_factory.h"
#include "ui/panel/tinted_label.h"
#include "ui/views/ui_style.h"

#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quellora {
namespace {

double span(const ClosedRange<float>& range) {
    return static_cast<double>(range.upperBound) - static_cast<double>(range.lowerBound);
}

class ParamTrackAccessible final : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit ParamTrackAccessible(ParamTrack* track)
        : QAccessibleWidget(track, QAccessible::Slider) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) {
            return static_cast<QAccessibleValueInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text text) const override {
        return text == QAccessible::Value ? track()->valueText() : QAccessibleWidget::text(text);
    }
    QVariant currentValue() const override { return track()->paramValue(); }
    void setCurrentValue(const QVariant& value) override { track()->editValue(value.toFloat()); }
    QVariant maximumValue() const override { return track()->paramRange().upperBound; }
    QVariant minimumValue() const override { return track()->paramRange().lowerBound; }
    QVariant minimumStepSize() const override { return track()->stepSize(); }

private:
    ParamTrack* track() const { return static_cast<ParamTrack*>(widget()); }
};

} // namespace

QString formatParamValue(float value, const ValueFormat& format) {
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.*f", format.decimals,
                  static_cast<double>(value) * format.scale);
    QString text = QString::fromLatin1(digits);
    if (text.startsWith('-') && text.count('0') == text.size() - 1 - text.count('.')) {
        text.remove(0, 1);
    }
    return text + QString::fromUtf8(format.suffix);
}

int sliderPosition(float value, const ClosedRange<float>& range, int steps) {
    const double fraction =
        (static_cast<double>(value) - static_cast<double>(range.lowerBound)) / span(range);
    return std::clamp(static_cast<int>(std::lround(fraction * steps)), 0, steps);
}

float sliderValue(int position, const ClosedRange<float>& range, int steps) {
    return static_cast<float>(static_cast<double>(range.lowerBound) +
                              span(range) * position / steps);
}

ParamTrack::ParamTrack(ClosedRange<float> range, ValueFormat format, std::optional<float> stepSize,
                       QWidget* parent)
    : QSlider(Qt::Horizontal, parent)
    , range_(range)
    , format_(format)
    , steps_(stepSize ? std::max(1, static_cast<int>(
                                        std::lround(span(range) / static_cast<double>(*stepSize))))
                      : sliderSteps)
    , wholeSteps_(stepSize.has_value())
    , value_(range.lowerBound) {
    useAccessibleInterface<ParamTrack, ParamTrackAccessible>();
    setRange(0, steps_);
    // An arrow key moves a hundredth of the range, or one whole step.
    setSingleStep(std::max(1, steps_ / 100));
    setPageStep(std::max(1, steps_ / 10));
    setFocusPolicy(Qt::TabFocus);
    // The panel is tinted with the accent colour, also when it is inert.
    QPalette tinted = palette();
    tinted.setColor(QPalette::All, QPalette::Highlight, style::accent());
    tinted.setColor(QPalette::Disabled, QPalette::Highlight, style::accent());
    setPalette(tinted);
    connect(this, &QSlider::valueChanged, this,
            [this](int position) { editValue(sliderValue(position, range_, steps_)); });
}

float ParamTrack::stepSize() const {
    return static_cast<float>(span(range_) / steps_);
}

void ParamTrack::showValue(float value) {
    value_ = value;
    const QSignalBlocker quiet(this);
    setValue(quellora::sliderPosition(value, range_, steps_));
}

void ParamTrack::editValue(float value) {
    const float inRange = clamped(value, range_);
    showValue(wholeSteps_
                  ? sliderValue(quellora::sliderPosition(inRange, range_, steps_), range_, steps_)
                  : inRange);
    Q_EMIT valueEdited(value_);
}

ParamSlider::ParamSlider(const QString& title, ClosedRange<float> range, ValueFormat format,
                         std::optional<float> stepSize, QWidget* parent)
    : QWidget(parent)
    , track_(new ParamTrack(range, format, stepSize, this))
    , valueLabel_(new TintedLabel({}, style::systemFont(11), &style::tertiary, this)) {
    auto* titleLabel = new TintedLabel(title, style::systemFont(11), &style::secondary, this);

    track_->setAccessibleName(title);
    connect(track_, &ParamTrack::valueEdited, this, [this](float value) {
        valueLabel_->setText(track_->valueText());
        Q_EMIT valueEdited(value);
    });

    auto* header = new QHBoxLayout;
    header->setContentsMargins(0, 0, 0, 0);
    header->addWidget(titleLabel);
    header->addStretch();
    header->addWidget(valueLabel_);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    column->addLayout(header);
    column->addWidget(track_);
}

void ParamSlider::setValue(float value) {
    track_->showValue(value);
    valueLabel_->setText(track_->valueText());
}

} // namespace quellora
