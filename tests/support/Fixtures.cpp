#include "support/Fixtures.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLockFile>
#include <QProcess>
#include <gtest/gtest.h>

namespace vorlin::test {

int runProgram(const QString& program, const QStringList& args, QByteArray* out, int timeoutMs) {
    QProcess p;
    p.setProcessChannelMode(out ? QProcess::SeparateChannels : QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return -1;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (out)
        *out = p.readAllStandardOutput();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

QString fixture(const QString& name, const QStringList& ffmpegArgs) {
    const QString dir = QStringLiteral(VORLIN_FIXTURE_DIR);
    QDir().mkpath(dir);
    const QString path = dir + "/" + name;
    QLockFile lock(path + ".lock");
    lock.setStaleLockTime(0);
    if (!lock.lock()) {
        ADD_FAILURE() << "cannot lock fixture " << path.toStdString();
        return {};
    }
    if (QFileInfo(path).size() > 0)
        return path;
    // Made under a temporary name and renamed, so an interrupted run leaves no half file.
    const QString suffix = QFileInfo(name).suffix();
    const QString temp = dir + "/.part-" + QFileInfo(name).completeBaseName() + "." + suffix;
    QStringList args{"-y", "-hide_banner", "-loglevel", "error"};
    args << ffmpegArgs << temp;
    QByteArray log;
    const int rc = runProgram("ffmpeg", args, &log);
    if (rc != 0 || !QFile::rename(temp, path)) {
        QFile::remove(temp);
        ADD_FAILURE() << "ffmpeg could not make fixture " << name.toStdString() << ": "
                      << log.toStdString();
        return {};
    }
    return path;
}

QString movFixture(const QString& name, int width, int height, double seconds, int fps,
                   bool withAudio) {
    const QString dur = QString::number(seconds);
    QStringList args{"-f", "lavfi", "-i",
                     QString("testsrc2=size=%1x%2:rate=%3:duration=%4")
                         .arg(width)
                         .arg(height)
                         .arg(fps)
                         .arg(dur)};
    if (withAudio)
        args << "-f"
             << "lavfi"
             << "-i" << QString("sine=frequency=440:sample_rate=44100:duration=%1").arg(dur);
    args << "-c:v"
         << "libx264"
         << "-preset"
         << "ultrafast"
         << "-pix_fmt"
         << "yuv420p";
    if (withAudio)
        args << "-c:a"
             << "aac"
             << "-b:a"
             << "96k";
    args << "-f"
         << "mov";
    return fixture(name, args);
}

QJsonObject ffprobe(const QString& path) {
    QByteArray out;
    const int rc = runProgram(
        "ffprobe", {"-v", "error", "-print_format", "json", "-show_format", "-show_streams", path},
        &out);
    if (rc != 0)
        return {};
    return QJsonDocument::fromJson(out).object();
}

QJsonObject ffprobeStream(const QJsonObject& probe, const QString& codecType) {
    for (const auto& s : probe.value("streams").toArray()) {
        if (s.toObject().value("codec_type").toString() == codecType)
            return s.toObject();
    }
    return {};
}

int ffprobeStreamCount(const QJsonObject& probe, const QString& codecType) {
    int n = 0;
    for (const auto& s : probe.value("streams").toArray())
        n += s.toObject().value("codec_type").toString() == codecType ? 1 : 0;
    return n;
}

} // namespace vorlin::test
