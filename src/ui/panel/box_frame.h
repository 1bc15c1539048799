#pragma once

#include <QColor>
#include <QWidget>

namespace quellora {

// A rounded box tinted with one colour, for a banner's content (laid out by
// the owner with 10 pixels of padding).
class BoxFrame : public QWidget {
    Q_OBJECT
public:
    explicit BoxFrame(const QColor& fill, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill_;
};

} // namespace quellora
