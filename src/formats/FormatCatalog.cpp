#include "formats/FormatCatalog.h"

namespace vorlin::formats {

namespace {

const char* const kCategories[kCategoryCount] = {
    "MPEG-4 Video Formates",
    "General Video formates",
    "General Audio formates",
};

// Codes 0/102 and 1/103 differ only by the blank before the parenthesis; the chooser tells
// them apart by the row object, never by the text.
const char* const kMpeg4Formats[] = {
    "MPEG-4 Video(*.mp4)",
    "H.264/MPEG-4 AVC Video(*.mp4)",
};
const char* const kVideoFormats[] = {
    "MPEG-1 Video (*.mpg)",
    "MPEG-2 Video (*.mpg)",
    "MPEG-4 Video (*.mp4)",
    "H.264/MPEG-4 AVC Video (*.mp4)",
    "AVI Video (*.avi)",
    "WMV Video (*.wmv)",
    "Divx Video (*.avi)",
    "Xvid Video (*.avi)",
    "DV - NTSC -Digital Video Format (*.dv)",
    "DV - PAL -Digital Video Format (*.dv)",
};
const char* const kAudioFormats[] = {
    "MP3 MPEG Layer-3 Audio (*.mp3)", "AAC Advenced Audio Codec (*.aac)",
    "M4A MPEG-4 Audio (*.m4a)",       "WMA - Windows Meida Audio (*.wma)",
    "WAV - Waveform Audio (*.wav)",   "OGG Vorbis Audio Codec (*.ogg)",
    "AC-3 Audio Codec (*.ac3)",
};

template <std::size_t N> QString at(const char* const (&texts)[N], int position) {
    if (position < 0 || position >= static_cast<int>(N))
        return {};
    return QString::fromLatin1(texts[position]);
}

} // namespace

QString categoryText(int category) {
    if (category < 0 || category >= kCategoryCount)
        return {};
    return QString::fromLatin1(kCategories[category]);
}

QString formatText(int category, int position) {
    switch (category) {
    case 0:
        return at(kMpeg4Formats, position);
    case 1:
        return at(kVideoFormats, position);
    case 2:
        return at(kAudioFormats, position);
    default:
        return {};
    }
}

QString formatTextOfCode(int code) {
    if (code < 0)
        return {};
    return formatText(code / 100, code % 100);
}

const std::array<int, 19>& formatCodes() {
    static const std::array<int, 19> codes = {0,   1,   100, 101, 102, 103, 104, 105, 106, 107,
                                              108, 109, 200, 201, 202, 203, 204, 205, 206};
    return codes;
}

void CatalogueTable::clear() {
    for (auto& category : formats_)
        category.fill(QString());
    categories_.fill(QString());
}

void CatalogueTable::fill(int category) {
    if (category < 0 || category >= kCapacity)
        return;
    categories_[static_cast<std::size_t>(category)] = categoryText(category);
    for (int i = 0; i < kCapacity; ++i)
        formats_[static_cast<std::size_t>(category)][static_cast<std::size_t>(i)] =
            formatText(category, i);
}

QString CatalogueTable::text(int category, int position) const {
    if (category < 0 || category >= kCapacity || position < 0 || position >= kCapacity)
        return {};
    return formats_[static_cast<std::size_t>(category)][static_cast<std::size_t>(position)];
}

QString CatalogueTable::categoryRow(int category) const {
    if (category < 0 || category >= kCapacity)
        return {};
    return categories_[static_cast<std::size_t>(category)];
}

} // namespace vorlin::formats
