#include "media/FFmpegLoader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <QStringList>

#include <mutex>

namespace {

std::mutex g_mutex;
bool g_loaded = false;
QString g_lastError;

struct Library {
    const char* name;
    unsigned runtime;
    unsigned builtMajor;
};

std::vector<Library> libraries() {
    return {{"libavutil", avutil_version(), LIBAVUTIL_VERSION_MAJOR},
            {"libavcodec", avcodec_version(), LIBAVCODEC_VERSION_MAJOR},
            {"libavformat", avformat_version(), LIBAVFORMAT_VERSION_MAJOR},
            {"libavfilter", avfilter_version(), LIBAVFILTER_VERSION_MAJOR},
            {"libswscale", swscale_version(), LIBSWSCALE_VERSION_MAJOR},
            {"libswresample", swresample_version(), LIBSWRESAMPLE_VERSION_MAJOR}};
}

} // namespace

bool TFFmpegLoader::LoadFFmpegLibraries(const QString& folder) {
    Q_UNUSED(folder);
    std::lock_guard lock(g_mutex);
    if (g_loaded)
        return true;
    for (const Library& lib : libraries()) {
        const unsigned major = lib.runtime >> 16;
        if (major != lib.builtMajor) {
            g_lastError = QString("%1 version %2 found, %3 expected")
                              .arg(lib.name)
                              .arg(major)
                              .arg(lib.builtMajor);
            return false;
        }
    }
    g_lastError.clear();
    g_loaded = true;
    return true;
}

bool TFFmpegLoader::FFmpegLibrariesLoaded() {
    std::lock_guard lock(g_mutex);
    return g_loaded;
}

QString TFFmpegLoader::LoaderLastError() {
    std::lock_guard lock(g_mutex);
    return g_lastError;
}

QString TFFmpegLoader::LibraryVersions() {
    QStringList lines;
    for (const Library& lib : libraries())
        lines << QString("%1 %2.%3.%4")
                     .arg(lib.name)
                     .arg(lib.runtime >> 16)
                     .arg((lib.runtime >> 8) & 0xff)
                     .arg(lib.runtime & 0xff);
    return lines.join('\n');
}
