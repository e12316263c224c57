#pragma once

#include "jobs/JobRecord.h"

#include <QFont>
#include <QImage>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

struct PHookInfo;

namespace vorlin::effects {

// The typeface of a text watermark: the item's family, size in points (at 96 dots per inch,
// the size the editor places boxes in), style and nothing else. A family that is not installed
// is replaced by the system's default font; *replaced (if given) then says so.
QFont WatermarkFont(const TWmFont& font, bool* replaced = nullptr);

// Draws a job's colour effects and watermark items on converted frames: the main window's and
// the batch command's frame hook (CCAVCCustomHook).
//
// For every frame: the colour pass unless brightness, contrast and saturation are all neutral,
// the exposure pass unless it is 0, then each watermark item due at the frame's second
// (pts div 1 000 000, inclusive range) in list order, later items over earlier ones. Items are
// cut at all four frame edges. When a due picture cannot be read the whole frame passes
// unchanged, and the failure is logged once per task and picture.
//
// Pictures are decoded once per task (again when the file changes on disk); the rendered text
// of an item is kept while the item, the frame size and the task stay the same. Only the part
// of a text box that lies inside the frame is ever allocated.
//
// Thread use: the hook runs on the converter's worker thread; Reset may be called from any
// thread. Job records are read, never written; the lookup must stay valid while frames are
// hooked.
class FrameCompositor {
public:
    // The record of a converter task, or nullptr when the task has none (frame left alone).
    using RecordLookup = std::function<const TlvFilesRecord*(int taskIndex)>;
    // Receives one line per failure worth telling the user (unreadable picture, missing font).
    using LogSink = std::function<void(const QString& message)>;

    explicit FrameCompositor(RecordLookup lookup, LogSink log = {});
    ~FrameCompositor();
    FrameCompositor(const FrameCompositor&) = delete;
    FrameCompositor& operator=(const FrameCompositor&) = delete;

    // The converter's OnCustomHook: composites info.Bitmap in place for info.TaskIndex at
    // info.PTS. The bitmap stays the converter's; nothing keeps a reference to it.
    void CCAVCCustomHook(PHookInfo& info);

    // Composites one frame (24-bit, changed in place; the caller keeps it). Returns false when
    // the frame was left unchanged because the task has no record or a due picture could not
    // be read; true otherwise (also when nothing was due).
    bool Composite(QImage& frame, int taskIndex, int64_t ptsUs);

    // Forgets decoded pictures, rendered texts and the failures already logged. Called when a
    // run starts, so that a picture replaced between runs is read again.
    void Reset();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace vorlin::effects
