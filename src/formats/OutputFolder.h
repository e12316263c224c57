#pragma once

#include <QString>

#include <functional>

namespace vorlin::formats {

// What the folder rules ask of the system; tests replace them.
struct OutputFolderRules {
    std::function<bool(const QString&)> canWriteTo;
    std::function<bool(const QString&)> isDriveRoot;
    QString userName;       // the logged-on user, as the permission message names it
    QString fallbackFolder; // the folder used when the chosen one cannot be written
};

// The system's own rules.
OutputFolderRules systemFolderRules();

// The outcome of a folder chosen with Brows.
struct OutputFolderChoice {
    enum Outcome {
        Unchanged,     // nothing chosen, or the folder already shown: nothing happens
        NotADirectory, // a drive root: refused with `message`
        Accepted,      // `folder` becomes the output folder
        FallBack,      // not writable: `message`, then `folder` (the fallback) is used
    } outcome = Unchanged;
    QString folder;
    QString message; // shown in a "Warning" box when not empty
};

OutputFolderChoice ResolveChosenFolder(const QString& chosen, const QString& shown,
                                       const OutputFolderRules& rules);

} // namespace vorlin::formats
