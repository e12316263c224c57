#include "media/AudioOutput.h"

#include <QAudioSink>
#include <QIODevice>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <deque>
#include <mutex>

namespace vorlin::media {

int applyVolume(int16_t* samples, size_t count, int volume, bool mute) {
    volume = std::clamp(volume, 0, 128);
    if (mute || volume == 0) {
        std::fill(samples, samples + count, int16_t{0});
        return 0;
    }
    int peak = 0;
    for (size_t i = 0; i < count; ++i) {
        const int v = volume == 128 ? samples[i] : samples[i] * volume / 128;
        samples[i] = static_cast<int16_t>(v);
        peak = std::max(peak, std::abs(v));
    }
    return std::min(peak, 32767);
}

namespace {

constexpr int kMaxOutputChannels = 2;

// ---------------------------------------------------------------------------------------------
// Wall-clock output: consumes the ring at real-time rate and throws the samples away.

class WallClockOutput final : public AudioOutput {
public:
    WallClockOutput(int rate, int channels, PcmRing& ring, PlaybackClock& clock)
        : ring_(ring), clock_(clock) {
        sampleRate_ = std::clamp(rate, 8000, 192000);
        channels_ = std::clamp(channels, 1, kMaxOutputChannels);
        lastUs_ = monotonicUs();
    }
    QString kind() const override { return QStringLiteral("wall clock"); }

    void setPaused(bool paused) override {
        std::lock_guard lock(mutex_);
        advanceLocked();
        paused_ = paused;
    }

    void pump() override {
        std::lock_guard lock(mutex_);
        advanceLocked();
    }

    void flush() override {
        std::lock_guard lock(mutex_);
        creditUs_ = 0;
        lastUs_ = monotonicUs();
    }

private:
    void advanceLocked() {
        const int64_t now = monotonicUs();
        const int64_t elapsed = now - lastUs_;
        lastUs_ = now;
        if (paused_)
            return;
        // Time passes whether or not samples are there: a starved output does not make up
        // for it later.
        creditUs_ += elapsed;
        const int frameBytes = ring_.frameBytes();
        const int64_t frames = creditUs_ * sampleRate_ / 1000000;
        if (frames <= 0)
            return;
        creditUs_ -= frames * 1000000 / sampleRate_;
        const size_t n = ring_.discard(static_cast<size_t>(frames) * frameBytes);
        if (n > 0)
            clock_.set(ring_.readPtsUs());
        else
            creditUs_ = 0;
    }

    PcmRing& ring_;
    PlaybackClock& clock_;
    std::mutex mutex_;
    int64_t lastUs_ = 0;
    int64_t creditUs_ = 0;
    bool paused_ = false;
};

// ---------------------------------------------------------------------------------------------
// Device output: a QAudioSink pulling from the ring, living on a thread with an event loop so
// that it keeps playing while the GUI thread is busy.

// Hands the ring's bytes to the sink and remembers which media time each handed-out byte
// has, so that the sink's playback time can be turned back into media time.
class RingDevice final : public QIODevice {
public:
    explicit RingDevice(PcmRing& ring) : ring_(ring) {}
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override {
        return static_cast<qint64>(ring_.buffered()) + QIODevice::bytesAvailable();
    }

    // Media time of the byte at this offset of everything handed out; false when that byte
    // was handed out before the last forget() (audio from before a seek).
    bool mediaTimeAt(int64_t offset, int64_t* ptsUs) const {
        std::lock_guard lock(mutex_);
        auto it = std::upper_bound(marks_.begin(), marks_.end(), offset,
                                   [](int64_t o, const Mark& m) { return o < m.offset; });
        if (it == marks_.begin())
            return false;
        --it;
        *ptsUs = it->ptsUs + (offset - it->offset) * 1000000 / ring_.bytesPerSecond();
        return true;
    }
    int64_t handedOut() const {
        std::lock_guard lock(mutex_);
        return handedOut_;
    }
    void forget() {
        std::lock_guard lock(mutex_);
        marks_.clear();
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        const int64_t pts = ring_.readPtsUs();
        const size_t n = ring_.read(data, static_cast<size_t>(std::max<qint64>(0, maxSize)));
        if (n > 0) {
            std::lock_guard lock(mutex_);
            marks_.push_back({handedOut_, pts});
            while (marks_.size() > 256)
                marks_.pop_front();
            handedOut_ += static_cast<int64_t>(n);
        }
        return static_cast<qint64>(n);
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    struct Mark {
        int64_t offset;
        int64_t ptsUs;
    };
    PcmRing& ring_;
    mutable std::mutex mutex_;
    std::deque<Mark> marks_;
    int64_t handedOut_ = 0;
};

class DeviceOutput final : public AudioOutput {
public:
    DeviceOutput(PcmRing& ring, PlaybackClock& clock) : ring_(ring), clock_(clock) {}

    ~DeviceOutput() override {
        if (context_) {
            QMetaObject::invokeMethod(
                context_,
                [this] {
                    delete timer_;
                    timer_ = nullptr;
                    if (sink_)
                        sink_->stop();
                    delete sink_;
                    sink_ = nullptr;
                    delete device_;
                    device_ = nullptr;
                },
                Qt::BlockingQueuedConnection);
        }
        thread_.quit();
        thread_.wait();
        delete context_; // its thread has ended
    }

    bool start(const QAudioDevice& device, const QAudioFormat& format) {
        sampleRate_ = format.sampleRate();
        channels_ = format.channelCount();
        thread_.setObjectName(QStringLiteral("vorlin-audio"));
        thread_.start();
        context_ = new QObject; // receives the calls made on the audio thread
        context_->moveToThread(&thread_);
        bool ok = false;
        QMetaObject::invokeMethod(
            context_,
            [&] {
                sink_ = new QAudioSink(device, format);
                // The sink's own buffer size: a small one can keep some backends from ever
                // starting, and the clock follows the playback time whatever the size.
                device_ = new RingDevice(ring_);
                device_->open(QIODevice::ReadOnly);
                sink_->start(device_);
                ok = sink_->error() == QAudio::NoError && sink_->state() != QAudio::StoppedState;
                timer_ = new QTimer;
                QObject::connect(timer_, &QTimer::timeout, [this] { followPlayback(); });
                timer_->start(10);
            },
            Qt::BlockingQueuedConnection);
        return ok;
    }

    QString kind() const override { return QStringLiteral("device"); }

    void setPaused(bool paused) override {
        QMetaObject::invokeMethod(
            context_,
            [this, paused] {
                if (!sink_)
                    return;
                if (paused)
                    sink_->suspend();
                else
                    sink_->resume();
                windowWallUs_ = -1; // judge the speed afresh
                lastRawUs_ = -1;
                disagreeSinceUs_ = -1;
            },
            Qt::QueuedConnection);
    }

    int64_t latencyUs() const override { return latencyUs_.load(); }

    void flush() override {
        // What the sink still holds from before is played out but no longer sets the clock.
        if (device_)
            device_->forget();
    }

private:
    // On the audio thread: the sink's playback time says which byte is being heard; its media
    // time is the clock. Only while playback runs at about real speed: a device that stalls
    // or creeps (as some do around starting and resuming) leaves the clock to run on by itself
    // rather than holding the pictures back.
    void followPlayback() {
        const int64_t now = monotonicUs();
        const int64_t rawUs = sink_->processedUSecs();
        // Some backends count the playback time afresh after a resume: only its steps forward
        // add up to the time played.
        const int64_t stepUs = lastRawUs_ >= 0 ? rawUs - lastRawUs_ : 0;
        lastRawUs_ = rawUs;
        if (stepUs > 0)
            playedUs_ += stepUs;
        const int64_t handed = device_->handedOut();
        const int64_t playedBytes = playedUs_ * ring_.bytesPerSecond() / 1000000;
        latencyUs_ =
            std::max<int64_t>(0, (handed - playedBytes) * 1000000 / ring_.bytesPerSecond());
        if (windowWallUs_ < 0) {
            windowWallUs_ = now;
            windowPlayedUs_ = playedUs_;
            steady_ = false;
        } else if (now - windowWallUs_ >= kSpeedWindowUs) {
            const int64_t wall = now - windowWallUs_;
            const int64_t played = playedUs_ - windowPlayedUs_;
            steady_ = played * 2 >= wall && played <= wall * 3 / 2;
            windowWallUs_ = now;
            windowPlayedUs_ = playedUs_;
        }
        if (!steady_ || stepUs <= 0)
            return;
        int64_t pts = 0;
        if (!device_->mediaTimeAt(playedBytes, &pts))
            return;
        // Small differences are the device's latency and drift: follow them. A large one is
        // a hiccup of the device more often than not; following it would freeze the pictures,
        // so it is taken only when it lasts.
        if (std::abs(pts - clock_.get()) < kFollowUs) {
            disagreeSinceUs_ = -1;
        } else if (disagreeSinceUs_ < 0) {
            disagreeSinceUs_ = now;
            return;
        } else if (now - disagreeSinceUs_ < kPersistUs) {
            return;
        }
        disagreeSinceUs_ = -1;
        clock_.set(pts);
    }

    static constexpr int64_t kFollowUs = 250000;
    static constexpr int64_t kPersistUs = 2000000;
    static constexpr int64_t kSpeedWindowUs = 50000;

    PcmRing& ring_;
    PlaybackClock& clock_;
    QThread thread_;
    QObject* context_ = nullptr;
    // Created before start() returns, then used and deleted on thread_ only (device_ also by
    // flush(), which runs only while the output lives).
    QAudioSink* sink_ = nullptr;
    RingDevice* device_ = nullptr;
    QTimer* timer_ = nullptr;
    int64_t lastRawUs_ = -1;
    int64_t playedUs_ = 0;
    int64_t disagreeSinceUs_ = -1;
    int64_t windowWallUs_ = -1;
    int64_t windowPlayedUs_ = 0;
    bool steady_ = false;
    std::atomic<int64_t> latencyUs_{0};
};

} // namespace

std::unique_ptr<AudioOutput> makeDeviceAudioOutput(const QAudioDevice& device, int wantedRate,
                                                   int wantedChannels, PcmRing& ring,
                                                   PlaybackClock& clock) {
    if (device.isNull())
        return nullptr;
    QAudioFormat format;
    format.setSampleRate(std::clamp(wantedRate, 8000, 192000));
    format.setChannelCount(std::clamp(wantedChannels, 1, kMaxOutputChannels));
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format)) {
        const QAudioFormat preferred = device.preferredFormat();
        format.setSampleRate(preferred.sampleRate() > 0 ? preferred.sampleRate() : 48000);
        if (!device.isFormatSupported(format))
            format.setChannelCount(std::clamp(preferred.channelCount(), 1, kMaxOutputChannels));
        if (!device.isFormatSupported(format))
            return nullptr;
    }
    auto out = std::make_unique<DeviceOutput>(ring, clock);
    if (!out->start(device, format))
        return nullptr;
    return out;
}

std::unique_ptr<AudioOutput> makeWallClockAudioOutput(int wantedRate, int wantedChannels,
                                                      PcmRing& ring, PlaybackClock& clock) {
    return std::make_unique<WallClockOutput>(wantedRate, wantedChannels, ring, clock);
}

} // namespace vorlin::media
