#pragma once

// Helpers of the media layer: opening inputs, rotation tags, legacy encoder and preset
// names, disc targets. Internal to src/media.

#include "media/AVProbe.h"
#include "media/FFmpegPtr.h"

#include <QRect>
#include <QString>

#include <cstdint>

namespace vorlin::media {

// Opens a file and reads its stream information. options may hold demuxer options (consumed
// ones are removed); interrupt may be null. Returns null and sets *error on failure.
InputContextPtr openInputFile(const QString& fileName, const QString& forcedFormat,
                              AVDictionary** options, const AVIOInterruptCB* interrupt,
                              QString* error);

// Opens a file for a probe as TAVProbe::OpenProbe does, and returns the opened input (stream
// information read) instead of closing it, so that a conversion right after can start from it
// rather than reading the file's header and probing its streams a second time. Null when the
// probe failed.
struct ProbeAccess {
    static InputContextPtr open(TAVProbe& probe, const QString& fileName,
                                const QString& forcedFormat);
};

// Clockwise rotation in degrees (0, 90, 180, 270) that makes a stream's pictures upright,
// from its display matrix or "rotate" tag; other angles count as 0.
int streamRotation(const AVStream* st);

// Encoder names FFmpeg no longer has, replaced by their current equivalents ("libfaac" ->
// "aac", "vorbis" -> "libvorbis" when that encoder exists). Other names pass unchanged.
QString mapAudioEncoderName(const QString& name);
QString mapVideoEncoderName(const QString& name);

// What a VideoPreset name means for libx264.
struct X264Settings {
    bool valid = true; // false: the name is no preset we know
    QString preset;    // x264 speed preset; empty keeps x264's default
    QString profile;   // empty: x264's choice
    QString level;     // empty: x264's choice
    // The profile needs 8-bit 4:2:0 pictures.
    bool needs420 = false;
};
X264Settings mapX264Preset(const QString& name);

// Standard settings of a disc target.
struct DiscTarget {
    QString muxer;
    QString videoCodec;
    QString audioCodec;
    int width = 0;
    int height = 0;
    AVRational frameRate{0, 1};
    int64_t videoBitRate = 0;
    int64_t maxRate = 0;
    int64_t minRate = 0;
    int bufferSize = 0;
    int gopSize = 0;
    int64_t audioBitRate = 0;
    int sampleRate = 0;
    int channels = 0;
    int packetSize = 0;
    int64_t muxRate = 0;
    bool scanOffset = false;
};
// targetType 1 VCD, 2 SVCD, 3 DVD; norm 1 PAL, 2 NTSC, 0 chosen from sourceFrameRate
// (PAL when it is 25 or 50 fps or unknown, NTSC otherwise). False for targetType outside 1..3.
bool discTarget(int targetType, int norm, AVRational sourceFrameRate, DiscTarget* out);

// A picture converter (size and/or pixel format) that splits each picture over the machine's
// cores. Use it with sws_scale_frame(); sws_scale() would run on one core. Null on failure.
SwsPtr makeThreadedScaler(int srcW, int srcH, AVPixelFormat srcFmt, int dstW, int dstH,
                          AVPixelFormat dstFmt, int flags);

// The smallest rectangle holding every pixel where two pictures of width x height pixels,
// 3 bytes each, differ; empty when they are equal.
QRect differingBox(const uint8_t* a, qsizetype aStride, const uint8_t* b, qsizetype bStride,
                   int width, int height);

// "29.97" -> 30000/1001, "25" -> 25/1, "ntsc" -> 30000/1001; {0,0} when not a positive rate.
AVRational parseFrameRate(const QString& text);

// Splits "name=value" lines (also separated by ';') into pairs; blank lines are skipped and a
// line without "=" gets the value "1".
QList<QPair<QString, QString>> parseOptionLines(const QString& text);

} // namespace vorlin::media
