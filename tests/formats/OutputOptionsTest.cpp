#include "formats/OutputOptions.h"
#include "formats/IniFile.h"
#include "formats/OutputFolder.h"
#include "support/TestEnv.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

using namespace vorlin::formats;

QString writeIni(const QString& name, const QByteArray& text) {
    const QString path = vorlin::test::testHome() + "/" + name;
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    return path;
}

// A profile of one video format (code 7) and one audio format (code 8).
const QByteArray kProfile = R"([formatInfo7]
VideoSize=as source,320x240,640x480
VideoBitRate=as source,512,800
FrameRate=25,29.97
VideoEncoder=MPEG-4,H264
AudioBitRate=64,96,128
SampleRate=22050,44100
AudioEncoder=AAC,GSM
Channel=as source,mono 1 channel,stereo 2 channels
Volume=50%,100%,110%
iVideoSize=2
iVideoBitRate=1
iFrameRate=1
iVideoEncoder=1
iAudioBitRate=2
iSampleRate=1
iAudioEncoder=0
iChannel=2
iVolume=1
paraBitExact=TRUE
paraMaxBitrate=2500
paraBufferSize=abc
paraLevel=30
paraQscale=-4
paraGop=0
paraCoder=0

[formatInfo8]
VideoSize=null
VideoEncoder=
AudioBitRate=
SampleRate=8000,44100
AudioEncoder=MP3
)";

TEST(OptionListsTest, AbsentListsDisableTheirFields) {
    const IniFile profile(writeIni("profile.ini", kProfile));
    const OptionLists video = ReadOptionLists(profile, "7");
    EXPECT_TRUE(video.videoEnabled);
    EXPECT_TRUE(video.audioEnabled);
    EXPECT_TRUE(video.audioBitRateEnabled);
    EXPECT_EQ(video[PanelField::VideoEncoder], (QStringList{"MPEG-4", "H264"}));
    EXPECT_EQ(video[PanelField::Volume].size(), 3);

    const OptionLists audio = ReadOptionLists(profile, "8");
    EXPECT_FALSE(audio.videoEnabled); // empty encoder list counts as absent
    EXPECT_TRUE(audio.audioEnabled);
    EXPECT_FALSE(audio.audioBitRateEnabled); // only that audio field goes
    EXPECT_TRUE(audio[PanelField::VideoSize].isEmpty());
    EXPECT_TRUE(audio[PanelField::FrameRate].isEmpty()); // missing key reads "null"

    const OptionLists missing = ReadOptionLists(profile, "99");
    EXPECT_FALSE(missing.videoEnabled);
    EXPECT_FALSE(missing.audioEnabled);
}

TEST(OptionListsTest, TypedValuesComeBackOnShowButNotAfterASwitch) {
    const IniFile profile(writeIni("profile.ini", kProfile));
    const IniFile settings(writeIni("settings.ini", R"([formatInfo7]
iVideoSize=-1
paraVideoSize=642x480
iVideoBitRate=-1
iFrameRate=-1
paraFrameRate=29.97
iSampleRate=5
iVolume=2
paraZoom=pan
)"));
    const OptionLists lists = ReadOptionLists(profile, "7");

    const PanelValues shown = RestoreOnShow(lists, settings, "7");
    EXPECT_EQ(shown[PanelField::VideoSize], (FieldShown{-1, "642x480"}));
    // No stored text: the panel's own default, here also an entry of the list.
    EXPECT_EQ(shown[PanelField::VideoBitRate], (FieldShown{2, "800"}));
    // The frame-rate pick list shows the entry that spells the stored text.
    EXPECT_EQ(shown[PanelField::FrameRate], (FieldShown{1, "29.97"}));
    EXPECT_EQ(shown[PanelField::SampleRate], FieldShown{}); // index outside the list
    EXPECT_EQ(shown[PanelField::Volume], (FieldShown{2, "110%"}));
    EXPECT_EQ(shown[PanelField::VideoEncoder], (FieldShown{0, "MPEG-4"})); // default 0
    EXPECT_EQ(shown.zoom, 2);

    const PanelValues switched = RestoreOnSwitch(lists, settings, "7");
    EXPECT_EQ(switched[PanelField::VideoSize], FieldShown{});
    EXPECT_EQ(switched[PanelField::FrameRate], FieldShown{});
    EXPECT_EQ(switched[PanelField::Volume], (FieldShown{2, "110%"}));
    EXPECT_EQ(switched.zoom, 2);
}

TEST(OptionListsTest, ZoomModesAndProfileDefaults) {
    EXPECT_EQ(ZoomPositionOf("full"), 0);
    EXPECT_EQ(ZoomPositionOf("lbox"), 1);
    EXPECT_EQ(ZoomPositionOf("pan"), 2);
    EXPECT_EQ(ZoomPositionOf("center"), kZoomNothing);
    EXPECT_EQ(ZoomPositionOf("Full"), kZoomKeep);
    EXPECT_EQ(ZoomPositionOf(""), kZoomKeep);

    const IniFile profile(writeIni("profile.ini", kProfile));
    const PanelValues defaults = ProfileDefaults(ReadOptionLists(profile, "7"), profile, "7");
    EXPECT_EQ(defaults[PanelField::VideoSize], (FieldShown{2, "640x480"}));
    EXPECT_EQ(defaults[PanelField::VideoEncoder], (FieldShown{1, "H264"}));
    EXPECT_EQ(defaults[PanelField::Channel], (FieldShown{2, "stereo 2 channels"}));
    EXPECT_EQ(defaults.zoom, 0);
}

PanelValues videoPanel() {
    PanelValues v;
    v[PanelField::VideoSize] = {-1, "352x288"};
    v[PanelField::VideoEncoder] = {0, "MPEG-4"};
    v[PanelField::VideoBitRate] = {1, "512"};
    v[PanelField::FrameRate] = {1, "29.97"};
    v[PanelField::SampleRate] = {1, "44100"};
    v[PanelField::AudioEncoder] = {0, "AAC"};
    v[PanelField::AudioBitRate] = {-1, "96.5"};
    v[PanelField::Channel] = {1, "mono 1 channel"};
    v[PanelField::Volume] = {1, "100%"};
    v.zoom = 1;
    return v;
}

TEST(StoredValuesTest, EveryShownValueIsStored) {
    const KeyValues stored = StoredValues(videoPanel());
    const std::pair<const char*, const char*> expected[] = {
        {"iVideoSize", "-1"},
        {"iVideoBitRate", "1"},
        {"iVideoEncoder", "0"},
        {"iFrameRate", "1"},
        {"iSampleRate", "1"},
        {"iAudioBitRate", "-1"},
        {"iChannel", "1"},
        {"iVolume", "1"},
        {"iAudioEncoder", "0"},
        {"paraVideoSize", "352x288"},
        {"paraVideoBitRate", "512"},
        {"paraFrameRate", "29.97"},
        {"paraZoom", "lbox"},
        {"paraVideoEncoder", "mpeg4"},
        {"paraSampleRate", "44100"},
        {"paraAudioBitRate", "96.5"},
        {"paraChannel", "1"},
        {"paraVolume", "256"},
        {"paraAudioEncoder", "libfaac"},
    };
    ASSERT_EQ(stored.size(), static_cast<qsizetype>(std::size(expected)));
    for (const auto& [key, value] : expected)
        EXPECT_EQ(valueOf(stored, key), value) << key;
}

TEST(StoredValuesTest, EntriesInNoTableStoreNothing) {
    PanelValues v = videoPanel();
    v[PanelField::VideoEncoder] = {0, "VP9"};
    v[PanelField::AudioEncoder] = {};
    v[PanelField::Channel] = {0, "Mono 1 channel"}; // channel names compare exactly
    v[PanelField::Volume] = {2, "110%"};
    v.zoom = kZoomNothing;
    const KeyValues stored = StoredValues(v);
    for (const char* key :
         {"paraVideoEncoder", "paraAudioEncoder", "paraChannel", "paraVolume", "paraZoom"})
        EXPECT_FALSE(hasKey(stored, key)) << key;
    EXPECT_EQ(valueOf(stored, "iVolume"), "2");
}

TEST(StoredValuesTest, GsmForcesEightKilohertzMono) {
    PanelValues v = videoPanel();
    v[PanelField::AudioEncoder] = {1, "GSM"};
    v[PanelField::SampleRate] = {1, "44100"};
    v[PanelField::Channel] = {2, "stereo 2 channels"};
    const KeyValues stored = StoredValues(v);
    EXPECT_EQ(valueOf(stored, "paraAudioEncoder"), "libgsm");
    EXPECT_EQ(valueOf(stored, "paraSampleRate"), "8000");
    EXPECT_EQ(valueOf(stored, "paraChannel"), "1");
}

TEST(StoredValuesTest, OnlyValidH264ValuesAreCopiedAndOnlyForH264) {
    const IniFile profile(writeIni("profile.ini", kProfile));
    const KeyValues h264 = H264Values(profile, "7");
    EXPECT_EQ(valueOf(h264, "paraBitExact"), "TRUE"); // as the profile spells it
    EXPECT_EQ(valueOf(h264, "paraMaxBitrate"), "2500");
    EXPECT_EQ(valueOf(h264, "paraLevel"), "30");
    EXPECT_EQ(valueOf(h264, "paraCoder"), "0");
    for (const char* key : {"paraBufferSize", "paraQscale", "paraGop"})
        EXPECT_FALSE(hasKey(h264, key)) << key;

    const QString settingsPath = writeIni("settings.ini", "");
    IniFile settings(settingsPath);
    PanelValues v = videoPanel();
    ASSERT_TRUE(WriteFormatSettings(settings, profile, "7", "Seven", v));
    EXPECT_FALSE(settings.valueExists("formatInfo7", "paraMaxBitrate"));
    EXPECT_EQ(settings.readString("formatInfo7", "Description", ""), "Seven");

    v[PanelField::VideoEncoder] = {1, "h264"};
    ASSERT_TRUE(WriteFormatSettings(settings, profile, "7", "Seven", v));
    EXPECT_EQ(settings.readString("formatInfo7", "paraVideoEncoder", ""), "libx264");
    EXPECT_EQ(settings.readString("formatInfo7", "paraBitExact", ""), "TRUE");
    EXPECT_FALSE(settings.valueExists("formatInfo7", "paraGop"));
}

TEST(KeyFilterTest, FrameSizeAcceptsDigitsAndOneX) {
    struct {
        QChar key;
        const char* text;
        KeyVerdict verdict;
    } const cases[] = {
        {u'7', "", KeyVerdict::Accept},      {kBackspace, "320x", KeyVerdict::Accept},
        {u'x', "320", KeyVerdict::Accept},   {u'x', "320x240", KeyVerdict::Beep},
        {u'X', "320", KeyVerdict::Beep},     {u'a', "", KeyVerdict::Beep},
        {QChar(0x16), "", KeyVerdict::Beep}, {u' ', "320", KeyVerdict::Beep},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FrameSizeKey(c.key, c.text), c.verdict) << int(c.key.unicode()) << " " << c.text;
}

TEST(KeyFilterTest, NumericFieldsRefuseEverythingButDigits) {
    for (QChar key : {QChar(u'0'), QChar(u'9'), kBackspace})
        EXPECT_EQ(NumericKey(key), KeyVerdict::Accept) << int(key.unicode());
    for (QChar key : {QChar(u'.'), QChar(u'-'), QChar(u'a'), QChar(u'x'), QChar(0x16), QChar(0x03),
                      QChar(0x18)})
        EXPECT_EQ(NumericKey(key), KeyVerdict::NotNumerical) << int(key.unicode());
}

TEST(ExitCheckTest, FrameSizeIsMadeEven) {
    struct {
        const char* text;
        FrameSizeCheck::Result result;
        const char* corrected;
    } const cases[] = {
        {"640x480", FrameSizeCheck::Accepted, ""},
        {"AS SOURCE", FrameSizeCheck::Accepted, ""},
        {"keep As Source please", FrameSizeCheck::Accepted, ""},
        {"641x479", FrameSizeCheck::Corrected, "640x478"},
        {"0x0", FrameSizeCheck::Corrected, "2x2"},
        {"1x720", FrameSizeCheck::Corrected, "2x720"},
        {"640x0", FrameSizeCheck::Corrected, "640x2"},
        {"640", FrameSizeCheck::Invalid, ""},
        {"640X480", FrameSizeCheck::Invalid, ""},
        {"x480", FrameSizeCheck::Invalid, ""},
        {"64ax480", FrameSizeCheck::Invalid, ""},
        {"6x4x2", FrameSizeCheck::Invalid, ""}, // split at the last x: "6x4" is no integer
        {"", FrameSizeCheck::Invalid, ""},
        {"99999999999999999999x2", FrameSizeCheck::Invalid, ""},
    };
    for (const auto& c : cases) {
        const FrameSizeCheck check = CheckFrameSize(c.text);
        EXPECT_EQ(check.result, c.result) << c.text;
        EXPECT_EQ(check.corrected, c.corrected) << c.text;
    }
}

TEST(ExitCheckTest, RatesAcceptIntegersOrAsSource) {
    EXPECT_TRUE(IsValidVideoBitRate("800"));
    EXPECT_TRUE(IsValidVideoBitRate("as source"));
    EXPECT_FALSE(IsValidVideoBitRate("As Source"));
    EXPECT_FALSE(IsValidVideoBitRate("800.5"));
    EXPECT_FALSE(IsValidVideoBitRate(""));
    EXPECT_TRUE(IsValidAudioBitRate("96.5"));
    EXPECT_TRUE(IsValidAudioBitRate("128"));
    EXPECT_FALSE(IsValidAudioBitRate("96,5"));
    EXPECT_TRUE(IsValidSampleRate("44100"));
    EXPECT_FALSE(IsValidSampleRate("44.1"));
}

TEST(OutputFolderTest, ChosenFolderRules) {
    OutputFolderRules rules;
    rules.canWriteTo = [](const QString& f) {
        return f != "/srv/locked";
    };
    rules.isDriveRoot = [](const QString& f) {
        return f == "/" || f == "/media/disk";
    };
    rules.userName = "  anna\t\n";
    rules.fallbackFolder = "/home/anna/videoconverter";
    struct {
        const char* chosen;
        OutputFolderChoice::Outcome outcome;
        const char* folder;
        const char* message;
    } const cases[] = {
        {"", OutputFolderChoice::Unchanged, "", ""},
        {"/home/anna/clips", OutputFolderChoice::Unchanged, "", ""}, // already shown
        {"/", OutputFolderChoice::NotADirectory, "", "The path / is not a valid directory."},
        {"/media/disk", OutputFolderChoice::NotADirectory, "",
         "The path /media/disk is not a valid directory."},
        {"/media/disk/films", OutputFolderChoice::Accepted, "/media/disk/films", ""},
        {"/srv/locked", OutputFolderChoice::FallBack, "/home/anna/videoconverter",
         "You login as anna .You don't have permission to write to directory:/srv/locked"},
    };
    for (const auto& c : cases) {
        const OutputFolderChoice choice = ResolveChosenFolder(c.chosen, "/home/anna/clips", rules);
        EXPECT_EQ(choice.outcome, c.outcome) << c.chosen;
        EXPECT_EQ(choice.folder, c.folder) << c.chosen;
        EXPECT_EQ(choice.message, c.message) << c.chosen;
    }
}

} // namespace
