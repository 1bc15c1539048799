#pragma once

#include <QAbstractButton>

namespace quellora {

// The setup screens' main action: a full-width accent button with white text.
class ProminentButton : public QAbstractButton {
    Q_OBJECT
public:
    // `verticalPadding` is added above and below the standard height.
    explicit ProminentButton(int verticalPadding = 0, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int verticalPadding_;
};

} // namespace quellora
