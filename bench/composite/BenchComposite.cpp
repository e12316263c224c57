// bench-composite: cost of the effect passes and watermark items on 1280x720 frames, and of a
// whole conversion with them compared with the same conversion without the frame hook.
//
// usage: bench-composite [--frames N] [--seconds S] [--codec NAME]
//   --codec limits the conversion part to one encoder (mpeg4 or libx264), e.g. for profiling
#include "effects/FrameCompositing.h"
#include "effects/PixelRoutines.h"
#include "media/FFmpegVCL.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include <sys/resource.h>

using namespace vorlin::effects;

namespace {

constexpr int kW = 1280, kH = 720;

bool runFfmpeg(const QStringList& args, QByteArray* out = nullptr) {
    QProcess p;
    p.start("ffmpeg", QStringList{"-v", "error", "-y"} + args);
    if (!p.waitForFinished(600000) || p.exitCode() != 0) {
        std::fprintf(stderr, "ffmpeg failed: %s\n", p.readAllStandardError().constData());
        return false;
    }
    if (out)
        *out = p.readAllStandardOutput();
    return true;
}

// Mean and fastest time of one call in milliseconds; `prepare` runs untimed before each call.
struct Timing {
    double meanMs = 0, minMs = 0;
};

Timing timeIt(int rounds, const std::function<void()>& prepare, const std::function<void()>& work) {
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        prepare();
        QElapsedTimer t;
        t.start();
        work();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    Timing r;
    for (double v : ms)
        r.meanMs += v;
    r.meanMs /= double(ms.size());
    r.minMs = *std::min_element(ms.begin(), ms.end());
    return r;
}

void print(const char* what, const Timing& t) {
    std::printf("  %-44s %7.3f ms/frame (fastest %.3f)\n", what, t.meanMs, t.minMs);
}

TWmRec textItem(bool filled) {
    TWmRec item;
    item.Kind = TWmRec::KindText;
    item.Text = "Vorlin Video Converter 2024";
    item.Font.Name = "DejaVu Sans";
    item.Font.Size = 30;
    item.Font.Bold = true;
    item.Font.Color = Qt::white;
    item.HasBackColor = filled;
    item.BackColor = QColor(20, 40, 160);
    item.TextLeft = 60;
    item.TextTop = 560;
    item.TextWidth = 400;
    item.TextHeight = 80;
    item.TextAlpha = 200;
    item.StartSec = 0;
    item.EndSec = 1000000;
    return item;
}

TWmRec pictureItem(const QString& path) {
    TWmRec item;
    item.Kind = TWmRec::KindImage;
    item.ImagePath = path;
    item.ImageLeft = 900;
    item.ImageTop = 40;
    item.ImageAlpha = 180;
    item.StartSec = 0;
    item.EndSec = 1000000;
    return item;
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct RunTime {
    double wall = 1e9, cpu = 1e9;
};

// Wall and CPU time of converting the source once (seconds), hooked with the given job or not.
RunTime convert(const QString& source, const QString& output, const QString& codec,
                const TlvFilesRecord* job) {
    TFFmpegVCL converter;
    FrameCompositor compositor([job](int) { return job; });
    converter.OnCustomHook = [&compositor](PHookInfo& info) {
        compositor.CCAVCCustomHook(info);
    };
    TInputOptions in;
    in.InputFileName = source;
    const int task = converter.AddTask(source, in);
    TOutputOptions out;
    out.OutputFileName = output;
    out.VideoCodec = codec;
    out.AudioDisabled = true;
    out.CustomHook = job != nullptr;
    if (task < 0 || converter.SetOutputFile(task, output, out) < 0) {
        std::fprintf(stderr, "cannot convert: %s\n", qPrintable(converter.LastErrorMessage()));
        std::exit(1);
    }
    QEventLoop loop;
    bool finished = false;
    QObject::connect(&converter, &TFFmpegVCL::OnTerminate, &loop, [&](const TTerminateInfo& t) {
        if (t.TaskIndex == 0)
            finished = t.Finished;
        if (t.TaskIndex < 0)
            loop.quit();
    });
    QElapsedTimer timer;
    const double cpu0 = cpuSeconds();
    timer.start();
    converter.StartTask(1);
    loop.exec();
    RunTime t;
    t.wall = double(timer.nsecsElapsed()) / 1e9;
    t.cpu = cpuSeconds() - cpu0;
    converter.OnCustomHook = nullptr;
    if (!finished) {
        std::fprintf(stderr, "conversion failed\n");
        std::exit(1);
    }
    return t;
}

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    int rounds = 200;
    int seconds = 4;
    QStringList codecs{"mpeg4", "libx264"};
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--frames"))
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--codec"))
            codecs = QStringList{QString::fromLocal8Bit(argv[i + 1])};
    }
    QTemporaryDir dir(QDir::tempPath() + "/bench-composite-XXXXXX");
    const QString source = dir.path() + "/source.mov";
    if (!runFfmpeg({"-f", "lavfi", "-i",
                    QString("testsrc2=size=%1x%2:rate=25:duration=%3").arg(kW).arg(kH).arg(seconds),
                    "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", source}))
        return 1;
    QByteArray raw;
    if (!runFfmpeg({"-ss", QString::number(seconds / 2.0), "-i", source, "-frames:v", "1", "-f",
                    "rawvideo", "-pix_fmt", "bgr24", "-"},
                   &raw) ||
        raw.size() < kW * kH * 3)
        return 1;
    QImage original(kW, kH, QImage::Format_BGR888);
    for (int y = 0; y < kH; ++y)
        std::memcpy(original.scanLine(y), raw.constData() + y * kW * 3, size_t(kW) * 3);
    QImage picture(320, 240, QImage::Format_RGB888);
    picture.fill(QColor(250, 150, 30));
    const QString picturePath = dir.path() + "/logo.bmp";
    picture.save(picturePath, "BMP");

    QImage frame = original.copy();
    const auto restore = [&] {
        std::memcpy(frame.bits(), original.constBits(), size_t(original.sizeInBytes()));
    };

    std::printf("bench-composite: %dx%d frames, %d rounds each\n", kW, kH, rounds);
    std::printf("routines (tables built on every call):\n");
    print("AdjustColors(300, 20, 180)",
          timeIt(rounds, restore, [&] { AdjustColors(frame, 300, 20, 180); }));
    print("AdjustExposure(100)", timeIt(rounds, restore, [&] { AdjustExposure(frame, 100); }));
    QImage text400x80(400, 80, QImage::Format_BGR888);
    text400x80.fill(QColor(20, 40, 160));
    print("BlendBitmap 400x80",
          timeIt(rounds, restore, [&] { BlendBitmap(frame, text400x80, 60, 560, 200); }));

    // The hook as it runs during a conversion: prepared tables, rendered text and decoded
    // picture are kept from frame to frame.
    TlvFilesRecord colour;
    colour.Brightness = 300;
    colour.Contrast = 20;
    colour.Saturation = 180;
    TlvFilesRecord exposure;
    exposure.Exposure = 100;
    TlvFilesRecord filledText, clearText, pictureJob, everything;
    filledText.WmItems = {textItem(true)};
    clearText.WmItems = {textItem(false)};
    pictureJob.WmItems = {pictureItem(picturePath)};
    everything = colour;
    everything.Exposure = 100;
    everything.WmItems = {textItem(false), pictureItem(picturePath)};

    std::printf("frame hook (steady state):\n");
    const auto hookTiming = [&](const TlvFilesRecord& job) {
        FrameCompositor compositor([&job](int) { return &job; });
        restore();
        compositor.Composite(frame, 0, 0); // first frame prepares
        return timeIt(rounds, restore, [&] { compositor.Composite(frame, 0, 0); });
    };
    const Timing tColour = hookTiming(colour);
    const Timing tExposure = hookTiming(exposure);
    const Timing tFilled = hookTiming(filledText);
    const Timing tClear = hookTiming(clearText);
    const Timing tPicture = hookTiming(pictureJob);
    const Timing tAll = hookTiming(everything);
    print("colour pass", tColour);
    print("exposure pass", tExposure);
    print("text 400x80, filled box", tFilled);
    print("text 400x80, transparent box", tClear);
    print("picture 320x240", tPicture);
    std::printf("  %-44s %7.3f ms/frame (target <= 3 ms)\n", "sum of the four passes",
                tColour.meanMs + tExposure.meanMs + tClear.meanMs + tPicture.meanMs);
    print("all four in one job (colour+exposure fused)", tAll);
    {
        FrameCompositor compositor([&everything](int) { return &everything; });
        print("first frame of a task (prepares everything)",
              timeIt(1, restore, [&] { compositor.Composite(frame, 0, 0); }));
    }

    std::printf("conversion of %d s of %dx%d at 25 fps (best of 5):\n", seconds, kW, kH);
    TlvFilesRecord neutral;
    for (const QString& codec : codecs) {
        const QString ext = codec == "mpeg4" ? ".avi" : ".mp4";
        // Best of five, the three settings taking turns so that a slow spell of the machine
        // hits all of them alike.
        RunTime off, hookOnly, on;
        const auto keepBest = [](RunTime* best, const RunTime& t) {
            best->wall = std::min(best->wall, t.wall);
            best->cpu = std::min(best->cpu, t.cpu);
        };
        for (int i = 0; i < 5; ++i) {
            keepBest(&off, convert(source, dir.path() + "/off" + ext, codec, nullptr));
            keepBest(&hookOnly, convert(source, dir.path() + "/neutral" + ext, codec, &neutral));
            keepBest(&on, convert(source, dir.path() + "/effects" + ext, codec, &everything));
        }
        std::printf("  %-8s hook off %.2f s (cpu %.2f s), hook with nothing to draw %.2f s (cpu "
                    "%.2f s, ratio %.2f), with the effects %.2f s (cpu %.2f s): ratio %.2f "
                    "(target <= 1.25)\n",
                    qPrintable(codec), off.wall, off.cpu, hookOnly.wall, hookOnly.cpu,
                    hookOnly.wall / off.wall, on.wall, on.cpu, on.wall / off.wall);
        // No scheduling can do better than the effects' CPU time spread over every core.
        const int cores = std::max(1, QThread::idealThreadCount());
        std::printf("  %-8s lowest ratio possible with the effects' CPU time on all %d cores: "
                    "%.2f\n",
                    qPrintable(codec), cores, on.cpu / cores / off.wall);
    }
    return 0;
}
