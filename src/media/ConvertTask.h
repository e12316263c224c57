#pragma once

// One conversion (one source file into one output file), run synchronously on the calling
// thread. TFFmpegVCL runs these one after another on its worker thread. Internal to
// src/media; tests and the benchmark use it through TFFmpegVCL.

#include "media/FFmpegPtr.h"
#include "media/FFmpegVCL.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace vorlin::media {

// Stop and pause requests from the GUI thread to a running conversion.
class RunControl {
public:
    void requestStop();
    bool stopRequested() const { return stop_.load(std::memory_order_relaxed); }
    void setPaused(bool paused);
    bool paused() const;
    // Blocks while paused; false when a stop was requested.
    bool waitWhilePaused();
    // Clears both requests before a new run.
    void reset();

private:
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool paused_ = false;
};

// Where a conversion reports to; each callback is called on the converting thread.
struct TaskEvents {
    std::function<void(const PProgressInfo&)> progress;
    // Null when previews are off.
    std::function<void(const TPreviewInfo&)> preview;
    // Calls the frame handler; false when none is set. May throw what the handler throws.
    std::function<bool(PHookInfo&)> hook;
    int progressIntervalMs = 500;
    int previewIntervalMs = 200;
};

struct TaskOutcome {
    bool finished = false;
    QString error; // empty when the task finished or was stopped
};

// Converts in.InputFileName into out.OutputFileName. Never throws. opened, when given, is
// that file already opened by the task's probe; it is used unless the input options hold
// demuxer options, which need a fresh open.
TaskOutcome runConversion(int taskIndex, const TInputOptions& in, const TOutputOptions& out,
                          RunControl& control, const TaskEvents& events,
                          InputContextPtr opened = nullptr);

// Checks the names and texts of output options (muxer, encoders, preset, sizes, rates,
// filters) for a source; empty when usable, else the reason. source may be null.
QString checkOutputOptions(const TOutputOptions& out, const TAVProbe* source);

} // namespace vorlin::media
