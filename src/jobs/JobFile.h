#pragma once

#include "jobs/JobRecord.h"

#include <QString>

#include <optional>

namespace vorlin::jobs {

// Reads a batch job file: section "job" holds job-record fields applied to every file
// (TrimStart, TrimLength in microseconds, CropTop, CropBottom, CropLeft, CropRight, ZoomMode,
// Brightness, Contrast, Saturation, Exposure) and sections "wm0", "wm1", ... hold watermark
// items with the item's field names (FontName, FontSize, FontStyle of the letters b, i, u, s,
// FontColor and BackColor as #rrggbb). Nothing (and the reason in *error) when the file
// cannot be read or a value is malformed.
std::optional<TlvFilesRecord> ReadJobFile(const QString& path, QString* error = nullptr);

} // namespace vorlin::jobs
