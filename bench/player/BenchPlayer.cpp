// Plays a generated 1920x1080 30 fps H.264 + AAC file for 20 s into the preview's two panel
// sizes and prints what the player achieved: pictures shown and dropped, lateness, audio-video
// drift, CPU time per second of playback, and how long seeks take to show their picture.

#include "media/FFPlayer.h"
#include "widgets/VideoSurface.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace {

constexpr int64_t kSecond = 1000000;
constexpr int kPlaySeconds = 20;

QString makeFixture() {
    const QString dir = QStringLiteral(VORLIN_BENCH_FIXTURE_DIR);
    QDir().mkpath(dir);
    const QString path = dir + "/bench-1080p30-20s.mov";
    if (QFileInfo(path).size() > 0)
        return path;
    const QString part = dir + "/.part-bench-1080p30-20s.mov";
    std::printf("making %s (once) ...\n", qPrintable(path));
    std::fflush(stdout);
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(
        "ffmpeg",
        {"-y",   "-hide_banner", "-loglevel", "error",
         "-f",   "lavfi",        "-i",        "testsrc2=size=1920x1080:rate=30:duration=20",
         "-f",   "lavfi",        "-i",        "sine=frequency=440:sample_rate=48000:duration=20",
         "-c:v", "libx264",      "-preset",   "veryfast",
         "-g",   "60",           "-pix_fmt",  "yuv420p",
         "-c:a", "aac",          "-ac",       "2",
         "-b:a", "128k",         "-f",        "mov",
         part});
    if (!p.waitForFinished(-1) || p.exitCode() != 0 || !QFile::rename(part, path)) {
        QFile::remove(part);
        return {};
    }
    return path;
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void spin(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

// Forwards pictures to the surface and notes when a picture of a wanted range arrives.
class TimingSink : public vorlin::media::RenderSink {
public:
    explicit TimingSink(vorlin::widgets::VideoSurface& surface) : surface_(surface) {}
    void presentPicture(const QImage& picture, int64_t ptsUs) override {
        surface_.presentPicture(picture, ptsUs);
        std::lock_guard lock(mutex_);
        if (waiting_ && ptsUs >= fromUs_ && ptsUs <= toUs_) {
            waiting_ = false;
            latencyUs_ = timer_.nsecsElapsed() / 1000;
        }
    }
    void clearPicture() override { surface_.clearPicture(); }

    // Starts timing; the next picture within [fromUs, toUs] stops it.
    void expect(int64_t fromUs, int64_t toUs) {
        std::lock_guard lock(mutex_);
        fromUs_ = fromUs;
        toUs_ = toUs;
        latencyUs_ = -1;
        waiting_ = true;
        timer_.start();
    }
    int64_t latencyUs() const {
        std::lock_guard lock(mutex_);
        return latencyUs_;
    }

private:
    vorlin::widgets::VideoSurface& surface_;
    mutable std::mutex mutex_;
    QElapsedTimer timer_;
    bool waiting_ = false;
    int64_t fromUs_ = 0;
    int64_t toUs_ = 0;
    int64_t latencyUs_ = -1;
};

struct SeekFigures {
    double medianMs = -1;
    double worstMs = -1;
    int failed = 0;
};

SeekFigures measureSeeks(TFFPlayer& player, TimingSink& sink, uint8_t flags) {
    // Targets far apart, so that no picture of the old place can be taken for the new one.
    const int64_t targets[] = {12300000, 3100000, 16700000, 7900000, 1400000,
                               14200000, 5600000, 18100000, 9800000, 2600000};
    std::vector<double> ms;
    SeekFigures f;
    for (const int64_t target : targets) {
        // Key-frame seeks land on the key frame before (one every 2 s); exact ones on target.
        const int64_t from = flags == 0 ? target - 2 * kSecond - 1 : target - 34000;
        sink.expect(from, target + 34000);
        player.PlayerSeek(flags, target);
        QElapsedTimer t;
        t.start();
        while (sink.latencyUs() < 0 && t.elapsed() < 3000)
            spin(1);
        if (sink.latencyUs() < 0)
            ++f.failed;
        else
            ms.push_back(sink.latencyUs() / 1000.0);
        spin(300); // let playback settle before the next jump
    }
    if (!ms.empty()) {
        std::sort(ms.begin(), ms.end());
        f.medianMs = ms[ms.size() / 2];
        f.worstMs = ms.back();
    }
    return f;
}

bool runTarget(const QString& file, QSize panel) {
    vorlin::widgets::VideoSurface surface;
    surface.resize(panel);
    surface.show();
    TimingSink sink(surface);
    TFFPlayer player;
    bool ended = false;
    QObject::connect(&player, &TFFPlayer::OnState, [&](TPlayState s) { ended |= s == psEnd; });
    QObject::connect(&player, &TFFPlayer::OnFileOpen, [&](int64_t, int, int, int& w, int& h) {
        w = panel.width();
        h = panel.height();
    });

    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    if (!player.PlayerOpen(file, &sink, false)) {
        std::printf("cannot open: %s\n", qPrintable(player.LastError()));
        return false;
    }
    const QSize rendered = player.PlayerPicture().size();
    while (!ended && wall.elapsed() < (kPlaySeconds + 10) * 1000)
        spin(20);
    const double seconds = wall.nsecsElapsed() / 1e9;
    const double cpu = cpuSeconds() - cpu0;
    const vorlin::media::PlayerStatistics st = player.Statistics();

    // Seek latency, while playing.
    player.PlayerSeek(0, 0);
    spin(500);
    const SeekFigures keyFrame = measureSeeks(player, sink, 0);
    const SeekFigures anyFrame = measureSeeks(player, sink, 4);
    player.PlayerStop(true);

    const int64_t total = st.framesShown + st.framesDropped;
    std::printf("\npanel %dx%d (pictures rendered at %dx%d), audio output: %s\n", panel.width(),
                panel.height(), rendered.width(), rendered.height(), qPrintable(st.audioOutput));
    std::printf("  played                 %.2f s wall for %d s of media%s\n", seconds, kPlaySeconds,
                ended ? "" : " (no end reported!)");
    std::printf("  frames shown           %lld\n", static_cast<long long>(st.framesShown));
    std::printf("  frames dropped         %lld (%.2f %%)\n",
                static_cast<long long>(st.framesDropped),
                total ? 100.0 * double(st.framesDropped) / double(total) : 0.0);
    std::printf("  lateness mean / worst  %.2f ms / %.2f ms\n",
                st.framesShown ? st.latenessSumUs / 1000.0 / double(st.framesShown) : 0.0,
                st.latenessMaxUs / 1000.0);
    std::printf("  A/V drift mean / worst %.2f ms / %.2f ms; %lld of %lld pictures beyond 40 ms\n",
                st.driftSamples ? st.driftAbsSumUs / 1000.0 / double(st.driftSamples) : 0.0,
                st.driftAbsMaxUs / 1000.0, static_cast<long long>(st.driftOver40Ms),
                static_cast<long long>(st.driftSamples));
    std::printf("  CPU per playback second %.3f s/s\n", cpu / seconds);
    std::printf("  seek latency, key frame  median %.1f ms, worst %.1f ms, %d not shown\n",
                keyFrame.medianMs, keyFrame.worstMs, keyFrame.failed);
    std::printf("  seek latency, any frame  median %.1f ms, worst %.1f ms, %d not shown\n",
                anyFrame.medianMs, anyFrame.worstMs, anyFrame.failed);
    std::fflush(stdout);
    return ended;
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const QString file = makeFixture();
    if (file.isEmpty()) {
        std::printf("the ffmpeg command could not make the test file\n");
        return 2;
    }
    std::printf("file: %s (1920x1080, 30 fps, H.264 + AAC, 20 s)\n", qPrintable(file));
    std::printf("machine: %d cores\n", QThread::idealThreadCount());
    bool ok = runTarget(file, QSize(256, 183));
    ok = runTarget(file, QSize(440, 330)) && ok;
    return ok ? 0 : 1;
}
