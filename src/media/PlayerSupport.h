#pragma once

// Building blocks of the player's threads: the playback clock, the packet queues between the
// reader and the decoders, and the PCM ring between the audio decoder and the audio output.
// Internal to src/media.

#include "media/FFmpegPtr.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace vorlin::media {

inline int64_t monotonicUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Media time that runs with the system clock while not paused. Whoever knows better (the
// audio output, a seek) sets it; in between it runs on by itself.
class PlaybackClock {
public:
    void set(int64_t ptsUs);
    int64_t get() const;
    void setPaused(bool paused);
    bool paused() const;
    // True once set() was called.
    bool valid() const;

private:
    mutable std::mutex mutex_;
    int64_t ptsUs_ = 0;
    int64_t anchorUs_ = 0;
    bool paused_ = true;
    bool valid_ = false;
};

// A packet (or the end of a stream) tagged with the seek generation it was read in.
struct QueuedPacket {
    PacketPtr packet; // null: end of stream
    int serial = 0;
};

// Unbounded FIFO; the reader limits what it puts in. pop waits until an item arrives or the
// queue is aborted.
class PacketQueue {
public:
    void push(QueuedPacket item);
    // False when aborted.
    bool pop(QueuedPacket& out);
    void clear();
    void abort();
    size_t count() const;
    size_t bytes() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<QueuedPacket> items_;
    size_t bytes_ = 0;
    bool aborted_ = false;
};

// Interleaved PCM waiting for the audio output, with the media time of its first byte.
class PcmRing {
public:
    // Forgets the content; bytesPerSecond and frameBytes describe the output format.
    void configure(int bytesPerSecond, int frameBytes, size_t capacityBytes);
    // Appends the bytes, waiting while the ring is full; idle() runs every few milliseconds
    // while waiting and a true abort() ends the wait (false is returned then). ptsUs is the time
    // of the first byte; it counts when the ring was empty (otherwise the audio is taken to
    // continue where the ring's content ends).
    bool write(const char* data, size_t size, int64_t ptsUs, const std::function<bool()>& abort,
               const std::function<void()>& idle);
    // Consumer side: copies (or drops) up to max bytes, whole sample frames only.
    size_t read(char* out, size_t max);
    size_t discard(size_t max);
    // Media time of the next byte to be consumed, and whether one was ever written.
    int64_t readPtsUs() const;
    size_t buffered() const;
    void clear();
    int bytesPerSecond() const { return bytesPerSecond_; }
    int frameBytes() const { return frameBytes_; }

private:
    size_t takeLocked(char* out, size_t max);

    mutable std::mutex mutex_;
    std::condition_variable spaceCv_;
    std::vector<char> data_;
    size_t head_ = 0; // next byte to read
    size_t size_ = 0; // bytes held
    int64_t basePtsUs_ = 0;
    int64_t bytesSinceBase_ = 0;
    int bytesPerSecond_ = 1;
    int frameBytes_ = 1;
};

} // namespace vorlin::media
