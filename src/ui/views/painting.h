#pragma once

#include <QColor>
#include <QPen>
#include <QPointF>
#include <QString>
#include <Qt>

class QEvent;
class QPainter;

namespace quellora {

// A solid stroke with flat ends.
QPen strokePen(const QColor& colour, double width);

// A dashed stroke, `on` and `off` in points (Qt measures dashes in pen widths).
QPen dashedPen(const QColor& colour, double width, double on, double off);

void fillCircle(QPainter& painter, QPointF centre, double diameter, const QColor& colour);

// Whether `event` changes what a view paints in its colours and fonts: a new
// palette or font, of the view or of the whole application.
bool changesLook(const QEvent& event);

// Draws `text` in the painter's font and pen so that the point of its line box
// that `anchor` names lies at `at`: Qt::AlignRight | Qt::AlignVCenter puts the
// middle of its trailing edge there, Qt::AlignCenter its centre.
void drawAnchoredText(QPainter& painter, const QString& text, QPointF at, Qt::Alignment anchor);

} // namespace quellora
