#pragma once

#include <QString>

// Operating-system services the program asks for: folders, writability, user name,
// version text, drive type. Pure functions of the environment; no state of their own.
namespace vorlin::platform {

// Shell folder identifiers the program uses (the Windows CSIDL numbers it was written for).
inline constexpr int kCommonAppDataFolder = 35;
inline constexpr int kUserProfileFolder = 40;

// The machine-wide application-data folder of the program, with a trailing separator,
// created on first use. On Linux: QStandardPaths::GenericDataLocation + "/Vorlin/".
QString appDataFolder();

// Path of a shell special folder with a trailing separator; empty when there is none.
QString specialFolder(int folderId);

// The user's profile folder (HOME; USERPROFILE on Windows), without a trailing separator.
QString userProfileFolder();

// The output folder used when none is set or the set one cannot be written:
// the user's profile folder + "/videoconverter" ("c:\videoconverter" on Windows).
QString defaultOutputFolder();

// True when a temporary file with the prefix "DA" can really be created in the folder and
// deleted again. False for a missing folder, a read-only mount, or an empty path.
bool canWriteTo(const QString& folder);

// The logged-on user's name; empty when the system gives none.
QString currentUserName();

// " major.minorreleasebuild " (3.6.0.0 gives " 3.600 ").
QString versionText(int major, int minor, int release, int build);

// The program's own version, compiled in from the build system.
QString programVersionText();

enum class DriveType { Unknown, NoRootDir, Removable, Fixed, Remote, CdRom, RamDisk };

// Kind of the volume that holds the folder. Optical file systems (iso9660, udf) are CdRom.
DriveType driveType(const QString& folder);

// True when the path names the root of a volume ("/" or a mount point; "c:\" on Windows).
bool isDriveRoot(const QString& folder);

} // namespace vorlin::platform
