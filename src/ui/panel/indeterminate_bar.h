#pragma once

#include <QTimer>
#include <QWidget>

namespace quellora {

// The moving part of an indeterminate bar: `offset` from the bar's leading
// edge (negative while it enters) and its `width`.
struct BarSegment {
    double offset;
    double width;
};

// Where the segment of a bar `barWidth` wide sits at `seconds` on the wall
// clock: it sweeps from fully before the bar to fully past it every 1.1 s.
BarSegment indeterminateSegment(double barWidth, double seconds);

// A thin accent track with a segment sweeping across it: work under way whose
// length nobody knows. Redraws 30 times a second, only while it is shown.
// Assistive technology skips it; the text next to it says what happens.
class IndeterminateBar : public QWidget {
    Q_OBJECT
public:
    explicit IndeterminateBar(QWidget* parent = nullptr);

    bool isAnimating() const { return timer_.isActive(); }
    QSize sizeHint() const override { return {100, 3}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTimer timer_;
};

} // namespace quellora
