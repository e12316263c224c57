#pragma once

#include "platform/Platform.h"

#include <QString>

#include <vector>

// The system's table of mounted file systems, as the drive-type and drive-root questions need
// it. Kept apart from Platform.cpp so the parsing can be checked against made-up tables.
namespace vorlin::platform::detail {

struct MountEntry {
    QString mountPoint;     // absolute, with escapes (\040 and the like) decoded
    QString fileSystemType; // "ext4", "iso9660", "fuse.sshfs" ...
    QString device;         // "major:minor"
};

// Parses the text of /proc/self/mountinfo; malformed lines are skipped.
std::vector<MountEntry> parseMountInfo(const QByteArray& text);

// The mount holding an absolute, canonical path: the longest mount point that is the path
// itself or one of its parent folders; of equal ones the last (the one mounted on top).
// Nullptr when none matches.
const MountEntry* mountContaining(const std::vector<MountEntry>& mounts, const QString& path);

// Drive type of a file-system type name, as far as the name tells it (Fixed otherwise).
DriveType driveTypeOfFileSystem(const QString& fileSystemType);

} // namespace vorlin::platform::detail
