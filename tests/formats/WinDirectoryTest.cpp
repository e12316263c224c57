#include "formats/WinDirectory.h"

#include "support/TestEnv.h"
#include "widgets/Dialogs.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <memory>

namespace {

using vorlin::platform::DriveType;

class FolderChooserTest : public testing::Test {
protected:
    void SetUp() override { dialog = std::make_unique<TfmDirectory>(); }
    QString folder(const QString& relative) {
        const QString path = vorlin::test::testHome() + "/" + relative;
        EXPECT_TRUE(QDir().mkpath(path));
        return path;
    }
    // Selects a folder as a click in the tree does.
    void click(const QString& path) {
        ASSERT_TRUE(dialog->SelectFolder(path)) << path.toStdString();
        dialog->stview_selectdirClick();
    }
    QTreeWidgetItem* topLevel(const QString& text) {
        const auto found = dialog->stview_selectdir->findItems(text, Qt::MatchExactly);
        return found.isEmpty() ? nullptr : found.first();
    }

    vorlin::widgets::ScopedDialogRecorder dialogs;
    std::unique_ptr<TfmDirectory> dialog;
};

TEST_F(FolderChooserTest, StartsAtHomeAndChoosesFoldersWithAnyName) {
    const QString spaced = folder("my clips/Vidéos 日本 2024");
    dialog->show();
    EXPECT_EQ(dialog->size(), QSize(322, 351));
    EXPECT_EQ(dialog->windowTitle(), "Brows");
    EXPECT_EQ(dialog->SelectedPath(), vorlin::test::testHome());
    EXPECT_TRUE(dialog->btnOk->isEnabled());

    click(spaced);
    EXPECT_EQ(dialog->stview_selectdir->currentItem()->text(0), "Vidéos 日本 2024");
    dialog->btnOkClick();
    EXPECT_EQ(dialog->SelectedDir, spaced);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_TRUE(dialogs->shown.empty());

    // The next showing starts at home again.
    dialog->show();
    EXPECT_EQ(dialog->SelectedPath(), vorlin::test::testHome());
}

TEST_F(FolderChooserTest, PlacesThatAreNoFoldersCannotBeChosen) {
    dialog->show();
    QTreeWidgetItem* computer = topLevel("Computer");
    ASSERT_NE(computer, nullptr);
    dialog->stview_selectdir->setCurrentItem(computer);
    dialog->stview_selectdirClick();
    EXPECT_FALSE(dialog->btnOk->isEnabled());
    // Its file system is a folder (the main window refuses it as a drive root).
    click("/");
    EXPECT_TRUE(dialog->btnOk->isEnabled());
    EXPECT_EQ(dialog->stview_selectdir->currentItem()->parent(), computer);
    // Hidden folders are not in the tree.
    EXPECT_FALSE(dialog->SelectFolder(folder(".hidden/inner")));
}

TEST_F(FolderChooserTest, AFolderDeletedWhileOpenIsNotChosen) {
    const QString parent = folder("projects");
    const QString doomed = folder("projects/old take");
    dialog->show();
    click(doomed);
    ASSERT_TRUE(QDir(doomed).removeRecursively());
    dialog->btnOkClick();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->SelectedDir.isEmpty());
    ASSERT_EQ(dialogs->messages().size(), 1);
    EXPECT_TRUE(dialogs->messages()[0].contains("does not exist any more"))
        << dialogs->messages()[0].toStdString();
    // The tree dropped it and stands on its parent, which can be chosen.
    EXPECT_EQ(dialog->SelectedPath(), parent);
    EXPECT_EQ(dialog->stview_selectdir->currentItem()->childCount(), 0);
    EXPECT_TRUE(dialog->btnOk->isEnabled());

    // A click on a folder that is gone disables Ok; expanding its parent drops it.
    const QString other = folder("projects/new take");
    dialog->RefreshNode(dialog->stview_selectdir->currentItem());
    click(other);
    ASSERT_TRUE(QDir(other).removeRecursively());
    dialog->stview_selectdirClick();
    EXPECT_FALSE(dialog->btnOk->isEnabled());
    QTreeWidgetItem* node = dialog->stview_selectdir->currentItem()->parent();
    node->setExpanded(false);
    node->setExpanded(true);
    EXPECT_EQ(node->childCount(), 0);
}

TEST_F(FolderChooserTest, NewFoldersAppearWhenTheirParentOpensAgain) {
    const QString base = folder("media");
    folder("media/a");
    dialog->show();
    click(base);
    QTreeWidgetItem* node = dialog->stview_selectdir->currentItem();
    node->setExpanded(true);
    ASSERT_EQ(node->childCount(), 1);
    node->child(0)->setExpanded(true);
    folder("media/B");
    folder("media/c");
    node->setExpanded(false);
    node->setExpanded(true);
    ASSERT_EQ(node->childCount(), 3);
    EXPECT_EQ(node->child(0)->text(0), "a");
    EXPECT_EQ(node->child(1)->text(0), "B");
    EXPECT_EQ(node->child(2)->text(0), "c");
}

TEST_F(FolderChooserTest, OpticalDiscFoldersAreRefusedInsideTheDialog) {
    const QString disc = folder("disc/VIDEO_TS");
    dialog->DriveTypeOf = [disc](const QString& path) {
        return path == disc ? DriveType::CdRom : DriveType::Fixed;
    };
    dialog->show();
    click(disc);
    dialog->btnOkClick();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->SelectedDir.isEmpty());
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].text,
              "Output folder cannot be located in CD-ROM.Please select another folder.");
    EXPECT_EQ(dialogs->shown[0].icon, vorlin::widgets::MessageIcon::Information);

    dialog->btnCancelClick();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_TRUE(dialog->SelectedDir.isEmpty());

    // Any other folder passes.
    dialog->show();
    click(folder("disc"));
    dialog->btnOkClick();
    EXPECT_EQ(dialog->SelectedDir, vorlin::test::testHome() + "/disc");
}

} // namespace
