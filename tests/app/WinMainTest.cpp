#include "app/WinMain.h"
#include "app/GlobalUnit.h"
#include "app/WinCover.h"

#include "jobs/JobListView.h"

#include "formats/IniFile.h"
#include "platform/Platform.h"
#include "platform/Shell.h"
#include "preview/WinAbout.h"
#include "support/TestEnv.h"
#include "widgets/Dialogs.h"
#include "widgets/ThemeManager.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <memory>

namespace {

using vorlin::formats::IniFile;

QString settingsPath() {
    return vorlin::platform::specialFolder(vorlin::platform::kCommonAppDataFolder) +
           "vorlinmovmp4converter.ini";
}

QString formatPath() {
    return vorlin::platform::specialFolder(vorlin::platform::kCommonAppDataFolder) +
           "vorlinmovmp4format.ini";
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A main window created and shown the way the program does it, with dialogs answered by a
// recorder and shell actions recorded. The window is destroyed without the exit question.
class MainWindowTest : public testing::Test {
protected:
    void settings(const QString& key, const QString& value) {
        IniFile(settingsPath()).writeString("settings", key, value);
    }
    TfrmMain& open() {
        window = std::make_unique<TfrmMain>();
        window->show();
        return *window;
    }
    void TearDown() override {
        if (window && GlobalObj) {
            dialogs->answers.push_back(true);
            window->close();
        }
        window.reset();
        GlobalObj.reset();
    }

    vorlin::widgets::ScopedDialogRecorder dialogs;
    vorlin::platform::ScopedShellRecorder shell;
    std::unique_ptr<TfrmMain> window;
};

TEST_F(MainWindowTest, FirstStartCreatesBothFilesAndFallsBackToTheHomeFolder) {
    ASSERT_FALSE(QFile::exists(settingsPath()));
    TfrmMain& w = open();

    const QString expectedFolder = vorlin::test::testHome() + "/videoconverter";
    IniFile ini(settingsPath());
    EXPECT_EQ(ini.readString("settings", "OutPutDir", ""), expectedFolder);
    EXPECT_EQ(ini.readString("settings", "SnapOutPutDir", ""), expectedFolder);
    EXPECT_EQ(w.edDirectory->text(), expectedFolder);
    EXPECT_TRUE(ini.sectionExists("formatInfo104"));

    IniFile profile(formatPath());
    for (int code : {0, 1, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 200, 201, 202, 203,
                     204, 205, 206})
        EXPECT_TRUE(profile.sectionExists(vorlin::formats::formatSection(code))) << code;

    EXPECT_EQ(w.windowTitle(), "Vorlin MOV to MP4 Converter 1.100 ");
    EXPECT_EQ(w.size(), QSize(786, 480));
    EXPECT_EQ(w.FormatCode, "1");
    EXPECT_EQ(w.suiFileTheme1->theme(), 0);
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(MainWindowTest, ExistingProfileAndSettingsAreNeverReplaced) {
    QDir().mkpath(QFileInfo(settingsPath()).path());
    {
        QFile f(formatPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[formatInfo1]\nFileExt=mkv\n");
    }
    settings("FormatCode", "205");
    open();
    EXPECT_EQ(readAll(formatPath()), "[formatInfo1]\nFileExt=mkv\n");
    EXPECT_EQ(IniFile(settingsPath()).readString("settings", "FormatCode", ""), "205");
    EXPECT_EQ(window->FormatCode, "205");
}

TEST_F(MainWindowTest, AWritableOutputFolderIsKept) {
    const QString folder = vorlin::test::testHome() + "/my clips";
    QDir().mkpath(folder);
    settings("OutPutDir", folder);
    settings("SnapOutPutDir", "/nonexistent/place");
    open();
    IniFile ini(settingsPath());
    EXPECT_EQ(ini.readString("settings", "OutPutDir", ""), folder);
    EXPECT_EQ(window->edDirectory->text(), folder);
    EXPECT_EQ(ini.readString("settings", "SnapOutPutDir", ""),
              vorlin::test::testHome() + "/videoconverter");
}

TEST_F(MainWindowTest, VolumeAndMuteFollowTheStoredValues) {
    struct {
        const char* volume; // nullptr: key absent
        const char* mute;
        int slider;
        bool muted;
    } const cases[] = {
        {nullptr, nullptr, 0, false}, {"200", "1", 64, true}, {"128", "0", 128, false},
        {"-1", "2", 64, false},       {"0", "x", 0, false},   {"64", "1", 64, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << (c.volume ? c.volume : "absent") << " / " << (c.mute ? c.mute : "absent"));
        QFile::remove(settingsPath());
        if (c.volume)
            settings("volume", c.volume);
        if (c.mute)
            settings("mute", c.mute);
        open();
        EXPECT_EQ(window->trcVolume->value(), c.slider);
        EXPECT_EQ(window->ckMute->isChecked(), c.muted);
        TearDown();
    }
}

TEST_F(MainWindowTest, MuteTwoKeepsTheBoxAsItWas) {
    settings("mute", "1");
    open();
    ASSERT_TRUE(window->ckMute->isChecked());
    settings("mute", "2");
    window->hide();
    window->show(); // shown again, as after a skin change
    EXPECT_TRUE(window->ckMute->isChecked());
}

TEST_F(MainWindowTest, StoredSkinIsAppliedAndOutOfRangeKeepsTheDesignTheme) {
    struct {
        const char* stored;
        int theme;
    } const cases[] = {{"5", 5}, {"0", 0}, {"7", 0}, {"-1", 0}, {"Green", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        QFile::remove(settingsPath());
        settings("skinIndex", c.stored);
        open();
        EXPECT_EQ(window->suiFileTheme1->theme(), c.theme);
        EXPECT_EQ(window->property("vorlinTheme").toInt(), c.theme);
        TearDown();
    }
}

TEST_F(MainWindowTest, SkinMenuChecksTheStoredSkinOnly) {
    settings("skinIndex", "3");
    open();
    window->Skin1Click();
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(window->SkinItems[i]->isChecked(), i == 3) << i;

    settings("skinIndex", "9");
    for (QAction* item : window->SkinItems)
        item->setChecked(false);
    window->Skin1Click();
    for (QAction* item : window->SkinItems)
        EXPECT_FALSE(item->isChecked());
}

TEST_F(MainWindowTest, ChoosingASkinRethemesWritesItAndDialogsFollow) {
    open();
    window->Skin1Click(); // no key: Default is checked
    ASSERT_TRUE(window->SkinItems[0]->isChecked());

    window->SkinClick(5);
    EXPECT_EQ(IniFile(settingsPath()).readInteger("settings", "skinIndex", -1), 5);
    EXPECT_EQ(window->suiFileTheme1->theme(), 5);
    EXPECT_TRUE(window->isVisible());
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(window->SkinItems[i]->isChecked(), i == 5) << i;

    // The about box opened afterwards wears the same skin.
    QTimer::singleShot(0, [] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* about = qobject_cast<TfrmAbout*>(w); about && about->isVisible()) {
                EXPECT_EQ(about->property("vorlinTheme").toInt(), 5);
                EXPECT_EQ(about->size(), QSize(330, 177));
                EXPECT_EQ(about->windowTitle(), "About");
                EXPECT_EQ(about->lblAppNameVer->text(), "Vorlin MOV to MP4 Converter 1.100 ");
                EXPECT_EQ(about->lblUrl->url(), GlobalObj->WebSiteURL());
                if (const QString dir = qEnvironmentVariable("VORLIN_SHOT_DIR"); !dir.isEmpty())
                    about->grab().save(dir + "/about.png");
                about->btn1->click();
            }
        }
    });
    window->About1Click();
}

TEST_F(MainWindowTest, ChoosingTheCheckedSkinDoesNothing) {
    open();
    window->SkinClick(2);
    settings("skinIndex", "6"); // a stale value proves the file is not written again
    int hides = 0;
    struct HideCounter : QObject {
        int* n;
        explicit HideCounter(int* count) : n(count) {}
        bool eventFilter(QObject*, QEvent* e) override {
            *n += e->type() == QEvent::Hide;
            return false;
        }
    } counter(&hides);
    window->installEventFilter(&counter);
    window->SkinClick(2);
    window->removeEventFilter(&counter);
    EXPECT_EQ(hides, 0);
    EXPECT_EQ(IniFile(settingsPath()).readInteger("settings", "skinIndex", -1), 6);
    EXPECT_EQ(window->suiFileTheme1->theme(), 2);
}

TEST_F(MainWindowTest, AnsweringNoToTheExitQuestionChangesNothing) {
    open();
    const QByteArray before = readAll(settingsPath());
    dialogs->answers.push_back(false);
    window->close();
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].title, "Warning");
    EXPECT_EQ(dialogs->shown[0].text, "Do you really want to exit?");
    EXPECT_TRUE(window->isVisible());
    EXPECT_NE(GlobalObj, nullptr);
    EXPECT_EQ(readAll(settingsPath()), before);

    dialogs->answers.push_back(true);
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(GlobalObj, nullptr);
}

TEST_F(MainWindowTest, HelpEntriesOpenTheirAddressesThroughTheShell) {
    open();
    window->HelpItem->trigger();
    window->WebSite1->trigger();
    window->Support1->trigger();
    ASSERT_EQ(shell->calls.size(), 3u);
    EXPECT_EQ(shell->calls[0].target, GlobalObj->HelpURL());
    EXPECT_EQ(shell->calls[1].target, GlobalObj->WebSiteURL());
    EXPECT_TRUE(shell->calls[2].target.endsWith("/support.htm"));
    for (const auto& call : shell->calls)
        EXPECT_EQ(call.kind, vorlin::platform::ShellRecorder::Call::OpenUrl);
}

TEST_F(MainWindowTest, FormatListClosesOnClicksOutsideTheChooserAndOnDeactivation) {
    open();
    window->lst1->show();
    // A press on the chooser's own field is not a click elsewhere.
    QTest::mousePress(window->edt1, Qt::LeftButton);
    EXPECT_TRUE(window->lst1->isVisible());
    QTest::mouseRelease(window->edt1, Qt::LeftButton);
    window->lst1->show();
    QTest::mouseClick(window->btnOpen, Qt::LeftButton);
    EXPECT_FALSE(window->lst1->isVisible());

    window->lst1->show();
    window->ApplicationEvents1Deactivate();
    EXPECT_FALSE(window->lst1->isVisible());
}

TEST(Splash, BuiltInPictureSizesTheWindowAndTheTimerWaitsForTheMainWindow) {
    TfrmCover cover;
    EXPECT_EQ(cover.imgCover->pixmap().size(), QSize(399, 239));
    cover.show();
    EXPECT_EQ(cover.size(), QSize(399, 239));
    EXPECT_TRUE(cover.tmr1->isActive());
    EXPECT_EQ(cover.tmr1->interval(), 1000);
    if (const QString dir = qEnvironmentVariable("VORLIN_SHOT_DIR"); !dir.isEmpty())
        cover.grab().save(dir + "/splash.png");

    QWidget main;
    cover.setMainWindow(&main);
    cover.tmr1Timer();
    EXPECT_TRUE(cover.isVisible()); // main window not showing yet
    main.show();
    cover.tmr1Timer();
    EXPECT_FALSE(cover.isVisible());
}

TEST_F(MainWindowTest, ToolButtonsShareOneTopBelowTheMenu) {
    EXPECT_EQ(TfrmMain::ToolButtonTop(0, 0, 26), 30);
    EXPECT_EQ(TfrmMain::ToolButtonTop(22, 0, 26), 55);
    open();
    EXPECT_EQ(window->btnAdd->y(), 30);
    EXPECT_EQ(window->btnExit->y(), window->btnAdd->y());
    EXPECT_EQ(window->lvFiles->columnCount(), 5);
}

} // namespace
