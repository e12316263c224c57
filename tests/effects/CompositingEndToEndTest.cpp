// Real conversions with the compositor as the converter's frame hook; the outputs are decoded
// by the ffmpeg command, not by our own code.
#include "effects/FrameCompositing.h"
#include "media/FFmpegVCL.h"
#include "support/Fixtures.h"
#include "support/TestEnv.h"

#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QJsonObject>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace vorlin::effects {
namespace {

constexpr int kW = 320, kH = 240, kFps = 10, kSeconds = 4;

// Moving test pattern with its contrast lowered, so that colour passes have mid-tones to
// work on (the plain pattern is mostly at levels 0 and 255, which many passes keep).
QString source() {
    return test::fixture(
        "effects_midtones.mov",
        {"-f", "lavfi", "-i",
         QString("testsrc2=size=%1x%2:rate=%3:duration=%4,eq=contrast=0.6:saturation=0.7")
             .arg(kW)
             .arg(kH)
             .arg(kFps)
             .arg(kSeconds),
         "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"});
}

// All video frames of a file as 24-bit BGR, in decoding order, one per stored frame.
std::vector<QImage> decodeFrames(const QString& path, int width, int height) {
    QByteArray raw;
    const int rc = test::runProgram("ffmpeg",
                                    {"-v", "error", "-i", path, "-map", "0:v:0", "-fps_mode",
                                     "passthrough", "-f", "rawvideo", "-pix_fmt", "bgr24", "-"},
                                    &raw);
    EXPECT_EQ(rc, 0) << path.toStdString();
    std::vector<QImage> frames;
    const qsizetype size = qsizetype(width) * height * 3;
    for (qsizetype at = 0; at + size <= raw.size(); at += size) {
        QImage frame(width, height, QImage::Format_BGR888);
        for (int y = 0; y < height; ++y)
            std::memcpy(frame.scanLine(y), raw.constData() + at + y * width * 3, size_t(width) * 3);
        frames.push_back(frame);
    }
    return frames;
}

// Largest and mean absolute difference of the bytes of two frames inside an area.
struct Difference {
    int max = 0;
    double mean = 0;
};

Difference difference(const QImage& a, const QImage& b, const QRect& area,
                      const QList<QRect>& excluded = {}) {
    Difference d;
    int64_t sum = 0, count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            bool skip = false;
            for (const QRect& r : excluded)
                skip = skip || r.contains(x, y);
            if (skip)
                continue;
            const uchar* pa = a.constScanLine(y) + x * 3;
            const uchar* pb = b.constScanLine(y) + x * 3;
            for (int k = 0; k < 3; ++k) {
                const int diff = std::abs(int(pa[k]) - int(pb[k]));
                d.max = std::max(d.max, diff);
                sum += diff;
                ++count;
            }
        }
    }
    d.mean = count ? double(sum) / double(count) : 0.0;
    return d;
}

// Converts each job as one task of one converter run, every task hooked unless told otherwise;
// lossless FFV1, so that only what the hook drew tells the outputs apart.
struct HookedRun {
    std::vector<TlvFilesRecord> jobs;
    std::vector<bool> hooked;
    QStringList outputs;
    QStringList log;
    std::vector<TTerminateInfo> ends;

    void add(const TlvFilesRecord& job, bool hook = true) {
        jobs.push_back(job);
        hooked.push_back(hook);
    }

    void convert() {
        TFFmpegVCL converter;
        FrameCompositor compositor(
            [this](int task) -> const TlvFilesRecord* {
                return task >= 0 && task < int(jobs.size()) ? &jobs[size_t(task)] : nullptr;
            },
            [this](const QString& line) { log << line; });
        converter.OnCustomHook = [&compositor](PHookInfo& info) {
            compositor.CCAVCCustomHook(info);
        };
        for (size_t i = 0; i < jobs.size(); ++i) {
            TInputOptions in;
            in.InputFileName = source();
            const int task = converter.AddTask(in.InputFileName, in);
            ASSERT_EQ(task, int(i)) << converter.LastErrorMessage().toStdString();
            TOutputOptions out;
            out.OutputFileName = test::testHome() + QString("/out%1.mkv").arg(i);
            out.VideoCodec = "ffv1";
            out.AudioDisabled = true;
            out.CustomHook = hooked[i];
            ASSERT_EQ(converter.SetOutputFile(task, out.OutputFileName, out), 0)
                << converter.LastErrorMessage().toStdString();
            outputs << out.OutputFileName;
        }
        QEventLoop loop;
        QObject::connect(&converter, &TFFmpegVCL::OnTerminate, &loop, [&](const TTerminateInfo& t) {
            ends.push_back(t);
            if (t.TaskIndex < 0)
                loop.quit();
        });
        QTimer::singleShot(90000, &loop, &QEventLoop::quit);
        converter.StartTask(1);
        loop.exec();
        converter.OnCustomHook = nullptr;
        for (int i = 0; i < int(jobs.size()); ++i) {
            bool finished = false;
            for (const TTerminateInfo& t : ends)
                finished = finished || (t.TaskIndex == i && t.Finished);
            EXPECT_TRUE(finished) << "task " << i;
        }
    }

    std::vector<QImage> frames(int task) const { return decodeFrames(outputs[task], kW, kH); }
};

QString writePicture(const QString& name, QSize size, QColor color) {
    QImage picture(size, QImage::Format_RGB888);
    picture.fill(color);
    const QString path = test::testHome() + "/" + name;
    EXPECT_TRUE(picture.save(path, "BMP"));
    return path;
}

TEST(CompositingEndToEnd, ItemsChangeTheirAreaInTheirSecondsAndNothingElse) {
    const QRect textBox(20, 20, 120, 30);
    const QRect pictureBox(200, 150, 64, 48);

    TWmRec text;
    text.Kind = TWmRec::KindText;
    text.Text = "Vorlin";
    text.Font.Size = 14;
    text.Font.Color = Qt::white;
    text.HasBackColor = true;
    text.BackColor = QColor(0, 0, 255);
    text.TextLeft = textBox.x();
    text.TextTop = textBox.y();
    text.TextWidth = textBox.width();
    text.TextHeight = textBox.height();
    text.TextAlpha = 255;
    text.StartSec = 1;
    text.EndSec = 2;

    TWmRec picture;
    picture.Kind = TWmRec::KindImage;
    picture.ImagePath = writePicture("logo.bmp", pictureBox.size(), QColor(255, 128, 0));
    picture.ImageLeft = pictureBox.x();
    picture.ImageTop = pictureBox.y();
    picture.ImageAlpha = 255;
    picture.StartSec = 0;
    picture.EndSec = 0;

    HookedRun run;
    run.add(TlvFilesRecord{}); // hooked, nothing to draw: the reference
    TlvFilesRecord job;
    job.WmItems = {text, picture};
    run.add(job);
    run.convert();

    const std::vector<QImage> plain = run.frames(0);
    const std::vector<QImage> drawn = run.frames(1);
    ASSERT_EQ(plain.size(), size_t(kFps * kSeconds));
    ASSERT_EQ(drawn.size(), plain.size());

    // Chroma is stored at half resolution, so an edge may tint its neighbour pixel.
    const QRect frameRect(0, 0, kW, kH);
    const QList<QRect> nearItems{textBox.adjusted(-2, -2, 2, 2), pictureBox.adjusted(-2, -2, 2, 2)};
    for (size_t i = 0; i < drawn.size(); ++i) {
        const int second = int(i) / kFps;
        const Difference elsewhere = difference(drawn[i], plain[i], frameRect, nearItems);
        EXPECT_EQ(elsewhere.max, 0) << "frame " << i << " changed outside the items";

        const Difference inText = difference(drawn[i], plain[i], textBox.adjusted(2, 2, -2, -2));
        const Difference inPicture =
            difference(drawn[i], plain[i], pictureBox.adjusted(2, 2, -2, -2));
        if (second >= 1 && second <= 2)
            EXPECT_GT(inText.mean, 40) << "frame " << i << " lacks the text box";
        else
            EXPECT_EQ(inText.max, 0) << "frame " << i << " shows the text box";
        if (second == 0)
            EXPECT_GT(inPicture.mean, 40) << "frame " << i << " lacks the picture";
        else
            EXPECT_EQ(inPicture.max, 0) << "frame " << i << " shows the picture";
    }
    // The filled box holds its back colour around the letters.
    const QImage& boxed = drawn[15];
    const uchar* corner = boxed.constScanLine(textBox.bottom() - 2) + (textBox.right() - 2) * 3;
    EXPECT_GT(corner[0], 230); // blue
    EXPECT_LT(corner[1], 25);
    EXPECT_LT(corner[2], 25);
    EXPECT_TRUE(run.log.isEmpty());
}

TEST(CompositingEndToEnd, UnityColourValuesLeaveFramesAsTheUnhookedConversion) {
    TlvFilesRecord unity;
    unity.Brightness = 256;
    unity.Contrast = 0;
    unity.Saturation = 256;
    TlvFilesRecord brighter = unity;
    brighter.Brightness = 300;

    HookedRun run;
    run.add(TlvFilesRecord{}, false);
    run.add(unity);
    run.add(brighter);
    run.add(TlvFilesRecord{}); // hooked, nothing to draw
    run.convert();

    const std::vector<QImage> off = run.frames(0);
    const std::vector<QImage> same = run.frames(1);
    const std::vector<QImage> changed = run.frames(2);
    const std::vector<QImage> untouched = run.frames(3);
    ASSERT_EQ(off.size(), size_t(kFps * kSeconds));
    ASSERT_EQ(same.size(), off.size());
    ASSERT_EQ(changed.size(), off.size());
    ASSERT_EQ(untouched.size(), off.size());
    const QRect all(0, 0, kW, kH);
    for (size_t i = 0; i < off.size(); i += 7) {
        // Pixels the colour pass changes make the trip through 24-bit pictures and back:
        // chroma is resampled twice (about 1.7 levels on average) and the conversions darken
        // by about 2 levels. Frames the hook leaves alone go on exactly as decoded.
        const Difference noise = difference(same[i], off[i], all);
        EXPECT_LT(noise.mean, 3.0) << "frame " << i;
        EXPECT_LE(noise.max, 8) << "frame " << i;
        EXPECT_GT(difference(changed[i], off[i], all).mean, 10) << "frame " << i;
        EXPECT_EQ(difference(untouched[i], off[i], all).max, 0) << "frame " << i;
    }
}

TEST(CompositingEndToEnd, UnreadablePictureLeavesItsSecondsUntouchedAndTheTaskFinishes) {
    TWmRec picture;
    picture.Kind = TWmRec::KindImage;
    picture.ImagePath = test::testHome() + "/gone.bmp";
    picture.StartSec = 1;
    picture.EndSec = 1;
    TlvFilesRecord job;
    job.Exposure = 100;
    job.WmItems = {picture};

    HookedRun run;
    run.add(TlvFilesRecord{});
    run.add(job);
    run.convert();
    const std::vector<QImage> plain = run.frames(0);
    const std::vector<QImage> out = run.frames(1);
    ASSERT_EQ(out.size(), plain.size());
    ASSERT_EQ(out.size(), size_t(kFps * kSeconds));
    const QRect all(0, 0, kW, kH);
    for (size_t i = 0; i < out.size(); ++i) {
        const Difference d = difference(out[i], plain[i], all);
        if (int(i) / kFps == 1)
            EXPECT_EQ(d.max, 0) << "frame " << i;
        else
            EXPECT_GT(d.mean, 10) << "frame " << i << " lacks the exposure";
    }
    ASSERT_EQ(run.log.size(), 1);
    EXPECT_TRUE(run.log[0].contains("gone.bmp"));
}

#ifdef VORLIN_CONVERT_BINARY
// The batch command reads effects and items from its job file and draws them without a window.
TEST(CompositingEndToEnd, BatchCommandDrawsTheJobFilesItems) {
    const QString jobFile = test::testHome() + "/job.ini";
    {
        QFile f(jobFile);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[job]\n"
                "Exposure=0\n"
                "[wm0]\n"
                "Kind=0\n"
                "Text=Batch\n"
                "FontName=DejaVu Sans\n"
                "FontSize=12\n"
                "FontStyle=b\n"
                "FontColor=#ffffff\n"
                "BackColor=#0000ff\n"
                "HasBackColor=1\n"
                "TextLeft=40\n"
                "TextTop=40\n"
                "TextWidth=160\n"
                "TextHeight=120\n"
                "TextAlpha=255\n"
                "StartSec=1\n"
                "EndSec=2\n");
    }
    const QString outDir = test::testHome() + "/batch-out";
    QByteArray out;
    const int rc = test::runProgram(
        VORLIN_CONVERT_BINARY, {"--format", "0", "--outdir", outDir, "--job", jobFile, source()},
        &out, 120000);
    ASSERT_EQ(rc, 0) << out.toStdString();
    ASSERT_TRUE(out.startsWith("OK ")) << out.toStdString();
    const QString output = QString::fromLocal8Bit(out).section(" -> ", 1).trimmed();
    const QJsonObject video = test::ffprobeStream(test::ffprobe(output), "video");
    const int width = video.value("width").toInt();
    const int height = video.value("height").toInt();
    ASSERT_GT(width, 0);
    // The box in output pixels: the format scales the whole picture.
    const double sx = double(width) / kW, sy = double(height) / kH;
    const QRect inner(int(50 * sx), int(120 * sy), int(140 * sx), int(30 * sy));

    const auto frameAt = [&](const char* seconds) {
        QByteArray raw;
        test::runProgram("ffmpeg",
                         {"-v", "error", "-ss", seconds, "-i", output, "-frames:v", "1", "-f",
                          "rawvideo", "-pix_fmt", "bgr24", "-"},
                         &raw);
        QImage frame(width, height, QImage::Format_BGR888);
        if (raw.size() < qsizetype(width) * height * 3)
            return QImage();
        for (int y = 0; y < height; ++y)
            std::memcpy(frame.scanLine(y), raw.constData() + y * width * 3, size_t(width) * 3);
        return frame;
    };
    const auto meanColour = [&](const QImage& frame) {
        std::array<double, 3> sum{};
        for (int y = inner.top(); y <= inner.bottom(); ++y)
            for (int x = inner.left(); x <= inner.right(); ++x)
                for (int k = 0; k < 3; ++k)
                    sum[size_t(k)] += frame.constScanLine(y)[x * 3 + k];
        for (double& s : sum)
            s /= double(inner.width()) * inner.height();
        return sum;
    };
    const QImage before = frameAt("0.5");
    const QImage during = frameAt("1.5");
    const QImage after = frameAt("3.5");
    ASSERT_FALSE(before.isNull());
    ASSERT_FALSE(during.isNull());
    ASSERT_FALSE(after.isNull());
    const auto blue = [](const std::array<double, 3>& c) {
        return c[0] > 200 && c[1] < 50 && c[2] < 50;
    };
    EXPECT_FALSE(blue(meanColour(before)));
    EXPECT_TRUE(blue(meanColour(during)));
    EXPECT_FALSE(blue(meanColour(after)));
}
#endif

} // namespace
} // namespace vorlin::effects
