#pragma once

// Where the player's decoded audio goes. Internal to src/media.
//
// Both outputs consume the PCM ring and set the playback clock to the time of the sample being
// heard: the device output from the system's audio sink (QAudioSink, on a thread of its own with
// an event loop), the wall-clock output at the pace of the system clock, discarding the samples
// (no audio device, as on build machines).

#include "media/PlayerSupport.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QString>

#include <memory>

namespace vorlin::media {

class AudioOutput {
public:
    virtual ~AudioOutput() = default;
    // Output format chosen at creation: interleaved signed 16-bit samples.
    int sampleRate() const { return sampleRate_; }
    int channels() const { return channels_; }
    virtual QString kind() const = 0;
    virtual void setPaused(bool paused) = 0;
    // Lets the output consume what is due by now (the wall-clock output; the device pulls by
    // itself). Called by the audio thread whenever it waits.
    virtual void pump() {}
    // Time the output holds beyond the ring (the device's own buffer), in microseconds.
    virtual int64_t latencyUs() const { return 0; }
    // Forget what the output holds beyond the ring (after a seek).
    virtual void flush() {}

protected:
    int sampleRate_ = 44100;
    int channels_ = 2;
};

// The system's audio output for the given device; null when it cannot be started (the caller
// then uses the wall-clock output). wantedRate and wantedChannels are the source's.
std::unique_ptr<AudioOutput> makeDeviceAudioOutput(const QAudioDevice& device, int wantedRate,
                                                   int wantedChannels, PcmRing& ring,
                                                   PlaybackClock& clock);

std::unique_ptr<AudioOutput> makeWallClockAudioOutput(int wantedRate, int wantedChannels,
                                                      PcmRing& ring, PlaybackClock& clock);

// Scales interleaved 16-bit samples by volume / 128 (0..128) in place, silences them when
// muted, and returns the largest magnitude left.
int applyVolume(int16_t* samples, size_t count, int volume, bool mute);

} // namespace vorlin::media
