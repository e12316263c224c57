#pragma once

#include <QImage>

#include <cstdint>

namespace vorlin::media {

// Where the player puts its pictures. The media layer knows nothing about widgets: a video
// surface (or a test, or a benchmark) implements this and is handed to PlayerOpen.
class RenderSink {
public:
    virtual ~RenderSink() = default;
    // A new picture to show, called on the player's video thread. The picture is at the size
    // the player renders at (the screen size set in OnFileOpen, with the video's aspect kept);
    // the sink keeps its own (implicitly shared) copy. Must return quickly and never wait for
    // the GUI thread.
    virtual void presentPicture(const QImage& picture, int64_t ptsUs) = 0;
    // The file was closed: forget the last picture. Called on the thread that closes the file.
    virtual void clearPicture() = 0;
};

} // namespace vorlin::media
