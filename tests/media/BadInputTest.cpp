// Inputs and outputs that cannot work end with a clear error, never a crash or a hang, and
// the converter goes on with the next task.
#include "MediaTestSupport.h"

#include "media/FFmpegVCL.h"
#include "support/Fixtures.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace vorlin::test;

namespace {

QString writeFile(const QString& name, const QByteArray& bytes) {
    const QString path = outputPath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return path;
}

QByteArray noise(int size) {
    QByteArray bytes(size, '\0');
    uint32_t x = 987654321u;
    for (auto& b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<char>(x >> 24);
    }
    return bytes;
}

QByteArray firstHalf(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray all = f.readAll();
    return all.left(all.size() / 2);
}

TOutputOptions mp4(const QString& name) {
    TOutputOptions out;
    out.OutputFileName = outputPath(name);
    out.VideoCodec = "libx264";
    out.VideoPreset = "ultrafast";
    return out;
}

QString subtitleOnlyMov() {
    const QString srt = outputPath("subs.srt");
    QFile f(srt);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("1\n00:00:00,000 --> 00:00:01,000\nhello\n\n");
    f.close();
    return fixture("subtitles-only.mov", {"-i", srt, "-c:s", "mov_text", "-f", "mov"});
}

TEST(BadInput, FilesThatCannotBeOpenedAreRefused) {
    const struct {
        const char* what;
        QString path;
    } cases[] = {
        {"missing", outputPath("missing.mov")},
        {"empty", writeFile("empty.mov", {})},
        {"random bytes", writeFile("noise.mov", noise(200000))},
        {"truncated at half", writeFile("half.mov", firstHalf(smallMov()))},
        {"no audio or video", subtitleOnlyMov()},
        {"a folder", testHome()},
    };
    TFFmpegVCL vcl;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_LT(vcl.AddTask(c.path, TInputOptions()), 0);
        EXPECT_FALSE(vcl.LastErrorMessage().isEmpty());
    }
    EXPECT_EQ(vcl.TaskCount(), 0);
}

TEST(BadInput, DamagedOrOddSourcesEndCleanly) {
    // Header first, so the half file still opens: the task converts what is there.
    const QString faststart =
        fixture("faststart-320x240.mov",
                {"-i", smallMov(), "-c", "copy", "-movflags", "+faststart", "-f", "mov"});
    const QString half = writeFile("half-faststart.mov", firstHalf(faststart));

    TFFmpegVCL vcl;
    const int damaged = vcl.AddTask(half, TInputOptions());
    ASSERT_GE(damaged, 0) << vcl.LastErrorMessage().toStdString();
    vcl.SetOutputFile(damaged, outputPath("from-half.mp4"), mp4("from-half.mp4"));
    // An audio-only source into a video format gives an audio-only file.
    const int audio = addTask(vcl, audioOnlyMov(), mp4("from-audio.mp4"));
    // Bands that leave nothing of the picture.
    TOutputOptions bands = mp4("no-picture.mp4");
    bands.BandLeft = 100;
    bands.BandRight = 100;
    const int cut = addTask(vcl, shortMov(), bands);

    const RunLog log = runConverter(vcl, 60000);
    ASSERT_FALSE(log.timedOut);
    const TTerminateInfo t0 = log.terminateOf(damaged);
    if (!t0.Finished)
        EXPECT_FALSE(t0.ExceptionMsg.isEmpty());
    else
        EXPECT_GE(ffprobeStreamCount(ffprobe(outputPath("from-half.mp4")), "video"), 1);

    EXPECT_TRUE(log.terminateOf(audio).Finished)
        << log.terminateOf(audio).ExceptionMsg.toStdString();
    const QJsonObject probe = ffprobe(outputPath("from-audio.mp4"));
    EXPECT_EQ(ffprobeStreamCount(probe, "video"), 0);
    EXPECT_EQ(ffprobeStreamCount(probe, "audio"), 1);

    EXPECT_FALSE(log.terminateOf(cut).Finished);
    EXPECT_TRUE(log.terminateOf(cut).ExceptionMsg.contains("bands"))
        << log.terminateOf(cut).ExceptionMsg.toStdString();
}

TEST(BadInput, UnwritableOutputsFailAndTheNextTaskRuns) {
    const QString vanishing = outputPath("vanishing");
    ASSERT_TRUE(QDir().mkpath(vanishing));
    const QString plainFile = writeFile("plain.txt", "x");

    TFFmpegVCL vcl;
    TOutputOptions gone = mp4("vanishing/out.mp4");
    TOutputOptions underFile = mp4("plain.txt/out.mp4");
    TOutputOptions good = mp4("good.mp4");
    TOutputOptions same;
    same.OutputFileName = shortMov();
    same.ContainerFormat = "mov";
    addTask(vcl, shortMov(), gone);
    addTask(vcl, shortMov(), underFile);
    addTask(vcl, shortMov(), good);
    addTask(vcl, shortMov(), same);
    ASSERT_TRUE(QDir(vanishing).removeRecursively());

    const RunLog log = runConverter(vcl);
    ASSERT_FALSE(log.timedOut);
    ASSERT_EQ(log.terminates.size(), 5u);
    for (int i : {0, 1}) {
        EXPECT_FALSE(log.terminates[i].Finished);
        EXPECT_TRUE(log.terminates[i].Exception);
        EXPECT_TRUE(log.terminates[i].ExceptionMsg.contains("Cannot open output file"))
            << log.terminates[i].ExceptionMsg.toStdString();
    }
    EXPECT_TRUE(log.terminates[2].Finished) << log.terminates[2].ExceptionMsg.toStdString();
    EXPECT_FALSE(log.terminates[3].Finished) << "never overwrite the source";
    EXPECT_EQ(ffprobeStreamCount(ffprobe(shortMov()), "video"), 1);
    EXPECT_EQ(log.terminates[4].TaskIndex, -1);

    // Notices come in order: every progress notice of a task before that task's end.
    for (const PProgressInfo& p : log.progress)
        EXPECT_EQ(p.TaskIndex, 2) << "only the task that ran reports progress";
    for (size_t i = 0; i + 1 < log.terminates.size(); ++i)
        EXPECT_EQ(log.terminates[i].TaskIndex, int(i));
}

} // namespace
