#include "media/FFmpegPtr.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace vorlin::media {

namespace {

thread_local std::string t_lastError;

void logCallback(void* avcl, int level, const char* fmt, va_list args) {
    if (level <= AV_LOG_ERROR) {
        char line[1024];
        int prefix = 1;
        va_list copy;
        va_copy(copy, args);
        av_log_format_line(avcl, level, fmt, copy, line, sizeof line, &prefix);
        va_end(copy);
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
            text.pop_back();
        // Drop the "[component @ 0x...] " prefix: the reader wants the complaint.
        if (!text.empty() && text.front() == '[') {
            const auto end = text.find("] ");
            if (end != std::string::npos)
                text.erase(0, end + 2);
        }
        if (!text.empty())
            t_lastError = text;
    }
    av_log_default_callback(avcl, level, fmt, args);
}

} // namespace

QString avErrorText(int errnum) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(errnum, buf, sizeof buf);
    return QString::fromUtf8(buf);
}

QString lastLogError() {
    return QString::fromStdString(t_lastError);
}

void clearLastLogError() {
    t_lastError.clear();
}

void installLogCapture() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Only errors reach the terminal; the converter reports them in its own texts.
        if (av_log_get_level() > AV_LOG_ERROR)
            av_log_set_level(AV_LOG_ERROR);
        av_log_set_callback(logCallback);
    });
}

} // namespace vorlin::media
