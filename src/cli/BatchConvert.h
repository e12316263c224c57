#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>
#include <optional>

namespace vorlin::cli {

struct BatchOptions {
    std::optional<int> formatCode;
    QString outputFolder;
    QString jobFile;
    QStringList files;
};

// Parses the command line (without the program name). Nothing, with the reason in *error,
// for an unknown option, a missing value, an unknown format code or no input file.
std::optional<BatchOptions> ParseBatchArguments(const QStringList& args, QString* error);

// Converts every file with the same settings, profiles and code as the window. Prints
// "OK <input> -> <output>" or "FAILED <input>: <reason>" per file on `out`, progress on
// `err`. Returns 0 when every file converted, 1 when any failed, 2 for a usage error.
int RunBatch(const BatchOptions& options, std::FILE* out, std::FILE* err);

} // namespace vorlin::cli
