#include "formats/ParamTables.h"

#include <gtest/gtest.h>

#include <optional>

namespace vorlin::formats {
namespace {

struct Case {
    const char* entry;
    std::optional<const char*> stored;
};

void expectTable(std::optional<QString> (*table)(const QString&),
                 std::initializer_list<Case> cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        const std::optional<QString> got = table(QString::fromUtf8(c.entry));
        if (c.stored) {
            ASSERT_TRUE(got.has_value());
            EXPECT_EQ(*got, QString::fromUtf8(*c.stored));
        } else {
            EXPECT_FALSE(got.has_value()) << got->toStdString();
        }
    }
}

TEST(ParamTables, VideoEncoderEntriesCompareWithoutCase) {
    expectTable(videoEncoderParam, {
                                       {"MPEG-4", "mpeg4"},
                                       {"mpeg-4", "mpeg4"},
                                       {"XviD", "libxvid"},
                                       {"H264", "libx264"},
                                       {"h264", "libx264"},
                                       {"wmv2", "wmv2"},
                                       // Plain names store the lower-case spelling the
                                       // option builder compares exactly.
                                       {"WMV1", "wmv1"},
                                       {"DVvideo", "dvvideo"},
                                       {"mpeg2video", "mpeg2video"},
                                       {"msmpeg4v2", "msmpeg4v2"},
                                       {"3GP", "3gp"},
                                       {"zlib", "zlib"},
                                       // Stored names and near misses are no entries.
                                       {"mpeg4", std::nullopt},
                                       {"libx264", std::nullopt},
                                       {"x264", std::nullopt},
                                       {" H264", std::nullopt},
                                       {"H264 ", std::nullopt},
                                       {"", std::nullopt},
                                   });
}

TEST(ParamTables, AudioEncoderEntriesCompareWithoutCase) {
    expectTable(audioEncoderParam, {
                                       {"MP3", "libmp3lame"},
                                       {"OGG", "vorbis"},
                                       {"Mp2", "mp2"},
                                       {"AAC", "libfaac"},
                                       {"AC-3", "ac3"},
                                       {"FLAC", "flac"},
                                       {"ALAC", "alac"},
                                       {"libamr_nb", "libopencore_amrnb"},
                                       {"pcm-8bit", "pcm_s8"},
                                       {"PCM-16bit", "pcm_s16be"},
                                       {"pcm-24bit", "pcm_s24be"},
                                       {"pcm-32bit", "pcm_s32be"},
                                       {"pcm-32bit float", "pcm_f32be"},
                                       {"PCM-64bit Float", "pcm_f64be"},
                                       {"CCITT A-Law(8-bit)", "pcm_alaw"},
                                       {"CCITT mu-Law(8-bit)", "pcm_mulaw"},
                                       {"IMA ADPCM(4-bit)", "adpcm_ima_qt"},
                                       {"GSM", "libgsm"},
                                       {"pcm_s16", "pcm_s16le"},
                                       {"PCM_U16", "pcm_u16le"},
                                       {"adpcm_ms", "adpcm_ms"},
                                       {"adpcm_ima_wav", "adpcm_ima_wav"},
                                       {"WMA1", "wmav1"},
                                       {"wma2", "wmav2"},
                                       {"wma", std::nullopt},
                                       {"vorbis", std::nullopt},
                                       {"libmp3lame", std::nullopt},
                                       {"aac ", std::nullopt},
                                       {"", std::nullopt},
                                   });
}

TEST(ParamTables, GsmOverrideIsLeftToTheCallerWithFixedValues) {
    // The table gives only the encoder; the saving code forces 8 kHz mono alongside.
    EXPECT_EQ(audioEncoderParam(QStringLiteral("gsm")), QStringLiteral("libgsm"));
    EXPECT_TRUE(isGsmEntry(QStringLiteral("gsm")));
    EXPECT_TRUE(isGsmEntry(QStringLiteral("GSM")));
    EXPECT_FALSE(isGsmEntry(QStringLiteral("libgsm")));
    EXPECT_FALSE(isGsmEntry(QStringLiteral("gsm ")));
    EXPECT_EQ(QString(kGsmSampleRate), QStringLiteral("8000"));
    EXPECT_EQ(QString(kGsmChannel), QStringLiteral("1"));
}

TEST(ParamTables, H264EntryIsRecognisedWithoutCase) {
    EXPECT_TRUE(isH264Entry(QStringLiteral("H264")));
    EXPECT_TRUE(isH264Entry(QStringLiteral("h264")));
    EXPECT_FALSE(isH264Entry(QStringLiteral("H.264")));
    EXPECT_FALSE(isH264Entry(QStringLiteral("libx264")));
}

TEST(ParamTables, ChannelEntriesCompareExactly) {
    expectTable(channelParam, {
                                  {"as source", "as source"},
                                  {"mono 1 channel", "1"},
                                  {"stereo 2 channels", "2"},
                                  {"Stereo 2 channels", std::nullopt},
                                  {"stereo 2 channels ", std::nullopt},
                                  {"AS SOURCE", std::nullopt},
                                  {"2", std::nullopt},
                                  {"", std::nullopt},
                              });
}

TEST(ParamTables, VolumeEntriesArePercentagesOfTheKnownSteps) {
    expectTable(volumeParam, {
                                 {"25%", "64"},
                                 {"50%", "128"},
                                 {"75%", "192"},
                                 {"100%", "256"},
                                 {"125%", "320"},
                                 {"150%", "384"},
                                 {"175%", "448"},
                                 {"200%", "512"},
                                 {"250%", "640"},
                                 {"300%", "768"},
                                 {"350%", "896"},
                                 {"400%", "1024"},
                                 // Only the last character is dropped, whatever it is.
                                 {"100x", "256"},
                                 {"110%", std::nullopt},
                                 {"0%", std::nullopt},
                                 {"-100%", std::nullopt},
                                 {"450%", std::nullopt},
                                 {"100", std::nullopt}, // reads as 10
                                 {"100%%", std::nullopt},
                                 {"100 %", std::nullopt},
                                 {"%", std::nullopt},
                                 {"loud%", std::nullopt},
                                 {"99999999999%", std::nullopt},
                                 {"", std::nullopt},
                             });
}

TEST(ParamTables, ZoomFollowsThePositionOfTheShownEntry) {
    EXPECT_EQ(zoomParam(0), QStringLiteral("full"));
    EXPECT_EQ(zoomParam(1), QStringLiteral("lbox"));
    EXPECT_EQ(zoomParam(2), QStringLiteral("pan"));
    EXPECT_EQ(zoomParam(3), QStringLiteral("center"));
    EXPECT_FALSE(zoomParam(-1).has_value());
    EXPECT_FALSE(zoomParam(4).has_value());
}

} // namespace
} // namespace vorlin::formats
