#include "formats/Geometry.h"
#include "formats/NumericText.h"

#include <QLocale>
#include <gtest/gtest.h>

namespace {

using namespace vorlin::formats;

TEST(NumericText, WholeTextMustBeTheNumber) {
    struct {
        const char* text;
        bool integer;
        bool number;
    } const cases[] = {
        {"512", true, true},          {"-3", true, true},     {"+7", true, true},
        {"96.5", false, true},        {".5", false, true},    {"1e3", false, true},
        {"2.5E-2", false, true},      {"96,5", false, false}, {"", false, false},
        {" 12", false, false},        {"12 ", false, false},  {"12abc", false, false},
        {"as source", false, false},  {"0x10", false, false}, {"1,000", false, false},
        {"99999999999", false, true}, // beyond 32 bits: a number, not an integer
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsIntegerText(c.text), c.integer) << c.text;
        EXPECT_EQ(IsNumberText(c.text), c.number) << c.text;
    }
}

TEST(NumericText, PointIsTheDecimalSeparatorWhateverTheLocale) {
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(numberValue("96.5"), 96.5);
    EXPECT_FALSE(numberValue("96,5").has_value());
    QLocale::setDefault(previous);
}

TEST(Letterbox, BarsAreEvenAndCentred) {
    struct {
        int w, h, W, H;
        Bars bars;
    } const cases[] = {
        {640, 480, 320, 240, {0, 0}},    // same shape: no bars
        {1280, 720, 320, 240, {30, 0}},  // wide source: bars above and below
        {640, 480, 640, 360, {0, 80}},   // tall source: bars left and right
        {720, 576, 320, 240, {0, 10}},   // PAL into 4:3
        {720, 560, 320, 240, {0, 6}},    // cropped PAL into 4:3
        {1920, 800, 720, 576, {138, 0}}, // scope into PAL
        {0, 0, 320, 240, {0, 0}},        // unknown source size
    };
    for (const auto& c : cases) {
        const Bars b = LetterboxBars(c.w, c.h, c.W, c.H);
        EXPECT_EQ(b, c.bars) << c.w << "x" << c.h << " -> " << c.W << "x" << c.H;
        EXPECT_EQ(b.top % 2, 0);
        EXPECT_EQ(b.left % 2, 0);
    }
}

TEST(PanScan, BandsOnTheLongerAxis) {
    // 1280x720: (16/9 - 4/3) * 1280 = 568.9 -> 568 div 2 = 284.
    EXPECT_EQ(PanScanBands(1280, 720, 0, 0, 0, 0), (PanBands{284, -1}));
    // An existing left crop is added before rounding to even.
    EXPECT_EQ(PanScanBands(1280, 720, 0, 0, 10, 10), (PanBands{272, -1}));
    // Taller than 4:3: bands on top and bottom.
    EXPECT_EQ(PanScanBands(720, 576, 0, 0, 0, 0), (PanBands{-1, 152}));
    // Exactly 4:3: nothing to cut.
    EXPECT_EQ(PanScanBands(640, 480, 0, 0, 0, 0), (PanBands{-1, -1}));
    // A crop that leaves no picture cuts nothing rather than dividing by zero.
    EXPECT_EQ(PanScanBands(640, 480, 240, 240, 0, 0), (PanBands{-1, -1}));
}

TEST(H263, WidthsSnapToTheSizesTheEncoderTakes) {
    struct {
        int W, H, outW, outH;
    } const cases[] = {
        {640, 480, 704, 576}, {320, 240, 352, 288}, {176, 144, 176, 144},
        {128, 96, 128, 96},   {353, 10, 704, 576},  {177, 10, 352, 288},
    };
    for (const auto& c : cases) {
        int W = c.W, H = c.H;
        H263Size(W, H);
        EXPECT_EQ(W, c.outW) << c.W;
        EXPECT_EQ(H, c.outH) << c.W;
    }
}

} // namespace
