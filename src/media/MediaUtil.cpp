#include "media/MediaUtil.h"

extern "C" {
#include <libavutil/cpu.h>
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
}

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vorlin::media {

InputContextPtr openInputFile(const QString& fileName, const QString& forcedFormat,
                              AVDictionary** options, const AVIOInterruptCB* interrupt,
                              QString* error) {
    const auto fail = [&](const QString& why) {
        if (error)
            *error = QString("Cannot open input file '%1': %2").arg(fileName, why);
        return InputContextPtr{};
    };
    if (fileName.isEmpty())
        return fail("no file name");
    const QFileInfo info(fileName);
    if (!info.exists())
        return fail(avErrorText(AVERROR(ENOENT)));
    if (info.isDir())
        return fail(avErrorText(AVERROR(EISDIR)));
    if (info.size() == 0)
        return fail("the file is empty");

    const AVInputFormat* fmt = nullptr;
    if (!forcedFormat.isEmpty()) {
        fmt = av_find_input_format(forcedFormat.toUtf8().constData());
        if (!fmt)
            return fail(QString("unknown input format '%1'").arg(forcedFormat));
    }
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw)
        return fail(avErrorText(AVERROR(ENOMEM)));
    if (interrupt)
        raw->interrupt_callback = *interrupt;
    clearLastLogError();
    // On failure avformat_open_input frees the context itself.
    int rc = avformat_open_input(&raw, fileName.toUtf8().constData(), fmt, options);
    if (rc < 0) {
        const QString logged = lastLogError();
        return fail(logged.isEmpty() ? avErrorText(rc) : avErrorText(rc) + " (" + logged + ")");
    }
    InputContextPtr ic(raw);
    rc = avformat_find_stream_info(ic.get(), nullptr);
    if (rc < 0)
        return fail(avErrorText(rc));
    return ic;
}

int streamRotation(const AVStream* st) {
    double theta = 0;
    if (const uint8_t* m = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr)) {
        theta = -av_display_rotation_get(reinterpret_cast<const int32_t*>(m));
    } else if (const AVDictionaryEntry* e = av_dict_get(st->metadata, "rotate", nullptr, 0)) {
        bool ok = false;
        theta = QString::fromUtf8(e->value).toDouble(&ok);
        if (!ok)
            theta = 0;
    }
    if (std::isnan(theta))
        return 0;
    theta = std::fmod(theta, 360.0);
    if (theta < 0)
        theta += 360.0;
    for (int a : {0, 90, 180, 270, 360})
        if (std::abs(theta - a) < 1.0)
            return a % 360;
    return 0;
}

QString mapAudioEncoderName(const QString& name) {
    const QString n = name.trimmed();
    const QString lower = n.toLower();
    if (lower == "libfaac" || lower == "libvo_aacenc" || lower == "libaacplus" ||
        (lower == "libfdk_aac" && !avcodec_find_encoder_by_name("libfdk_aac")))
        return QStringLiteral("aac");
    if (lower == "vorbis" && avcodec_find_encoder_by_name("libvorbis"))
        return QStringLiteral("libvorbis");
    if (lower == "libamr_nb")
        return QStringLiteral("libopencore_amrnb");
    if (lower == "mp3" && avcodec_find_encoder_by_name("libmp3lame"))
        return QStringLiteral("libmp3lame");
    return n;
}

QString mapVideoEncoderName(const QString& name) {
    const QString n = name.trimmed();
    const QString lower = n.toLower();
    if ((lower == "x264" || lower == "h264") && avcodec_find_encoder_by_name("libx264"))
        return QStringLiteral("libx264");
    if (lower == "xvid" && avcodec_find_encoder_by_name("libxvid"))
        return QStringLiteral("libxvid");
    return n;
}

X264Settings mapX264Preset(const QString& name) {
    X264Settings s;
    QString n = name.trimmed().toLower();
    if (n.isEmpty())
        return s;
    static const QStringList speeds{"ultrafast", "superfast", "veryfast", "faster",   "fast",
                                    "medium",    "slow",      "slower",   "veryslow", "placebo"};
    if (n.startsWith("libx264-")) {
        const QString rest = n.mid(8);
        // Device presets: the profile and level those players decode.
        if (rest == "ipod" || rest == "ipod640" || rest == "ipod320") {
            s.profile = "baseline";
            s.level = rest == "ipod320" ? "1.3" : "3.0";
            s.needs420 = true;
            return s;
        }
        if (rest == "psp") {
            s.profile = "main";
            s.level = "3.0";
            s.needs420 = true;
            return s;
        }
        if (rest == "ps3") {
            s.profile = "high";
            s.level = "4.1";
            s.needs420 = true;
            return s;
        }
        if (rest == "mp4") {
            s.profile = "main";
            s.needs420 = true;
            return s;
        }
        // Old quality preset files.
        if (rest == "default" || rest == "normal")
            n = "medium";
        else if (rest == "hq")
            n = "slow";
        else if (rest == "max")
            n = "placebo";
        else
            n = rest;
    }
    if (speeds.contains(n)) {
        s.preset = n;
        return s;
    }
    s.valid = false;
    return s;
}

bool discTarget(int targetType, int norm, AVRational sourceFrameRate, DiscTarget* out) {
    if (targetType < 1 || targetType > 3)
        return false;
    bool pal = true;
    if (norm == 2)
        pal = false;
    else if (norm != 1 && sourceFrameRate.num > 0 && sourceFrameRate.den > 0) {
        const double fps = av_q2d(sourceFrameRate);
        pal = std::abs(fps - 25) < 0.05 || std::abs(fps - 50) < 0.05;
    }
    DiscTarget t;
    t.frameRate = pal ? AVRational{25, 1} : AVRational{30000, 1001};
    t.channels = 2;
    switch (targetType) {
    case 1: // VCD: MPEG-1 at a constant 1150 kbit/s, MP2 224 kbit/s
        t.muxer = "vcd";
        t.videoCodec = "mpeg1video";
        t.audioCodec = "mp2";
        t.width = 352;
        t.height = pal ? 288 : 240;
        t.videoBitRate = t.maxRate = t.minRate = 1150000;
        t.bufferSize = 40 * 1024 * 8;
        t.audioBitRate = 224000;
        t.sampleRate = 44100;
        t.packetSize = 2324;
        t.muxRate = 2352 * 75 * 8;
        break;
    case 2: // SVCD: MPEG-2 480 wide, up to 2516 kbit/s
        t.muxer = "svcd";
        t.videoCodec = "mpeg2video";
        t.audioCodec = "mp2";
        t.width = 480;
        t.height = pal ? 576 : 480;
        t.videoBitRate = 2040000;
        t.maxRate = 2516000;
        t.minRate = 0;
        t.bufferSize = 224 * 1024 * 8;
        t.gopSize = pal ? 15 : 18;
        t.audioBitRate = 224000;
        t.sampleRate = 44100;
        t.packetSize = 2324;
        t.scanOffset = true;
        break;
    case 3: // DVD: MPEG-2 720 wide, AC-3 448 kbit/s at 48 kHz
        t.muxer = "dvd";
        t.videoCodec = "mpeg2video";
        t.audioCodec = "ac3";
        t.width = 720;
        t.height = pal ? 576 : 480;
        t.videoBitRate = 6000000;
        t.maxRate = 9000000;
        t.minRate = 0;
        t.bufferSize = 224 * 1024 * 8;
        t.gopSize = pal ? 15 : 18;
        t.audioBitRate = 448000;
        t.sampleRate = 48000;
        t.packetSize = 2048;
        t.muxRate = 10080 * 1000;
        break;
    }
    *out = t;
    return true;
}

AVRational parseFrameRate(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty())
        return {0, 0};
    AVRational r{0, 0};
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (ok) {
        if (!(v > 0) || v > 1000)
            return {0, 0};
        // Well-known NTSC rates become their exact fractions.
        for (double base : {24.0, 30.0, 60.0})
            if (std::abs(v - base * 1000 / 1001) < 0.01)
                return {static_cast<int>(base * 1000), 1001};
        av_reduce(&r.num, &r.den, std::llround(v * 1000), 1000, 1 << 20);
        return r;
    }
    if (av_parse_video_rate(&r, t.toUtf8().constData()) < 0 || r.num <= 0 || r.den <= 0)
        return {0, 0};
    return r;
}

QList<QPair<QString, QString>> parseOptionLines(const QString& text) {
    QList<QPair<QString, QString>> result;
    static const QRegularExpression sep("[\\r\\n;]+");
    for (const QString& raw : text.split(sep, Qt::SkipEmptyParts)) {
        const QString line = raw.trimmed();
        if (line.isEmpty())
            continue;
        const int eq = line.indexOf('=');
        QString name = (eq < 0 ? line : line.left(eq)).trimmed();
        if (name.startsWith('-'))
            name = name.mid(1);
        const QString value = eq < 0 ? QStringLiteral("1") : line.mid(eq + 1).trimmed();
        if (!name.isEmpty())
            result.append({name, value});
    }
    return result;
}

SwsPtr makeThreadedScaler(int srcW, int srcH, AVPixelFormat srcFmt, int dstW, int dstH,
                          AVPixelFormat dstFmt, int flags) {
    SwsPtr c(sws_alloc_context());
    if (!c)
        return nullptr;
    SwsContext* s = c.get();
    const bool set =
        av_opt_set_int(s, "srcw", srcW, 0) >= 0 && av_opt_set_int(s, "srch", srcH, 0) >= 0 &&
        av_opt_set_int(s, "src_format", srcFmt, 0) >= 0 &&
        av_opt_set_int(s, "dstw", dstW, 0) >= 0 && av_opt_set_int(s, "dsth", dstH, 0) >= 0 &&
        av_opt_set_int(s, "dst_format", dstFmt, 0) >= 0 &&
        av_opt_set_int(s, "sws_flags", flags, 0) >= 0 &&
        av_opt_set_int(s, "threads", av_cpu_count(), 0) >= 0;
    if (!set || sws_init_context(s, nullptr, nullptr) < 0)
        return nullptr;
    return c;
}

QRect differingBox(const uint8_t* a, qsizetype aStride, const uint8_t* b, qsizetype bStride,
                   int width, int height) {
    const size_t rowBytes = size_t(width) * 3;
    const auto rowA = [&](int y) {
        return a + y * aStride;
    };
    const auto rowB = [&](int y) {
        return b + y * bStride;
    };
    int top = 0;
    while (top < height && std::memcmp(rowA(top), rowB(top), rowBytes) == 0)
        ++top;
    if (top == height)
        return {};
    int bottom = height - 1;
    while (bottom > top && std::memcmp(rowA(bottom), rowB(bottom), rowBytes) == 0)
        --bottom;
    // Each row only needs looking at outside the columns already known to differ.
    int left = width, right = -1;
    for (int y = top; y <= bottom; ++y) {
        const uint8_t* pa = rowA(y);
        const uint8_t* pb = rowB(y);
        if (left > 0 && std::memcmp(pa, pb, size_t(left) * 3) != 0) {
            int i = 0;
            while (pa[i] == pb[i])
                ++i;
            left = i / 3;
        }
        const int from = std::max(right + 1, left);
        if (from < width &&
            std::memcmp(pa + from * 3, pb + from * 3, size_t(width - from) * 3) != 0) {
            int i = width * 3 - 1;
            while (pa[i] == pb[i])
                --i;
            right = i / 3;
        }
        right = std::max(right, left < width ? left : -1);
    }
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

} // namespace vorlin::media
