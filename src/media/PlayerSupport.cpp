#include "media/PlayerSupport.h"

#include <algorithm>
#include <cstring>

namespace vorlin::media {

void PlaybackClock::set(int64_t ptsUs) {
    std::lock_guard lock(mutex_);
    ptsUs_ = ptsUs;
    anchorUs_ = monotonicUs();
    valid_ = true;
}

int64_t PlaybackClock::get() const {
    std::lock_guard lock(mutex_);
    return paused_ ? ptsUs_ : ptsUs_ + (monotonicUs() - anchorUs_);
}

void PlaybackClock::setPaused(bool paused) {
    std::lock_guard lock(mutex_);
    if (paused == paused_)
        return;
    const int64_t now = monotonicUs();
    if (paused)
        ptsUs_ += now - anchorUs_;
    anchorUs_ = now;
    paused_ = paused;
}

bool PlaybackClock::paused() const {
    std::lock_guard lock(mutex_);
    return paused_;
}

bool PlaybackClock::valid() const {
    std::lock_guard lock(mutex_);
    return valid_;
}

void PacketQueue::push(QueuedPacket item) {
    {
        std::lock_guard lock(mutex_);
        if (aborted_)
            return;
        bytes_ += item.packet ? static_cast<size_t>(item.packet->size) : 0;
        items_.push_back(std::move(item));
    }
    cv_.notify_one();
}

bool PacketQueue::pop(QueuedPacket& out) {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return aborted_ || !items_.empty(); });
    if (aborted_)
        return false;
    out = std::move(items_.front());
    items_.pop_front();
    bytes_ -= out.packet ? static_cast<size_t>(out.packet->size) : 0;
    return true;
}

void PacketQueue::clear() {
    std::lock_guard lock(mutex_);
    items_.clear();
    bytes_ = 0;
}

void PacketQueue::abort() {
    {
        std::lock_guard lock(mutex_);
        aborted_ = true;
        items_.clear();
        bytes_ = 0;
    }
    cv_.notify_all();
}

size_t PacketQueue::count() const {
    std::lock_guard lock(mutex_);
    return items_.size();
}

size_t PacketQueue::bytes() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

void PcmRing::configure(int bytesPerSecond, int frameBytes, size_t capacityBytes) {
    std::lock_guard lock(mutex_);
    bytesPerSecond_ = std::max(1, bytesPerSecond);
    frameBytes_ = std::max(1, frameBytes);
    capacityBytes = std::max<size_t>(capacityBytes, 16 * static_cast<size_t>(frameBytes_));
    data_.assign(capacityBytes - capacityBytes % frameBytes_, 0);
    head_ = size_ = 0;
    basePtsUs_ = bytesSinceBase_ = 0;
}

bool PcmRing::write(const char* data, size_t size, int64_t ptsUs,
                    const std::function<bool()>& abort, const std::function<void()>& idle) {
    size_t done = 0;
    while (done < size) {
        if (abort && abort())
            return false;
        {
            std::unique_lock lock(mutex_);
            if (size_ == 0 && done == 0) {
                basePtsUs_ = ptsUs;
                bytesSinceBase_ = 0;
            }
            const size_t room = data_.size() - size_;
            if (room > 0) {
                const size_t n = std::min(room, size - done);
                size_t tail = (head_ + size_) % data_.size();
                const size_t first = std::min(n, data_.size() - tail);
                std::memcpy(data_.data() + tail, data + done, first);
                std::memcpy(data_.data(), data + done + first, n - first);
                size_ += n;
                done += n;
                continue;
            }
            spaceCv_.wait_for(lock, std::chrono::milliseconds(5));
        }
        if (idle)
            idle();
    }
    return true;
}

size_t PcmRing::takeLocked(char* out, size_t max) {
    size_t n = std::min(max, size_);
    n -= n % frameBytes_;
    const size_t first = std::min(n, data_.size() - head_);
    if (out) {
        std::memcpy(out, data_.data() + head_, first);
        std::memcpy(out + first, data_.data(), n - first);
    }
    if (!data_.empty())
        head_ = (head_ + n) % data_.size();
    size_ -= n;
    bytesSinceBase_ += static_cast<int64_t>(n);
    return n;
}

size_t PcmRing::read(char* out, size_t max) {
    size_t n;
    {
        std::lock_guard lock(mutex_);
        n = takeLocked(out, max);
    }
    if (n > 0)
        spaceCv_.notify_all();
    return n;
}

size_t PcmRing::discard(size_t max) {
    return read(nullptr, max);
}

int64_t PcmRing::readPtsUs() const {
    std::lock_guard lock(mutex_);
    return basePtsUs_ + bytesSinceBase_ * 1000000 / bytesPerSecond_;
}

size_t PcmRing::buffered() const {
    std::lock_guard lock(mutex_);
    return size_;
}

void PcmRing::clear() {
    {
        std::lock_guard lock(mutex_);
        head_ = size_ = 0;
        bytesSinceBase_ = 0;
    }
    spaceCv_.notify_all();
}

} // namespace vorlin::media
