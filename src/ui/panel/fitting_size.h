#pragma once

#include <QSize>

class QWidget;

namespace quellora {

// What a view of fixed `width` needs to show all of its content, wrapped
// text included (a layout's own size hint ignores how text wraps).
QSize fittingSize(const QWidget& view, int width);

} // namespace quellora
