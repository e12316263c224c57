#pragma once

#include "media/FFmpegVCL.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

struct TlvFilesRecord;

namespace vorlin::jobs {

struct RunFiles {
    QString settingsFile;
    QString formatFile;
};

// One checked row of the job list: its index in the list and its record. The run rewrites
// the record's ZoomMode from the format's settings, as every Start does.
struct RunJob {
    int row = -1;
    TlvFilesRecord* record = nullptr;
};

struct PreparedRun {
    // Task index -> list row (TaskRows); aligned with the converter's task indices.
    std::vector<int> taskRows;
    // Output file of each task, in task order.
    QStringList outputs;
    // Source files that could not be opened at Start and were left out, in list order.
    QStringList skipped;
};

// Registers one converter task per job, in order: input options (file, start time), the
// output name in the output folder, the format's options from the option builder, the crop
// bands, the trim length as recording time and the frame-hook switch. Jobs whose file can
// no longer be opened are skipped, so task indices and taskRows stay aligned. Clears the
// converter's tasks first.
PreparedRun PrepareTasks(TFFmpegVCL& converter, const std::vector<RunJob>& jobs,
                         const RunFiles& files);

// The conversion priority stored in the settings (0 idle, 1 normal, 2 lower, 3 lowest);
// nothing for any other value, which keeps the converter's priority.
std::optional<TThreadPriority> PriorityFromSetting(int value);

// Whole percent of the converted time; 0 when the total is unknown or 0.
int64_t ProgressPercent(int64_t currentUs, int64_t totalUs);

// The "File:" text of the progress dialog: the path when it has at most 50 characters,
// else its first 44 characters, "..", and the extension with its point.
QString OutputLabelText(const QString& path);

} // namespace vorlin::jobs
