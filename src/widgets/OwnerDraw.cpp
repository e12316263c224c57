#include "widgets/OwnerDraw.h"

#include <QPainter>

namespace vorlin::widgets {

void DrawListEntryBackground(QPainter& painter, const QRect& entry, bool focused,
                             const QColor& background) {
    if (!focused) {
        painter.fillRect(entry, background);
        return;
    }
    painter.fillRect(entry.adjusted(2, 2, -2, -2), QColor(185, 204, 236));
    painter.setPen(QColor(122, 159, 218));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(entry.adjusted(1, 1, -2, -2));
}

} // namespace vorlin::widgets
