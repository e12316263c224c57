#pragma once

#include <QSet>
#include <QString>

namespace vorlin::formats {

// The output path for a source: the output folder (settings key OutPutDir) + the source's
// base name + "_(new)" + suffix, or "_(new_n)" with the first n = 1, 2, ... whose file does
// not exist. A folder that cannot be created is replaced by the default output folder (with
// a "Warning" message), which is then stored. Names in `taken` count as existing, so that
// jobs of one run whose sources share a name do not overwrite each other.
QString MakeOutputName(const QString& settingsFile, const QString& sourcePath,
                       const QString& suffix, const QSet<QString>* taken = nullptr);

} // namespace vorlin::formats
