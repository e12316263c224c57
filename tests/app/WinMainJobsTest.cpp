#include "app/GlobalUnit.h"
#include "app/WinMain.h"

#include "formats/IniFile.h"
#include "jobs/JobListView.h"
#include "jobs/WinProgress.h"
#include "media/FFmpegVCL.h"
#include "platform/Platform.h"
#include "platform/Shell.h"
#include "support/Fixtures.h"
#include "support/TestEnv.h"
#include "widgets/Dialogs.h"
#include "widgets/ThemeManager.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <memory>

namespace {

using vorlin::formats::IniFile;
using vorlin::platform::ShellRecorder;
using vorlin::test::ffprobe;
using vorlin::test::ffprobeStream;

// A shown main window with recorded dialogs and shell actions, an output folder of the
// test's own, and small QuickTime files copied under names of the test's choosing.
class JobListTest : public testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<TfrmMain>();
        window->show();
        outDir = vorlin::test::testHome() + "/out";
        IniFile(GlobalObj->SettingsFile()).writeString("settings", "OutPutDir", outDir);
    }
    void TearDown() override {
        if (GlobalObj) {
            dialogs->answers.push_back(true);
            window->close();
        }
        window.reset();
        GlobalObj.reset();
    }
    // A copy of a 1 s 160x120 clip under the given name in the test's source folder.
    QString clip(const QString& name) {
        const QString fixture = vorlin::test::movFixture("joblist-160x120.mov", 160, 120, 1.0, 10);
        const QString path = vorlin::test::testHome() + "/src/" + name;
        QDir().mkpath(QFileInfo(path).path());
        QFile::copy(fixture, path);
        return path;
    }
    QString junk(const QString& name, const QByteArray& bytes) {
        const QString path = vorlin::test::testHome() + "/src/" + name;
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return path;
    }
    void add(const QStringList& files) {
        dialogs->files.push_back(files);
        window->btnAddClick();
    }
    TJobListView& list() { return *window->lvFiles; }
    QStringList column(int c) {
        QStringList out;
        for (int i = 0; i < list().rowCount(); ++i)
            out << list().row(i)->text(c);
        return out;
    }
    // Runs Start with a watchdog, so a run that never ends fails instead of hanging.
    void start(std::function<void(const PProgressInfo&)> onProgress = {}) {
        QMetaObject::Connection c;
        if (onProgress)
            c = QObject::connect(window->CCAVC, &TFFmpegVCL::OnProgress, window.get(), onProgress);
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [this] {
            ADD_FAILURE() << "run did not end";
            if (window->frmProgress)
                window->frmProgress->close();
        });
        watchdog.start(90000);
        window->btnStartClick();
        // A cancelled run's last notices arrive after the dialog has closed.
        EXPECT_TRUE(QTest::qWaitFor([this] { return window->btnAdd->isEnabled(); }, 5000));
        QObject::disconnect(c);
    }

    vorlin::widgets::ScopedDialogRecorder dialogs;
    vorlin::platform::ScopedShellRecorder shell;
    std::unique_ptr<TfrmMain> window;
    QString outDir;
};

TEST_F(JobListTest, AddKeepsMediaFilesOnceAndSkipsTheRestSilently) {
    const QString a = clip("a.mov");
    const QString b = clip("B.MOV");
    const QString c = clip("c.qt");
    QDir().mkpath(vorlin::test::testHome() + "/src/folder.mov");
    add({a, b, a, vorlin::test::testHome() + "/src/folder.mov", junk("text.mov", "not a movie"),
         junk("empty.mov", ""), c});

    EXPECT_EQ(column(0), (QStringList{a, b, c}));
    EXPECT_EQ(column(1), (QStringList{"1", "1", "1"}));
    EXPECT_EQ(column(2), (QStringList{"1", "1", "1"}));
    EXPECT_EQ(column(3), (QStringList{"a_(new)_ipod.mp4", "B_(new)_ipod.mp4", "c_(new)_ipod.mp4"}));
    EXPECT_EQ(column(4), (QStringList{"", "", ""}));
    EXPECT_TRUE(dialogs->messages().isEmpty());
    EXPECT_EQ(list().selectedIndex(), 0);
    EXPECT_TRUE(list().HasColumns());
    EXPECT_TRUE(window->btnStart->isEnabled());
    EXPECT_TRUE(window->btnRemove->isEnabled());
    EXPECT_EQ(window->CCAVC->TaskCount(), 0); // the converter only served to probe
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(list().row(i)->checked());
        const TlvFilesRecord& r = list().row(i)->Record;
        EXPECT_EQ(r.SourceFile, column(0)[i]);
        EXPECT_EQ(r.ZoomMode, "lbox"); // the first settings file letterboxes
        EXPECT_FALSE(r.needsFrameHook());
    }

    // A file already in the list adds nothing; the filter offers upper-case names too.
    list().selectRow(2);
    add({b});
    EXPECT_EQ(list().rowCount(), 3);
    EXPECT_TRUE(vorlin::widgets::qtFileFilter(dialogs->shown.back().text).contains("*.MOV"));
}

TEST_F(JobListTest, DroppedFilesAreAddedLikeChosenOnes) {
    const QString a = clip("drop.mov");
    emit list().filesDropped({a});
    EXPECT_EQ(column(0), QStringList{a});
    EXPECT_TRUE(TJobListView::IsQuickTimeFile("/x/CLIP.MoV"));
    EXPECT_TRUE(TJobListView::IsQuickTimeFile("/x/a.QT"));
    EXPECT_FALSE(TJobListView::IsQuickTimeFile("/x/a.mp4"));
    EXPECT_FALSE(TJobListView::IsQuickTimeFile("/x/mov"));
}

TEST_F(JobListTest, RemoveClearAndCheckMarks) {
    add({clip("1.mov"), clip("2.mov"), clip("3.mov")});
    list().selectRow(2);
    window->btnRemoveClick();
    EXPECT_EQ(list().rowCount(), 2);
    EXPECT_EQ(list().selectedIndex(), 1); // the new last row

    window->UncheckAll1Click();
    EXPECT_EQ(list().checkedCount(), 0);
    window->Check1Click();
    EXPECT_TRUE(list().row(1)->checked());
    window->ReserveCheck1Click();
    EXPECT_TRUE(list().row(0)->checked());
    EXPECT_FALSE(list().row(1)->checked());
    window->CheckAll1Click();
    EXPECT_EQ(list().checkedCount(), 2);

    // Menus: Check All is disabled while no row is selected, even with rows.
    list().clearSelection();
    window->Edit2Click();
    EXPECT_FALSE(window->CheckAll1->isEnabled());
    EXPECT_TRUE(window->WaterMark1->isVisible());
    window->suiPopupMenu1Popup();
    EXPECT_FALSE(window->PopStart->isEnabled());
    EXPECT_TRUE(window->AddFiles1->isEnabled());
    list().selectRow(0);
    window->Edit2Click();
    EXPECT_TRUE(window->CheckAll1->isEnabled());

    window->btnRemoveClick();
    window->btnRemoveClick();
    EXPECT_EQ(list().rowCount(), 0);
    EXPECT_FALSE(list().HasColumns());

    add({clip("4.mov")});
    EXPECT_TRUE(list().HasColumns());
    window->btnClearClick();
    EXPECT_EQ(list().rowCount(), 0);
    EXPECT_FALSE(list().HasColumns());
    window->btnClearClick(); // nothing to clear: nothing happens
}

TEST_F(JobListTest, RowsAreTintedByTheSkin) {
    EXPECT_EQ(list().rowBrush(0, false, false), QColor(Qt::white));
    EXPECT_EQ(list().rowBrush(1, false, false), QColor(226, 230, 246));
    window->SkinClick(5);
    EXPECT_EQ(list().rowBrush(1, false, false), QColor(226, 247, 225));
    EXPECT_EQ(list().rowBrush(2, false, false), QColor(Qt::white));
    EXPECT_EQ(list().rowBrush(1, true, true), QColor(185, 204, 236));
    EXPECT_EQ(list().rowBrush(1, true, false), QColor(229, 236, 248));
}

// Saves a picture of a window when VORLIN_SHOT_DIR names a folder (for looking at it).
void keepShot(QWidget* w, const QString& name) {
    const QString dir = qEnvironmentVariable("VORLIN_SHOT_DIR");
    if (!dir.isEmpty())
        w->grab().save(dir + "/" + name + ".png");
}

TEST_F(JobListTest, DrawnRowsShowTintCheckBoxAndSelection) {
    add({clip("d0.mov"), clip("d1.mov"), clip("d2.mov")});
    list().row(1)->setChecked(false);
    for (int skin = 0; skin < vorlin::widgets::kSkinCount; ++skin) {
        window->SkinClick(skin);
        list().selectRow(2);
        QApplication::processEvents();
        const QImage shot = list().viewport()->grab().toImage();
        keepShot(window.get(), QString("main-skin%1").arg(skin));
        const QRect r1 = list().visualItemRect(list().row(1));
        const QRect r0 = list().visualItemRect(list().row(0));
        const QRect r2 = list().visualItemRect(list().row(2));
        const int textFreeX = list().header()->sectionViewportPosition(4) + 4;
        EXPECT_EQ(shot.pixelColor(textFreeX, r0.center().y()), QColor(Qt::white));
        EXPECT_EQ(shot.pixelColor(textFreeX, r1.center().y()), vorlin::widgets::oddRowColor(skin));
        EXPECT_EQ(shot.pixelColor(textFreeX, r2.center().y()), QColor(229, 236, 248));
        // The drawn check box: a black frame on both rows, a tick only on the checked one.
        const int L = r0.left() + 1;
        EXPECT_EQ(shot.pixelColor(L + 2, r0.center().y()), QColor(Qt::black));
        EXPECT_EQ(shot.pixelColor(L + 2, r1.center().y()), QColor(Qt::black));
        EXPECT_EQ(shot.pixelColor(L + 6, r0.top() + 10), QColor(Qt::black));
        EXPECT_NE(shot.pixelColor(L + 6, r1.top() + 10), QColor(Qt::black));
    }
}

TEST_F(JobListTest, StartWithNothingCheckedOnlyWarns) {
    window->btnStartClick();
    ASSERT_EQ(dialogs->messages(), QStringList{"Please select a file by clicking the check box!"});
    EXPECT_EQ(dialogs->shown.back().title, "Warning");
    EXPECT_EQ(window->frmProgress, nullptr);
}

TEST_F(JobListTest, StartConvertsTheCheckedRowsInOrder) {
    add({clip("r0.mov"), clip("r1.mov"), clip("r2.mov"), clip("r3.mov"), clip("r4.mov")});
    list().row(1)->setChecked(false);
    list().row(3)->setChecked(false);
    QStringList labels;
    bool boxesSet = false;
    start([&](const PProgressInfo&) {
        labels << window->frmProgress->lblProgress->text();
        if (labels.size() == 2)
            keepShot(window->frmProgress, "progress");
        if (!boxesSet) {
            window->frmProgress->ckShutDown->setChecked(true);
            boxesSet = true;
        }
    });
    EXPECT_EQ(window->TaskRows, (std::vector<int>{0, 2, 4}));
    EXPECT_EQ(column(4), (QStringList{"100%", "", "100%", "", "100%"}));
    EXPECT_TRUE(labels.contains("[2/3]"));
    EXPECT_TRUE(labels.contains("[3/3]"));
    for (const char* name : {"r0", "r2", "r4"}) {
        const auto probe = ffprobe(outDir + "/" + name + "_(new).mp4");
        EXPECT_EQ(ffprobeStream(probe, "video").value("codec_name").toString(), "h264") << name;
    }
    EXPECT_FALSE(QFile::exists(outDir + "/r1_(new).mp4"));
    EXPECT_FALSE(window->frmProgress->isVisible());
    EXPECT_TRUE(window->btnStart->isEnabled());
    EXPECT_EQ(window->CCAVC->TaskCount(), 0);
    // Both after-conversion actions ran once, through the recorder.
    ASSERT_EQ(shell->calls.size(), 2u);
    EXPECT_EQ(shell->calls[0].kind, ShellRecorder::Call::OpenFolder);
    EXPECT_EQ(shell->calls[0].target, outDir);
    EXPECT_EQ(shell->calls[1].kind, ShellRecorder::Call::ShutDown);
}

TEST_F(JobListTest, WatermarksOfARowAreDrawnIntoItsOutputOnly) {
    add({clip("plain.mov"), clip("marked.mov")});
    TWmRec box;
    box.Text = " ";
    box.HasBackColor = true;
    box.BackColor = QColor(255, 0, 0);
    box.TextLeft = 40;
    box.TextTop = 30;
    box.TextWidth = 80;
    box.TextHeight = 60;
    box.TextAlpha = 255;
    box.StartSec = 0;
    box.EndSec = 10;
    list().row(1)->Record.WmItems = {box};
    start();
    const auto centre = [](const QString& video) {
        const QString png = video + ".png";
        vorlin::test::runProgram("ffmpeg",
                                 {"-y", "-v", "error", "-i", video, "-frames:v", "1", png});
        const QImage frame(png); // the picture is scaled: its centre is the box's centre
        return frame.pixelColor(frame.width() / 2, frame.height() / 2);
    };
    const QColor plain = centre(outDir + "/plain_(new).mp4");
    const QColor marked = centre(outDir + "/marked_(new).mp4");
    EXPECT_GT(marked.red(), 200);
    EXPECT_LT(marked.green(), 60);
    EXPECT_LT(marked.blue(), 60);
    EXPECT_FALSE(plain.red() > 200 && plain.green() < 60 && plain.blue() < 60);
}

TEST_F(JobListTest, SameNamesInOneRunDoNotOverwriteEachOther) {
    add({clip("one/clip.mov"), clip("two/clip.mov")});
    start();
    EXPECT_TRUE(QFile::exists(outDir + "/clip_(new).mp4"));
    EXPECT_TRUE(QFile::exists(outDir + "/clip_(new_1).mp4"));
}

TEST_F(JobListTest, CancelStopsTheRunWithoutAfterActions) {
    add({clip("c0.mov"), clip("c1.mov"), clip("c2.mov")});
    start([&](const PProgressInfo& p) {
        window->frmProgress->ckShutDown->setChecked(true);
        if (p.TaskIndex == 0)
            window->frmProgress->btnCancelClick();
    });
    EXPECT_FALSE(window->frmProgress->isVisible());
    EXPECT_NE(list().row(1)->text(4), "100%");
    EXPECT_NE(list().row(2)->text(4), "100%");
    EXPECT_FALSE(QFile::exists(outDir + "/c2_(new).mp4"));
    EXPECT_TRUE(shell->calls.empty());
    EXPECT_TRUE(window->btnAdd->isEnabled());
}

TEST_F(JobListTest, FailingLastTaskIsLoggedAndRunsNoAfterActions) {
    add({clip("ok.mov"), clip("bad.mov")});
    // A crop larger than the picture cannot be converted.
    list().row(1)->Record.CropTop = 200;
    list().row(1)->Record.CropBottom = 200;
    start([&](const PProgressInfo&) { window->frmProgress->ckShutDown->setChecked(true); });
    EXPECT_EQ(list().row(0)->text(4), "100%");
    EXPECT_NE(list().row(1)->text(4), "100%");
    EXPECT_TRUE(window->mmoLog->toPlainText().contains("bad.mov"));
    EXPECT_TRUE(shell->calls.empty());
}

TEST_F(JobListTest, FilesThatVanishBeforeStartAreSkippedAndNamed) {
    const QString gone = clip("gone.mov");
    add({clip("stay0.mov"), gone, clip("stay1.mov")});
    QFile::remove(gone);
    start();
    EXPECT_EQ(window->TaskRows, (std::vector<int>{0, 2}));
    EXPECT_EQ(column(4), (QStringList{"100%", "", "100%"}));
    const QStringList messages = dialogs->messages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(gone));
    EXPECT_EQ(dialogs->shown.back().title, "Warning");
}

} // namespace
