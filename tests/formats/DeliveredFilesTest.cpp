#include "formats/DeliveredFiles.h"

#include "formats/IniFile.h"
#include "formats/NumericText.h"
#include "formats/ParamTables.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <map>
#include <optional>

namespace vorlin::formats {
namespace {

QString settingsPath() {
    return test::testHome() + QStringLiteral("/data/Vorlin/vorlinmovmp4converter.ini");
}

QString profilePath() {
    return test::testHome() + QStringLiteral("/data/Vorlin/vorlinmovmp4format.ini");
}

QByteArray readBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// Installs both files into the test's home and returns the installed profile.
IniFile installedProfile() {
    QString error;
    EXPECT_TRUE(installDeliveredFiles(settingsPath(), profilePath(), &error))
        << error.toStdString();
    return IniFile(profilePath());
}

bool isVideoFormat(int code) {
    return code < 200;
}

const char* const kListKeys[] = {"VideoSize",    "VideoBitRate", "FrameRate",
                                 "VideoEncoder", "AudioBitRate", "SampleRate",
                                 "AudioEncoder", "Channel",      "Volume"};

QString indexKeyOf(const QString& listKey) {
    return QLatin1Char('i') + listKey;
}

// The list's entries, or nothing when the profile marks the field unavailable.
std::optional<QStringList> listOf(const IniFile& profile, int code, const QString& key) {
    const QString value = profile.readString(formatSection(code), key, QStringLiteral("null"));
    if (profileListAbsent(key, value))
        return std::nullopt;
    return splitProfileList(value);
}

bool isEvenSize(const QString& text) {
    const QStringList parts = text.split(QLatin1Char('x'));
    if (parts.size() != 2)
        return false;
    const std::optional<int64_t> w = integerValue(parts[0]);
    const std::optional<int64_t> h = integerValue(parts[1]);
    return w && h && *w > 0 && *h > 0 && *w % 2 == 0 && *h % 2 == 0;
}

bool isPositiveInteger(const QString& text) {
    const std::optional<int64_t> n = integerValue(text);
    return n && *n > 0;
}

bool isPositiveNumber(const QString& text) {
    const std::optional<double> n = numberValue(text);
    return n && *n > 0;
}

TEST(DeliveredProfile, HasEveryFormatWithItsExtensionAndKeyword) {
    const IniFile profile = installedProfile();
    // The extension each catalogue row names.
    const std::map<int, const char*> extension{
        {0, "mp4"},   {1, "mp4"},   {100, "mpg"}, {101, "mpg"}, {102, "mp4"},
        {103, "mp4"}, {104, "avi"}, {105, "wmv"}, {106, "avi"}, {107, "avi"},
        {108, "dv"},  {109, "dv"},  {200, "mp3"}, {201, "aac"}, {202, "m4a"},
        {203, "wma"}, {204, "wav"}, {205, "ogg"}, {206, "ac3"}};
    ASSERT_EQ(extension.size(), kDeliveredFormatCodes.size());
    for (int code : kDeliveredFormatCodes) {
        SCOPED_TRACE(code);
        ASSERT_TRUE(profile.sectionExists(formatSection(code)));
        EXPECT_EQ(profile.readString(formatSection(code), QStringLiteral("FileExt"), {}),
                  QString::fromLatin1(extension.at(code)));
        const QString keyword = profile.readString(formatSection(code), QStringLiteral("Format"),
                                                   QStringLiteral("null"));
        EXPECT_FALSE(keyword.isEmpty());
        EXPECT_NE(keyword, QStringLiteral("null"));
    }
}

TEST(DeliveredProfile, DiscTargetKeywordsAreNotUsedByGeneralFormats) {
    // A disc keyword would force DVD/VCD settings onto formats that are not discs.
    const IniFile profile = installedProfile();
    for (int code : kDeliveredFormatCodes) {
        const QString keyword =
            profile.readString(formatSection(code), QStringLiteral("Format"), {}).toLower();
        EXPECT_FALSE(keyword.endsWith(QLatin1String("dvd")) ||
                     keyword.endsWith(QLatin1String("vcd")))
            << code << " " << keyword.toStdString();
    }
}

TEST(DeliveredProfile, EveryListEntryIsUsable) {
    const IniFile profile = installedProfile();
    for (int code : kDeliveredFormatCodes) {
        for (const char* key : kListKeys) {
            const QString listKey = QString::fromLatin1(key);
            SCOPED_TRACE(QStringLiteral("%1 %2").arg(code).arg(listKey).toStdString());
            const std::optional<QStringList> entries = listOf(profile, code, listKey);
            if (!entries)
                continue;
            ASSERT_FALSE(entries->isEmpty());
            for (const QString& entry : *entries) {
                SCOPED_TRACE(entry.toStdString());
                // No blanks around an entry: the tables compare whole texts.
                EXPECT_EQ(entry, entry.trimmed());
                EXPECT_FALSE(entry.isEmpty());
                if (listKey == QLatin1String("VideoEncoder"))
                    EXPECT_TRUE(videoEncoderParam(entry).has_value());
                else if (listKey == QLatin1String("AudioEncoder"))
                    EXPECT_TRUE(audioEncoderParam(entry).has_value());
                else if (listKey == QLatin1String("Channel"))
                    EXPECT_TRUE(channelParam(entry).has_value());
                else if (listKey == QLatin1String("Volume"))
                    EXPECT_TRUE(volumeParam(entry).has_value());
                else if (entry == QLatin1String("as source"))
                    continue;
                else if (listKey == QLatin1String("VideoSize"))
                    EXPECT_TRUE(isEvenSize(entry));
                else if (listKey == QLatin1String("FrameRate") ||
                         listKey == QLatin1String("AudioBitRate"))
                    EXPECT_TRUE(isPositiveNumber(entry));
                else
                    EXPECT_TRUE(isPositiveInteger(entry));
            }
        }
    }
}

TEST(DeliveredProfile, DefaultPositionsPointIntoTheirLists) {
    const IniFile profile = installedProfile();
    for (int code : kDeliveredFormatCodes) {
        for (const char* key : kListKeys) {
            const QString listKey = QString::fromLatin1(key);
            const std::optional<QStringList> entries = listOf(profile, code, listKey);
            if (!entries)
                continue;
            const int position = profile.readInteger(formatSection(code), indexKeyOf(listKey), -1);
            EXPECT_GE(position, 0) << code << " " << key;
            EXPECT_LT(position, entries->size()) << code << " " << key;
        }
    }
}

TEST(DeliveredProfile, VideoFormatsHaveBothSidesAudioFormatsNoVideo) {
    const IniFile profile = installedProfile();
    for (int code : kDeliveredFormatCodes) {
        SCOPED_TRACE(code);
        EXPECT_TRUE(listOf(profile, code, QStringLiteral("AudioEncoder")).has_value());
        for (const char* key : {"VideoEncoder", "VideoSize", "VideoBitRate", "FrameRate"}) {
            EXPECT_EQ(listOf(profile, code, QString::fromLatin1(key)).has_value(),
                      isVideoFormat(code))
                << key;
        }
    }
}

TEST(DeliveredProfile, DigitalVideoFormatsOfferOnlyTheirStandardValues) {
    const IniFile profile = installedProfile();
    struct Case {
        int code;
        const char* size;
        const char* rate;
    };
    for (const Case& c : {Case{108, "720x480", "29.97"}, Case{109, "720x576", "25"}}) {
        SCOPED_TRACE(c.code);
        const auto list = [&](const char* key) {
            return listOf(profile, c.code, QString::fromLatin1(key)).value_or(QStringList{});
        };
        EXPECT_EQ(list("VideoSize"), QStringList{QString::fromLatin1(c.size)});
        EXPECT_EQ(list("FrameRate"), QStringList{QString::fromLatin1(c.rate)});
        EXPECT_EQ(list("VideoEncoder"), QStringList{QStringLiteral("dvvideo")});
        EXPECT_EQ(list("SampleRate"), QStringList{QStringLiteral("48000")});
        EXPECT_EQ(list("AudioEncoder"), QStringList{QStringLiteral("pcm_s16")});
        EXPECT_EQ(list("Channel"), QStringList{QStringLiteral("stereo 2 channels")});
    }
}

TEST(DeliveredProfile, H264FormatsCarryValidTuningValues) {
    const IniFile profile = installedProfile();
    for (int code : {1, 103}) {
        SCOPED_TRACE(code);
        const QString section = formatSection(code);
        const QString bitExact = profile.readString(section, QStringLiteral("paraBitExact"), {});
        EXPECT_TRUE(bitExact == QLatin1String("true") || bitExact == QLatin1String("false"));
        for (const char* key :
             {"paraMaxBitrate", "paraBufferSize", "paraLevel", "paraQscale", "paraGop"})
            EXPECT_TRUE(isPositiveInteger(profile.readString(section, QLatin1String(key), {})))
                << key;
        const std::optional<int64_t> coder =
            integerValue(profile.readString(section, QStringLiteral("paraCoder"), {}));
        ASSERT_TRUE(coder.has_value());
        EXPECT_GE(*coder, 0);
        EXPECT_EQ(listOf(profile, code, QStringLiteral("VideoEncoder")),
                  QStringList{QStringLiteral("H264")});
    }
}

TEST(DeliveredInstall, FirstStartCreatesBothFilesAndTheFolder) {
    ASSERT_FALSE(QFileInfo::exists(QFileInfo(profilePath()).absolutePath()));
    QString error = QStringLiteral("stale");
    ASSERT_TRUE(installDeliveredFiles(settingsPath(), profilePath(), &error));
    EXPECT_TRUE(error.isEmpty());

    // The installed profile is the one in the source tree, byte for byte, and writable by
    // its owner although it came from a read-only resource.
    const QByteArray shipped =
        readBytes(QStringLiteral(VORLIN_SOURCE_DATA_DIR "/vorlinmovmp4format.ini"));
    ASSERT_FALSE(shipped.isEmpty());
    EXPECT_EQ(readBytes(profilePath()), shipped);
    EXPECT_TRUE(QFileInfo(profilePath()).isWritable());

    const IniFile settings(settingsPath());
    for (int code : kDeliveredFormatCodes)
        EXPECT_TRUE(settings.sectionExists(formatSection(code))) << code;

    // Nothing but the two files is left in the folder.
    const QStringList names = QDir(QFileInfo(settingsPath()).absolutePath())
                                  .entryList(QDir::Files | QDir::Hidden | QDir::System);
    EXPECT_EQ(names.size(), 2) << names.join(QLatin1Char(' ')).toStdString();
}

TEST(DeliveredInstall, ExistingFilesAreNeverReplaced) {
    const QByteArray mySettings = "[settings]\nFormatCode=104\n";
    const QByteArray myProfile = "[formatInfo104]\nFileExt=xyz\nAudioEncoder=OGG\n";
    struct Case {
        const char* name;
        bool settingsThere;
        bool profileThere;
    };
    for (const Case& c : {Case{"both", true, true}, Case{"settings only", true, false},
                          Case{"profile only", false, true}}) {
        SCOPED_TRACE(c.name);
        QFile::remove(settingsPath());
        QFile::remove(profilePath());
        if (c.settingsThere)
            writeBytes(settingsPath(), mySettings);
        if (c.profileThere)
            writeBytes(profilePath(), myProfile);

        ASSERT_TRUE(installDeliveredFiles(settingsPath(), profilePath()));
        if (c.settingsThere) {
            EXPECT_EQ(readBytes(settingsPath()), mySettings);
        } else {
            // New settings follow the profile the program will read: the one on disk.
            EXPECT_EQ(IniFile(settingsPath())
                          .readString(QStringLiteral("formatInfo104"),
                                      QStringLiteral("paraAudioEncoder"), {}),
                      QStringLiteral("vorbis"));
        }
        if (c.profileThere)
            EXPECT_EQ(readBytes(profilePath()), myProfile);
        else
            EXPECT_TRUE(IniFile(profilePath()).sectionExists(QStringLiteral("formatInfo206")));
    }
}

TEST(DeliveredInstall, SecondStartKeepsTheUsersChanges) {
    ASSERT_TRUE(installDeliveredFiles(settingsPath(), profilePath()));
    IniFile settings(settingsPath());
    ASSERT_TRUE(settings.writeString(QStringLiteral("formatInfo104"),
                                     QStringLiteral("paraVideoSize"), QStringLiteral("320x240")));
    const QByteArray changedSettings = readBytes(settingsPath());
    const QByteArray profileBefore = readBytes(profilePath());

    ASSERT_TRUE(installDeliveredFiles(settingsPath(), profilePath()));
    EXPECT_EQ(readBytes(settingsPath()), changedSettings);
    EXPECT_EQ(readBytes(profilePath()), profileBefore);
}

TEST(DeliveredInstall, DanglingLinkIsNotWrittenThrough) {
    const QString target = test::testHome() + QStringLiteral("/elsewhere.ini");
    QDir().mkpath(QFileInfo(settingsPath()).absolutePath());
    ASSERT_TRUE(QFile::link(target, settingsPath()));

    installDeliveredFiles(settingsPath(), profilePath());
    EXPECT_TRUE(QFileInfo(settingsPath()).isSymLink());
    EXPECT_FALSE(QFileInfo::exists(target));
}

TEST(DeliveredInstall, UnwritableFolderIsReported) {
    // A plain file where the data folder should be: nothing can be created below it.
    writeBytes(test::testHome() + QStringLiteral("/data"), "not a folder");
    QString error;
    EXPECT_FALSE(installDeliveredFiles(settingsPath(), profilePath(), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(settingsPath()));
    EXPECT_FALSE(QFileInfo::exists(profilePath()));
}

TEST(DeliveredInstall, SettingsHoldTheStoredValuesOfTheDefaults) {
    installedProfile();
    const IniFile settings(settingsPath());
    struct Case {
        int code;
        const char* key;
        const char* value; // nullptr: the key must be absent
    };
    const Case cases[] = {
        {0, "paraVideoEncoder", "mpeg4"},
        {0, "paraVideoSize", "640x480"},
        {0, "paraAudioEncoder", "libfaac"},
        {1, "paraVideoEncoder", "libx264"},
        {1, "paraVideoBitRate", "1500"},
        {1, "paraFrameRate", "29.97"},
        {1, "paraLevel", "30"},
        {1, "paraCoder", "0"},
        {1, "paraBitExact", nullptr}, // "false" is not copied
        {100, "paraVideoEncoder", "mpeg1video"},
        {100, "paraAudioEncoder", "mp2"},
        {101, "paraVideoEncoder", "mpeg2video"},
        {101, "paraSampleRate", "48000"},
        {102, "paraLevel", nullptr}, // not an H.264 format
        {103, "paraVideoSize", "as source"},
        {103, "paraGop", "250"},
        {105, "paraVideoEncoder", "wmv2"},
        {105, "paraAudioEncoder", "wmav2"},
        {107, "paraVideoEncoder", "libxvid"},
        {108, "paraVideoSize", "720x480"},
        {108, "paraFrameRate", "29.97"},
        {108, "paraAudioEncoder", "pcm_s16le"},
        {108, "paraAudioBitRate", ""}, // no list: the field shows nothing
        {108, "iAudioBitRate", "-1"},
        {109, "paraVideoSize", "720x576"},
        {109, "paraFrameRate", "25"},
        {200, "paraAudioEncoder", "libmp3lame"},
        {200, "paraAudioBitRate", "128"},
        {201, "paraAudioEncoder", "libfaac"},
        {203, "paraAudioEncoder", "wmav2"},
        {204, "paraAudioEncoder", "pcm_s16le"},
        {205, "paraAudioEncoder", "vorbis"},
        {206, "paraAudioEncoder", "ac3"},
        {206, "paraSampleRate", "48000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QStringLiteral("%1 %2").arg(c.code).arg(QLatin1String(c.key)).toStdString());
        const bool present = settings.valueExists(formatSection(c.code), QLatin1String(c.key));
        ASSERT_EQ(present, c.value != nullptr);
        if (present) {
            EXPECT_EQ(settings.readString(formatSection(c.code), QLatin1String(c.key), {}),
                      QString::fromLatin1(c.value));
        }
    }
}

TEST(DeliveredInstall, EveryFormatConvertsWithItsDefaults) {
    installedProfile();
    const IniFile settings(settingsPath());
    for (int code : kDeliveredFormatCodes) {
        SCOPED_TRACE(code);
        const QString section = formatSection(code);
        const auto read = [&](const char* key) {
            return settings.readString(section, QLatin1String(key), QStringLiteral("<none>"));
        };
        // Video formats keep their video; audio formats stay audio only.
        EXPECT_EQ(settings.valueExists(section, QStringLiteral("paraVideoEncoder")),
                  isVideoFormat(code));
        if (isVideoFormat(code)) {
            EXPECT_TRUE(isEvenSize(read("paraVideoSize")) ||
                        read("paraVideoSize") == QLatin1String("as source"));
            EXPECT_TRUE(isPositiveInteger(read("paraVideoBitRate")));
            EXPECT_EQ(read("paraZoom"), QLatin1String(kInstalledZoom));
        }
        EXPECT_FALSE(read("paraAudioEncoder").trimmed().isEmpty());
        EXPECT_EQ(read("paraChannel"), QStringLiteral("2"));
        EXPECT_EQ(read("paraVolume"), QStringLiteral("256"));
        EXPECT_TRUE(isPositiveInteger(read("paraSampleRate")));
    }
}

TEST(DeliveredInstall, IndexKeysMatchTheProfilesDefaults) {
    const IniFile profile = installedProfile();
    const IniFile settings(settingsPath());
    for (int code : kDeliveredFormatCodes) {
        for (const char* key : kListKeys) {
            const QString listKey = QString::fromLatin1(key);
            if (!listOf(profile, code, listKey))
                continue;
            EXPECT_EQ(settings.readInteger(formatSection(code), indexKeyOf(listKey), -2),
                      profile.readInteger(formatSection(code), indexKeyOf(listKey), -3))
                << code << " " << key;
        }
    }
}

// A profile written by the test, for the rules the delivered one does not exercise.
class ProfileDefaults : public ::testing::Test {
protected:
    void SetUp() override {
        profilePath_ = test::testHome() + QStringLiteral("/profile.ini");
        settingsPath_ = test::testHome() + QStringLiteral("/settings.ini");
    }

    void writeProfile(const QByteArray& text) { writeBytes(profilePath_, text); }

    QString stored(const char* key) const {
        return IniFile(settingsPath_)
            .readString(QStringLiteral("formatInfo7"), QLatin1String(key),
                        QStringLiteral("<none>"));
    }

    bool run() {
        IniFile settings(settingsPath_);
        return writeProfileDefaults(IniFile(profilePath_), settings, 7);
    }

    QString profilePath_;
    QString settingsPath_;
};

TEST_F(ProfileDefaults, GsmForcesEightKilohertzMono) {
    writeProfile("[formatInfo7]\n"
                 "AudioEncoder=MP3,GSM\niAudioEncoder=1\n"
                 "SampleRate=44100\nChannel=stereo 2 channels\n");
    ASSERT_TRUE(run());
    EXPECT_EQ(stored("paraAudioEncoder"), QStringLiteral("libgsm"));
    EXPECT_EQ(stored("paraSampleRate"), QStringLiteral("8000"));
    EXPECT_EQ(stored("paraChannel"), QStringLiteral("1"));
    EXPECT_EQ(stored("iAudioEncoder"), QStringLiteral("1"));
    EXPECT_EQ(stored("iSampleRate"), QStringLiteral("0"));
}

TEST_F(ProfileDefaults, UnknownEntriesStoreNothingAndBadPositionsShowNothing) {
    writeProfile("[formatInfo7]\n"
                 "VideoEncoder=Cinepak\nVideoSize=640x480,320x240\niVideoSize=5\n"
                 "VideoBitRate=\nFrameRate=25\n"
                 "AudioEncoder=AAC\nVolume=110%\nChannel=Stereo\niChannel=-4\n");
    ASSERT_TRUE(run());
    // The video side is still written, so the format is not taken for audio only...
    EXPECT_EQ(stored("iVideoEncoder"), QStringLiteral("0"));
    EXPECT_EQ(stored("paraVideoEncoder"), QStringLiteral("<none>"));
    EXPECT_EQ(stored("paraZoom"), QStringLiteral("lbox"));
    // ...with empty texts where the list shows nothing.
    EXPECT_EQ(stored("paraVideoSize"), QString());
    EXPECT_EQ(stored("iVideoSize"), QStringLiteral("-1"));
    EXPECT_EQ(stored("paraVideoBitRate"), QString());
    EXPECT_EQ(stored("iVideoBitRate"), QStringLiteral("-1"));
    EXPECT_EQ(stored("paraFrameRate"), QStringLiteral("25"));
    EXPECT_EQ(stored("paraVolume"), QStringLiteral("<none>"));
    EXPECT_EQ(stored("iVolume"), QStringLiteral("0"));
    EXPECT_EQ(stored("paraChannel"), QStringLiteral("<none>"));
    EXPECT_EQ(stored("iChannel"), QStringLiteral("-1"));
    EXPECT_EQ(stored("paraAudioEncoder"), QStringLiteral("libfaac"));
    // No i-key in the profile means its first entry.
    EXPECT_EQ(stored("iAudioEncoder"), QStringLiteral("0"));
}

TEST_F(ProfileDefaults, FormatWithoutEncoderListsGetsNoKeysForThatSide) {
    writeProfile("[formatInfo7]\n"
                 "VideoEncoder=null\nVideoSize=640x480\nFrameRate=25\n"
                 "AudioEncoder=\nSampleRate=44100\n");
    ASSERT_TRUE(run());
    for (const char* key : {"paraVideoEncoder", "paraVideoSize", "paraFrameRate", "paraZoom",
                            "iVideoSize", "paraAudioEncoder", "paraSampleRate", "iSampleRate"})
        EXPECT_EQ(stored(key), QStringLiteral("<none>")) << key;
}

TEST_F(ProfileDefaults, H264TuningIsCopiedOnlyWhenValid) {
    writeProfile("[formatInfo7]\n"
                 "VideoEncoder=h264\n"
                 "paraBitExact=TRUE\nparaMaxBitrate=4000\nparaBufferSize=abc\n"
                 "paraLevel=-1\nparaQscale=2.5\nparaGop=0\nparaCoder=0\n");
    ASSERT_TRUE(run());
    EXPECT_EQ(stored("paraVideoEncoder"), QStringLiteral("libx264"));
    EXPECT_EQ(stored("paraBitExact"), QStringLiteral("TRUE"));
    EXPECT_EQ(stored("paraMaxBitrate"), QStringLiteral("4000"));
    EXPECT_EQ(stored("paraCoder"), QStringLiteral("0"));
    for (const char* key : {"paraBufferSize", "paraLevel", "paraQscale", "paraGop"})
        EXPECT_EQ(stored(key), QStringLiteral("<none>")) << key;
}

TEST_F(ProfileDefaults, TuningIsNotCopiedForOtherEncoders) {
    writeProfile("[formatInfo7]\n"
                 "VideoEncoder=MPEG-4,H264\n"
                 "paraBitExact=true\nparaGop=250\n");
    ASSERT_TRUE(run());
    EXPECT_EQ(stored("paraVideoEncoder"), QStringLiteral("mpeg4"));
    EXPECT_EQ(stored("paraBitExact"), QStringLiteral("<none>"));
    EXPECT_EQ(stored("paraGop"), QStringLiteral("<none>"));
}

} // namespace
} // namespace vorlin::formats
