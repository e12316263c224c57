#include "effects/PixelRoutines.h"

#include <QImage>
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace vorlin::effects {
namespace {

// A one-row image of grey pixels, one per level.
QImage greyRow(const std::vector<int>& levels, QImage::Format format = QImage::Format_BGR888) {
    QImage image(int(levels.size()), 1, format);
    for (size_t i = 0; i < levels.size(); ++i) {
        uint8_t* p = image.scanLine(0) + i * 3;
        p[0] = p[1] = p[2] = uint8_t(levels[i]);
    }
    return image;
}

std::vector<int> levelsOf(const QImage& image) {
    std::vector<int> out;
    for (int x = 0; x < image.width(); ++x) {
        const uint8_t* p = image.constScanLine(0) + x * 3;
        EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]) << "pixel " << x << " lost its grey";
        out.push_back(p[0]);
    }
    return out;
}

// Random pixels; odd width so that rows carry padding bytes.
QImage noise(int width, int height, unsigned seed, QImage::Format format = QImage::Format_BGR888) {
    QImage image(width, height, format);
    std::mt19937 rng(seed);
    for (int y = 0; y < height; ++y) {
        uint8_t* p = image.scanLine(y);
        for (int i = 0; i < width * 3; ++i)
            p[i] = uint8_t(rng() & 0xff);
    }
    return image;
}

std::vector<int> allLevels() {
    std::vector<int> v(256);
    for (int i = 0; i < 256; ++i)
        v[size_t(i)] = i;
    return v;
}

// The colour pass transcribed literally, one byte at a time, as an independent check of the
// precomputed tables.
uint8_t literalColorByte(const uint8_t* pixel, int k, int b, int c, int s) {
    const auto clamp = [](long long v) {
        return int(v < 0 ? 0 : v > 255 ? 255 : v);
    };
    const int cc = c == 100 ? 99 : c;
    const double slope = cc > 0 ? 1.0 / std::cos(cc * M_PI / 200) : std::cos(cc * 0.015708);
    const auto tone = [&](int i) {
        return clamp(llrint((i - 170) * slope + 170));
    };
    const auto sat = [&](long long m) {
        return ((m + 1) * s) >> 8;
    };
    const long long n = pixel[0] + pixel[1] + pixel[2];
    const long long grey = n / 3 - sat(n / 3);
    const int j = clamp(grey + sat(pixel[k]));
    return uint8_t(tone(clamp((256LL - b + 1LL * b * j) / 256)));
}

struct ColorCase {
    int brightness, contrast, saturation;
    std::vector<int> in, out;
};

void PrintTo(const ColorCase& c, std::ostream* os) {
    *os << "b" << c.brightness << " c" << c.contrast << " s" << c.saturation;
}

class ColorReference : public testing::TestWithParam<ColorCase> {};

TEST_P(ColorReference, MapsGreyLevels) {
    const ColorCase& c = GetParam();
    for (const auto format : {QImage::Format_BGR888, QImage::Format_RGB888}) {
        QImage image = greyRow(c.in, format);
        AdjustColors(image, c.brightness, c.contrast, c.saturation);
        EXPECT_EQ(levelsOf(image), c.out);
        EXPECT_EQ(image.format(), format);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Levels, ColorReference,
    testing::Values(ColorCase{256, 50, 256, {0, 100, 170, 200, 255}, {0, 71, 170, 212, 255}},
                    ColorCase{256, -50, 256, {0, 100, 170, 200, 255}, {50, 121, 170, 191, 230}},
                    ColorCase{256, -100, 256, {0, 1, 100, 200, 255}, {170, 170, 170, 170, 170}},
                    ColorCase{512, 0, 256, {1, 64, 128}, {1, 127, 255}},
                    ColorCase{0, 0, 256, {0, 1, 64, 128, 255}, {1, 1, 1, 1, 1}},
                    // The neutral triple is not the identity: the hook skips it for that.
                    ColorCase{255, 0, 255, {255, 254}, {254, 253}}));

TEST(AdjustColors, UnityValuesLeaveEveryPixelAlone) {
    QImage image = noise(33, 17, 1);
    const QImage before = image.copy();
    AdjustColors(image, 256, 0, 256);
    EXPECT_EQ(image, before);

    QImage grey = greyRow(allLevels());
    AdjustColors(grey, 256, 0, 256);
    EXPECT_EQ(levelsOf(grey), allLevels());
}

TEST(AdjustColors, SaturationMovesComponentsAroundTheirGrey) {
    struct Case {
        int saturation;
        std::array<int, 3> out;
    };
    for (const Case& c : {Case{0, {100, 100, 100}}, Case{512, {255, 100, 0}}}) {
        QImage image(1, 1, QImage::Format_BGR888);
        uint8_t* p = image.scanLine(0);
        p[0] = 200, p[1] = 100, p[2] = 0;
        AdjustColors(image, 256, 0, c.saturation);
        EXPECT_EQ((std::array<int, 3>{p[0], p[1], p[2]}), c.out) << "saturation " << c.saturation;
    }
}

TEST(AdjustColors, ContrastHundredActsAsNinetyNine) {
    QImage at100 = noise(65, 9, 2);
    QImage at99 = at100.copy();
    AdjustColors(at100, 300, 100, 200);
    AdjustColors(at99, 300, 99, 200);
    EXPECT_EQ(at100, at99);
    QImage grey = greyRow(allLevels());
    AdjustColors(grey, 256, 100, 256);
    // A very steep curve, but still a curve: dark levels black, light ones white, 170 kept.
    const std::vector<int> out = levelsOf(grey);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[170], 170);
    EXPECT_EQ(out[255], 255);
}

TEST(AdjustColors, AgreesWithTheLiteralFormulasOnRandomPixels) {
    struct Values {
        int b, c, s;
    };
    for (const Values v : {Values{255, 0, 255}, Values{100, 30, 400}, Values{400, -70, 30},
                           Values{512, 100, 512}, Values{0, -100, 0}, Values{333, 7, 256}}) {
        const QImage before = noise(101, 7, unsigned(v.b + v.c + v.s));
        QImage image = before.copy();
        AdjustColors(image, v.b, v.c, v.s);
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const uint8_t* src = before.constScanLine(y) + x * 3;
                const uint8_t* dst = image.constScanLine(y) + x * 3;
                for (int k = 0; k < 3; ++k)
                    ASSERT_EQ(dst[k], literalColorByte(src, k, v.b, v.c, v.s))
                        << v.b << "/" << v.c << "/" << v.s << " at " << x << "," << y;
            }
        }
    }
}

struct ExposureCase {
    float exposure;
    std::vector<int> out; // for levels 0, 64, 128, 200, 255
};

void PrintTo(const ExposureCase& c, std::ostream* os) {
    *os << "exposure " << c.exposure;
}

class ExposureReference : public testing::TestWithParam<ExposureCase> {};

TEST_P(ExposureReference, MapsLevels) {
    QImage image = greyRow({0, 64, 128, 200, 255});
    AdjustExposure(image, GetParam().exposure);
    EXPECT_EQ(levelsOf(image), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(Levels, ExposureReference,
                         testing::Values(ExposureCase{128, {0, 139, 208, 243, 255}},
                                         ExposureCase{512, {0, 228, 252, 255, 255}},
                                         ExposureCase{-128, {0, 0, 0, 0, 255}},
                                         ExposureCase{0, {0, 64, 128, 200, 255}}));

TEST(AdjustExposure, NeverMovesLevel255) {
    for (float x : {-1e9f, -255.f, -1.f, 1.f, 37.f, 255.f, 512.f, 1e9f}) {
        const std::array<uint8_t, 256> table = ExposureTable(x);
        EXPECT_EQ(table[255], 255) << "exposure " << x;
        QImage image = greyRow({255, 0});
        AdjustExposure(image, x);
        EXPECT_EQ(levelsOf(image)[0], 255) << "exposure " << x;
    }
}

TEST(AdjustExposure, LiftsAndDarkensMonotonically) {
    const std::array<uint8_t, 256> up = ExposureTable(200);
    const std::array<uint8_t, 256> down = ExposureTable(-60);
    for (int i = 1; i < 256; ++i) {
        EXPECT_GE(up[size_t(i)], up[size_t(i - 1)]);
        EXPECT_GE(up[size_t(i)], i);
        EXPECT_LE(down[size_t(i)], i);
    }
}

TEST(ColorTransform, CombinedPassEqualsTheTwoPassesInTurn) {
    struct Values {
        int b, c, s;
        float x;
    };
    for (const Values v :
         {Values{300, 20, 100, 64}, Values{255, 0, 255, -30}, Values{100, -40, 512, 512}}) {
        QImage twoPasses = noise(41, 13, 7);
        QImage combined = twoPasses.copy();
        AdjustColors(twoPasses, v.b, v.c, v.s);
        AdjustExposure(twoPasses, v.x);
        ColorTransform::ColorsThenExposure(v.b, v.c, v.s, v.x).apply(combined);
        EXPECT_EQ(combined, twoPasses) << v.b << "/" << v.c << "/" << v.s << "/" << v.x;
    }
}

// Frames of video size are worked in bands of rows on several threads: every row must come out
// as if it were worked alone (a band missed or worked twice shows), and a picture sharing the
// frame's pixels must keep its own.
TEST(ColorTransform, LargeFramesComeOutAsEachRowAlone) {
    for (const ColorTransform& t :
         {ColorTransform::Colors(300, 20, 180), ColorTransform::Exposure(100),
          ColorTransform::ColorsThenExposure(120, -30, 400, -50)}) {
        const QImage before = noise(1281, 723, 11);
        QImage frame = before;
        t.apply(frame);
        EXPECT_EQ(before, noise(1281, 723, 11)) << "a shared copy was written through";
        for (int y = 0; y < before.height(); ++y) {
            QImage row = before.copy(0, y, before.width(), 1);
            t.apply(row);
            ASSERT_EQ(0, std::memcmp(row.constScanLine(0), frame.constScanLine(y),
                                     size_t(before.width()) * 3))
                << "row " << y;
        }
    }
}

TEST(RoundHalfEven, TiesGoToTheEvenNeighbour) {
    EXPECT_EQ(RoundHalfEven(0.5), 0.0);
    EXPECT_EQ(RoundHalfEven(1.5), 2.0);
    EXPECT_EQ(RoundHalfEven(2.5), 2.0);
    EXPECT_EQ(RoundHalfEven(-0.5), 0.0);
    EXPECT_EQ(RoundHalfEven(-1.5), -2.0);
    EXPECT_EQ(RoundHalfEven(120.503), 121.0);
    EXPECT_EQ(RoundHalfEven(-70.49), -70.0);
}

// --- blend ---

QImage solid(int width, int height, QColor color, QImage::Format format) {
    QImage image(width, height, format);
    image.fill(color);
    return image;
}

TEST(BlendBitmap, OpacityZeroAndFull) {
    QImage frame = solid(5, 4, Qt::black, QImage::Format_BGR888);
    const QImage white = solid(5, 4, Qt::white, QImage::Format_BGR888);
    BlendBitmap(frame, white, 0, 0, 0);
    EXPECT_EQ(frame, solid(5, 4, Qt::black, QImage::Format_BGR888));
    // Full opacity still keeps 1/256 of the frame: 255 over 0 gives 254.
    BlendBitmap(frame, white, 0, 0, 255);
    EXPECT_EQ(frame, solid(5, 4, QColor(254, 254, 254), QImage::Format_BGR888));
    // Opacities outside 0..255 act as the nearest end.
    QImage clamped = solid(5, 4, Qt::black, QImage::Format_BGR888);
    BlendBitmap(clamped, white, 0, 0, 900);
    EXPECT_EQ(clamped, frame);
    BlendBitmap(clamped, white, 0, 0, -5);
    EXPECT_EQ(clamped, frame);
}

TEST(BlendBitmap, MixesEachComponentByOpacity) {
    QImage frame = solid(2, 2, QColor(100, 10, 0), QImage::Format_BGR888);
    BlendBitmap(frame, solid(2, 2, QColor(200, 250, 255), QImage::Format_BGR888), 0, 0, 128);
    // (128 * 100 + 128 * 200) >> 8, (192 * 10 + 64 * 250) >> 8 at 64 below.
    EXPECT_EQ(frame.pixelColor(1, 1), QColor(150, 130, 127));
    QImage other = solid(1, 1, QColor(10, 10, 10), QImage::Format_BGR888);
    BlendBitmap(other, solid(1, 1, QColor(250, 250, 250), QImage::Format_BGR888), 0, 0, 64);
    EXPECT_EQ(other.pixelColor(0, 0), QColor(70, 70, 70));
}

TEST(BlendBitmap, TakesOverlayColoursByNameWhateverTheByteOrder) {
    for (const auto frameFormat : {QImage::Format_BGR888, QImage::Format_RGB888}) {
        for (const auto overlayFormat :
             {QImage::Format_BGR888, QImage::Format_RGB888, QImage::Format_RGB32,
              QImage::Format_ARGB32, QImage::Format_Indexed8, QImage::Format_RGB16}) {
            QImage frame = solid(3, 2, Qt::black, frameFormat);
            QImage overlay =
                solid(3, 2, QColor(255, 0, 0), QImage::Format_RGB32).convertToFormat(overlayFormat);
            BlendBitmap(frame, overlay, 0, 0, 255);
            EXPECT_EQ(frame.pixelColor(2, 1), QColor(254, 0, 0))
                << "frame " << frameFormat << " overlay " << overlayFormat;
            EXPECT_EQ(frame.format(), frameFormat);
        }
    }
}

// Each overlay pixel carries its own coordinates, so a misplaced source offset shows.
QImage numberedOverlay(int width, int height) {
    QImage image(width, height, QImage::Format_BGR888);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixelColor(x, y, QColor(40 + x * 20, 40 + y * 20, 200));
    return image;
}

struct Placement {
    const char* name;
    int x, y;
};

void PrintTo(const Placement& p, std::ostream* os) {
    *os << p.name << " (" << p.x << "," << p.y << ")";
}

class BlendClipping : public testing::TestWithParam<Placement> {};

TEST_P(BlendClipping, DrawsExactlyTheOverlapAndNothingElse) {
    // Width 7: rows are padded to 24 bytes, so writing past a row's end would show.
    const int fw = 7, fh = 5, ow = 4, oh = 3;
    const Placement at = GetParam();
    const QImage overlay = numberedOverlay(ow, oh);
    const QImage original = noise(fw, fh, 11);
    QImage frame = original.copy();
    BlendBitmap(frame, overlay, at.x, at.y, 200);
    for (int y = 0; y < fh; ++y) {
        for (int x = 0; x < fw; ++x) {
            const int64_t ox = int64_t(x) - at.x, oy = int64_t(y) - at.y;
            QColor expected = original.pixelColor(x, y);
            if (ox >= 0 && ox < ow && oy >= 0 && oy < oh) {
                const QColor o = overlay.pixelColor(int(ox), int(oy));
                const auto mix = [](int f, int v) {
                    return (56 * f + 200 * v) >> 8;
                };
                expected = QColor(mix(expected.red(), o.red()), mix(expected.green(), o.green()),
                                  mix(expected.blue(), o.blue()));
            }
            ASSERT_EQ(frame.pixelColor(x, y), expected) << at.name << " at " << x << "," << y;
        }
    }
    // The padding bytes of every row are untouched.
    for (int y = 0; y < fh; ++y)
        for (int i = fw * 3; i < frame.bytesPerLine(); ++i)
            ASSERT_EQ(frame.constScanLine(y)[i], original.constScanLine(y)[i]) << at.name;
}

INSTANTIATE_TEST_SUITE_P(
    Edges, BlendClipping,
    testing::Values(Placement{"inside", 1, 1}, Placement{"left", -2, 1}, Placement{"right", 5, 1},
                    Placement{"top", 2, -2}, Placement{"bottom", 2, 4},
                    Placement{"topLeft", -3, -2}, Placement{"bottomRight", 6, 4},
                    Placement{"exactRightEdge", 3, 2}, Placement{"outsideLeft", -4, 0},
                    Placement{"outsideRight", 7, 0}, Placement{"outsideTop", 0, -3},
                    Placement{"outsideBottom", 0, 5}, Placement{"farNegative", INT_MIN, INT_MIN},
                    Placement{"farPositive", INT_MAX, INT_MAX},
                    Placement{"leftOfFarRow", INT_MIN, 1}),
    [](const testing::TestParamInfo<Placement>& info) { return std::string(info.param.name); });

TEST(BlendBitmap, OverlayLargerThanTheFrameCoversItWhole) {
    QImage frame = solid(6, 4, Qt::black, QImage::Format_BGR888);
    const QImage overlay = numberedOverlay(10, 9);
    BlendBitmap(frame, overlay, -2, -3, 255);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            const QColor o = overlay.pixelColor(x + 2, y + 3);
            const auto mix = [](int v) {
                return (255 * v) >> 8;
            };
            ASSERT_EQ(frame.pixelColor(x, y), QColor(mix(o.red()), mix(o.green()), mix(o.blue())));
        }
}

TEST(PixelRoutines, OtherFormatsAreBroughtTo24Bits) {
    QImage image = solid(3, 3, QColor(0, 64, 128), QImage::Format_RGB32);
    AdjustExposure(image, 128);
    EXPECT_EQ(image.format(), QImage::Format_BGR888);
    EXPECT_EQ(image.pixelColor(1, 1), QColor(0, 139, 208));
    QImage empty;
    AdjustColors(empty, 300, 10, 20);
    BlendBitmap(empty, solid(2, 2, Qt::red, QImage::Format_BGR888), 0, 0, 255);
    EXPECT_TRUE(empty.isNull());
}

} // namespace
} // namespace vorlin::effects
