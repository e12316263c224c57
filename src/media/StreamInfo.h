#pragma once

#include <QString>

#include <cstdint>

// Stream and file information reported by TAVProbe. Plain values returned by copy.

// First-level facts about a file.
struct TFileStreamInfo {
    QString FileName;
    // Short demuxer name as FFmpeg reports it ("mov,mp4,m4a,3gp,3g2,mj2", "avi" ...).
    QString FormatName;
    QString FormatLongName;
    // Whole-file duration in microseconds; -1 when unknown.
    int64_t Duration = -1;
    // Start time of the earliest stream in microseconds; 0 when unknown.
    int64_t StartTime = 0;
    // Overall bit rate in bit/s; 0 when unknown.
    int64_t BitRate = 0;
    int32_t StreamCount = 0;
    int32_t VideoStreamCount = 0;
    int32_t AudioStreamCount = 0;
};

struct TVideoStreamInfo {
    // Stream index in the file; -1 for "no such video stream" (all other fields 0).
    int32_t StreamIndex = -1;
    QString CodecName;
    // The displayed size: for a stream with a 90 or 270 degree rotation tag, width and height
    // are those of the upright picture.
    int32_t Width = 0;
    int32_t Height = 0;
    // Size as stored in the file, before rotation.
    int32_t CodedWidth = 0;
    int32_t CodedHeight = 0;
    // Clockwise rotation, in degrees, that makes the stored picture upright (0, 90, 180, 270).
    int32_t Rotation = 0;
    // Bit rate in bit/s; 0 when unknown.
    int64_t BitRate = 0;
    // Average frame rate as a fraction; 0/1 when unknown.
    int32_t FrameRateNum = 0;
    int32_t FrameRateDen = 1;
    // Display aspect ratio of the displayed size; 0:1 when unknown.
    int32_t DisplayAspectNum = 0;
    int32_t DisplayAspectDen = 1;
    QString PixelFormat;
    // Stream duration in microseconds; -1 when unknown.
    int64_t Duration = -1;
};

struct TAudioStreamInfo {
    // Stream index in the file; -1 for "no such audio stream" (all other fields 0).
    int32_t StreamIndex = -1;
    QString CodecName;
    // Bit rate in bit/s; 0 when unknown.
    int64_t BitRate = 0;
    int32_t SampleRate = 0;
    int32_t Channels = 0;
    QString SampleFormat;
    // Stream duration in microseconds; -1 when unknown.
    int64_t Duration = -1;
};
