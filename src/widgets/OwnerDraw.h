#pragma once

#include <QColor>
#include <QRect>

class QPainter;

namespace vorlin::widgets {

// Background of one entry of an owner-drawn list: the focused entry is filled with the
// highlight colour inside a 1-pixel darker-blue frame, 2 and 1 pixels in from its edges;
// any other entry is filled with `background`.
void DrawListEntryBackground(QPainter& painter, const QRect& entry, bool focused,
                             const QColor& background);

} // namespace vorlin::widgets
