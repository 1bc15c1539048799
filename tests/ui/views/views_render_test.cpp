#include "ui/views/compressor_curve_view.h"
#include "ui/views/curve_plot.h"
#include "ui/views/live_waveform_view.h"
#include "ui/views/ui_style.h"
#include "ui/views/waveform_model.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <cmath>
#include <functional>
#include <memory>

namespace quellora {
namespace {

constexpr int scale = 2;

// The view painted at twice its size, as on a high-density screen, or at
// another density.
QImage render(QWidget& view, const QColor& background, int density = scale) {
    QImage image(view.size() * density, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(density);
    image.fill(background);
    view.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

QPalette darkPalette() {
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(30, 30, 32));
    dark.setColor(QPalette::WindowText, QColor(235, 235, 240));
    return dark;
}

// Over the panel's background, kept under `name` for people to look at.
QImage renderShown(QWidget& view, const QString& name) {
    const QImage image = render(view, view.palette().color(QPalette::Window));
    const QDir directory(QStringLiteral(QUELLORA_SCREENSHOT_DIR));
    EXPECT_TRUE(directory.mkpath(QStringLiteral(".")) && image.save(directory.filePath(name)));
    return image;
}

bool drawsNothing(QWidget& view) {
    QImage blank(view.size() * scale, QImage::Format_ARGB32_Premultiplied);
    blank.setDevicePixelRatio(scale);
    blank.fill(Qt::transparent);
    return render(view, Qt::transparent) == blank;
}

// In the view's own coordinates.
QColor colourAt(const QImage& image, QPointF point) {
    return image.pixelColor((point * scale).toPoint());
}

bool near(const QColor& actual, const QColor& expected, int tolerance) {
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance;
}

// Pixels in `region` that carry the violet accent rather than the grey of the
// panel and its text.
int accentPixels(const QImage& image, const QRectF& region) {
    const QRect pixels = QRectF(region.topLeft() * scale, region.size() * scale).toAlignedRect();
    int count = 0;
    for (int y = pixels.top(); y <= pixels.bottom(); ++y) {
        for (int x = pixels.left(); x <= pixels.right(); ++x) {
            const QColor colour = image.pixelColor(x, y);
            count += colour.blue() - colour.green() > 8 ? 1 : 0;
        }
    }
    return count;
}

class CompressorCurveViewTest : public ::testing::Test {
protected:
    CompressorCurveViewTest() {
        view.resize(268, 150);
        view.setClock([this] { return now; });
        view.setCompressionEnabled(true);
    }

    void push(float inputDb) { levels.push({inputDb, inputDb - 6.0f, -6.0f}); }

    // Animation frames at 60 a second for `seconds` of clock time.
    void animate(double seconds) {
        for (double elapsed = 0.0; elapsed < seconds; elapsed += 1.0 / 60.0) {
            now += 1.0 / 60.0;
            view.animationFrame();
        }
    }

    QPointF curvePoint(float inputDb) const {
        return plot.point(curveLevel(CompressorParams::defaults(), inputDb));
    }

    AudioLevelBuffer levels;
    double now = 1000.0;
    CompressorCurveView view{levels};
    const CurvePlot plot = CurvePlot::inView({268.0, 150.0});
};

TEST_F(CompressorCurveViewTest, WhileThePanelIsHiddenNeitherViewDrawsReadsOrTicks) {
    push(-10.0f);
    view.tick();
    EXPECT_EQ(view.dotState(), DotState::disabled) << "the history was read";
    LiveWaveformView waveform(levels);
    waveform.resize(268, 82);
    waveform.setCompressionEnabled(true);
    for (bool shown : {false, true, false}) {
        view.setPanelVisible(shown);
        waveform.setPanelVisible(shown);
        EXPECT_EQ(view.isTicking(), shown);
        EXPECT_EQ(view.isAnimating(), shown);
        EXPECT_EQ(waveform.isTicking(), shown);
        if (!shown) {
            EXPECT_TRUE(drawsNothing(view));
            EXPECT_TRUE(drawsNothing(waveform));
        }
    }
}

TEST_F(CompressorCurveViewTest, InSilenceTheDotBreathesAtTheFootOfTheStandardCurve) {
    push(-70.0f);
    view.setPanelVisible(true);
    EXPECT_EQ(view.dotState(), DotState::idle);
    EXPECT_FALSE(view.isAnimating()) << "placed at the foot of the curve on appearance";
    EXPECT_EQ(view.dotPosition(), curvePoint(-50.0f));

    const QImage image = renderShown(view, QStringLiteral("curve_idle.png"));
    EXPECT_TRUE(near(colourAt(image, curvePoint(-12.5f)), style::accent(), 40)) << "the curve";
}

TEST_F(CompressorCurveViewTest,
       LoudInputSpringsTheDotUpTheCurveWithATrailAndCompressionOffSendsItBack) {
    for (int i = 0; i < 12; ++i) {
        push(-36.0f + 3.0f * static_cast<float>(i));
    }
    view.setPanelVisible(true);
    EXPECT_EQ(view.dotState(), DotState::active);
    EXPECT_TRUE(view.isAnimating());
    animate(0.1);
    const QPointF moving = view.dotPosition();
    EXPECT_GT(moving.x(), curvePoint(-50.0f).x());
    EXPECT_LT(moving.x(), curvePoint(-3.0f).x());

    const QImage image = renderShown(view, QStringLiteral("curve_active.png"));
    EXPECT_TRUE(near(colourAt(image, moving), style::accent(), 40)) << "the dot's centre";
    EXPECT_LT(colourAt(image, moving + QPointF(2.5, 0.0)).lightness(), 60) << "the dot";
    EXPECT_LT(colourAt(image, curvePoint(-9.0f)).lightness(),
              colourAt(image, curvePoint(-9.0f) + QPointF(0.0, 12.0)).lightness())
        << "a trail dot darkens the curve";

    animate(1.0);
    EXPECT_FALSE(view.isAnimating());
    EXPECT_EQ(view.dotPosition(), curvePoint(-3.0f));

    view.setCompressionEnabled(false);
    view.tick();
    EXPECT_EQ(view.dotState(), DotState::disabled);
    animate(1.0);
    EXPECT_EQ(view.dotPosition(), curvePoint(-50.0f)) << "back to the foot of the curve";
    renderShown(view, QStringLiteral("curve_disabled.png"));
}

TEST_F(CompressorCurveViewTest, TheCurveDrawnOnceIsRedrawnForNewDensityPaletteAndParameters) {
    view.setPanelVisible(true);
    const auto freshlyDrawn = [&](const std::function<void(CompressorCurveView&)>& setUp) {
        CompressorCurveView other(levels);
        other.resize(view.size());
        other.setClock([this] { return now; });
        other.setCompressionEnabled(true);
        setUp(other);
        other.setPanelVisible(true);
        return render(other, Qt::transparent);
    };
    render(view, Qt::transparent, 1);
    EXPECT_EQ(render(view, Qt::transparent), freshlyDrawn([](CompressorCurveView&) {}));

    auto params = CompressorParams::defaults();
    params.ratio = 6.0f;
    view.setParams(params);
    view.tick(); // the breathing dot moves to the new curve's foot
    animate(1.0);
    view.tick();
    EXPECT_EQ(render(view, Qt::transparent),
              freshlyDrawn([&](CompressorCurveView& other) { other.setParams(params); }));

    view.setPalette(darkPalette());
    EXPECT_EQ(render(view, Qt::transparent), freshlyDrawn([&](CompressorCurveView& other) {
                  other.setParams(params);
                  other.setPalette(darkPalette());
              }));
}

// Night notes that its leveller works first; a programme target is noted
// under Standard only.
TEST_F(CompressorCurveViewTest, TheNoteSaysWhatLevelsBeforeTheCurve) {
    push(-70.0f);
    view.setPanelVisible(true);
    const QRectF note(plot.area.left() + 2.0, plot.area.top(), 150.0, 12.0);
    const auto noteArea = [&] {
        return render(view, Qt::white)
            .copy(QRectF(note.topLeft() * scale, note.size() * scale).toRect());
    };
    const QImage plain = noteArea();
    view.setProgrammeTarget(-18.0f);
    renderShown(view, QStringLiteral("curve_programmes.png"));
    EXPECT_NE(noteArea(), plain);
    EXPECT_TRUE(view.note().contains("-18 LUFS")) << view.note().toStdString();
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&view)->text(QAccessible::Description),
              view.note());

    view.setParams(nightCompressorParams());
    view.setChain(ChainKind::night);
    const QImage night = renderShown(view, QStringLiteral("curve_night.png"));
    const auto level = curveLevel(nightCompressorParams(), -31.0f, ChainKind::night);
    EXPECT_TRUE(near(colourAt(night, plot.point(level)), style::accent(), 40)) << "the curve";
    const QImage nightNote = noteArea();
    EXPECT_NE(nightNote, plain);
    view.setProgrammeTarget(std::nullopt);
    EXPECT_EQ(noteArea(), nightNote);
    view.setParams(CompressorParams::defaults());
    view.setChain(ChainKind::standard);
    EXPECT_EQ(noteArea(), plain);
    EXPECT_TRUE(view.note().isEmpty());
}

class LiveWaveformViewTest : public ::testing::Test {
protected:
    LiveWaveformViewTest() {
        view.resize(268, 82);
        view.setClock([] { return 1000.0; });
        view.setCompressionEnabled(true);
    }

    AudioLevelBuffer levels;
    LiveWaveformView view{levels};
    const QRectF band = WaveformLayout::waveBand(268.0);
    const QRectF strip = WaveformLayout::gainReductionStrip(268.0);
};

TEST_F(LiveWaveformViewTest, AShortHistoryIsDrawnAtTheRightOverItsGainReduction) {
    for (int i = 0; i < 150; ++i) {
        const float swing = 9.0f * static_cast<float>(std::sin(i / 6.0));
        levels.push({-15.0f + swing, -20.0f + swing / 2.0f, -12.0f});
    }
    view.setPanelVisible(true);
    const QImage image = renderShown(view, QStringLiteral("waveform_active.png"));

    EXPECT_EQ(accentPixels(image, QRectF(0.0, 0.0, 268.0 - 151.0, 82.0)), 0)
        << "nothing left of the oldest sample";
    EXPECT_TRUE(near(colourAt(image, {200.0, 30.0}), style::accent(), 90)) << "output envelope";
    EXPECT_GT(accentPixels(image, QRectF(130.0, strip.top(), 130.0, 11.0)), 0);
    EXPECT_EQ(accentPixels(image, QRectF(130.0, strip.top() + 13.0, 130.0, 11.0)), 0)
        << "12 dB of reduction fills half the strip";
}

TEST_F(LiveWaveformViewTest, SilenceShowsTheIdleLineAndCompressionOffAFlatOne) {
    view.setPanelVisible(true);
    const QImage idle = renderShown(view, QStringLiteral("waveform_idle.png"));
    EXPECT_GT(accentPixels(idle, band.adjusted(0.0, 10.0, 0.0, -10.0)), 0);
    EXPECT_EQ(accentPixels(idle, strip), 0) << "only the label";

    levels.push({-10.0f, -12.0f, -6.0f});
    view.setCompressionEnabled(false);
    const QImage off = renderShown(view, QStringLiteral("waveform_disabled.png"));
    EXPECT_EQ(accentPixels(off, QRectF(0.0, 0.0, 268.0, 82.0)), 0);
    EXPECT_LT(colourAt(off, {134.0, band.center().y()}).lightness(),
              colourAt(off, {134.0, band.center().y() + 4.0}).lightness());
}

TEST_F(LiveWaveformViewTest, ItsBackgroundFollowsDensityAndPalette) {
    view.setPanelVisible(true);
    const auto freshlyDrawn = [&](const QPalette& palette) {
        LiveWaveformView other(levels);
        other.resize(view.size());
        other.setClock([] { return 1000.0; });
        other.setCompressionEnabled(true);
        other.setPalette(palette);
        other.setPanelVisible(true);
        return render(other, Qt::transparent);
    };
    render(view, Qt::transparent, 1);
    EXPECT_EQ(render(view, Qt::transparent), freshlyDrawn(view.palette()));
    view.setPalette(darkPalette());
    EXPECT_EQ(render(view, Qt::transparent), freshlyDrawn(darkPalette()));
}

TEST(VisualizationViews, EachIsOneAccessibleGraphic) {
    AudioLevelBuffer levels;
    CompressorCurveView curve(levels);
    LiveWaveformView waveform(levels);
    for (QWidget* view : std::initializer_list<QWidget*>{&curve, &waveform}) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(view);
        ASSERT_NE(accessible, nullptr);
        EXPECT_EQ(accessible->role(), QAccessible::Graphic);
        EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty());
        EXPECT_EQ(accessible->childCount(), 0);
    }
}

} // namespace
} // namespace quellora
