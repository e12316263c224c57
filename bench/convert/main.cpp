// bench-convert: converts one generated 1280x720 H.264/AAC QuickTime file (20 s) with our
// converter and with the ffmpeg command under identical settings, alternating the two, and
// prints the median wall-time ratio of back-to-back pairs and the peak memory of each case,
// plus what the frame hook costs when it is switched on with a handler that changes nothing.
//
//   bench-convert [--runs N] [--work DIR]
//
// Every conversion runs in a child process of its own (ours is this program started with
// --run-one), so wall time and peak resident memory are measured the same way for both.
#include "media/FFmpegVCL.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

extern char** environ;

namespace {

struct Measure {
    double seconds = 0;
    double cpuSeconds = 0;
    double peakMb = 0;
    bool ok = false;
};

// Runs a program and waits; wall time and the child's peak resident set.
Measure runChild(const QStringList& argv) {
    std::vector<QByteArray> storage;
    for (const QString& a : argv)
        storage.push_back(a.toLocal8Bit());
    std::vector<char*> args;
    for (auto& s : storage)
        args.push_back(s.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    Measure m;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return m;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) < 0)
        return m;
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.peakMb = usage.ru_maxrss / 1024.0;
    m.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                   usage.ru_stime.tv_usec / 1e6;
    m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return m;
}

struct Case {
    const char* name;
    const char* extension;
    QStringList ffmpegArgs; // between the input and the output
};

// The options our converter gets for a case; the same settings as the ffmpeg arguments.
void fillOptions(const QString& name, TInputOptions& in, TOutputOptions& out) {
    if (name == "x264") {
        out.VideoCodec = "libx264";
        out.VideoBitRate = 800000;
        out.AudioCodec = "aac";
        out.AudioBitRate = 128000;
    } else if (name == "dvd") {
        out.TargetType = 3;
        out.TargetNorm = 1;
    } else if (name == "mp3") {
        in.ExtraOptions = "vn=1";
        out.VideoDisabled = true;
        out.AudioCodec = "libmp3lame";
        out.AudioBitRate = 128000;
    }
}

// Child mode: one conversion with our converter; exit code 0 when it finished.
int runOne(const QString& name, const QString& input, const QString& output, bool hook) {
    TFFmpegVCL vcl;
    TInputOptions in;
    TOutputOptions out;
    fillOptions(name, in, out);
    out.CustomHook = hook;
    if (hook)
        vcl.OnCustomHook = [](PHookInfo&) {
        };
    const int task = vcl.AddTask(input, in);
    if (task < 0 || vcl.SetOutputFile(task, output, out) < 0) {
        std::fprintf(stderr, "%s\n", qPrintable(vcl.LastErrorMessage()));
        return 2;
    }
    bool finished = false;
    QObject::connect(&vcl, &TFFmpegVCL::OnTerminate, &vcl, [&](const TTerminateInfo& t) {
        if (t.TaskIndex == task) {
            finished = t.Finished;
            if (!t.Finished)
                std::fprintf(stderr, "%s\n", qPrintable(t.ExceptionMsg));
        }
        if (t.TaskIndex == -1)
            QCoreApplication::quit();
    });
    vcl.StartTask(1);
    QCoreApplication::exec();
    return finished ? 0 : 1;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 5 && args[1] == "--run-one")
        return runOne(args[2], args[3], args[4], args.size() > 5 && args[5] == "--hook");

    int runs = 3;
    QString work;
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--runs")
            runs = std::max(1, args[i + 1].toInt());
        if (args[i] == "--work")
            work = args[i + 1];
    }
    QTemporaryDir temp;
    if (work.isEmpty())
        work = temp.path();
    QDir().mkpath(work);
    const QString ffmpeg = QStandardPaths::findExecutable("ffmpeg");
    if (ffmpeg.isEmpty()) {
        std::fprintf(stderr, "the ffmpeg command is needed\n");
        return 1;
    }

    const QString source = work + "/bench-source-1280x720-20s.mov";
    if (!QFileInfo::exists(source)) {
        std::printf("making the source %s\n", qPrintable(source));
        std::fflush(stdout);
        const Measure m = runChild(
            {ffmpeg,     "-y",      "-v",      "error",
             "-f",       "lavfi",   "-i",      "testsrc2=size=1280x720:rate=25:duration=20",
             "-f",       "lavfi",   "-i",      "sine=frequency=440:sample_rate=44100:duration=20",
             "-c:v",     "libx264", "-preset", "veryfast",
             "-pix_fmt", "yuv420p", "-c:a",    "aac",
             "-b:a",     "128k",    "-f",      "mov",
             source});
        if (!m.ok) {
            std::fprintf(stderr, "could not make the source\n");
            return 1;
        }
    }

    const std::vector<Case> cases = {
        {"x264", "mp4", {"-c:v", "libx264", "-b:v", "800k", "-c:a", "aac", "-b:a", "128k"}},
        // The DVD target's standard sound is stereo; ffmpeg's -target keeps the source's
        // channel count, so it is asked for two channels to match.
        {"dvd", "mpg", {"-target", "pal-dvd", "-ac", "2"}},
        {"mp3", "mp3", {"-vn", "-c:a", "libmp3lame", "-b:a", "128k"}},
    };
    const QString self = QCoreApplication::applicationFilePath();
    std::printf("%d runs per side, alternating; median wall time, peak resident memory\n\n", runs);
    std::printf("%-6s %10s %10s %7s %10s %10s %7s %9s\n", "case", "ours s", "ffmpeg s", "ratio",
                "ours MB", "ffmpeg MB", "mem", "cpu ratio");
    bool allOk = true;
    for (const Case& c : cases) {
        std::vector<double> ours, theirs, oursMem, theirsMem, oursCpu, theirsCpu;
        const QString outOurs = work + "/ours." + c.extension;
        const QString outTheirs = work + "/ffmpeg." + c.extension;
        for (int r = 0; r < runs; ++r) {
            const bool oursFirst = r % 2 == 0;
            for (int k = 0; k < 2; ++k) {
                if ((k == 0) == oursFirst) {
                    QFile::remove(outOurs);
                    const Measure m = runChild({self, "--run-one", c.name, source, outOurs});
                    allOk = allOk && m.ok;
                    ours.push_back(m.seconds);
                    oursCpu.push_back(m.cpuSeconds);
                    oursMem.push_back(m.peakMb);
                } else {
                    QStringList a{ffmpeg, "-y", "-v", "error", "-i", source};
                    a << c.ffmpegArgs << outTheirs;
                    const Measure m = runChild(a);
                    allOk = allOk && m.ok;
                    theirs.push_back(m.seconds);
                    theirsCpu.push_back(m.cpuSeconds);
                    theirsMem.push_back(m.peakMb);
                }
            }
        }
        // The ratio is the median of the ratios of each back-to-back pair: a slow spell of the
        // machine then weighs on both sides of a pair instead of on a few runs of one side.
        std::vector<double> pairRatios, pairCpuRatios;
        for (size_t r = 0; r < ours.size() && r < theirs.size(); ++r) {
            pairRatios.push_back(ours[r] / theirs[r]);
            pairCpuRatios.push_back(oursCpu[r] / theirsCpu[r]);
        }
        const double o = median(ours), t = median(theirs);
        const double om = *std::max_element(oursMem.begin(), oursMem.end());
        const double tm = *std::max_element(theirsMem.begin(), theirsMem.end());
        std::printf("%-6s %10.2f %10.2f %7.3f %10.1f %10.1f %7.3f %9.3f\n", c.name, o, t,
                    median(pairRatios), om, tm, om / tm, median(pairCpuRatios));
        std::fflush(stdout);
    }

    // The hook's cost: the 720p x264 case with a handler that changes nothing.
    std::vector<double> hooked, plain, hookedCpu, plainCpu;
    for (int r = 0; r < runs; ++r) {
        const QString out = work + "/hook.mp4";
        for (int k = 0; k < 2; ++k) {
            const bool withHook = (k == 0) == (r % 2 == 0);
            QStringList a{self, "--run-one", "x264", source, out};
            if (withHook)
                a << "--hook";
            const Measure m = runChild(a);
            allOk = allOk && m.ok;
            (withHook ? hooked : plain).push_back(m.seconds);
            (withHook ? hookedCpu : plainCpu).push_back(m.cpuSeconds);
        }
    }
    std::vector<double> hookRatios, hookCpuRatios;
    for (size_t r = 0; r < hooked.size() && r < plain.size(); ++r) {
        hookRatios.push_back(hooked[r] / plain[r]);
        hookCpuRatios.push_back(hookedCpu[r] / plainCpu[r]);
    }
    std::printf("\nhook on (no-op handler) at 720p x264: %.2f s vs %.2f s off: overhead %+.1f %% "
                "(cpu %+.1f %%)\n",
                median(hooked), median(plain), (median(hookRatios) - 1) * 100,
                (median(hookCpuRatios) - 1) * 100);
    if (!allOk)
        std::printf("\nsome conversions failed; the figures above are not comparable\n");
    return allOk ? 0 : 1;
}
