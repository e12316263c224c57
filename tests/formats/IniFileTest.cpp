#include "formats/IniFile.h"

#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace vorlin::formats {
namespace {

QString iniPath(const QString& name = QStringLiteral("test.ini")) {
    return test::testHome() + QLatin1Char('/') + name;
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray readBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// Text as a test writes it (LF endings) turned into the given ending style, optionally
// with a UTF-8 byte-order mark.
QByteArray styled(QByteArray text, bool crlf, bool bom) {
    if (crlf)
        text.replace("\n", "\r\n");
    if (bom)
        text.prepend("\xEF\xBB\xBF");
    return text;
}

const QByteArray kSample = "; settings of the converter\n"
                           "[settings]\n"
                           "  OutPutDir  =  /home/u/my videos  \n"
                           "snapOutPutDir=/home/u/snaps\n"
                           "volume= 64\n"
                           "empty=\n"
                           "\n"
                           "[formatInfo104]\n"
                           "paraZoom=lbox\n"
                           "VideoSize=320x240,640x480,\n";

TEST(IniRead, NamesCompareWithoutCaseAndValuesAreTrimmed) {
    writeBytes(iniPath(), kSample);
    const IniFile ini(iniPath());
    struct Case {
        const char* section;
        const char* key;
        const char* expected;
    };
    const Case cases[] = {
        {"settings", "OutPutDir", "/home/u/my videos"},
        {"SETTINGS", "outputdir", "/home/u/my videos"},
        {"settings", "SnapOutPutDir", "/home/u/snaps"},
        {"Settings", "snapoutputdir", "/home/u/snaps"},
        {"settings", "volume", "64"},
        {"settings", "empty", ""}, // present but empty is not the default
        {"FORMATINFO104", "parazoom", "lbox"},
        {"formatInfo104", "paraZoom", "lbox"},
        {"formatInfo104", "VideoSize", "320x240,640x480,"},
        {"settings", "missing", "<default>"},
        {"formatInfo105", "paraZoom", "<default>"},
        {"formatInfo104", "OutPutDir", "<default>"}, // keys belong to their section
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(ini.readString(c.section, c.key, "<default>"), QString::fromUtf8(c.expected));
    }
    EXPECT_TRUE(ini.sectionExists("FormatInfo104"));
    EXPECT_FALSE(ini.sectionExists("formatInfo1"));
    EXPECT_TRUE(ini.valueExists("SETTINGS", "Empty"));
    EXPECT_FALSE(ini.valueExists("settings", "nothing"));
}

TEST(IniRead, MissingFileGivesDefaults) {
    const IniFile ini(iniPath("absent.ini"));
    EXPECT_EQ(ini.readString("settings", "OutPutDir", "c:\\videoconverter"), "c:\\videoconverter");
    EXPECT_EQ(ini.readInteger("settings", "volume", 17), 17);
    EXPECT_TRUE(ini.readBool("lstformat", "0", true));
    EXPECT_FALSE(ini.sectionExists("settings"));
    EXPECT_FALSE(ini.valueExists("settings", "volume"));
    EXPECT_FALSE(QFile::exists(iniPath("absent.ini"))); // reading creates nothing
}

TEST(IniRead, IntegersAreWholeDecimalTexts) {
    struct Case {
        const char* text;
        int expected; // -999 stands for "the default"
    };
    const Case cases[] = {
        {"42", 42},
        {"  -7  ", -7},
        {"+5", 5},
        {"0", 0},
        {"007", 7},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"2147483648", -999},
        {"99999999999999999999", -999},
        {"12abc", -999},
        {"abc", -999},
        {"", -999},
        {"-", -999},
        {"1.5", -999},
        {"0x10", -999},
        {"1 2", -999},
        {"--1", -999},
    };
    QByteArray text = "[s]\n";
    for (std::size_t i = 0; i < std::size(cases); ++i)
        text += "k" + QByteArray::number(qulonglong(i)) + "=" + cases[i].text + "\n";
    writeBytes(iniPath(), text);
    const IniFile ini(iniPath());
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].text);
        EXPECT_EQ(ini.readInteger("s", "k" + QString::number(i), -999), cases[i].expected);
    }
}

TEST(IniRead, BooleansAreNonZeroIntegers) {
    struct Case {
        const char* text;
        int expected; // 0 false, 1 true, -1 "the default"
    };
    const Case cases[] = {{"1", 1},  {"0", 0},    {" 0 ", 0},   {"-1", 1}, {"2", 1},
                          {"+0", 0}, {"yes", -1}, {"true", -1}, {"", -1},  {"1x", -1}};
    QByteArray text = "[s]\n";
    for (std::size_t i = 0; i < std::size(cases); ++i)
        text += "k" + QByteArray::number(qulonglong(i)) + "=" + cases[i].text + "\n";
    writeBytes(iniPath(), text);
    const IniFile ini(iniPath());
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].text);
        const QString key = "k" + QString::number(i);
        if (cases[i].expected < 0) {
            EXPECT_TRUE(ini.readBool("s", key, true));
            EXPECT_FALSE(ini.readBool("s", key, false));
        } else {
            EXPECT_EQ(ini.readBool("s", key, !cases[i].expected), bool(cases[i].expected));
        }
    }
}

TEST(IniRead, DuplicatesFirstWinsAndOddLinesAreHarmless) {
    writeBytes(iniPath(), "stray=before any section\n"
                          "[a]\n"
                          "just some words\n"
                          "k=1\n"
                          "K=2\n"
                          "; j=commented\n"
                          "[b]\n"
                          "k=b\n"
                          "[A]\n"
                          "k=3\n"
                          "j=4\n"
                          "[broken\n"
                          "x=5\n");
    const IniFile ini(iniPath());
    EXPECT_EQ(ini.readString("a", "k", "-"), "1");
    EXPECT_EQ(ini.readString("a", "j", "-"), "-"); // only the first [a] counts
    EXPECT_EQ(ini.readString("a", "just some words", "-"), "-");
    EXPECT_FALSE(ini.valueExists("a", "; j"));
    EXPECT_EQ(ini.readString("b", "k", "-"), "b");
    EXPECT_EQ(ini.readString("", "stray", "-"), "-");
    EXPECT_EQ(ini.readString("broken", "x", "-"), "5");
}

TEST(IniRead, SeesChangesMadeBehindItsBack) {
    IniFile writer(iniPath());
    const IniFile reader(iniPath());
    ASSERT_TRUE(writer.writeString("settings", "FormatCode", "104"));
    EXPECT_EQ(reader.readString("settings", "FormatCode", "1"), "104");
    writeBytes(iniPath(), "[settings]\nFormatCode=200\n");
    EXPECT_EQ(reader.readString("settings", "FormatCode", "1"), "200");
    ASSERT_TRUE(QFile::remove(iniPath()));
    EXPECT_EQ(reader.readString("settings", "FormatCode", "1"), "1");
}

TEST(IniRead, VeryLongLine) {
    const QByteArray longValue(1 << 20, 'v');
    writeBytes(iniPath(), "[s]\nlong=" + longValue + "\nafter=1\n");
    IniFile ini(iniPath());
    EXPECT_EQ(ini.readString("s", "long", "").size(), longValue.size());
    EXPECT_EQ(ini.readInteger("s", "after", 0), 1);
    ASSERT_TRUE(ini.writeInteger("s", "after", 2));
    EXPECT_EQ(readBytes(iniPath()), "[s]\nlong=" + longValue + "\nafter=2\n");
}

TEST(IniWrite, CreatesFileSectionAndKey) {
    IniFile ini(iniPath());
    ASSERT_TRUE(ini.writeString("settings", "OutPutDir", "/home/u/videoconverter"));
    ASSERT_TRUE(ini.writeInteger("settings", "volume", -3));
    ASSERT_TRUE(ini.writeBool("lstformat", "0", true));
    ASSERT_TRUE(ini.writeBool("lstformat", "1", false));
    EXPECT_EQ(readBytes(iniPath()), "[settings]\n"
                                    "OutPutDir=/home/u/videoconverter\n"
                                    "volume=-3\n"
                                    "[lstformat]\n"
                                    "0=1\n"
                                    "1=0\n");
    EXPECT_EQ(ini.readInteger("settings", "volume", 0), -3);
    EXPECT_TRUE(ini.readBool("lstformat", "0", false));
    EXPECT_FALSE(ini.readBool("lstformat", "1", true));
}

// Replacing a key, adding a key to a section and adding a section leave every other byte
// alone, in every combination of line endings and byte-order mark.
TEST(IniWrite, KeepsCommentsOrderEndingsAndMark) {
    const QByteArray before = "; settings of the converter\n"
                              "[settings]\n"
                              "  OutPutDir  =  /old  \n"
                              "free text line\n"
                              "volume=64\n"
                              "; trailing comment\n"
                              "\n"
                              "[formatInfo104]\n"
                              "paraZoom=lbox\n";
    const QByteArray after = "; settings of the converter\n"
                             "[settings]\n"
                             "OutPutDir=/new dir\n"
                             "free text line\n"
                             "volume=64\n"
                             "mute=1\n"
                             "; trailing comment\n"
                             "\n"
                             "[formatInfo104]\n"
                             "paraZoom=full\n"
                             "[lstformat]\n"
                             "2=0\n";
    for (bool crlf : {false, true}) {
        for (bool bom : {false, true}) {
            SCOPED_TRACE(testing::Message() << "crlf " << crlf << " bom " << bom);
            writeBytes(iniPath(), styled(before, crlf, bom));
            IniFile ini(iniPath());
            ASSERT_TRUE(ini.writeString("SETTINGS", "outputdir", "/new dir"));
            ASSERT_TRUE(ini.writeBool("settings", "mute", true));
            ASSERT_TRUE(ini.writeString("formatinfo104", "PARAZOOM", "full"));
            ASSERT_TRUE(ini.writeBool("lstformat", "2", false));
            EXPECT_EQ(readBytes(iniPath()), styled(after, crlf, bom));
            EXPECT_EQ(ini.readString("settings", "OutPutDir", ""), "/new dir");
        }
    }
}

TEST(IniWrite, KeySpelledTwoWaysIsOneKey) {
    IniFile ini(iniPath());
    ASSERT_TRUE(ini.writeString("settings", "snapOutPutDir", "/a"));
    ASSERT_TRUE(ini.writeString("settings", "SnapOutPutDir", "/b"));
    ASSERT_TRUE(ini.writeString("formatInfo0", "parazoom", "pan"));
    ASSERT_TRUE(ini.writeString("FormatInfo0", "paraZoom", "center"));
    EXPECT_EQ(readBytes(iniPath()),
              "[settings]\nsnapOutPutDir=/b\n[formatInfo0]\nparazoom=center\n");
}

TEST(IniWrite, FileWithoutFinalLineEnding) {
    writeBytes(iniPath(), "[a]\r\nx=1");
    IniFile ini(iniPath());
    ASSERT_TRUE(ini.writeString("a", "y", "2"));
    ASSERT_TRUE(ini.writeString("b", "z", "3"));
    EXPECT_EQ(readBytes(iniPath()), "[a]\r\nx=1\r\ny=2\r\n[b]\r\nz=3");
}

TEST(IniWrite, KeepsPermissionsAndWritesThroughALink) {
    const QString target = iniPath("real.ini");
    writeBytes(target, "[a]\nk=1\n");
    const auto mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    ASSERT_TRUE(QFile::setPermissions(target, mode));
    ASSERT_TRUE(QFile::link(target, iniPath("link.ini")));

    IniFile ini(iniPath("link.ini"));
    ASSERT_TRUE(ini.writeString("a", "k", "2"));
    EXPECT_TRUE(QFileInfo(iniPath("link.ini")).isSymLink());
    EXPECT_EQ(readBytes(target), "[a]\nk=2\n");
    // Owner, group and others; the "user" bits only mirror the test's own access.
    EXPECT_EQ(QFile::permissions(target) & 0xF0FF, mode & 0xF0FF);
}

TEST(IniWrite, DuplicatesOnlyTheFirstIsChanged) {
    writeBytes(iniPath(), "[a]\nk=1\nk=2\n[a]\nk=3\n");
    IniFile ini(iniPath());
    ASSERT_TRUE(ini.writeString("A", "K", "9"));
    ASSERT_TRUE(ini.writeString("a", "new", "n"));
    EXPECT_EQ(readBytes(iniPath()), "[a]\nk=9\nk=2\nnew=n\n[a]\nk=3\n");
}

TEST(IniWrite, RefusesWhatCouldNotBeReadBack) {
    writeBytes(iniPath(), "[a]\nk=1\n");
    IniFile ini(iniPath());
    EXPECT_FALSE(ini.writeString("a", "k", "two\nlines"));
    EXPECT_FALSE(ini.writeString("a", "k", "cr\rinside"));
    EXPECT_FALSE(ini.writeString("a", "x=y", "1"));
    EXPECT_FALSE(ini.writeString("a", "", "1"));
    EXPECT_FALSE(ini.writeString("a", "; note", "1"));
    EXPECT_FALSE(ini.writeString("a]\n[b", "k", "1"));
    EXPECT_EQ(readBytes(iniPath()), "[a]\nk=1\n");
}

TEST(IniWrite, FailureLeavesNothingBehind) {
    // A folder that does not exist: no file, and no folder, appears.
    IniFile inMissingFolder(iniPath("missing/settings.ini"));
    EXPECT_FALSE(inMissingFolder.writeString("s", "k", "v"));
    EXPECT_FALSE(QDir(iniPath("missing")).exists());

    // A path that is a folder: it stays a folder with its content.
    ASSERT_TRUE(QDir().mkpath(iniPath("folder.ini")));
    writeBytes(iniPath("folder.ini/inside"), "x");
    IniFile onFolder(iniPath("folder.ini"));
    EXPECT_FALSE(onFolder.writeString("s", "k", "v"));
    EXPECT_EQ(readBytes(iniPath("folder.ini/inside")), "x");

    // On the proc file system nothing can be created.
    IniFile inProc(QStringLiteral("/proc/vorlin-test.ini"));
    EXPECT_FALSE(inProc.writeString("s", "k", "v"));
}

TEST(IniWrite, ReplacesTheFileWholeAndLeavesNoTemporaryFiles) {
    // A reader running beside a writer must always see a complete file: the key at the very
    // end is there in every read, with one of the values written.
    const QString path = iniPath();
    QByteArray big = "[s]\n";
    for (int i = 0; i < 2000; ++i)
        big += "filler" + QByteArray::number(i) + "=" + QByteArray(40, 'f') + "\n";
    big += "[end]\nlast=0\n";
    writeBytes(path, big);

    std::atomic<bool> done{false};
    std::atomic<int> incomplete{0};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        const IniFile ini(path);
        while (!done) {
            const int value = ini.readInteger("end", "last", -1);
            if (value < 0 || value > 100)
                ++incomplete;
            ++reads;
        }
    });
    IniFile writer(path);
    for (int i = 1; i <= 100; ++i)
        ASSERT_TRUE(writer.writeInteger("end", "last", i));
    done = true;
    reader.join();
    EXPECT_EQ(incomplete, 0);
    EXPECT_GT(reads, 0);
    EXPECT_EQ(writer.readInteger("end", "last", -1), 100);
    EXPECT_EQ(writer.readInteger("s", "filler1999", -1), -1); // text, so the default
    EXPECT_TRUE(writer.valueExists("s", "filler1999"));
    EXPECT_EQ(QDir(test::testHome()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("test.ini")});
}

TEST(IniWrite, ConcurrentWritersLoseNoKey) {
    constexpr int kKeys = 200;
    const QString path = iniPath();
    // The two writers name the file differently; both names lead to the same file.
    const QString otherSpelling = test::testHome() + QStringLiteral("/./sub/../test.ini");
    ASSERT_TRUE(QDir().mkpath(test::testHome() + QStringLiteral("/sub")));
    auto writeKeys = [](QString file, QString prefix) {
        IniFile ini(file);
        for (int i = 0; i < kKeys; ++i)
            EXPECT_TRUE(ini.writeInteger("shared", prefix + QString::number(i), i));
    };
    std::thread first(writeKeys, path, QStringLiteral("a"));
    std::thread second(writeKeys, otherSpelling, QStringLiteral("b"));
    first.join();
    second.join();

    const IniFile ini(path);
    int missing = 0;
    for (const char* prefix : {"a", "b"}) {
        for (int i = 0; i < kKeys; ++i) {
            if (ini.readInteger("shared", prefix + QString::number(i), -1) != i)
                ++missing;
        }
    }
    EXPECT_EQ(missing, 0);
}

TEST(ProfileList, SplitsAtEveryComma) {
    struct Case {
        const char* text;
        QStringList expected;
    };
    const Case cases[] = {
        {"", {}},
        {"320x240", {"320x240"}},
        {"320x240,640x480,", {"320x240", "640x480", ""}},
        {"a,,b", {"a", "", "b"}},
        {",,", {"", "", ""}},
        {",", {"", ""}},
        {" as source , 25", {" as source ", " 25"}},
        {" ", {" "}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(splitProfileList(QString::fromUtf8(c.text)), c.expected);
    }
}

TEST(ProfileList, WhenAListCountsAsAbsent) {
    struct Case {
        const char* key;
        const char* value;
        bool absent;
    };
    const Case cases[] = {
        {"VideoSize", "null", true},
        {"VideoSize", "", false},
        {"videosize", "", false},
        {"VIDEOBITRATE", "", false},
        {"VideoBitRate", "null", true},
        {"FrameRate", "", false},
        {"FrameRate", "25,29.97", false},
        {"VideoEncoder", "", true},
        {"VideoEncoder", "null", true},
        {"audioencoder", "", true},
        {"AudioBitRate", "", true},
        {"SampleRate", "", true},
        {"Channel", "", true},
        {"Volume", "null", true},
        {"Volume", "256", false},
        {"Channel", "1,2", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.value);
        EXPECT_EQ(profileListAbsent(QString::fromUtf8(c.key), QString::fromUtf8(c.value)),
                  c.absent);
    }
}

TEST(ProfileList, SectionNames) {
    EXPECT_EQ(formatSection(0), "formatInfo0");
    EXPECT_EQ(formatSection(104), "formatInfo104");
    EXPECT_EQ(formatSection(206), "formatInfo206");
}

} // namespace
} // namespace vorlin::formats
