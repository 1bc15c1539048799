#pragma once

#include "ui/panel/symbol_glyphs.h"

#include <QColor>
#include <QWidget>
#include <optional>

namespace quellora {

// A tinted disc, optionally with a symbol in its middle: the setup screens'
// badges, and the dot before a note.
class CircleBadge : public QWidget {
    Q_OBJECT
public:
    struct Look {
        QColor fill;
        std::optional<Symbol> symbol;
        double symbolSize = 0.0;
        QColor symbolColour;
    };

    CircleBadge(int diameter, Look look, QWidget* parent = nullptr);

    void setLook(Look look);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Look look_;
};

} // namespace quellora
