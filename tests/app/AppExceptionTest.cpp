#include "app/AppException.h"

#include "widgets/Dialogs.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace {

using vorlin::widgets::MessageIcon;
using vorlin::widgets::ScopedDialogRecorder;

TEST(AppException, PointIsAppendedOnlyAfterCharactersAboveThePoint) {
    struct {
        QString message;
        QString shown;
    } const cases[] = {
        {"File not found", "File not found."},
        {"Done.", "Done."},
        {"Stop!", "Stop!"},       // '!' sorts below '.'
        {"Really?", "Really?."},  // '?' sorts above '.'
        {"Code 7", "Code 7."},    // digits sort above '.'
        {"quoted\"", "quoted\""}, // '"' sorts below '.'
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AppExceptionText(c.message), c.shown) << c.message.toStdString();
}

TEST(AppException, IconDependsOnTheExceptionClassAndAccessViolationsAreSilent) {
    QApplication::setApplicationDisplayName("Vorlin MOV to MP4 Converter");
    ScopedDialogRecorder dialogs;
    AppException(nullptr, std::make_exception_ptr(FFmpegException("Codec not found")));
    AppException(nullptr, std::make_exception_ptr(std::runtime_error("Disk full")));
    AppException(nullptr, std::make_exception_ptr(AccessViolation("read of address 0")));
    AppException(nullptr, std::make_exception_ptr(42));

    ASSERT_EQ(dialogs->shown.size(), 3u);
    EXPECT_EQ(dialogs->shown[0].text, "Codec not found.");
    EXPECT_EQ(dialogs->shown[0].icon, MessageIcon::Warning);
    EXPECT_EQ(dialogs->shown[0].title, "Vorlin MOV to MP4 Converter");
    EXPECT_EQ(dialogs->shown[1].text, "Disk full.");
    EXPECT_EQ(dialogs->shown[1].icon, MessageIcon::Error);
    EXPECT_EQ(dialogs->shown[2].icon, MessageIcon::Error);
    EXPECT_FALSE(dialogs->shown[2].text.isEmpty());
}

} // namespace
