#include "jobs/FitRect.h"

#include <QImage>
#include <QPainter>

#include <cmath>

namespace vorlin::jobs {

int roundHalfEven(double x) {
    const double floor = std::floor(x);
    const double diff = x - floor;
    if (diff > 0.5)
        return int(floor) + 1;
    if (diff < 0.5)
        return int(floor);
    return std::fmod(floor, 2.0) == 0.0 ? int(floor) : int(floor) + 1;
}

QRect FitRect(const QRect& source, const QRect& destination) {
    if (source.width() <= 0 || source.height() <= 0 || destination.width() <= 0 ||
        destination.height() <= 0)
        return destination;
    // Edges as left/top inclusive, right/bottom exclusive.
    int left = destination.x();
    int top = destination.y();
    int right = destination.x() + destination.width();
    int bottom = destination.y() + destination.height();
    const double a = double(source.width()) / destination.width();
    const double b = double(source.height()) / destination.height();
    if (a >= b) {
        const int c = roundHalfEven((destination.height() - source.height() / a) / 2.0);
        top += c;
        bottom -= c;
    } else {
        const int c = roundHalfEven((destination.width() - source.width() / b) / 2.0);
        left += c;
        right -= c;
    }
    return QRect(left, top, right - left, bottom - top);
}

void DrawFitted(QPainter& painter, const QRect& area, const QImage& picture) {
    if (picture.width() * picture.height() == 0)
        return;
    const QRect clip = painter.hasClipping() ? painter.clipBoundingRect().toRect() : area;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(FitRect(picture.rect(), clip), picture);
}

} // namespace vorlin::jobs
