#include "media/AVProbe.h"

#include "media/FFmpegPtr.h"
#include "media/MediaUtil.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <QFileInfo>

using namespace vorlin::media;

namespace {

QString formatDuration(int64_t us) {
    if (us < 0)
        return QStringLiteral("N/A");
    const int64_t totalCs = (us + 5000) / 10000;
    const int64_t cs = totalCs % 100;
    const int64_t s = totalCs / 100;
    return QString::asprintf("%02lld:%02lld:%02lld.%02lld", static_cast<long long>(s / 3600),
                             static_cast<long long>((s / 60) % 60), static_cast<long long>(s % 60),
                             static_cast<long long>(cs));
}

int64_t streamDurationUs(const AVStream* st) {
    if (st->duration == AV_NOPTS_VALUE || st->duration <= 0)
        return -1;
    return av_rescale_q(st->duration, st->time_base, AV_TIME_BASE_Q);
}

} // namespace

bool TAVProbe::OpenProbe(const QString& fileName, const QString& forcedFormat) {
    return static_cast<bool>(ProbeAccess::open(*this, fileName, forcedFormat));
}

InputContextPtr ProbeAccess::open(TAVProbe& probe, const QString& fileName,
                                  const QString& forcedFormat) {
    probe.CloseProbe();
    installLogCapture();
    clearLastLogError();
    QString error;
    InputContextPtr ic = openInputFile(fileName, forcedFormat, nullptr, nullptr, &error);
    if (!ic) {
        probe.lastError_ = error;
        return nullptr;
    }
    probe.describe(ic.get(), fileName);
    return ic;
}

void TAVProbe::describe(AVFormatContext* ic, const QString& fileName) {
    file_.FileName = fileName;
    file_.FormatName = QString::fromUtf8(ic->iformat->name);
    file_.FormatLongName = QString::fromUtf8(ic->iformat->long_name ? ic->iformat->long_name : "");
    file_.Duration = ic->duration != AV_NOPTS_VALUE && ic->duration > 0 ? ic->duration : -1;
    file_.StartTime = ic->start_time != AV_NOPTS_VALUE ? ic->start_time : 0;
    file_.BitRate = ic->bit_rate > 0 ? ic->bit_rate : 0;
    file_.StreamCount = static_cast<int32_t>(ic->nb_streams);

    QStringList lines;
    lines << QString("Input #0, %1, from '%2':").arg(file_.FormatName, fileName);
    lines << QString("  Duration: %1, start: %2, bitrate: %3")
                 .arg(formatDuration(file_.Duration))
                 .arg(QString::asprintf("%.6f", file_.StartTime / 1e6))
                 .arg(file_.BitRate > 0 ? QString("%1 kb/s").arg(file_.BitRate / 1000)
                                        : QStringLiteral("N/A"));

    const int bestVideo = av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const int bestAudio = av_find_best_stream(ic, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);

    streams_.resize(ic->nb_streams);
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        const AVStream* st = ic->streams[i];
        const AVCodecParameters* par = st->codecpar;
        const QString codec = QString::fromUtf8(avcodec_get_name(par->codec_id));
        QString lang;
        if (const AVDictionaryEntry* e = av_dict_get(st->metadata, "language", nullptr, 0))
            lang = QString("(%1)").arg(QString::fromUtf8(e->value));
        QString line = QString("  Stream #0:%1%2: ").arg(i).arg(lang);
        Stream& s = streams_[i];
        if (par->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(st->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            s.kind = Kind::Video;
            TVideoStreamInfo& v = s.video;
            v.StreamIndex = static_cast<int32_t>(i);
            v.CodecName = codec;
            v.CodedWidth = par->width;
            v.CodedHeight = par->height;
            v.Rotation = streamRotation(st);
            const bool swap = v.Rotation == 90 || v.Rotation == 270;
            v.Width = swap ? par->height : par->width;
            v.Height = swap ? par->width : par->height;
            v.BitRate = par->bit_rate > 0 ? par->bit_rate : 0;
            AVRational fr = st->avg_frame_rate;
            if (fr.num <= 0 || fr.den <= 0)
                fr = st->r_frame_rate;
            if (fr.num > 0 && fr.den > 0) {
                v.FrameRateNum = fr.num;
                v.FrameRateDen = fr.den;
            }
            AVRational sar =
                st->sample_aspect_ratio.num ? st->sample_aspect_ratio : par->sample_aspect_ratio;
            if (sar.num <= 0 || sar.den <= 0)
                sar = AVRational{1, 1};
            if (v.Width > 0 && v.Height > 0) {
                AVRational dar;
                const AVRational pixel = swap ? AVRational{sar.den, sar.num} : sar;
                av_reduce(&dar.num, &dar.den, int64_t(v.Width) * pixel.num,
                          int64_t(v.Height) * pixel.den, 1 << 30);
                v.DisplayAspectNum = dar.num;
                v.DisplayAspectDen = dar.den;
            }
            const char* pix = av_get_pix_fmt_name(static_cast<AVPixelFormat>(par->format));
            v.PixelFormat = pix ? QString::fromUtf8(pix) : QString();
            v.Duration = streamDurationUs(st);
            ++file_.VideoStreamCount;
            if (firstVideo_ < 0)
                firstVideo_ = static_cast<int>(i);
            line += QString("Video: %1, ").arg(codec);
            if (!v.PixelFormat.isEmpty())
                line += v.PixelFormat + ", ";
            line += QString("%1x%2").arg(v.Width).arg(v.Height);
            if (v.DisplayAspectNum > 0)
                line += QString(" [DAR %1:%2]").arg(v.DisplayAspectNum).arg(v.DisplayAspectDen);
            if (v.BitRate > 0)
                line += QString(", %1 kb/s").arg(v.BitRate / 1000);
            if (v.FrameRateNum > 0)
                line += QString(", %1 fps")
                            .arg(QString::number(double(v.FrameRateNum) / v.FrameRateDen, 'g', 4));
            if (v.Rotation != 0)
                line += QString(", rotate %1").arg(v.Rotation);
        } else if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
            s.kind = Kind::Audio;
            TAudioStreamInfo& a = s.audio;
            a.StreamIndex = static_cast<int32_t>(i);
            a.CodecName = codec;
            a.BitRate = par->bit_rate > 0 ? par->bit_rate : 0;
            a.SampleRate = par->sample_rate;
            a.Channels = par->ch_layout.nb_channels;
            const char* sf = av_get_sample_fmt_name(static_cast<AVSampleFormat>(par->format));
            a.SampleFormat = sf ? QString::fromUtf8(sf) : QString();
            a.Duration = streamDurationUs(st);
            ++file_.AudioStreamCount;
            char layout[128] = {};
            av_channel_layout_describe(&par->ch_layout, layout, sizeof layout);
            line += QString("Audio: %1, %2 Hz, %3").arg(codec).arg(a.SampleRate).arg(layout);
            if (!a.SampleFormat.isEmpty())
                line += ", " + a.SampleFormat;
            if (a.BitRate > 0)
                line += QString(", %1 kb/s").arg(a.BitRate / 1000);
        } else {
            const char* type = av_get_media_type_string(par->codec_type);
            QString kind = type ? QString::fromUtf8(type) : QStringLiteral("Data");
            if (!kind.isEmpty())
                kind[0] = kind[0].toUpper();
            if (par->codec_type == AVMEDIA_TYPE_VIDEO)
                kind = QStringLiteral("Picture");
            line += QString("%1: %2").arg(kind, codec);
        }
        lines << line;
    }
    if (bestVideo >= 0 && streams_[bestVideo].kind == Kind::Video)
        firstVideo_ = bestVideo;
    if (bestAudio >= 0 && streams_[bestAudio].kind == Kind::Audio)
        firstAudio_ = bestAudio;
    else
        for (size_t i = 0; i < streams_.size() && firstAudio_ < 0; ++i)
            if (streams_[i].kind == Kind::Audio)
                firstAudio_ = static_cast<int>(i);

    description_ = lines.join('\n');
    open_ = true;
    lastError_.clear();
}

void TAVProbe::CloseProbe() {
    open_ = false;
    file_ = TFileStreamInfo{};
    streams_.clear();
    firstVideo_ = -1;
    firstAudio_ = -1;
    description_.clear();
}

bool TAVProbe::ProbeIsVideo(int streamIndex) const {
    return streamIndex >= 0 && streamIndex < static_cast<int>(streams_.size()) &&
           streams_[streamIndex].kind == Kind::Video;
}

bool TAVProbe::ProbeIsAudio(int streamIndex) const {
    return streamIndex >= 0 && streamIndex < static_cast<int>(streams_.size()) &&
           streams_[streamIndex].kind == Kind::Audio;
}

TVideoStreamInfo TAVProbe::ProbeVideoInfo(int streamIndex) const {
    return ProbeIsVideo(streamIndex) ? streams_[streamIndex].video : TVideoStreamInfo{};
}

TAudioStreamInfo TAVProbe::ProbeAudioInfo(int streamIndex) const {
    return ProbeIsAudio(streamIndex) ? streams_[streamIndex].audio : TAudioStreamInfo{};
}
