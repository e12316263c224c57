// The player through its public operations, on files made by the ffmpeg command; pictures are
// checked against what the ffmpeg command itself decodes.

#include "MediaTestSupport.h"
#include "media/AudioOutput.h"
#include "media/FFPlayer.h"
#include "support/Fixtures.h"
#include "support/TestEnv.h"
#include "widgets/VideoSurface.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

using namespace vorlin::test;
using vorlin::media::RenderSink;

namespace {

constexpr int64_t kSecond = 1000000;
constexpr int64_t kFrame25 = 40000; // one picture at 25 fps

// --- fixtures ----------------------------------------------------------------------------------

QStringList x264Args(const QString& pixFmt = "yuv420p") {
    // A key frame every 2 s exactly, so key-frame seeks have a known answer.
    return {"-c:v",        "libx264", "-preset",       "ultrafast", "-g",       "50",
            "-keyint_min", "50",      "-sc_threshold", "0",         "-pix_fmt", pixFmt};
}

QStringList lavfiVideo(int w, int h, double seconds) {
    return {"-f", "lavfi", "-i",
            QString("testsrc2=size=%1x%2:rate=25:duration=%3").arg(w).arg(h).arg(seconds)};
}

QStringList lavfiSine(double seconds) {
    return {"-f", "lavfi", "-i",
            QString("sine=frequency=440:sample_rate=44100:duration=%1").arg(seconds)};
}

// 320x240, 25 fps, 6 s, key frames at 0, 2, 4 s; AAC.
QString playMov() {
    return fixture("player-6s.mov", lavfiVideo(320, 240, 6) + lavfiSine(6) + x264Args() +
                                        QStringList{"-c:a", "aac", "-f", "mov"});
}

// 160x120, 1 s, with audio.
QString oneSecondMov() {
    return fixture("player-1s.mov", lavfiVideo(160, 120, 1) + lavfiSine(1) + x264Args() +
                                        QStringList{"-c:a", "aac", "-f", "mov"});
}

QString videoOnlyMov() {
    return fixture("player-video-only.mov",
                   lavfiVideo(160, 120, 1.2) + x264Args() + QStringList{"-f", "mov"});
}

QString audioOnlyMov() {
    return fixture("player-audio-only.mov",
                   lavfiSine(1.2) + QStringList{"-c:a", "aac", "-f", "mov"});
}

// 6 s with the index at the front, so that a cut copy still opens.
QString fastStartMov() {
    return fixture("player-faststart.mov",
                   lavfiVideo(320, 240, 6) + lavfiSine(6) + x264Args() +
                       QStringList{"-c:a", "aac", "-movflags", "+faststart", "-f", "mov"});
}

QString rotatedMov() {
    // Stored 160x120 with a red block in the stored top-left corner, tagged to turn 90 degrees.
    const QString plain =
        fixture("player-corner.mov",
                {"-f", "lavfi", "-i",
                 "color=c=gray:s=160x120:r=25:d=1,drawbox=x=0:y=0:w=40:h=30:color=red:t=fill",
                 "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-f", "mov"});
    return fixture("player-rotated-90.mov",
                   {"-i", plain, "-c", "copy", "-metadata:s:v:0", "rotate=90", "-f", "mov"});
}

QString prores422Mov() {
    return fixture("player-prores-422-10bit.mov",
                   lavfiVideo(160, 120, 1) + QStringList{"-c:v", "prores_ks", "-profile:v", "2",
                                                         "-pix_fmt", "yuv422p10le", "-f", "mov"});
}

QString x264High422Mov() {
    return fixture("player-x264-422-10bit.mov",
                   lavfiVideo(160, 120, 1) + x264Args("yuv422p10le") + QStringList{"-f", "mov"});
}

// --- helpers -------------------------------------------------------------------------------------

// Spins the event loop until the condition holds or the time is up.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

void spin(int ms) {
    waitUntil([] { return false; }, ms);
}

int threadCount() {
    return static_cast<int>(
        QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// The picture number `index` as the ffmpeg command decodes it (rotation applied), as RGB.
QImage ffmpegFrame(const QString& path, int index, QSize size) {
    QByteArray out;
    const int rc =
        runProgram("ffmpeg",
                   {"-v", "error", "-i", path, "-vf", QString("select=eq(n\\,%1)").arg(index),
                    "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"},
                   &out);
    if (rc != 0 || out.size() != size.width() * size.height() * 3)
        return {};
    return QImage(reinterpret_cast<const uchar*>(out.constData()), size.width(), size.height(),
                  size.width() * 3, QImage::Format_RGB888)
        .copy();
}

// Everything a player reported, with the thread each event came on.
struct EventLog {
    struct Open {
        int64_t duration;
        int width;
        int height;
    };
    std::vector<Open> opens;
    std::vector<int64_t> positions;
    std::vector<TPlayState> states;
    bool offGuiThread = false;
    // Screen size the OnFileOpen handler sets; empty leaves the player's default.
    QSize screen;

    explicit EventLog(TFFPlayer& player) {
        QObject::connect(&player, &TFFPlayer::OnFileOpen,
                         [this](int64_t d, int w, int h, int& sw, int& sh) {
                             note();
                             opens.push_back({d, w, h});
                             if (!screen.isEmpty()) {
                                 sw = screen.width();
                                 sh = screen.height();
                             }
                         });
        QObject::connect(&player, &TFFPlayer::OnPosition, [this](int64_t pts) {
            note();
            positions.push_back(pts);
        });
        QObject::connect(&player, &TFFPlayer::OnState, [this](TPlayState s) {
            note();
            states.push_back(s);
        });
    }
    void note() {
        if (QThread::currentThread() != qApp->thread())
            offGuiThread = true;
    }
    int count(TPlayState s) const { return int(std::count(states.begin(), states.end(), s)); }
    size_t total() const { return opens.size() + positions.size() + states.size(); }
};

// A sink that remembers what it was given.
class RecordingSink : public RenderSink {
public:
    void presentPicture(const QImage& picture, int64_t ptsUs) override {
        std::lock_guard lock(mutex_);
        last_ = picture;
        ++count_;
        lastPts_ = ptsUs;
    }
    void clearPicture() override {
        std::lock_guard lock(mutex_);
        last_ = QImage();
        cleared_ = true;
    }
    int count() const {
        std::lock_guard lock(mutex_);
        return count_;
    }
    QImage last() const {
        std::lock_guard lock(mutex_);
        return last_;
    }
    bool cleared() const {
        std::lock_guard lock(mutex_);
        return cleared_;
    }

private:
    mutable std::mutex mutex_;
    QImage last_;
    int count_ = 0;
    int64_t lastPts_ = -1;
    bool cleared_ = false;
};

// --- opening ---------------------------------------------------------------------------------

TEST(Player, OpenReportsTheFileBeforeReturningAndShowsTheFirstPicture) {
    const QString file = playMov();
    ASSERT_FALSE(file.isEmpty());
    RecordingSink sink; // outlives the player, which uses it until closing
    TFFPlayer player;
    EventLog log(player);
    log.screen = QSize(256, 183);
    EXPECT_TRUE(player.PlayerPaused()) << "nothing open counts as paused";
    EXPECT_EQ(player.PlayerPosition(), -1);

    ASSERT_TRUE(player.PlayerOpen(file, &sink, false)) << player.LastError().toStdString();
    ASSERT_EQ(log.opens.size(), 1u) << "OnFileOpen must run inside PlayerOpen";
    EXPECT_NEAR(double(log.opens[0].duration), 6.0 * kSecond, 60000);
    EXPECT_EQ(log.opens[0].width, 320);
    EXPECT_EQ(log.opens[0].height, 240);
    // The first picture is there when PlayerOpen returns, at the screen size with the
    // video's 4:3 kept.
    const QImage first = player.PlayerPicture();
    EXPECT_EQ(first.size(), QSize(244, 183));
    EXPECT_GE(sink.count(), 1);
    EXPECT_EQ(sink.last().size(), QSize(244, 183));
    EXPECT_LT(meanDifference(
                  first, ffmpegFrame(file, 0, {320, 240})
                             .scaled(244, 183, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)),
              15);
    EXPECT_TRUE(log.states.empty()) << "state events are queued, not sent inside PlayerOpen";

    EXPECT_TRUE(player.PlayerProbe().IsOpen());
    EXPECT_EQ(player.PlayerProbe().VideoStreamCount(), 1);
    EXPECT_TRUE(player.ProbeDescription().contains("Video: h264"));
    EXPECT_FALSE(player.PlayerPaused());

    ASSERT_TRUE(waitUntil([&] { return !log.states.empty(); }, 3000));
    EXPECT_EQ(log.states.front(), psPlay);
    EXPECT_FALSE(log.offGuiThread);

    player.PlayerStop(true);
    EXPECT_TRUE(sink.cleared());
    EXPECT_FALSE(player.PlayerProbe().IsOpen());
    EXPECT_TRUE(player.ProbeDescription().isEmpty());
    EXPECT_TRUE(player.PlayerPicture().isNull());
    EXPECT_EQ(player.PlayerPosition(), -1);
    ASSERT_TRUE(waitUntil([&] { return log.count(psStop) == 1; }, 3000));
}

TEST(Player, DefaultScreenSizeIsTheFrameSizeAndStartPausedHoldsTheFirstPicture) {
    TFFPlayer player;
    EventLog log(player);
    ASSERT_TRUE(player.PlayerOpen(playMov(), nullptr, true));
    EXPECT_EQ(player.PlayerPicture().size(), QSize(320, 240));
    EXPECT_TRUE(player.PlayerPaused());
    spin(400);
    EXPECT_EQ(player.PlayerPosition(), 0);
    ASSERT_FALSE(log.states.empty());
    EXPECT_EQ(log.states.front(), psPause);
}

// --- real-time playback ------------------------------------------------------------------------

TEST(Player, PositionsFollowRealTimePauseHoldsAndResumeContinues) {
    RecordingSink sink; // outlives the player, which uses it until closing
    TFFPlayer player;
    EventLog log(player);
    ASSERT_TRUE(player.PlayerOpen(playMov(), &sink, false));
    QElapsedTimer wall;
    wall.start();
    spin(1500);
    const int64_t played = player.PlayerPosition();
    const int64_t elapsedUs = wall.elapsed() * 1000;
    // Generous bounds: the machine may be busy, but playback must neither race nor stall.
    EXPECT_GT(played, elapsedUs * 4 / 10) << "playback stalled";
    EXPECT_LT(played, elapsedUs + 200000) << "playback ran ahead of real time";
    ASSERT_GE(log.positions.size(), 3u);
    EXPECT_TRUE(std::is_sorted(log.positions.begin(), log.positions.end()));
    EXPECT_GT(sink.count(), 5);

    player.PlayerPause();
    EXPECT_TRUE(player.PlayerPaused());
    spin(150); // a picture decoded before the pause may still land
    const int64_t held = player.PlayerPosition();
    const QImage heldPicture = player.PlayerPicture();
    spin(600);
    EXPECT_EQ(player.PlayerPosition(), held) << "pause must hold the position";
    EXPECT_EQ(meanDifference(player.PlayerPicture(), heldPicture), 0);
    player.PlayerPause(); // a second pause does nothing
    EXPECT_EQ(log.count(psPause), 1);

    player.PlayerResume();
    EXPECT_FALSE(player.PlayerPaused());
    spin(800);
    EXPECT_GT(player.PlayerPosition(), held + 200000) << "resume must continue";
    EXPECT_LT(player.PlayerPosition(), held + 1200000) << "time paused must not be made up";
    EXPECT_EQ(log.count(psResume), 1);
    EXPECT_FALSE(log.offGuiThread) << "events must arrive on the GUI thread";
}

// --- seeking -----------------------------------------------------------------------------------

struct SeekCase {
    const char* name;
    uint8_t flags;
    int64_t targetUs;
    int expectedFrame; // picture at the target (25 fps)
};

class PlayerSeek : public testing::TestWithParam<SeekCase> {};

TEST_P(PlayerSeek, ShowsTheTargetPicturePromptlyWhilePaused) {
    const SeekCase c = GetParam();
    const QString file = playMov();
    TFFPlayer player;
    EventLog log(player);
    ASSERT_TRUE(player.PlayerOpen(file, nullptr, false));
    spin(300);
    player.PlayerPause();
    spin(100);
    const size_t before = log.positions.size();

    QElapsedTimer wall;
    wall.start();
    player.PlayerSeek(c.flags, c.targetUs);
    const int64_t expectedUs = int64_t{c.expectedFrame} * kFrame25;
    ASSERT_TRUE(waitUntil([&] { return player.PlayerPosition() == expectedUs; }, 5000))
        << "position " << player.PlayerPosition() << ", expected " << expectedUs;
    EXPECT_LT(wall.elapsed(), 3000) << "the new picture must come promptly";
    ASSERT_TRUE(waitUntil([&] { return log.positions.size() > before; }, 2000));
    EXPECT_EQ(log.positions.back(), expectedUs);

    // It is the right picture, not just the right number: closer to ffmpeg's picture of that
    // frame than to its neighbours'.
    const QImage shown = player.PlayerPicture();
    const double here = meanDifference(shown, ffmpegFrame(file, c.expectedFrame, {320, 240}));
    EXPECT_LT(here, 12);
    EXPECT_LT(here, meanDifference(shown, ffmpegFrame(file, c.expectedFrame + 2, {320, 240})));
    if (c.expectedFrame >= 2) {
        EXPECT_LT(here, meanDifference(shown, ffmpegFrame(file, c.expectedFrame - 2, {320, 240})));
    }

    // Still paused afterwards.
    spin(400);
    EXPECT_TRUE(player.PlayerPaused());
    EXPECT_EQ(player.PlayerPosition(), expectedUs);
    // And playing on from there after a resume (unless that was the end).
    if (c.expectedFrame < 140) {
        player.PlayerResume();
        spin(500);
        EXPECT_GT(player.PlayerPosition(), expectedUs);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlayerSeek,
    testing::Values(SeekCase{"KeyFrameBeforeTheMiddle", 0, 3 * kSecond, 50},
                    SeekCase{"KeyFrameAtOrBefore", 0, 4 * kSecond + 900000, 100},
                    SeekCase{"AnyFrameInTheMiddle", 4, 3 * kSecond, 75},
                    SeekCase{"AnyFrameBetweenPictures", 4, 2 * kSecond + 530000, 63},
                    SeekCase{"AnyFrameBackToStart", 4, 0, 0},
                    SeekCase{"AnyFrameBeyondTheEndShowsTheLast", 4, 9 * kSecond, 149}),
    [](const testing::TestParamInfo<SeekCase>& info) { return std::string(info.param.name); });

TEST(Player, ReportsTheEndOnceAndRewindsLikeThePreview) {
    const QString file = oneSecondMov();
    TFFPlayer player;
    EventLog log(player);
    ASSERT_TRUE(player.PlayerOpen(file, nullptr, false));
    ASSERT_TRUE(waitUntil([&] { return log.count(psEnd) > 0; }, 8000)) << "no psEnd";
    EXPECT_EQ(player.PlayerPosition(), 24 * kFrame25) << "the last picture was shown";
    spin(600);
    EXPECT_EQ(log.count(psEnd), 1) << "the end is reported once";

    // What the preview does at the end: back to the start, paused on the first picture.
    player.PlayerSeek(TFFPlayer::SeekAnyFrame, 0);
    player.PlayerPause();
    ASSERT_TRUE(waitUntil([&] { return player.PlayerPosition() == 0; }, 3000));
    EXPECT_LT(meanDifference(player.PlayerPicture(), ffmpegFrame(file, 0, {160, 120})), 12);
    spin(300);
    EXPECT_EQ(player.PlayerPosition(), 0);
    EXPECT_EQ(log.count(psEnd), 1);

    // Playing on reaches the end again, and says so again.
    player.PlayerResume();
    ASSERT_TRUE(waitUntil([&] { return log.count(psEnd) == 2; }, 8000));
    EXPECT_FALSE(log.offGuiThread);
}

// --- the hook ----------------------------------------------------------------------------------

TEST(Player, HookRunsOffTheGuiThreadAtSourceSizeAndItsChangesAreShown) {
    TFFPlayer player;
    EventLog log(player);
    log.screen = QSize(160, 120);
    std::atomic<int> calls{0};
    std::atomic<bool> onGui{false};
    std::atomic<bool> wrongSize{false};
    std::atomic<int64_t> lastPts{-1};
    player.OnHook = [&](QImage& bitmap, int64_t pts) {
        ++calls;
        if (QThread::currentThread() == qApp->thread())
            onGui = true;
        if (bitmap.size() != QSize(320, 240))
            wrongSize = true;
        lastPts = pts;
        QPainter p(&bitmap);
        p.fillRect(0, 0, bitmap.width() / 2, bitmap.height(), Qt::green);
    };
    player.SetHook(true);
    ASSERT_TRUE(player.PlayerOpen(playMov(), nullptr, false));
    spin(500);
    EXPECT_GT(calls.load(), 3);
    EXPECT_FALSE(onGui.load()) << "the hook must run on the player's thread";
    EXPECT_FALSE(wrongSize.load()) << "the hook sees the source's own size";
    EXPECT_GE(lastPts.load(), 0);

    const QImage shown = player.PlayerPicture();
    ASSERT_EQ(shown.size(), QSize(160, 120)) << "shown at the screen size after the hook";
    EXPECT_EQ(QColor(shown.pixel(20, 60)), QColor(Qt::green));
    EXPECT_NE(QColor(shown.pixel(140, 60)), QColor(Qt::green));

    // Switching the hook off shows the plain pictures again.
    player.SetHook(false);
    const int before = calls.load();
    spin(400);
    EXPECT_LE(calls.load(), before + 1);
    EXPECT_NE(QColor(player.PlayerPicture().pixel(20, 60)), QColor(Qt::green));
}

TEST(Player, AHookThatThrowsDoesNotStopPlayback) {
    TFFPlayer player;
    std::atomic<int> calls{0};
    player.OnHook = [&](QImage&, int64_t) {
        ++calls;
        throw std::runtime_error("broken effect");
    };
    player.SetHook(true);
    ASSERT_TRUE(player.PlayerOpen(playMov(), nullptr, false));
    const int64_t start = player.PlayerPosition();
    spin(700);
    EXPECT_GT(calls.load(), 3);
    EXPECT_GT(player.PlayerPosition(), start + 200000);
    EXPECT_FALSE(player.PlayerPicture().isNull());
}

// --- audio -------------------------------------------------------------------------------------

TEST(Player, VolumeAndMuteReachTheAudioOutput) {
    TFFPlayer player;
    EXPECT_EQ(player.AudioVolume(), 128);
    EXPECT_FALSE(player.Mute());
    player.SetAudioVolume(500);
    EXPECT_EQ(player.AudioVolume(), 128);
    player.SetAudioVolume(-4);
    EXPECT_EQ(player.AudioVolume(), 0);
    player.SetAudioVolume(128);

    ASSERT_TRUE(player.PlayerOpen(playMov(), nullptr, false));
    const QString output = player.Statistics().audioOutput;
    EXPECT_TRUE(output == "device" || output == "wall clock") << output.toStdString();
    // The sine tone is at 1/8 of full scale.
    ASSERT_TRUE(waitUntil([&] { return player.Statistics().audioPeak > 3000; }, 3000));
    const int full = player.Statistics().audioPeak;

    player.SetAudioVolume(64);
    ASSERT_TRUE(waitUntil(
        [&] { return std::abs(player.Statistics().audioPeak - full / 2) < full / 10; }, 3000))
        << player.Statistics().audioPeak << " at half volume, " << full << " at full";

    player.SetMute(true);
    ASSERT_TRUE(waitUntil([&] { return player.Statistics().audioPeak == 0; }, 3000));
    player.SetMute(false);
    ASSERT_TRUE(waitUntil([&] { return player.Statistics().audioPeak > 0; }, 3000));
    EXPECT_EQ(player.AudioVolume(), 64) << "mute keeps the volume";
}

TEST(Player, ApplyVolumeScalesAndSilences) {
    struct Case {
        int volume;
        bool mute;
        int16_t in;
        int16_t out;
    };
    for (const Case c :
         {Case{128, false, -32768, -32768}, Case{64, false, 1000, 500},
          Case{64, false, -1000, -500}, Case{1, false, 12800, 100}, Case{0, false, 1000, 0},
          Case{128, true, 1000, 0}, Case{200, false, 1000, 1000}}) {
        int16_t s[2] = {c.in, c.in};
        const int peak = vorlin::media::applyVolume(s, 2, c.volume, c.mute);
        EXPECT_EQ(s[0], c.out) << "volume " << c.volume << " mute " << c.mute;
        EXPECT_EQ(s[1], c.out);
        EXPECT_EQ(peak, std::min(32767, std::abs(int(c.out))));
    }
}

// --- files with one kind of stream, turned and deep pictures -------------------------------------

TEST(Player, PlaysWhatAFileHas) {
    {
        SCOPED_TRACE("video only");
        TFFPlayer player;
        EventLog log(player);
        ASSERT_TRUE(player.PlayerOpen(videoOnlyMov(), nullptr, false));
        ASSERT_EQ(log.opens.size(), 1u);
        EXPECT_EQ(log.opens[0].width, 160);
        EXPECT_EQ(player.Statistics().audioOutput, "none");
        ASSERT_TRUE(waitUntil([&] { return log.count(psEnd) == 1; }, 8000));
        EXPECT_EQ(player.PlayerPosition(), 29 * kFrame25);
    }
    {
        SCOPED_TRACE("audio only");
        TFFPlayer player;
        EventLog log(player);
        ASSERT_TRUE(player.PlayerOpen(audioOnlyMov(), nullptr, false));
        ASSERT_EQ(log.opens.size(), 1u);
        EXPECT_EQ(log.opens[0].width, 0);
        EXPECT_EQ(log.opens[0].height, 0);
        EXPECT_NEAR(double(log.opens[0].duration), 1.2 * kSecond, 60000);
        EXPECT_TRUE(player.PlayerPicture().isNull());
        ASSERT_TRUE(waitUntil([&] { return player.PlayerPosition() > 300000; }, 5000))
            << "the audio position must advance";
        ASSERT_TRUE(waitUntil([&] { return log.count(psEnd) == 1; }, 8000));
        EXPECT_GT(log.positions.size(), 3u);
        EXPECT_TRUE(std::is_sorted(log.positions.begin(), log.positions.end()));
        EXPECT_NEAR(double(player.PlayerPosition()), 1.2 * kSecond, 250000);

        // Seeking without pictures moves the audio position.
        player.PlayerPause();
        player.PlayerSeek(TFFPlayer::SeekAnyFrame, 500000);
        ASSERT_TRUE(
            waitUntil([&] { return std::abs(player.PlayerPosition() - 500000) < 50000; }, 3000))
            << player.PlayerPosition();
    }
}

struct PictureCase {
    const char* name;
    QString (*file)();
    QSize upright;
};

class PlayerPictures : public testing::TestWithParam<PictureCase> {};

TEST_P(PlayerPictures, MatchWhatFfmpegDecodes) {
    const PictureCase c = GetParam();
    const QString file = c.file();
    ASSERT_FALSE(file.isEmpty());
    TFFPlayer player;
    EventLog log(player);
    ASSERT_TRUE(player.PlayerOpen(file, nullptr, true)) << player.LastError().toStdString();
    ASSERT_EQ(log.opens.size(), 1u);
    EXPECT_EQ(QSize(log.opens[0].width, log.opens[0].height), c.upright);
    const QImage shown = player.PlayerPicture();
    ASSERT_EQ(shown.size(), c.upright);
    EXPECT_LT(meanDifference(shown, ffmpegFrame(file, 0, c.upright)), 6);
    // Plays to the end.
    player.PlayerResume();
    ASSERT_TRUE(waitUntil([&] { return log.count(psEnd) == 1; }, 8000));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlayerPictures,
    testing::Values(PictureCase{"RotatedShowsUpright", &rotatedMov, {120, 160}},
                    PictureCase{"ProRes422TenBit", &prores422Mov, {160, 120}},
                    PictureCase{"H264High422TenBit", &x264High422Mov, {160, 120}}),
    [](const testing::TestParamInfo<PictureCase>& info) { return std::string(info.param.name); });

TEST(Player, RotatedPictureHasTheBlockWhereTheViewerExpectsIt) {
    TFFPlayer player;
    ASSERT_TRUE(player.PlayerOpen(rotatedMov(), nullptr, true));
    const QImage shown = player.PlayerPicture();
    ASSERT_EQ(shown.size(), QSize(120, 160));
    // The display matrix turns the stored picture a quarter counter-clockwise: its top-left
    // corner ends up at the bottom left.
    const QColor bottomLeft = shown.pixelColor(10, 150);
    EXPECT_GT(bottomLeft.red(), 180);
    EXPECT_LT(bottomLeft.green(), 80);
    for (const QPoint p : {QPoint(10, 10), QPoint(110, 10), QPoint(110, 150)})
        EXPECT_LT(shown.pixelColor(p).red(), 180) << p.x() << "," << p.y();
}

// --- bad input and hard sequences ----------------------------------------------------------------

TEST(Player, BadFilesAreRefusedQuietly) {
    const QString home = testHome();
    const QString empty = home + "/empty.mov";
    QFile(empty).open(QIODevice::WriteOnly);
    const QString text = home + "/notes.mov";
    {
        QFile f(text);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("These are no moving pictures, just a few words.\n");
    }
    // The index of these files sits at their end: a cut copy cannot be opened.
    const QString cut = home + "/cut.mov";
    {
        QFile src(playMov());
        ASSERT_TRUE(src.open(QIODevice::ReadOnly));
        QFile f(cut);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(src.read(20000));
    }
    QDir(home).mkdir("folder.mov");

    // A first file opened and closed, so that whatever the system starts once is running.
    TFFPlayer player;
    ASSERT_TRUE(player.PlayerOpen(oneSecondMov(), nullptr, false));
    player.PlayerStop(true);
    spin(100);
    EventLog log(player);
    const int threads = threadCount();

    for (const QString& path :
         {home + "/missing.mov", empty, text, cut, home + "/folder.mov", QString()}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_FALSE(player.PlayerOpen(path, nullptr, false));
        EXPECT_FALSE(player.LastError().isEmpty());
        EXPECT_FALSE(player.IsOpen());
        EXPECT_TRUE(player.PlayerPaused());
        EXPECT_EQ(player.PlayerPosition(), -1);
        EXPECT_TRUE(player.PlayerPicture().isNull());
        EXPECT_EQ(threadCount(), threads) << "no thread may be left running";
    }
    spin(300);
    EXPECT_EQ(log.total(), 0u) << "a refused file sends no events";

    // Operations on a closed player do nothing.
    player.PlayerPause();
    player.PlayerResume();
    player.PlayerSeek(0, 1000);
    player.PlayerStop(true);
    spin(100);
    EXPECT_EQ(log.total(), 0u);

    // A refused file closes the one that was open.
    ASSERT_TRUE(player.PlayerOpen(oneSecondMov(), nullptr, false));
    EXPECT_FALSE(player.PlayerOpen(text, nullptr, false));
    EXPECT_FALSE(player.IsOpen());
    EXPECT_TRUE(player.PlayerPicture().isNull());
}

TEST(Player, AFileCutWhilePlayingEndsPlayback) {
    const QString copy = testHome() + "/shrinking.mov";
    ASSERT_TRUE(QFile::copy(fastStartMov(), copy));
    TFFPlayer player;
    EventLog log(player);
    ASSERT_TRUE(player.PlayerOpen(copy, nullptr, false));
    spin(300);
    {
        QFile f(copy);
        ASSERT_TRUE(f.resize(f.size() * 4 / 10));
    }
    ASSERT_TRUE(waitUntil([&] { return log.count(psEnd) + log.count(psStop) > 0; }, 10000))
        << "playback must end";
    EXPECT_LT(player.PlayerPosition(), 5 * kSecond);
    player.PlayerStop(true);
}

TEST(Player, ReopeningWhilePlayingAndStoppingDuringSeeksNeverHang) {
    RecordingSink sink; // outlives the player, which uses it until closing
    TFFPlayer player;
    EventLog log(player);
    const QString a = playMov();
    const QString b = oneSecondMov();
    ASSERT_TRUE(player.PlayerOpen(a, &sink, false));
    spin(100);
    const int threadsPlaying = threadCount();
    QElapsedTimer wall;
    wall.start();
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(player.PlayerOpen(i % 2 ? a : b, &sink, false));
        spin(i * 20);
        player.PlayerSeek(i % 2 ? 4 : 0, (i + 1) * 700000);
    }
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(player.PlayerOpen(a, &sink, i % 2 == 0));
        player.PlayerSeek(4, 3 * kSecond);
        player.PlayerSeek(0, 1 * kSecond);
        if (i % 3 == 0)
            spin(30);
        player.PlayerStop(true);
    }
    EXPECT_LT(wall.elapsed(), 30000);
    EXPECT_FALSE(player.IsOpen());
    EXPECT_TRUE(sink.cleared());
    spin(200);
    EXPECT_LT(threadCount(), threadsPlaying) << "the player's threads ended";

    // Only events of files still open get through: after the last stop, nothing but psStop.
    const size_t settled = log.total();
    spin(300);
    EXPECT_EQ(log.total(), settled);
    EXPECT_EQ(log.states.back(), psStop);
}

TEST(Player, HandlerThatStopsThePlayerIsSafe) {
    TFFPlayer player;
    int ends = 0;
    QObject::connect(&player, &TFFPlayer::OnState, [&](TPlayState s) {
        if (s == psEnd) {
            ++ends;
            player.PlayerStop(true);
        }
    });
    QObject::connect(&player, &TFFPlayer::OnPosition, [&](int64_t) { player.PlayerPause(); });
    ASSERT_TRUE(player.PlayerOpen(oneSecondMov(), nullptr, false));
    spin(200);
    EXPECT_TRUE(player.PlayerPaused()) << "paused from the position handler";
    player.OnHook = [&](QImage&, int64_t) {
        player.OnHook = nullptr;
    }; // clears itself
    player.SetHook(true);
    QObject::disconnect(&player, &TFFPlayer::OnPosition, nullptr, nullptr);
    player.PlayerResume();
    ASSERT_TRUE(waitUntil([&] { return !player.IsOpen(); }, 8000));
    EXPECT_EQ(ends, 1);
    EXPECT_FALSE(static_cast<bool>(player.OnHook));
}

// --- the surface -------------------------------------------------------------------------------

TEST(VideoSurface, PaintsThePlayersPictureFittedAndClearsIt) {
    vorlin::widgets::VideoSurface surface;
    surface.resize(256, 183);
    surface.setBackgroundColor(Qt::gray);
    QImage picture(200, 100, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    std::thread([&] { surface.presentPicture(picture, 0); }).join();
    QCoreApplication::processEvents();
    EXPECT_EQ(surface.pictureRect(), QRect(0, 27, 256, 128));
    QImage grabbed = surface.grab().toImage();
    EXPECT_EQ(QColor(grabbed.pixel(128, 91)), QColor(Qt::blue));
    EXPECT_EQ(QColor(grabbed.pixel(128, 5)), QColor(Qt::gray));

    surface.clearPicture();
    QCoreApplication::processEvents();
    EXPECT_TRUE(surface.currentPicture().isNull());
    grabbed = surface.grab().toImage();
    EXPECT_EQ(QColor(grabbed.pixel(128, 91)), QColor(Qt::gray));
}

TEST(VideoSurface, ShowsWhatThePlayerPlays) {
    vorlin::widgets::VideoSurface surface;
    surface.resize(256, 183);
    TFFPlayer player;
    QObject::connect(&player, &TFFPlayer::OnFileOpen, [&](int64_t, int, int, int& sw, int& sh) {
        sw = surface.width();
        sh = surface.height();
    });
    ASSERT_TRUE(player.PlayerOpen(playMov(), &surface, true));
    EXPECT_EQ(surface.currentPicture().size(), QSize(244, 183));
    EXPECT_EQ(meanDifference(surface.currentPicture(), player.PlayerPicture()), 0);
    player.PlayerStop(true);
    EXPECT_TRUE(surface.currentPicture().isNull());
}

} // namespace
