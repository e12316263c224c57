#include "platform/Shell.h"

#include <gtest/gtest.h>

namespace vorlin::platform {
namespace {

using Call = ShellRecorder::Call;

TEST(ShellSeam, RecorderTakesEveryActionAndReportsItsResult) {
    ScopedShellRecorder recorder;
    const QString odd = QStringLiteral("/tmp/out dir/it's; $(rm -rf x) \"q\"");
    EXPECT_TRUE(shell().openFolder(odd));
    EXPECT_TRUE(shell().openUrl(QStringLiteral("https://example.org/help?a=1&b=2")));
    recorder->result = false;
    EXPECT_FALSE(shell().shutDown());

    ASSERT_EQ(recorder->calls.size(), 3u);
    EXPECT_EQ(recorder->calls[0].kind, Call::OpenFolder);
    EXPECT_EQ(recorder->calls[0].target, odd);
    EXPECT_EQ(recorder->calls[1].kind, Call::OpenUrl);
    EXPECT_EQ(recorder->calls[1].target, QStringLiteral("https://example.org/help?a=1&b=2"));
    EXPECT_EQ(recorder->calls[2].kind, Call::ShutDown);
}

TEST(ShellSeam, NestedRecordersRestoreWhatWasThereBefore) {
    ScopedShellRecorder outer;
    {
        ScopedShellRecorder inner;
        EXPECT_EQ(&shell(), &*inner);
        shell().shutDown();
        EXPECT_EQ(inner->calls.size(), 1u);
    }
    EXPECT_EQ(&shell(), &*outer);
    EXPECT_TRUE(outer->calls.empty());
    shell().openFolder(QStringLiteral("/x"));
    EXPECT_EQ(outer->calls.size(), 1u);
}

TEST(ShellSeam, SetShellHandsBackThePreviousServices) {
    auto first = std::make_unique<ShellRecorder>();
    ShellRecorder* firstRaw = first.get();
    std::unique_ptr<ShellServices> original = setShell(std::move(first));
    ASSERT_NE(original, nullptr);
    EXPECT_EQ(&shell(), firstRaw);

    std::unique_ptr<ShellServices> back = setShell(std::move(original));
    EXPECT_EQ(back.get(), firstRaw);
    EXPECT_NE(&shell(), firstRaw);
    EXPECT_EQ(dynamic_cast<ShellRecorder*>(&shell()), nullptr); // the real services again
}

} // namespace
} // namespace vorlin::platform
