#pragma once

#include "dsp/audio_level_buffer.h"
#include "dsp/compressor_params.h"

#include <QWidget>

namespace quellora {

// The panel's input/output transfer curve of the current parameters on a dB
// grid, with the gain-reduction area, knee band, threshold, reference levels
// and a dot that follows the live input level along the curve. 150 high; as
// wide as the panel. Draws nothing and reads nothing while the panel is hidden.
class CompressorCurveView : public QWidget {
    Q_OBJECT
public:
    explicit CompressorCurveView(const AudioLevelBuffer& levelBuffer, QWidget* parent = nullptr);
    ~CompressorCurveView() override;

    void setParams(const CompressorParams& params);
    // Whether compression is on.
    void setCompressionEnabled(bool enabled);
    // Whether the panel shows; the dot's timer runs only while it does.
    void setPanelVisible(bool visible);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace quellora
