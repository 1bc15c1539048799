// What the application shows and plays without anyone at the controls: the
// tray icon on light and dark panels, and the demo programme's levels.

#include "runtime/demo_programme.h"
#include "ui/tray/tray_icon.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <cmath>
#include <vector>

namespace quellora {
namespace {

const Symbol trayIconSymbols[] = {Symbol::waveform, Symbol::waveformBadgeMinus,
                                  Symbol::waveformBadgeExclamationmark, Symbol::waveformBadgeXmark};

QPalette themeWithText(QColor text) {
    QPalette palette;
    palette.setColor(QPalette::WindowText, text);
    return palette;
}

// The icon as a tray shows it: composed over the panel's colour.
QImage onPanel(const QImage& icon, QColor panel) {
    QImage shown(icon.size(), QImage::Format_RGB32);
    shown.fill(panel);
    QPainter(&shown).drawImage(0, 0, icon);
    return shown;
}

// The share of pixels whose lightness differs from the panel's by more than half.
double legibleShare(const QImage& shown, QColor panel) {
    int legible = 0;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            const auto lightness = QColor(shown.pixel(x, y)).lightnessF();
            legible += std::abs(lightness - panel.lightnessF()) > 0.5f ? 1 : 0;
        }
    }
    return static_cast<double>(legible) / (shown.width() * shown.height());
}

TEST(TrayIcon, ReadsOnLightAndDarkPanelsWhateverTheThemeAndTellsTheModesApart) {
    const QColor panels[] = {QColor(245, 245, 245), QColor(32, 32, 36)};
    const QColor themeTexts[] = {Qt::black, QColor(230, 230, 230)};
    constexpr int size = 22;

    // One row per theme and panel, enlarged for people to look at.
    constexpr int zoom = 4;
    QImage sheet(size * zoom * 4, size * zoom * 4, QImage::Format_RGB32);
    QPainter sheetPainter(&sheet);
    int row = 0;
    for (const auto& text : themeTexts) {
        const auto colours = trayIconColours(themeWithText(text));
        for (const auto& panel : panels) {
            std::vector<QImage> shown;
            for (const auto symbol : trayIconSymbols) {
                const auto icon = renderTrayIcon(symbol, colours, size);
                shown.push_back(onPanel(icon, panel));
                EXPECT_GT(legibleShare(shown.back(), panel), 0.05)
                    << "symbol " << static_cast<int>(symbol) << " on panel "
                    << panel.name().toStdString();
                const auto column = static_cast<int>(shown.size() - 1);
                sheetPainter.drawImage(
                    QRect(size * zoom * column, size * zoom * row, size * zoom, size * zoom),
                    shown.back());
            }
            for (std::size_t badge = 1; badge < shown.size(); ++badge) {
                EXPECT_NE(shown[badge], shown[0])
                    << "badge " << badge << " looks like the plain icon";
            }
            ++row;
        }
    }
    sheetPainter.end();
    QDir().mkpath(QUELLORA_SCREENSHOT_DIR);
    EXPECT_TRUE(sheet.save(QUELLORA_SCREENSHOT_DIR "/tray-icons.png"));
}

// dBFS of the RMS over [from, to) seconds.
double rmsDb(const std::vector<float>& mono, double from, double to, double rate) {
    double sum = 0.0;
    const auto first = static_cast<std::size_t>(from * rate);
    const auto last = static_cast<std::size_t>(to * rate);
    for (auto frame = first; frame < last; ++frame) {
        const auto sample = static_cast<double>(mono[frame]);
        sum += sample * sample;
    }
    return 10.0 * std::log10(sum / static_cast<double>(last - first));
}

TEST(DemoProgramme, AlternatesQuietSpeechWithLoudActionOnEveryChannelWithinFullScale) {
    constexpr double rate = 48000.0;
    constexpr std::uint32_t channels = 2;
    constexpr std::uint32_t block = 480;
    DemoProgramme programme(rate);
    const auto frames = static_cast<std::size_t>(DemoProgramme::loopSeconds * rate);
    std::vector<float> interleaved(frames * channels);
    for (std::size_t start = 0; start < frames; start += block) {
        programme.fill(interleaved.data() + start * channels, block, channels);
    }
    std::vector<float> mono(frames);
    for (std::size_t frame = 0; frame < frames; ++frame) {
        ASSERT_EQ(interleaved[frame * 2], interleaved[frame * 2 + 1]) << "frame " << frame;
        ASSERT_LE(std::abs(interleaved[frame * 2]), 1.0f) << "frame " << frame;
        mono[frame] = interleaved[frame * 2];
    }
    const double speech = rmsDb(mono, 0.0, 4.0, rate);
    const double action = rmsDb(mono, 5.5, 7.5, rate);
    EXPECT_LT(speech, -25.0);
    EXPECT_GT(speech, -45.0);
    EXPECT_GT(action, -14.0);
    EXPECT_GT(action - speech, 15.0);
    // Faded, not switched: no jump at the start of a loud passage.
    EXPECT_DOUBLE_EQ(DemoProgramme::loudWeight(5.0), 0.0);
    EXPECT_NEAR(DemoProgramme::loudWeight(5.025), 0.5, 0.25);
}

} // namespace
} // namespace quellora
