#include "cli/BatchConvert.h"

#include "effects/FrameCompositing.h"
#include "formats/DeliveredFiles.h"
#include "formats/IniFile.h"
#include "jobs/ConversionRun.h"
#include "jobs/JobFile.h"
#include "media/FFmpegVCL.h"
#include "platform/Platform.h"
#include "widgets/Dialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <unistd.h>

#include <map>

namespace vorlin::cli {
namespace {

const int kFormatCodes[] = {0,   1,   100, 101, 102, 103, 104, 105, 106, 107,
                            108, 109, 200, 201, 202, 203, 204, 205, 206};

// Dialogs without a window: questions are answered Yes with a warning line, messages go to
// the error stream.
class ConsoleDialogs : public widgets::Dialogs {
public:
    explicit ConsoleDialogs(std::FILE* err) : err_(err) {}
    bool ask(QWidget*, const QString& title, const QString& text) override {
        std::fprintf(err_, "%s: %s -> Yes\n", qPrintable(title), qPrintable(text));
        return true;
    }
    void message(QWidget*, const QString& title, const QString& text,
                 widgets::MessageIcon) override {
        std::fprintf(err_, "%s: %s\n", qPrintable(title), qPrintable(text));
    }
    QStringList chooseFiles(QWidget*, const QString&, const QString&, const QString&) override {
        return {};
    }
    QString chooseFolder(QWidget*, const QString&, const QString&) override { return {}; }
    void beep() override {}

private:
    std::FILE* err_;
};

void drawProgressBar(std::FILE* err, int task, int tasks, int64_t percent) {
    const int width = 30;
    const int filled = int(percent * width / 100);
    std::fprintf(err, "\r[%d/%d] [%s%s] %3lld%%", task, tasks, QByteArray(filled, '#').constData(),
                 QByteArray(width - filled, '.').constData(), static_cast<long long>(percent));
    std::fflush(err);
}

} // namespace

std::optional<BatchOptions> ParseBatchArguments(const QStringList& args, QString* error) {
    BatchOptions options;
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return std::nullopt;
    };
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool takesValue = a == "--format" || a == "--outdir" || a == "--job";
        if (takesValue && i + 1 >= args.size())
            return fail(a + " needs a value");
        if (a == "--format") {
            bool ok = false;
            const int code = args[++i].toInt(&ok);
            if (!ok || std::find(std::begin(kFormatCodes), std::end(kFormatCodes), code) ==
                           std::end(kFormatCodes))
                return fail("unknown format code " + args[i]);
            options.formatCode = code;
        } else if (a == "--outdir") {
            options.outputFolder = args[++i];
        } else if (a == "--job") {
            options.jobFile = args[++i];
        } else if (a == "--") {
            options.files << args.mid(i + 1);
            break;
        } else if (a.startsWith("--")) {
            return fail("unknown option " + a);
        } else {
            options.files << a;
        }
    }
    if (options.files.isEmpty())
        return fail("no input file");
    return options;
}

int RunBatch(const BatchOptions& options, std::FILE* out, std::FILE* err) {
    TlvFilesRecord templateJob;
    if (!options.jobFile.isEmpty()) {
        QString why;
        const auto job = jobs::ReadJobFile(options.jobFile, &why);
        if (!job) {
            std::fprintf(err, "vorlin-convert: %s\n", qPrintable(why));
            return 2;
        }
        templateJob = *job;
    }

    const QString dataFolder = platform::appDataFolder();
    const QString settingsFile = dataFolder + "vorlinmovmp4converter.ini";
    const QString formatFile = dataFolder + "vorlinmovmp4format.ini";
    formats::installDeliveredFiles(settingsFile, formatFile);

    // The options override the stored format and folder for this run only: the run reads a
    // private copy of the settings, and the user's file is left as it is.
    QTemporaryDir scratch;
    const QString runSettings = scratch.path() + "/settings.ini";
    QFile::copy(settingsFile, runSettings);
    formats::IniFile ini(runSettings);
    if (options.formatCode)
        ini.writeInteger("settings", "FormatCode", *options.formatCode);
    if (!options.outputFolder.isEmpty())
        ini.writeString("settings", "OutPutDir", QDir(options.outputFolder).absolutePath());

    auto previousDialogs = widgets::setDialogs(std::make_unique<ConsoleDialogs>(err));

    std::vector<TlvFilesRecord> records;
    records.reserve(size_t(options.files.size()));
    std::vector<jobs::RunJob> runJobs;
    for (int i = 0; i < options.files.size(); ++i) {
        TlvFilesRecord record = templateJob;
        record.SourceFile = QFileInfo(options.files[i]).absoluteFilePath();
        records.push_back(record);
    }
    for (size_t i = 0; i < records.size(); ++i)
        runJobs.push_back({int(i), &records[i]});

    TFFmpegVCL converter;
    const auto run = jobs::PrepareTasks(converter, runJobs, {runSettings, formatFile});
    // Effects and watermarks of the job file, drawn on the converter's thread; the records
    // stay as they are until the run is over.
    effects::FrameCompositor compositor(
        [&run, &records](int task) -> const TlvFilesRecord* {
            if (task < 0 || task >= int(run.taskRows.size()))
                return nullptr;
            const int row = run.taskRows[size_t(task)];
            return row >= 0 && row < int(records.size()) ? &records[size_t(row)] : nullptr;
        },
        [err](const QString& line) {
            std::fprintf(err, "vorlin-convert: %s\n", qPrintable(line));
            std::fflush(err);
        });
    converter.OnCustomHook = [&compositor](PHookInfo& info) {
        compositor.CCAVCCustomHook(info);
    };
    std::map<int, QString> failures; // row -> reason
    for (const QString& skipped : run.skipped) {
        for (size_t i = 0; i < records.size(); ++i) {
            if (records[i].SourceFile == skipped && !failures.count(int(i)))
                failures[int(i)] = "cannot open the file";
        }
    }

    const bool tty = ::isatty(fileno(err));
    std::map<int, bool> finished; // row -> converted
    QEventLoop loop;
    QObject::connect(&converter, &TFFmpegVCL::OnProgress, [&](const PProgressInfo& p) {
        if (tty)
            drawProgressBar(err, p.TaskIndex + 1, converter.TaskCount(),
                            jobs::ProgressPercent(p.CurrentDuration, p.TotalDuration));
    });
    QObject::connect(&converter, &TFFmpegVCL::OnTerminate, [&](const TTerminateInfo& t) {
        if (t.TaskIndex < 0) {
            loop.quit();
            return;
        }
        if (t.TaskIndex >= int(run.taskRows.size()))
            return;
        const int row = run.taskRows[size_t(t.TaskIndex)];
        finished[row] = t.Finished;
        if (!t.Finished)
            failures[row] = t.ExceptionMsg.isEmpty() ? "conversion stopped" : t.ExceptionMsg;
    });
    if (!run.taskRows.empty()) {
        converter.StartTask(1);
        loop.exec();
        if (tty)
            std::fputs("\n", err);
    }
    converter.OnCustomHook = nullptr;
    widgets::setDialogs(std::move(previousDialogs));

    int status = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        const QString input = options.files[int(i)];
        const auto task = std::find(run.taskRows.begin(), run.taskRows.end(), int(i));
        if (task != run.taskRows.end() && finished[int(i)]) {
            const QString output = run.outputs[int(task - run.taskRows.begin())];
            std::fprintf(out, "OK %s -> %s\n", qPrintable(input), qPrintable(output));
        } else {
            const QString why = failures.count(int(i)) ? failures[int(i)] : "not converted";
            std::fprintf(out, "FAILED %s: %s\n", qPrintable(input), qPrintable(why));
            status = 1;
        }
    }
    std::fflush(out);
    return status;
}

} // namespace vorlin::cli
