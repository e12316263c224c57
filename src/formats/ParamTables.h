#pragma once

#include <QString>

#include <optional>

namespace vorlin::formats {

// The tables that turn an entry shown in the options panel (a profile list entry) into the
// value stored in the settings file. Each returns nothing when the entry is in no table: the
// caller then writes nothing and the value stored earlier stays in effect.

// Video encoder entry, compared without regard to case: "MPEG-4" -> "mpeg4", "Xvid" ->
// "libxvid", "H264" -> "libx264", and the plain encoder names ("wmv2", "mpeg1video",
// "dvvideo", ...) store themselves in lower case, the spelling the option builder matches.
std::optional<QString> videoEncoderParam(const QString& entry);

// Whether a video encoder entry selects H.264, so that the profile's H.264 tuning values are
// copied along with the encoder.
bool isH264Entry(const QString& entry);

// Audio encoder entry, compared without regard to case: "MP3" -> "libmp3lame", "AAC" ->
// "libfaac", "OGG" -> "vorbis", "AC-3" -> "ac3", "WMA2" -> "wmav2", "pcm_s16" -> "pcm_s16le",
// "gsm" -> "libgsm", ...
//
// GSM only encodes mono at 8 kHz, so choosing it also stores sample rate "8000" and channel
// "1" in place of what those two fields show. This function returns only the encoder name;
// the caller that saves the fields applies that override (see kGsmSampleRate/kGsmChannel).
std::optional<QString> audioEncoderParam(const QString& entry);

// Whether an audio encoder entry is GSM, whose stored sample rate and channel count are
// forced to kGsmSampleRate and kGsmChannel.
bool isGsmEntry(const QString& entry);
inline constexpr QLatin1String kGsmSampleRate{"8000"};
inline constexpr QLatin1String kGsmChannel{"1"};

// Channel entry, compared exactly: "as source" -> "as source", "mono 1 channel" -> "1",
// "stereo 2 channels" -> "2".
std::optional<QString> channelParam(const QString& entry);

// Volume entry: a per-cent value followed by one sign ("100%"). 25, 50, 75, 100, 125, 150,
// 175, 200, 250, 300, 350 and 400 per cent store n * 256 / 100 ("64" ... "1024"; "256" leaves
// the level unchanged); any other value stores nothing.
std::optional<QString> volumeParam(const QString& entry);

// Zoom by the position of the shown entry: 0 "full", 1 "lbox", 2 "pan", 3 "center"; any other
// position (-1 when nothing is shown) stores nothing.
std::optional<QString> zoomParam(int position);

} // namespace vorlin::formats
