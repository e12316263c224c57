#pragma once

#include "media/MediaOptions.h"

#include <QString>

#include <cstdint>

class TAVProbe;
struct TlvFilesRecord;

namespace vorlin::formats {

// What the option builder needs to know about a source: its video streams and the first
// one's size and bit rate.
struct SourceFacts {
    int videoStreams = 0;
    int width = 0;
    int height = 0;
    int64_t videoBitRate = 0; // bit/s, 0 when unknown
};

SourceFacts sourceFacts(const TAVProbe& probe);

// The two INI files the builder reads.
struct OptionFiles {
    QString settingsFile;
    QString formatFile;
};

// Fills the converter's option records for one job from the format's profile (Format),
// the user's stored values (the para keys of the format's settings section) and the job's
// zoom and crop: disc targets, codecs, bit rates, rates, frame size, aspect, bands, the
// letterbox / pan-and-scan / centre filter chain, and audio-only output. The records are
// changed in place; the run has reset them and set file names, start time and the bands of
// the job's crop before. May ask the frame-size question through the dialogs.
void BuildOutputOptions(const TlvFilesRecord& job, int formatCode, TOutputOptions& output,
                        const SourceFacts& source, TInputOptions& input, const OptionFiles& files);

} // namespace vorlin::formats
