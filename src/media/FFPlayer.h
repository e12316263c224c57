#pragma once

#include "media/AVProbe.h"
#include "media/RenderSink.h"

#include <QImage>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

// Playback states reported by TFFPlayer::OnState; the ordinals are part of the interface.
enum TPlayState { psPlay = 0, psPause = 1, psResume = 2, psStep = 3, psStop = 4, psEnd = 5 };

namespace vorlin::media {

// Figures of the current file's playback, for benchmarks and tests.
struct PlayerStatistics {
    int64_t framesShown = 0;
    // Pictures skipped because they were already late when decoded.
    int64_t framesDropped = 0;
    // Lateness of shown pictures against the playback clock (negative: early).
    int64_t latenessSumUs = 0;
    int64_t latenessMaxUs = 0;
    // Video time minus audio time at the moments a picture was shown, while audio played.
    int64_t driftSamples = 0;
    int64_t driftAbsSumUs = 0;
    int64_t driftAbsMaxUs = 0;
    // Pictures shown more than 40 ms away from the audio, where viewers start to notice.
    int64_t driftOver40Ms = 0;
    // "device" (an audio output of the system), "wall clock" (no device: the samples are paced
    // by the system clock and discarded) or "none" (the file has no playable audio).
    QString audioOutput;
    // Largest sample magnitude (0..32767) of the most recent audio handed to the output,
    // after volume and mute.
    int audioPeak = 0;
};

// Internal: one opened file with its threads.
class PlayerSession;

} // namespace vorlin::media

// Handler of the picture hook: the picture about to be shown, at the source's frame size and
// upright, in QImage::Format_RGB32, and its position in microseconds. Runs on the player's
// video thread. The handler changes the picture in place or assigns another one; what it
// leaves is what the player shows (scaled to the render size). The image belongs to the
// player; the handler must not keep a reference to its pixels after returning.
using THookEvent = std::function<void(QImage& ABitmap, int64_t APTS)>;

// The media player: plays one file at a time into a render sink, with its audio through the
// system's default audio output.
//
// Threads. Every operation is called on the thread that owns the player (the GUI thread).
// Decoding runs on threads of the player; OnFileOpen is emitted inside PlayerOpen, and
// OnPosition and OnState are emitted on the owning thread from its event loop (queued), in the
// order they happened; events of a file that was closed meanwhile are dropped. OnHook runs on
// the video thread. The player never waits for the GUI thread, so every operation may be
// called from any of its event handlers.
//
// Times are microseconds from the start of the file.
class TFFPlayer : public QObject {
    Q_OBJECT
public:
    // PlayerSeek flags.
    static constexpr uint8_t SeekKeyFrame = 0; // the key frame at or before the position
    static constexpr uint8_t SeekAnyFrame = 4; // the frame at the position itself

    explicit TFFPlayer(QObject* parent = nullptr);
    // Closes the file (waiting for the player's threads).
    ~TFFPlayer() override;

    // Library check, as TFFmpegLoader does it.
    bool FFmpegLibrariesLoaded() const;
    bool LoadFFmpegLibraries(const QString& folder = QString());
    QString LoaderLastError() const;

    // Closes whatever was open, opens the file and starts playing it (or holds it on its
    // first picture when startPaused). OnFileOpen is emitted before this returns; for a file
    // with video, the first picture has been shown (and is in PlayerPicture) when it returns.
    // The sink may be null (nothing is shown); it must stay alive until the file is closed
    // (PlayerStop, the next PlayerOpen, or the player's end). False, with no event and no
    // thread left running, when the file cannot be played; LastError says why.
    bool PlayerOpen(const QString& fileName, vorlin::media::RenderSink* screen,
                    bool startPaused = false);
    // Pauses; reports psPause. Nothing happens when nothing plays or already paused.
    void PlayerPause();
    // Resumes; reports psResume. Nothing happens unless paused.
    void PlayerResume();
    // Stops playback and closes the file; reports psStop when a file was open. The player's
    // threads have ended when this returns, whatever the flag says (the flag is accepted for
    // callers that pass one).
    void PlayerStop(bool wait = true);
    // Moves playback to a position: SeekKeyFrame (0) goes to the key frame at or before it,
    // SeekAnyFrame (4) to the frame showing that moment. The new picture is shown promptly
    // also while paused, which stays paused. Returns at once; later seeks replace earlier
    // ones not yet done.
    void PlayerSeek(uint8_t flags, int64_t positionUs);

    // Position of the last picture shown (for a file without video, of the audio being
    // played); -1 before any and when nothing is open.
    int64_t PlayerPosition() const;
    // True when nothing is open or playback is paused.
    bool PlayerPaused() const;
    bool IsOpen() const { return session_ != nullptr; }
    // A copy of the picture currently shown, at the render size; a null image (width 0) when
    // there is none. The caller owns the copy.
    QImage PlayerPicture() const;
    // The probe of the open file (closed when nothing is open).
    const TAVProbe& PlayerProbe() const { return probe_; }
    // Several lines describing the open file (container, duration, streams); empty when none.
    QString ProbeDescription() const { return probe_.ProbeDescription(); }
    // Why the last PlayerOpen failed; empty after a success.
    QString LastError() const { return lastError_; }

    // Audio volume 0..128 (default 128); values outside are clamped. Kept across files.
    int AudioVolume() const { return settings_->volume.load(); }
    void SetAudioVolume(int volume);
    bool Mute() const { return settings_->mute.load(); }
    void SetMute(bool mute) { settings_->mute = mute; }
    // Calls OnHook for every picture while on (default off).
    bool Hook() const { return settings_->hook.load(); }
    void SetHook(bool on) { settings_->hook = on; }

    // Figures of the open file's playback (all zero when nothing is open).
    vorlin::media::PlayerStatistics Statistics() const;

    // The picture hook. Assigning (or clearing with nullptr) is safe at any time, also from
    // the handler itself; once an assignment returns, the previous handler no longer runs.
    // An exception thrown by the handler is caught, reported once per file, and the picture
    // is shown as the handler left it.
    class HookSlot {
    public:
        HookSlot& operator=(THookEvent handler);
        explicit operator bool() const;
        // Calls the handler, if any; false when none is set.
        bool invoke(QImage& bitmap, int64_t ptsUs) const;

    private:
        mutable std::recursive_mutex mutex_;
        THookEvent handler_;
    };
    HookSlot OnHook;

    // Shared with the open file's threads.
    struct Settings {
        std::atomic<int> volume{128};
        std::atomic<bool> mute{false};
        std::atomic<bool> hook{false};
    };

signals:
    // The file is open: its duration (0 when unknown), the video's upright frame size (0 x 0
    // without video) and the size to render at, which the handler may change (it starts as the
    // frame size). Emitted directly, inside PlayerOpen.
    void OnFileOpen(int64_t ADuration, int AFrameWidth, int AFrameHeight, int& AScreenWidth,
                    int& AScreenHeight);
    void OnPosition(int64_t APTS);
    void OnState(TPlayState AState);

private:
    void closeSession();
    void postState(TPlayState state);

    std::shared_ptr<Settings> settings_;
    std::unique_ptr<vorlin::media::PlayerSession> session_;
    // Identifies the open file; queued events of another one are dropped.
    uint64_t sessionId_ = 0;
    bool paused_ = true;
    TAVProbe probe_;
    QString lastError_;
};
