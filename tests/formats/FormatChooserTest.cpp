#include "formats/FormatChooser.h"
#include "formats/IniFile.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest/QTest>
#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace vorlin::formats;

// A window holding one chooser the way the main window or the settings dialog does.
class ChooserTest : public testing::Test {
protected:
    void make(ChooserHost host) {
        window = std::make_unique<QWidget>();
        window->resize(600, 480);
        edt1 = new QLineEdit(window.get());
        edt1->setObjectName("edt1");
        edt1->setReadOnly(true);
        imgbtn1 = new QToolButton(window.get());
        imgbtn1->setObjectName("imgbtn1");
        other = new QPushButton("other", window.get());
        other->setGeometry(500, 10, 80, 24);
        // The main window's field sits low and its list opens upward; the dialog's sits high.
        edt1->setGeometry(100, host == ChooserHost::MainWindow ? 400 : 20, 380, 22);
        imgbtn1->setGeometry(461, edt1->y() + 2, 17, 18);
        lst1 = new TFormatList(window.get());
        chooser = new TFormatChooser(
            host, edt1, imgbtn1, lst1, [this] { return settingsPath(); }, window.get());
        window->show();
        QApplication::setActiveWindow(window.get());
    }
    QString settingsPath() const { return vorlin::test::testHome() + "/settings.ini"; }
    IniFile settings() const { return IniFile(settingsPath()); }
    QStringList rows() const {
        QStringList out;
        for (int i = 0; i < lst1->count(); ++i)
            out << lst1->item(i)->text();
        return out;
    }
    QPoint rowPoint(int row, int x) const {
        return QPoint(x, lst1->visualItemRect(lst1->item(row)).center().y());
    }

    std::unique_ptr<QWidget> window;
    QLineEdit* edt1 = nullptr;
    QToolButton* imgbtn1 = nullptr;
    QPushButton* other = nullptr;
    TFormatList* lst1 = nullptr;
    TFormatChooser* chooser = nullptr;
};

TEST_F(ChooserTest, FirstBuildShowsCollapsedCategoriesAndTheDefaultName) {
    make(ChooserHost::MainWindow);
    chooser->BuildFormatList();
    EXPECT_EQ(rows(), (QStringList{"MPEG-4 Video Formates", "General Video formates",
                                   "General Audio formates"}));
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(lst1->row(i)->Info.IsGroupRow);
        EXPECT_TRUE(lst1->row(i)->Info.Collapsed);
        EXPECT_EQ(lst1->row(i)->Info.Code, i);
    }
    EXPECT_EQ(edt1->text(), "Apple iPod Video MPEG-4 Movie (*.mp4)");
    EXPECT_EQ(lst1->selectedRow(), -1);
    EXPECT_FALSE(lst1->isVisible());

    chooser->imgbtn1Click();
    ASSERT_TRUE(lst1->isVisible());
    EXPECT_EQ(lst1->height(), 80);
    EXPECT_EQ(lst1->geometry().bottom() + 1, edt1->y()); // opens upward onto the field
    EXPECT_EQ(lst1->x(), edt1->x());
    chooser->imgbtn1Click();
    EXPECT_FALSE(lst1->isVisible());
}

TEST_F(ChooserTest, StoredStatesExpandCategoriesAndSelectTheStoredFormat) {
    settings().writeString("lstformat", "1", "0");
    settings().writeString("lstformat", "2", "5"); // any other integer collapses
    settings().writeString("settings", "FormatName", "  avi video (*.AVI) ");
    make(ChooserHost::MainWindow);
    chooser->BuildFormatList();
    ASSERT_EQ(lst1->count(), 13);
    EXPECT_EQ(lst1->item(1)->text(), "General Video formates");
    EXPECT_EQ(lst1->item(2)->text(), "MPEG-1 Video (*.mpg)");
    EXPECT_EQ(lst1->row(11)->Info.Code, 109);
    EXPECT_TRUE(lst1->row(12)->Info.Collapsed);
    EXPECT_EQ(lst1->selectedRow(), 6); // AVI, found without blanks and case
    EXPECT_EQ(lst1->row(6)->Info.Code, 104);

    // A stored format inside a collapsed category selects nothing.
    settings().writeString("settings", "FormatName", "MP3 MPEG Layer-3 Audio (*.mp3)");
    chooser->imgbtn1Click();
    EXPECT_EQ(lst1->selectedRow(), -1);
}

TEST_F(ChooserTest, GlyphPressAndDoubleClickToggleCategoriesOtherPressesDoNot) {
    make(ChooserHost::MainWindow);
    chooser->BuildFormatList();
    chooser->imgbtn1Click();

    // Right of the glyph column a press on a category does nothing.
    chooser->lst1MouseDown(rowPoint(1, 20));
    EXPECT_EQ(lst1->count(), 3);
    chooser->lst1MouseDown(rowPoint(1, 5));
    ASSERT_EQ(lst1->count(), 13);
    EXPECT_FALSE(lst1->row(1)->Info.Collapsed);
    EXPECT_EQ(lst1->item(2)->text(), "MPEG-1 Video (*.mpg)");
    EXPECT_EQ(lst1->item(12)->text(), "General Audio formates");
    chooser->lst1Click();
    EXPECT_EQ(lst1->height(), 13 * 20 + 20);

    // Double click toggles wherever the pointer is.
    lst1->setCurrentRow(0);
    chooser->lst1DblClick();
    ASSERT_EQ(lst1->count(), 15);
    EXPECT_EQ(lst1->row(1)->Info.Code, 0);
    EXPECT_EQ(lst1->row(2)->Info.Code, 1);
    lst1->setCurrentRow(3); // General Video, now expanded
    chooser->lst1DblClick();
    EXPECT_EQ(lst1->count(), 5);
    EXPECT_TRUE(lst1->row(3)->Info.Collapsed);
    lst1->setCurrentRow(1); // a format row: nothing
    chooser->lst1DblClick();
    EXPECT_EQ(lst1->count(), 5);

    // Everything open is taller than the list may grow.
    lst1->setCurrentRow(3);
    chooser->lst1DblClick();
    chooser->ExpandGroup(14);
    ASSERT_EQ(lst1->count(), 22);
    chooser->lst1Click();
    EXPECT_EQ(lst1->height(), 358);

    chooser->SaveGroupStates();
    for (const char* key : {"0", "1", "2"})
        EXPECT_EQ(settings().readString("lstformat", key, ""), "0") << key;
}

TEST_F(ChooserTest, ChoosingTheBlankSpelledMpeg4StoresCode102) {
    settings().writeString("lstformat", "0", "0");
    settings().writeString("lstformat", "1", "0");
    make(ChooserHost::MainWindow);
    chooser->BuildFormatList();
    chooser->edt1Click();
    QSignalSpy chosen(chooser, &TFormatChooser::formatChosen);
    const int row = rows().indexOf("MPEG-4 Video (*.mp4)");
    ASSERT_EQ(row, 6);
    chooser->lst1MouseDown(rowPoint(row, 100));
    EXPECT_EQ(settings().readString("settings", "FormatCode", ""), "102");
    EXPECT_EQ(settings().readString("settings", "FormatName", ""), "MPEG-4 Video (*.mp4)");
    EXPECT_EQ(edt1->text(), "MPEG-4 Video (*.mp4)");
    EXPECT_FALSE(lst1->isVisible());
    ASSERT_EQ(chosen.count(), 1);
    EXPECT_EQ(chosen.at(0).at(1).toInt(), 102);

    chooser->edt1Click();
    chooser->lst1MouseDown(rowPoint(1, 100));
    EXPECT_EQ(settings().readString("settings", "FormatCode", ""), "0");
    EXPECT_EQ(edt1->text(), "MPEG-4 Video(*.mp4)");
}

TEST_F(ChooserTest, HoverMovesTheHighlightAndLeavingKeepsIt) {
    settings().writeString("lstformat", "2", "0");
    make(ChooserHost::MainWindow);
    chooser->BuildFormatList();
    chooser->edt1Click();
    QTest::mouseMove(lst1->viewport(), rowPoint(4, 60));
    EXPECT_EQ(lst1->selectedRow(), 4);
    chooser->lst1MouseMove(rowPoint(6, 60));
    EXPECT_EQ(lst1->selectedRow(), 6);
    chooser->lst1MouseMove(QPoint(60, lst1->viewport()->height() + 50));
    EXPECT_EQ(lst1->selectedRow(), 6);
}

TEST_F(ChooserTest, DialogChooserOpensDownwardAndOnlyChangesItsCurrentFormat) {
    settings().writeString("settings", "FormatName", "AVI Video (*.avi)");
    settings().writeString("settings", "FormatCode", "104");
    settings().writeString("lstformat", "2", "0");
    make(ChooserHost::SettingsDialog);
    chooser->BuildFormatList();
    chooser->CurFormatName = "WAV - Waveform Audio (*.wav)";
    chooser->edt1Click();
    ASSERT_TRUE(lst1->isVisible());
    EXPECT_EQ(lst1->y(), edt1->y() + edt1->height() - 1);
    EXPECT_EQ(lst1->height(), 10 * 20 + 20);
    EXPECT_EQ(lst1->currentItem()->text(), "WAV - Waveform Audio (*.wav)");

    chooser->lst1MouseDown(rowPoint(rows().indexOf("OGG Vorbis Audio Codec (*.ogg)"), 80));
    EXPECT_EQ(chooser->CurFormatName, "OGG Vorbis Audio Codec (*.ogg)");
    EXPECT_EQ(chooser->CurFormatCode, "205");
    EXPECT_EQ(edt1->text(), "OGG Vorbis Audio Codec (*.ogg)");
    EXPECT_EQ(settings().readString("settings", "FormatCode", ""), "104");

    // All rows open: the dialog's list stops at 247 pixels.
    chooser->ExpandGroup(chooser->groupRow(0));
    chooser->ExpandGroup(chooser->groupRow(1));
    chooser->lst1Click();
    EXPECT_EQ(lst1->height(), 247);
}

TEST_F(ChooserTest, DialogListClosesOnPressesElsewhereAndOnDeactivation) {
    make(ChooserHost::SettingsDialog);
    chooser->BuildFormatList();
    chooser->imgbtn1Click();
    ASSERT_TRUE(lst1->isVisible());
    // A press on the list itself (its scroll area parts included) keeps it open.
    QTest::mousePress(lst1->viewport(), Qt::LeftButton, {}, rowPoint(0, 60));
    EXPECT_TRUE(lst1->isVisible());
    QTest::mousePress(other, Qt::LeftButton);
    EXPECT_FALSE(lst1->isVisible());

    chooser->imgbtn1Click();
    ASSERT_TRUE(lst1->isVisible());
    emit qApp->applicationStateChanged(Qt::ApplicationInactive);
    EXPECT_FALSE(lst1->isVisible());
}

TEST_F(ChooserTest, RowsAreDrawnWithGlyphIconAndHighlight) {
    settings().writeString("lstformat", "1", "0");
    make(ChooserHost::MainWindow);
    chooser->BuildFormatList();
    chooser->imgbtn1Click();
    lst1->setCurrentRow(3);
    QApplication::processEvents();
    const QImage shot = lst1->viewport()->grab().toImage();
    const auto at = [&](int row, int x, int dy = 0) {
        return shot.pixelColor(x, lst1->visualItemRect(lst1->item(row)).center().y() + dy);
    };
    EXPECT_EQ(at(3, 10, 6), QColor(185, 204, 236));  // the focused row's fill
    EXPECT_EQ(at(4, 200, 8), QColor(246, 247, 248)); // other rows on the list colour
    // Category row 1 is expanded: its glyph (a minus, no vertical bar) and icon are drawn.
    EXPECT_EQ(TFormatList::glyph(true).size(), QSize(16, 16));
    EXPECT_EQ(TFormatList::categoryIcon(2).size(), QSize(20, 20));
    bool iconDrawn = false;
    for (int x = 23; x < 43; ++x)
        iconDrawn = iconDrawn || at(1, x) != QColor(246, 247, 248);
    EXPECT_TRUE(iconDrawn);
}

} // namespace
