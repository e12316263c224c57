#include "formats/OutputFolder.h"

#include "platform/Platform.h"

namespace vorlin::formats {

namespace {

// Surrounding blanks and control characters, as a name read from a fixed buffer may carry.
QString cleanName(const QString& name) {
    QString out;
    for (QChar c : name) {
        if (!c.isNull() && c.category() != QChar::Other_Control)
            out += c;
    }
    return out.trimmed();
}

} // namespace

OutputFolderRules systemFolderRules() {
    return {platform::canWriteTo, platform::isDriveRoot, platform::currentUserName(),
            platform::defaultOutputFolder()};
}

OutputFolderChoice ResolveChosenFolder(const QString& chosen, const QString& shown,
                                       const OutputFolderRules& rules) {
    if (chosen.isEmpty() || chosen == shown)
        return {};
    if (rules.isDriveRoot(chosen))
        return {OutputFolderChoice::NotADirectory,
                {},
                QStringLiteral("The path ") + chosen +
                    QStringLiteral(" is not a valid directory.")};
    if (rules.canWriteTo(chosen))
        return {OutputFolderChoice::Accepted, chosen, {}};
    return {OutputFolderChoice::FallBack, rules.fallbackFolder,
            QStringLiteral("You login as ") + cleanName(rules.userName) +
                QStringLiteral(" .You don't have permission to write to directory:") + chosen};
}

} // namespace vorlin::formats
