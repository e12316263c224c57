#pragma once

#include <QRect>

class QImage;
class QPainter;

namespace vorlin::jobs {

// x rounded to the nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
int roundHalfEven(double x);

// Where a picture of rectangle `source` goes inside `destination`: aspect kept, filling the
// destination in one direction and centred in the other, margins rounded halves to even.
QRect FitRect(const QRect& source, const QRect& destination);

// Stretch-draws the picture into the painter's clip rectangle (or `area` when the painter
// has no clip) with FitRect; draws nothing for a picture without area.
void DrawFitted(QPainter& painter, const QRect& area, const QImage& picture);

} // namespace vorlin::jobs
