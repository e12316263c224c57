#include "platform/Platform.h"

#include "platform/MountTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <vector>

#ifndef VORLIN_VERSION_MAJOR
#define VORLIN_VERSION_MAJOR 0
#endif
#ifndef VORLIN_VERSION_MINOR
#define VORLIN_VERSION_MINOR 0
#endif
#ifndef VORLIN_VERSION_PATCH
#define VORLIN_VERSION_PATCH 0
#endif
#ifndef VORLIN_VERSION_TWEAK
#define VORLIN_VERSION_TWEAK 0
#endif

namespace vorlin::platform {

namespace {

QString withTrailingSeparator(const QString& path) {
    if (path.isEmpty())
        return path;
    QString native = QDir::toNativeSeparators(path);
    if (!native.endsWith(QDir::separator()))
        native += QDir::separator();
    return native;
}

// Shell folder identifiers besides the two the program names, for callers that ask for the
// usual user folders.
constexpr int kPersonalFolder = 5;
constexpr int kDesktopFolder = 16;
constexpr int kPicturesFolder = 39;

QString standardFolder(QStandardPaths::StandardLocation location) {
    return QStandardPaths::writableLocation(location);
}

QByteArray readMountInfo() {
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // Files under /proc report a size of 0, so read until the end rather than by size.
    return file.readAll();
}

// Drive type from the file system's magic number, for systems without a mount table to read.
DriveType driveTypeFromStatfs(const QString& path) {
    struct statfs info {};
    if (::statfs(QFile::encodeName(path).constData(), &info) != 0)
        return DriveType::Unknown;
    switch (static_cast<unsigned long>(info.f_type)) {
    case 0x9660UL:     // iso9660
    case 0x15013346UL: // udf
        return DriveType::CdRom;
    case 0x6969UL:     // nfs
    case 0x517BUL:     // smb
    case 0xFF534D42UL: // cifs
    case 0xFE534D42UL: // smb2
        return DriveType::Remote;
    case 0x01021994UL: // tmpfs
    case 0x858458F6UL: // ramfs
        return DriveType::RamDisk;
    default:
        return DriveType::Fixed;
    }
}

// Whether the block device behind a mount reports itself removable (USB sticks, card readers).
bool deviceIsRemovable(const QString& device) {
    if (device.isEmpty() || device.startsWith(QLatin1String("0:")))
        return false; // major 0: no block device behind the mount
    const QString base = QStringLiteral("/sys/dev/block/") + device;
    // A partition carries no flag of its own; its disk, one level up, does.
    for (const QString& candidate :
         {base + QStringLiteral("/removable"), base + QStringLiteral("/../removable")}) {
        QFile flag(candidate);
        if (flag.open(QIODevice::ReadOnly))
            return flag.readAll().trimmed() == "1";
    }
    return false;
}

} // namespace

namespace detail {

namespace {

// Mount points in the table escape blank, tab, newline and backslash as \ooo octal.
QString decodeMountField(const QByteArray& field) {
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c == '\\' && i + 3 < field.size()) {
            const QByteArray digits = field.mid(i + 1, 3);
            bool ok = false;
            const int code = digits.toInt(&ok, 8);
            if (ok && digits.size() == 3 && code >= 0 && code < 256) {
                out += static_cast<char>(code);
                i += 3;
                continue;
            }
        }
        out += c;
    }
    return QFile::decodeName(out);
}

bool isUnder(const QString& path, const QString& mountPoint) {
    if (mountPoint == QLatin1String("/"))
        return path.startsWith(QLatin1Char('/'));
    return path == mountPoint ||
           (path.startsWith(mountPoint) && path.at(mountPoint.size()) == QLatin1Char('/'));
}

} // namespace

std::vector<MountEntry> parseMountInfo(const QByteArray& text) {
    std::vector<MountEntry> mounts;
    for (const QByteArray& line : text.split('\n')) {
        // id parent major:minor root mount-point options [optional fields...] - type source ...
        const QList<QByteArray> fields = line.simplified().split(' ');
        const qsizetype separator = fields.indexOf(QByteArray("-"));
        if (fields.size() < 6 || separator < 6 || separator + 1 >= fields.size())
            continue;
        MountEntry entry;
        entry.device = QString::fromLatin1(fields[2]);
        entry.mountPoint = decodeMountField(fields[4]);
        entry.fileSystemType = QString::fromLatin1(fields[separator + 1]);
        if (!entry.mountPoint.startsWith(QLatin1Char('/')))
            continue;
        mounts.push_back(std::move(entry));
    }
    return mounts;
}

const MountEntry* mountContaining(const std::vector<MountEntry>& mounts, const QString& path) {
    const MountEntry* best = nullptr;
    for (const MountEntry& entry : mounts) {
        if (!isUnder(path, entry.mountPoint))
            continue;
        if (!best || entry.mountPoint.size() >= best->mountPoint.size())
            best = &entry;
    }
    return best;
}

DriveType driveTypeOfFileSystem(const QString& fileSystemType) {
    const QString type = fileSystemType.toLower();
    if (type == QLatin1String("iso9660") || type == QLatin1String("udf"))
        return DriveType::CdRom;
    static const char* const remote[] = {"nfs",        "nfs4",  "cifs",  "smb",  "smb3",
                                         "smbfs",      "sshfs", "9p",    "afs",  "ceph",
                                         "fuse.sshfs", "davfs", "ncpfs", "coda", "fuse.rclone"};
    for (const char* name : remote) {
        if (type == QLatin1String(name))
            return DriveType::Remote;
    }
    if (type == QLatin1String("tmpfs") || type == QLatin1String("ramfs"))
        return DriveType::RamDisk;
    return DriveType::Fixed;
}

} // namespace detail

QString appDataFolder() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        return {};
    const QString folder = base + QStringLiteral("/Vorlin");
    QDir().mkpath(folder);
    return withTrailingSeparator(folder);
}

QString specialFolder(int folderId) {
    switch (folderId) {
    case kCommonAppDataFolder:
        return appDataFolder();
    case kUserProfileFolder:
        return withTrailingSeparator(userProfileFolder());
    case kPersonalFolder:
        return withTrailingSeparator(standardFolder(QStandardPaths::DocumentsLocation));
    case kDesktopFolder:
        return withTrailingSeparator(standardFolder(QStandardPaths::DesktopLocation));
    case kPicturesFolder:
        return withTrailingSeparator(standardFolder(QStandardPaths::PicturesLocation));
    default:
        return {};
    }
}

QString userProfileFolder() {
    QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty())
        home = QDir::homePath();
    home = QDir::toNativeSeparators(QDir::cleanPath(home));
    return home;
}

QString defaultOutputFolder() {
    const QString profile = userProfileFolder();
    if (profile == QDir::separator())
        return profile + QStringLiteral("videoconverter");
    return profile + QDir::separator() + QStringLiteral("videoconverter");
}

bool canWriteTo(const QString& folder) {
    if (folder.isEmpty())
        return false;
    QString pattern = QDir::fromNativeSeparators(folder);
    if (!pattern.endsWith(QLatin1Char('/')))
        pattern += QLatin1Char('/');
    pattern += QStringLiteral("DAXXXXXX");
    QByteArray name = QFile::encodeName(pattern);
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        return false;
    ::close(fd);
    return ::unlink(name.constData()) == 0;
}

QString currentUserName() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    int rc = 0;
    while ((rc = ::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found)) ==
               ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (rc == 0 && found && found->pw_name && *found->pw_name)
        return QString::fromLocal8Bit(found->pw_name);
    QString name = qEnvironmentVariable("USER");
    if (name.isEmpty())
        name = qEnvironmentVariable("LOGNAME");
    return name;
}

QString versionText(int major, int minor, int release, int build) {
    return QStringLiteral(" %1.%2%3%4 ").arg(major).arg(minor).arg(release).arg(build);
}

QString programVersionText() {
    return versionText(VORLIN_VERSION_MAJOR, VORLIN_VERSION_MINOR, VORLIN_VERSION_PATCH,
                       VORLIN_VERSION_TWEAK);
}

DriveType driveType(const QString& folder) {
    if (folder.isEmpty())
        return DriveType::NoRootDir;
    const QString path = QFileInfo(QDir::fromNativeSeparators(folder)).canonicalFilePath();
    if (path.isEmpty())
        return DriveType::NoRootDir;
    const std::vector<detail::MountEntry> mounts = detail::parseMountInfo(readMountInfo());
    const detail::MountEntry* mount = detail::mountContaining(mounts, path);
    if (!mount)
        return driveTypeFromStatfs(path);
    const DriveType type = detail::driveTypeOfFileSystem(mount->fileSystemType);
    if (type == DriveType::Fixed && deviceIsRemovable(mount->device))
        return DriveType::Removable;
    return type;
}

bool isDriveRoot(const QString& folder) {
    if (folder.isEmpty())
        return false;
    const QString path = QFileInfo(QDir::fromNativeSeparators(folder)).canonicalFilePath();
    if (path.isEmpty())
        return false;
    if (path == QLatin1String("/"))
        return true;
    const std::vector<detail::MountEntry> mounts = detail::parseMountInfo(readMountInfo());
    const detail::MountEntry* mount = detail::mountContaining(mounts, path);
    return mount && mount->mountPoint == path;
}

} // namespace vorlin::platform
