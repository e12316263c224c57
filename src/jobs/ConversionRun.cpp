#include "jobs/ConversionRun.h"

#include "formats/IniFile.h"
#include "formats/OptionBuilder.h"
#include "formats/OutputName.h"
#include "jobs/JobRecord.h"

#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace vorlin::jobs {

using formats::IniFile;

PreparedRun PrepareTasks(TFFmpegVCL& converter, const std::vector<RunJob>& jobs,
                         const RunFiles& files) {
    PreparedRun run;
    converter.ClearTasks();
    QSet<QString> taken;
    for (const RunJob& job : jobs) {
        TlvFilesRecord& record = *job.record;
        TInputOptions input;
        input.InputFileName = record.SourceFile;
        TAVProbe& probe = *converter.AVProbe();
        if (!probe.OpenProbe(record.SourceFile)) {
            run.skipped << record.SourceFile;
            continue;
        }
        if (record.TrimStart >= 0)
            input.StartTime = record.TrimStart;

        const int formatCode = IniFile(files.settingsFile).readInteger("settings", "FormatCode", 1);
        const QString section = formats::formatSection(formatCode);
        const QString ext = IniFile(files.formatFile).readString(section, "FileExt", "mp4");
        const QString output =
            formats::MakeOutputName(files.settingsFile, probe.ProbeFileName(), "." + ext, &taken);
        record.ZoomMode = IniFile(files.settingsFile).readString(section, "parazoom", "lbox");

        TOutputOptions options;
        options.OutputFileName = output;
        if (record.hasCrop()) {
            options.BandTop = record.CropTop;
            options.BandBottom = record.CropBottom;
            options.BandLeft = record.CropLeft;
            options.BandRight = record.CropRight;
        }
        formats::BuildOutputOptions(record, formatCode, options, formats::sourceFacts(probe), input,
                                    {files.settingsFile, files.formatFile});
        // The trimmed length is what the user asked for: the output ends there.
        if (record.TrimLength > 0)
            options.RecordingTime = record.TrimLength;
        probe.CloseProbe();

        const int task = converter.AddTask(record.SourceFile, input);
        if (task < 0) {
            run.skipped << record.SourceFile;
            continue;
        }
        options.CustomHook = record.needsFrameHook();
        converter.SetOutputFile(task, output, options);
        taken.insert(output);
        run.taskRows.push_back(job.row);
        run.outputs << output;
    }
    return run;
}

std::optional<TThreadPriority> PriorityFromSetting(int value) {
    if (value < 0 || value > 3)
        return std::nullopt;
    return static_cast<TThreadPriority>(value);
}

int64_t ProgressPercent(int64_t currentUs, int64_t totalUs) {
    if (totalUs <= 0)
        return 0;
    return std::clamp<int64_t>(currentUs * 100 / totalUs, 0, 100);
}

QString OutputLabelText(const QString& path) {
    if (path.length() <= 50)
        return path;
    const QString suffix = QFileInfo(path).suffix();
    return path.left(44) + ".." + (suffix.isEmpty() ? QString() : "." + suffix);
}

} // namespace vorlin::jobs
