#pragma once

#include <QAbstractButton>
#include <QSizeF>

namespace quellora {

class EasedValue;

// How a switch of a given size is laid out: the knob sits `inset` inside the
// track and slides `travel` from off to on.
struct MenuSwitchGeometry {
    double inset;
    double knob;
    double travel;
};

constexpr MenuSwitchGeometry menuSwitchGeometry(QSizeF size) {
    const double inset = size.height() * 0.1;
    const double knob = size.height() - 2 * inset;
    return {inset, knob, size.width() - knob - 2 * inset};
}

// The panel's on/off switch: a capsule track, accent when on, with a white
// knob that slides across in 0.18 s. It shows what its owner sets; a click
// only emits clicked(), so the owner asks the model and sets the outcome
// (which may not be what the user asked for).
class MenuSwitch : public QAbstractButton {
    Q_OBJECT
public:
    static constexpr QSizeF mainSize{42.0, 24.0};
    static constexpr QSizeF smallSize{28.0, 16.0};

    explicit MenuSwitch(QSizeF size, QWidget* parent = nullptr);

    void setOn(bool on) { setChecked(on); }
    bool isOn() const { return isChecked(); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void nextCheckState() override {}
    void checkStateSet() override;

private:
    QSizeF size_;
    EasedValue* position_; // 0 off, 1 on
};

} // namespace quellora
