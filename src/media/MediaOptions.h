#pragma once

#include <QString>

#include <cstdint>

// Option records handed to the converter (TFFmpegVCL::AddTask and SetOutputFile). Plain
// values, copied by the converter when a task is registered; the caller keeps ownership of
// its own records. A default-constructed record is the converter's reset state: every text
// empty, every number -1, every switch off, TargetType and TargetNorm 0.

// Describes one source file of a task.
struct TInputOptions {
    // Full path of the source file.
    QString InputFileName;
    // Demuxer name to use instead of probing ("mov", "mpegts" ...); empty probes the file.
    QString ForcedFormat;
    // Position in the source, in microseconds, where conversion begins; <= 0 starts at the
    // beginning. The cut is frame accurate: the output's first frame is the first frame at
    // or after this time, and output timestamps start at 0.
    int64_t StartTime = -1;
    // Lines "name=value", one option each, applied to the input. "vn=1", "an=1" and "sn=1"
    // leave the source's video, audio or subtitle streams unread; "itsoffset=<seconds>" shifts
    // the input's timestamps; any other name is handed to the demuxer and the decoders, and a
    // name neither of them knows fails the task with "Unrecognized option '<name>'".
    QString ExtraOptions;

    void Reset() { *this = TInputOptions{}; }
};

// Describes the output of a task.
struct TOutputOptions {
    // Full path of the output file.
    QString OutputFileName;
    // Muxer name ("mp4", "avi", "ipod", "vcd", "dvd" ...); empty chooses by the output file's
    // extension (or by the disc target).
    QString ContainerFormat;

    // --- audio ---
    // Encoder name; empty uses the container's default audio encoder. Legacy names are mapped
    // ("libfaac" -> "aac", "vorbis" -> "libvorbis" when present).
    QString AudioCodec;
    // The output gets no audio stream.
    bool AudioDisabled = false;
    // Volume on a scale where 256 leaves the level unchanged (512 doubles it); -1 unset.
    int32_t AudioVolume = -1;
    // Channel count; -1 keeps the source's.
    int32_t AudioChannels = -1;
    // Sample rate in Hz; -1 keeps the source's (or the nearest one the encoder supports).
    int32_t AudioSampleRate = -1;
    // Bit rate in bit/s; -1 leaves the encoder's default.
    int32_t AudioBitRate = -1;

    // --- video ---
    // Encoder name; empty uses the container's default video encoder.
    QString VideoCodec;
    // x264 preset: a speed preset ("ultrafast" ... "placebo") or one of the legacy names
    // "libx264-ipod", "libx264-psp", "libx264-ps3", "libx264-mp4", which become the matching
    // x264 profile and level. Ignored by other encoders.
    QString VideoPreset;
    // The output gets no video stream.
    bool VideoDisabled = false;
    // Output frame rate as decimal text ("25", "29.97"); empty keeps the source's timing
    // (variable frame rates stay variable where the container allows it).
    QString FrameRate;
    // Output frame size "WxH"; empty keeps the (cropped) source size.
    QString FrameSize;
    // Display aspect ratio "W:H" of the picture at FrameSize (that is, after the bands and the
    // scaling, before VideoFilters); empty unset. Filters that only add borders (pad) keep the
    // pixel shape, so a letterboxed picture still displays undistorted.
    QString AspectRatio;
    // Pixels cut off each side of the source picture before any scaling; -1 or 0 = none.
    int32_t BandTop = -1;
    int32_t BandBottom = -1;
    int32_t BandLeft = -1;
    int32_t BandRight = -1;
    // Bit rate in bit/s; -1 leaves the encoder's default.
    int32_t VideoBitRate = -1;
    // FFmpeg filter chain ("pad=320:240:0:30,..."), applied after the bands and after the
    // scaling to FrameSize.
    QString VideoFilters;

    // The output gets no subtitle stream (the converter never writes subtitles; kept for
    // callers that set it).
    bool SubtitleDisabled = false;

    // Disc target: 0 none, 1 VCD, 2 SVCD, 3 DVD. The disc's standard settings (codecs, size,
    // rate, bit rates, muxer) are applied first; every field set above overrides them.
    int32_t TargetType = 0;
    // Norm of the target: 0 automatic (from the source's frame rate), 1 PAL, 2 NTSC.
    int32_t TargetNorm = 0;

    // Length of output to write, in microseconds from StartTime; <= 0 converts to the end.
    int64_t RecordingTime = -1;
    // When on, OnCustomHook is called for every video frame of this task.
    bool CustomHook = false;

    void Reset() { *this = TOutputOptions{}; }
};
