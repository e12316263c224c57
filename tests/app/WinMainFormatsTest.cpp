#include "app/GlobalUnit.h"
#include "app/WinMain.h"

#include "formats/FormatChooser.h"
#include "formats/IniFile.h"
#include "formats/OptionsPanel.h"
#include "formats/WinDirectory.h"
#include "formats/WinSettings.h"
#include "jobs/JobListView.h"
#include "jobs/WinProgress.h"
#include "platform/Platform.h"
#include "platform/Shell.h"
#include "support/Fixtures.h"
#include "support/TestEnv.h"
#include "widgets/Dialogs.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

using vorlin::formats::IniFile;
using vorlin::formats::TFormatList;
using vorlin::platform::ShellRecorder;

// A main window shown as the program shows it, with dialogs answered by the recorder and
// shell actions recorded.
class MainFormatsTest : public testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<TfrmMain>();
        window->show();
        QApplication::setActiveWindow(window.get());
    }
    void TearDown() override {
        if (GlobalObj) {
            dialogs->answers.push_back(true);
            window->close();
        }
        window.reset();
        GlobalObj.reset();
    }
    IniFile settings() const { return IniFile(GlobalObj->SettingsFile()); }
    TFormatList& list() const { return *static_cast<TFormatList*>(window->lst1); }
    vorlin::formats::TFormatChooser& chooser() const { return *window->FormatChooser; }
    int rowOf(vorlin::formats::TFormatChooser& c, const QString& text) const {
        for (int i = 0; i < c.lst1()->count(); ++i) {
            if (c.lst1()->item(i)->text() == text)
                return i;
        }
        return -1;
    }
    // Runs `inside` once the modal dialog opened by `open` is showing.
    void whileModal(const std::function<void()>& open, std::function<void()> inside) {
        bool ran = false;
        QTimer::singleShot(0, [&] {
            inside();
            ran = true;
            if (QWidget* modal = QApplication::activeModalWidget())
                modal->close(); // a test that left the dialog open must not hang
        });
        open();
        EXPECT_TRUE(ran);
    }
    // Opens the settings dialog by the Settings button and acts in it.
    void inSettings(std::function<void(TfrmSettings&)> act) {
        whileModal([this] { window->btnSettingsClick(); },
                   [this, act] {
                       ASSERT_NE(window->frmSettings, nullptr);
                       ASSERT_TRUE(window->frmSettings->isVisible());
                       act(*window->frmSettings);
                   });
    }
    // In the dialog: opens every category and chooses a format row.
    static void chooseInDialog(TfrmSettings& dialog, const QString& name) {
        auto& c = *dialog.Chooser;
        c.edt1Click();
        for (int category = 0; category < 3; ++category) {
            const int group = c.groupRow(category);
            if (c.lst1()->row(group)->Info.Collapsed)
                c.ExpandGroup(group);
        }
        for (int i = 0; i < c.lst1()->count(); ++i) {
            if (c.lst1()->item(i)->text() == name) {
                c.ChooseRow(i);
                return;
            }
        }
        ADD_FAILURE() << "no row " << name.toStdString();
    }
    // Brows with the folder chooser driven by `act`.
    void browse(std::function<void(TfmDirectory&)> act) {
        whileModal([this] { window->btnBrowsClick(); },
                   [this, act] {
                       ASSERT_NE(window->fmDirectory, nullptr);
                       act(*window->fmDirectory);
                   });
    }
    static void chooseFolder(TfmDirectory& d, const QString& path) {
        ASSERT_TRUE(d.SelectFolder(path)) << path.toStdString();
        d.stview_selectdirClick();
        d.btnOkClick();
    }

    vorlin::widgets::ScopedDialogRecorder dialogs;
    vorlin::platform::ScopedShellRecorder shell;
    std::unique_ptr<TfrmMain> window;
};

TEST_F(MainFormatsTest, FirstStartShowsTheDefaultNameWithNothingSelected) {
    EXPECT_EQ(window->edt1->text(), "Apple iPod Video MPEG-4 Movie (*.mp4)");
    EXPECT_EQ(list().count(), 3);
    EXPECT_FALSE(list().isVisible());
    chooser().edt1Click();
    EXPECT_TRUE(list().isVisible());
    EXPECT_EQ(list().selectedRow(), -1);
    EXPECT_EQ(list().height(), 80);
    EXPECT_EQ(list().geometry().bottom() + 1, window->edt1->y());
    EXPECT_EQ(window->FormatCode, "1");
    EXPECT_FALSE(settings().valueExists("settings", "FormatCode"));
}

TEST_F(MainFormatsTest, ChoosingARowMakesItTheCurrentFormatAtOnce) {
    chooser().imgbtn1Click();
    chooser().lst1MouseDown(QPoint(5, list().visualItemRect(list().item(1)).center().y()));
    ASSERT_EQ(list().count(), 13);
    const int row = rowOf(chooser(), "MPEG-4 Video (*.mp4)");
    chooser().lst1MouseDown(list().visualItemRect(list().item(row)).center());
    EXPECT_EQ(settings().readString("settings", "FormatCode", ""), "102");
    EXPECT_EQ(settings().readString("settings", "FormatName", ""), "MPEG-4 Video (*.mp4)");
    EXPECT_EQ(window->FormatCode, "102");
    EXPECT_EQ(window->edt1->text(), "MPEG-4 Video (*.mp4)");
    EXPECT_FALSE(list().isVisible());
    // The expansion lives in memory until a save point.
    EXPECT_FALSE(settings().valueExists("lstformat", "1"));
}

TEST_F(MainFormatsTest, ClicksElsewhereAndDeactivationCloseTheList) {
    chooser().imgbtn1Click();
    ASSERT_TRUE(list().isVisible());
    QTest::mousePress(list().viewport(), Qt::LeftButton, {}, QPoint(100, 5));
    EXPECT_TRUE(list().isVisible());
    QTest::mousePress(window->edDirectory, Qt::LeftButton);
    EXPECT_FALSE(list().isVisible());

    chooser().imgbtn1Click();
    window->ApplicationEvents1Deactivate();
    EXPECT_FALSE(list().isVisible());
}

TEST_F(MainFormatsTest, EveryWayIntoTheDialogStoresTheMainCategoriesFirst) {
    const std::function<void()> entries[] = {
        [this] { window->btnOptions->click(); },
        [this] { window->btnSettings->click(); },
        [this] { window->Settings1->trigger(); },
    };
    int category = 0;
    for (const auto& enter : entries) {
        SCOPED_TRACE(category);
        chooser().ExpandGroup(chooser().groupRow(category));
        bool opened = false;
        whileModal(enter, [&] {
            opened = window->frmSettings && window->frmSettings->isVisible();
            EXPECT_EQ(settings().readString("lstformat", QString::number(category), ""), "0");
            window->frmSettings->btnCancelClick();
        });
        EXPECT_TRUE(opened);
        ++category;
    }
}

TEST_F(MainFormatsTest, OkRefreshesTheMainChooserAndCancelKeepsIt) {
    inSettings([](TfrmSettings& d) {
        chooseInDialog(d, "WMV Video (*.wmv)");
        d.btnCancelClick();
    });
    EXPECT_EQ(window->edt1->text(), "Apple iPod Video MPEG-4 Movie (*.mp4)");
    EXPECT_EQ(list().count(), 3);
    // Opening stored the main list's states; the dialog's expansions were dropped.
    for (const char* key : {"0", "1", "2"})
        EXPECT_EQ(settings().readString("lstformat", key, ""), "1") << key;

    inSettings([](TfrmSettings& d) {
        chooseInDialog(d, "AVI Video (*.avi)");
        // Close the audio category again: only that one is stored collapsed.
        d.Chooser->CollapseGroup(d.Chooser->groupRow(2));
        d.btnOkClick();
    });
    EXPECT_EQ(window->edt1->text(), "AVI Video (*.avi)");
    EXPECT_EQ(window->FormatCode, "104");
    EXPECT_EQ(list().count(), 15);
    EXPECT_EQ(list().item(list().selectedRow())->text(), "AVI Video (*.avi)");
    EXPECT_EQ(settings().readString("lstformat", "2", ""), "1");
    EXPECT_TRUE(settings().valueExists("formatInfo104", "Description"));
}

TEST_F(MainFormatsTest, ConfirmedExitStoresTheCategoryStates) {
    chooser().ExpandGroup(chooser().groupRow(2));
    dialogs->answers.push_back(false);
    window->close();
    EXPECT_FALSE(settings().sectionExists("lstformat"));
    const QString path = GlobalObj->SettingsFile();
    dialogs->answers.push_back(true);
    window->close();
    EXPECT_EQ(GlobalObj, nullptr);
    EXPECT_EQ(IniFile(path).readString("lstformat", "2", ""), "0");
    EXPECT_EQ(IniFile(path).readString("lstformat", "0", ""), "1");
}

TEST_F(MainFormatsTest, BrowsAcceptsAWritableFolderAndIgnoresTheShownOne) {
    const QString folder = vorlin::test::testHome() + "/Mes vidéos/été 2024";
    ASSERT_TRUE(QDir().mkpath(folder));
    browse([&](TfmDirectory& d) { chooseFolder(d, folder); });
    EXPECT_EQ(window->edDirectory->text(), folder);
    EXPECT_EQ(settings().readString("settings", "OutPutDir", ""), folder);
    EXPECT_TRUE(dialogs->shown.empty());

    browse([&](TfmDirectory& d) { chooseFolder(d, folder); }); // the folder already shown
    browse([](TfmDirectory& d) { d.btnCancelClick(); });
    EXPECT_TRUE(dialogs->shown.empty());
    EXPECT_EQ(window->edDirectory->text(), folder);
}

TEST_F(MainFormatsTest, BrowsRefusesADriveRoot) {
    const QString before = window->edDirectory->text();
    browse([](TfmDirectory& d) { chooseFolder(d, "/"); });
    ASSERT_EQ(dialogs->messages(), QStringList{"The path / is not a valid directory."});
    EXPECT_EQ(dialogs->shown[0].title, "Warning");
    EXPECT_EQ(window->edDirectory->text(), before);
    EXPECT_EQ(settings().readString("settings", "OutPutDir", ""), before);
}

TEST_F(MainFormatsTest, BrowsFallsBackWhenTheFolderCannotBeWritten) {
    // Nobody, root included, can create files in a process folder of /proc.
    const QString locked = "/proc/self";
    ASSERT_FALSE(vorlin::platform::canWriteTo(locked));
    const QString mine = vorlin::test::testHome() + "/mine";
    QDir().mkpath(mine);
    window->edDirectory->setText(mine);
    browse([&](TfmDirectory& d) { chooseFolder(d, locked); });
    const QString fallback = vorlin::test::testHome() + "/videoconverter";
    ASSERT_EQ(dialogs->messages().size(), 1);
    EXPECT_EQ(dialogs->messages()[0],
              "You login as " + vorlin::platform::currentUserName().trimmed() +
                  " .You don't have permission to write to directory:/proc/self");
    EXPECT_EQ(window->edDirectory->text(), fallback);
    EXPECT_EQ(settings().readString("settings", "OutPutDir", ""), fallback);
}

TEST_F(MainFormatsTest, BrowsKeepsTheDialogOpenOnAnOpticalDisc) {
    const QString disc = vorlin::test::testHome() + "/cdrom/movies";
    QDir().mkpath(disc);
    const QString before = window->edDirectory->text();
    bool stayedOpen = false;
    browse([&](TfmDirectory& d) {
        d.DriveTypeOf = [](const QString&) {
            return vorlin::platform::DriveType::CdRom;
        };
        chooseFolder(d, disc);
        stayedOpen = d.isVisible();
        d.btnCancelClick();
    });
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(
        dialogs->messages(),
        QStringList{"Output folder cannot be located in CD-ROM.Please select another folder."});
    EXPECT_EQ(window->edDirectory->text(), before);
    window->fmDirectory->DriveTypeOf = vorlin::platform::driveType;
}

TEST_F(MainFormatsTest, OpenShowsTheStoredFolderThroughTheShell) {
    const QString folder = vorlin::test::testHome() + "/outs";
    window->edDirectory->setText(folder); // the field's change stores it
    EXPECT_EQ(settings().readString("settings", "OutPutDir", ""), folder);
    window->btnOpen->click();
    window->OpenOutputFolder(); // the end of a run does the same
    ASSERT_EQ(shell->calls.size(), 2u);
    for (const auto& call : shell->calls) {
        EXPECT_EQ(call.kind, ShellRecorder::Call::OpenFolder);
        EXPECT_EQ(call.target, folder);
    }
    window->edDirectory->setText("ab");
    window->btnOpenClick();
    EXPECT_EQ(shell->calls.size(), 2u);
}

// The whole road: values chosen in the dialog reach the converted file.
TEST_F(MainFormatsTest, ValuesChosenInTheDialogShapeTheConvertedFile) {
    const QString outDir = vorlin::test::testHome() + "/converted";
    QDir().mkpath(outDir);
    window->edDirectory->setText(outDir);
    inSettings([](TfrmSettings& d) {
        chooseInDialog(d, "AVI Video (*.avi)");
        auto& p = *d.Panel;
        p.cmbVideoSize->setEditText("352x288");
        p.cmbVideoSizeExit();
        p.cmbVideoBitRate->setCurrentIndex(p.cmbVideoBitRate->findText("768"));
        p.cmbFrameRate->setCurrentIndex(p.cmbFrameRate->findText("15"));
        p.cmbZoom->setCurrentIndex(0);
        p.cmbSamplerate->setCurrentIndex(p.cmbSamplerate->findText("22050"));
        p.cmbAudioBitRate->setCurrentIndex(p.cmbAudioBitRate->findText("64"));
        p.cmbChannel->setCurrentIndex(p.cmbChannel->findText("mono 1 channel"));
        d.btnOkClick();
    });
    ASSERT_EQ(settings().readString("settings", "FormatCode", ""), "104");

    const QString clip = vorlin::test::movFixture("formats-e2e-320x240.mov", 320, 240, 4.0, 25);
    ASSERT_FALSE(clip.isEmpty());
    dialogs->files.push_back({clip});
    window->btnAddClick();
    ASSERT_EQ(window->lvFiles->rowCount(), 1);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [this] {
        ADD_FAILURE() << "run did not end";
        if (window->frmProgress)
            window->frmProgress->close();
    });
    watchdog.start(120000);
    window->btnStartClick();
    EXPECT_TRUE(QTest::qWaitFor([this] { return window->btnAdd->isEnabled(); }, 10000));

    const QString output = outDir + "/formats-e2e-320x240_(new).avi";
    ASSERT_TRUE(QFile::exists(output)) << window->mmoLog->toPlainText().toStdString();
    const QJsonObject probe = vorlin::test::ffprobe(output);
    const QJsonObject video = vorlin::test::ffprobeStream(probe, "video");
    const QJsonObject audio = vorlin::test::ffprobeStream(probe, "audio");
    EXPECT_EQ(video.value("codec_name").toString(), "mpeg4");
    EXPECT_EQ(video.value("width").toInt(), 352);
    EXPECT_EQ(video.value("height").toInt(), 288);
    EXPECT_EQ(video.value("r_frame_rate").toString(), "15/1");
    const double videoKbps = video.value("bit_rate").toString().toDouble() / 1000.0;
    EXPECT_GT(videoKbps, 768 * 0.6) << videoKbps;
    EXPECT_LT(videoKbps, 768 * 1.4) << videoKbps;
    EXPECT_EQ(audio.value("codec_name").toString(), "mp3");
    EXPECT_EQ(audio.value("sample_rate").toString(), "22050");
    EXPECT_EQ(audio.value("channels").toInt(), 1);
    const double audioKbps = audio.value("bit_rate").toString().toDouble() / 1000.0;
    EXPECT_NEAR(audioKbps, 64, 8);
}

} // namespace

namespace {

// Every visible child lies inside its parent, and no two visible siblings that are fields or
// buttons overlap. Returns the offenders.
QStringList layoutFaults(QWidget* parent) {
    QStringList faults;
    QList<QWidget*> children;
    for (QObject* o : parent->children()) {
        auto* w = qobject_cast<QWidget*>(o);
        if (w && w->isVisible() && !w->isWindow() && w->objectName() != "lst1")
            children.append(w);
    }
    for (QWidget* w : children) {
        if (!parent->rect().contains(w->geometry()))
            faults << w->objectName() + " leaves " + parent->objectName();
        for (QWidget* other : children) {
            const bool controls =
                (qobject_cast<QComboBox*>(w) || qobject_cast<QPushButton*>(w)) &&
                (qobject_cast<QComboBox*>(other) || qobject_cast<QPushButton*>(other));
            if (w < other && controls && w->geometry().intersects(other->geometry()))
                faults << w->objectName() + " overlaps " + other->objectName();
        }
        faults += layoutFaults(w);
    }
    return faults;
}

} // namespace

// The chooser and the dialog in two skins: laid out cleanly, and saved as pictures when
// VORLIN_SHOT_DIR names a folder.
TEST_F(MainFormatsTest, ChooserAndDialogLayOutCleanlyInTwoSkins) {
    settings().writeString("lstformat", "1", "0");
    settings().writeString("settings", "FormatName", "AVI Video (*.avi)");
    settings().writeString("settings", "FormatCode", "104");
    const QString shots = qEnvironmentVariable("VORLIN_SHOT_DIR");
    for (int skin : {0, 4}) {
        SCOPED_TRACE(skin);
        window->SkinClick(skin);
        QApplication::setActiveWindow(window.get());
        chooser().edt1Click();
        ASSERT_TRUE(list().isVisible());
        EXPECT_TRUE(window->rect().contains(list().geometry()));
        EXPECT_EQ(list().item(list().selectedRow())->text(), "AVI Video (*.avi)");
        QApplication::processEvents();
        if (!shots.isEmpty())
            window->grab().save(QString("%1/main-list-skin%2.png").arg(shots).arg(skin));
        chooser().edt1Click();
        inSettings([&](TfrmSettings& d) {
            EXPECT_EQ(d.property("vorlinTheme").toInt(), skin);
            EXPECT_EQ(layoutFaults(&d), QStringList());
            QApplication::processEvents();
            if (!shots.isEmpty()) {
                d.grab().save(QString("%1/settings-skin%2.png").arg(shots).arg(skin));
                d.Chooser->imgbtn1Click();
                EXPECT_TRUE(d.rect().contains(d.lst1->geometry()));
                QApplication::processEvents();
                d.grab().save(QString("%1/settings-list-skin%2.png").arg(shots).arg(skin));
                d.Chooser->imgbtn1Click();
                // Pop-ups are windows of their own: the screen shows the pick list.
                d.Panel->cmbVolume->showPopup();
                QTest::qWait(200);
                if (QScreen* screen = QGuiApplication::primaryScreen())
                    screen->grabWindow(0).save(
                        QString("%1/screen-volume-skin%2.png").arg(shots).arg(skin));
                d.Panel->cmbVolume->hidePopup();
            }
            d.btnCancelClick();
        });
        browse([&](TfmDirectory& d) {
            EXPECT_EQ(layoutFaults(&d), QStringList());
            if (!shots.isEmpty())
                d.grab().save(QString("%1/folders-skin%2.png").arg(shots).arg(skin));
            d.btnCancelClick();
        });
    }
}
