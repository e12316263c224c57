#include "effects/PixelRoutines.h"

#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <numbers>
#include <thread>

namespace vorlin::effects {
namespace {

// Sums of three bytes run from 0 to 765.
constexpr int kPixelSums = 766;

bool is24Bit(const QImage& image) {
    return image.format() == QImage::Format_BGR888 || image.format() == QImage::Format_RGB888;
}

// Brings an image the routines cannot walk directly into the 24-bit layout.
bool prepare24Bit(QImage& image) {
    if (image.isNull())
        return false;
    if (!is24Bit(image))
        image = image.convertToFormat(QImage::Format_BGR888);
    return !image.isNull();
}

template <typename T> uint8_t clampLevel(T v) {
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// Level table of the brightness gain composed with the tone curve.
std::array<uint8_t, 256> LevelTable(int32_t brightness, int32_t contrast) {
    const std::array<uint8_t, 256> tone = ToneCurve(contrast);
    std::array<uint8_t, 256> levels{};
    const int64_t b = brightness;
    for (int64_t j = 0; j < 256; ++j) {
        // Integer division truncates toward zero, as the gain's definition asks.
        const int64_t t = (256 - b + b * j) / 256;
        levels[size_t(j)] = tone[clampLevel(t)];
    }
    return levels;
}

// Saturation table: S[m] = ((m + 1) * s) >> 8.
std::array<int64_t, 256> SaturationTable(int32_t saturation) {
    std::array<int64_t, 256> s{};
    for (int64_t m = 0; m < 256; ++m)
        s[size_t(m)] = ((m + 1) * int64_t(saturation)) >> 8;
    return s;
}

void applyPerByte(QImage& bitmap, int firstRow, int endRow, const uint8_t* table) {
    const int rowBytes = bitmap.width() * 3;
    const qsizetype stride = bitmap.bytesPerLine();
    uint8_t* bits = bitmap.bits();
    for (int y = firstRow; y < endRow; ++y) {
        uint8_t* p = bits + y * stride;
        for (int i = 0; i < rowBytes; ++i)
            p[i] = table[p[i]];
    }
}

void applyPerPixel(QImage& bitmap, int firstRow, int endRow, const uint8_t* table) {
    const int width = bitmap.width();
    const qsizetype stride = bitmap.bytesPerLine();
    uint8_t* bits = bitmap.bits();
    for (int y = firstRow; y < endRow; ++y) {
        uint8_t* p = bits + y * stride;
        for (int q = 0; q < width; ++q, p += 3) {
            const unsigned b0 = p[0], b1 = p[1], b2 = p[2];
            const uint8_t* row = table + (b0 + b1 + b2) * 256u;
            p[0] = row[b0];
            p[1] = row[b1];
            p[2] = row[b2];
        }
    }
}

// Runs work(first, end) over bands of rows [0, rows), on the calling thread and on the
// global thread pool at once. The caller takes bands too, so a busy pool only slows the pass
// down; helpers that start after all bands are taken return at once.
void forRowBands(int rows, qsizetype bytesPerRow, const std::function<void(int, int)>& work) {
    // Below about a quarter of a 720p frame the hand-over costs more than it saves.
    constexpr qsizetype kMinBytes = 640 * 360 * 3;
    const int helpers = std::min(QThreadPool::globalInstance()->maxThreadCount(),
                                 int(std::thread::hardware_concurrency())) -
                        1;
    if (helpers <= 0 || rows < 2 || qsizetype(rows) * bytesPerRow < kMinBytes) {
        work(0, rows);
        return;
    }
    struct Shared {
        std::function<void(int, int)> work;
        int rows = 0, bands = 0;
        std::atomic<int> next{0};
        std::mutex mutex;
        std::condition_variable allDone;
        int done = 0;
        void run() {
            for (int band; (band = next.fetch_add(1)) < bands;) {
                work(int(int64_t(rows) * band / bands), int(int64_t(rows) * (band + 1) / bands));
                std::lock_guard lock(mutex);
                if (++done == bands)
                    allDone.notify_all();
            }
        }
    };
    auto shared = std::make_shared<Shared>();
    shared->work = work;
    shared->rows = rows;
    shared->bands = std::min(rows, (helpers + 1) * 2);
    for (int i = 0; i < helpers; ++i)
        QThreadPool::globalInstance()->start([shared] { shared->run(); });
    shared->run();
    std::unique_lock lock(shared->mutex);
    shared->allDone.wait(lock, [&] { return shared->done == shared->bands; });
}

inline uint8_t blendLevel(unsigned frame, unsigned overlay, unsigned a) {
    return static_cast<uint8_t>(((256u - a) * frame + a * overlay) >> 8);
}

} // namespace

double RoundHalfEven(double value) {
    const double lower = std::floor(value);
    const double diff = value - lower;
    if (diff > 0.5)
        return lower + 1.0;
    if (diff < 0.5)
        return lower;
    return std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
}

std::array<uint8_t, 256> ToneCurve(int32_t contrast) {
    // 100 would put the slope at 1/cos(pi/2); 99 keeps the curve finite.
    const int32_t c = contrast == 100 ? 99 : contrast;
    // The darkening side keeps its rounded constant 0.015708 rather than pi/200; at -100 the
    // slope is then a hair below zero and every level lands on 170.
    const double k = c > 0 ? 1.0 / std::cos(c * std::numbers::pi / 200.0) : std::cos(c * 0.015708);
    std::array<uint8_t, 256> tone{};
    for (int i = 0; i < 256; ++i) {
        const double v = RoundHalfEven((i - 170) * k + 170.0);
        // NaN only for contrast values far outside the slider's range; the pivot stays put.
        tone[size_t(i)] = std::isnan(v) ? uint8_t(170) : clampLevel(v);
    }
    return tone;
}

std::array<uint8_t, 256> ExposureTable(float exposure) {
    const double x = exposure;
    // Bounds keep the 64-bit products exact; beyond them every level is clamped anyway.
    constexpr double kLimit = 1099511627776.0; // 2^40
    std::array<uint8_t, 256> table{};
    for (int64_t i = 0; i < 256; ++i) {
        double ed = RoundHalfEven(256.0 * (1.0 - std::exp((double(i) / -128.0) * (x / 128.0))));
        if (std::isnan(ed))
            ed = 0.0;
        ed = std::clamp(ed, -kLimit, kLimit);
        const int64_t e = static_cast<int64_t>(ed);
        int64_t t;
        if (x >= 0)
            t = i + ((std::max<int64_t>(e, 0) * (255 - i)) >> 8);
        else
            t = i - ((std::max<int64_t>(-e, 0) * (255 - i)) >> 8);
        table[size_t(i)] = clampLevel(t);
    }
    return table;
}

ColorTransform ColorTransform::Colors(int32_t brightness, int32_t contrast, int32_t saturation) {
    const std::array<uint8_t, 256> levels = LevelTable(brightness, contrast);
    const std::array<int64_t, 256> sat = SaturationTable(saturation);
    ColorTransform t;
    t.kind_ = Kind::PerPixel;
    t.table_.resize(size_t(kPixelSums) * 256);
    for (int n = 0; n < kPixelSums; ++n) {
        // Grey table: G[n] = n div 3 - S[n div 3].
        const int64_t grey = n / 3 - sat[size_t(n / 3)];
        uint8_t* row = t.table_.data() + size_t(n) * 256;
        for (int v = 0; v < 256; ++v)
            row[v] = levels[clampLevel(grey + sat[size_t(v)])];
    }
    return t;
}

ColorTransform ColorTransform::Exposure(float exposure) {
    const std::array<uint8_t, 256> table = ExposureTable(exposure);
    ColorTransform t;
    t.kind_ = Kind::PerByte;
    t.table_.assign(table.begin(), table.end());
    return t;
}

ColorTransform ColorTransform::ColorsThenExposure(int32_t brightness, int32_t contrast,
                                                  int32_t saturation, float exposure) {
    ColorTransform t = Colors(brightness, contrast, saturation);
    const std::array<uint8_t, 256> lift = ExposureTable(exposure);
    for (uint8_t& v : t.table_)
        v = lift[v];
    return t;
}

void ColorTransform::apply(QImage& bitmap) const {
    if (kind_ == Kind::Identity || !prepare24Bit(bitmap))
        return;
    // Detach once here: the bands write into the same pixels from several threads.
    bitmap.bits();
    const uint8_t* table = table_.data();
    const bool perByte = kind_ == Kind::PerByte;
    forRowBands(bitmap.height(), bitmap.bytesPerLine(), [&bitmap, table, perByte](int y0, int y1) {
        if (perByte)
            applyPerByte(bitmap, y0, y1, table);
        else
            applyPerPixel(bitmap, y0, y1, table);
    });
}

void AdjustColors(QImage& bitmap, int32_t brightness, int32_t contrast, int32_t saturation) {
    ColorTransform::Colors(brightness, contrast, saturation).apply(bitmap);
}

void AdjustExposure(QImage& bitmap, float exposure) {
    ColorTransform::Exposure(exposure).apply(bitmap);
}

void BlendBitmap(QImage& frame, const QImage& overlay, int32_t x, int32_t y, int32_t alpha) {
    if (overlay.isNull() || !prepare24Bit(frame))
        return;
    // The part of the overlay inside the frame, in frame coordinates (64-bit: positions and
    // sizes near the integer limits must not wrap).
    const int64_t x0 = std::max<int64_t>(x, 0);
    const int64_t y0 = std::max<int64_t>(y, 0);
    const int64_t x1 = std::min<int64_t>(int64_t(x) + overlay.width(), frame.width());
    const int64_t y1 = std::min<int64_t>(int64_t(y) + overlay.height(), frame.height());
    if (x0 >= x1 || y0 >= y1)
        return;
    const int w = int(x1 - x0);
    const int srcX = int(x0 - x);
    const int srcY = int(y0 - y);
    const unsigned a = unsigned(std::clamp<int32_t>(alpha, 0, 255));
    if (a == 0)
        return;

    const bool frameIsBgr = frame.format() == QImage::Format_BGR888;
    // Byte positions of red and blue inside a frame pixel.
    const int fr = frameIsBgr ? 2 : 0;
    const int fb = frameIsBgr ? 0 : 2;

    const QImage::Format of = overlay.format();
    const bool sameOrder = of == frame.format();
    const bool swapped = is24Bit(overlay) && !sameOrder;
    const bool rgb32 = of == QImage::Format_RGB32 || of == QImage::Format_ARGB32;
    QImage converted;
    const QImage* src = &overlay;
    if (!sameOrder && !swapped && !rgb32) {
        converted = overlay.convertToFormat(frame.format());
        src = &converted;
    }
    const bool straight = src->format() == frame.format();

    uint8_t* frameBits = frame.bits();
    const qsizetype frameStride = frame.bytesPerLine();
    for (int64_t fy = y0; fy < y1; ++fy) {
        uint8_t* d = frameBits + fy * frameStride + x0 * 3;
        const uchar* line = src->constScanLine(srcY + int(fy - y0));
        if (straight) {
            const uint8_t* s = line + srcX * 3;
            for (int i = 0; i < w * 3; ++i)
                d[i] = blendLevel(d[i], s[i], a);
        } else if (swapped) {
            const uint8_t* s = line + srcX * 3;
            for (int q = 0; q < w; ++q, d += 3, s += 3) {
                const uint8_t s0 = s[0], s1 = s[1], s2 = s[2];
                d[0] = blendLevel(d[0], s2, a);
                d[1] = blendLevel(d[1], s1, a);
                d[2] = blendLevel(d[2], s0, a);
            }
        } else {
            const QRgb* s = reinterpret_cast<const QRgb*>(line) + srcX;
            for (int q = 0; q < w; ++q, d += 3) {
                const QRgb px = s[q];
                d[fr] = blendLevel(d[fr], unsigned(qRed(px)), a);
                d[1] = blendLevel(d[1], unsigned(qGreen(px)), a);
                d[fb] = blendLevel(d[fb], unsigned(qBlue(px)), a);
            }
        }
    }
}

} // namespace vorlin::effects
