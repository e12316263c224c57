#include "media/FFmpegVCL.h"

#include "media/ConvertTask.h"
#include "media/FFmpegLoader.h"
#include "media/FFmpegPtr.h"
#include "media/MediaUtil.h"

#include <QMetaObject>

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <thread>
#include <vector>

using namespace vorlin::media;

namespace {

struct TaskEntry {
    TInputOptions input;
    TOutputOptions output;
    bool hasOutput = false;
    QString outputError;
    std::unique_ptr<TAVProbe> probe;
    // The file as the probe opened it, for the task's first run.
    InputContextPtr opened;
};

// Tasks that keep their file open from AddTask to their run. Only the first few: they are the
// ones that start right away, and a long list must not hold a file handle per task.
constexpr int kOpenInputsKept = 4;

// Lowers the calling thread's priority; threads it starts later (the codecs' own) inherit it.
void applyPriority(TThreadPriority priority) {
    switch (priority) {
    case TThreadPriority::Idle: {
        sched_param param{};
        sched_setscheduler(0, SCHED_IDLE, &param);
        break;
    }
    case TThreadPriority::Lower:
        setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 5);
        break;
    case TThreadPriority::Lowest:
        setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
        break;
    case TThreadPriority::Normal:
        break;
    }
}

} // namespace

struct TFFmpegVCL::Impl {
    mutable std::mutex tasksMutex;
    std::vector<std::unique_ptr<TaskEntry>> tasks;
    QString lastError;
    std::thread worker;
    std::atomic<bool> running{false};
    RunControl control;
};

TFFmpegVCL::HookSlot& TFFmpegVCL::HookSlot::operator=(TCustomHookEvent handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
    return *this;
}

TFFmpegVCL::HookSlot::operator bool() const {
    std::lock_guard lock(mutex_);
    return static_cast<bool>(handler_);
}

bool TFFmpegVCL::HookSlot::invoke(PHookInfo& info) const {
    std::lock_guard lock(mutex_);
    if (!handler_)
        return false;
    handler_(info);
    return true;
}

TFFmpegVCL::TFFmpegVCL(QObject* parent) : QObject(parent), d(std::make_unique<Impl>()) {
    qRegisterMetaType<PProgressInfo>("PProgressInfo");
    qRegisterMetaType<TTerminateInfo>("TTerminateInfo");
    qRegisterMetaType<TPreviewInfo>("TPreviewInfo");
    installLogCapture();
}

TFFmpegVCL::~TFFmpegVCL() {
    StopAll(true);
}

bool TFFmpegVCL::LoadFFmpegLibraries(const QString& folder) {
    return TFFmpegLoader::LoadFFmpegLibraries(folder);
}

bool TFFmpegVCL::FFmpegLibrariesLoaded() const {
    return TFFmpegLoader::FFmpegLibrariesLoaded();
}

QString TFFmpegVCL::LoaderLastError() const {
    return TFFmpegLoader::LoaderLastError();
}

void TFFmpegVCL::ClearTasks() {
    StopAll(true);
    std::lock_guard lock(d->tasksMutex);
    d->tasks.clear();
}

int TFFmpegVCL::AddTask(const QString& fileName, const TInputOptions& options) {
    auto entry = std::make_unique<TaskEntry>();
    entry->input = options;
    entry->input.InputFileName = fileName;
    entry->probe = std::make_unique<TAVProbe>();
    entry->opened = ProbeAccess::open(*entry->probe, fileName, options.ForcedFormat);
    if (!entry->opened) {
        d->lastError = entry->probe->LastError();
        return -1;
    }
    if (entry->probe->VideoStreamCount() == 0 && entry->probe->AudioStreamCount() == 0) {
        d->lastError = QString("'%1' holds no audio or video stream").arg(fileName);
        return -2;
    }
    std::lock_guard lock(d->tasksMutex);
    const auto kept = std::count_if(d->tasks.begin(), d->tasks.end(),
                                    [](const auto& t) { return t->opened != nullptr; });
    if (kept >= kOpenInputsKept)
        entry->opened.reset();
    d->tasks.push_back(std::move(entry));
    return static_cast<int>(d->tasks.size()) - 1;
}

TAVProbe* TFFmpegVCL::InputProbe(int taskIndex) {
    std::lock_guard lock(d->tasksMutex);
    if (taskIndex < 0 || taskIndex >= static_cast<int>(d->tasks.size()))
        return nullptr;
    return d->tasks[taskIndex]->probe.get();
}

bool TFFmpegVCL::RemoveTask(int taskIndex) {
    if (IsRunning())
        return false;
    std::lock_guard lock(d->tasksMutex);
    if (taskIndex < 0 || taskIndex >= static_cast<int>(d->tasks.size()))
        return false;
    d->tasks.erase(d->tasks.begin() + taskIndex);
    return true;
}

int TFFmpegVCL::SetOutputFile(int taskIndex, const QString& fileName,
                              const TOutputOptions& options) {
    std::lock_guard lock(d->tasksMutex);
    if (taskIndex < 0 || taskIndex >= static_cast<int>(d->tasks.size())) {
        d->lastError = QString("There is no task %1").arg(taskIndex);
        return -1;
    }
    TaskEntry& task = *d->tasks[taskIndex];
    task.output = options;
    task.output.OutputFileName = fileName;
    task.hasOutput = true;
    task.outputError = checkOutputOptions(task.output, task.probe.get());
    if (!task.outputError.isEmpty()) {
        d->lastError = task.outputError;
        return -1;
    }
    return 0;
}

int TFFmpegVCL::TaskCount() const {
    std::lock_guard lock(d->tasksMutex);
    return static_cast<int>(d->tasks.size());
}

QString TFFmpegVCL::LastErrorMessage() const {
    return d->lastError;
}

void TFFmpegVCL::StartTask(int maxConcurrent) {
    Q_UNUSED(maxConcurrent);
    if (d->running.load())
        return;
    if (d->worker.joinable())
        d->worker.join();

    struct Job {
        TInputOptions input;
        TOutputOptions output;
        bool hasOutput;
        QString outputError;
        InputContextPtr opened;
    };
    std::vector<Job> jobs;
    {
        std::lock_guard lock(d->tasksMutex);
        for (const auto& t : d->tasks)
            jobs.push_back(
                {t->input, t->output, t->hasOutput, t->outputError, std::move(t->opened)});
    }
    d->control.reset();
    d->running.store(true);

    TaskEvents events;
    events.progressIntervalMs = progressIntervalMs_;
    events.progress = [this](const PProgressInfo& info) {
        QMetaObject::invokeMethod(
            this, [this, info] { emit OnProgress(info); }, Qt::QueuedConnection);
    };
    if (previewBitmap_)
        events.preview = [this](const TPreviewInfo& info) {
            QMetaObject::invokeMethod(
                this, [this, info] { emit OnPreviewBitmap(info); }, Qt::QueuedConnection);
        };
    events.hook = [this](PHookInfo& info) {
        return OnCustomHook.invoke(info);
    };
    const TThreadPriority priority = priority_;

    d->worker = std::thread([this, jobs = std::move(jobs), events, priority]() mutable {
        applyPriority(priority);
        for (size_t i = 0; i < jobs.size(); ++i) {
            if (d->control.stopRequested())
                break;
            Job& job = jobs[i];
            TTerminateInfo info;
            info.TaskIndex = static_cast<int32_t>(i);
            if (!job.hasOutput) {
                info.Exception = true;
                info.ExceptionMsg = QStringLiteral("No output file was set for this task");
            } else if (!job.outputError.isEmpty()) {
                info.Exception = true;
                info.ExceptionMsg = job.outputError;
            } else {
                const TaskOutcome outcome =
                    runConversion(info.TaskIndex, job.input, job.output, d->control, events,
                                  std::move(job.opened));
                info.Finished = outcome.finished;
                info.Exception = !outcome.error.isEmpty();
                info.ExceptionMsg = outcome.error;
            }
            QMetaObject::invokeMethod(
                this, [this, info] { emit OnTerminate(info); }, Qt::QueuedConnection);
        }
        d->running.store(false);
        TTerminateInfo last;
        last.TaskIndex = -1;
        QMetaObject::invokeMethod(
            this, [this, last] { emit OnTerminate(last); }, Qt::QueuedConnection);
    });
}

void TFFmpegVCL::PauseAll() {
    d->control.setPaused(true);
}

void TFFmpegVCL::ResumeAll() {
    d->control.setPaused(false);
}

void TFFmpegVCL::StopAll(bool wait) {
    if (!d->worker.joinable())
        return;
    d->control.requestStop();
    if (wait)
        d->worker.join();
}

bool TFFmpegVCL::IsRunning() const {
    return d->running.load();
}

bool TFFmpegVCL::IsPaused() const {
    return d->control.paused();
}
