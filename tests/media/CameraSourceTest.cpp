// Properties of real camera and phone files: rotation tags, streams that start at different
// times, variable frame rates, 10-bit and 4:2:2 pictures.
#include "MediaTestSupport.h"

#include "media/FFmpegVCL.h"
#include "support/Fixtures.h"

#include <QJsonArray>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <mutex>

using namespace vorlin::test;

namespace {

bool isRed(QRgb c) {
    return qRed(c) > 180 && qGreen(c) < 80 && qBlue(c) < 80;
}

// Where the red block of the rotated fixture is in an upright picture: the ffmpeg command's
// own autorotation decides.
QPoint redCorner(const QImage& img) {
    const int m = 8;
    for (QPoint p : {QPoint(m, m), QPoint(img.width() - m, m), QPoint(m, img.height() - m),
                     QPoint(img.width() - m, img.height() - m)})
        if (isRed(img.pixel(p)))
            return p;
    return {-1, -1};
}

TEST(CameraSource, RotationIsAppliedBeforeEverythingElse) {
    const QString source = rotatedMov();
    const QImage upright = decodeFrame(source); // the ffmpeg command turns it
    ASSERT_EQ(upright.size(), QSize(120, 160));
    const QPoint corner = redCorner(upright);
    ASSERT_NE(corner, QPoint(-1, -1));

    TFFmpegVCL vcl;
    std::mutex mutex;
    QImage seenByHook;
    vcl.OnCustomHook = [&](PHookInfo& info) {
        std::lock_guard lock(mutex);
        if (seenByHook.isNull())
            seenByHook = info.Bitmap.copy();
    };
    TOutputOptions plain = x264Output("rotated.mp4");
    TOutputOptions hooked = x264Output("rotated-hooked.mp4");
    hooked.CustomHook = true;
    // Bands count on the upright picture: cut its top 40 rows.
    TOutputOptions banded = x264Output("rotated-banded.mp4");
    banded.BandTop = 40;
    addTask(vcl, source, plain);
    addTask(vcl, source, hooked);
    addTask(vcl, source, banded);
    const RunLog log = runConverter(vcl);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(log.terminateOf(i).Finished) << log.terminateOf(i).ExceptionMsg.toStdString();

    for (const QString& file : {plain.OutputFileName, hooked.OutputFileName}) {
        const QJsonObject v = ffprobeStream(ffprobe(file), "video");
        EXPECT_EQ(v.value("width").toInt(), 120);
        EXPECT_EQ(v.value("height").toInt(), 160);
        EXPECT_TRUE(v.value("side_data_list").toArray().isEmpty()) << "no rotation tag is left";
        const QImage out = decodeFrame(file);
        EXPECT_LT(meanDifference(out, upright), 8.0) << file.toStdString();
        EXPECT_EQ(redCorner(out), corner);
    }
    ASSERT_EQ(seenByHook.size(), QSize(120, 160));
    EXPECT_EQ(redCorner(seenByHook.convertToFormat(QImage::Format_RGB888)), corner);

    const QImage cut = decodeFrame(banded.OutputFileName);
    ASSERT_EQ(cut.size(), QSize(120, 120));
    EXPECT_LT(meanDifference(cut, upright.copy(0, 40, 120, 120)), 8.0);
}

TEST(CameraSource, StreamsStartingAtDifferentTimesStayInSync) {
    // The video starts half a second after the sound, as with a camera's edit list.
    const QString late = fixture("late-video-passthrough.mov",
                                 {"-itsoffset", "0.5",
                                  "-f",         "lavfi",
                                  "-i",         "testsrc2=size=160x120:rate=25:duration=1.5",
                                  "-f",         "lavfi",
                                  "-i",         "sine=frequency=440:sample_rate=44100:duration=2",
                                  "-vsync",     "passthrough",
                                  "-c:v",       "libx264",
                                  "-preset",    "ultrafast",
                                  "-c:a",       "aac",
                                  "-f",         "mov"});
    const QJsonObject src = ffprobe(late);
    const double srcGap = probeNumber(ffprobeStream(src, "video"), "start_time") -
                          probeNumber(ffprobeStream(src, "audio"), "start_time");
    ASSERT_NEAR(srcGap, 0.5, 0.03);

    TFFmpegVCL vcl;
    TOutputOptions mp4 = x264Output("late.mp4");
    TOutputOptions mkv = x264Output("late.mkv");
    addTask(vcl, late, mp4);
    addTask(vcl, late, mkv);
    const RunLog log = runConverter(vcl);
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(log.terminateOf(i).Finished) << log.terminateOf(i).ExceptionMsg.toStdString();
        const QJsonObject out = ffprobe(i == 0 ? mp4.OutputFileName : mkv.OutputFileName);
        const double gap = probeNumber(ffprobeStream(out, "video"), "start_time") -
                           probeNumber(ffprobeStream(out, "audio"), "start_time");
        EXPECT_NEAR(gap, srcGap, 0.041) << "within one frame";
    }
}

TEST(CameraSource, VariableFrameRateKeepsItsTiming) {
    // 25 fps with frames 10 to 29 missing: a 0.8 s hold, as a phone writes when nothing moves.
    const QString vfr =
        fixture("vfr-gap.mov", {"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25:duration=2",
                                "-vf", "select='not(between(n\\,10\\,29))'", "-vsync", "vfr",
                                "-c:v", "libx264", "-preset", "ultrafast", "-f", "mov"});
    ASSERT_EQ(ffprobeStream(ffprobe(vfr), "video").value("nb_frames").toString(), "30");

    TFFmpegVCL vcl;
    TOutputOptions mkv = x264Output("vfr.mkv"); // takes the frames' own times
    TOutputOptions mp4 = x264Output("vfr.mp4"); // a constant clock: the hold is repeated frames
    addTask(vcl, vfr, mkv);
    addTask(vcl, vfr, mp4);
    const RunLog log = runConverter(vcl);
    ASSERT_TRUE(log.terminateOf(0).Finished) << log.terminateOf(0).ExceptionMsg.toStdString();
    ASSERT_TRUE(log.terminateOf(1).Finished) << log.terminateOf(1).ExceptionMsg.toStdString();

    QByteArray times;
    ASSERT_EQ(runProgram("ffprobe",
                         {"-v", "error", "-select_streams", "v", "-show_entries", "packet=pts_time",
                          "-of", "csv=p=0", mkv.OutputFileName},
                         &times),
              0);
    QList<double> pts;
    for (const QByteArray& line : times.split('\n'))
        if (!line.trimmed().isEmpty())
            pts << line.trimmed().toDouble();
    std::sort(pts.begin(), pts.end());
    ASSERT_EQ(pts.size(), 30);
    EXPECT_NEAR(pts[9], 0.36, 0.002);
    EXPECT_NEAR(pts[10], 1.20, 0.002) << "the hold is kept";

    const QJsonObject v = ffprobeStream(ffprobe(mp4.OutputFileName), "video");
    EXPECT_NEAR(probeNumber(v, "duration"), 2.0, 0.041);
    // On the constant clock, the frame at 1.2 s is still the source's frame from 1.2 s.
    EXPECT_LT(meanDifference(decodeFrame(mp4.OutputFileName, 30), decodeFrame(vfr, 10)), 6.0);
    EXPECT_LT(meanDifference(decodeFrame(mp4.OutputFileName, 20), decodeFrame(vfr, 9)), 6.0);
}

TEST(CameraSource, TenBitAndFourTwoTwoSources) {
    const QString prores =
        fixture("prores-422-10bit.mov",
                {"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25:duration=1", "-pix_fmt",
                 "yuv422p10le", "-c:v", "prores_ks", "-profile:v", "2", "-f", "mov"});
    const QString mpeg2 = fixture(
        "mpeg2-422.mov", {"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25:duration=1",
                          "-pix_fmt", "yuv422p", "-c:v", "mpeg2video", "-q:v", "2", "-f", "mov"});
    ASSERT_EQ(ffprobeStream(ffprobe(prores), "video").value("pix_fmt").toString(), "yuv422p10le");

    TFFmpegVCL vcl;
    struct Case {
        QString source;
        TOutputOptions out;
        const char* pixFmt;
    };
    std::vector<Case> cases;
    cases.push_back({prores, x264Output("prores.mp4"), "yuv420p"});
    TOutputOptions avi;
    avi.OutputFileName = outputPath("prores.avi");
    avi.VideoCodec = "mpeg4";
    cases.push_back({prores, avi, "yuv420p"});
    cases.push_back({mpeg2, x264Output("mpeg2.mp4"), "yuv420p"});
    TOutputOptions dv;
    dv.OutputFileName = outputPath("prores.dv");
    dv.VideoCodec = "dvvideo";
    dv.FrameSize = "720x576";
    dv.FrameRate = "25";
    dv.AudioDisabled = true;
    cases.push_back({prores, dv, "yuv422p"}); // 4:2:2 DV at 50 Mbit/s
    for (const Case& c : cases)
        addTask(vcl, c.source, c.out);
    const RunLog log = runConverter(vcl);
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.out.OutputFileName.toStdString());
        ASSERT_TRUE(log.terminateOf(int(i)).Finished)
            << log.terminateOf(int(i)).ExceptionMsg.toStdString();
        const QJsonObject v = ffprobeStream(ffprobe(c.out.OutputFileName), "video");
        EXPECT_EQ(v.value("pix_fmt").toString(), c.pixFmt);
        if (c.out.FrameSize.isEmpty()) {
            EXPECT_LT(
                meanDifference(decodeFrame(c.out.OutputFileName, 3), decodeFrame(c.source, 3)),
                8.0);
        }
    }
}

} // namespace
