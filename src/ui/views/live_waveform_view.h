#pragma once

#include "dsp/audio_level_buffer.h"
#include "ui/views/view_clock.h"

#include <QWidget>
#include <memory>

namespace quellora {

// The scrolling level display: input and output peak envelopes of the most
// recent audio, newest at the right, over a gain-reduction strip; an idle
// noise line while nothing plays and a flat line while compression is off.
// 82 high; as wide as the panel. Redraws ten times a second, only while the
// panel shows.
class LiveWaveformView : public QWidget {
    Q_OBJECT
public:
    explicit LiveWaveformView(const AudioLevelBuffer& levelBuffer, QWidget* parent = nullptr);
    ~LiveWaveformView() override;

    // Whether compression is on.
    void setCompressionEnabled(bool enabled);
    // Whether the panel shows; the redraw timer runs only while it does.
    void setPanelVisible(bool visible);

    QSize sizeHint() const override;

    // The clock of the idle noise: the wall clock unless a test pins it.
    void setClock(ViewClock clock);
    // Whether the redraw timer runs.
    bool isTicking() const;

protected:
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace quellora
