#include "formats/OutputName.h"
#include "formats/IniFile.h"

#include "support/TestEnv.h"
#include "widgets/Dialogs.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

using vorlin::formats::IniFile;
using vorlin::formats::MakeOutputName;

class OutputNameTest : public testing::Test {
protected:
    void SetUp() override {
        home = vorlin::test::testHome();
        settingsFile = home + "/settings.ini";
        out = home + "/out put";
        QDir().mkpath(out);
        IniFile(settingsFile).writeString("settings", "OutPutDir", out);
    }
    void touch(const QString& name) {
        QFile f(out + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QString home, settingsFile, out;
    vorlin::widgets::ScopedDialogRecorder dialogs;
};

TEST_F(OutputNameTest, FirstFreeNumberedNameIsChosen) {
    EXPECT_EQ(MakeOutputName(settingsFile, "/src/My.Clip.mov", ".mp4"), out + "/My.Clip_(new).mp4");
    touch("My.Clip_(new).mp4");
    touch("My.Clip_(new_1).mp4");
    EXPECT_EQ(MakeOutputName(settingsFile, "/src/My.Clip.mov", ".mp4"),
              out + "/My.Clip_(new_2).mp4");
    // Another suffix is its own series.
    EXPECT_EQ(MakeOutputName(settingsFile, "/src/My.Clip.mov", ".avi"), out + "/My.Clip_(new).avi");
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(OutputNameTest, NamesHandedOutInTheSameRunCountAsTaken) {
    QSet<QString> taken;
    const QString first = MakeOutputName(settingsFile, "/a/clip.mov", ".mp4", &taken);
    taken.insert(first);
    const QString second = MakeOutputName(settingsFile, "/b/clip.MOV", ".mp4", &taken);
    EXPECT_EQ(first, out + "/clip_(new).mp4");
    EXPECT_EQ(second, out + "/clip_(new_1).mp4");
}

TEST_F(OutputNameTest, MissingFoldersAreCreated) {
    const QString nested = home + "/a/b/c";
    IniFile(settingsFile).writeString("settings", "OutPutDir", nested + "/");
    EXPECT_EQ(MakeOutputName(settingsFile, "/x/clip.qt", ".dv"), nested + "/clip_(new).dv");
    EXPECT_TRUE(QDir(nested).exists());
}

TEST_F(OutputNameTest, UncreatableFolderFallsBackToTheDefaultAndIsStored) {
    // A path below a regular file can never be created, not even by root.
    touch("plainfile");
    const QString bad = out + "/plainfile/sub";
    IniFile(settingsFile).writeString("settings", "OutPutDir", bad);
    const QString name = MakeOutputName(settingsFile, "/x/clip.mov", ".mp4");
    const QString fallback = home + "/videoconverter";
    EXPECT_EQ(name, fallback + "/clip_(new).mp4");
    EXPECT_TRUE(QDir(fallback).exists());
    EXPECT_EQ(IniFile(settingsFile).readString("settings", "OutPutDir", ""), fallback);
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].title, "Warning");
    EXPECT_EQ(dialogs->shown[0].text, "Cannot create output directory:" + bad +
                                          ".It will create default directory " + fallback + "!");
}

} // namespace
