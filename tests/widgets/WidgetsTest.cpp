#include "widgets/Dialogs.h"
#include "widgets/ThemeManager.h"

#include <QDialog>
#include <QSet>
#include <gtest/gtest.h>

namespace {

using namespace vorlin::widgets;

TEST(FileFilter, WindowsStyleFilterBecomesQtFilterWithUpperCaseVariants) {
    EXPECT_EQ(qtFileFilter("Quick Time files (*.mov,*.qt)|*.mov;*.qt"),
              "Quick Time files (*.mov *.MOV *.qt *.QT)");
    EXPECT_EQ(qtFileFilter("Pictures (*.bmp)|*.bmp|All (*.*)|*.*"),
              "Pictures (*.bmp *.BMP);;All (*.*)");
}

TEST(Skins, SevenDistinctThemesWithTheListTints) {
    QSet<QRgb> accents;
    const char* names[] = {"Default", "Gray", "Orange", "Purple", "Red", "Green", "Light blue"};
    for (int i = 0; i < kSkinCount; ++i) {
        ASSERT_NE(skinColors(i), nullptr);
        EXPECT_EQ(skinColors(i)->name, names[i]);
        accents.insert(skinColors(i)->accent.rgb());
    }
    EXPECT_EQ(accents.size(), kSkinCount);
    EXPECT_EQ(skinColors(7), nullptr);
    EXPECT_EQ(skinColors(-1), nullptr);
    EXPECT_EQ(oddRowColor(0), QColor(226, 230, 246));
    EXPECT_EQ(oddRowColor(5), QColor(226, 247, 225));
    EXPECT_EQ(oddRowColor(6), QColor(225, 240, 247));
    EXPECT_EQ(oddRowColor(-1), QColor(235, 235, 235));
}

TEST(Skins, OutOfRangeKeepsThemeAndDialogsFollowTheMainTheme) {
    ThemeManager main;
    EXPECT_EQ(main.theme(), 0);
    EXPECT_FALSE(main.setTheme(7));
    EXPECT_EQ(main.theme(), 0);
    EXPECT_TRUE(main.setTheme(4));

    QDialog dialog;
    ThemeManager::applyMainTheme(&dialog); // no main theme registered yet: untouched
    EXPECT_FALSE(dialog.property("vorlinTheme").isValid());
    ThemeManager::setMainTheme(&main);
    ThemeManager::applyMainTheme(&dialog);
    EXPECT_EQ(dialog.property("vorlinTheme").toInt(), 4);
    EXPECT_EQ(dialog.palette().color(QPalette::Window), skinColors(4)->window);
    ThemeManager::setMainTheme(nullptr);
}

TEST(DialogRecorder, AnswersFromQueuesAndRecordsTexts) {
    ScopedDialogRecorder rec;
    rec->answers = {true};
    EXPECT_TRUE(dialogs().ask(nullptr, "Warning", "Sure?"));
    EXPECT_FALSE(dialogs().ask(nullptr, "Warning", "Again?")); // empty queue answers No
    dialogs().warn(nullptr, "Warning", "Careful");
    EXPECT_EQ(rec->messages(), QStringList{"Careful"});
    EXPECT_TRUE(dialogs().chooseFiles(nullptr, "Open", "/", "*.mov").isEmpty());
}

} // namespace
