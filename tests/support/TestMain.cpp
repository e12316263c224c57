#include "support/TestEnv.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace vorlin::test {
namespace {

std::unique_ptr<QTemporaryDir> g_home;

void pointEnvironmentAt(const QString& home) {
    const auto set = [](const char* name, const QString& value) {
        QDir().mkpath(value);
        ::setenv(name, value.toLocal8Bit().constData(), 1);
    };
    set("HOME", home);
    set("USERPROFILE", home);
    set("XDG_DATA_HOME", home + "/.local/share");
    set("XDG_CONFIG_HOME", home + "/.config");
    set("XDG_CACHE_HOME", home + "/.cache");
    set("XDG_RUNTIME_DIR", home + "/.runtime");
    // Only this folder counts as shared data, so no system-wide profile leaks in.
    ::setenv("XDG_DATA_DIRS", (home + "/.local/share").toLocal8Bit().constData(), 1);
}

class IsolatedHome : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override {
        g_home = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/vorlin-test-XXXXXX");
        pointEnvironmentAt(g_home->path());
    }
    void OnTestEnd(const testing::TestInfo&) override { g_home.reset(); }
};

} // namespace

QString testHome() {
    return g_home ? g_home->path() : QString();
}

} // namespace vorlin::test

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // A home for whatever Qt touches while starting up, before the first test runs.
    QTemporaryDir startupHome(QDir::tempPath() + "/vorlin-test-XXXXXX");
    ::setenv("HOME", startupHome.path().toLocal8Bit().constData(), 1);
    ::setenv("XDG_RUNTIME_DIR", startupHome.path().toLocal8Bit().constData(), 1);
    testing::InitGoogleMock(&argc, argv);
    QApplication app(argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new vorlin::test::IsolatedHome);
    return RUN_ALL_TESTS();
}
