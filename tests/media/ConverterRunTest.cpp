// The converter's run: the frame hook, previews, pausing and stopping, and how tasks follow
// each other.
#include "MediaTestSupport.h"

#include "media/FFmpegVCL.h"
#include "support/Fixtures.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonObject>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>

using namespace vorlin::test;

namespace {

struct HookCall {
    int task;
    QSize size;
    QImage::Format format;
    int64_t pts;
    bool onMainThread;
};

// Collects the frames a hook sees; safe to fill from the worker thread.
struct HookRecorder {
    std::mutex mutex;
    std::vector<HookCall> calls;
    void add(const PHookInfo& info) {
        std::lock_guard lock(mutex);
        calls.push_back({info.TaskIndex, info.Bitmap.size(), info.Bitmap.format(), info.PTS,
                         QThread::currentThread() == qApp->thread()});
    }
};

// Messages logged through Qt while an instance lives.
class LogCapture {
public:
    LogCapture() {
        instance() = this;
        previous_ = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture() {
        qInstallMessageHandler(previous_);
        instance() = nullptr;
    }
    QStringList messages() {
        std::lock_guard lock(mutex_);
        return messages_;
    }

private:
    static LogCapture*& instance() {
        static LogCapture* p = nullptr;
        return p;
    }
    static void handler(QtMsgType, const QMessageLogContext&, const QString& msg) {
        if (LogCapture* self = instance()) {
            std::lock_guard lock(self->mutex_);
            self->messages_ << msg;
        }
    }
    std::mutex mutex_;
    QStringList messages_;
    QtMessageHandler previous_ = nullptr;
};

bool isRed(QRgb c) {
    return qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60;
}

TEST(ConverterHook, SeesSourceFramesAndWritesThemBack) {
    TFFmpegVCL vcl;
    HookRecorder recorder;
    vcl.OnCustomHook = [&](PHookInfo& info) {
        recorder.add(info);
        info.Bitmap.fill(QColor(255, 0, 0));
    };
    TOutputOptions out = x264Output("hooked.mp4");
    out.CustomHook = true;
    out.FrameSize = "160x120";
    out.BandLeft = 20;
    out.BandTop = 10;
    addTask(vcl, smallMov(), out);
    TOutputOptions off = x264Output("not-hooked.mp4");
    addTask(vcl, smallMov(), off);
    const RunLog log = runConverter(vcl);
    ASSERT_TRUE(log.terminateOf(0).Finished) << log.terminateOf(0).ExceptionMsg.toStdString();
    ASSERT_TRUE(log.terminateOf(1).Finished);

    ASSERT_EQ(recorder.calls.size(), 50u) << "one call per frame of the hooked task only";
    int64_t previous = -1;
    for (const HookCall& c : recorder.calls) {
        EXPECT_EQ(c.task, 0);
        EXPECT_EQ(c.size, QSize(320, 240)) << "source size, before bands and scaling";
        EXPECT_EQ(c.format, QImage::Format_BGR888);
        EXPECT_FALSE(c.onMainThread);
        EXPECT_GT(c.pts, previous);
        previous = c.pts;
    }
    EXPECT_EQ(recorder.calls.front().pts, 0);
    EXPECT_EQ(recorder.calls[25].pts, 1000000);

    const QImage hooked = decodeFrame(out.OutputFileName, 10);
    ASSERT_EQ(hooked.size(), QSize(160, 120));
    EXPECT_TRUE(isRed(hooked.pixel(80, 60)));
    EXPECT_TRUE(isRed(hooked.pixel(2, 2)));
    EXPECT_FALSE(isRed(decodeFrame(off.OutputFileName, 10).pixel(80, 60)));
}

// The hook of one frame runs while the frame before it is encoded: every hooked frame must
// still reach the output once and in order, up to the recording's end and the file's end.
TEST(ConverterHook, EveryHookedFrameReachesTheOutputInOrder) {
    TFFmpegVCL vcl;
    vcl.OnCustomHook = [](PHookInfo& info) {
        const int index = int(info.PTS / 40000);
        info.Bitmap.fill(QColor(5 * index, 5 * index, 5 * index));
    };
    std::vector<QString> outputs;
    for (const int64_t recording : {int64_t(1000000), int64_t(0)}) {
        TOutputOptions out;
        out.OutputFileName = outputPath(QString("ordered%1.mkv").arg(recording));
        out.VideoCodec = "ffv1";
        out.AudioDisabled = true;
        out.CustomHook = true;
        out.RecordingTime = recording;
        addTask(vcl, smallMov(), out);
        outputs.push_back(out.OutputFileName);
    }
    const RunLog log = runConverter(vcl);
    for (size_t t = 0; t < outputs.size(); ++t) {
        ASSERT_TRUE(log.terminateOf(int(t)).Finished)
            << log.terminateOf(int(t)).ExceptionMsg.toStdString();
        const int frames = t == 0 ? 25 : 50;
        QProcess count;
        count.start("ffprobe",
                    {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                     "stream=nb_read_frames", "-of", "csv=p=0", outputs[t]});
        ASSERT_TRUE(count.waitForFinished(30000));
        EXPECT_EQ(count.readAllStandardOutput().trimmed().toInt(), frames) << "task " << t;
        for (const int i : {0, 1, frames / 2, frames - 2, frames - 1}) {
            const QImage frame = decodeFrame(outputs[t], i);
            ASSERT_FALSE(frame.isNull()) << "task " << t << " frame " << i;
            // Levels come back within 4 of the painted ones after the trip through BGR.
            EXPECT_NEAR(qGray(frame.pixel(5, 5)), 5 * i, 4) << "task " << t << " frame " << i;
        }
    }
}

TEST(ConverterHook, FailureOrNoUpdateLeavesTheFrame) {
    LogCapture logs;
    TFFmpegVCL vcl;
    std::atomic<int> calls{0};
    vcl.OnCustomHook = [&](PHookInfo& info) {
        ++calls;
        info.Bitmap.fill(QColor(255, 0, 0));
        if (info.TaskIndex == 0)
            throw std::runtime_error("picture file missing");
        info.Update = false;
    };
    TOutputOptions throwing = x264Output("throwing.mp4");
    throwing.CustomHook = true;
    TOutputOptions noUpdate = x264Output("no-update.mp4");
    noUpdate.CustomHook = true;
    addTask(vcl, shortMov(), throwing);
    addTask(vcl, shortMov(), noUpdate);
    const RunLog log = runConverter(vcl);
    ASSERT_TRUE(log.terminateOf(0).Finished) << "a failing hook does not fail the task";
    ASSERT_TRUE(log.terminateOf(1).Finished);
    EXPECT_EQ(calls.load(), 50);
    EXPECT_TRUE(logs.messages().contains("Error occurs OnCustomHook: picture file missing"))
        << logs.messages().join('\n').toStdString();

    const QImage source = decodeFrame(shortMov(), 5);
    for (const QString& file : {throwing.OutputFileName, noUpdate.OutputFileName}) {
        const QImage frame = decodeFrame(file, 5);
        EXPECT_LT(meanDifference(frame, source), 6.0) << file.toStdString();
        EXPECT_FALSE(isRed(frame.pixel(80, 60)));
    }
}

TEST(ConverterHook, StopHookAndDetaching) {
    TFFmpegVCL vcl;
    std::atomic<int> calls{0};
    std::atomic<int> perTask[2] = {0, 0};
    vcl.OnCustomHook = [&](PHookInfo& info) {
        ++calls;
        if (++perTask[info.TaskIndex] == 3)
            info.StopHook = true;
    };
    TOutputOptions out = x264Output("stophook.mp4");
    out.CustomHook = true;
    addTask(vcl, shortMov(), out);
    TOutputOptions second = x264Output("detached.mp4");
    second.CustomHook = true;
    addTask(vcl, shortMov(), second);
    // Detached before the run: the second task is converted without calls.
    RunLog log = runConverter(vcl);
    EXPECT_EQ(calls.load(), 6) << "three calls per task, each stopping itself";
    vcl.OnCustomHook = nullptr;
    EXPECT_FALSE(static_cast<bool>(vcl.OnCustomHook));
    log = runConverter(vcl);
    EXPECT_TRUE(log.terminateOf(0).Finished);
    EXPECT_EQ(calls.load(), 6);
}

TEST(ConverterRun, PreviewBitmapsOnTheGuiThread) {
    TFFmpegVCL vcl;
    vcl.SetPreviewBitmap(true);
    TOutputOptions out = x264Output("preview.mp4");
    out.FrameSize = "160x120";
    addTask(vcl, smallMov(), out);
    bool onMain = true;
    QObject::connect(&vcl, &TFFmpegVCL::OnPreviewBitmap, &vcl, [&](const TPreviewInfo&) {
        onMain = onMain && QThread::currentThread() == qApp->thread();
    });
    const RunLog log = runConverter(vcl);
    ASSERT_TRUE(log.terminateOf(0).Finished);
    ASSERT_GE(log.previews, 1);
    EXPECT_TRUE(onMain);
    EXPECT_EQ(log.lastPreview.size(), QSize(160, 120));

    TFFmpegVCL quiet;
    addTask(quiet, shortMov(), x264Output("nopreview.mp4"));
    EXPECT_EQ(runConverter(quiet).previews, 0) << "previews are off by default";
}

int threadCount() {
    return QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
}

TEST(ConverterRun, StopReturnsQuicklyAndStartsNothingMore) {
    const QString source = longMov();
    TFFmpegVCL vcl;
    // 30 s of 320x240 at x264's slow preset: tasks that take several seconds.
    addTask(vcl, source, x264Output("stopped.mp4", "slow"));
    addTask(vcl, source, x264Output("never-started.mp4", "slow"));
    // A first thread makes the sanitizers start their helper threads before counting.
    std::thread([] {}).join();
    const int threadsBefore = threadCount();

    RunLog log;
    QEventLoop loop;
    QObject::connect(&vcl, &TFFmpegVCL::OnProgress, &loop, [&](const PProgressInfo& p) {
        log.progress.push_back(p);
        if (log.progress.size() == 2)
            loop.quit();
    });
    QObject::connect(&vcl, &TFFmpegVCL::OnTerminate, &vcl,
                     [&](const TTerminateInfo& t) { log.terminates.push_back(t); });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    vcl.StartTask(1);
    loop.exec();
    ASSERT_FALSE(log.progress.empty()) << "the task should be under way";
    ASSERT_TRUE(vcl.IsRunning());

    QElapsedTimer timer;
    timer.start();
    vcl.StopAll(true);
    const qint64 stopMs = timer.elapsed();
    EXPECT_LT(stopMs, 500);
    EXPECT_FALSE(vcl.IsRunning());
    EXPECT_LE(threadCount(), threadsBefore) << "no conversion thread is left";

    QElapsedTimer wait;
    wait.start();
    while (log.terminates.size() < 2 && wait.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QCoreApplication::processEvents();
    ASSERT_EQ(log.terminates.size(), 2u) << "the stopped task's notice and the final one";
    EXPECT_EQ(log.terminates[0].TaskIndex, 0);
    EXPECT_FALSE(log.terminates[0].Finished);
    EXPECT_FALSE(log.terminates[0].Exception) << log.terminates[0].ExceptionMsg.toStdString();
    EXPECT_EQ(log.terminates[1].TaskIndex, -1);
    EXPECT_FALSE(QFileInfo::exists(outputPath("never-started.mp4")));
    // What was written before the stop is a readable file, or no file when nothing was.
    if (QFileInfo::exists(outputPath("stopped.mp4"))) {
        EXPECT_EQ(ffprobeStreamCount(ffprobe(outputPath("stopped.mp4")), "video"), 1);
    }
}

TEST(ConverterRun, PauseHoldsTheTaskUntilResume) {
    TFFmpegVCL vcl;
    vcl.SetProgressInterval(100);
    TOutputOptions out = x264Output("paused.mp4");
    addTask(vcl, longMov(), out);

    RunLog log;
    bool paused = false;
    size_t progressAtPause = 0;
    int64_t sizeAtPause = 0;
    QEventLoop loop;
    QObject::connect(&vcl, &TFFmpegVCL::OnProgress, &loop, [&](const PProgressInfo& p) {
        log.progress.push_back(p);
        if (!paused) {
            paused = true;
            vcl.PauseAll();
            EXPECT_TRUE(vcl.IsPaused());
            // Let a notice already under way arrive, then measure.
            QTimer::singleShot(150, &loop, [&] {
                progressAtPause = log.progress.size();
                sizeAtPause = QFileInfo(out.OutputFileName).size();
            });
            QTimer::singleShot(900, &loop, [&] {
                EXPECT_EQ(log.progress.size(), progressAtPause) << "no progress while paused";
                EXPECT_EQ(QFileInfo(out.OutputFileName).size(), sizeAtPause);
                EXPECT_TRUE(vcl.IsRunning());
                vcl.ResumeAll();
                EXPECT_FALSE(vcl.IsPaused());
            });
        }
    });
    QObject::connect(&vcl, &TFFmpegVCL::OnTerminate, &loop, [&](const TTerminateInfo& t) {
        log.terminates.push_back(t);
        if (t.TaskIndex == -1)
            loop.quit();
    });
    QTimer::singleShot(90000, &loop, &QEventLoop::quit);
    vcl.StartTask(1);
    loop.exec();
    ASSERT_EQ(log.terminates.size(), 2u);
    EXPECT_TRUE(log.terminates[0].Finished) << log.terminates[0].ExceptionMsg.toStdString();
    EXPECT_GT(log.progress.size(), progressAtPause);
    EXPECT_NEAR(probeNumber(ffprobe(out.OutputFileName).value("format").toObject(), "duration"),
                30.0, 0.1);
}

TEST(ConverterRun, TaskListOperations) {
    TFFmpegVCL vcl;
    EXPECT_EQ(vcl.TaskCount(), 0);
    EXPECT_EQ(vcl.InputProbe(0), nullptr);
    EXPECT_EQ(vcl.AddTask(shortMov(), TInputOptions()), 0);
    EXPECT_EQ(vcl.AddTask(smallMov(), TInputOptions()), 1);
    EXPECT_EQ(vcl.InputProbe(1)->ProbeFileName(), smallMov());
    EXPECT_TRUE(vcl.RemoveTask(0));
    EXPECT_FALSE(vcl.RemoveTask(5));
    EXPECT_EQ(vcl.TaskCount(), 1);
    EXPECT_EQ(vcl.InputProbe(0)->ProbeFileName(), smallMov());
    EXPECT_LT(vcl.SetOutputFile(3, outputPath("x.mp4"), TOutputOptions()), 0);
    vcl.ClearTasks();
    EXPECT_EQ(vcl.TaskCount(), 0);
    // Starting with no task sends only the final notice.
    const RunLog log = runConverter(vcl);
    ASSERT_EQ(log.terminates.size(), 1u);
    EXPECT_EQ(log.terminates[0].TaskIndex, -1);
}

// A task starts from the file as AddTask opened it when it can; runs after the first, tasks
// beyond those kept open and inputs with demuxer options open the file again. Each way must
// give the whole file: packets read while probing are not lost, nor is a spent input reused.
TEST(ConverterRun, EveryRunConvertsTheWholeFile) {
    TFFmpegVCL vcl;
    std::vector<QString> outputs;
    for (int i = 0; i < 6; ++i) {
        TOutputOptions out = x264Output(QString("whole%1.mp4").arg(i));
        TInputOptions in;
        if (i == 1)
            in.ExtraOptions = "probesize=5000000";
        addTask(vcl, smallMov(), out, in);
        outputs.push_back(out.OutputFileName);
    }
    for (int run = 0; run < 2; ++run) {
        for (const QString& file : outputs)
            QFile::remove(file);
        const RunLog log = runConverter(vcl);
        for (int i = 0; i < int(outputs.size()); ++i) {
            ASSERT_TRUE(log.terminateOf(i).Finished)
                << "run " << run << " task " << i << ": "
                << log.terminateOf(i).ExceptionMsg.toStdString();
            const QJsonObject probe = ffprobe(outputs[size_t(i)]);
            const QJsonObject video = ffprobeStream(probe, "video");
            EXPECT_EQ(probeNumber(video, "nb_frames"), 50) << "run " << run << " task " << i;
            EXPECT_NEAR(probeNumber(probe.value("format").toObject(), "duration"), 2.0, 0.05)
                << "run " << run << " task " << i;
        }
    }
}

TEST(ConverterRun, PriorityIsKept) {
    TFFmpegVCL vcl;
    EXPECT_EQ(vcl.ThreadPriority(), TThreadPriority::Normal);
    vcl.SetThreadPriority(TThreadPriority::Lowest);
    addTask(vcl, shortMov(), x264Output("lowest.mp4"));
    EXPECT_TRUE(runConverter(vcl).terminateOf(0).Finished);
    EXPECT_EQ(vcl.ThreadPriority(), TThreadPriority::Lowest);
}

} // namespace
