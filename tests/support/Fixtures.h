#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace vorlin::test {

// Returns the path of a media fixture made by the `ffmpeg` command with the given
// arguments (everything between "ffmpeg -y" and the output path). Fixtures are cached in
// the build tree by name, made once even when several test processes ask at once.
// Fails the calling test (and returns an empty string) when ffmpeg cannot make it.
QString fixture(const QString& name, const QStringList& ffmpegArgs);

// A QuickTime file of testsrc2 video (H.264) and a sine tone (AAC).
QString movFixture(const QString& name, int width, int height, double seconds, int fps = 25,
                   bool withAudio = true);

// ffprobe -show_format -show_streams as JSON; an empty object when ffprobe fails.
QJsonObject ffprobe(const QString& path);

// The first stream of the given codec_type ("video", "audio") in an ffprobe result.
QJsonObject ffprobeStream(const QJsonObject& probe, const QString& codecType);

// Number of streams of the given codec_type.
int ffprobeStreamCount(const QJsonObject& probe, const QString& codecType);

// Runs a program with arguments (no shell); returns its exit code, -1 when it did not run.
int runProgram(const QString& program, const QStringList& args, QByteArray* out = nullptr,
               int timeoutMs = 120000);

} // namespace vorlin::test
