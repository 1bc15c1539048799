// The pure decisions behind the painted controls, and the glyphs.

#include "ui/panel/indeterminate_bar.h"
#include "ui/panel/menu_switch.h"
#include "ui/panel/param_slider.h"
#include "ui/panel/preset_pill.h"
#include "ui/panel/symbol_glyphs.h"

#include <gtest/gtest.h>

#include <QImage>

namespace quellora {
namespace {

TEST(PresetPillTitleTest, GeneratedNamesShowTheirNumberOthersTheirName) {
    const std::pair<const char*, const char*> cases[] = {
        {"Preset 12", "12"},
        {"Preset", "Preset"},
        {"Preset x", "Preset x"},
        {"Preset -4", "-4"},
        {"Preset +7", "+7"},
        {"Preset 007", "007"},
        {"Preset Preset 5", "5"},
        {"My Preset 5", "My Preset 5"},
        {"Preset 1 2", "Preset 1 2"},
        {"Preset ", "Preset "},
        {"Preset 99999999999999999999", "Preset 99999999999999999999"}, // beyond 64 bits
    };
    for (const auto& [name, title] : cases) {
        EXPECT_EQ(presetPillTitle(name), title) << name;
    }
    EXPECT_EQ(presetPillAccessibleName("3", false), "3 preset");
    EXPECT_EQ(presetPillAccessibleName("3", true), "3 preset, edited");
}

TEST(ParamValueTest, FormatsScaleAndNeverShowMinusZero) {
    EXPECT_EQ(formatParamValue(0.5f, {0, "%", 100}), "50%");
    EXPECT_EQ(formatParamValue(0.95f, {0, "%", 100}), "95%");
    EXPECT_EQ(formatParamValue(4.0f, {1, ":1", 1}), "4.0:1");
    EXPECT_EQ(formatParamValue(-29.0f, {0, " dB", 1}), "-29 dB");
    EXPECT_EQ(formatParamValue(-0.3f, {0, " dB", 1}), "0 dB");
    EXPECT_EQ(formatParamValue(-0.04f, {1, ":1", 1}), "0.0:1");
    EXPECT_EQ(formatParamValue(-0.6f, {0, " dB", 1}), "-1 dB");
}

TEST(ParamValueTest, SliderStepsSpanTheRangeExactly) {
    const ClosedRange<float> ranges[] = {ParamRange::threshold, ParamRange::ratio,
                                         ParamRange::release, ParamRange::mix, ParamRange::scHpf};
    for (const auto& range : ranges) {
        EXPECT_EQ(sliderValue(0, range), range.lowerBound);
        EXPECT_EQ(sliderValue(sliderSteps, range), range.upperBound);
        EXPECT_EQ(sliderPosition(range.lowerBound - 1.0f, range), 0);
        EXPECT_EQ(sliderPosition(range.upperBound + 1.0f, range), sliderSteps);
        for (const int position : {1, 333, 500, 999}) {
            EXPECT_EQ(sliderPosition(sliderValue(position, range), range), position);
        }
    }
    EXPECT_EQ(sliderPosition(0.5f, ParamRange::mix), 500);
    EXPECT_EQ(sliderPosition(-29.0f, ParamRange::threshold), 420);
}

TEST(SymbolGlyphsTest, EverySymbolStaysOnItsGridAndFilledSymbolsKeepTheirHoles) {
    for (int index = 0; index <= static_cast<int>(Symbol::checkmarkCircleFill); ++index) {
        const auto path = symbolPath(static_cast<Symbol>(index));
        EXPECT_FALSE(path.isEmpty()) << index;
        EXPECT_TRUE(QRectF(0, 0, 24, 24).contains(path.boundingRect())) << index;
    }
    const auto tick = symbolPath(Symbol::checkmarkCircleFill);
    EXPECT_TRUE(tick.contains(QPointF(12, 4)));
    EXPECT_FALSE(tick.contains(QPointF(10.6, 15.8)));
    const auto warning = symbolPath(Symbol::exclamationmarkTriangleFill);
    EXPECT_FALSE(warning.contains(QPointF(12, 11)));
    EXPECT_TRUE(warning.contains(QPointF(7, 18)));
    // The badge sits apart from the waveform, with its mark knocked out.
    const auto badged = symbolPath(Symbol::waveformBadgeXmark);
    EXPECT_FALSE(badged.contains(QPointF(18.5, 18.5)));
    EXPECT_TRUE(badged.contains(QPointF(18.5, 14.5)));
    EXPECT_FALSE(badged.contains(QPointF(12.0, 12.5 + 5.9)));
}

} // namespace
} // namespace quellora
