// vorlin-convert: converts files with the program's settings, without any window.
#include "cli/BatchConvert.h"

#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    // Text watermarks need fonts, not a screen.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    QString error;
    const auto options = vorlin::cli::ParseBatchArguments(app.arguments().mid(1), &error);
    if (!options) {
        std::fprintf(stderr,
                     "vorlin-convert: %s\n"
                     "usage: vorlin-convert [--format CODE] [--outdir DIR] [--job FILE] FILE...\n",
                     qPrintable(error));
        return 2;
    }
    return vorlin::cli::RunBatch(*options, stdout, stderr);
}
