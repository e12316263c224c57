#include "formats/OutputName.h"

#include "formats/IniFile.h"
#include "platform/Platform.h"
#include "widgets/Dialogs.h"

#include <QDir>
#include <QFileInfo>

namespace vorlin::formats {

QString MakeOutputName(const QString& settingsFile, const QString& sourcePath,
                       const QString& suffix, const QSet<QString>* taken) {
    IniFile settings(settingsFile);
    const QString fallback = platform::defaultOutputFolder();
    QString folder = settings.readString("settings", "OutPutDir", fallback);
    if (!QDir(folder).exists() && !QDir().mkpath(folder)) {
        widgets::dialogs().message(nullptr, "Warning",
                                   "Cannot create output directory:" + folder +
                                       ".It will create default directory " + fallback + "!",
                                   widgets::MessageIcon::Information);
        QDir().mkpath(fallback);
        settings.writeString("settings", "OutPutDir", fallback);
        folder = fallback;
    }
    if (!folder.endsWith('/') && !folder.endsWith(QDir::separator()))
        folder += '/';
    const QString base = folder + QFileInfo(sourcePath).completeBaseName();
    const auto free = [taken](const QString& name) {
        return !QFileInfo::exists(name) && !(taken && taken->contains(name));
    };
    QString candidate = base + "_(new)" + suffix;
    for (int n = 1; !free(candidate); ++n)
        candidate = base + "_(new_" + QString::number(n) + ")" + suffix;
    return candidate;
}

} // namespace vorlin::formats
