#include "platform/MountTable.h"

#include <gtest/gtest.h>

namespace vorlin::platform::detail {
namespace {

// A made-up table in the kernel's format: optional fields of varying number before "-",
// escaped blanks in a mount point, a prefix trap (/media/cd vs /media/cdrom2) and a file
// system mounted on top of another at the same place.
const QByteArray kTable = "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
                          "21 27 0:20 / /proc rw,relatime - proc proc rw\n"
                          "25 27 0:23 / /dev/shm rw shared:5 - tmpfs tmpfs rw\n"
                          "40 27 11:0 / /media/cd ro shared:7 master:2 - iso9660 /dev/sr0 ro\n"
                          "41 27 11:1 / /media/cdrom2 ro - udf /dev/sr1 ro\n"
                          "42 27 0:50 / /mnt/my\\040share rw - cifs //srv/share rw\n"
                          "43 27 0:51 / /home/u/remote rw - fuse.sshfs u@host: rw\n"
                          "44 27 8:17 / /mnt/stack rw - ext4 /dev/sdb1 rw\n"
                          "45 44 0:52 / /mnt/stack rw - nfs4 srv:/x rw\n"
                          "garbage line without fields\n"
                          "46 27 0:53 / relative rw - ext4 /dev/x rw\n";

TEST(MountTable, ParsesFieldsAndDecodesEscapes) {
    const auto mounts = parseMountInfo(kTable);
    ASSERT_EQ(mounts.size(), 9u); // the garbage and the relative entry are dropped
    EXPECT_EQ(mounts[0].mountPoint, "/");
    EXPECT_EQ(mounts[0].fileSystemType, "ext4");
    EXPECT_EQ(mounts[3].mountPoint, "/media/cd");
    EXPECT_EQ(mounts[3].fileSystemType, "iso9660");
    EXPECT_EQ(mounts[3].device, "11:0");
    EXPECT_EQ(mounts[5].mountPoint, "/mnt/my share");
}

TEST(MountTable, FindsTheMountHoldingAPath) {
    const auto mounts = parseMountInfo(kTable);
    struct Case {
        const char* path;
        const char* mountPoint;
        DriveType type;
    };
    const Case cases[] = {
        {"/", "/", DriveType::Fixed},
        {"/home/u/videos", "/", DriveType::Fixed},
        {"/media/cd", "/media/cd", DriveType::CdRom},
        {"/media/cd/VIDEO_TS", "/media/cd", DriveType::CdRom},
        {"/media/cdrom2/x", "/media/cdrom2", DriveType::CdRom},
        {"/media/cdx", "/", DriveType::Fixed},
        {"/mnt/my share/out", "/mnt/my share", DriveType::Remote},
        {"/home/u/remote/a", "/home/u/remote", DriveType::Remote},
        {"/home/u/remotely", "/", DriveType::Fixed},
        {"/dev/shm/x", "/dev/shm", DriveType::RamDisk},
        {"/mnt/stack/data", "/mnt/stack", DriveType::Remote}, // the later mount is on top
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const MountEntry* mount = mountContaining(mounts, QString::fromUtf8(c.path));
        ASSERT_NE(mount, nullptr);
        EXPECT_EQ(mount->mountPoint, QString::fromUtf8(c.mountPoint));
        EXPECT_EQ(driveTypeOfFileSystem(mount->fileSystemType), c.type);
    }
}

TEST(MountTable, NoMountWithoutARoot) {
    const auto mounts = parseMountInfo("40 27 11:0 / /media/cd ro - iso9660 /dev/sr0 ro\n");
    EXPECT_EQ(mountContaining(mounts, QStringLiteral("/home")), nullptr);
    EXPECT_EQ(mountContaining({}, QStringLiteral("/")), nullptr);
}

TEST(MountTable, FileSystemTypes) {
    struct Case {
        const char* type;
        DriveType expected;
    };
    for (const Case& c : {Case{"iso9660", DriveType::CdRom}, Case{"udf", DriveType::CdRom},
                          Case{"nfs", DriveType::Remote}, Case{"cifs", DriveType::Remote},
                          Case{"smb3", DriveType::Remote}, Case{"fuse.sshfs", DriveType::Remote},
                          Case{"tmpfs", DriveType::RamDisk}, Case{"ramfs", DriveType::RamDisk},
                          Case{"ext4", DriveType::Fixed}, Case{"proc", DriveType::Fixed}}) {
        EXPECT_EQ(driveTypeOfFileSystem(QLatin1String(c.type)), c.expected) << c.type;
    }
}

} // namespace
} // namespace vorlin::platform::detail
