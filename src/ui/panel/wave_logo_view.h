#pragma once

#include <QWidget>

namespace quellora {

class EasedValue;

// The panel's logo: the waveform symbol on a disc, in the accent colour while
// compression runs and faint otherwise; the change eases over 0.3 s.
class WaveLogoView : public QWidget {
    Q_OBJECT
public:
    explicit WaveLogoView(QWidget* parent = nullptr);

    void setActive(bool active);

    QSize sizeHint() const override { return {36, 36}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    EasedValue* activity_; // 0 inactive, 1 active
};

} // namespace quellora
