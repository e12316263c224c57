#include "widgets/VideoSurface.h"

#include <QMetaObject>
#include <QPainter>

namespace vorlin::widgets {

VideoSurface::VideoSurface(QWidget* parent) : QWidget(parent) {
    // Every pixel is painted by paintEvent.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QImage VideoSurface::currentPicture() const {
    std::lock_guard lock(mutex_);
    return picture_;
}

void VideoSurface::setBackgroundColor(const QColor& color) {
    background_ = color;
    update();
}

void VideoSurface::presentPicture(const QImage& picture, int64_t /*ptsUs*/) {
    {
        std::lock_guard lock(mutex_);
        picture_ = picture;
    }
    scheduleUpdate();
}

void VideoSurface::clearPicture() {
    {
        std::lock_guard lock(mutex_);
        picture_ = QImage();
    }
    scheduleUpdate();
}

void VideoSurface::scheduleUpdate() {
    // One repaint request in flight is enough: it paints whatever picture is latest by then.
    if (updateQueued_.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            updateQueued_ = false;
            update();
        },
        Qt::QueuedConnection);
}

QRect VideoSurface::pictureRect() const {
    QSize size;
    {
        std::lock_guard lock(mutex_);
        size = picture_.size();
    }
    if (size.isEmpty() || rect().isEmpty())
        return {};
    const QSize fitted = size.scaled(this->size(), Qt::KeepAspectRatio);
    return QRect(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
}

void VideoSurface::paintEvent(QPaintEvent*) {
    const QImage picture = currentPicture();
    QPainter painter(this);
    painter.fillRect(rect(), background_);
    if (picture.isNull())
        return;
    const QRect target = pictureRect();
    // The player already renders at the panel's size; smooth scaling only matters when the
    // panel was resized since.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, target.size() != picture.size());
    painter.drawImage(target, picture);
}

} // namespace vorlin::widgets
