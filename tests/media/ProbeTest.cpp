#include "MediaTestSupport.h"

#include "media/AVProbe.h"
#include "media/FFmpegLoader.h"
#include "support/Fixtures.h"
#include "support/TestEnv.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace vorlin::test;

namespace {

// The audio codec as the file information dialog takes it from the description: the text
// between "Audio: " and the next comma.
QString audioFormatFromDescription(const QString& description) {
    const int from = description.indexOf("Audio:");
    if (from < 0)
        return {};
    const QString rest = description.mid(from);
    const int comma = rest.indexOf(',');
    return comma < 0 ? QString() : rest.mid(7, comma - 7);
}

TEST(Probe, ReportsContainerStreamsAndDuration) {
    TAVProbe probe;
    const QString file = smallMov();
    ASSERT_TRUE(probe.OpenProbe(file)) << probe.LastError().toStdString();
    EXPECT_EQ(probe.ProbeFileName(), file);
    EXPECT_EQ(probe.ProbeFormatName(), "mov,mp4,m4a,3gp,3g2,mj2");
    const TFileStreamInfo info = probe.ProbeFileInfo();
    EXPECT_NEAR(info.Duration, 2000000, 50000);
    EXPECT_EQ(probe.VideoStreamCount(), 1);
    EXPECT_EQ(probe.AudioStreamCount(), 1);

    const int v = probe.FirstVideoStream();
    const int a = probe.FirstAudioStream();
    ASSERT_GE(v, 0);
    ASSERT_GE(a, 0);
    EXPECT_NE(v, a);
    EXPECT_TRUE(probe.ProbeIsVideo(v));
    EXPECT_FALSE(probe.ProbeIsAudio(v));
    EXPECT_TRUE(probe.ProbeIsAudio(a));
    EXPECT_FALSE(probe.ProbeIsVideo(a));
    EXPECT_FALSE(probe.ProbeIsVideo(7));
    EXPECT_FALSE(probe.ProbeIsAudio(-1));

    const TVideoStreamInfo video = probe.ProbeVideoInfo(v);
    EXPECT_EQ(video.Width, 320);
    EXPECT_EQ(video.Height, 240);
    EXPECT_GT(video.BitRate, 0);
    EXPECT_EQ(video.FrameRateNum, 25);
    EXPECT_EQ(video.FrameRateDen, 1);
    EXPECT_EQ(video.CodecName, "h264");
    EXPECT_EQ(probe.ProbeVideoInfo(a).StreamIndex, -1) << "an audio stream has no video info";

    const TAudioStreamInfo audio = probe.ProbeAudioInfo(a);
    EXPECT_EQ(audio.SampleRate, 44100);
    EXPECT_EQ(audio.Channels, 1);
    EXPECT_GT(audio.BitRate, 0);
    EXPECT_EQ(audio.CodecName, "aac");

    const QString description = probe.ProbeDescription();
    EXPECT_GE(description.count('\n'), 3) << description.toStdString();
    EXPECT_EQ(audioFormatFromDescription(description), "aac") << description.toStdString();
    EXPECT_TRUE(description.contains("Video: h264,")) << description.toStdString();

    probe.CloseProbe();
    EXPECT_FALSE(probe.IsOpen());
    EXPECT_EQ(probe.FirstVideoStream(), -1);
    EXPECT_TRUE(probe.ProbeDescription().isEmpty());
    EXPECT_TRUE(probe.ProbeFileName().isEmpty());
}

TEST(Probe, OneKindOfStreamOnly) {
    TAVProbe probe;
    ASSERT_TRUE(probe.OpenProbe(audioOnlyMov()));
    EXPECT_EQ(probe.VideoStreamCount(), 0);
    EXPECT_EQ(probe.FirstVideoStream(), -1);
    EXPECT_GE(probe.FirstAudioStream(), 0);

    const QString silent = movFixture("video-only-160x120.mov", 160, 120, 1.0, 25, false);
    ASSERT_TRUE(probe.OpenProbe(silent));
    EXPECT_EQ(probe.FirstAudioStream(), -1);
    EXPECT_FALSE(probe.ProbeIsAudio(probe.FirstAudioStream()));
    EXPECT_EQ(audioFormatFromDescription(probe.ProbeDescription()), "");
}

TEST(Probe, NtscRateIsExactFraction) {
    const QString file = movFixture("ntsc-160x120.mov", 160, 120, 1.0, 30);
    QByteArray dummy;
    const QString ntsc =
        fixture("ntsc-2997.mov", {"-i", file, "-r", "30000/1001", "-c:v", "libx264", "-preset",
                                  "ultrafast", "-an", "-f", "mov"});
    TAVProbe probe;
    ASSERT_TRUE(probe.OpenProbe(ntsc));
    const TVideoStreamInfo v = probe.ProbeVideoInfo(probe.FirstVideoStream());
    EXPECT_EQ(v.FrameRateNum, 30000);
    EXPECT_EQ(v.FrameRateDen, 1001);
}

TEST(Probe, RotationTagGivesTheUprightSize) {
    TAVProbe probe;
    ASSERT_TRUE(probe.OpenProbe(rotatedMov()));
    const TVideoStreamInfo v = probe.ProbeVideoInfo(probe.FirstVideoStream());
    // The ffmpeg command writes "rotate=90" as a display matrix of a quarter turn
    // counter-clockwise, which makes the picture upright by turning it 270 degrees clockwise.
    EXPECT_EQ(v.Rotation, 270);
    EXPECT_EQ(v.Width, 120);
    EXPECT_EQ(v.Height, 160);
    EXPECT_EQ(v.CodedWidth, 160);
    EXPECT_EQ(v.CodedHeight, 120);
}

TEST(Probe, UnreadableFilesFailWithAReason) {
    const QString dir = testHome();
    QFile empty(dir + "/empty.mov");
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    QFile noise(dir + "/noise.mov");
    ASSERT_TRUE(noise.open(QIODevice::WriteOnly));
    QByteArray bytes(64 * 1024, '\0');
    uint32_t x = 12345;
    for (auto& b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<char>(x >> 24);
    }
    noise.write(bytes);
    noise.close();

    for (const QString& path :
         {dir + "/missing.mov", dir + "/empty.mov", dir, dir + "/noise.mov"}) {
        TAVProbe probe;
        const bool opened = probe.OpenProbe(path);
        if (path.endsWith("noise.mov") && opened) {
            // Noise may pass for some headerless format; then it must at least hold no
            // picture the converter would believe in.
            EXPECT_EQ(probe.VideoStreamCount(), 0) << probe.ProbeDescription().toStdString();
            continue;
        }
        EXPECT_FALSE(opened) << path.toStdString();
        EXPECT_TRUE(probe.LastError().contains(path)) << probe.LastError().toStdString();
        EXPECT_EQ(probe.ProbeFileInfo().Duration, -1);
        EXPECT_EQ(probe.FirstVideoStream(), -1);
    }
}

TEST(Loader, LinkedLibrariesMatch) {
    EXPECT_TRUE(TFFmpegLoader::LoadFFmpegLibraries("/nowhere/LibAV"));
    EXPECT_TRUE(TFFmpegLoader::FFmpegLibrariesLoaded());
    EXPECT_TRUE(TFFmpegLoader::LoaderLastError().isEmpty());
    EXPECT_TRUE(TFFmpegLoader::LibraryVersions().contains("libavcodec 59."));
}

} // namespace
