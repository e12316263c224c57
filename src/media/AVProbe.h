#pragma once

#include "media/StreamInfo.h"

#include <QString>

#include <vector>

struct AVFormatContext;
namespace vorlin::media {
struct ProbeAccess;
}

// Reads what a media file holds: container, duration, and the properties of its audio and
// video streams. OpenProbe reads everything at once and closes the file again, so a probe
// holds no file handle and its queries are cheap and safe to call from any thread once the
// probe is open (opening itself is not synchronised).
class TAVProbe {
public:
    TAVProbe() = default;

    // Opens and examines a file; forcedFormat names a demuxer to use instead of guessing.
    // False (and an empty probe, with LastError set) when the file cannot be opened or read.
    bool OpenProbe(const QString& fileName, const QString& forcedFormat = QString());
    // Forgets the examined file.
    void CloseProbe();
    bool IsOpen() const { return open_; }

    // The path given to OpenProbe; empty when closed.
    QString ProbeFileName() const { return file_.FileName; }
    TFileStreamInfo ProbeFileInfo() const { return file_; }
    // Short demuxer name ("mov,mp4,m4a,3gp,3g2,mj2"); empty when closed.
    QString ProbeFormatName() const { return file_.FormatName; }

    int VideoStreamCount() const { return file_.VideoStreamCount; }
    int AudioStreamCount() const { return file_.AudioStreamCount; }
    // Index of the first (default) video or audio stream; -1 when there is none.
    int FirstVideoStream() const { return firstVideo_; }
    int FirstAudioStream() const { return firstAudio_; }
    bool ProbeIsVideo(int streamIndex) const;
    bool ProbeIsAudio(int streamIndex) const;
    // Information of a stream; an empty record (StreamIndex -1) when the index is not a
    // stream of that kind.
    TVideoStreamInfo ProbeVideoInfo(int streamIndex) const;
    TAudioStreamInfo ProbeAudioInfo(int streamIndex) const;

    // Several lines describing the file: one for the input, one for duration, start and bit
    // rate, then one per stream, e.g.
    //   "  Stream #0:1(und): Audio: aac, 44100 Hz, stereo, fltp, 96 kb/s"
    // A stream line always has the codec name right after "Video: " or "Audio: ", followed by
    // a comma. Empty when closed.
    QString ProbeDescription() const { return description_; }

    // Why the last OpenProbe failed; empty after a success.
    QString LastError() const { return lastError_; }

private:
    friend struct vorlin::media::ProbeAccess;
    // Fills the probe from an input whose stream information has been read.
    void describe(AVFormatContext* ic, const QString& fileName);

    enum class Kind { Other, Video, Audio };
    struct Stream {
        Kind kind = Kind::Other;
        TVideoStreamInfo video;
        TAudioStreamInfo audio;
    };

    bool open_ = false;
    TFileStreamInfo file_;
    std::vector<Stream> streams_;
    int firstVideo_ = -1;
    int firstAudio_ = -1;
    QString description_;
    QString lastError_;
};
