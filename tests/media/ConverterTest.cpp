#include "MediaTestSupport.h"

#include "media/FFmpegVCL.h"
#include "support/Fixtures.h"
#include "support/TestEnv.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace vorlin::test;

namespace {

TEST(Converter, ConvertsWithTheAskedParameters) {
    TFFmpegVCL vcl;
    TOutputOptions out = x264Output("basic.mp4");
    out.FrameSize = "160x120";
    out.FrameRate = "15";
    out.AudioCodec = "aac";
    out.AudioSampleRate = 22050;
    out.AudioChannels = 2;
    out.AudioBitRate = 64000;
    out.VideoBitRate = 300000;
    ASSERT_EQ(addTask(vcl, smallMov(), out), 0);
    EXPECT_EQ(vcl.TaskCount(), 1);
    ASSERT_NE(vcl.InputProbe(0), nullptr);
    EXPECT_EQ(vcl.InputProbe(0)->ProbeVideoInfo(vcl.InputProbe(0)->FirstVideoStream()).Width, 320);

    const RunLog log = runConverter(vcl);
    ASSERT_FALSE(log.timedOut);
    ASSERT_EQ(log.terminates.size(), 2u);
    EXPECT_EQ(log.terminates[0].TaskIndex, 0);
    EXPECT_TRUE(log.terminates[0].Finished) << log.terminates[0].ExceptionMsg.toStdString();
    EXPECT_FALSE(log.terminates[0].Exception);
    EXPECT_EQ(log.terminates[1].TaskIndex, -1);
    EXPECT_FALSE(vcl.IsRunning());

    // Progress: the final notice reaches the total, which is the source's length.
    ASSERT_FALSE(log.progress.empty());
    const PProgressInfo& last = log.progress.back();
    EXPECT_EQ(last.TaskIndex, 0);
    EXPECT_NEAR(last.TotalDuration, 2000000, 50000);
    EXPECT_EQ(last.CurrentDuration, last.TotalDuration);
    EXPECT_EQ(last.CurrentSize, QFileInfo(out.OutputFileName).size());

    const QJsonObject probe = ffprobe(out.OutputFileName);
    EXPECT_TRUE(probe.value("format").toObject().value("format_name").toString().contains("mp4"));
    const QJsonObject v = ffprobeStream(probe, "video");
    const QJsonObject a = ffprobeStream(probe, "audio");
    EXPECT_EQ(v.value("codec_name").toString(), "h264");
    EXPECT_EQ(v.value("width").toInt(), 160);
    EXPECT_EQ(v.value("height").toInt(), 120);
    EXPECT_DOUBLE_EQ(probeNumber(v, "avg_frame_rate"), 15.0);
    EXPECT_EQ(v.value("pix_fmt").toString(), "yuv420p");
    EXPECT_EQ(a.value("codec_name").toString(), "aac");
    EXPECT_EQ(a.value("sample_rate").toString(), "22050");
    EXPECT_EQ(a.value("channels").toInt(), 2);
    EXPECT_NEAR(probeNumber(v, "duration"), 2.0, 1.0 / 15 + 0.001);
    EXPECT_NEAR(probeNumber(a, "duration"), 2.0, 0.05);
}

struct ContainerCase {
    const char* file;
    const char* container;
    const char* videoCodec;
    const char* audioCodec;
    const char* frameSize;
    const char* formatName;
    const char* expectVideo;
    const char* expectAudio;
};

TEST(Converter, ContainersAndCodecs) {
    const ContainerCase cases[] = {
        {"c.avi", "", "mpeg4", "libmp3lame", "", "avi", "mpeg4", "mp3"},
        {"c.flv", "flv", "", "", "", "flv", "flv1", "mp3"},
        {"c.3gp", "3gp", "h263", "aac", "176x144", "3gp", "h263", "aac"},
        {"c.mov", "", "", "", "", "mov", "h264", "aac"},
        {"c.ts", "mpegts", "mpeg2video", "mp2", "", "mpegts", "mpeg2video", "mp2"},
        {"c.wmv", "asf", "wmv2", "wmav2", "", "asf", "wmv2", "wmav2"},
    };
    TFFmpegVCL vcl;
    for (const auto& c : cases) {
        TOutputOptions out;
        out.OutputFileName = outputPath(c.file);
        out.ContainerFormat = c.container;
        out.VideoCodec = c.videoCodec;
        out.AudioCodec = c.audioCodec;
        out.FrameSize = c.frameSize;
        out.VideoPreset = "ultrafast";
        addTask(vcl, shortMov(), out);
    }
    const RunLog log = runConverter(vcl);
    ASSERT_FALSE(log.timedOut);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.file);
        const TTerminateInfo t = log.terminateOf(static_cast<int>(i));
        EXPECT_TRUE(t.Finished) << t.ExceptionMsg.toStdString();
        const QJsonObject probe = ffprobe(outputPath(c.file));
        EXPECT_TRUE(
            probe.value("format").toObject().value("format_name").toString().contains(c.formatName))
            << probe.value("format").toObject().value("format_name").toString().toStdString();
        EXPECT_EQ(ffprobeStream(probe, "video").value("codec_name").toString(), c.expectVideo);
        EXPECT_EQ(ffprobeStream(probe, "audio").value("codec_name").toString(), c.expectAudio);
        EXPECT_NEAR(probeNumber(probe.value("format").toObject(), "duration"), 1.0, 0.1);
    }
}

TEST(Converter, StartTimeAndRecordingTime) {
    TFFmpegVCL vcl;
    TOutputOptions out = x264Output("cut.mp4");
    out.RecordingTime = 1000000;
    TInputOptions in;
    in.StartTime = 600000;
    addTask(vcl, smallMov(), out, in);
    const RunLog log = runConverter(vcl);
    ASSERT_TRUE(log.terminateOf(0).Finished) << log.terminateOf(0).ExceptionMsg.toStdString();
    ASSERT_FALSE(log.progress.empty());
    EXPECT_EQ(log.progress.back().TotalDuration, 1000000);

    const QJsonObject probe = ffprobe(out.OutputFileName);
    const QJsonObject v = ffprobeStream(probe, "video");
    EXPECT_NEAR(probeNumber(v, "duration"), 1.0, 0.04 + 0.001);
    EXPECT_EQ(v.value("nb_frames").toString(), "25");
    EXPECT_NEAR(probeNumber(ffprobeStream(probe, "audio"), "duration"), 1.0, 0.05);

    // The first output frame is the source's frame at 0.6 s (frame 15), not its first.
    const QImage first = decodeFrame(out.OutputFileName, 0);
    const QImage at15 = decodeFrame(smallMov(), 15);
    const QImage at0 = decodeFrame(smallMov(), 0);
    ASSERT_FALSE(first.isNull());
    EXPECT_LT(meanDifference(first, at15), 6.0);
    EXPECT_GT(meanDifference(first, at0), 10.0);
}

// A lossless source whose edges are coloured stripes: red top 10 rows, green bottom 20,
// blue left 30 columns, yellow right 40; white inside.
QString stripedMov() {
    return fixture("striped-160x120-444.mov", {"-f", "lavfi", "-i",
                                               "color=c=white:s=160x120:r=25:d=1,format=yuv444p,"
                                               "drawbox=x=0:y=0:w=160:h=10:color=red:t=fill,"
                                               "drawbox=x=0:y=100:w=160:h=20:color=lime:t=fill,"
                                               "drawbox=x=0:y=0:w=30:h=120:color=blue:t=fill,"
                                               "drawbox=x=120:y=0:w=40:h=120:color=yellow:t=fill",
                                               "-c:v", "libx264", "-preset", "ultrafast", "-qp",
                                               "0", "-pix_fmt", "yuv444p", "-f", "mov"});
}

bool near(QRgb c, int r, int g, int b, int tolerance = 24) {
    return std::abs(qRed(c) - r) <= tolerance && std::abs(qGreen(c) - g) <= tolerance &&
           std::abs(qBlue(c) - b) <= tolerance;
}

TEST(Converter, BandsCutExactlyBeforeScaling) {
    TFFmpegVCL vcl;
    TOutputOptions cut;
    cut.OutputFileName = outputPath("bands.avi");
    cut.VideoCodec = "huffyuv";
    cut.BandTop = 10;
    cut.BandBottom = 20;
    cut.BandLeft = 30;
    cut.BandRight = 40;
    addTask(vcl, stripedMov(), cut);
    TOutputOptions scaled = cut;
    scaled.OutputFileName = outputPath("bands-scaled.avi");
    scaled.FrameSize = "180x180";
    addTask(vcl, stripedMov(), scaled);
    const RunLog log = runConverter(vcl);
    ASSERT_TRUE(log.terminateOf(0).Finished) << log.terminateOf(0).ExceptionMsg.toStdString();
    ASSERT_TRUE(log.terminateOf(1).Finished) << log.terminateOf(1).ExceptionMsg.toStdString();

    const QImage img = decodeFrame(cut.OutputFileName);
    ASSERT_EQ(img.size(), QSize(90, 90));
    // Every edge pixel is from the white inside: nothing of a stripe is left.
    for (int i = 0; i < 90; ++i) {
        for (QPoint p : {QPoint(i, 0), QPoint(i, 89), QPoint(0, i), QPoint(89, i)})
            ASSERT_TRUE(near(img.pixel(p), 255, 255, 255)) << p.x() << "," << p.y();
    }
    const QImage big = decodeFrame(scaled.OutputFileName);
    ASSERT_EQ(big.size(), QSize(180, 180));
    for (QPoint p : {QPoint(1, 1), QPoint(178, 178), QPoint(90, 1), QPoint(1, 90)})
        EXPECT_TRUE(near(big.pixel(p), 255, 255, 255)) << p.x() << "," << p.y();
}

TEST(Converter, LetterboxBarsWhereTheChainPutsThem) {
    const QString white =
        fixture("white-160x120.mov",
                {"-f", "lavfi", "-i", "color=c=white:s=160x120:r=25:d=1", "-c:v", "libx264",
                 "-preset", "ultrafast", "-qp", "0", "-pix_fmt", "yuv420p", "-f", "mov"});
    TFFmpegVCL vcl;
    TOutputOptions out;
    out.OutputFileName = outputPath("lbox.avi");
    out.VideoCodec = "huffyuv";
    out.FrameSize = "160x90";
    out.AspectRatio = "160:90";
    out.VideoFilters = "pad=160:120:0:16";
    addTask(vcl, white, out);
    const RunLog log = runConverter(vcl);
    ASSERT_TRUE(log.terminateOf(0).Finished) << log.terminateOf(0).ExceptionMsg.toStdString();

    const QJsonObject v = ffprobeStream(ffprobe(out.OutputFileName), "video");
    EXPECT_EQ(v.value("width").toInt(), 160);
    EXPECT_EQ(v.value("height").toInt(), 120);
    // The aspect belongs to the 160x90 picture, so the padded frame keeps square pixels.
    const QString dar = v.value("display_aspect_ratio").toString();
    EXPECT_TRUE(dar == "4:3" || dar.isEmpty()) << dar.toStdString();

    const QImage img = decodeFrame(out.OutputFileName);
    ASSERT_EQ(img.size(), QSize(160, 120));
    for (int x = 0; x < 160; x += 7) {
        EXPECT_TRUE(near(img.pixel(x, 15), 0, 0, 0, 8)) << "row 15 is bar, x " << x;
        EXPECT_TRUE(near(img.pixel(x, 16), 255, 255, 255, 8)) << "row 16 is picture, x " << x;
        EXPECT_TRUE(near(img.pixel(x, 105), 255, 255, 255, 8)) << "row 105 is picture, x " << x;
        EXPECT_TRUE(near(img.pixel(x, 106), 0, 0, 0, 8)) << "row 106 is bar, x " << x;
    }
}

TEST(Converter, DisplayAspectRatio) {
    TFFmpegVCL vcl;
    TOutputOptions out = x264Output("aspect.mp4");
    out.FrameSize = "160x120";
    out.AspectRatio = "16:9";
    addTask(vcl, shortMov(), out);
    const RunLog log = runConverter(vcl);
    ASSERT_TRUE(log.terminateOf(0).Finished) << log.terminateOf(0).ExceptionMsg.toStdString();
    const QJsonObject v = ffprobeStream(ffprobe(out.OutputFileName), "video");
    EXPECT_EQ(v.value("display_aspect_ratio").toString(), "16:9");
    EXPECT_EQ(v.value("sample_aspect_ratio").toString(), "4:3");
}

TEST(Converter, VolumeOnThe256Scale) {
    TFFmpegVCL vcl;
    TOutputOptions plain;
    plain.OutputFileName = outputPath("plain.wav");
    plain.AudioCodec = "pcm_s16le";
    TOutputOptions loud = plain;
    loud.OutputFileName = outputPath("loud.wav");
    loud.AudioVolume = 512;
    TOutputOptions same = plain;
    same.OutputFileName = outputPath("same.wav");
    same.AudioVolume = 256;
    addTask(vcl, smallMov(), plain);
    addTask(vcl, smallMov(), loud);
    addTask(vcl, smallMov(), same);
    const RunLog log = runConverter(vcl);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(log.terminateOf(i).Finished) << log.terminateOf(i).ExceptionMsg.toStdString();
    const double base = rms(decodeAudio(plain.OutputFileName));
    ASSERT_GT(base, 1000);
    EXPECT_NEAR(rms(decodeAudio(loud.OutputFileName)) / base, 2.0, 0.02);
    EXPECT_NEAR(rms(decodeAudio(same.OutputFileName)) / base, 1.0, 0.01);
    // A wav output gets no video stream: the container takes none.
    EXPECT_EQ(ffprobeStreamCount(ffprobe(plain.OutputFileName), "video"), 0);
}

TEST(Converter, AudioOnlyOutput) {
    TFFmpegVCL vcl;
    TOutputOptions out;
    out.OutputFileName = outputPath("audio.mp3");
    out.AudioCodec = "libmp3lame";
    out.AudioChannels = 2;
    out.AudioSampleRate = 44100;
    out.AudioBitRate = 128000;
    out.VideoDisabled = true;
    out.SubtitleDisabled = true;
    TInputOptions in;
    in.ExtraOptions = "vn=1";
    addTask(vcl, smallMov(), out, in);
    // The same into .m4a with only the video switch.
    TOutputOptions m4a;
    m4a.OutputFileName = outputPath("audio.m4a");
    m4a.VideoDisabled = true;
    addTask(vcl, smallMov(), m4a);
    const RunLog log = runConverter(vcl);
    ASSERT_TRUE(log.terminateOf(0).Finished) << log.terminateOf(0).ExceptionMsg.toStdString();
    ASSERT_TRUE(log.terminateOf(1).Finished) << log.terminateOf(1).ExceptionMsg.toStdString();
    const QJsonObject probe = ffprobe(out.OutputFileName);
    EXPECT_EQ(ffprobeStreamCount(probe, "video"), 0);
    const QJsonObject a = ffprobeStream(probe, "audio");
    EXPECT_EQ(a.value("codec_name").toString(), "mp3");
    EXPECT_EQ(a.value("channels").toInt(), 2);
    EXPECT_EQ(a.value("bit_rate").toString(), "128000");
    EXPECT_NEAR(probeNumber(probe.value("format").toObject(), "duration"), 2.0, 0.1);
    const QJsonObject p2 = ffprobe(m4a.OutputFileName);
    EXPECT_EQ(ffprobeStreamCount(p2, "video"), 0);
    EXPECT_EQ(ffprobeStreamCount(p2, "audio"), 1);
}

TEST(Converter, ExtraOptionsDisableStreams) {
    TFFmpegVCL vcl;
    TOutputOptions out = x264Output("noaudio.mp4");
    TInputOptions in;
    in.ExtraOptions = "an=1\n";
    addTask(vcl, shortMov(), out, in);
    TOutputOptions bad = x264Output("badopt.mp4");
    TInputOptions badIn;
    badIn.ExtraOptions = "nosuchoption=3";
    addTask(vcl, shortMov(), bad, badIn);
    const RunLog log = runConverter(vcl);
    ASSERT_TRUE(log.terminateOf(0).Finished) << log.terminateOf(0).ExceptionMsg.toStdString();
    const QJsonObject probe = ffprobe(out.OutputFileName);
    EXPECT_EQ(ffprobeStreamCount(probe, "audio"), 0);
    EXPECT_EQ(ffprobeStreamCount(probe, "video"), 1);
    EXPECT_FALSE(log.terminateOf(1).Finished);
    EXPECT_TRUE(log.terminateOf(1).ExceptionMsg.contains("nosuchoption"))
        << log.terminateOf(1).ExceptionMsg.toStdString();
}

struct TargetCase {
    int type;
    int norm;
    const char* videoCodec;
    int width;
    int height;
    double fps;
    const char* audioCodec;
    int sampleRate;
    const char* formatName;
};

TEST(Converter, DiscTargetsGiveStandardParameters) {
    const TargetCase cases[] = {
        {3, 1, "mpeg2video", 720, 576, 25.0, "ac3", 48000, "mpeg"},
        {3, 2, "mpeg2video", 720, 480, 30000.0 / 1001, "ac3", 48000, "mpeg"},
        {1, 1, "mpeg1video", 352, 288, 25.0, "mp2", 44100, "mpeg"},
        {1, 2, "mpeg1video", 352, 240, 30000.0 / 1001, "mp2", 44100, "mpeg"},
        {2, 1, "mpeg2video", 480, 576, 25.0, "mp2", 44100, "mpeg"},
        {2, 2, "mpeg2video", 480, 480, 30000.0 / 1001, "mp2", 44100, "mpeg"},
        {3, 0, "mpeg2video", 720, 576, 25.0, "ac3", 48000, "mpeg"}, // 25 fps source: PAL
    };
    TFFmpegVCL vcl;
    int i = 0;
    for (const auto& c : cases) {
        TOutputOptions out;
        out.OutputFileName = outputPath(QString("target%1.mpg").arg(i++));
        out.TargetType = c.type;
        out.TargetNorm = c.norm;
        addTask(vcl, shortMov(), out);
    }
    // Fields set beside a target override its standard settings.
    TOutputOptions custom;
    custom.OutputFileName = outputPath("target-custom.mpg");
    custom.TargetType = 3;
    custom.TargetNorm = 1;
    custom.FrameSize = "352x288";
    custom.AudioCodec = "mp2";
    custom.AudioSampleRate = 44100;
    addTask(vcl, shortMov(), custom);

    const RunLog log = runConverter(vcl);
    ASSERT_FALSE(log.timedOut);
    for (size_t k = 0; k < std::size(cases); ++k) {
        const auto& c = cases[k];
        SCOPED_TRACE(QString("target %1 norm %2").arg(c.type).arg(c.norm).toStdString());
        ASSERT_TRUE(log.terminateOf(int(k)).Finished)
            << log.terminateOf(int(k)).ExceptionMsg.toStdString();
        const QJsonObject probe = ffprobe(outputPath(QString("target%1.mpg").arg(k)));
        EXPECT_TRUE(probe.value("format")
                        .toObject()
                        .value("format_name")
                        .toString()
                        .contains(c.formatName));
        const QJsonObject v = ffprobeStream(probe, "video");
        const QJsonObject a = ffprobeStream(probe, "audio");
        EXPECT_EQ(v.value("codec_name").toString(), c.videoCodec);
        EXPECT_EQ(v.value("width").toInt(), c.width);
        EXPECT_EQ(v.value("height").toInt(), c.height);
        EXPECT_NEAR(probeNumber(v, "r_frame_rate"), c.fps, 0.001);
        EXPECT_EQ(a.value("codec_name").toString(), c.audioCodec);
        EXPECT_EQ(a.value("sample_rate").toString(), QString::number(c.sampleRate));
        EXPECT_EQ(a.value("channels").toInt(), 2);
    }
    const int k = int(std::size(cases));
    ASSERT_TRUE(log.terminateOf(k).Finished) << log.terminateOf(k).ExceptionMsg.toStdString();
    const QJsonObject probe = ffprobe(custom.OutputFileName);
    EXPECT_EQ(ffprobeStream(probe, "video").value("codec_name").toString(), "mpeg2video");
    EXPECT_EQ(ffprobeStream(probe, "video").value("width").toInt(), 352);
    EXPECT_EQ(ffprobeStream(probe, "audio").value("codec_name").toString(), "mp2");
    EXPECT_EQ(ffprobeStream(probe, "audio").value("sample_rate").toString(), "44100");
}

TEST(Converter, LegacyNamesAreMapped) {
    TFFmpegVCL vcl;
    TOutputOptions faac = x264Output("faac.mp4");
    faac.AudioCodec = "libfaac";
    faac.VideoPreset = "libx264-ipod";
    faac.FrameSize = "160x120";
    TOutputOptions vorbis;
    vorbis.OutputFileName = outputPath("vorbis.ogg");
    vorbis.AudioCodec = "vorbis";
    vorbis.VideoDisabled = true;
    TOutputOptions psp = x264Output("psp.mp4");
    psp.VideoPreset = "libx264-psp";
    psp.FrameSize = "160x120";
    addTask(vcl, shortMov(), faac);
    addTask(vcl, shortMov(), vorbis);
    addTask(vcl, shortMov(), psp);
    const RunLog log = runConverter(vcl);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(log.terminateOf(i).Finished) << log.terminateOf(i).ExceptionMsg.toStdString();
    const QJsonObject p0 = ffprobe(faac.OutputFileName);
    EXPECT_EQ(ffprobeStream(p0, "audio").value("codec_name").toString(), "aac");
    EXPECT_TRUE(ffprobeStream(p0, "video").value("profile").toString().contains("Baseline"));
    EXPECT_EQ(ffprobeStream(p0, "video").value("level").toInt(), 30);
    EXPECT_EQ(ffprobeStream(ffprobe(vorbis.OutputFileName), "audio").value("codec_name").toString(),
              "vorbis");
    const QJsonObject p2 = ffprobeStream(ffprobe(psp.OutputFileName), "video");
    EXPECT_EQ(p2.value("profile").toString(), "Main");
    EXPECT_EQ(p2.value("level").toInt(), 30);
}

TEST(Converter, UnknownNamesAreReported) {
    struct Case {
        const char* what;
        TOutputOptions out;
        const char* errorPart;
    };
    std::vector<Case> cases;
    auto base = [] {
        TOutputOptions o;
        o.OutputFileName = outputPath("never.mp4");
        return o;
    };
    cases.push_back({"video codec", base(), "nosuchvideo"});
    cases.back().out.VideoCodec = "nosuchvideo";
    cases.push_back({"audio codec", base(), "nosuchaudio"});
    cases.back().out.AudioCodec = "nosuchaudio";
    cases.push_back({"muxer", base(), "nosuchmux"});
    cases.back().out.ContainerFormat = "nosuchmux";
    cases.push_back({"filter", base(), "nosuchfilter"});
    cases.back().out.VideoFilters = "nosuchfilter=3";
    cases.push_back({"preset", base(), "libx264-toaster"});
    cases.back().out.VideoPreset = "libx264-toaster";
    cases.push_back({"frame size", base(), "12q"});
    cases.back().out.FrameSize = "12q";
    cases.push_back({"extension", base(), "never.qqq"});
    cases.back().out.OutputFileName = outputPath("never.qqq");

    TFFmpegVCL vcl;
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        const int t = vcl.AddTask(shortMov(), TInputOptions());
        ASSERT_GE(t, 0);
        EXPECT_LT(vcl.SetOutputFile(t, c.out.OutputFileName, c.out), 0);
        EXPECT_TRUE(vcl.LastErrorMessage().contains(c.errorPart))
            << vcl.LastErrorMessage().toStdString();
    }
    // Run anyway: every task ends unfinished with the same text, none writes a file.
    const RunLog log = runConverter(vcl);
    ASSERT_EQ(log.terminates.size(), cases.size() + 1);
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_FALSE(log.terminates[i].Finished);
        EXPECT_TRUE(log.terminates[i].ExceptionMsg.contains(cases[i].errorPart));
    }
    EXPECT_FALSE(QFileInfo::exists(outputPath("never.mp4")));
}

} // namespace
