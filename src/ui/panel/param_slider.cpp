#include "ui/panel/param_slider.h"

#include "ui/panel/accessible_factory.h"
#include "ui/panel/tinted_label.h"
#include "ui/views/ui_style.h"

#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QBoxLayout>
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
    QVariant minimumStepSize() const override {
        const auto& range = track()->paramRange();
        return (range.upperBound - range.lowerBound) / static_cast<float>(sliderSteps);
    }

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

int sliderPosition(float value, const ClosedRange<float>& range) {
    const double fraction =
        (static_cast<double>(value) - static_cast<double>(range.lowerBound)) / span(range);
    return std::clamp(static_cast<int>(std::lround(fraction * sliderSteps)), 0, sliderSteps);
}

float sliderValue(int position, const ClosedRange<float>& range) {
    return static_cast<float>(static_cast<double>(range.lowerBound) +
                              span(range) * position / sliderSteps);
}

ParamTrack::ParamTrack(ClosedRange<float> range, ValueFormat format, QWidget* parent)
    : QSlider(Qt::Horizontal, parent)
    , range_(range)
    , format_(format)
    , value_(range.lowerBound) {
    useAccessibleInterface<ParamTrack, ParamTrackAccessible>();
    setRange(0, sliderSteps);
    setSingleStep(sliderSteps / 100);
    setPageStep(sliderSteps / 10);
    setFocusPolicy(Qt::TabFocus);
    // The panel is tinted with the accent colour, also when it is inert.
    QPalette tinted = palette();
    tinted.setColor(QPalette::All, QPalette::Highlight, style::accent());
    tinted.setColor(QPalette::Disabled, QPalette::Highlight, style::accent());
    setPalette(tinted);
    connect(this, &QSlider::valueChanged, this,
            [this](int position) { editValue(sliderValue(position, range_)); });
}

void ParamTrack::showValue(float value) {
    value_ = value;
    const QSignalBlocker quiet(this);
    setValue(quellora::sliderPosition(value, range_));
}

void ParamTrack::editValue(float value) {
    showValue(clamped(value, range_));
    Q_EMIT valueEdited(value_);
}

ParamSlider::ParamSlider(const QString& title, ClosedRange<float> range, ValueFormat format,
                         QWidget* parent)
    : QWidget(parent)
    , track_(new ParamTrack(range, format, this))
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
