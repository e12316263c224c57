#include "formats/ParamTables.h"

#include "formats/NumericText.h"

#include <array>
#include <utility>

namespace vorlin::formats {

namespace {

using Pair = std::pair<const char*, const char*>;

template <std::size_t N>
std::optional<QString> lookUp(const std::array<Pair, N>& table, const QString& key) {
    for (const auto& [entry, stored] : table) {
        if (key == QLatin1String(entry))
            return QString::fromLatin1(stored);
    }
    return std::nullopt;
}

// Keys are lower case; the entry is lowered before the look-up.
constexpr std::array<Pair, 27> kVideoEncoders{{
    {"mpeg-4", "mpeg4"},
    {"xvid", "libxvid"},
    {"h264", "libx264"},
    {"3gp", "3gp"},
    {"3g2", "3g2"},
    {"mov", "mov"},
    {"flv", "flv"},
    {"swf", "swf"},
    {"wmv1", "wmv1"},
    {"wmv2", "wmv2"},
    {"wmv3", "wmv3"},
    {"msmpeg4", "msmpeg4"},
    {"msmpeg4v1", "msmpeg4v1"},
    {"msmpeg4v2", "msmpeg4v2"},
    {"mpeg1video", "mpeg1video"},
    {"mpeg2video", "mpeg2video"},
    {"h263", "h263"},
    {"h263p", "h263p"},
    {"rawvideo", "rawvideo"},
    {"rv10", "rv10"},
    {"rv20", "rv20"},
    {"dvvideo", "dvvideo"},
    {"huffyuv", "huffyuv"},
    {"ljpeg", "ljpeg"},
    {"mjpeg", "mjpeg"},
    {"svq1", "svq1"},
    {"zlib", "zlib"},
}};

constexpr std::array<Pair, 28> kAudioEncoders{{
    {"mp3", "libmp3lame"},
    {"ogg", "vorbis"},
    {"mp2", "mp2"},
    {"aac", "libfaac"},
    {"ac-3", "ac3"},
    {"flac", "flac"},
    {"alac", "alac"},
    {"libamr_nb", "libopencore_amrnb"},
    {"adpcm_swf", "adpcm_swf"},
    {"adpcm_yamaha", "adpcm_yamaha"},
    {"pcm-8bit", "pcm_s8"},
    {"pcm-16bit", "pcm_s16be"},
    {"pcm-24bit", "pcm_s24be"},
    {"pcm-32bit", "pcm_s32be"},
    {"pcm-32bit float", "pcm_f32be"},
    {"pcm-64bit float", "pcm_f64be"},
    {"ccitt a-law(8-bit)", "pcm_alaw"},
    {"ccitt mu-law(8-bit)", "pcm_mulaw"},
    {"ima adpcm(4-bit)", "adpcm_ima_qt"},
    {"gsm", "libgsm"},
    {"pcm_s16", "pcm_s16le"},
    {"pcm_u16", "pcm_u16le"},
    {"pcm_alaw", "pcm_alaw"},
    {"pcm_mulaw", "pcm_mulaw"},
    {"adpcm_ms", "adpcm_ms"},
    {"adpcm_ima_wav", "adpcm_ima_wav"},
    {"wma1", "wmav1"},
    {"wma2", "wmav2"},
}};

// The entries compare exactly: the panel shows them as written here.
constexpr std::array<Pair, 3> kChannels{{
    {"as source", "as source"},
    {"mono 1 channel", "1"},
    {"stereo 2 channels", "2"},
}};

constexpr std::array<const char*, 4> kZoomModes{"full", "lbox", "pan", "center"};

} // namespace

std::optional<QString> videoEncoderParam(const QString& entry) {
    return lookUp(kVideoEncoders, entry.toLower());
}

bool isH264Entry(const QString& entry) {
    return entry.compare(QLatin1String("h264"), Qt::CaseInsensitive) == 0;
}

std::optional<QString> audioEncoderParam(const QString& entry) {
    return lookUp(kAudioEncoders, entry.toLower());
}

bool isGsmEntry(const QString& entry) {
    return entry.compare(QLatin1String("gsm"), Qt::CaseInsensitive) == 0;
}

std::optional<QString> channelParam(const QString& entry) {
    return lookUp(kChannels, entry);
}

std::optional<QString> volumeParam(const QString& entry) {
    if (entry.isEmpty())
        return std::nullopt;
    const std::optional<int64_t> percent = integerValue(entry.chopped(1));
    if (!percent)
        return std::nullopt;
    switch (*percent) {
    case 25:
    case 50:
    case 75:
    case 100:
    case 125:
    case 150:
    case 175:
    case 200:
    case 250:
    case 300:
    case 350:
    case 400:
        return QString::number(*percent * 256 / 100);
    default:
        return std::nullopt;
    }
}

std::optional<QString> zoomParam(int position) {
    if (position < 0 || position >= static_cast<int>(kZoomModes.size()))
        return std::nullopt;
    return QString::fromLatin1(kZoomModes[static_cast<std::size_t>(position)]);
}

} // namespace vorlin::formats
