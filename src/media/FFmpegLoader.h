#pragma once

#include <QString>

// The FFmpeg libraries are linked from the system rather than loaded from a folder; loading
// checks that the libraries found at run time have the major versions this program was built
// against, and keeps a readable reason when they do not. All members are thread-safe.
class TFFmpegLoader {
public:
    // Checks the libraries. The folder is accepted for callers that name one and otherwise
    // ignored. True when every library matches; the result is remembered.
    static bool LoadFFmpegLibraries(const QString& folder = QString());
    // True after a successful LoadFFmpegLibraries.
    static bool FFmpegLibrariesLoaded();
    // Reason of the last failure, e.g. "libavcodec version 58 found, 59 expected"; empty
    // after a success.
    static QString LoaderLastError();
    // Versions of the libraries in use, one "name major.minor.micro" per line.
    static QString LibraryVersions();
};
