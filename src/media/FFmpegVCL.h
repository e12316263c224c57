#pragma once

#include "media/AVProbe.h"
#include "media/MediaOptions.h"

#include <QImage>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

// Event records of the converter. All are plain values delivered by copy.

// Progress of the running task (OnProgress).
struct PProgressInfo {
    int32_t TaskIndex = -1;
    // Bytes written to the output file so far.
    int64_t CurrentSize = 0;
    // Output time converted so far, in microseconds.
    int64_t CurrentDuration = 0;
    // Duration that this task converts in all, in microseconds (the source's length after
    // StartTime, cut to RecordingTime); the last notice of a finished task has
    // CurrentDuration == TotalDuration. 0 when the source's length is unknown.
    int64_t TotalDuration = 0;
};

// End of one task (TaskIndex >= 0) or of the whole run (TaskIndex == -1, sent once after the
// last task's notice).
struct TTerminateInfo {
    int32_t TaskIndex = -1;
    // True only when the task converted its input to the end (or to RecordingTime) and its
    // output was completed; false when it failed or was stopped. Always false for the -1
    // notice.
    bool Finished = false;
    // True when the task ended because of an error; ExceptionMsg then says why, readably
    // ("Cannot open output file '/x/y.mp4': Permission denied").
    bool Exception = false;
    QString ExceptionMsg;
};

// A picture of the conversion for a live preview (OnPreviewBitmap): the latest output frame
// after all filters, in QImage::Format_RGB888. The receiver owns its copy of the image.
struct TPreviewInfo {
    int32_t TaskIndex = -1;
    QImage Bitmap;
    // Output time of the frame in microseconds.
    int64_t PTS = 0;
};

// One video frame handed to OnCustomHook, on the converter's worker thread.
struct PHookInfo {
    int32_t TaskIndex = -1;
    // The frame at source size (upright, before bands and scaling) in QImage::Format_BGR888:
    // bytes blue, green, red. The handler changes it through the image's own access (a write
    // may give the image a private copy of the pixels; the converter takes whatever the image
    // holds after the call) or assigns an image of the same size. The pixels are valid only
    // during the call; keep no reference after returning.
    QImage Bitmap;
    // Presentation time of the frame in the source, in microseconds from the source's start.
    int64_t PTS = 0;
    // Write the bitmap back into the frame after the call (on by default).
    bool Update = true;
    // Set by the handler to stop hooking the rest of this task.
    bool StopHook = false;
};

// Frame handler; an exception it throws is caught, logged as
// "Error occurs OnCustomHook: " + message, and the frame passes on unchanged.
using TCustomHookEvent = std::function<void(PHookInfo& info)>;

// Work priority of the conversion threads, in the order of the preferences dialog.
enum class TThreadPriority { Idle = 0, Normal = 1, Lower = 2, Lowest = 3 };

// The converter: a list of tasks (one source file, one output file each), converted one at a
// time on a worker thread of its own.
//
// Events. OnProgress (every ProgressInterval ms while a task runs, and once at its end when it
// finished), OnPreviewBitmap and OnTerminate are Qt signals emitted on the thread that owns
// this object (the GUI thread), in the order they happened: for each task its progress
// notices, then its OnTerminate; after the last task one OnTerminate with TaskIndex -1. The
// worker never waits for the GUI thread, so slots may call any operation here, StopAll and
// ClearTasks included. OnCustomHook is a plain callback invoked on the worker thread.
class TFFmpegVCL : public QObject {
    Q_OBJECT
public:
    explicit TFFmpegVCL(QObject* parent = nullptr);
    // Stops a running conversion and waits for it.
    ~TFFmpegVCL() override;

    // Library check, as TFFmpegLoader does it.
    bool LoadFFmpegLibraries(const QString& folder = QString());
    bool FFmpegLibrariesLoaded() const;
    QString LoaderLastError() const;

    // --- tasks (GUI thread) ---

    // Stops a running conversion (waiting) and forgets all tasks.
    void ClearTasks();
    // Registers a task for a source file; the options are copied. Opens and examines the file
    // at once: returns the new task's index, or a negative value when the file cannot be
    // opened or holds neither audio nor video (LastErrorMessage says why).
    int AddTask(const QString& fileName, const TInputOptions& options);
    // The probe of a task's source file, owned by the converter and valid until the task is
    // removed; nullptr for an unknown index.
    TAVProbe* InputProbe(int taskIndex);
    // Forgets a task; the indices of later tasks move down by one. False for an unknown index
    // or while a conversion runs.
    bool RemoveTask(int taskIndex);
    // Attaches the output of a task; the options are copied, fileName replaces their
    // OutputFileName. Checks names at once: returns 0, or a negative value when the task is
    // unknown or the muxer, an encoder, the preset or a filter name does not exist
    // (LastErrorMessage says why; the task then fails with that text when it runs).
    int SetOutputFile(int taskIndex, const QString& fileName, const TOutputOptions& options);
    int TaskCount() const;
    // Text of the last AddTask or SetOutputFile failure.
    QString LastErrorMessage() const;

    // The converter's own probe, for callers that examine a file before registering it.
    TAVProbe* AVProbe() { return &probe_; }

    // --- running ---

    // Starts converting: the first task now, each following task when the previous one ends,
    // one at a time whatever maxConcurrent says (kept for callers that pass it). Does nothing
    // while a conversion runs or when there is no task (then only the -1 notice is sent).
    void StartTask(int maxConcurrent = 1);
    // Holds the running task between two packets; progress notices stop meanwhile.
    void PauseAll();
    void ResumeAll();
    // Stops the running task and starts no further one; with wait, returns when the worker
    // thread has ended (within half a second). The stopped task's OnTerminate (Finished
    // false) and the -1 notice follow as queued signals.
    void StopAll(bool wait = true);
    bool IsRunning() const;
    bool IsPaused() const;

    // --- settings (GUI thread, take effect at the next StartTask) ---

    TThreadPriority ThreadPriority() const { return priority_; }
    void SetThreadPriority(TThreadPriority priority) { priority_ = priority; }
    // Sends OnPreviewBitmap notices while converting (off by default).
    bool PreviewBitmap() const { return previewBitmap_; }
    void SetPreviewBitmap(bool on) { previewBitmap_ = on; }
    int ProgressInterval() const { return progressIntervalMs_; }
    void SetProgressInterval(int intervalMs) {
        progressIntervalMs_ = intervalMs > 0 ? intervalMs : 500;
    }

    // Frame handler for tasks whose CustomHook switch is on. Assigning (or clearing with
    // nullptr) is safe at any time: it waits for a frame being hooked to finish.
    class HookSlot {
    public:
        HookSlot& operator=(TCustomHookEvent handler);
        explicit operator bool() const;
        // Calls the handler, if any, under the slot's lock; returns false when none is set.
        bool invoke(PHookInfo& info) const;

    private:
        mutable std::mutex mutex_;
        TCustomHookEvent handler_;
    };
    HookSlot OnCustomHook;

signals:
    void OnProgress(const PProgressInfo& info);
    void OnTerminate(const TTerminateInfo& info);
    void OnPreviewBitmap(const TPreviewInfo& info);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
    TAVProbe probe_;
    TThreadPriority priority_ = TThreadPriority::Normal;
    bool previewBitmap_ = false;
    int progressIntervalMs_ = 500;

    friend struct ConverterRunAccess;
};

Q_DECLARE_METATYPE(PProgressInfo)
Q_DECLARE_METATYPE(TTerminateInfo)
Q_DECLARE_METATYPE(TPreviewInfo)
