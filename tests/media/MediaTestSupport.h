#pragma once

#include "media/FFmpegVCL.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace vorlin::test {

// Everything one converter run reported, in arrival order.
struct RunLog {
    std::vector<PProgressInfo> progress;
    std::vector<TTerminateInfo> terminates; // the -1 notice included
    int previews = 0;
    QImage lastPreview;
    bool timedOut = false;
    // The notice of a task; a default one (TaskIndex -1, not finished) when none came.
    TTerminateInfo terminateOf(int task) const;
};

// Starts the converter and spins the event loop until the -1 notice (or the timeout).
RunLog runConverter(TFFmpegVCL& vcl, int timeoutMs = 90000);

// Registers one task with default input options plus the given ones; fails the test when
// the converter refuses it. Returns the task index.
int addTask(TFFmpegVCL& vcl, const QString& source, const TOutputOptions& out,
            const TInputOptions& in = TInputOptions());

// A path for an output file inside the test's temporary home.
QString outputPath(const QString& name);

// Output options for an H.264 file named `name` in the test's home, at an x264 speed preset.
TOutputOptions x264Output(const QString& name, const QString& preset = "ultrafast");

// The video frame number `index` of a file as RGB (decoded by the ffmpeg command); a null
// image when it cannot be read.
QImage decodeFrame(const QString& path, int index = 0);

// The audio of a file as mono 16-bit samples (decoded by the ffmpeg command).
std::vector<int16_t> decodeAudio(const QString& path, int sampleRate = 44100);
double rms(const std::vector<int16_t>& samples);

// Mean absolute difference of two same-sized images' RGB values (255 when sizes differ).
double meanDifference(const QImage& a, const QImage& b);

// Small fixtures shared by several tests.
QString smallMov();     // 320x240, 25 fps, 2 s, H.264 + AAC mono 44.1 kHz
QString shortMov();     // 160x120, 25 fps, 1 s, H.264 + AAC
QString longMov();      // 320x240, 25 fps, 30 s, for stopping and pausing
QString audioOnlyMov(); // AAC only, 1 s
QString rotatedMov();   // 160x120 stored with a red top-left block, tagged rotate=90

// ffprobe's numbers as doubles ("30000/1001" as a fraction).
double probeNumber(const QJsonObject& object, const QString& key);

} // namespace vorlin::test
