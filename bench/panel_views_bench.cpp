// What the panel's live displays cost while the panel is open: the curve and
// the waveform views shown on Qt's offscreen platform, moved by levels like
// those of speech and music (or by silence) that a thread of their own meters
// as the capture side would, on the views' own timers. Each iteration is one
// second of animation on the wall clock, so the CPU column is the main
// thread's time per second of animation: 30 ms is 3 % of one core. Counters:
// paint events and painted area (in device pixels) per second.

#include "dsp/audio_level_buffer.h"
#include "ui/views/compressor_curve_view.h"
#include "ui/views/live_waveform_view.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QPaintEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <numbers>
#include <thread>

namespace {

using namespace quellora;

constexpr int panelContentWidth = 268;
// About as often as the capture side meters a buffer of 256 frames at 48 kHz.
constexpr int meterIntervalMs = 5;

// Counts what the views paint.
class PaintCounter final : public QObject {
public:
    double paints = 0;
    double pixels = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            const auto* widget = static_cast<QWidget*>(watched);
            const double scale = widget->devicePixelRatioF();
            paints += 1;
            for (const QRect& rect : static_cast<QPaintEvent*>(event)->region()) {
                pixels += rect.width() * rect.height() * scale * scale;
            }
        }
        return false;
    }
};

// Speech-like syllables over a slower swell between quiet and loud passages,
// or silence.
LevelSample meterReading(double seconds, bool playing) {
    if (!playing) {
        return {};
    }
    const double swell = -30.0 + 12.0 * std::sin(2.0 * std::numbers::pi * seconds / 8.0);
    const double syllables = 8.0 * std::abs(std::sin(2.0 * std::numbers::pi * 3.0 * seconds));
    const auto input = static_cast<float>(swell + syllables);
    const float reduction = std::min(0.0f, -0.4f * (input + 29.0f));
    return {input, input + reduction + 2.0f, reduction};
}

void animateViews(benchmark::State& state, bool curve, bool waveform) {
    const bool playing = state.range(0) != 0;
    AudioLevelBuffer levels;
    QWidget panel;
    auto* column = new QVBoxLayout(&panel);
    column->setContentsMargins(16, 16, 16, 16);
    PaintCounter counter;
    std::unique_ptr<CompressorCurveView> curveView;
    std::unique_ptr<LiveWaveformView> waveformView;
    if (curve) {
        curveView = std::make_unique<CompressorCurveView>(levels, &panel);
        curveView->setParams(CompressorParams::defaults());
        curveView->setCompressionEnabled(true);
        curveView->installEventFilter(&counter);
        column->addWidget(curveView.get());
    }
    if (waveform) {
        waveformView = std::make_unique<LiveWaveformView>(levels, &panel);
        waveformView->setCompressionEnabled(true);
        waveformView->installEventFilter(&counter);
        column->addWidget(waveformView.get());
    }
    panel.setFixedWidth(panelContentWidth + 32);
    panel.show();
    if (curveView) {
        curveView->setPanelVisible(true);
    }
    if (waveformView) {
        waveformView->setPanelVisible(true);
    }

    std::atomic<bool> metering{true};
    std::thread meter([&] {
        for (double seconds = 0.0; metering.load(std::memory_order_relaxed);
             seconds += meterIntervalMs / 1000.0) {
            levels.push(meterReading(seconds, playing));
            std::this_thread::sleep_for(std::chrono::milliseconds(meterIntervalMs));
        }
    });
    // Settle the first layout and paint before measuring.
    QEventLoop loop;
    QTimer::singleShot(300, &loop, &QEventLoop::quit);
    loop.exec();
    counter.paints = counter.pixels = 0;

    for (auto _ : state) {
        QTimer::singleShot(1000, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
    metering = false;
    meter.join();
    const auto seconds = static_cast<double>(state.iterations());
    state.counters["paints_per_s"] = counter.paints / seconds;
    state.counters["device_px_per_s"] = counter.pixels / seconds;
}

void BM_PanelViews(benchmark::State& state) {
    animateViews(state, true, true);
}
void BM_CurveView(benchmark::State& state) {
    animateViews(state, true, false);
}
void BM_WaveformView(benchmark::State& state) {
    animateViews(state, false, true);
}

// Argument: 1 while audio plays, 0 in silence.
BENCHMARK(BM_PanelViews)->Arg(1)->Arg(0)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurveView)->Arg(1)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WaveformView)->Arg(1)->Iterations(5)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    // Offscreen unless asked otherwise; QT_SCALE_FACTOR=2 measures a
    // high-density screen.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication application(argc, argv);
    // The offscreen platform's remarks about window hints are not results.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
