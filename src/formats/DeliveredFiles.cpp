#include "formats/DeliveredFiles.h"

#include "formats/IniFile.h"
#include "formats/NumericText.h"
#include "formats/ParamTables.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <functional>
#include <mutex>
#include <optional>

// The resource lives in a static library: registering it by name keeps the linker from
// dropping it, and must happen outside any namespace.
static void registerDeliveredResource() {
    static std::once_flag once;
    std::call_once(once, [] { Q_INIT_RESOURCE(data); });
}

namespace vorlin::formats {

namespace {

constexpr QFileDevice::Permissions kFilePermissions =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
    QFileDevice::WriteUser | QFileDevice::ReadGroup | QFileDevice::ReadOther;

void setError(QString* error, const QString& message) {
    if (error == nullptr)
        return;
    if (!error->isEmpty())
        error->append(QLatin1Char('\n'));
    error->append(message);
}

// A dangling link counts as present too: we never write through or over it.
bool pathTaken(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

bool makeParentFolder(const QString& path, QString* error) {
    const QString folder = QFileInfo(path).absolutePath();
    if (QDir().mkpath(folder))
        return true;
    setError(error,
             QStringLiteral("Cannot create folder %1").arg(QDir::toNativeSeparators(folder)));
    return false;
}

// The entry a list field shows by default and its position; nothing when the list is absent
// or its i-key points outside it.
struct Shown {
    QString entry;
    int position = -1;
};

std::optional<Shown> defaultEntry(const IniFile& profile, const QString& section,
                                  const QString& listKey, const QString& indexKey) {
    const QString value = profile.readString(section, listKey, QStringLiteral("null"));
    if (profileListAbsent(listKey, value))
        return std::nullopt;
    const QStringList entries = splitProfileList(value);
    const int position = profile.readInteger(section, indexKey, 0);
    if (position < 0 || position >= entries.size())
        return std::nullopt;
    return Shown{entries.at(position), position};
}

bool hasEntries(const IniFile& profile, const QString& section, const QString& listKey) {
    const QString value = profile.readString(section, listKey, QStringLiteral("null"));
    return !profileListAbsent(listKey, value) && !splitProfileList(value).isEmpty();
}

using Table = std::function<std::optional<QString>(const QString&)>;

class SectionWriter {
public:
    SectionWriter(const IniFile& profile, IniFile& settings, int formatCode)
        : profile_(profile), settings_(settings), section_(formatSection(formatCode)) {}

    // A field whose shown text is stored as it is: empty when nothing is shown.
    void text(const char* listKey, const char* indexKey, const char* paraKey) {
        const std::optional<Shown> shown = entry(listKey, indexKey);
        write(paraKey, shown ? shown->entry : QString());
    }

    // A field stored through a table; an entry the table lacks stores nothing.
    std::optional<QString> mapped(const char* listKey, const char* indexKey, const char* paraKey,
                                  const Table& table) {
        const std::optional<Shown> shown = entry(listKey, indexKey);
        if (!shown)
            return std::nullopt;
        const std::optional<QString> value = table(shown->entry);
        if (value)
            write(paraKey, *value);
        return shown->entry;
    }

    void write(const char* key, const QString& value) {
        ok_ = settings_.writeString(section_, QLatin1String(key), value) && ok_;
    }

    // The H.264 tuning values of the profile that are present and valid.
    void copyH264Tuning() {
        const QString bitExact = readProfile("paraBitExact");
        if (bitExact.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            write("paraBitExact", bitExact);
        for (const char* key :
             {"paraMaxBitrate", "paraBufferSize", "paraLevel", "paraQscale", "paraGop"}) {
            const QString value = readProfile(key);
            const std::optional<int64_t> n = integerValue(value);
            if (n && *n > 0)
                write(key, value);
        }
        const QString coder = readProfile("paraCoder");
        const std::optional<int64_t> n = integerValue(coder);
        if (n && *n >= 0)
            write("paraCoder", coder);
    }

    const QString& section() const { return section_; }
    bool ok() const { return ok_; }

private:
    std::optional<Shown> entry(const char* listKey, const char* indexKey) {
        std::optional<Shown> shown =
            defaultEntry(profile_, section_, QLatin1String(listKey), QLatin1String(indexKey));
        ok_ = settings_.writeInteger(section_, QLatin1String(indexKey),
                                     shown ? shown->position : -1) &&
              ok_;
        return shown;
    }

    QString readProfile(const char* key) const {
        return profile_.readString(section_, QLatin1String(key), QString());
    }

    const IniFile& profile_;
    IniFile& settings_;
    QString section_;
    bool ok_ = true;
};

} // namespace

bool writeProfileDefaults(const IniFile& profile, IniFile& settings, int formatCode) {
    SectionWriter out(profile, settings, formatCode);

    if (hasEntries(profile, out.section(), QStringLiteral("VideoEncoder"))) {
        out.text("VideoSize", "iVideoSize", "paraVideoSize");
        out.text("VideoBitRate", "iVideoBitRate", "paraVideoBitRate");
        out.text("FrameRate", "iFrameRate", "paraFrameRate");
        const std::optional<QString> encoder =
            out.mapped("VideoEncoder", "iVideoEncoder", "paraVideoEncoder", videoEncoderParam);
        out.write("paraZoom", QLatin1String(kInstalledZoom));
        if (encoder && isH264Entry(*encoder))
            out.copyH264Tuning();
    }

    if (hasEntries(profile, out.section(), QStringLiteral("AudioEncoder"))) {
        out.text("SampleRate", "iSampleRate", "paraSampleRate");
        out.text("AudioBitRate", "iAudioBitRate", "paraAudioBitRate");
        out.mapped("Channel", "iChannel", "paraChannel", channelParam);
        out.mapped("Volume", "iVolume", "paraVolume", volumeParam);
        const std::optional<QString> encoder =
            out.mapped("AudioEncoder", "iAudioEncoder", "paraAudioEncoder", audioEncoderParam);
        if (encoder && isGsmEntry(*encoder)) {
            out.write("paraSampleRate", kGsmSampleRate);
            out.write("paraChannel", kGsmChannel);
        }
    }
    return out.ok();
}

namespace {

bool installProfile(const QString& formatFile, QString* error) {
    if (pathTaken(formatFile))
        return true;
    if (!makeParentFolder(formatFile, error))
        return false;
    // QFile::copy writes a temporary file beside the target and renames it without
    // replacing anything, so a profile that appeared meanwhile is kept.
    if (!QFile::copy(QString::fromLatin1(kDeliveredProfileResource), formatFile)) {
        if (pathTaken(formatFile))
            return true;
        setError(error, QStringLiteral("Cannot install the format profile %1")
                            .arg(QDir::toNativeSeparators(formatFile)));
        return false;
    }
    // The copy takes the resource's read-only permissions; give it a normal file's.
    QFile::setPermissions(formatFile, kFilePermissions);
    return true;
}

bool installSettings(const QString& settingsFile, const QString& formatFile, QString* error) {
    if (pathTaken(settingsFile))
        return true;
    if (!makeParentFolder(settingsFile, error))
        return false;

    const QString failed = QStringLiteral("Cannot create the settings file %1")
                               .arg(QDir::toNativeSeparators(settingsFile));
    // Built under a temporary name beside the target, then moved into place only when no
    // settings file exists by then: a half-written file is never seen under the real name.
    QString partName;
    {
        QTemporaryFile part(QFileInfo(settingsFile).absolutePath() +
                            QStringLiteral("/.vorlin-settings-XXXXXX"));
        part.setAutoRemove(false);
        if (!part.open()) {
            setError(error, failed);
            return false;
        }
        partName = part.fileName();
    }
    const auto discard = [&] {
        QFile::remove(partName);
    };

    const IniFile profile(pathTaken(formatFile) ? formatFile
                                                : QString::fromLatin1(kDeliveredProfileResource));
    IniFile settings(partName);
    for (int code : kDeliveredFormatCodes) {
        if (!writeProfileDefaults(profile, settings, code)) {
            discard();
            setError(error, failed);
            return false;
        }
    }
    QFile::setPermissions(partName, kFilePermissions);
    if (!QFile::rename(partName, settingsFile)) {
        discard();
        if (pathTaken(settingsFile))
            return true;
        setError(error, failed);
        return false;
    }
    return true;
}

} // namespace

bool installDeliveredFiles(const QString& settingsFile, const QString& formatFile, QString* error) {
    registerDeliveredResource();
    if (error != nullptr)
        error->clear();
    const bool profileOk = installProfile(formatFile, error);
    const bool settingsOk = installSettings(settingsFile, formatFile, error);
    return profileOk && settingsOk;
}

} // namespace vorlin::formats
