#include "media/AudioOutput.h"

#include <QAudioSink>
#include <QIODevice>
#include <QMetaObject>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdlib>

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

class RingDevice final : public QIODevice {
public:
    RingDevice(PcmRing& ring, PlaybackClock& clock, std::atomic<int64_t>& latencyUs)
        : ring_(ring), clock_(clock), latencyUs_(latencyUs) {}
    void setSink(QAudioSink* sink) { sink_ = sink; }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override {
        return static_cast<qint64>(ring_.buffered()) + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        const size_t n = ring_.read(data, static_cast<size_t>(std::max<qint64>(0, maxSize)));
        if (n > 0 && sink_) {
            // What the sink holds plus what it is about to get plays before the ring's next
            // byte.
            const int64_t held = std::max<qint64>(0, sink_->bufferSize() - sink_->bytesFree()) +
                                 static_cast<int64_t>(n);
            const int64_t latency = held * 1000000 / ring_.bytesPerSecond();
            latencyUs_ = latency;
            clock_.set(ring_.readPtsUs() - latency);
        }
        return static_cast<qint64>(n);
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    PcmRing& ring_;
    PlaybackClock& clock_;
    std::atomic<int64_t>& latencyUs_;
    QAudioSink* sink_ = nullptr;
};

class DeviceOutput final : public AudioOutput {
public:
    DeviceOutput(PcmRing& ring, PlaybackClock& clock) : ring_(ring), clock_(clock) {}

    ~DeviceOutput() override {
        if (context_) {
            QMetaObject::invokeMethod(
                context_,
                [this] {
                    if (sink_)
                        sink_->stop();
                    delete sink_;
                    sink_ = nullptr;
                    delete device_;
                    device_ = nullptr;
                },
                Qt::BlockingQueuedConnection);
            delete context_;
        }
        thread_.quit();
        thread_.wait();
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
                // About 100 ms in the device: short enough for prompt volume and seek changes.
                sink_->setBufferSize(format.bytesForDuration(100000));
                device_ = new RingDevice(ring_, clock_, latencyUs_);
                device_->setSink(sink_);
                device_->open(QIODevice::ReadOnly);
                sink_->start(device_);
                ok = sink_->error() == QAudio::NoError && sink_->state() != QAudio::StoppedState;
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
            },
            Qt::QueuedConnection);
    }

    int64_t latencyUs() const override { return latencyUs_.load(); }

private:
    PcmRing& ring_;
    PlaybackClock& clock_;
    QThread thread_;
    QObject* context_ = nullptr;
    // Created, used and deleted on thread_ only.
    QAudioSink* sink_ = nullptr;
    RingDevice* device_ = nullptr;
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
