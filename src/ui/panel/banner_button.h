#pragma once

#include "ui/panel/panel_paint.h"
#include "ui/panel/symbol_glyphs.h"

#include <QAbstractButton>
#include <QColor>

namespace quellora {

class IndeterminateBar;

// A full-width banner that is one button: a row of a symbol, a text and an
// optional trailing text on a tinted rounded box, with an optional
// indeterminate bar under the row (work under way).
class BannerButton : public QAbstractButton {
    Q_OBJECT
public:
    struct Look {
        style::Tint foreground;
        QColor background;
        double symbolSize;
    };

    explicit BannerButton(Look look, QWidget* parent = nullptr);

    void setContent(Symbol symbol, const QString& text, const QString& trailingText = {});
    void setBarShown(bool shown);
    const IndeterminateBar& bar() const { return *bar_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    double rowHeight() const;
    void placeBar();

    Look look_;
    Symbol symbol_ = Symbol::waveform;
    QString trailingText_;
    IndeterminateBar* bar_;
};

} // namespace quellora
