#include "formats/WinSettings.h"

#include "formats/DeliveredFiles.h"
#include "formats/FormatChooser.h"
#include "formats/IniFile.h"
#include "formats/OptionsPanel.h"
#include "support/TestEnv.h"
#include "widgets/Dialogs.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <memory>

namespace {

using vorlin::formats::IniFile;
using vorlin::formats::TFormatList;

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The dialog over the delivered profile and a settings file that starts empty.
class SettingsDialogTest : public testing::Test {
protected:
    void SetUp() override {
        settingsPath = vorlin::test::testHome() + "/data/settings.ini";
        profilePath = vorlin::test::testHome() + "/data/profile.ini";
        ASSERT_TRUE(vorlin::formats::installDeliveredFiles(settingsPath, profilePath));
        QFile::remove(settingsPath);
        dialog = std::make_unique<TfrmSettings>([this] { return settingsPath; },
                                                [this] { return profilePath; });
    }
    void open() {
        dialog->show();
        QApplication::setActiveWindow(dialog.get());
    }
    IniFile settings() const { return IniFile(settingsPath); }
    vorlin::formats::TOptionsPanel& panel() { return *dialog->Panel; }
    vorlin::formats::TFormatChooser& chooser() { return *dialog->Chooser; }
    // Chooses a format row in the dialog's chooser, expanding its category first.
    void choose(const QString& name) {
        chooser().edt1Click();
        for (int category = 0; category < 3; ++category) {
            const int group = chooser().groupRow(category);
            if (dialog->lst1->row(group)->Info.Collapsed)
                chooser().ExpandGroup(group);
        }
        for (int i = 0; i < dialog->lst1->count(); ++i) {
            if (dialog->lst1->item(i)->text() == name) {
                chooser().ChooseRow(i);
                return;
            }
        }
        ADD_FAILURE() << "no row " << name.toStdString();
    }
    static void pick(QComboBox* box, const QString& entry) {
        const int index = box->findText(entry);
        ASSERT_GE(index, 0) << entry.toStdString();
        box->setCurrentIndex(index);
    }

    vorlin::widgets::ScopedDialogRecorder dialogs;
    QString settingsPath;
    QString profilePath;
    std::unique_ptr<TfrmSettings> dialog;
};

TEST_F(SettingsDialogTest, FirstOpeningEditsTheH264FormatUnderItsShortName) {
    open();
    EXPECT_EQ(dialog->size(), QSize(475, 370));
    EXPECT_EQ(dialog->edt1->text(), "Apple iPod Video MPEG-4 Movie (*.mp4)");
    EXPECT_EQ(dialog->CurFormatName(), "iPod Video MPEG-4");
    EXPECT_EQ(dialog->CurFormatCode(), "1");
    EXPECT_EQ(panel().cmbVideoEncoder->currentText(), "H264");
    EXPECT_TRUE(panel().grpbxVideo->isEnabled());

    QSignalSpy committed(dialog.get(), &TfrmSettings::formatCommitted);
    dialog->btnOkClick();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(committed.count(), 1);
    const IniFile s = settings();
    EXPECT_EQ(s.readString("settings", "FormatName", ""), "iPod Video MPEG-4");
    EXPECT_EQ(s.readString("settings", "FormatCode", ""), "1");
    EXPECT_EQ(s.readString("formatInfo1", "Description", ""), "iPod Video MPEG-4");
    EXPECT_EQ(s.readString("formatInfo1", "paraVideoEncoder", ""), "libx264");
    // The profile's H.264 values that are valid; its "false" bit-exact flag is not copied.
    EXPECT_EQ(s.readString("formatInfo1", "paraGop", ""), "300");
    EXPECT_EQ(s.readString("formatInfo1", "paraCoder", ""), "0");
    EXPECT_FALSE(s.valueExists("formatInfo1", "paraBitExact"));
}

TEST_F(SettingsDialogTest, OkAfterChoosingAviWritesTheCompleteSection) {
    open();
    choose("AVI Video (*.avi)");
    EXPECT_EQ(dialog->CurFormatCode(), "104");
    // The panel followed the switch to the AVI profile.
    EXPECT_EQ(panel().cmbVideoEncoder->count(), 4);
    EXPECT_EQ(panel().cmbAudioEncoder->currentText(), "MP3");
    pick(panel().cmbVideoSize, "640x480");
    pick(panel().cmbVideoEncoder, "Xvid");
    pick(panel().cmbZoom, "Pan and Scan");
    pick(panel().cmbChannel, "mono 1 channel");
    pick(panel().cmbVolume, "150%");
    panel().cmbAudioBitRate->setEditText("112");

    dialog->btnOkClick();
    const IniFile s = settings();
    const std::pair<const char*, const char*> expected[] = {
        {"Description", "AVI Video (*.avi)"},
        {"iVideoSize", "3"},
        {"iVideoBitRate", "0"},
        {"iVideoEncoder", "1"},
        {"iFrameRate", "0"},
        {"iSampleRate", "0"},
        {"iAudioBitRate", "-1"},
        {"iChannel", "1"},
        {"iVolume", "5"},
        {"iAudioEncoder", "0"},
        {"paraVideoSize", "640x480"},
        {"paraVideoBitRate", "as source"},
        {"paraFrameRate", "as source"},
        {"paraZoom", "pan"},
        {"paraVideoEncoder", "libxvid"},
        {"paraSampleRate", "as source"},
        {"paraAudioBitRate", "112"},
        {"paraChannel", "1"},
        {"paraVolume", "384"},
        {"paraAudioEncoder", "libmp3lame"},
    };
    for (const auto& [key, value] : expected)
        EXPECT_EQ(s.readString("formatInfo104", key, "<absent>"), value) << key;
    EXPECT_EQ(s.readString("settings", "FormatCode", ""), "104");
    EXPECT_EQ(s.readString("settings", "FormatName", ""), "AVI Video (*.avi)");
    // Categories opened in the dialog are stored with it.
    for (const char* key : {"0", "1", "2"})
        EXPECT_EQ(s.readString("lstformat", key, ""), "0") << key;
}

TEST_F(SettingsDialogTest, CancelAndTheCloseButtonWriteNothing) {
    settings().writeString("settings", "FormatCode", "205");
    settings().writeString("settings", "FormatName", "OGG Vorbis Audio Codec (*.ogg)");
    const QByteArray before = readAll(settingsPath);
    for (int round = 0; round < 2; ++round) {
        open();
        choose("AVI Video (*.avi)");
        pick(panel().cmbVideoEncoder, "Xvid");
        if (round == 0)
            dialog->btnCancelClick();
        else
            dialog->close();
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(readAll(settingsPath), before) << round;
    }
    // Opened again, the dialog shows the stored format, not the abandoned choice.
    open();
    EXPECT_EQ(dialog->CurFormatCode(), "205");
    EXPECT_EQ(dialog->edt1->text(), "OGG Vorbis Audio Codec (*.ogg)");
    EXPECT_EQ(dialog->lst1->count(), 3); // the expansions were not kept
}

TEST_F(SettingsDialogTest, TypedValueShowsOnOpeningButNotAfterASwitchAndBack) {
    settings().writeString("settings", "FormatCode", "104");
    settings().writeString("settings", "FormatName", "AVI Video (*.avi)");
    settings().writeString("formatInfo104", "iVideoSize", "-1");
    settings().writeString("formatInfo104", "paraVideoSize", "642x480");
    settings().writeString("formatInfo104", "iVideoBitRate", "-1");
    settings().writeString("formatInfo104", "paraVideoBitRate", "1800");
    settings().writeString("formatInfo104", "iFrameRate", "-1");
    settings().writeString("formatInfo104", "paraFrameRate", "24");
    settings().writeString("formatInfo104", "paraZoom", "center");
    open();
    EXPECT_EQ(panel().cmbVideoSize->currentText(), "642x480");
    EXPECT_EQ(panel().cmbVideoBitRate->currentText(), "1800");
    EXPECT_EQ(panel().cmbFrameRate->currentText(), "24");
    EXPECT_EQ(panel().cmbZoom->currentIndex(), -1);

    choose("MPEG-1 Video (*.mpg)");
    choose("AVI Video (*.avi)");
    EXPECT_EQ(panel().cmbVideoSize->currentText(), "");
    EXPECT_EQ(panel().cmbVideoBitRate->currentText(), "");
    EXPECT_EQ(panel().cmbFrameRate->currentIndex(), -1);

    // Ok with nothing in the zoom field leaves "center" as it was.
    dialog->btnOkClick();
    EXPECT_EQ(settings().readString("formatInfo104", "paraZoom", ""), "center");
    EXPECT_EQ(settings().readString("formatInfo104", "iVideoSize", ""), "-1");
}

TEST_F(SettingsDialogTest, AudioFormatsDisableWhatTheyLack) {
    settings().writeString("settings", "FormatCode", "200");
    open();
    for (QComboBox* box : {panel().cmbVideoSize, panel().cmbVideoEncoder, panel().cmbVideoBitRate,
                           panel().cmbFrameRate, panel().cmbZoom})
        EXPECT_FALSE(box->isEnabled()) << box->objectName().toStdString();
    EXPECT_TRUE(panel().cmbAudioBitRate->isEnabled());
    EXPECT_TRUE(panel().cmbSamplerate->isEnabled());

    choose("WAV - Waveform Audio (*.wav)"); // no audio bit-rate list
    EXPECT_FALSE(panel().cmbAudioBitRate->isEnabled());
    EXPECT_TRUE(panel().cmbAudioEncoder->isEnabled());
    EXPECT_TRUE(panel().cmbVolume->isEnabled());
    choose("AVI Video (*.avi)");
    EXPECT_TRUE(panel().cmbVideoSize->isEnabled());
    EXPECT_TRUE(panel().cmbAudioBitRate->isEnabled());

    // A format code that has no profile section: every field is off.
    dialog->Chooser->CurFormatCode = "77";
    panel().LoadOptionLists("77");
    EXPECT_FALSE(panel().cmbAudioEncoder->isEnabled());
    EXPECT_EQ(panel().cmbVideoSize->count(), 0);
}

TEST_F(SettingsDialogTest, GsmOverridesTheShownRateAndChannelsAndVolumeIsScaled) {
    IniFile(profilePath).writeString("formatInfo204", "AudioEncoder", "pcm_s16,GSM");
    settings().writeString("settings", "FormatCode", "204");
    open();
    pick(panel().cmbAudioEncoder, "GSM");
    pick(panel().cmbSamplerate, "44100");
    pick(panel().cmbChannel, "stereo 2 channels");
    pick(panel().cmbVolume, "100%");
    dialog->btnOkClick();
    const IniFile s = settings();
    EXPECT_EQ(s.readString("formatInfo204", "paraAudioEncoder", ""), "libgsm");
    EXPECT_EQ(s.readString("formatInfo204", "paraSampleRate", ""), "8000");
    EXPECT_EQ(s.readString("formatInfo204", "paraChannel", ""), "1");
    EXPECT_EQ(s.readString("formatInfo204", "iSampleRate", ""), "5"); // what was shown
    EXPECT_EQ(s.readString("formatInfo204", "paraVolume", ""), "256");
    EXPECT_FALSE(s.valueExists("formatInfo204", "paraVideoEncoder"));

    open();
    pick(panel().cmbAudioEncoder, "pcm_s16");
    pick(panel().cmbVolume, "25%");
    dialog->btnOkClick();
    EXPECT_EQ(settings().readString("formatInfo204", "paraSampleRate", ""), "44100");
    EXPECT_EQ(settings().readString("formatInfo204", "paraVolume", ""), "64");
    EXPECT_EQ(settings().readString("formatInfo204", "paraAudioEncoder", ""), "pcm_s16le");
}

TEST_F(SettingsDialogTest, DefaultShowsTheProfileDefaultsAndWritesNothing) {
    settings().writeString("settings", "FormatCode", "104");
    open();
    pick(panel().cmbVideoEncoder, "msmpeg4");
    pick(panel().cmbZoom, "Letterbox");
    panel().cmbVideoSize->setEditText("100x100");
    const QByteArray before = readAll(settingsPath);
    dialog->btnDefaultClick();
    EXPECT_EQ(panel().cmbVideoSize->currentText(), "640x480");
    EXPECT_EQ(panel().cmbVideoBitRate->currentText(), "1500");
    EXPECT_EQ(panel().cmbFrameRate->currentText(), "29.97");
    EXPECT_EQ(panel().cmbVideoEncoder->currentText(), "MPEG-4");
    EXPECT_EQ(panel().cmbSamplerate->currentText(), "44100");
    EXPECT_EQ(panel().cmbVolume->currentText(), "100%");
    EXPECT_EQ(panel().cmbZoom->currentText(), "Full screen");
    EXPECT_EQ(readAll(settingsPath), before);
}

TEST_F(SettingsDialogTest, FrameSizeKeysAndExitCheck) {
    settings().writeString("settings", "FormatCode", "104");
    open();
    QLineEdit* edit = panel().cmbVideoSize->lineEdit();
    edit->setFocus();
    edit->clear();
    QTest::keyClicks(edit, "641xa4x79");
    EXPECT_EQ(edit->text(), "641x479");
    EXPECT_EQ(dialogs->beeps, 2); // the letter and the second "x"
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(dialogs->beeps, 3);
    EXPECT_TRUE(dialogs->shown.empty()); // the frame size only beeps

    // Leaving the field for another one runs the check.
    panel().cmbVideoBitRate->lineEdit()->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].title, "Input Error!");
    EXPECT_EQ(dialogs->shown[0].text,
              "Frame Size must be a multiple of 2.\nThe correct value:640x478");
    EXPECT_EQ(panel().cmbVideoSize->currentText(), "640x478");

    struct {
        const char* typed;
        const char* after;
        const char* message; // empty: no message
    } const cases[] = {
        {"0x0", "2x2", "Frame Size must be a multiple of 2.\nThe correct value:2x2"},
        {"As Source", "As Source", ""},
        {"720x576", "720x576", ""},
        {"720", "320x240", "Frame Size is not a valid value!"}, // shows the second entry
    };
    panel().cmbVideoSize->setCurrentIndex(0);
    for (const auto& c : cases) {
        dialogs->shown.clear();
        panel().cmbVideoSize->setEditText(c.typed);
        panel().cmbVideoSizeExit();
        EXPECT_EQ(dialogs->messages().join("|"), c.message) << c.typed;
        EXPECT_EQ(panel().cmbVideoSize->currentText(), c.after) << c.typed;
    }
}

TEST_F(SettingsDialogTest, NumericFieldsRefuseLettersAndPasteWithAMessage) {
    settings().writeString("settings", "FormatCode", "104");
    open();
    QApplication::clipboard()->setText("999");
    for (QComboBox* box :
         {panel().cmbVideoBitRate, panel().cmbSamplerate, panel().cmbAudioBitRate}) {
        SCOPED_TRACE(box->objectName().toStdString());
        dialogs->shown.clear();
        dialogs->beeps = 0;
        QLineEdit* edit = box->lineEdit();
        edit->setFocus();
        edit->clear();
        QTest::keyClicks(edit, "12.5k");
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Backspace);
        // Keys typed with the focus on the box reach its line edit through the box.
        QTest::keyClicks(box, "q3");
        EXPECT_EQ(edit->text(), "123");
        EXPECT_EQ(dialogs->messages(), QStringList(4, QStringLiteral("Please enter numerical.")));
        EXPECT_EQ(dialogs->beeps, 4);
    }
}

TEST_F(SettingsDialogTest, InvalidRatesFallBackToTheSecondEntry) {
    settings().writeString("settings", "FormatCode", "104");
    open();
    panel().cmbVideoBitRate->setEditText("fast");
    panel().cmbVideoBitRateExit();
    panel().cmbAudioBitRate->setEditText("96.5");
    panel().cmbAudioBitRateExit(); // decimals are fine for audio
    panel().cmbSamplerate->setEditText("44.1");
    panel().cmbSamplerateExit();
    EXPECT_EQ(dialogs->messages(), (QStringList{"Video BitRate is not a valid value!",
                                                "Audio SampleRate is not a valid value!"}));
    EXPECT_EQ(panel().cmbVideoBitRate->currentText(), "512");
    EXPECT_EQ(panel().cmbAudioBitRate->currentText(), "96.5");
    EXPECT_EQ(panel().cmbSamplerate->currentText(), "22050");

    // With fewer than two entries nothing is selected for the user.
    IniFile(profilePath).writeString("formatInfo104", "VideoBitRate", "1000");
    panel().LoadOptionLists("104");
    panel().cmbVideoBitRate->setEditText("fast");
    panel().cmbVideoBitRateExit();
    EXPECT_EQ(panel().cmbVideoBitRate->currentText(), "fast");
}

} // namespace
