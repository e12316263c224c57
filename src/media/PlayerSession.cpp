#include "media/PlayerSession.h"

#include "media/AudioOutput.h"
#include "media/MediaUtil.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libswresample/swresample.h>
}

#include <QTransform>
#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <exception>

namespace vorlin::media {

namespace {

// The reader stops when every stream has this many packets waiting, or at this many bytes.
constexpr size_t kEnoughVideoPackets = 30;
constexpr size_t kEnoughAudioPackets = 60;
constexpr size_t kMaxQueuedBytes = 16 * 1024 * 1024;
// Audio waiting in the ring between decoder and output. A device pulls in periods of its own
// choosing (some take close to 200 ms at once), so it gets more to avoid running dry.
constexpr int64_t kRingUs = 150000;
constexpr int64_t kDeviceRingUs = 400000;
// A file without video reports its position this often.
constexpr int64_t kAudioPositionIntervalUs = 100000;
// Pictures dropped in a row before one is shown anyway, so that a slow machine still moves.
constexpr int kMaxConsecutiveDrops = 8;

CodecContextPtr openDecoder(const AVStream* st, bool video) {
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec)
        return {};
    CodecContextPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx || avcodec_parameters_to_context(ctx.get(), st->codecpar) < 0)
        return {};
    ctx->pkt_timebase = st->time_base;
    if (video) {
        ctx->thread_count = 0; // as many as the machine has
        ctx->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    }
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0)
        return {};
    return ctx;
}

// The largest size of the picture's aspect that fits the screen.
QSize fitInto(QSize picture, QSize screen) {
    if (picture.isEmpty())
        return {};
    if (screen.isEmpty())
        return picture;
    QSize s = picture.scaled(screen, Qt::KeepAspectRatio);
    return s.expandedTo(QSize(1, 1));
}

} // namespace

void PlayerSession::SwrDeleter::operator()(SwrContext* s) const {
    swr_free(&s);
}

int PlayerSession::interruptCallback(void* opaque) {
    return static_cast<PlayerSession*>(opaque)->quit_.load() ? 1 : 0;
}

std::unique_ptr<PlayerSession> PlayerSession::open(const QString& fileName,
                                                   std::shared_ptr<TFFPlayer::Settings> settings,
                                                   const TFFPlayer::HookSlot* hook,
                                                   QString* error) {
    std::unique_ptr<PlayerSession> s(new PlayerSession);
    s->settings_ = std::move(settings);
    s->hook_ = hook;
    const AVIOInterruptCB interrupt{&PlayerSession::interruptCallback, s.get()};
    s->input_ = openInputFile(fileName, QString(), nullptr, &interrupt, error);
    if (!s->input_)
        return nullptr;
    AVFormatContext* ic = s->input_.get();

    int v = av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (v >= 0 && (ic->streams[v]->disposition & AV_DISPOSITION_ATTACHED_PIC))
        v = -1; // a cover picture is no video
    if (v >= 0 && (s->videoCodec_ = openDecoder(ic->streams[v], true)))
        s->videoIndex_ = v;
    const int a = av_find_best_stream(ic, AVMEDIA_TYPE_AUDIO, -1, s->videoIndex_, nullptr, 0);
    if (a >= 0 && (s->audioCodec_ = openDecoder(ic->streams[a], false)))
        s->audioIndex_ = a;
    if (s->videoIndex_ < 0 && s->audioIndex_ < 0) {
        if (error)
            *error = QString("Cannot play '%1': it has no audio or video stream that can be "
                             "decoded")
                         .arg(fileName);
        return nullptr;
    }
    for (unsigned i = 0; i < ic->nb_streams; ++i)
        if (static_cast<int>(i) != s->videoIndex_ && static_cast<int>(i) != s->audioIndex_)
            ic->streams[i]->discard = AVDISCARD_ALL;

    s->startUs_ = ic->start_time != AV_NOPTS_VALUE ? ic->start_time : 0;
    s->durationUs_ = ic->duration != AV_NOPTS_VALUE && ic->duration > 0 ? ic->duration : 0;
    if (s->videoIndex_ >= 0) {
        AVStream* st = ic->streams[s->videoIndex_];
        s->rotation_ = streamRotation(st);
        const int w = st->codecpar->width;
        const int h = st->codecpar->height;
        const bool turned = s->rotation_ == 90 || s->rotation_ == 270;
        s->frameSize_ = turned ? QSize(h, w) : QSize(w, h);
        AVRational sar = av_guess_sample_aspect_ratio(ic, st, nullptr);
        double aw = w, ah = h;
        if (sar.num > 0 && sar.den > 0)
            aw = w * av_q2d(sar);
        s->aspectSize_ = turned ? QSize(qRound(ah), qRound(aw)) : QSize(qRound(aw), qRound(ah));
        const AVRational rate = av_guess_frame_rate(ic, st, nullptr);
        if (rate.num > 0 && rate.den > 0)
            s->frameDurationUs_ =
                std::clamp<int64_t>(av_rescale(1000000, rate.den, rate.num), 1000, 1000000);
    }
    return s;
}

PlayerSession::~PlayerSession() {
    quit_ = true;
    videoQueue_.abort();
    audioQueue_.abort();
    readerCv_.notify_all();
    wake();
    ring_.clear();
    for (std::thread* t : {&reader_, &video_, &audio_})
        if (t->joinable())
            t->join();
    output_.reset();
    if (sink_)
        sink_->clearPicture();
}

void PlayerSession::start(RenderSink* sink, QSize screen, bool paused, const QAudioDevice& device,
                          SessionEvents events) {
    sink_ = sink;
    events_ = std::move(events);
    displaySize_ = fitInto(aspectSize_, screen);
    paused_ = paused;
    clock_.set(0);
    clock_.setPaused(paused);
    if (hasAudio()) {
        const int rate = audioCodec_->sample_rate;
        const int channels = audioCodec_->ch_layout.nb_channels;
        output_ = makeDeviceAudioOutput(device, rate, channels, ring_, clock_);
        if (!output_)
            output_ = makeWallClockAudioOutput(rate, channels, ring_, clock_);
        const int frameBytes = output_->channels() * 2;
        const int bytesPerSecond = output_->sampleRate() * frameBytes;
        const int64_t ringUs = output_->kind() == QLatin1String("device") ? kDeviceRingUs : kRingUs;
        ring_.configure(bytesPerSecond, frameBytes,
                        static_cast<size_t>(bytesPerSecond * ringUs / 1000000));
        audioGate_ = !hasVideo();
        applyOutputState();
        output_->flush();
    }
    {
        std::lock_guard lock(statsMutex_);
        stats_.audioOutput = output_ ? output_->kind() : QStringLiteral("none");
    }
    reader_ = std::thread([this] { readerLoop(); });
    if (hasVideo())
        video_ = std::thread([this] { videoLoop(); });
    if (hasAudio())
        audio_ = std::thread([this] { audioLoop(); });
}

bool PlayerSession::waitFirstPicture(int timeoutMs) {
    if (!hasVideo())
        return false;
    std::unique_lock lock(pictureMutex_);
    return firstPictureCv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [this] { return firstPictureShown_.load(); });
}

void PlayerSession::setPaused(bool paused) {
    paused_ = paused;
    clock_.setPaused(paused);
    applyOutputState();
    wake();
}

void PlayerSession::setAudioGate(bool open) {
    std::lock_guard lock(outputStateMutex_);
    if (audioGate_ == open)
        return;
    audioGate_ = open;
    if (output_)
        output_->setPaused(paused_.load() || !audioGate_);
}

void PlayerSession::applyOutputState() {
    std::lock_guard lock(outputStateMutex_);
    if (output_)
        output_->setPaused(paused_.load() || !audioGate_);
}

void PlayerSession::seek(int64_t positionUs, bool anyFrame) {
    {
        std::lock_guard lock(readerMutex_);
        request_.serial = request_.serial + 1;
        request_.targetUs = std::max<int64_t>(0, positionUs);
        request_.anyFrame = anyFrame;
        serial_ = request_.serial;
    }
    if (hasVideo())
        setAudioGate(false);
    readerCv_.notify_all();
    wake();
}

void PlayerSession::wake() {
    { std::lock_guard lock(wakeMutex_); }
    wakeCv_.notify_all();
}

QImage PlayerSession::picture() const {
    std::lock_guard lock(pictureMutex_);
    return picture_;
}

PlayerStatistics PlayerSession::statistics() const {
    std::lock_guard lock(statsMutex_);
    return stats_;
}

PlayerSession::Segment PlayerSession::segment(int serial) const {
    std::lock_guard lock(readerMutex_);
    return performed_.serial == serial ? performed_ : Segment{serial, 0, false};
}

// ---------------------------------------------------------------------------------------------
// Reader

bool PlayerSession::queuesFull() const {
    if (videoQueue_.bytes() + audioQueue_.bytes() > kMaxQueuedBytes)
        return true;
    return (!hasVideo() || videoQueue_.count() >= kEnoughVideoPackets) &&
           (!hasAudio() || audioQueue_.count() >= kEnoughAudioPackets);
}

void PlayerSession::readerLoop() {
    AVFormatContext* ic = input_.get();
    PacketPtr packet(av_packet_alloc());
    bool atEnd = false;
    int serial = 0; // the generation being read
    while (!quit_) {
        bool seekNow = false;
        Segment wanted;
        {
            std::unique_lock lock(readerMutex_);
            if (request_.serial != performed_.serial) {
                wanted = request_;
                seekNow = true;
            } else if (atEnd || queuesFull()) {
                readerCv_.wait_for(lock, std::chrono::milliseconds(atEnd ? 100 : 5));
                continue;
            }
        }
        if (seekNow) {
            const int64_t ts = wanted.targetUs + startUs_;
            // Always the key frame at or before the target; a frame-exact seek then decodes
            // forward to it, which shows a correct picture where jumping to a non-key frame
            // would not.
            if (avformat_seek_file(ic, -1, INT64_MIN, ts, ts, 0) < 0)
                avformat_seek_file(ic, -1, INT64_MIN, ts, INT64_MAX, 0);
            videoQueue_.clear();
            audioQueue_.clear();
            {
                std::lock_guard lock(readerMutex_);
                performed_ = wanted;
            }
            serial = wanted.serial;
            atEnd = false;
            continue;
        }
        const int rc = av_read_frame(ic, packet.get());
        if (rc == AVERROR(EAGAIN)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        if (rc < 0) {
            // End of file, or a file that can no longer be read: both end playback.
            if (quit_)
                break;
            if (hasVideo())
                videoQueue_.push({nullptr, serial});
            if (hasAudio())
                audioQueue_.push({nullptr, serial});
            atEnd = true;
            continue;
        }
        PacketQueue* queue = packet->stream_index == videoIndex_   ? &videoQueue_
                             : packet->stream_index == audioIndex_ ? &audioQueue_
                                                                   : nullptr;
        if (!queue) {
            av_packet_unref(packet.get());
            continue;
        }
        PacketPtr item(av_packet_alloc());
        av_packet_move_ref(item.get(), packet.get());
        queue->push({std::move(item), serial});
    }
}

// ---------------------------------------------------------------------------------------------
// Video

int64_t PlayerSession::framePositionUs(const AVFrame* frame, AVRational timeBase,
                                       int64_t fallbackUs) const {
    int64_t ts = frame->best_effort_timestamp;
    if (ts == AV_NOPTS_VALUE)
        ts = frame->pts;
    if (ts == AV_NOPTS_VALUE)
        return fallbackUs;
    return av_rescale_q(ts, timeBase, AV_TIME_BASE_Q) - startUs_;
}

void PlayerSession::videoLoop() {
    const AVRational tb = input_->streams[videoIndex_]->time_base;
    AVCodecContext* dec = videoCodec_.get();
    FramePtr frame(av_frame_alloc());
    // The latest picture passed over: by a frame-exact seek, or dropped as late.
    FramePtr held(av_frame_alloc());
    bool holding = false;
    bool lastDropped = false;
    int current = -1;
    Segment seg;
    bool first = true;
    int64_t nextGuessUs = 0;
    while (!quit_) {
        QueuedPacket item;
        if (!videoQueue_.pop(item))
            break;
        if (item.serial != serial_.load())
            continue; // read before a newer seek
        if (item.serial != current) {
            if (current != -1)
                avcodec_flush_buffers(dec);
            current = item.serial;
            seg = segment(current);
            first = true;
            holding = false;
            lastDropped = false;
            nextGuessUs = seg.targetUs;
        }
        const bool eof = !item.packet;
        if (!eof && first && seg.anyFrame) {
            // Pictures before the target are decoded only as far as later ones need them.
            const AVPacket* pkt = item.packet.get();
            const bool before =
                pkt->pts != AV_NOPTS_VALUE &&
                av_rescale_q(pkt->pts, tb, AV_TIME_BASE_Q) - startUs_ + frameDurationUs_ <=
                    seg.targetUs;
            dec->skip_frame = before ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
        } else if (dec->skip_frame != AVDISCARD_DEFAULT) {
            dec->skip_frame = AVDISCARD_DEFAULT;
        }
        if (avcodec_send_packet(dec, eof ? nullptr : item.packet.get()) < 0 && !eof)
            continue; // a damaged packet: skip it
        while (!stale(current)) {
            if (avcodec_receive_frame(dec, frame.get()) < 0)
                break;
            const int64_t pos = framePositionUs(frame.get(), tb, nextGuessUs);
            nextGuessUs = pos + frameDurationUs_;
            if (first && seg.anyFrame && pos + frameDurationUs_ <= seg.targetUs) {
                av_frame_unref(held.get());
                av_frame_move_ref(held.get(), frame.get());
                holding = true;
                continue;
            }
            if (showFrame(frame.get(), pos, first, current)) {
                first = false;
                lastDropped = false;
            } else if (!stale(current)) {
                // Dropped as late; kept in case it is the last picture of the file.
                av_frame_unref(held.get());
                av_frame_move_ref(held.get(), frame.get());
                lastDropped = true;
            }
            av_frame_unref(frame.get());
        }
        if (!eof || stale(current))
            continue;
        if (first && holding) {
            // The target lies beyond the last picture: show the last one there is.
            const int64_t pos = framePositionUs(held.get(), tb, seg.targetUs);
            showFrame(held.get(), pos, true, current);
            first = false;
        } else if (lastDropped) {
            // The file ends on its last picture even when that one came late.
            const int64_t pos = framePositionUs(held.get(), tb, nextGuessUs);
            present(renderFrame(held.get(), pos), pos);
        }
        av_frame_unref(held.get());
        holding = false;
        lastDropped = false;
        // The last picture stays for its own duration before the end is reported.
        const int64_t last = position_.load();
        if (!first && last >= 0 && !waitForClock(last + frameDurationUs_, current))
            continue;
        avcodec_flush_buffers(dec);
        markDone(true, current);
    }
}

bool PlayerSession::waitForClock(int64_t ptsUs, int serial) {
    std::unique_lock lock(wakeMutex_);
    for (;;) {
        if (stale(serial))
            return false;
        const bool paused = paused_.load();
        const int64_t now = clock_.get();
        if (!paused && now >= ptsUs - 1000)
            return true;
        const int64_t waitUs = paused ? 50000 : std::clamp<int64_t>(ptsUs - now, 1000, 50000);
        wakeCv_.wait_for(lock, std::chrono::microseconds(waitUs));
    }
}

bool PlayerSession::showFrame(const AVFrame* frame, int64_t positionUs, bool immediate,
                              int serial) {
    if (!immediate && !paused_.load()) {
        // Already a whole picture late: skip the conversion and catch up.
        const int64_t late = clock_.get() - positionUs;
        if (late > frameDurationUs_ && consecutiveDrops_ < kMaxConsecutiveDrops) {
            ++consecutiveDrops_;
            std::lock_guard lock(statsMutex_);
            ++stats_.framesDropped;
            return false;
        }
    }
    QImage img = renderFrame(frame, positionUs);
    if (stale(serial))
        return false;
    if (immediate) {
        // A new start (open or seek): the clock and the audio start from this picture.
        clock_.set(positionUs);
        consecutiveDrops_ = 0;
        present(img, positionUs);
        setAudioGate(true);
        return true;
    } else if (!waitForClock(positionUs, serial)) {
        return false;
    }
    consecutiveDrops_ = 0;
    present(img, positionUs);
    return true;
}

QImage PlayerSession::scaleFrame(const AVFrame* frame, QSize size) {
    if (size.isEmpty() || frame->width <= 0 || frame->height <= 0)
        return {};
    sws_.reset(sws_getCachedContext(
        sws_.release(), frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
        size.width(), size.height(), AV_PIX_FMT_RGB32, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!sws_)
        return {};
    const int space =
        frame->colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : frame->colorspace;
    const int fullRange = frame->color_range == AVCOL_RANGE_JPEG ? 1 : 0;
    // Fails harmlessly for sources that are already RGB.
    sws_setColorspaceDetails(sws_.get(), sws_getCoefficients(space), fullRange,
                             sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    QImage img(size, QImage::Format_RGB32);
    if (img.isNull())
        return {};
    uint8_t* dst[4] = {img.bits(), nullptr, nullptr, nullptr};
    int dstStride[4] = {static_cast<int>(img.bytesPerLine()), 0, 0, 0};
    sws_scale(sws_.get(), frame->data, frame->linesize, 0, frame->height, dst, dstStride);
    return img;
}

QImage PlayerSession::renderFrame(const AVFrame* frame, int64_t positionUs) {
    const bool turned = rotation_ == 90 || rotation_ == 270;
    const bool hooking = settings_->hook.load() && hook_ && *hook_;
    // The hook sees the source's own pixels; otherwise scale straight to the screen.
    QSize size = hooking ? QSize(frame->width, frame->height) : displaySize_;
    if (!hooking && turned)
        size.transpose();
    QImage img = scaleFrame(frame, size);
    if (rotation_ != 0 && !img.isNull())
        img = img.transformed(QTransform().rotate(rotation_));
    if (!hooking)
        return img;
    try {
        hook_->invoke(img, positionUs);
    } catch (const std::exception& e) {
        if (!std::exchange(hookFailureReported_, true))
            qWarning("Error occurs OnHook: %s", e.what());
    } catch (...) {
        if (!std::exchange(hookFailureReported_, true))
            qWarning("Error occurs OnHook: unknown exception");
    }
    if (img.isNull())
        return img;
    if (img.format() != QImage::Format_RGB32)
        img = img.convertToFormat(QImage::Format_RGB32);
    if (img.size() != displaySize_ && !displaySize_.isEmpty())
        img = img.scaled(displaySize_, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return img;
}

void PlayerSession::present(const QImage& picture, int64_t positionUs) {
    const int64_t now = clock_.get();
    {
        std::lock_guard lock(pictureMutex_);
        picture_ = picture;
    }
    position_ = std::max<int64_t>(0, positionUs);
    if (sink_)
        sink_->presentPicture(picture, positionUs);
    {
        std::lock_guard lock(statsMutex_);
        ++stats_.framesShown;
        const int64_t late = now - positionUs;
        stats_.latenessSumUs += late;
        stats_.latenessMaxUs = std::max(stats_.latenessMaxUs, late);
        if (output_ && !paused_.load()) {
            // The clock follows the audio being heard, so this is video time minus audio time.
            const int64_t drift = std::abs(positionUs - now);
            ++stats_.driftSamples;
            stats_.driftAbsSumUs += drift;
            stats_.driftAbsMaxUs = std::max(stats_.driftAbsMaxUs, drift);
            stats_.driftOver40Ms += drift > 40000 ? 1 : 0;
        }
    }
    if (events_.position)
        events_.position();
    {
        std::lock_guard lock(pictureMutex_);
        firstPictureShown_ = true;
    }
    firstPictureCv_.notify_all();
}

// ---------------------------------------------------------------------------------------------
// Audio

bool PlayerSession::resample(const AVFrame* frame, std::vector<int16_t>& out) {
    const int outRate = output_->sampleRate();
    const int outChannels = output_->channels();
    if (!swr_) {
        AVChannelLayout outLayout;
        av_channel_layout_default(&outLayout, outChannels);
        AVChannelLayout inLayout;
        if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC ||
            av_channel_layout_check(&frame->ch_layout) == 0)
            av_channel_layout_default(&inLayout, std::max(1, frame->ch_layout.nb_channels));
        else
            av_channel_layout_copy(&inLayout, &frame->ch_layout);
        SwrContext* raw = nullptr;
        const int rc = swr_alloc_set_opts2(&raw, &outLayout, AV_SAMPLE_FMT_S16, outRate, &inLayout,
                                           static_cast<AVSampleFormat>(frame->format),
                                           frame->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&inLayout);
        av_channel_layout_uninit(&outLayout);
        swr_.reset(raw);
        if (rc < 0 || swr_init(swr_.get()) < 0) {
            swr_.reset();
            return false;
        }
    }
    const int capacity = swr_get_out_samples(swr_.get(), frame->nb_samples);
    if (capacity <= 0)
        return false;
    out.resize(static_cast<size_t>(capacity) * outChannels);
    uint8_t* dst = reinterpret_cast<uint8_t*>(out.data());
    const int n = swr_convert(swr_.get(), &dst, capacity,
                              const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    if (n < 0) {
        // The input changed its format: start over with a new resampler next time.
        swr_.reset();
        return false;
    }
    out.resize(static_cast<size_t>(n) * outChannels);
    return true;
}

void PlayerSession::reportAudioPosition(bool force) {
    if (hasVideo())
        return;
    const int64_t now = monotonicUs();
    if (!force && now - lastAudioReportUs_ < kAudioPositionIntervalUs)
        return;
    lastAudioReportUs_ = now;
    const int64_t pos = std::max(audioPositionFloorUs_, std::min(clock_.get(), audioDecodedEndUs_));
    audioPositionFloorUs_ = pos;
    if (pos == position_.load())
        return;
    position_ = pos;
    if (events_.position)
        events_.position();
}

void PlayerSession::audioLoop() {
    const AVRational tb = input_->streams[audioIndex_]->time_base;
    AVCodecContext* dec = audioCodec_.get();
    FramePtr frame(av_frame_alloc());
    std::vector<int16_t> pcm;
    int current = -1;
    Segment seg;
    int64_t nextGuessUs = 0;
    const auto abort = [&] {
        return stale(current);
    };
    const auto idle = [&] {
        output_->pump();
        reportAudioPosition(false);
    };
    while (!quit_) {
        QueuedPacket item;
        if (!audioQueue_.pop(item))
            break;
        if (item.serial != serial_.load())
            continue;
        if (item.serial != current) {
            if (current != -1) {
                avcodec_flush_buffers(dec);
                ring_.clear();
                output_->flush();
            }
            current = item.serial;
            seg = segment(current);
            nextGuessUs = seg.targetUs;
            if (!hasVideo() && current != 0) {
                // Without pictures the clock starts over at the seek target.
                clock_.set(seg.targetUs);
                audioPositionFloorUs_ = seg.targetUs;
                audioDecodedEndUs_ = seg.targetUs;
                reportAudioPosition(true);
            }
        }
        const bool eof = !item.packet;
        if (avcodec_send_packet(dec, eof ? nullptr : item.packet.get()) < 0 && !eof)
            continue;
        while (!stale(current)) {
            if (avcodec_receive_frame(dec, frame.get()) < 0)
                break;
            const int64_t pos = framePositionUs(frame.get(), tb, nextGuessUs);
            const int64_t dur = frame->sample_rate > 0
                                    ? int64_t{frame->nb_samples} * 1000000 / frame->sample_rate
                                    : 0;
            nextGuessUs = pos + dur;
            audioDecodedEndUs_ = std::max(audioDecodedEndUs_, pos + dur);
            const bool early = seg.anyFrame && pos + dur <= seg.targetUs;
            if (!early && resample(frame.get(), pcm) && !pcm.empty()) {
                const int peak = applyVolume(pcm.data(), pcm.size(), settings_->volume.load(),
                                             settings_->mute.load());
                {
                    std::lock_guard lock(statsMutex_);
                    stats_.audioPeak = peak;
                }
                ring_.write(reinterpret_cast<const char*>(pcm.data()), pcm.size() * sizeof(int16_t),
                            pos, abort, idle);
                idle();
            }
            av_frame_unref(frame.get());
        }
        if (!eof || stale(current))
            continue;
        // Let the output play out what it has, then the audio of this file is done.
        std::unique_lock lock(wakeMutex_);
        while (!stale(current) && (ring_.buffered() > 0 || paused_.load())) {
            lock.unlock();
            idle();
            lock.lock();
            if (ring_.buffered() > 0 || paused_.load())
                wakeCv_.wait_for(lock, std::chrono::milliseconds(5));
        }
        const int64_t tailUs = output_->latencyUs();
        if (tailUs > 0 && !stale(current))
            wakeCv_.wait_for(lock, std::chrono::microseconds(tailUs));
        lock.unlock();
        if (stale(current))
            continue;
        reportAudioPosition(true);
        avcodec_flush_buffers(dec);
        markDone(false, current);
    }
}

// ---------------------------------------------------------------------------------------------
// End of file

void PlayerSession::markDone(bool video, int serial) {
    std::lock_guard lock(endMutex_);
    if (serial != serial_.load())
        return;
    (video ? videoDoneSerial_ : audioDoneSerial_) = serial;
    if (video)
        setAudioGate(true); // the audio goes on alone
    if ((hasVideo() && videoDoneSerial_ != serial) || (hasAudio() && audioDoneSerial_ != serial))
        return;
    if (endReportedSerial_ == serial)
        return;
    endReportedSerial_ = serial;
    if (events_.ended)
        events_.ended();
}

} // namespace vorlin::media
