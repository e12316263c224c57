#include "media/ConvertTask.h"

#include "media/FFmpegPtr.h"
#include "media/MediaUtil.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/avstring.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
}

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTransform>

#include <chrono>
#include <cstring>
#include <exception>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vorlin::media {

// ---------------------------------------------------------------------------------------
// RunControl

void RunControl::requestStop() {
    stop_.store(true);
    std::lock_guard lock(mutex_);
    cv_.notify_all();
}

void RunControl::setPaused(bool paused) {
    std::lock_guard lock(mutex_);
    paused_ = paused;
    cv_.notify_all();
}

bool RunControl::paused() const {
    std::lock_guard lock(mutex_);
    return paused_;
}

bool RunControl::waitWhilePaused() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return !paused_ || stop_.load(); });
    return !stop_.load();
}

void RunControl::reset() {
    std::lock_guard lock(mutex_);
    stop_.store(false);
    paused_ = false;
}

namespace {

using Clock = std::chrono::steady_clock;

// Failure of a conversion step; its text is what the user reads.
struct ConvertError {
    QString text;
};

[[noreturn]] void fail(const QString& text) {
    throw ConvertError{text};
}

// The library's complaint, when it logged one, else the error code's text.
QString withLog(int rc) {
    const QString logged = lastLogError();
    const QString code = avErrorText(rc);
    return logged.isEmpty() ? code : logged;
}

QByteArray utf8(const QString& s) {
    return s.toUtf8();
}

// Tells a filter graph's source that no more frames come, the stream ending at endPts (in
// the source's time base, the end of the last frame); the graph then flushes.
void closeSource(AVFilterContext* src, int64_t endPts) {
    if (av_buffersrc_close(src, endPts, AV_BUFFERSRC_FLAG_PUSH) < 0)
        qWarning("Could not close a filter graph's source");
}

// Everything the output options mean once the disc target and legacy names are applied.
struct Plan {
    QString muxer; // empty: chosen by file name
    const AVOutputFormat* oformat = nullptr;
    bool haveTarget = false;
    DiscTarget target;
    QString videoCodec; // empty: the muxer's default
    QString audioCodec;
    bool videoOff = false;
    bool audioOff = false;
    int width = 0;
    int height = 0;
    AVRational frameRate{0, 0};
    int64_t videoBitRate = 0;
    int64_t audioBitRate = 0;
    int sampleRate = 0;
    int channels = 0;
    int volume = -1;
    AVRational aspect{0, 0};
    int bandTop = 0, bandBottom = 0, bandLeft = 0, bandRight = 0;
    QString filters;
    X264Settings x264;
};

const AVCodec* findEncoder(const QString& name, AVMediaType type, AVCodecID fallback) {
    if (name.isEmpty())
        return fallback != AV_CODEC_ID_NONE ? avcodec_find_encoder(fallback) : nullptr;
    const AVCodec* c = avcodec_find_encoder_by_name(utf8(name).constData());
    if (!c) {
        // A codec name rather than an encoder name ("h263p" style names are both).
        const AVCodecDescriptor* desc = avcodec_descriptor_get_by_name(utf8(name).constData());
        if (desc)
            c = avcodec_find_encoder(desc->id);
    }
    return c && c->type == type ? c : nullptr;
}

QString checkFilterChain(const QString& chain) {
    if (chain.trimmed().isEmpty())
        return {};
    FilterGraphPtr graph(avfilter_graph_alloc());
    AVFilterInOut* ins = nullptr;
    AVFilterInOut* outs = nullptr;
    clearLastLogError();
    const int rc = avfilter_graph_parse2(graph.get(), utf8(chain).constData(), &ins, &outs);
    avfilter_inout_free(&ins);
    avfilter_inout_free(&outs);
    if (rc < 0)
        return QString("Invalid video filter chain '%1': %2").arg(chain, withLog(rc));
    return {};
}

// Fills a plan; returns the reason when the options cannot work.
QString resolvePlan(const TOutputOptions& o, AVRational sourceRate, Plan* p) {
    if (o.TargetType != 0) {
        if (!discTarget(o.TargetType, o.TargetNorm, sourceRate, &p->target))
            return QString("Unknown disc target type %1").arg(o.TargetType);
        p->haveTarget = true;
        p->muxer = p->target.muxer;
        p->videoCodec = p->target.videoCodec;
        p->audioCodec = p->target.audioCodec;
        p->width = p->target.width;
        p->height = p->target.height;
        p->frameRate = p->target.frameRate;
        p->videoBitRate = p->target.videoBitRate;
        p->audioBitRate = p->target.audioBitRate;
        p->sampleRate = p->target.sampleRate;
        p->channels = p->target.channels;
    }
    if (!o.ContainerFormat.trimmed().isEmpty())
        p->muxer = o.ContainerFormat.trimmed();
    if (!o.VideoCodec.trimmed().isEmpty())
        p->videoCodec = mapVideoEncoderName(o.VideoCodec);
    if (!o.AudioCodec.trimmed().isEmpty()) {
        p->audioCodec = mapAudioEncoderName(o.AudioCodec);
        // The disc's audio bit rate belongs to the disc's encoder (448 kbit/s AC-3 is no
        // valid MP2 rate); another encoder starts from its own default.
        if (p->haveTarget && p->audioCodec != p->target.audioCodec)
            p->audioBitRate = 0;
    }
    p->videoOff = o.VideoDisabled;
    p->audioOff = o.AudioDisabled;

    if (!o.FrameSize.trimmed().isEmpty()) {
        int w = 0, h = 0;
        if (av_parse_video_size(&w, &h, utf8(o.FrameSize.trimmed()).constData()) < 0 || w <= 0 ||
            h <= 0)
            return QString("Invalid frame size '%1'").arg(o.FrameSize);
        p->width = w;
        p->height = h;
    }
    if (!o.FrameRate.trimmed().isEmpty()) {
        const AVRational r = parseFrameRate(o.FrameRate);
        if (r.num <= 0)
            return QString("Invalid frame rate '%1'").arg(o.FrameRate);
        p->frameRate = r;
    }
    if (!o.AspectRatio.trimmed().isEmpty()) {
        AVRational a{0, 0};
        QString text = o.AspectRatio.trimmed();
        if (av_parse_ratio(&a, utf8(text).constData(), 10000, 0, nullptr) < 0 || a.num <= 0 ||
            a.den <= 0)
            return QString("Invalid aspect ratio '%1'").arg(o.AspectRatio);
        p->aspect = a;
    }
    if (o.VideoBitRate > 0)
        p->videoBitRate = o.VideoBitRate;
    if (o.AudioBitRate > 0)
        p->audioBitRate = o.AudioBitRate;
    if (o.AudioSampleRate > 0)
        p->sampleRate = o.AudioSampleRate;
    if (o.AudioChannels > 0)
        p->channels = o.AudioChannels;
    p->volume = o.AudioVolume;
    p->bandTop = qMax(0, o.BandTop);
    p->bandBottom = qMax(0, o.BandBottom);
    p->bandLeft = qMax(0, o.BandLeft);
    p->bandRight = qMax(0, o.BandRight);
    p->filters = o.VideoFilters.trimmed();

    const QByteArray file = utf8(o.OutputFileName);
    if (!p->muxer.isEmpty()) {
        p->oformat = av_guess_format(utf8(p->muxer).constData(), nullptr, nullptr);
        if (!p->oformat)
            return QString("Unknown container format '%1'").arg(p->muxer);
    } else {
        p->oformat = av_guess_format(nullptr, file.constData(), nullptr);
        if (!p->oformat)
            return QString("Cannot choose a container format for '%1'; name one or use a known "
                           "file extension")
                .arg(o.OutputFileName);
    }
    if (!p->videoOff && !p->videoCodec.isEmpty() &&
        !findEncoder(p->videoCodec, AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_NONE))
        return QString("Unknown video encoder '%1'").arg(p->videoCodec);
    if (!p->audioOff && !p->audioCodec.isEmpty() &&
        !findEncoder(p->audioCodec, AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_NONE))
        return QString("Unknown audio encoder '%1'").arg(p->audioCodec);
    if (!p->videoOff) {
        const AVCodec* vc = findEncoder(p->videoCodec, AVMEDIA_TYPE_VIDEO, p->oformat->video_codec);
        if (vc && QByteArray(vc->name) == "libx264") {
            p->x264 = mapX264Preset(o.VideoPreset);
            if (!p->x264.valid)
                return QString("Unknown preset '%1'").arg(o.VideoPreset);
        }
        const QString filterError = checkFilterChain(p->filters);
        if (!filterError.isEmpty())
            return filterError;
    }
    return {};
}

QString channelLayoutText(const AVChannelLayout& layout) {
    char buf[128] = {};
    av_channel_layout_describe(&layout, buf, sizeof buf);
    return QString::fromUtf8(buf);
}

// ---------------------------------------------------------------------------------------

// Creates a graph's source and sink filters; `what` ("video", "audio") names the graph in
// the error.
void openGraphEnds(AVFilterGraph* graph, const char* sourceName, const QString& sourceArgs,
                   const char* sinkName, const char* what, AVFilterContext** source,
                   AVFilterContext** sink) {
    int rc = avfilter_graph_create_filter(source, avfilter_get_by_name(sourceName), "in",
                                          utf8(sourceArgs).constData(), nullptr, graph);
    if (rc >= 0)
        rc = avfilter_graph_create_filter(sink, avfilter_get_by_name(sinkName), "out", nullptr,
                                          nullptr, graph);
    if (rc < 0)
        fail(QString("Cannot set up the %1 filters: %2").arg(what).arg(withLog(rc)));
}

// Links source through the filters of chain into sink; FFmpeg's result.
int parseChain(AVFilterGraph* graph, AVFilterContext* source, AVFilterContext* sink,
               const QString& chain) {
    FilterInOutPtr outputs(avfilter_inout_alloc());
    FilterInOutPtr inputs(avfilter_inout_alloc());
    if (!outputs || !inputs)
        return AVERROR(ENOMEM);
    outputs->name = av_strdup("in");
    outputs->filter_ctx = source;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = sink;
    AVFilterInOut* ins = inputs.release();
    AVFilterInOut* outs = outputs.release();
    clearLastLogError();
    const int rc = avfilter_graph_parse_ptr(graph, utf8(chain).constData(), &ins, &outs, nullptr);
    avfilter_inout_free(&ins);
    avfilter_inout_free(&outs);
    return rc;
}

// A chain's first filter: frames before the start point (decoded after the seek) and after
// the recording's end are cut first.
QString trimFilter(const char* name, int64_t endUs) {
    QString trim = QString("%1=start=0").arg(name);
    if (endUs > 0)
        trim += QString(":end=%1").arg(QString::asprintf("%.6f", endUs / 1e6));
    return trim;
}

class Conversion {
public:
    Conversion(int taskIndex, const TInputOptions& in, const TOutputOptions& out,
               RunControl& control, const TaskEvents& events, InputContextPtr opened)
        : taskIndex_(taskIndex), in_(in), out_(out), control_(control), events_(events),
          opened_(std::move(opened)) {}

    TaskOutcome run();

private:
    struct VideoStream {
        int inIndex = -1;
        AVStream* ist = nullptr;
        CodecContextPtr dec;
        const AVCodec* encoder = nullptr;
        CodecContextPtr enc;
        AVStream* ost = nullptr;
        FilterGraphPtr graph;
        AVFilterContext* src = nullptr;
        AVFilterContext* sink = nullptr;
        int rotation = 0;
        bool hook = false;
        bool hookStopped = false;
        // The hook's pictures come back in the source's format: pictures the handler leaves
        // alone go on as decoded, changed ones are converted back. Off for rotated sources,
        // whose upright BGR pictures go to the filters as they are.
        bool hookInSourceFormat = false;
        SwsPtr fromHook;
        QSize fromHookSize;
        // Picture the decoder is expected to deliver (as stored, before rotation).
        int decW = 0, decH = 0;
        AVPixelFormat decFmt = AV_PIX_FMT_NONE;
        // Picture the filter graph takes.
        int graphW = 0, graphH = 0;
        AVPixelFormat graphFmt = AV_PIX_FMT_NONE;
        AVPixelFormat encFmt = AV_PIX_FMT_NONE;
        bool cfr = false;
        SwsPtr toGraph;
        // Decoded pictures to BGR for the hook, and the input they were made for.
        SwsPtr toHook;
        int toHookW = 0, toHookH = 0, toHookFmt = -1;
        SwsPtr toPreview;
        std::unique_ptr<AVBufferPool, void (*)(AVBufferPool*)> pool{nullptr, [](AVBufferPool* p) {
                                                                        av_buffer_pool_uninit(&p);
                                                                    }};
        int poolLinesize = 0;
        int64_t lastEncPts = AV_NOPTS_VALUE;
        // End of the last frame given to the graph, in the source's time base.
        int64_t nextPts = AV_NOPTS_VALUE;
        bool inputDone = false;
        bool sinkDone = false;
        int64_t frames = 0;
        int64_t packets = 0;
    };
    struct AudioStream {
        int inIndex = -1;
        AVStream* ist = nullptr;
        CodecContextPtr dec;
        const AVCodec* encoder = nullptr;
        CodecContextPtr enc;
        AVStream* ost = nullptr;
        FilterGraphPtr graph;
        AVFilterContext* src = nullptr;
        AVFilterContext* sink = nullptr;
        int srcRate = 0;
        AVSampleFormat srcFmt = AV_SAMPLE_FMT_NONE;
        AVChannelLayout srcLayout{};
        int64_t nextPts = AV_NOPTS_VALUE;
        bool inputDone = false;
        bool sinkDone = false;
        int64_t packets = 0;
        ~AudioStream() { av_channel_layout_uninit(&srcLayout); }
    };

    void openInput();
    void pickStreams();
    void openOutput();
    void setupVideo();
    void buildVideoGraph(int trimW, int trimH);
    void setupAudio();
    void buildAudioGraph();
    CodecContextPtr openDecoder(AVStream* st);
    void processPacket(AVPacket* pkt);
    void decode(AVCodecContext* dec, const AVPacket* pkt, bool video);
    void onVideoFrame(AVFrame* f);
    void onAudioFrame(AVFrame* f);
    AVFrame* frameForGraph(AVFrame* f);
    void convertForHook(const AVFrame* f, AVFrame* dst);
    void callHook(const AVFrame* f, AVFrame* dst, int64_t sourceUs);
    // Calls the handler; false when it failed (logged) or none is set.
    bool invokeHook(PHookInfo& info);
    // An empty BGR picture at the hook's size, from a pool.
    FramePtr hookPicture();
    // Shows the decoded frame f to the handler; the picture for the filters when the handler
    // changed it, null when f goes on as it is.
    FramePtr hookedPicture(const AVFrame* f, int64_t sourceUs);
    // f with the box of the handler's picture converted back into it.
    FramePtr convertBack(const AVFrame* f, const QImage& changed, QRect box);
    // Gives a picture to the video filters and encodes what comes out.
    void pushVideo(AVFrame* picture, int64_t pts, int64_t duration);
    // Waits for the pending frame's hook and pushes the frame on.
    void flushPending();
    void drainVideo(bool flush);
    void drainAudio(bool flush);
    void encode(AVCodecContext* enc, AVStream* ost, AVFrame* frame, int64_t* packets);
    void maybeProgress(bool force);
    void finishStopped();
    void maybePreview(const AVFrame* f);
    int64_t outputSize() const;
    bool allInputsDone() const;
    int64_t toOutputUs(int64_t pts, AVRational tb) const;
    // Where a graph's input ends: after its last frame, but not past the recording's end.
    int64_t closingPts(int64_t nextPts, AVRational tb) const;

    int taskIndex_;
    TInputOptions in_;
    TOutputOptions out_;
    RunControl& control_;
    const TaskEvents& events_;

    Plan plan_;
    // The input as the task's probe left it open; taken by openInput.
    InputContextPtr opened_;
    InputContextPtr ic_;
    OutputContextPtr oc_;
    VideoStream v_;
    AudioStream a_;
    bool readVideo_ = true;
    bool readAudio_ = true;
    int64_t fileStartUs_ = 0;
    int64_t offsetUs_ = 0; // added to source timestamps: output time = source + offset
    int64_t startUs_ = 0;
    int64_t endUs_ = 0; // recording end in output time; 0 = none
    int64_t totalUs_ = 0;
    int64_t outTimeUs_ = 0;
    bool headerWritten_ = false;
    bool createdOutput_ = false; // the output file is ours to remove
    Clock::time_point lastProgress_;
    Clock::time_point lastPreview_;
    QSet<QString> hookErrors_;
    std::vector<std::pair<std::string, std::string>> decoderOpts_;
    FramePtr frame_{av_frame_alloc()};
    FramePtr filtered_{av_frame_alloc()};
    PacketPtr encPacket_{av_packet_alloc()};
    // A decoded frame whose hook runs on a thread of its own while the frame before it is
    // filtered and encoded. Last member: destroying it waits for that thread, which uses the
    // members above.
    struct PendingFrame {
        FramePtr frame;
        int64_t pts = 0;
        int64_t duration = 0;
        std::future<FramePtr> hooked;
    };
    std::optional<PendingFrame> pending_;
};

int interruptCallback(void* opaque) {
    return static_cast<const RunControl*>(opaque)->stopRequested() ? 1 : 0;
}

void Conversion::openInput() {
    Dictionary opts;
    for (const auto& [name, value] : parseOptionLines(in_.ExtraOptions)) {
        const bool on = value != "0" && value.toLower() != "false";
        if (name == "vn")
            readVideo_ = !on;
        else if (name == "an")
            readAudio_ = !on;
        else if (name == "sn" || name == "dn")
            continue; // subtitle and data streams are never read
        else if (name == "itsoffset") {
            int64_t us = 0;
            if (av_parse_time(&us, utf8(value).constData(), 1) < 0)
                fail(QString("Invalid value '%1' for option 'itsoffset'").arg(value));
            offsetUs_ += us;
        } else
            opts.set(utf8(name).constData(), value);
    }
    const AVIOInterruptCB cb{interruptCallback, &control_};
    if (opened_ && av_dict_count(opts.d) == 0) {
        ic_ = std::move(opened_);
        ic_->interrupt_callback = cb;
    } else {
        opened_.reset();
        QString error;
        ic_ = openInputFile(in_.InputFileName, in_.ForcedFormat, &opts.d, &cb, &error);
        if (!ic_)
            fail(control_.stopRequested() ? QString() : error);
    }
    // Options the demuxer did not take are tried on the decoders; see setup*.
    for (const AVDictionaryEntry* e = nullptr;
         (e = av_dict_get(opts.d, "", e, AV_DICT_IGNORE_SUFFIX));) {
        const AVClass* cc = avcodec_get_class();
        if (!av_opt_find(&cc, e->key, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ))
            fail(QString("Unrecognized option '%1'").arg(QString::fromUtf8(e->key)));
        decoderOpts_.emplace_back(e->key, e->value);
    }

    fileStartUs_ = ic_->start_time != AV_NOPTS_VALUE ? ic_->start_time : 0;
    startUs_ = in_.StartTime > 0 ? in_.StartTime : 0;
    offsetUs_ -= fileStartUs_ + startUs_;
    endUs_ = out_.RecordingTime > 0 ? out_.RecordingTime : 0;
    if (ic_->duration != AV_NOPTS_VALUE && ic_->duration > 0)
        totalUs_ = qMax<int64_t>(0, ic_->duration - startUs_);
    if (endUs_ > 0)
        totalUs_ = totalUs_ > 0 ? qMin(totalUs_, endUs_) : endUs_;

    if (startUs_ > 0) {
        const int64_t ts = fileStartUs_ + startUs_;
        // Lands on the key frame before the start; frames before it are cut by the filters.
        if (avformat_seek_file(ic_.get(), -1, INT64_MIN, ts, ts, 0) < 0)
            qWarning().noquote() << QString("Could not seek to %1 s in '%2'")
                                        .arg(startUs_ / 1e6)
                                        .arg(in_.InputFileName);
    }
}

void Conversion::pickStreams() {
    for (unsigned i = 0; i < ic_->nb_streams; ++i) {
        AVStream* st = ic_->streams[i];
        st->discard = AVDISCARD_ALL;
        const AVMediaType type = st->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_VIDEO && (st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        if (type == AVMEDIA_TYPE_VIDEO && v_.inIndex < 0 && readVideo_ && !plan_.videoOff)
            v_.inIndex = static_cast<int>(i);
        if (type == AVMEDIA_TYPE_AUDIO && a_.inIndex < 0 && readAudio_ && !plan_.audioOff)
            a_.inIndex = static_cast<int>(i);
    }
    // Prefer the streams FFmpeg ranks first, as probing reports them.
    const int bestV = av_find_best_stream(ic_.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (v_.inIndex >= 0 && bestV >= 0 &&
        !(ic_->streams[bestV]->disposition & AV_DISPOSITION_ATTACHED_PIC))
        v_.inIndex = bestV;
    const int bestA = av_find_best_stream(ic_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (a_.inIndex >= 0 && bestA >= 0)
        a_.inIndex = bestA;
}

CodecContextPtr Conversion::openDecoder(AVStream* st) {
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec)
        fail(QString("No decoder for the %1 stream #%2 (%3)")
                 .arg(av_get_media_type_string(st->codecpar->codec_type))
                 .arg(st->index)
                 .arg(avcodec_get_name(st->codecpar->codec_id)));
    CodecContextPtr dec(avcodec_alloc_context3(codec));
    if (!dec)
        fail(avErrorText(AVERROR(ENOMEM)));
    int rc = avcodec_parameters_to_context(dec.get(), st->codecpar);
    if (rc < 0)
        fail(avErrorText(rc));
    dec->pkt_timebase = st->time_base;
    // Frame and slice threads, as many as the machine has, like the ffmpeg command.
    dec->thread_count = 0;
    dec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    Dictionary opts;
    for (const auto& [k, val] : decoderOpts_)
        av_dict_set(&opts.d, k.c_str(), val.c_str(), 0);
    clearLastLogError();
    rc = avcodec_open2(dec.get(), codec, &opts.d);
    if (rc < 0)
        fail(QString("Could not open the %1 decoder: %2").arg(codec->name).arg(withLog(rc)));
    st->discard = AVDISCARD_DEFAULT;
    return dec;
}

// Encoders whose bit streams carry a fixed frame clock; they get a constant frame rate.
bool encoderTakesVariableRate(AVCodecID id) {
    switch (id) {
    case AV_CODEC_ID_H264:
    case AV_CODEC_ID_HEVC:
    case AV_CODEC_ID_VP8:
    case AV_CODEC_ID_VP9:
    case AV_CODEC_ID_AV1:
    case AV_CODEC_ID_MJPEG:
    case AV_CODEC_ID_PNG:
    case AV_CODEC_ID_RAWVIDEO:
    case AV_CODEC_ID_PRORES:
    case AV_CODEC_ID_FFV1:
        return true;
    default:
        return false;
    }
}

void Conversion::setupVideo() {
    if (v_.inIndex < 0)
        return;
    v_.encoder = findEncoder(plan_.videoCodec, AVMEDIA_TYPE_VIDEO, plan_.oformat->video_codec);
    if (!v_.encoder) {
        if (plan_.videoCodec.isEmpty() && plan_.oformat->video_codec == AV_CODEC_ID_NONE) {
            v_.inIndex = -1; // the container takes no video
            return;
        }
        fail(plan_.videoCodec.isEmpty()
                 ? QString("No video encoder for the '%1' container").arg(plan_.oformat->name)
                 : QString("Unknown video encoder '%1'").arg(plan_.videoCodec));
    }
    v_.ist = ic_->streams[v_.inIndex];
    v_.dec = openDecoder(v_.ist);
    const AVCodecParameters* par = v_.ist->codecpar;
    v_.decW = par->width;
    v_.decH = par->height;
    v_.decFmt = static_cast<AVPixelFormat>(par->format);
    if (v_.decW <= 0 || v_.decH <= 0)
        fail(QString("The video stream of '%1' has no picture size").arg(in_.InputFileName));
    if (v_.decFmt == AV_PIX_FMT_NONE)
        v_.decFmt = AV_PIX_FMT_YUV420P;
    v_.rotation = streamRotation(v_.ist);
    v_.hook = out_.CustomHook && static_cast<bool>(events_.hook);
    const bool swap = v_.rotation == 90 || v_.rotation == 270;
    v_.hookInSourceFormat = v_.hook && v_.rotation == 0 && sws_isSupportedOutput(v_.decFmt);
    if (v_.hook && !v_.hookInSourceFormat) {
        v_.graphFmt = AV_PIX_FMT_BGR24;
        v_.graphW = swap ? v_.decH : v_.decW;
        v_.graphH = swap ? v_.decW : v_.decH;
    } else {
        v_.graphFmt = v_.decFmt;
        v_.graphW = v_.decW;
        v_.graphH = v_.decH;
    }

    // Pixel format: libx264 always gets 8-bit 4:2:0, which every player and the device
    // profiles decode; other encoders take the source's format when they can, else the
    // nearest one they support.
    const AVPixelFormat* fmts = v_.encoder->pix_fmts;
    if (QByteArray(v_.encoder->name) == "libx264") {
        v_.encFmt = AV_PIX_FMT_YUV420P;
    } else if (plan_.haveTarget && (v_.encoder->id == AV_CODEC_ID_MPEG1VIDEO ||
                                    v_.encoder->id == AV_CODEC_ID_MPEG2VIDEO)) {
        v_.encFmt = AV_PIX_FMT_YUV420P;
    } else if (fmts) {
        v_.encFmt = fmts[0];
        bool found = false;
        for (const AVPixelFormat* f = fmts; *f != AV_PIX_FMT_NONE; ++f)
            found = found || *f == v_.decFmt;
        v_.encFmt =
            found ? v_.decFmt : avcodec_find_best_pix_fmt_of_list(fmts, v_.decFmt, 0, nullptr);
    } else {
        v_.encFmt = v_.decFmt;
    }
    // DV25 fixes its sampling by the norm: 4:1:1 for 525-line (NTSC) pictures, 4:2:0 for
    // 625-line (PAL) ones; 4:2:2 is DV50 and fits both.
    if (v_.encoder->id == AV_CODEC_ID_DVVIDEO && v_.encFmt != AV_PIX_FMT_YUV422P) {
        const int height = plan_.height > 0 ? plan_.height : v_.graphH;
        v_.encFmt = height == 480 ? AV_PIX_FMT_YUV411P : AV_PIX_FMT_YUV420P;
    }

    AVRational rate = plan_.frameRate;
    v_.cfr = rate.num > 0 || !(plan_.oformat->flags & (AVFMT_VARIABLE_FPS | AVFMT_NOTIMESTAMPS)) ||
             !encoderTakesVariableRate(v_.encoder->id);
    if (v_.cfr && rate.num <= 0) {
        // The stream's base rate, not its average: a variable-rate source keeps its clock
        // and its pauses become repeated frames.
        rate = av_guess_frame_rate(ic_.get(), v_.ist, nullptr);
        if (rate.num <= 0 || rate.den <= 0 || av_q2d(rate) > 1000)
            rate = AVRational{25, 1};
    }
    if (v_.cfr && v_.encoder->supported_framerates) {
        const int idx = av_find_nearest_q_idx(rate, v_.encoder->supported_framerates);
        rate = v_.encoder->supported_framerates[idx];
    }
    plan_.frameRate = v_.cfr ? rate : AVRational{0, 0};

    buildVideoGraph(0, 0);
    // Encoders of subsampled formats need even sizes; an odd result loses its last row or
    // column rather than failing the task.
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(v_.encFmt);
    const int outW = av_buffersink_get_w(v_.sink);
    const int outH = av_buffersink_get_h(v_.sink);
    const int trimW = desc && desc->log2_chroma_w ? outW % 2 : 0;
    const int trimH = desc && desc->log2_chroma_h ? outH % 2 : 0;
    if (trimW || trimH)
        buildVideoGraph(trimW, trimH);

    CodecContextPtr enc(avcodec_alloc_context3(v_.encoder));
    enc->width = av_buffersink_get_w(v_.sink);
    enc->height = av_buffersink_get_h(v_.sink);
    enc->sample_aspect_ratio = av_buffersink_get_sample_aspect_ratio(v_.sink);
    enc->pix_fmt = static_cast<AVPixelFormat>(av_buffersink_get_format(v_.sink));
    if (v_.cfr) {
        enc->time_base = av_inv_q(plan_.frameRate);
        enc->framerate = plan_.frameRate;
    } else {
        enc->time_base = av_buffersink_get_time_base(v_.sink);
        AVRational avg = v_.ist->avg_frame_rate;
        if (avg.num > 0 && avg.den > 0)
            enc->framerate = avg;
    }
    if (plan_.videoBitRate > 0)
        enc->bit_rate = plan_.videoBitRate;
    if (plan_.haveTarget) {
        enc->rc_max_rate = qMax(plan_.target.maxRate, enc->bit_rate);
        enc->rc_min_rate = plan_.target.minRate > 0 ? qMin(plan_.target.minRate, enc->bit_rate) : 0;
        enc->rc_buffer_size = plan_.target.bufferSize;
        if (plan_.target.gopSize > 0)
            enc->gop_size = plan_.target.gopSize;
        if (plan_.target.scanOffset)
            av_opt_set(enc.get(), "scan_offset", "1", AV_OPT_SEARCH_CHILDREN);
    }
    if (plan_.oformat->flags & AVFMT_GLOBALHEADER)
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    enc->thread_count = 0;
    enc->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (v_.encoder->capabilities & AV_CODEC_CAP_EXPERIMENTAL)
        enc->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
    Dictionary opts;
    if (QByteArray(v_.encoder->name) == "libx264") {
        if (!plan_.x264.preset.isEmpty())
            opts.set("preset", plan_.x264.preset);
        if (!plan_.x264.profile.isEmpty())
            opts.set("profile", plan_.x264.profile);
        if (!plan_.x264.level.isEmpty())
            opts.set("level", plan_.x264.level);
    }
    clearLastLogError();
    const int rc = avcodec_open2(enc.get(), v_.encoder, &opts.d);
    if (rc < 0)
        fail(QString("Could not open the video encoder '%1': %2")
                 .arg(v_.encoder->name)
                 .arg(withLog(rc)));
    v_.enc = std::move(enc);
}

void Conversion::buildVideoGraph(int trimW, int trimH) {
    v_.graph.reset(avfilter_graph_alloc());
    if (!v_.graph)
        fail(avErrorText(AVERROR(ENOMEM)));
    v_.graph->scale_sws_opts = av_strdup("flags=bicubic");
    AVRational sar = v_.ist->sample_aspect_ratio.num ? v_.ist->sample_aspect_ratio
                                                     : v_.ist->codecpar->sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0)
        sar = AVRational{1, 1};
    if (v_.hook && (v_.rotation == 90 || v_.rotation == 270))
        sar = AVRational{sar.den, sar.num};
    const AVRational tb = v_.ist->time_base;
    QString args = QString("video_size=%1x%2:pix_fmt=%3:time_base=%4/%5:pixel_aspect=%6/%7")
                       .arg(v_.graphW)
                       .arg(v_.graphH)
                       .arg(static_cast<int>(v_.graphFmt))
                       .arg(tb.num)
                       .arg(tb.den)
                       .arg(sar.num)
                       .arg(sar.den);
    const AVRational fr = av_guess_frame_rate(ic_.get(), v_.ist, nullptr);
    if (fr.num > 0 && fr.den > 0)
        args += QString(":frame_rate=%1/%2").arg(fr.num).arg(fr.den);
    openGraphEnds(v_.graph.get(), "buffer", args, "buffersink", "video", &v_.src, &v_.sink);

    QStringList chain;
    chain << trimFilter("trim", endUs_);
    if (!v_.hook) {
        if (v_.rotation == 90)
            chain << "transpose=clock";
        else if (v_.rotation == 180)
            chain << "hflip"
                  << "vflip";
        else if (v_.rotation == 270)
            chain << "transpose=cclock";
    }
    const bool swap = v_.rotation == 90 || v_.rotation == 270;
    const int uprightW = swap ? v_.decH : v_.decW;
    const int uprightH = swap ? v_.decW : v_.decH;
    if (plan_.bandTop || plan_.bandBottom || plan_.bandLeft || plan_.bandRight) {
        const int w = uprightW - plan_.bandLeft - plan_.bandRight;
        const int h = uprightH - plan_.bandTop - plan_.bandBottom;
        if (w <= 0 || h <= 0)
            fail(QString("The bands (top %1, bottom %2, left %3, right %4) leave no picture of "
                         "the %5x%6 source")
                     .arg(plan_.bandTop)
                     .arg(plan_.bandBottom)
                     .arg(plan_.bandLeft)
                     .arg(plan_.bandRight)
                     .arg(uprightW)
                     .arg(uprightH));
        chain << QString("crop=%1:%2:%3:%4:exact=1")
                     .arg(w)
                     .arg(h)
                     .arg(plan_.bandLeft)
                     .arg(plan_.bandTop);
    }
    if (plan_.width > 0 && plan_.height > 0)
        chain << QString("scale=%1:%2").arg(plan_.width).arg(plan_.height);
    if (plan_.aspect.num > 0)
        chain << QString("setdar=%1/%2").arg(plan_.aspect.num).arg(plan_.aspect.den);
    if (!plan_.filters.isEmpty())
        chain << plan_.filters;
    if (v_.cfr)
        chain << QString("fps=%1/%2").arg(plan_.frameRate.num).arg(plan_.frameRate.den);
    if (trimW || trimH)
        chain << QString("crop=iw-%1:ih-%2:0:0").arg(trimW).arg(trimH);
    chain << QString("format=pix_fmts=%1").arg(av_get_pix_fmt_name(v_.encFmt));

    int rc = parseChain(v_.graph.get(), v_.src, v_.sink, chain.join(','));
    if (rc < 0)
        fail(QString("Invalid video filter chain '%1': %2").arg(plan_.filters).arg(withLog(rc)));
    rc = avfilter_graph_config(v_.graph.get(), nullptr);
    if (rc < 0)
        fail(QString("Cannot apply the video filters '%1': %2")
                 .arg(chain.join(','))
                 .arg(withLog(rc)));
}

void Conversion::setupAudio() {
    if (a_.inIndex < 0)
        return;
    a_.encoder = findEncoder(plan_.audioCodec, AVMEDIA_TYPE_AUDIO, plan_.oformat->audio_codec);
    if (!a_.encoder) {
        if (plan_.audioCodec.isEmpty() && plan_.oformat->audio_codec == AV_CODEC_ID_NONE) {
            a_.inIndex = -1;
            return;
        }
        fail(plan_.audioCodec.isEmpty()
                 ? QString("No audio encoder for the '%1' container").arg(plan_.oformat->name)
                 : QString("Unknown audio encoder '%1'").arg(plan_.audioCodec));
    }
    a_.ist = ic_->streams[a_.inIndex];
    a_.dec = openDecoder(a_.ist);
    const AVCodec* codec = a_.encoder;
    CodecContextPtr enc(avcodec_alloc_context3(codec));

    AVSampleFormat fmt = a_.dec->sample_fmt;
    if (codec->sample_fmts) {
        bool found = false;
        for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
            found = found || *f == fmt;
        if (!found)
            fmt = codec->sample_fmts[0];
    }
    if (fmt == AV_SAMPLE_FMT_NONE)
        fmt = AV_SAMPLE_FMT_FLTP;
    enc->sample_fmt = fmt;

    int rate = plan_.sampleRate > 0 ? plan_.sampleRate : a_.dec->sample_rate;
    if (rate <= 0)
        rate = 44100;
    if (codec->supported_samplerates) {
        int best = codec->supported_samplerates[0];
        for (const int* r = codec->supported_samplerates; *r; ++r)
            if (std::abs(*r - rate) < std::abs(best - rate))
                best = *r;
        rate = best;
    }
    enc->sample_rate = rate;

    AVChannelLayout layout{};
    if (plan_.channels > 0)
        av_channel_layout_default(&layout, plan_.channels);
    else if (a_.dec->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC &&
             a_.dec->ch_layout.nb_channels > 0)
        av_channel_layout_copy(&layout, &a_.dec->ch_layout);
    else
        av_channel_layout_default(&layout, qMax(1, a_.dec->ch_layout.nb_channels));
    if (codec->ch_layouts) {
        const AVChannelLayout* best = nullptr;
        for (const AVChannelLayout* l = codec->ch_layouts; l->nb_channels; ++l) {
            if (!av_channel_layout_compare(l, &layout)) {
                best = l;
                break;
            }
            if (!best || std::abs(l->nb_channels - layout.nb_channels) <
                             std::abs(best->nb_channels - layout.nb_channels))
                best = l;
        }
        if (best && av_channel_layout_compare(best, &layout)) {
            av_channel_layout_uninit(&layout);
            av_channel_layout_copy(&layout, best);
        }
    }
    av_channel_layout_copy(&enc->ch_layout, &layout);
    av_channel_layout_uninit(&layout);
    enc->time_base = AVRational{1, rate};
    if (plan_.audioBitRate > 0)
        enc->bit_rate = plan_.audioBitRate;
    if (plan_.oformat->flags & AVFMT_GLOBALHEADER)
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    enc->thread_count = 0;
    if (codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL)
        enc->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
    clearLastLogError();
    const int rc = avcodec_open2(enc.get(), codec, nullptr);
    if (rc < 0)
        fail(
            QString("Could not open the audio encoder '%1': %2").arg(codec->name).arg(withLog(rc)));
    a_.enc = std::move(enc);
}

void Conversion::buildAudioGraph() {
    a_.graph.reset(avfilter_graph_alloc());
    if (!a_.graph)
        fail(avErrorText(AVERROR(ENOMEM)));
    const AVRational tb = a_.ist->time_base;
    const QString args = QString("time_base=%1/%2:sample_rate=%3:sample_fmt=%4:channel_layout=%5")
                             .arg(tb.num)
                             .arg(tb.den)
                             .arg(a_.srcRate)
                             .arg(av_get_sample_fmt_name(a_.srcFmt))
                             .arg(channelLayoutText(a_.srcLayout));
    openGraphEnds(a_.graph.get(), "abuffer", args, "abuffersink", "audio", &a_.src, &a_.sink);

    QStringList chain;
    chain << trimFilter("atrim", endUs_);
    if (plan_.volume >= 0 && plan_.volume != 256)
        chain << QString("volume=%1").arg(QString::asprintf("%.6f", plan_.volume / 256.0));
    chain << QString("aformat=sample_fmts=%1:sample_rates=%2:channel_layouts=%3")
                 .arg(av_get_sample_fmt_name(a_.enc->sample_fmt))
                 .arg(a_.enc->sample_rate)
                 .arg(channelLayoutText(a_.enc->ch_layout));

    int rc = parseChain(a_.graph.get(), a_.src, a_.sink, chain.join(','));
    if (rc >= 0)
        rc = avfilter_graph_config(a_.graph.get(), nullptr);
    if (rc < 0)
        fail(QString("Cannot set up the audio filters '%1': %2")
                 .arg(chain.join(','))
                 .arg(withLog(rc)));
    // Encoders with a fixed frame size get exactly that many samples per frame.
    if (a_.enc->frame_size > 0 && !(a_.encoder->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE))
        av_buffersink_set_frame_size(a_.sink, a_.enc->frame_size);
}

void Conversion::openOutput() {
    const QByteArray file = utf8(out_.OutputFileName);
    Dictionary muxOpts;
    if (plan_.haveTarget) {
        if (plan_.target.packetSize > 0)
            oc_->packet_size = plan_.target.packetSize;
        if (plan_.target.muxRate > 0)
            muxOpts.set("muxrate", QString::number(plan_.target.muxRate));
        if (plan_.target.muxer == "vcd")
            muxOpts.set("preload", QString::number((36000 + 3 * 1200) * 1000000LL / 90000));
    }
    oc_->max_delay = 700000;
    const auto addStream = [&](AVCodecContext* enc) {
        AVStream* st = avformat_new_stream(oc_.get(), nullptr);
        if (!st)
            fail(avErrorText(AVERROR(ENOMEM)));
        const int rc = avcodec_parameters_from_context(st->codecpar, enc);
        if (rc < 0)
            fail(avErrorText(rc));
        st->time_base = enc->time_base;
        return st;
    };
    if (v_.enc) {
        v_.ost = addStream(v_.enc.get());
        v_.ost->sample_aspect_ratio = v_.enc->sample_aspect_ratio;
        if (v_.enc->framerate.num > 0)
            v_.ost->avg_frame_rate = v_.enc->framerate;
    }
    if (a_.enc)
        a_.ost = addStream(a_.enc.get());

    if (!(plan_.oformat->flags & AVFMT_NOFILE)) {
        clearLastLogError();
        const int rc = avio_open2(&oc_->pb, file.constData(), AVIO_FLAG_WRITE,
                                  &oc_->interrupt_callback, nullptr);
        if (rc < 0)
            fail(QString("Cannot open output file '%1': %2")
                     .arg(out_.OutputFileName)
                     .arg(avErrorText(rc)));
        createdOutput_ = true;
    }
    clearLastLogError();
    const int rc = avformat_write_header(oc_.get(), &muxOpts.d);
    if (rc < 0)
        fail(QString("Cannot write the header of '%1': %2")
                 .arg(out_.OutputFileName)
                 .arg(withLog(rc)));
    headerWritten_ = true;
}

int64_t Conversion::toOutputUs(int64_t pts, AVRational tb) const {
    return av_rescale_q(pts, tb, AV_TIME_BASE_Q);
}

int64_t Conversion::closingPts(int64_t nextPts, AVRational tb) const {
    if (nextPts == AV_NOPTS_VALUE)
        return 0;
    if (endUs_ > 0)
        return qMin(nextPts, av_rescale_q(endUs_, AV_TIME_BASE_Q, tb));
    return nextPts;
}

bool Conversion::allInputsDone() const {
    return (!v_.enc || v_.inputDone) && (!a_.enc || a_.inputDone);
}

void Conversion::decode(AVCodecContext* dec, const AVPacket* pkt, bool video) {
    int rc = avcodec_send_packet(dec, pkt);
    if (rc < 0 && rc != AVERROR_EOF && rc != AVERROR(EAGAIN))
        return; // a damaged packet: skip it, as the ffmpeg command does
    for (;;) {
        const int got = avcodec_receive_frame(dec, frame_.get());
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
            break;
        if (got < 0)
            break;
        if (video)
            onVideoFrame(frame_.get());
        else
            onAudioFrame(frame_.get());
        av_frame_unref(frame_.get());
        if (control_.stopRequested())
            return;
    }
    if (rc == AVERROR(EAGAIN))
        decode(dec, pkt, video);
}

void Conversion::convertForHook(const AVFrame* f, AVFrame* dst) {
    if (!v_.toHook || f->width != v_.toHookW || f->height != v_.toHookH ||
        f->format != v_.toHookFmt) {
        v_.toHook = makeThreadedScaler(f->width, f->height, static_cast<AVPixelFormat>(f->format),
                                       v_.decW, v_.decH, AV_PIX_FMT_BGR24, SWS_BICUBIC);
        if (!v_.toHook)
            fail("Cannot convert the video frames to pictures");
        v_.toHookW = f->width;
        v_.toHookH = f->height;
        v_.toHookFmt = f->format;
    }
    if (v_.rotation == 0) {
        if (sws_scale_frame(v_.toHook.get(), dst, f) < 0)
            fail("Cannot convert the video frames to pictures");
        return;
    }
    FramePtr stored(av_frame_alloc());
    stored->format = AV_PIX_FMT_BGR24;
    stored->width = v_.decW;
    stored->height = v_.decH;
    if (av_frame_get_buffer(stored.get(), 0) < 0)
        fail(avErrorText(AVERROR(ENOMEM)));
    if (sws_scale_frame(v_.toHook.get(), stored.get(), f) < 0)
        fail("Cannot convert the video frames to pictures");
    const QImage upright =
        QImage(stored->data[0], v_.decW, v_.decH, stored->linesize[0], QImage::Format_BGR888)
            .transformed(QTransform().rotate(v_.rotation));
    const int rowBytes = v_.graphW * 3;
    for (int y = 0; y < v_.graphH && y < upright.height(); ++y)
        std::memcpy(dst->data[0] + y * dst->linesize[0], upright.constScanLine(y),
                    qMin<int>(rowBytes, upright.bytesPerLine()));
}

bool Conversion::invokeHook(PHookInfo& info) {
    QString error;
    try {
        if (!events_.hook(info))
            return false;
    } catch (const std::exception& e) {
        error = QString::fromLocal8Bit(e.what());
    } catch (...) {
        error = QStringLiteral("unknown exception");
    }
    if (info.StopHook)
        v_.hookStopped = true;
    if (error.isEmpty())
        return true;
    // Logged once per message and task: a failing handler fails on every frame.
    if (!hookErrors_.contains(error)) {
        hookErrors_.insert(error);
        qWarning().noquote() << "Error occurs OnCustomHook: " + error;
    }
    return false;
}

void Conversion::callHook(const AVFrame* f, AVFrame* dst, int64_t sourceUs) {
    PHookInfo info;
    info.TaskIndex = taskIndex_;
    info.PTS = sourceUs;
    info.Bitmap =
        QImage(dst->data[0], v_.graphW, v_.graphH, dst->linesize[0], QImage::Format_BGR888);
    bool restore = false;
    if (!invokeHook(info) || !info.Update) {
        restore = true;
    } else if (info.Bitmap.constBits() != dst->data[0]) {
        // The handler's image no longer shares our buffer: copy its pixels back.
        if (info.Bitmap.width() == v_.graphW && info.Bitmap.height() == v_.graphH) {
            const QImage img = info.Bitmap.convertToFormat(QImage::Format_BGR888);
            for (int y = 0; y < v_.graphH; ++y)
                std::memcpy(dst->data[0] + y * dst->linesize[0], img.constScanLine(y),
                            size_t(v_.graphW) * 3);
        } else {
            restore = true;
        }
    }
    info.Bitmap = QImage();
    if (restore)
        convertForHook(f, dst);
}

FramePtr Conversion::hookPicture() {
    // Pictures for the hook come from a pool: a fresh large buffer per frame would cost page
    // faults on every frame.
    if (!v_.pool) {
        v_.poolLinesize = FFALIGN(v_.graphW * 3, 64);
        v_.pool.reset(av_buffer_pool_init(v_.poolLinesize * v_.graphH, nullptr));
    }
    FramePtr picture(av_frame_alloc());
    if (!picture || !v_.pool || !(picture->buf[0] = av_buffer_pool_get(v_.pool.get())))
        fail(avErrorText(AVERROR(ENOMEM)));
    picture->format = AV_PIX_FMT_BGR24;
    picture->width = v_.graphW;
    picture->height = v_.graphH;
    picture->data[0] = picture->buf[0]->data;
    picture->linesize[0] = v_.poolLinesize;
    return picture;
}

FramePtr Conversion::hookedPicture(const AVFrame* f, int64_t sourceUs) {
    FramePtr bgr = hookPicture();
    convertForHook(f, bgr.get());
    PHookInfo info;
    info.TaskIndex = taskIndex_;
    info.PTS = sourceUs;
    // Read-only pixels: a handler that writes gets its own copy (QImage detaches), so a
    // picture it leaves alone is known without comparing, and goes on as decoded, untouched
    // by a round trip through BGR.
    const uint8_t* pixels = bgr->data[0];
    info.Bitmap = QImage(pixels, v_.graphW, v_.graphH, bgr->linesize[0], QImage::Format_BGR888);
    if (!invokeHook(info) || !info.Update || info.Bitmap.constBits() == pixels ||
        info.Bitmap.width() != v_.graphW || info.Bitmap.height() != v_.graphH)
        return nullptr;
    const QImage changed = info.Bitmap.format() == QImage::Format_BGR888
                               ? info.Bitmap
                               : info.Bitmap.convertToFormat(QImage::Format_BGR888);
    info.Bitmap = QImage();
    const QRect box = differingBox(pixels, bgr->linesize[0], changed.constBits(),
                                   changed.bytesPerLine(), v_.graphW, v_.graphH);
    if (box.isEmpty())
        return nullptr;
    return convertBack(f, changed, box);
}

FramePtr Conversion::convertBack(const AVFrame* f, const QImage& changed, QRect box) {
    // Only the part the handler changed is converted back, on whole chroma samples; the rest
    // of the picture keeps the decoded pixels exactly.
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(v_.graphFmt);
    const bool sameInput =
        f->width == v_.graphW && f->height == v_.graphH && f->format == v_.graphFmt;
    // Planar layouts only: their planes can be addressed from a pixel position alone.
    const bool partial = sameInput && desc &&
                         !(desc->flags & (AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_PAL)) &&
                         ((desc->flags & AV_PIX_FMT_FLAG_PLANAR) || desc->nb_components == 1);
    if (partial) {
        const int ax = 1 << desc->log2_chroma_w, ay = 1 << desc->log2_chroma_h;
        const int x0 = box.left() / ax * ax, y0 = box.top() / ay * ay;
        const int x1 = qMin(v_.graphW, (box.right() + ax) / ax * ax);
        const int y1 = qMin(v_.graphH, (box.bottom() + ay) / ay * ay);
        box = QRect(x0, y0, x1 - x0, y1 - y0);
    } else {
        box = QRect(0, 0, v_.graphW, v_.graphH);
    }

    FramePtr out(av_frame_alloc());
    FramePtr src(av_frame_alloc());
    FramePtr dst(av_frame_alloc());
    if (!out || !src || !dst)
        fail(avErrorText(AVERROR(ENOMEM)));
    out->format = v_.graphFmt;
    out->width = v_.graphW;
    out->height = v_.graphH;
    if (av_frame_get_buffer(out.get(), 0) < 0)
        fail(avErrorText(AVERROR(ENOMEM)));
    const bool whole = box.size() == QSize(v_.graphW, v_.graphH);
    if (!whole && av_frame_copy(out.get(), f) < 0)
        fail("Cannot copy the video frames");

    // The changed part as frames the converter can reference: the handler's image borrowed,
    // and a window into `out`.
    src->format = AV_PIX_FMT_BGR24;
    src->width = box.width();
    src->height = box.height();
    src->buf[0] = av_buffer_create(
        const_cast<uint8_t*>(changed.constBits()), size_t(changed.sizeInBytes()),
        [](void*, uint8_t*) {}, nullptr, AV_BUFFER_FLAG_READONLY);
    if (!src->buf[0])
        fail(avErrorText(AVERROR(ENOMEM)));
    src->data[0] = src->buf[0]->data + box.top() * changed.bytesPerLine() + box.left() * 3;
    src->linesize[0] = int(changed.bytesPerLine());
    if (av_frame_ref(dst.get(), out.get()) < 0)
        fail(avErrorText(AVERROR(ENOMEM)));
    dst->width = box.width();
    dst->height = box.height();
    int steps[4] = {};
    av_image_fill_max_pixsteps(steps, nullptr, desc);
    for (int p = 0; p < 4 && dst->data[p]; ++p) {
        const bool chroma = desc && (p == 1 || p == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
        const int sx = chroma ? desc->log2_chroma_w : 0;
        const int sy = chroma ? desc->log2_chroma_h : 0;
        dst->data[p] += (box.top() >> sy) * dst->linesize[p] + (box.left() >> sx) * steps[p];
    }
    if (!v_.fromHook || v_.fromHookSize != box.size()) {
        v_.fromHook = makeThreadedScaler(box.width(), box.height(), AV_PIX_FMT_BGR24, box.width(),
                                         box.height(), v_.graphFmt, SWS_BICUBIC);
        if (!v_.fromHook)
            fail("Cannot convert the hook's pictures back");
        v_.fromHookSize = box.size();
    }
    if (sws_scale_frame(v_.fromHook.get(), dst.get(), src.get()) < 0)
        fail("Cannot convert the hook's pictures back");
    out->sample_aspect_ratio = f->sample_aspect_ratio;
    return out;
}

void Conversion::onVideoFrame(AVFrame* f) {
    if (v_.inputDone)
        return;
    int64_t pts = f->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE)
        pts = f->pts;
    if (pts == AV_NOPTS_VALUE)
        return;
    const AVRational tb = v_.ist->time_base;
    const int64_t sourceUs = toOutputUs(pts, tb) - fileStartUs_;
    pts += av_rescale_q(offsetUs_, AV_TIME_BASE_Q, tb);
    const int64_t outUs = toOutputUs(pts, tb);
    int64_t duration = f->pkt_duration;
    if (duration <= 0 && v_.ist->avg_frame_rate.num > 0)
        duration = av_rescale_q(1, av_inv_q(v_.ist->avg_frame_rate), tb);
    if (endUs_ > 0 && outUs >= endUs_) {
        flushPending();
        v_.inputDone = true;
        closeSource(v_.src, closingPts(v_.nextPts, v_.ist->time_base));
        drainVideo(false);
        return;
    }
    ++v_.frames;
    if (v_.hookInSourceFormat) {
        // The previous frame's hook has to end first: the handler sees one frame at a time,
        // in order, and may have asked to stop hooking.
        std::optional<PendingFrame> previous = std::move(pending_);
        pending_.reset();
        FramePtr previousPicture = previous ? previous->hooked.get() : nullptr;
        // Frames before the start point are cut by the filters; they are not shown to the hook.
        if (!v_.hookStopped && outUs >= 0) {
            PendingFrame next;
            next.frame.reset(av_frame_clone(f));
            if (!next.frame)
                fail(avErrorText(AVERROR(ENOMEM)));
            next.pts = pts;
            next.duration = duration;
            const AVFrame* source = next.frame.get();
            next.hooked = std::async(std::launch::async, [this, source, sourceUs] {
                return hookedPicture(source, sourceUs);
            });
            pending_ = std::move(next);
        }
        if (previous)
            pushVideo(previousPicture ? previousPicture.get() : previous->frame.get(),
                      previous->pts, previous->duration);
        if (!pending_)
            pushVideo(f, pts, duration);
        return;
    }
    FramePtr converted;
    if (v_.hook) {
        converted = hookPicture();
        convertForHook(f, converted.get());
        if (!v_.hookStopped && outUs >= 0)
            callHook(f, converted.get(), sourceUs);
        converted->sample_aspect_ratio = f->sample_aspect_ratio;
    }
    pushVideo(converted ? converted.get() : f, pts, duration);
}

void Conversion::flushPending() {
    if (!pending_)
        return;
    PendingFrame previous = std::move(*pending_);
    pending_.reset();
    FramePtr picture = previous.hooked.get();
    pushVideo(picture ? picture.get() : previous.frame.get(), previous.pts, previous.duration);
}

void Conversion::pushVideo(AVFrame* picture, int64_t pts, int64_t duration) {
    FramePtr converted;
    if (picture->width != v_.graphW || picture->height != v_.graphH ||
        picture->format != v_.graphFmt) {
        // A picture whose size or format changed midway is brought to the filters' input.
        converted.reset(av_frame_alloc());
        converted->format = v_.graphFmt;
        converted->width = v_.graphW;
        converted->height = v_.graphH;
        if (av_frame_get_buffer(converted.get(), 0) < 0)
            fail(avErrorText(AVERROR(ENOMEM)));
        v_.toGraph.reset(sws_getCachedContext(v_.toGraph.release(), picture->width, picture->height,
                                              static_cast<AVPixelFormat>(picture->format),
                                              v_.graphW, v_.graphH, v_.graphFmt, SWS_BICUBIC,
                                              nullptr, nullptr, nullptr));
        if (!v_.toGraph)
            fail("Cannot convert the video frames");
        sws_scale(v_.toGraph.get(), picture->data, picture->linesize, 0, picture->height,
                  converted->data, converted->linesize);
        converted->sample_aspect_ratio = picture->sample_aspect_ratio;
        picture = converted.get();
    }
    picture->pts = pts;
    v_.nextPts = pts + qMax<int64_t>(duration, 1);
    const int rc = av_buffersrc_add_frame_flags(v_.src, picture, AV_BUFFERSRC_FLAG_KEEP_REF);
    if (rc < 0 && rc != AVERROR_EOF)
        fail(QString("Error while filtering the video: %1").arg(withLog(rc)));
    drainVideo(false);
}

void Conversion::drainVideo(bool flush) {
    for (;;) {
        const int rc = av_buffersink_get_frame(v_.sink, filtered_.get());
        if (rc == AVERROR(EAGAIN))
            return;
        if (rc == AVERROR_EOF) {
            v_.sinkDone = true;
            v_.inputDone = true;
            return;
        }
        if (rc < 0)
            fail(QString("Error while filtering the video: %1").arg(withLog(rc)));
        AVFrame* fr = filtered_.get();
        if (fr->pts != AV_NOPTS_VALUE)
            fr->pts =
                av_rescale_q(fr->pts, av_buffersink_get_time_base(v_.sink), v_.enc->time_base);
        // Two frames on the same tick: the later one is dropped, as a frame clock demands.
        if (fr->pts != AV_NOPTS_VALUE && v_.lastEncPts != AV_NOPTS_VALUE &&
            fr->pts <= v_.lastEncPts) {
            av_frame_unref(fr);
            continue;
        }
        v_.lastEncPts = fr->pts;
        fr->pict_type = AV_PICTURE_TYPE_NONE;
        maybePreview(fr);
        encode(v_.enc.get(), v_.ost, fr, &v_.packets);
        av_frame_unref(fr);
    }
    (void)flush;
}

void Conversion::onAudioFrame(AVFrame* f) {
    if (a_.inputDone)
        return;
    int64_t pts = f->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE)
        pts = f->pts;
    const AVRational tb = a_.ist->time_base;
    if (pts == AV_NOPTS_VALUE && a_.nextPts != AV_NOPTS_VALUE)
        pts = a_.nextPts - av_rescale_q(offsetUs_, AV_TIME_BASE_Q, tb);
    if (pts == AV_NOPTS_VALUE)
        return;
    pts += av_rescale_q(offsetUs_, AV_TIME_BASE_Q, tb);
    a_.nextPts = pts + av_rescale_q(f->nb_samples, AVRational{1, f->sample_rate}, tb);
    if (endUs_ > 0 && toOutputUs(pts, tb) >= endUs_) {
        a_.inputDone = true;
        if (a_.graph) {
            closeSource(a_.src, closingPts(a_.nextPts, a_.ist->time_base));
            drainAudio(false);
        }
        return;
    }
    // The graph is built from the first frame (some decoders only then know their format)
    // and rebuilt when the source's audio format changes.
    const bool changed = !a_.graph || f->sample_rate != a_.srcRate || f->format != a_.srcFmt ||
                         av_channel_layout_compare(&f->ch_layout, &a_.srcLayout);
    if (changed) {
        if (a_.graph) {
            closeSource(a_.src, closingPts(a_.nextPts, a_.ist->time_base));
            drainAudio(true);
            a_.sinkDone = false;
        }
        a_.srcRate = f->sample_rate;
        a_.srcFmt = static_cast<AVSampleFormat>(f->format);
        av_channel_layout_uninit(&a_.srcLayout);
        if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&a_.srcLayout, f->ch_layout.nb_channels);
        else
            av_channel_layout_copy(&a_.srcLayout, &f->ch_layout);
        buildAudioGraph();
    }
    f->pts = pts;
    const int rc = av_buffersrc_add_frame_flags(a_.src, f, AV_BUFFERSRC_FLAG_KEEP_REF);
    if (rc < 0 && rc != AVERROR_EOF)
        fail(QString("Error while filtering the audio: %1").arg(withLog(rc)));
    drainAudio(false);
}

void Conversion::drainAudio(bool flush) {
    (void)flush;
    for (;;) {
        const int rc = av_buffersink_get_frame(a_.sink, filtered_.get());
        if (rc == AVERROR(EAGAIN))
            return;
        if (rc == AVERROR_EOF) {
            a_.sinkDone = true;
            return;
        }
        if (rc < 0)
            fail(QString("Error while filtering the audio: %1").arg(withLog(rc)));
        AVFrame* fr = filtered_.get();
        if (fr->pts != AV_NOPTS_VALUE)
            fr->pts =
                av_rescale_q(fr->pts, av_buffersink_get_time_base(a_.sink), a_.enc->time_base);
        encode(a_.enc.get(), a_.ost, fr, &a_.packets);
        av_frame_unref(fr);
    }
}

void Conversion::encode(AVCodecContext* enc, AVStream* ost, AVFrame* frame, int64_t* packets) {
    int rc = avcodec_send_frame(enc, frame);
    if (rc < 0 && rc != AVERROR_EOF)
        fail(QString("Error while encoding with '%1': %2").arg(enc->codec->name).arg(withLog(rc)));
    AVPacket* pkt = encPacket_.get();
    for (;;) {
        rc = avcodec_receive_packet(enc, pkt);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return;
        if (rc < 0)
            fail(QString("Error while encoding with '%1': %2")
                     .arg(enc->codec->name)
                     .arg(withLog(rc)));
        pkt->stream_index = ost->index;
        av_packet_rescale_ts(pkt, enc->time_base, ost->time_base);
        if (pkt->pts != AV_NOPTS_VALUE)
            outTimeUs_ = qMax(outTimeUs_, toOutputUs(pkt->pts + pkt->duration, ost->time_base));
        clearLastLogError();
        rc = av_interleaved_write_frame(oc_.get(), pkt);
        if (rc < 0) {
            if (control_.stopRequested())
                fail(QString());
            fail(QString("Error writing to '%1': %2").arg(out_.OutputFileName).arg(withLog(rc)));
        }
        ++*packets;
        maybeProgress(false);
    }
}

// A stopped task keeps a playable file of what was written (the encoders' queued frames are
// dropped so that stopping stays quick); a file with nothing in it yet is removed.
void Conversion::finishStopped() {
    if (headerWritten_ && v_.packets + a_.packets > 0) {
        av_write_trailer(oc_.get());
        headerWritten_ = false;
        return;
    }
    headerWritten_ = false;
    oc_.reset();
    if (createdOutput_)
        QFile::remove(out_.OutputFileName);
}

int64_t Conversion::outputSize() const {
    if (!oc_ || !oc_->pb)
        return 0;
    const int64_t n = avio_tell(oc_->pb);
    return n > 0 ? n : 0;
}

void Conversion::maybeProgress(bool force) {
    if (!events_.progress)
        return;
    const auto now = Clock::now();
    if (!force && now - lastProgress_ < std::chrono::milliseconds(events_.progressIntervalMs))
        return;
    lastProgress_ = now;
    PProgressInfo info;
    info.TaskIndex = taskIndex_;
    info.CurrentSize = outputSize();
    info.CurrentDuration = qMax<int64_t>(0, outTimeUs_);
    info.TotalDuration = totalUs_;
    if (totalUs_ > 0)
        info.CurrentDuration = qMin(info.CurrentDuration, totalUs_);
    events_.progress(info);
}

void Conversion::maybePreview(const AVFrame* f) {
    if (!events_.preview)
        return;
    const auto now = Clock::now();
    if (now - lastPreview_ < std::chrono::milliseconds(events_.previewIntervalMs))
        return;
    lastPreview_ = now;
    v_.toPreview.reset(sws_getCachedContext(
        v_.toPreview.release(), f->width, f->height, static_cast<AVPixelFormat>(f->format),
        f->width, f->height, AV_PIX_FMT_RGB24, SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!v_.toPreview)
        return;
    QImage img(f->width, f->height, QImage::Format_RGB888);
    uint8_t* planes[4] = {img.bits(), nullptr, nullptr, nullptr};
    int strides[4] = {static_cast<int>(img.bytesPerLine()), 0, 0, 0};
    sws_scale(v_.toPreview.get(), f->data, f->linesize, 0, f->height, planes, strides);
    TPreviewInfo info;
    info.TaskIndex = taskIndex_;
    info.Bitmap = std::move(img);
    info.PTS = f->pts != AV_NOPTS_VALUE ? toOutputUs(f->pts, v_.enc->time_base) : 0;
    events_.preview(info);
}

TaskOutcome Conversion::run() {
    TaskOutcome outcome;
    installLogCapture();
    try {
        openInput();
        AVRational sourceRate{0, 0};
        for (unsigned i = 0; i < ic_->nb_streams; ++i)
            if (ic_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
                sourceRate = ic_->streams[i]->avg_frame_rate;
                break;
            }
        const QString planError = resolvePlan(out_, sourceRate, &plan_);
        if (!planError.isEmpty())
            fail(planError);
        pickStreams();
        if (QFileInfo(out_.OutputFileName).absoluteFilePath() ==
            QFileInfo(in_.InputFileName).absoluteFilePath())
            fail(QString("The output file '%1' is the input file").arg(out_.OutputFileName));
        AVFormatContext* raw = nullptr;
        int rc = avformat_alloc_output_context2(&raw, plan_.oformat, nullptr,
                                                utf8(out_.OutputFileName).constData());
        if (rc < 0 || !raw)
            fail(QString("Cannot create the output '%1': %2")
                     .arg(out_.OutputFileName)
                     .arg(avErrorText(rc)));
        oc_.reset(raw);
        // No interrupt callback on the output: a stopped task still completes its file.
        setupVideo();
        setupAudio();
        if (!v_.enc && !a_.enc)
            fail(QString("Nothing to convert: '%1' has no audio or video stream to write into "
                         "'%2'")
                     .arg(in_.InputFileName)
                     .arg(out_.OutputFileName));
        openOutput();

        PacketPtr pkt(av_packet_alloc());
        lastProgress_ = Clock::now();
        bool stopped = false;
        for (;;) {
            if (control_.stopRequested() || !control_.waitWhilePaused()) {
                stopped = true;
                break;
            }
            if (allInputsDone())
                break;
            rc = av_read_frame(ic_.get(), pkt.get());
            if (rc == AVERROR(EAGAIN)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            if (rc < 0)
                break; // end of file, or a file that ends early: convert what was read
            if (v_.enc && pkt->stream_index == v_.inIndex && !v_.inputDone)
                decode(v_.dec.get(), pkt.get(), true);
            else if (a_.enc && pkt->stream_index == a_.inIndex && !a_.inputDone)
                decode(a_.dec.get(), pkt.get(), false);
            av_packet_unref(pkt.get());
            maybeProgress(false);
        }
        if (stopped || control_.stopRequested()) {
            finishStopped();
            return outcome;
        }
        if (v_.enc) {
            if (!v_.inputDone)
                decode(v_.dec.get(), nullptr, true);
            flushPending();
            if (!v_.sinkDone) {
                closeSource(v_.src, closingPts(v_.nextPts, v_.ist->time_base));
                drainVideo(true);
            }
            encode(v_.enc.get(), v_.ost, nullptr, &v_.packets);
        }
        if (a_.enc) {
            if (!a_.inputDone)
                decode(a_.dec.get(), nullptr, false);
            if (a_.graph && !a_.sinkDone) {
                closeSource(a_.src, closingPts(a_.nextPts, a_.ist->time_base));
                drainAudio(true);
            }
            encode(a_.enc.get(), a_.ost, nullptr, &a_.packets);
        }
        if (control_.stopRequested()) {
            finishStopped();
            return outcome;
        }
        clearLastLogError();
        rc = av_write_trailer(oc_.get());
        headerWritten_ = false;
        if (rc < 0)
            fail(QString("Cannot complete '%1': %2").arg(out_.OutputFileName).arg(withLog(rc)));
        if (v_.packets == 0 && a_.packets == 0)
            fail(QString("No audio or video could be decoded from '%1'").arg(in_.InputFileName));
        if (oc_->pb)
            avio_flush(oc_->pb);
        if (events_.progress) {
            PProgressInfo info;
            info.TaskIndex = taskIndex_;
            info.CurrentSize = oc_->pb ? avio_size(oc_->pb) : 0;
            info.TotalDuration = totalUs_ > 0 ? totalUs_ : outTimeUs_;
            info.CurrentDuration = info.TotalDuration;
            events_.progress(info);
        }
        outcome.finished = true;
    } catch (const ConvertError& e) {
        outcome.finished = false;
        outcome.error = control_.stopRequested() ? QString() : e.text;
        if (outcome.error.isEmpty() && !control_.stopRequested())
            outcome.error = QStringLiteral("Conversion failed");
        if (oc_)
            finishStopped();
    } catch (const std::exception& e) {
        outcome.finished = false;
        outcome.error = QString("Conversion failed: %1").arg(QString::fromLocal8Bit(e.what()));
    }
    return outcome;
}

} // namespace

TaskOutcome runConversion(int taskIndex, const TInputOptions& in, const TOutputOptions& out,
                          RunControl& control, const TaskEvents& events, InputContextPtr opened) {
    Conversion conversion(taskIndex, in, out, control, events, std::move(opened));
    return conversion.run();
}

QString checkOutputOptions(const TOutputOptions& out, const TAVProbe* source) {
    installLogCapture();
    AVRational rate{0, 0};
    if (source) {
        const TVideoStreamInfo v = source->ProbeVideoInfo(source->FirstVideoStream());
        if (v.FrameRateNum > 0)
            rate = AVRational{v.FrameRateNum, v.FrameRateDen};
    }
    Plan plan;
    return resolvePlan(out, rate, &plan);
}

} // namespace vorlin::media
