#pragma once

#include "media/RenderSink.h"

#include <QColor>
#include <QImage>
#include <QWidget>

#include <atomic>
#include <mutex>

namespace vorlin::widgets {

// The panel a player renders into: keeps the latest picture the player hands over (on the
// player's thread) and paints it on the GUI thread, scaled to fit the panel with its aspect
// kept and centred on the background colour. Stop the player (or open another sink) before
// destroying the surface.
class VideoSurface : public QWidget, public vorlin::media::RenderSink {
    Q_OBJECT
public:
    explicit VideoSurface(QWidget* parent = nullptr);

    // A copy of the picture shown; null when none.
    QImage currentPicture() const;
    QColor backgroundColor() const { return background_; }
    void setBackgroundColor(const QColor& color);

    // RenderSink, called on the player's thread.
    void presentPicture(const QImage& picture, int64_t ptsUs) override;
    void clearPicture() override;

    // Where the picture lands inside the panel (empty when there is none).
    QRect pictureRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void scheduleUpdate();

    mutable std::mutex mutex_;
    QImage picture_;
    QColor background_{Qt::black};
    std::atomic<bool> updateQueued_{false};
};

} // namespace vorlin::widgets
