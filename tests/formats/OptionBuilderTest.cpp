#include "formats/OptionBuilder.h"
#include "formats/IniFile.h"

#include "jobs/JobRecord.h"
#include "support/TestEnv.h"
#include "widgets/Dialogs.h"

#include <QFile>
#include <gtest/gtest.h>

#include <map>

namespace {

using namespace vorlin::formats;
using Keys = std::map<QString, QString>;

constexpr int kCode = 104;

class OptionBuilderTest : public testing::Test {
protected:
    struct Result {
        TOutputOptions out;
        TInputOptions in;
    };

    // Builds the options of one job after writing the given profile and settings keys
    // into the format's sections; the output bands start as the run leaves them.
    Result build(const Keys& profile, const Keys& settings, const TlvFilesRecord& job,
                 const SourceFacts& source) {
        const QString home = vorlin::test::testHome();
        OptionFiles files{home + "/settings.ini", home + "/format.ini"};
        QFile::remove(files.settingsFile);
        QFile::remove(files.formatFile);
        for (const auto& [k, v] : profile)
            IniFile(files.formatFile).writeString(formatSection(kCode), k, v);
        for (const auto& [k, v] : settings)
            IniFile(files.settingsFile).writeString(formatSection(kCode), k, v);
        Result r;
        if (job.hasCrop()) {
            r.out.BandTop = job.CropTop;
            r.out.BandBottom = job.CropBottom;
            r.out.BandLeft = job.CropLeft;
            r.out.BandRight = job.CropRight;
        }
        BuildOutputOptions(job, kCode, r.out, source, r.in, files);
        return r;
    }

    static TlvFilesRecord job(const QString& zoom, int top = 0, int bottom = 0, int left = 0,
                              int right = 0) {
        TlvFilesRecord j;
        j.ZoomMode = zoom;
        j.CropTop = top;
        j.CropBottom = bottom;
        j.CropLeft = left;
        j.CropRight = right;
        return j;
    }

    static SourceFacts source(int w, int h, int64_t bitRate = 2'000'000) {
        return SourceFacts{1, w, h, bitRate};
    }

    vorlin::widgets::ScopedDialogRecorder dialogs;
};

TEST_F(OptionBuilderTest, DiscTargetsSetTypeNormAndAspect) {
    struct {
        const char* keyword;
        const char* size;
        int type, norm;
        const char* aspect;
    } const cases[] = {
        {"PAL-DVD", "720x576", 3, 1, "16:9"},  {"pal-dvd", "720x480", 3, 1, "4:3"},
        {"ntsc-dvd", "720x480", 3, 2, "16:9"}, {"ntsc-dvd", "720x576", 3, 2, "4:3"},
        {"ntsc-vcd", "352x240", 1, 2, "4:3"},  {"pal-vcd", "352x288", 1, 1, "4:3"},
        {"ntsc-svcd", "480x480", 2, 2, "4:3"}, {"pal-svcd", "480x576", 2, 1, "4:3"},
        {"mp4", "720x576", 0, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keyword);
        // A zoom the builder does not know sets no aspect of its own, so the target's shows.
        const auto r = build({{"Format", c.keyword}},
                             {{"paraVideoEncoder", "mpeg1video"}, {"paraVideoSize", c.size}},
                             job("orig"), source(720, 576));
        EXPECT_EQ(r.out.TargetType, c.type);
        EXPECT_EQ(r.out.TargetNorm, c.norm);
        EXPECT_EQ(r.out.AspectRatio, c.aspect);
    }
}

TEST_F(OptionBuilderTest, CodecsPresetsAndContainers) {
    struct {
        const char* keyword;
        const char* encoder;
        const char* codec;
        const char* preset;
        const char* container;
        int target;
    } const cases[] = {
        {"ipod", "libx264", "libx264", "libx264-ipod", "ipod", 0},
        {"psp", "libx264", "libx264", "libx264-psp", "psp", 0},
        {"PS3", "libx264", "libx264", "libx264-ps3", "", 0},
        {"mp4", "libx264", "libx264", "libx264-mp4", "", 0},
        {"avi", "mpeg2video", "mpeg2video", "", "avi", 3},
        {"AVI", "msmpeg4v2", "msmpeg4v2", "", "AVI", 0},
        {"asf", "wmv3", "", "", "", 0},     // not an encoder the builder passes on
        {"avi", "MPEG4", "", "", "avi", 0}, // names compare case-sensitively
        {"null", "dvvideo", "dvvideo", "", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.keyword << " / " << c.encoder);
        const auto r = build({{"Format", c.keyword}},
                             {{"paraVideoEncoder", c.encoder}, {"paraVideoSize", "320x240"}},
                             job("full"), source(640, 480));
        EXPECT_EQ(r.out.VideoCodec, c.codec);
        EXPECT_EQ(r.out.VideoPreset, c.preset);
        EXPECT_EQ(r.out.ContainerFormat, c.container);
        EXPECT_EQ(r.out.TargetType, c.target);
        EXPECT_EQ(r.out.TargetNorm, 0);
    }
}

TEST_F(OptionBuilderTest, FrameSizeTextsAndTheH263Sizes) {
    struct {
        const char* encoder;
        const char* size;
        const char* frameSize;
    } const cases[] = {
        {"h263", "640x480", "704x576"},     {"h263", "320x240", "352x288"},
        {"h263", "176x144", "176x144"},     {"h263", "128x96", "128x96"},
        {"h263", "160x120", "160x120"},     {"mpeg4", "640x480", "640x480"},
        {"mpeg4", "as source", "1280x720"}, {"mpeg4", "abcx480", "1280x480"},
        {"mpeg4", "640xabc", "640x720"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.encoder << " " << c.size);
        const auto r = build({}, {{"paraVideoEncoder", c.encoder}, {"paraVideoSize", c.size}},
                             job("full"), source(1280, 720));
        EXPECT_EQ(r.out.FrameSize, c.frameSize);
        EXPECT_TRUE(dialogs->shown.empty());
    }
}

TEST_F(OptionBuilderTest, MalformedSizeAsksAndTheAnswerAppliesToThisJobOnly) {
    for (const char* size : {"640x", "x480", "640", ""}) {
        SCOPED_TRACE(size);
        dialogs->shown.clear();
        dialogs->answers = {true};
        auto r = build({}, {{"paraVideoEncoder", "mpeg4"}, {"paraVideoSize", size}}, job("full"),
                       source(1280, 720));
        ASSERT_EQ(dialogs->shown.size(), 1u);
        EXPECT_EQ(dialogs->shown[0].title, "Warning");
        EXPECT_EQ(dialogs->shown[0].text, "Error output Video Size.Use the default size 320x240?");
        EXPECT_EQ(r.out.FrameSize, "320x240");

        dialogs->answers = {false};
        r = build({}, {{"paraVideoEncoder", "mpeg4"}, {"paraVideoSize", size}}, job("full"),
                  source(1280, 720));
        EXPECT_EQ(r.out.FrameSize, "1280x720");
    }
    // A missing key asks too.
    dialogs->shown.clear();
    build({}, {{"paraVideoEncoder", "mpeg4"}}, job("full"), source(1280, 720));
    EXPECT_EQ(dialogs->shown.size(), 1u);
}

TEST_F(OptionBuilderTest, LetterboxPanAndCentreGeometry) {
    struct {
        const char* name;
        TlvFilesRecord job;
        int w, h;
        const char* size;
        const char* frameSize;
        const char* aspect;
        const char* filters;
        int top, bottom, left, right;
    } const cases[] = {
        {"lbox same shape", job("lbox"), 640, 480, "320x240", "320x240", "320:240",
         "pad=320:240:0:0", 0, 0, 0, 0},
        {"lbox wide", job("lbox"), 1280, 720, "320x240", "320x180", "320:180", "pad=320:240:0:30",
         0, 0, 0, 0},
        {"lbox tall", job("lbox"), 640, 480, "640x360", "480x360", "480:360", "pad=640:360:80:0", 0,
         0, 0, 0},
        {"lbox crop", job("lbox", 8, 8), 720, 576, "320x240", "", "300:240",
         "crop=0:8:720:560,scale=300:240,pad=320:240:10:0", 0, 0, 0, 0},
        {"full crop", job("full", 4, 6, 8, 10), 720, 576, "320x240", "320x240", "320:240", "", 4, 6,
         8, 10},
        {"full no crop", job("full"), 720, 576, "320x240", "320x240", "320:240", "", 0, 0, 0, 0},
        {"pan wide", job("pan"), 1280, 720, "640x480", "640x480", "640:480", "", 0, 0, 284, 284},
        {"pan tall keeps crop", job("pan", 0, 0, 6, 6), 720, 576, "640x480", "640x480", "640:480",
         "", 148, 148, 6, 6},
        {"center", job("center"), 1280, 720, "640x480", "640x360", "640:360",
         "pad=640:480:0:60:black", 0, 0, 0, 0},
        {"unknown zoom", job("orig"), 1280, 720, "640x480", "", "", "", 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = build({}, {{"paraVideoEncoder", "mpeg4"}, {"paraVideoSize", c.size}}, c.job,
                             source(c.w, c.h));
        EXPECT_EQ(r.out.FrameSize, c.frameSize);
        EXPECT_EQ(r.out.AspectRatio, c.aspect);
        EXPECT_EQ(r.out.VideoFilters, c.filters);
        EXPECT_EQ(r.out.BandTop, c.top);
        EXPECT_EQ(r.out.BandBottom, c.bottom);
        EXPECT_EQ(r.out.BandLeft, c.left);
        EXPECT_EQ(r.out.BandRight, c.right);
    }
}

TEST_F(OptionBuilderTest, VideoRatesAndBitRates) {
    struct {
        const char* bitRate;
        const char* frameRate;
        int32_t videoBitRate;
        const char* outFrameRate;
    } const cases[] = {
        {"800", "25", 800'000, "25"},
        {"as source", "29.97", 2'000'000, "29.97"},
        {"fast", "as source", 2'000'000, ""},
        {"0", "0", -1, ""},
        {"-5", "-25", -1, ""},
        {"1200", "23.976", 1'200'000, "23.976"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bitRate << " / " << c.frameRate);
        const auto r = build({},
                             {{"paraVideoEncoder", "mpeg4"},
                              {"paraVideoSize", "320x240"},
                              {"paraVideoBitRate", c.bitRate},
                              {"paraFrameRate", c.frameRate}},
                             job("full"), source(640, 480, 2'000'000));
        EXPECT_EQ(r.out.VideoBitRate, c.videoBitRate);
        EXPECT_EQ(r.out.FrameRate, c.outFrameRate);
    }
    // Defaults: 512 kbit/s and 29.97 fps.
    const auto r = build({}, {{"paraVideoEncoder", "mpeg4"}, {"paraVideoSize", "320x240"}},
                         job("full"), source(640, 480));
    EXPECT_EQ(r.out.VideoBitRate, 512'000);
    EXPECT_EQ(r.out.FrameRate, "29.97");
}

TEST_F(OptionBuilderTest, AudioValuesOnAVideoFormat) {
    auto r = build({},
                   {{"paraVideoEncoder", "mpeg4"},
                    {"paraVideoSize", "320x240"},
                    {"paraAudioEncoder", "libamr_nb"},
                    {"paraChannel", "1"},
                    {"paraSampleRate", "8000"},
                    {"paraAudioBitRate", "12.2"},
                    {"paraVolume", "512"}},
                   job("full"), source(640, 480));
    EXPECT_EQ(r.out.AudioCodec, "libopencore_amrnb");
    EXPECT_FALSE(r.out.AudioDisabled);
    EXPECT_EQ(r.out.AudioChannels, 1);
    EXPECT_EQ(r.out.AudioSampleRate, 8000);
    EXPECT_EQ(r.out.AudioBitRate, 12200);
    EXPECT_EQ(r.out.AudioVolume, 512);

    // No audio encoder: no audio. No volume key: the level stays untouched.
    r = build({}, {{"paraVideoEncoder", "mpeg4"}, {"paraVideoSize", "320x240"}}, job("full"),
              source(640, 480));
    EXPECT_TRUE(r.out.AudioDisabled);
    EXPECT_EQ(r.out.AudioVolume, -1);
    EXPECT_EQ(r.out.AudioChannels, 2);
}

TEST_F(OptionBuilderTest, AudioOnlyFormatsReadNoVideo) {
    struct {
        Keys settings;
        const char* codec;
        int channels, sampleRate, bitRate, volume;
    } const cases[] = {
        {{}, "libfaac", 2, 44100, 128000, -1},
        {{{"paraAudioEncoder", "libmp3lame"},
          {"paraChannel", "as source"},
          {"paraSampleRate", "as source"},
          {"paraAudioBitRate", "as source"},
          {"paraVolume", "256"}},
         "libmp3lame",
         -1,
         -1,
         -1,
         -1},
        {{{"paraAudioEncoder", "ac3"},
          {"paraChannel", "0"},
          {"paraSampleRate", "48000"},
          {"paraAudioBitRate", "96.5"},
          {"paraVolume", "64"}},
         "ac3",
         -1,
         48000,
         96500,
         64},
        {{{"paraVideoEncoder", "   "}, {"paraVolume", "loud"}, {"paraAudioBitRate", "-1"}},
         "libfaac",
         2,
         44100,
         -1,
         -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codec);
        const auto r = build({{"Format", "mp3"}}, c.settings, job("lbox"), source(640, 480));
        EXPECT_EQ(r.out.AudioCodec, c.codec);
        EXPECT_EQ(r.out.AudioChannels, c.channels);
        EXPECT_EQ(r.out.AudioSampleRate, c.sampleRate);
        EXPECT_EQ(r.out.AudioBitRate, c.bitRate);
        EXPECT_EQ(r.out.AudioVolume, c.volume);
        EXPECT_EQ(r.in.ExtraOptions, "vn=1");
        EXPECT_TRUE(r.out.VideoDisabled);
        EXPECT_TRUE(r.out.SubtitleDisabled);
        EXPECT_TRUE(r.out.FrameSize.isEmpty());
        EXPECT_TRUE(r.out.VideoFilters.isEmpty());
        EXPECT_TRUE(r.out.ContainerFormat.isEmpty());
    }
}

TEST_F(OptionBuilderTest, SourceWithoutVideoDisablesVideoButKeepsAudio) {
    const auto r = build(
        {{"Format", "avi"}},
        {{"paraVideoEncoder", "mpeg4"}, {"paraVideoSize", "x"}, {"paraAudioEncoder", "libmp3lame"}},
        job("lbox"), SourceFacts{0, 0, 0, 0});
    EXPECT_TRUE(r.out.VideoDisabled);
    EXPECT_EQ(r.out.VideoCodec, "mpeg4");
    EXPECT_TRUE(r.out.FrameSize.isEmpty());
    EXPECT_TRUE(r.out.VideoFilters.isEmpty());
    EXPECT_TRUE(dialogs->shown.empty()); // no size question for a picture that is not there
    EXPECT_EQ(r.out.AudioCodec, "libmp3lame");
}

} // namespace
