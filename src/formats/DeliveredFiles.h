#pragma once

#include <QString>

#include <array>

namespace vorlin::formats {

class IniFile;

// Codes of the formats the delivered profile describes, in catalogue order.
inline constexpr std::array<int, 19> kDeliveredFormatCodes{
    0, 1, 100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 200, 201, 202, 203, 204, 205, 206};

// The format-profile file built into the program.
inline constexpr char kDeliveredProfileResource[] = ":/data/vorlinmovmp4format.ini";

// The zoom mode a freshly installed settings file holds: letterbox keeps the source's
// picture undistorted whatever frame size the format's default asks for.
inline constexpr char kInstalledZoom[] = "lbox";

// First-start installation of the two INI files. Neither file is ever replaced:
// - formatFile, when missing, becomes a copy of the built-in profile;
// - settingsFile, when missing, is created with one "formatInfo" section per delivered
//   format holding what the Settings dialog would store for the profile's default entries
//   (see writeProfileDefaults), so every video format converts with video from the start.
// The profile on disk (or the built-in one when it could not be copied) supplies the
// defaults. Missing folders are created. Each file appears complete or not at all.
// Returns false, with a message in *error when given, when either file is still missing.
bool installDeliveredFiles(const QString& settingsFile, const QString& formatFile,
                           QString* error = nullptr);

// Writes into the settings file's section of one format the stored values of the profile's
// default entries (the entry at each list's i-key): paraVideoSize, paraVideoBitRate,
// paraFrameRate, paraSampleRate, paraAudioBitRate as shown; paraVideoEncoder,
// paraAudioEncoder, paraChannel, paraVolume through the panel's tables (with the GSM
// override); paraZoom = kInstalledZoom; the H.264 tuning values for an H.264 default; and
// the nine i-keys (-1 for a field that shows nothing). A format without a video encoder
// list gets no video keys, so it converts as audio only; one without an audio encoder list
// gets no audio keys. Returns false when a write failed.
bool writeProfileDefaults(const IniFile& profile, IniFile& settings, int formatCode);

} // namespace vorlin::formats
