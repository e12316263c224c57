#pragma once

#include <QColor>
#include <QString>

#include <cstdint>
#include <vector>

// Typeface, size, style and colour of a text watermark.
struct TWmFont {
    QString Name = QStringLiteral("DejaVu Sans");
    int Size = 12; // points
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool StrikeOut = false;
    QColor Color = Qt::white;

    bool operator==(const TWmFont&) const = default;
};

// One watermark item: a line of text in a box, or a bitmap picture, drawn from StartSec to
// EndSec (whole seconds, inclusive). Positions and sizes are in pixels of the decoded source
// frame. The fields of the other kind keep whatever they held.
struct TWmRec {
    enum { KindText = 0, KindImage = 1 };

    QString Text;
    TWmFont Font;
    int32_t TextLeft = 0;
    int32_t TextTop = 0;
    int32_t TextWidth = 0;
    int32_t TextHeight = 0;
    int32_t TextAlpha = 255;
    QColor BackColor = Qt::black;
    bool HasBackColor = false;
    QString ImagePath;
    int32_t ImageLeft = 0;
    int32_t ImageTop = 0;
    int32_t ImageWidth = 0;
    int32_t ImageHeight = 0;
    int32_t ImageAlpha = 255;
    int32_t Kind = KindText;
    int32_t StartSec = 0;
    int32_t EndSec = 0;

    bool operator==(const TWmRec&) const = default;
};

// Everything the user decided for one source file besides the output format. Owned by its
// job-list row (by value, so it lives and dies with the row, items and all); read by the
// run and, on the conversion thread, by the frame hook while nothing else may change it.
struct TlvFilesRecord {
    static constexpr int32_t kNeutralBrightness = 255;
    static constexpr int32_t kNeutralContrast = 0;
    static constexpr int32_t kNeutralSaturation = 255;
    static constexpr int32_t kNeutralExposure = 0;

    QString SourceFile;
    int64_t TrimStart = 0;  // microseconds from the beginning; 0 = from the beginning
    int64_t TrimLength = 0; // microseconds; 0 = to the end
    QString ZoomMode = QStringLiteral("lbox");
    int32_t CropTop = 0;
    int32_t CropLeft = 0;
    int32_t CropBottom = 0;
    int32_t CropRight = 0;
    int32_t PreviewCropTop = 0;
    int32_t PreviewCropLeft = 0;
    int32_t PreviewCropBottom = 0;
    int32_t PreviewCropRight = 0;
    std::vector<TWmRec> WmItems;
    int32_t Brightness = kNeutralBrightness; // 0..512
    int32_t Contrast = kNeutralContrast;     // -100..100
    int32_t Saturation = kNeutralSaturation; // 0..512
    int32_t Exposure = kNeutralExposure;     // -255..512
    bool ProcessText = false;
    bool ProcessImage = false;

    bool hasCrop() const { return CropTop > 0 || CropBottom > 0 || CropLeft > 0 || CropRight > 0; }
    bool hasNeutralColors() const {
        return Brightness == kNeutralBrightness && Contrast == kNeutralContrast &&
               Saturation == kNeutralSaturation;
    }
    // True when converting this job needs the frame hook: changed effects, or any watermark
    // item with a text or a picture path (a blank first item must not hide the others).
    bool needsFrameHook() const;
};
