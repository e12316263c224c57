#include "cli/BatchConvert.h"

#include "support/Fixtures.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

using namespace vorlin::test;

struct Outcome {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs the batch command in the test's own home, so it uses the test's settings files.
Outcome convert(const QStringList& args) {
    QProcess p;
    p.start(VORLIN_CONVERT_BIN, args);
    Outcome o;
    if (!p.waitForStarted(10000) || !p.waitForFinished(240000)) {
        p.kill();
        p.waitForFinished();
        return o;
    }
    o.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    o.out = QString::fromUtf8(p.readAllStandardOutput());
    o.err = QString::fromUtf8(p.readAllStandardError());
    return o;
}

QString writeFile(const QString& name, const QByteArray& bytes) {
    const QString path = testHome() + "/" + name;
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}

TEST(BatchArguments, UsageErrorsAreRecognised) {
    QString error;
    EXPECT_FALSE(vorlin::cli::ParseBatchArguments({"--format", "7", "a.mov"}, &error));
    EXPECT_TRUE(error.contains("format"));
    EXPECT_FALSE(vorlin::cli::ParseBatchArguments({"--speed", "a.mov"}, &error));
    EXPECT_FALSE(vorlin::cli::ParseBatchArguments({"--outdir"}, &error));
    EXPECT_FALSE(vorlin::cli::ParseBatchArguments({}, &error));
    const auto ok =
        vorlin::cli::ParseBatchArguments({"--format", "206", "--outdir", "/o", "x.mov"}, &error);
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->formatCode, 206);
    EXPECT_EQ(ok->outputFolder, "/o");
    EXPECT_EQ(ok->files, QStringList{"x.mov"});
}

TEST(BatchCommand, ExitsTwoForUsageErrorsWithoutConverting) {
    const QString clip = movFixture("batch-160x120.mov", 160, 120, 1.0, 10);
    for (const QStringList& args :
         {QStringList{"--format", "999", clip}, QStringList{"--bogus", clip},
          QStringList{"--job", testHome() + "/missing.ini", clip}, QStringList{}}) {
        const Outcome o = convert(args);
        EXPECT_EQ(o.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(o.out.isEmpty());
    }
}

TEST(BatchCommand, BadInputsFailAndTheRestConverts) {
    const QString good = movFixture("batch-160x120.mov", 160, 120, 1.0, 10);
    QFile whole(good);
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    const QString truncated = writeFile("truncated.mov", bytes.left(bytes.size() / 2));
    const QString text = writeFile("text.mov", "this is not a movie");
    const QString empty = writeFile("empty.mov", "");
    const QString missing = testHome() + "/missing.mov";
    const QString out = testHome() + "/out";

    const Outcome o = convert({"--outdir", out, text, empty, good, truncated, missing});
    EXPECT_EQ(o.exitCode, 1) << o.err.toStdString();
    const QStringList lines = o.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5) << o.out.toStdString();
    EXPECT_TRUE(lines[0].startsWith("FAILED " + text + ": "));
    EXPECT_TRUE(lines[1].startsWith("FAILED " + empty + ": "));
    EXPECT_EQ(lines[2], "OK " + good + " -> " + out + "/batch-160x120_(new).mp4");
    EXPECT_TRUE(lines[3].startsWith("FAILED " + truncated + ": ")) << lines[3].toStdString();
    EXPECT_TRUE(lines[4].startsWith("FAILED " + missing + ": "));
    EXPECT_EQ(ffprobeStream(ffprobe(out + "/batch-160x120_(new).mp4"), "video")
                  .value("codec_name")
                  .toString(),
              "h264");
}

TEST(BatchCommand, TrimLengthEndsTheOutputAndTheUsersSettingsStay) {
    const QString clip = movFixture("batch-320x240-4s.mov", 320, 240, 4.0, 25);
    const QString job = writeFile("job.ini", "[job]\nTrimStart=1000000\nTrimLength=1500000\n");
    const QString out = testHome() + "/trim";
    const Outcome o = convert({"--format", "204", "--outdir", out, "--job", job, clip});
    ASSERT_EQ(o.exitCode, 0) << o.out.toStdString() << o.err.toStdString();
    const QJsonObject probe = ffprobe(out + "/batch-320x240-4s_(new).wav");
    EXPECT_NEAR(probe.value("format").toObject().value("duration").toString().toDouble(), 1.5,
                0.05);
    EXPECT_EQ(ffprobeStreamCount(probe, "video"), 0);
    // The options held for this run only: the stored format and folder are unchanged.
    const QString settings = testHome() + "/.local/share/Vorlin/vorlinmovmp4converter.ini";
    QFile f(settings);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray stored = f.readAll();
    EXPECT_FALSE(stored.contains("FormatCode=204"));
    EXPECT_FALSE(stored.contains(out.toUtf8()));
}

// Every delivered format converts a 640x480 H.264 + AAC movie with its default values.
struct FormatCase {
    int code;
    const char* ext;
    const char* videoCodec; // nullptr: audio only
    int width, height;
    const char* audioCodec;
};

void PrintTo(const FormatCase& c, std::ostream* os) {
    *os << "format " << c.code;
}

class EveryFormat : public testing::TestWithParam<FormatCase> {};

TEST_P(EveryFormat, ConvertsWithTheDeliveredDefaults) {
    const FormatCase& c = GetParam();
    const QString clip = movFixture("formats-640x480-5s.mov", 640, 480, 5.0, 25);
    const QString out = testHome() + "/out";
    const Outcome o = convert({"--format", QString::number(c.code), "--outdir", out, clip});
    ASSERT_EQ(o.exitCode, 0) << o.out.toStdString() << o.err.toStdString();
    const QString output = out + "/formats-640x480-5s_(new)." + c.ext;
    ASSERT_TRUE(o.out.contains(output)) << o.out.toStdString();

    const QJsonObject probe = ffprobe(output);
    ASSERT_FALSE(probe.isEmpty()) << "ffprobe cannot read " << output.toStdString();
    if (c.videoCodec) {
        const QJsonObject video = ffprobeStream(probe, "video");
        EXPECT_EQ(video.value("codec_name").toString(), c.videoCodec);
        EXPECT_EQ(video.value("width").toInt(), c.width);
        EXPECT_EQ(video.value("height").toInt(), c.height);
    } else {
        EXPECT_EQ(ffprobeStreamCount(probe, "video"), 0);
    }
    EXPECT_EQ(ffprobeStreamCount(probe, "audio"), 1);
    EXPECT_EQ(ffprobeStream(probe, "audio").value("codec_name").toString(), c.audioCodec);
    const double duration =
        probe.value("format").toObject().value("duration").toString().toDouble();
    EXPECT_NEAR(duration, 5.0, 0.2);
}

INSTANTIATE_TEST_SUITE_P(Delivered, EveryFormat,
                         testing::Values(FormatCase{0, "mp4", "mpeg4", 640, 480, "aac"},
                                         FormatCase{1, "mp4", "h264", 640, 480, "aac"},
                                         FormatCase{100, "mpg", "mpeg1video", 352, 240, "mp2"},
                                         FormatCase{101, "mpg", "mpeg2video", 720, 480, "mp2"},
                                         FormatCase{102, "mp4", "mpeg4", 640, 480, "aac"},
                                         FormatCase{103, "mp4", "h264", 640, 480, "aac"},
                                         FormatCase{104, "avi", "mpeg4", 640, 480, "mp3"},
                                         FormatCase{105, "wmv", "wmv2", 640, 480, "wmav2"},
                                         FormatCase{106, "avi", "mpeg4", 640, 480, "mp3"},
                                         FormatCase{107, "avi", "mpeg4", 640, 480, "mp3"},
                                         FormatCase{108, "dv", "dvvideo", 720, 480, "pcm_s16le"},
                                         FormatCase{109, "dv", "dvvideo", 720, 576, "pcm_s16le"},
                                         FormatCase{200, "mp3", nullptr, 0, 0, "mp3"},
                                         FormatCase{201, "aac", nullptr, 0, 0, "aac"},
                                         FormatCase{202, "m4a", nullptr, 0, 0, "aac"},
                                         FormatCase{203, "wma", nullptr, 0, 0, "wmav2"},
                                         FormatCase{204, "wav", nullptr, 0, 0, "pcm_s16le"},
                                         FormatCase{205, "ogg", nullptr, 0, 0, "vorbis"},
                                         FormatCase{206, "ac3", nullptr, 0, 0, "ac3"}),
                         [](const testing::TestParamInfo<FormatCase>& info) {
                             return "code" + std::to_string(info.param.code);
                         });

} // namespace
