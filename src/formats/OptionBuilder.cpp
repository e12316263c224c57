#include "formats/OptionBuilder.h"

#include "formats/Geometry.h"
#include "formats/IniFile.h"
#include "formats/NumericText.h"
#include "jobs/JobRecord.h"
#include "media/AVProbe.h"
#include "widgets/Dialogs.h"

#include <QStringList>

#include <cmath>
#include <limits>

namespace vorlin::formats {
namespace {

const QString kAsSource = QStringLiteral("as source");

bool sameText(const QString& a, const char* b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString sizeText(int w, int h) {
    return QString("%1x%2").arg(w).arg(h);
}
QString ratioText(int w, int h) {
    return QString("%1:%2").arg(w).arg(h);
}

int32_t clampToInt32(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// Reads the para keys of one format's settings section.
class FormatSettings {
public:
    FormatSettings(const QString& settingsFile, int formatCode)
        : ini_(settingsFile), section_(formatSection(formatCode)) {}
    QString read(const char* key, const QString& def) const {
        return ini_.readString(section_, key, def);
    }
    bool has(const char* key) const { return ini_.valueExists(section_, key); }

private:
    IniFile ini_;
    QString section_;
};

// Positive whole numbers such as channels and sample rates.
void applyPositiveInteger(const QString& text, int32_t& field) {
    if (text == kAsSource)
        return;
    if (const auto v = integerValue(text); v && *v > 0)
        field = clampToInt32(*v);
}

void applyAudioBitRate(const QString& kbps, int32_t& field) {
    if (kbps == kAsSource)
        return;
    if (const auto v = numberValue(kbps)) {
        const double bps = *v * 1000.0;
        if (bps > 0)
            field = clampToInt32(static_cast<int64_t>(std::trunc(std::min(bps, 2.0e9))));
    }
}

// A section without paraVolume keeps the level: the historical default of "3" would turn
// the audio down to 3/256, which no user ever asked for.
void applyVolume(const FormatSettings& s, int32_t& field) {
    if (!s.has("paraVolume"))
        return;
    const QString text = s.read("paraVolume", "3");
    if (text == "256")
        return;
    if (const auto v = integerValue(text))
        field = clampToInt32(*v);
}

void applyDiscTarget(const QString& kw, const FormatSettings& s, TOutputOptions& out) {
    const QString size = s.read("paraVideoSize", "null");
    struct Target {
        const char* keyword;
        int type;
        int norm;
        const char* wideSize; // the size that makes a DVD 16:9
    };
    static const Target targets[] = {
        {"ntsc-dvd", 3, 2, "720x480"}, {"pal-dvd", 3, 1, "720x576"}, {"ntsc-vcd", 1, 2, nullptr},
        {"pal-vcd", 1, 1, nullptr},    {"ntsc-svcd", 2, 2, nullptr}, {"pal-svcd", 2, 1, nullptr},
    };
    for (const Target& t : targets) {
        if (!sameText(kw, t.keyword))
            continue;
        out.TargetType = t.type;
        out.TargetNorm = t.norm;
        out.AspectRatio = t.wideSize && size == t.wideSize ? "16:9" : "4:3";
        return;
    }
}

void buildAudioOnly(const FormatSettings& s, TOutputOptions& out, TInputOptions& in) {
    out.AudioCodec = s.read("paraAudioEncoder", "libfaac");
    applyPositiveInteger(s.read("paraChannel", "2"), out.AudioChannels);
    applyPositiveInteger(s.read("paraSampleRate", "44100"), out.AudioSampleRate);
    applyAudioBitRate(s.read("paraAudioBitRate", "128"), out.AudioBitRate);
    applyVolume(s, out.AudioVolume);
    in.ExtraOptions = "vn=1";
    out.VideoDisabled = true;
    out.SubtitleDisabled = true;
}

void buildVideoCodec(const QString& encoder, const QString& kw, TOutputOptions& out) {
    static const QStringList known = {
        "mpeg4",   "libxvid", "mpeg1video", "mpeg2video", "msmpeg4", "msmpeg4v1", "msmpeg4v2",
        "huffyuv", "dvvideo", "rawvideo",   "h263p",      "h263",    "rv10",      "rv20",
        "ljpeg",   "mjpeg",   "svq1",       "zlib",       "wmv1",    "wmv2",      "libx264"};
    if (known.contains(encoder))
        out.VideoCodec = encoder;
    if (encoder == "mpeg2video")
        out.TargetType = 3;
    if (encoder == "libx264") {
        out.VideoPreset = sameText(kw, "psp")    ? "libx264-psp"
                          : sameText(kw, "ipod") ? "libx264-ipod"
                          : sameText(kw, "ps3")  ? "libx264-ps3"
                                                 : "libx264-mp4";
    }
}

// The requested frame size; asks the frame-size question for a malformed stored size.
void targetSize(const QString& v, const SourceFacts& src, const TOutputOptions& out, int& W,
                int& H) {
    if (v == kAsSource) {
        W = src.width;
        H = src.height;
        return;
    }
    const int p = v.indexOf('x') + 1; // position from 1; 0 when there is none
    if (p > 1 && p < v.length()) {
        const QString left = v.left(p - 1);
        const QString right = v.mid(p);
        W = IsIntegerText(left) ? int(*integerValue(left)) : src.width;
        H = IsIntegerText(right) ? int(*integerValue(right)) : src.height;
        if (sameText(out.VideoCodec, "h263") &&
            !QStringLiteral("704x576,352x288,176x144,160x120,128x96").contains(v))
            H263Size(W, H);
        return;
    }
    if (widgets::dialogs().ask(nullptr, "Warning",
                               "Error output Video Size.Use the default size 320x240?")) {
        W = 320;
        H = 240;
    } else {
        W = src.width;
        H = src.height;
    }
}

QString geometry(const TlvFilesRecord& job, const SourceFacts& src, int W, int H,
                 TOutputOptions& out) {
    const int w = src.width;
    const int h = src.height;
    const int T = job.CropTop, B = job.CropBottom, L = job.CropLeft, R = job.CropRight;
    const QString& zoom = job.ZoomMode;
    if (zoom == "full") {
        if (job.hasCrop()) {
            out.BandTop = T;
            out.BandBottom = B;
            out.BandLeft = L;
            out.BandRight = R;
        }
        out.FrameSize = sizeText(W, H);
        out.AspectRatio = ratioText(W, H);
        return {};
    }
    if (zoom == "lbox") {
        const Bars bars = LetterboxBars(w, h, W, H);
        const int cw = W - 2 * bars.left;
        const int ch = H - 2 * bars.top;
        const QString pad = QString("pad=%1:%2:%3:%4").arg(W).arg(H).arg(bars.left).arg(bars.top);
        out.AspectRatio = ratioText(cw, ch);
        if (job.hasCrop()) {
            out.BandTop = out.BandBottom = out.BandLeft = out.BandRight = 0;
            return QString("crop=%1:%2:%3:%4,scale=%5:%6,")
                       .arg(L)
                       .arg(T)
                       .arg(w - L - R)
                       .arg(h - T - B)
                       .arg(cw)
                       .arg(ch) +
                   pad;
        }
        out.FrameSize = sizeText(cw, ch);
        return pad;
    }
    if (zoom == "pan") {
        const PanBands bands = PanScanBands(w, h, T, B, L, R);
        if (bands.leftRight >= 0)
            out.BandLeft = out.BandRight = bands.leftRight;
        if (bands.topBottom >= 0)
            out.BandTop = out.BandBottom = bands.topBottom;
        out.FrameSize = sizeText(W, H);
        out.AspectRatio = ratioText(W, H);
        return {};
    }
    if (zoom == "center") {
        // The (cropped) picture scaled to fit and centred in a black frame of W x H.
        if (job.hasCrop()) {
            out.BandTop = T;
            out.BandBottom = B;
            out.BandLeft = L;
            out.BandRight = R;
        }
        const Bars bars = LetterboxBars(w - L - R, h - T - B, W, H);
        const int cw = W - 2 * bars.left;
        const int ch = H - 2 * bars.top;
        out.FrameSize = sizeText(cw, ch);
        out.AspectRatio = ratioText(cw, ch);
        return QString("pad=%1:%2:%3:%4:black").arg(W).arg(H).arg(bars.left).arg(bars.top);
    }
    return {};
}

void buildVideo(const TlvFilesRecord& job, const QString& encoder, const QString& kw,
                const FormatSettings& s, const SourceFacts& src, TOutputOptions& out) {
    buildVideoCodec(encoder, kw, out);
    if (src.videoStreams <= 0) {
        out.VideoDisabled = true;
        return;
    }
    const QString bitRate = s.read("paraVideoBitRate", "512");
    if (bitRate != kAsSource && IsIntegerText(bitRate)) {
        if (const int64_t kbps = *integerValue(bitRate); kbps > 0)
            out.VideoBitRate = clampToInt32(kbps * 1000);
    } else if (src.videoBitRate > 0) {
        out.VideoBitRate = clampToInt32(src.videoBitRate);
    }
    const QString frameRate = s.read("paraFrameRate", "29.97");
    if (frameRate != kAsSource) {
        if (const auto v = numberValue(frameRate); v && *v > 0)
            out.FrameRate = frameRate;
    }
    static const char* containers[] = {"ipod", "3gp", "3g2", "avi",    "psp",
                                       "mov",  "vcd", "flv", "mpegts", "vob"};
    for (const char* c : containers) {
        if (sameText(kw, c))
            out.ContainerFormat = kw;
    }
    int W = 0, H = 0;
    targetSize(s.read("paraVideoSize", "null"), src, out, W, H);
    for (int32_t* band : {&out.BandTop, &out.BandBottom, &out.BandLeft, &out.BandRight}) {
        if (*band == -1)
            *band = 0;
    }
    const QString chain = geometry(job, src, W, H, out);
    if (!chain.isEmpty())
        out.VideoFilters = out.VideoFilters.isEmpty() ? chain : out.VideoFilters + "," + chain;
}

void buildAudioForVideo(const FormatSettings& s, TOutputOptions& out) {
    QString encoder = s.read("paraAudioEncoder", "");
    if (encoder == "libamr_nb")
        encoder = "libopencore_amrnb";
    out.AudioCodec = encoder;
    if (encoder.trimmed().isEmpty())
        out.AudioDisabled = true;
    const QString channels = s.read("paraChannel", "2");
    if (channels != kAsSource) {
        if (const auto v = integerValue(channels))
            out.AudioChannels = clampToInt32(*v);
    }
    applyVolume(s, out.AudioVolume);
    applyPositiveInteger(s.read("paraSampleRate", "44100"), out.AudioSampleRate);
    applyAudioBitRate(s.read("paraAudioBitRate", "128"), out.AudioBitRate);
}

} // namespace

SourceFacts sourceFacts(const TAVProbe& probe) {
    SourceFacts facts;
    facts.videoStreams = probe.VideoStreamCount();
    if (probe.FirstVideoStream() >= 0) {
        const TVideoStreamInfo v = probe.ProbeVideoInfo(probe.FirstVideoStream());
        facts.width = v.Width;
        facts.height = v.Height;
        facts.videoBitRate = v.BitRate;
    }
    return facts;
}

void BuildOutputOptions(const TlvFilesRecord& job, int formatCode, TOutputOptions& output,
                        const SourceFacts& source, TInputOptions& input, const OptionFiles& files) {
    const QString kw =
        IniFile(files.formatFile).readString(formatSection(formatCode), "Format", "null");
    const FormatSettings settings(files.settingsFile, formatCode);
    applyDiscTarget(kw, settings, output);
    const QString encoder = settings.read("paraVideoEncoder", "");
    if (encoder.trimmed().isEmpty()) {
        buildAudioOnly(settings, output, input);
        return;
    }
    buildVideo(job, encoder, kw, settings, source, output);
    buildAudioForVideo(settings, output);
}

} // namespace vorlin::formats
