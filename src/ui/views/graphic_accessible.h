#pragma once

#include <QString>

class QWidget;

namespace quellora {

// Presents `widget` to assistive technology as one element with the graphic
// role and `name`, whatever it contains.
void presentAsGraphic(QWidget& widget, const QString& name);

} // namespace quellora
