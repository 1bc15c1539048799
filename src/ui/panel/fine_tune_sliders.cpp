#include "ui/panel/fine_tune_sliders.h"

#include "app/app_state.h"
#include "dsp/compressor_param_fields.h"
#include "ui/panel/param_slider.h"

#include <QBoxLayout>

namespace quellora {
namespace {

struct SliderRow {
    const char* title;
    ValueFormat format;
};

// In the order of compressorParamFields (and CustomParameter).
constexpr std::array<SliderRow, 7> sliderRows{{
    {"Threshold", {0, " dB", 1}},
    {"Ratio", {1, ":1", 1}},
    {"Attack", {0, " ms", 1}},
    {"Release", {0, " ms", 1}},
    {"Knee", {0, " dB", 1}},
    {"Mix", {0, "%", 100}},
    {"SC HPF", {0, " Hz", 1}},
}};
static_assert(sliderRows.size() == compressorParamFields.size());

} // namespace

FineTuneSliders::FineTuneSliders(AppState& model, QWidget* parent)
    : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    for (std::size_t index = 0; index < sliderRows.size(); ++index) {
        const auto parameter = static_cast<CustomParameter>(index);
        const auto& row = sliderRows[index];
        auto* slider =
            new ParamSlider(row.title, compressorParamFields[index].range, row.format, {}, this);
        const auto& value = model.customValue(parameter);
        slider->setValue(value.get());
        connect(slider, &ParamSlider::valueEdited, this,
                [&model, parameter](float edited) { model.setCustomValue(parameter, edited); });
        subscriptions_.push_back(value.subscribe([slider](float now) { slider->setValue(now); }));
        column->addWidget(slider);
    }
}

} // namespace quellora
