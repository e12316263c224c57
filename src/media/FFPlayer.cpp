#include "media/FFPlayer.h"

#include "media/FFmpegLoader.h"
#include "media/FFmpegPtr.h"
#include "media/PlayerSession.h"

#include <QMediaDevices>
#include <QMetaObject>

#include <algorithm>

using vorlin::media::PlayerSession;
using vorlin::media::PlayerStatistics;
using vorlin::media::RenderSink;
using vorlin::media::SessionEvents;

namespace {

// Longest time PlayerOpen waits for the first picture of a file with video.
constexpr int kFirstPictureTimeoutMs = 3000;

} // namespace

TFFPlayer::HookSlot& TFFPlayer::HookSlot::operator=(THookEvent handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
    return *this;
}

TFFPlayer::HookSlot::operator bool() const {
    std::lock_guard lock(mutex_);
    return static_cast<bool>(handler_);
}

bool TFFPlayer::HookSlot::invoke(QImage& bitmap, int64_t ptsUs) const {
    std::lock_guard lock(mutex_);
    if (!handler_)
        return false;
    // A copy, so that the handler may replace itself while it runs.
    const THookEvent handler = handler_;
    handler(bitmap, ptsUs);
    return true;
}

TFFPlayer::TFFPlayer(QObject* parent) : QObject(parent), settings_(std::make_shared<Settings>()) {}

TFFPlayer::~TFFPlayer() {
    closeSession();
}

bool TFFPlayer::FFmpegLibrariesLoaded() const {
    return TFFmpegLoader::FFmpegLibrariesLoaded();
}

bool TFFPlayer::LoadFFmpegLibraries(const QString& folder) {
    return TFFmpegLoader::LoadFFmpegLibraries(folder);
}

QString TFFPlayer::LoaderLastError() const {
    return TFFmpegLoader::LoaderLastError();
}

void TFFPlayer::closeSession() {
    if (!session_)
        return;
    session_.reset(); // joins the threads and clears the sink
    ++sessionId_;
    probe_.CloseProbe();
    paused_ = true;
}

void TFFPlayer::postState(TPlayState state) {
    const uint64_t id = sessionId_;
    QMetaObject::invokeMethod(
        this,
        [this, id, state] {
            if (id == sessionId_)
                emit OnState(state);
        },
        Qt::QueuedConnection);
}

bool TFFPlayer::PlayerOpen(const QString& fileName, RenderSink* screen, bool startPaused) {
    closeSession();
    lastError_.clear();
    vorlin::media::installLogCapture();
    QString error;
    std::unique_ptr<PlayerSession> session =
        PlayerSession::open(fileName, settings_, &OnHook, &error);
    if (!session) {
        lastError_ = error;
        return false;
    }
    probe_.OpenProbe(fileName);

    const uint64_t id = ++sessionId_;
    const QSize frame = session->hasVideo() ? session->frameSize() : QSize(0, 0);
    int screenWidth = frame.width();
    int screenHeight = frame.height();
    emit OnFileOpen(session->durationUs(), frame.width(), frame.height(), screenWidth,
                    screenHeight);
    if (id != sessionId_) {
        // The handler opened another file meanwhile; that one stays.
        return false;
    }
    if (screenWidth <= 0 || screenHeight <= 0) {
        screenWidth = frame.width();
        screenHeight = frame.height();
    }

    SessionEvents events;
    // Positions are read when the event is delivered, so a busy GUI thread gets the latest one
    // instead of a backlog.
    auto queued = std::make_shared<std::atomic<bool>>(false);
    events.position = [this, id, queued] {
        if (queued->exchange(true))
            return;
        QMetaObject::invokeMethod(
            this,
            [this, id, queued] {
                queued->store(false);
                if (id == sessionId_ && session_)
                    emit OnPosition(session_->position());
            },
            Qt::QueuedConnection);
    };
    events.ended = [this, id] {
        QMetaObject::invokeMethod(
            this,
            [this, id] {
                if (id == sessionId_)
                    emit OnState(psEnd);
            },
            Qt::QueuedConnection);
    };
    const QAudioDevice device =
        session->hasAudio() ? QMediaDevices::defaultAudioOutput() : QAudioDevice();
    session_ = std::move(session);
    paused_ = startPaused;
    session_->start(screen, QSize(screenWidth, screenHeight), startPaused, device,
                    std::move(events));
    session_->waitFirstPicture(kFirstPictureTimeoutMs);
    postState(startPaused ? psPause : psPlay);
    return true;
}

void TFFPlayer::PlayerPause() {
    if (!session_ || paused_)
        return;
    paused_ = true;
    session_->setPaused(true);
    postState(psPause);
}

void TFFPlayer::PlayerResume() {
    if (!session_ || !paused_)
        return;
    paused_ = false;
    session_->setPaused(false);
    postState(psResume);
}

void TFFPlayer::PlayerStop(bool /*wait*/) {
    if (!session_)
        return;
    closeSession();
    postState(psStop);
}

void TFFPlayer::PlayerSeek(uint8_t flags, int64_t positionUs) {
    if (session_)
        session_->seek(positionUs, (flags & SeekAnyFrame) != 0);
}

int64_t TFFPlayer::PlayerPosition() const {
    return session_ ? session_->position() : -1;
}

bool TFFPlayer::PlayerPaused() const {
    return !session_ || paused_;
}

QImage TFFPlayer::PlayerPicture() const {
    return session_ ? session_->picture() : QImage();
}

void TFFPlayer::SetAudioVolume(int volume) {
    settings_->volume = std::clamp(volume, 0, 128);
}

PlayerStatistics TFFPlayer::Statistics() const {
    return session_ ? session_->statistics() : PlayerStatistics();
}
