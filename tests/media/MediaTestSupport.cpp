#include "MediaTestSupport.h"

#include "support/Fixtures.h"
#include "support/TestEnv.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonObject>
#include <QTimer>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <utility>

namespace vorlin::test {

TTerminateInfo RunLog::terminateOf(int task) const {
    for (const auto& t : terminates)
        if (t.TaskIndex == task)
            return t;
    return TTerminateInfo{};
}

RunLog runConverter(TFFmpegVCL& vcl, int timeoutMs) {
    RunLog log;
    QEventLoop loop;
    bool done = false;
    const auto c1 = QObject::connect(&vcl, &TFFmpegVCL::OnProgress, &loop,
                                     [&](const PProgressInfo& p) { log.progress.push_back(p); });
    const auto c2 =
        QObject::connect(&vcl, &TFFmpegVCL::OnTerminate, &loop, [&](const TTerminateInfo& t) {
            log.terminates.push_back(t);
            if (t.TaskIndex == -1) {
                done = true;
                loop.quit();
            }
        });
    const auto c3 =
        QObject::connect(&vcl, &TFFmpegVCL::OnPreviewBitmap, &loop, [&](const TPreviewInfo& p) {
            ++log.previews;
            log.lastPreview = p.Bitmap;
        });
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        log.timedOut = true;
        loop.quit();
    });
    timer.start(timeoutMs);
    vcl.StartTask(1);
    if (!done)
        loop.exec();
    if (log.timedOut)
        vcl.StopAll(true);
    QObject::disconnect(c1);
    QObject::disconnect(c2);
    QObject::disconnect(c3);
    return log;
}

int addTask(TFFmpegVCL& vcl, const QString& source, const TOutputOptions& out,
            const TInputOptions& in) {
    TInputOptions input = in;
    input.InputFileName = source;
    const int index = vcl.AddTask(source, input);
    EXPECT_GE(index, 0) << vcl.LastErrorMessage().toStdString();
    if (index >= 0) {
        EXPECT_EQ(vcl.SetOutputFile(index, out.OutputFileName, out), 0)
            << vcl.LastErrorMessage().toStdString();
    }
    return index;
}

QString outputPath(const QString& name) {
    return testHome() + "/" + name;
}

TOutputOptions x264Output(const QString& name, const QString& preset) {
    TOutputOptions out;
    out.OutputFileName = outputPath(name);
    out.VideoCodec = "libx264";
    out.VideoPreset = preset;
    return out;
}

QImage decodeFrame(const QString& path, int index) {
    const QJsonObject video = ffprobeStream(ffprobe(path), "video");
    int w = video.value("width").toInt();
    int h = video.value("height").toInt();
    // The ffmpeg command turns pictures by their rotation tag.
    for (const auto& sd : video.value("side_data_list").toArray()) {
        const int rotation = std::abs(sd.toObject().value("rotation").toInt());
        if (rotation == 90 || rotation == 270)
            std::swap(w, h);
    }
    if (w <= 0 || h <= 0)
        return {};
    QByteArray raw;
    const int rc =
        runProgram("ffmpeg",
                   {"-v", "error", "-i", path, "-vf", QString("select=eq(n\\,%1)").arg(index),
                    "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"},
                   &raw);
    if (rc != 0 || raw.size() < w * h * 3)
        return {};
    QImage img(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
        std::memcpy(img.scanLine(y), raw.constData() + size_t(y) * w * 3, size_t(w) * 3);
    return img;
}

std::vector<int16_t> decodeAudio(const QString& path, int sampleRate) {
    QByteArray raw;
    const int rc = runProgram("ffmpeg",
                              {"-v", "error", "-i", path, "-vn", "-ac", "1", "-ar",
                               QString::number(sampleRate), "-f", "s16le", "-"},
                              &raw);
    std::vector<int16_t> samples;
    if (rc != 0)
        return samples;
    samples.resize(raw.size() / 2);
    std::memcpy(samples.data(), raw.constData(), samples.size() * 2);
    return samples;
}

double rms(const std::vector<int16_t>& samples) {
    if (samples.empty())
        return 0;
    double sum = 0;
    for (int16_t s : samples)
        sum += double(s) * s;
    return std::sqrt(sum / samples.size());
}

double meanDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull())
        return 255;
    const QImage x = a.convertToFormat(QImage::Format_RGB888);
    const QImage y = b.convertToFormat(QImage::Format_RGB888);
    double sum = 0;
    for (int r = 0; r < x.height(); ++r) {
        const uchar* p = x.constScanLine(r);
        const uchar* q = y.constScanLine(r);
        for (int i = 0; i < x.width() * 3; ++i)
            sum += std::abs(int(p[i]) - int(q[i]));
    }
    return sum / (double(x.width()) * x.height() * 3);
}

QString smallMov() {
    return movFixture("small-320x240-2s.mov", 320, 240, 2.0);
}
QString shortMov() {
    return movFixture("short-160x120-1s.mov", 160, 120, 1.0);
}
QString longMov() {
    return movFixture("long-320x240-30s.mov", 320, 240, 30.0);
}

QString audioOnlyMov() {
    return fixture("audio-only.mov", {"-f", "lavfi", "-i", "sine=frequency=440:duration=1", "-c:a",
                                      "aac", "-f", "mov"});
}

QString rotatedMov() {
    // A grey picture with a red block in its stored top-left corner, tagged rotate=90.
    const QString plain = fixture(
        "corner-160x120.mov",
        {"-f", "lavfi", "-i",
         "color=c=gray:s=160x120:r=25:d=1,drawbox=x=0:y=0:w=40:h=30:color=red:t=fill", "-c:v",
         "libx264", "-preset", "ultrafast", "-qp", "0", "-pix_fmt", "yuv420p", "-f", "mov"});
    return fixture("rotated-90.mov",
                   {"-i", plain, "-c", "copy", "-metadata:s:v:0", "rotate=90", "-f", "mov"});
}

double probeNumber(const QJsonObject& object, const QString& key) {
    const QJsonValue v = object.value(key);
    if (v.isDouble())
        return v.toDouble();
    const QString text = v.toString();
    const int slash = text.indexOf('/');
    if (slash > 0) {
        const double den = text.mid(slash + 1).toDouble();
        return den != 0 ? text.left(slash).toDouble() / den : 0;
    }
    return text.toDouble();
}

} // namespace vorlin::test
