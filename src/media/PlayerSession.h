#pragma once

// One file opened by TFFPlayer, with its threads: a reader (demuxing into two packet queues),
// a video thread (decoding, converting, hooking and showing pictures on time) and an audio
// thread (decoding and resampling into the audio output, which drives the clock).
// Internal to src/media.

#include "media/FFPlayer.h"
#include "media/FFmpegPtr.h"
#include "media/PlayerSupport.h"

#include <QAudioDevice>
#include <QImage>
#include <QSize>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

struct SwrContext;

namespace vorlin::media {

class AudioOutput;

// What the session tells its player. Called on the session's threads; must not block.
struct SessionEvents {
    // A new position was reached (read it with position()).
    std::function<void()> position;
    // The end of the file was reached; once per reaching it (again after a seek).
    std::function<void()> ended;
};

class PlayerSession {
public:
    // Opens the file and its decoders; null (with *error set) when neither a video nor an
    // audio stream can be decoded. No thread runs before start().
    static std::unique_ptr<PlayerSession> open(const QString& fileName,
                                               std::shared_ptr<TFFPlayer::Settings> settings,
                                               const TFFPlayer::HookSlot* hook, QString* error);
    // Ends the threads (waiting for them) and clears the sink.
    ~PlayerSession();
    PlayerSession(const PlayerSession&) = delete;
    PlayerSession& operator=(const PlayerSession&) = delete;

    int64_t durationUs() const { return durationUs_; }
    // Upright frame size; empty without video.
    QSize frameSize() const { return frameSize_; }
    bool hasVideo() const { return videoIndex_ >= 0; }
    bool hasAudio() const { return audioIndex_ >= 0; }

    // Starts playing into the sink (may be null) at the given screen size. The audio goes to
    // the device, or to the wall-clock output when the device is null or cannot be used.
    void start(RenderSink* sink, QSize screen, bool paused, const QAudioDevice& device,
               SessionEvents events);
    // Waits until the first picture was shown (true) or the time is up.
    bool waitFirstPicture(int timeoutMs);
    void setPaused(bool paused);
    void seek(int64_t positionUs, bool anyFrame);

    int64_t position() const { return position_.load(); }
    QImage picture() const;
    PlayerStatistics statistics() const;

private:
    struct SwrDeleter {
        void operator()(SwrContext* s) const;
    };
    using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;

    // Where a seek generation starts.
    struct Segment {
        int serial = 0;
        int64_t targetUs = 0;
        bool anyFrame = false;
    };

    PlayerSession() = default;
    static int interruptCallback(void* opaque);

    void readerLoop();
    bool queuesFull() const;
    void videoLoop();
    void audioLoop();

    Segment segment(int serial) const;
    int64_t framePositionUs(const AVFrame* frame, AVRational timeBase, int64_t fallbackUs) const;
    // Shows a decoded picture when it is due (at once when immediate); false when it was
    // dropped or a seek, pause-free wait or stop intervened.
    bool showFrame(const AVFrame* frame, int64_t positionUs, bool immediate, int serial);
    QImage renderFrame(const AVFrame* frame, int64_t positionUs);
    QImage scaleFrame(const AVFrame* frame, QSize size);
    void present(const QImage& picture, int64_t positionUs);
    // Waits until the clock reaches the time; false when a seek or stop came first.
    bool waitForClock(int64_t ptsUs, int serial);
    bool resample(const AVFrame* frame, std::vector<int16_t>& out);
    void reportAudioPosition(bool force);
    void markDone(bool video, int serial);
    // Runs the audio output unless paused or waiting for the segment's first picture.
    void setAudioGate(bool open);
    void applyOutputState();
    void wake();
    bool stale(int serial) const { return quit_.load() || serial != serial_.load(); }

    std::shared_ptr<TFFPlayer::Settings> settings_;
    const TFFPlayer::HookSlot* hook_ = nullptr;
    SessionEvents events_;
    RenderSink* sink_ = nullptr;

    InputContextPtr input_;
    CodecContextPtr videoCodec_;
    CodecContextPtr audioCodec_;
    int videoIndex_ = -1;
    int audioIndex_ = -1;
    int rotation_ = 0;
    int64_t startUs_ = 0;
    int64_t durationUs_ = 0;
    int64_t frameDurationUs_ = 40000;
    QSize frameSize_;
    QSize aspectSize_; // upright size with the sample aspect ratio applied
    QSize displaySize_;

    std::atomic<bool> quit_{false};
    std::thread reader_;
    std::thread video_;
    std::thread audio_;

    PacketQueue videoQueue_;
    PacketQueue audioQueue_;

    // Seeking: requests from the owner, performed by the reader.
    mutable std::mutex readerMutex_;
    std::condition_variable readerCv_;
    Segment request_;
    Segment performed_;
    std::atomic<int> serial_{0};

    // Wakes waits for the clock on pause, resume, seek and stop.
    std::mutex wakeMutex_;
    std::condition_variable wakeCv_;

    PlaybackClock clock_;
    PcmRing ring_;
    std::unique_ptr<AudioOutput> output_;
    std::atomic<bool> paused_{false};
    // Closed from a start or seek until its first picture is shown, so that the audio and the
    // pictures start together.
    std::mutex outputStateMutex_;
    bool audioGate_ = true;

    // Video thread only.
    SwsPtr sws_;
    bool hookFailureReported_ = false;
    int consecutiveDrops_ = 0;
    // Audio thread only.
    SwrPtr swr_;
    int64_t lastAudioReportUs_ = 0;
    // Reported audio positions never go back within a segment, although the device's clock
    // may step back a little at each of its reads.
    int64_t audioPositionFloorUs_ = 0;
    // End of the audio decoded so far: positions never pass it.
    int64_t audioDecodedEndUs_ = 0;

    std::atomic<int64_t> position_{-1};
    mutable std::mutex pictureMutex_;
    QImage picture_;
    std::condition_variable firstPictureCv_;
    std::atomic<bool> firstPictureShown_{false};

    mutable std::mutex endMutex_;
    int videoDoneSerial_ = -1;
    int audioDoneSerial_ = -1;
    int endReportedSerial_ = -1;

    mutable std::mutex statsMutex_;
    PlayerStatistics stats_;
};

} // namespace vorlin::media
