#include "platform/Platform.h"

#include "support/Fixtures.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace vorlin::platform {
namespace {

QStringList leftoverTempFiles(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("DA*")}, QDir::Files | QDir::Hidden);
}

TEST(CanWriteTo, CreatesAndRemovesAProbeFileInAWritableFolder) {
    const QString home = test::testHome();
    const QString spaced = home + QStringLiteral("/a folder; with $odd 'chars'");
    ASSERT_TRUE(QDir().mkpath(spaced));

    for (const QString& folder : {home, home + QLatin1Char('/'), spaced}) {
        SCOPED_TRACE(folder.toStdString());
        EXPECT_TRUE(canWriteTo(folder));
        EXPECT_TRUE(leftoverTempFiles(folder).isEmpty());
    }
}

TEST(CanWriteTo, RefusesPlacesWhereNoFileCanBeCreated) {
    const QString home = test::testHome();
    QFile plainFile(home + QStringLiteral("/not-a-folder"));
    ASSERT_TRUE(plainFile.open(QIODevice::WriteOnly));
    plainFile.close();

    // Permission bits do not stop root, so the read-only cases are virtual file systems.
    for (const QString& folder :
         {QString(), home + QStringLiteral("/missing"), home + QStringLiteral("/missing/deeper"),
          plainFile.fileName(), QStringLiteral("/proc"), QStringLiteral("/sys")}) {
        SCOPED_TRACE(folder.toStdString());
        EXPECT_FALSE(canWriteTo(folder));
    }
    EXPECT_FALSE(QDir(home + QStringLiteral("/missing")).exists());
}

TEST(VersionText, WritesMinorReleaseAndBuildWithoutSeparators) {
    struct Case {
        int major, minor, release, build;
        const char* text;
    };
    for (const Case& c : {Case{3, 6, 0, 0, " 3.600 "}, Case{1, 1, 0, 0, " 1.100 "},
                          Case{2, 10, 3, 45, " 2.10345 "}, Case{0, 0, 0, 0, " 0.000 "}}) {
        EXPECT_EQ(versionText(c.major, c.minor, c.release, c.build), QLatin1String(c.text));
    }
}

TEST(VersionText, ProgramVersionComesFromTheBuild) {
    const QStringList parts = QStringLiteral(VORLIN_TEST_PROJECT_VERSION).split(QLatin1Char('.'));
    ASSERT_EQ(parts.size(), 4);
    EXPECT_EQ(programVersionText(),
              versionText(parts[0].toInt(), parts[1].toInt(), parts[2].toInt(), parts[3].toInt()));
}

TEST(Folders, CommonAppDataLiesInTheUsersDataFolderAndExists) {
    const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    ASSERT_TRUE(dataHome.startsWith(test::testHome()));

    const QString folder = specialFolder(kCommonAppDataFolder);
    EXPECT_TRUE(folder.endsWith(QDir::separator()));
    EXPECT_TRUE(QDir::fromNativeSeparators(folder).startsWith(dataHome + QLatin1Char('/')));
    EXPECT_TRUE(QDir(folder).exists());
    EXPECT_EQ(folder, appDataFolder());
}

TEST(Folders, ProfileAndDefaultOutputFollowHome) {
    const QString home = test::testHome();
    EXPECT_EQ(userProfileFolder(), QDir::toNativeSeparators(home));
    EXPECT_EQ(specialFolder(kUserProfileFolder), QDir::toNativeSeparators(home + '/'));
    EXPECT_EQ(QDir::fromNativeSeparators(defaultOutputFolder()), home + "/videoconverter");

    // A trailing separator in HOME does not double up.
    qputenv("HOME", (home + '/').toLocal8Bit());
    EXPECT_EQ(QDir::fromNativeSeparators(defaultOutputFolder()), home + "/videoconverter");
    qputenv("HOME", home.toLocal8Bit());
}

TEST(Folders, UnknownIdentifierGivesNoFolder) {
    EXPECT_TRUE(specialFolder(-1).isEmpty());
    EXPECT_TRUE(specialFolder(9999).isEmpty());
}

TEST(CurrentUserName, MatchesTheSystemsAnswer) {
    QByteArray out;
    ASSERT_EQ(test::runProgram(QStringLiteral("id"), {QStringLiteral("-un")}, &out), 0);
    EXPECT_EQ(currentUserName(), QString::fromLocal8Bit(out).trimmed());
}

TEST(DriveType, OfRealFolders) {
    const QString home = test::testHome();
    EXPECT_NE(driveType(QStringLiteral("/proc")), DriveType::CdRom);
    const DriveType temp = driveType(home);
    EXPECT_TRUE(temp == DriveType::Fixed || temp == DriveType::RamDisk) << int(temp);
    EXPECT_EQ(driveType(QStringLiteral("/dev/shm")), DriveType::RamDisk);
    EXPECT_EQ(driveType(home + QStringLiteral("/missing")), DriveType::NoRootDir);
    EXPECT_EQ(driveType(QString()), DriveType::NoRootDir);
}

TEST(IsDriveRoot, OnlyMountPointsCount) {
    const QString home = test::testHome();
    ASSERT_TRUE(QDir().mkpath(home + QStringLiteral("/sub")));
    EXPECT_TRUE(isDriveRoot(QStringLiteral("/")));
    EXPECT_TRUE(isDriveRoot(QStringLiteral("/proc")));
    EXPECT_TRUE(isDriveRoot(QStringLiteral("/proc/")));
    EXPECT_FALSE(isDriveRoot(home + QStringLiteral("/sub")));
    EXPECT_TRUE(isDriveRoot(QStringLiteral("/proc/self/.."))); // canonicalised to /proc
    EXPECT_FALSE(isDriveRoot(home + QStringLiteral("/missing")));
    EXPECT_FALSE(isDriveRoot(QString()));
}

} // namespace
} // namespace vorlin::platform
