#pragma once

// Owning handles for FFmpeg objects and small helpers shared by the media layer's sources.
// Internal to src/media.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <QString>

#include <memory>

namespace vorlin::media {

struct InputContextDeleter {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
using InputContextPtr = std::unique_ptr<AVFormatContext, InputContextDeleter>;

// Closes the output's I/O (when the muxer uses a file) and frees the context.
struct OutputContextDeleter {
    void operator()(AVFormatContext* c) const {
        if (c->oformat && !(c->oformat->flags & AVFMT_NOFILE))
            avio_closep(&c->pb);
        avformat_free_context(c);
    }
};
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextDeleter>;

struct CodecContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;

struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

struct FilterGraphDeleter {
    void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
};
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphDeleter>;

struct FilterInOutDeleter {
    void operator()(AVFilterInOut* io) const { avfilter_inout_free(&io); }
};
using FilterInOutPtr = std::unique_ptr<AVFilterInOut, FilterInOutDeleter>;

struct SwsDeleter {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;

// An AVDictionary that frees itself; pass `&dict.d` where FFmpeg wants an AVDictionary**.
struct Dictionary {
    AVDictionary* d = nullptr;
    Dictionary() = default;
    Dictionary(const Dictionary&) = delete;
    Dictionary& operator=(const Dictionary&) = delete;
    ~Dictionary() { av_dict_free(&d); }
    void set(const char* key, const QString& value) {
        av_dict_set(&d, key, value.toUtf8().constData(), 0);
    }
    int count() const { return av_dict_count(d); }
    // The first key left in the dictionary (options nobody consumed); empty when none.
    QString firstKey() const {
        const AVDictionaryEntry* e = av_dict_get(d, "", nullptr, AV_DICT_IGNORE_SUFFIX);
        return e ? QString::fromUtf8(e->key) : QString();
    }
};

// FFmpeg's text for an error code ("No such file or directory").
QString avErrorText(int errnum);

// The last error FFmpeg logged on the calling thread (empty when none since the last
// clearLastLogError()); used to make error texts say what the library complained about.
QString lastLogError();
void clearLastLogError();
// Installs the log callback that feeds lastLogError(); idempotent, thread-safe.
void installLogCapture();

} // namespace vorlin::media
