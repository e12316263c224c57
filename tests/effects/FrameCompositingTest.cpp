#include "effects/FrameCompositing.h"
#include "effects/PixelRoutines.h"
#include "media/FFmpegVCL.h"
#include "support/TestEnv.h"

#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QImage>
#include <QPainter>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <climits>
#include <fstream>
#include <random>

namespace vorlin::effects {
namespace {

constexpr int kW = 96, kH = 64;

// Equal pixels; a mismatch is reported by its extent rather than as raw bytes.
testing::AssertionResult sameImage(const QImage& actual, const QImage& expected) {
    if (actual.size() != expected.size())
        return testing::AssertionFailure()
               << "size " << actual.width() << "x" << actual.height() << " instead of "
               << expected.width() << "x" << expected.height();
    int differing = 0;
    QRect where;
    for (int y = 0; y < actual.height(); ++y)
        for (int x = 0; x < actual.width(); ++x)
            if (actual.pixel(x, y) != expected.pixel(x, y)) {
                ++differing;
                where |= QRect(x, y, 1, 1);
            }
    if (differing == 0)
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << differing << " pixels differ within (" << where.x() << "," << where.y() << " "
           << where.width() << "x" << where.height() << ")";
}

QImage noise(int width, int height, unsigned seed) {
    QImage image(width, height, QImage::Format_BGR888);
    std::mt19937 rng(seed);
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < width * 3; ++i)
            image.scanLine(y)[i] = uint8_t(rng() & 0xff);
    return image;
}

TWmRec textItem(const QString& text, int left, int top, int width, int height, bool filled,
                int alpha = 255) {
    TWmRec item;
    item.Kind = TWmRec::KindText;
    item.Text = text;
    item.Font.Name = "DejaVu Sans";
    item.Font.Size = 14;
    item.Font.Color = QColor(250, 240, 10);
    item.TextLeft = left;
    item.TextTop = top;
    item.TextWidth = width;
    item.TextHeight = height;
    item.TextAlpha = alpha;
    item.HasBackColor = filled;
    item.BackColor = QColor(0, 0, 255);
    item.StartSec = 0;
    item.EndSec = 1000;
    return item;
}

TWmRec pictureItem(const QString& path, int left, int top, int alpha = 255) {
    TWmRec item;
    item.Kind = TWmRec::KindImage;
    item.ImagePath = path;
    item.ImageLeft = left;
    item.ImageTop = top;
    item.ImageAlpha = alpha;
    item.StartSec = 0;
    item.EndSec = 1000;
    return item;
}

// A compositor over records of tasks 0, 1, ... that collects its log lines.
struct Harness {
    std::vector<TlvFilesRecord> records{1};
    QStringList log;
    FrameCompositor compositor{[this](int task) -> const TlvFilesRecord* {
                                   return task >= 0 && task < int(records.size())
                                              ? &records[size_t(task)]
                                              : nullptr;
                               },
                               [this](const QString& line) {
                                   log << line;
                               }};
    TlvFilesRecord& job() { return records[0]; }

    QImage run(const QImage& frame, int64_t ptsUs = 0, int task = 0, bool* drawn = nullptr) {
        QImage out = frame.copy();
        const bool ok = compositor.Composite(out, task, ptsUs);
        if (drawn)
            *drawn = ok;
        return out;
    }
};

QString writeBitmap(const QString& name, const QImage& image) {
    const QString path = test::testHome() + "/" + name;
    EXPECT_TRUE(image.save(path, "BMP")) << path.toStdString();
    return path;
}

QImage blended(const QImage& frame, const QImage& overlay, int x, int y, int alpha) {
    QImage out = frame.copy();
    BlendBitmap(out, overlay, x, y, alpha);
    return out;
}

TEST(FrameCompositor, FrameWithoutRecordOrEffectsPassesUnchanged) {
    Harness h;
    const QImage frame = noise(kW, kH, 1);
    bool drawn = false;
    EXPECT_TRUE(sameImage(h.run(frame, 0, 0, &drawn), frame));
    EXPECT_TRUE(drawn);
    EXPECT_TRUE(sameImage(h.run(frame, 0, 5, &drawn), frame));
    EXPECT_FALSE(drawn) << "task without a record";
    // Items without text or path, or of an unknown kind, draw nothing.
    TWmRec blank = textItem("", 0, 0, 50, 50, true);
    TWmRec noPath = pictureItem("", 0, 0);
    TWmRec odd = textItem("x", 0, 0, 50, 50, true);
    odd.Kind = 7;
    h.job().WmItems = {blank, noPath, odd};
    EXPECT_TRUE(sameImage(h.run(frame), frame));
    EXPECT_TRUE(h.log.isEmpty());
}

struct Effects {
    int b, c, s, x;
    bool colorPass;
};

void PrintTo(const Effects& e, std::ostream* os) {
    *os << e.b << "/" << e.c << "/" << e.s << "/" << e.x;
}

class EffectPasses : public testing::TestWithParam<Effects> {};

TEST_P(EffectPasses, RunOnlyForChangedValues) {
    const Effects e = GetParam();
    Harness h;
    h.job().Brightness = e.b;
    h.job().Contrast = e.c;
    h.job().Saturation = e.s;
    h.job().Exposure = e.x;
    const QImage frame = noise(kW, kH, 2);
    QImage expected = frame.copy();
    if (e.colorPass)
        AdjustColors(expected, e.b, e.c, e.s);
    if (e.x != 0)
        AdjustExposure(expected, float(e.x));
    // Twice: the second frame reuses the prepared tables.
    EXPECT_TRUE(sameImage(h.run(frame), expected));
    EXPECT_TRUE(sameImage(h.run(frame), expected));
}

INSTANTIATE_TEST_SUITE_P(
    Values, EffectPasses,
    testing::Values(Effects{255, 0, 255, 0, false}, Effects{255, 0, 255, 90, false},
                    Effects{256, 0, 256, 0, true}, Effects{300, 20, 180, 0, true},
                    Effects{255, -10, 255, 0, true}, Effects{200, 30, 400, -60, true}));

TEST(FrameCompositor, ChangedValuesBetweenFramesTakeEffect) {
    Harness h;
    const QImage frame = noise(kW, kH, 3);
    h.job().Exposure = 50;
    QImage first = frame.copy();
    AdjustExposure(first, 50);
    EXPECT_TRUE(sameImage(h.run(frame), first));
    h.job().Exposure = -50;
    QImage second = frame.copy();
    AdjustExposure(second, -50);
    EXPECT_TRUE(sameImage(h.run(frame), second));
}

TEST(FrameCompositor, FilledBoxBlendsItsBackColourOverTheFrame) {
    Harness h;
    // A space has no glyphs: the whole box is the back colour.
    h.job().WmItems = {textItem(" ", 10, 5, 30, 20, true, 200)};
    const QImage frame = noise(kW, kH, 4);
    QImage box(30, 20, QImage::Format_BGR888);
    box.fill(QColor(0, 0, 255));
    EXPECT_TRUE(sameImage(h.run(frame), blended(frame, box, 10, 5, 200)));
}

TEST(FrameCompositor, ItemsAreDrawnInTheirWholeSecondsOnly) {
    Harness h;
    TWmRec item = textItem(" ", 0, 0, 20, 20, true);
    item.StartSec = item.EndSec = 3;
    h.job().WmItems = {item};
    const QImage frame = noise(kW, kH, 5);
    struct Case {
        int64_t pts;
        bool drawn;
    };
    for (const Case c :
         {Case{0, false}, Case{2999999, false}, Case{3000000, true}, Case{3500000, true},
          Case{3999999, true}, Case{4000000, false}, Case{-3500000, false}}) {
        EXPECT_EQ(h.run(frame, c.pts) != frame, c.drawn) << "pts " << c.pts;
    }
}

TEST(FrameCompositor, LaterItemsAreDrawnOverEarlierOnes) {
    const QImage frame = noise(kW, kH, 6);
    TWmRec red = textItem(" ", 0, 0, 40, 40, true);
    red.BackColor = Qt::red;
    TWmRec green = textItem(" ", 20, 20, 40, 40, true);
    green.BackColor = Qt::green;
    QImage r(40, 40, QImage::Format_BGR888), g(40, 40, QImage::Format_BGR888);
    r.fill(Qt::red);
    g.fill(Qt::green);

    Harness h;
    h.job().WmItems = {red, green};
    EXPECT_TRUE(sameImage(h.run(frame), blended(blended(frame, r, 0, 0, 255), g, 20, 20, 255)));
    h.job().WmItems = {green, red};
    EXPECT_TRUE(sameImage(h.run(frame), blended(blended(frame, g, 20, 20, 255), r, 0, 0, 255)));
}

// The pixels a text would cover, drawn independently on a transparent canvas.
QImage coverage(const TWmRec& item, QSize size) {
    QImage mask(size, QImage::Format_ARGB32_Premultiplied);
    mask.fill(Qt::transparent);
    QPainter p(&mask);
    const QFont font = WatermarkFont(item.Font);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QPointF(item.TextLeft, item.TextTop + p.fontMetrics().ascent()), item.Text);
    return mask;
}

TEST(FrameCompositor, TransparentBoxChangesOnlyGlyphPixelsInsideTheBox) {
    Harness h;
    // Far wider than its box: the rest of the line is cut at the box's edges.
    const TWmRec item = textItem("WWWWWWWWWWWWWWWW", 12, 8, 40, 14, false, 255);
    h.job().WmItems = {item};
    const QImage frame = noise(kW, kH, 7);
    const QImage out = h.run(frame);
    const QImage mask = coverage(item, frame.size());
    const QRect box(12, 8, 40, 14);
    int changed = 0;
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            if (out.pixel(x, y) == frame.pixel(x, y))
                continue;
            ++changed;
            ASSERT_TRUE(box.contains(x, y)) << "changed outside the box at " << x << "," << y;
            ASSERT_GT(qAlpha(mask.pixel(x, y)), 0) << "changed off the glyphs at " << x << "," << y;
        }
    }
    EXPECT_GT(changed, 40) << "the letters were not drawn";
    // Where a glyph covers a pixel fully, the pixel is the text colour blended at 255.
    int full = 0;
    for (int y = box.top(); y <= box.bottom(); ++y) {
        for (int x = box.left(); x <= box.right(); ++x) {
            if (qAlpha(mask.pixel(x, y)) != 255)
                continue;
            ++full;
            const QColor f = frame.pixelColor(x, y);
            const auto mix = [](int back, int top) {
                return (back + 255 * top) >> 8;
            };
            ASSERT_EQ(out.pixelColor(x, y),
                      QColor(mix(f.red(), 250), mix(f.green(), 240), mix(f.blue(), 10)))
                << x << "," << y;
        }
    }
    EXPECT_GT(full, 10);
}

// An item drawn at a position cut by the frame's edges gives the same pixels as the same item
// drawn whole on a larger frame and then cut out.
struct EdgeCase {
    const char* name;
    int left, top;
};

void PrintTo(const EdgeCase& e, std::ostream* os) {
    *os << e.name << " (" << e.left << "," << e.top << ")";
}

class CutAtEdges : public testing::TestWithParam<EdgeCase> {};

TEST_P(CutAtEdges, SameAsDrawingOnALargerFrame) {
    const EdgeCase e = GetParam();
    constexpr int kPad = 60;
    const QImage big = noise(kW + 2 * kPad, kH + 2 * kPad, 8);
    const QImage frame = big.copy(kPad, kPad, kW, kH);
    QImage picture = noise(37, 23, 9);
    const QString path = writeBitmap("cut.bmp", picture);
    for (const bool filled : {true, false}) {
        const TWmRec text = textItem("Ag Ag Ag", e.left, e.top, 45, 25, filled, 220);
        const TWmRec pic = pictureItem(path, e.left + 3, e.top + 2, 190);
        Harness small, large;
        small.job().WmItems = {text, pic};
        TWmRec bigText = text, bigPic = pic;
        bigText.TextLeft += kPad;
        bigText.TextTop += kPad;
        bigPic.ImageLeft += kPad;
        bigPic.ImageTop += kPad;
        large.job().WmItems = {bigText, bigPic};
        const QImage expected = large.run(big).copy(kPad, kPad, kW, kH);
        EXPECT_TRUE(sameImage(small.run(frame), expected))
            << e.name << (filled ? " filled" : " transparent");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Positions, CutAtEdges,
    testing::Values(EdgeCase{"inside", 20, 20}, EdgeCase{"left", -20, 10}, EdgeCase{"top", 15, -12},
                    EdgeCase{"right", kW - 20, 10}, EdgeCase{"bottom", 15, kH - 9},
                    EdgeCase{"topLeft", -30, -15}, EdgeCase{"bottomRight", kW - 10, kH - 10},
                    EdgeCase{"outsideLeft", -50, 10}),
    [](const testing::TestParamInfo<EdgeCase>& info) { return std::string(info.param.name); });

// Keeps the address space small while a test runs, so that a box allocated at its full
// stated size fails instead of exhausting the machine. Not under AddressSanitizer, whose
// shadow memory needs a vast address space.
class AddressSpaceLimit {
public:
    explicit AddressSpaceLimit(rlim_t extraBytes) {
#if !defined(__SANITIZE_ADDRESS__)
        getrlimit(RLIMIT_AS, &saved_);
        std::ifstream statm("/proc/self/statm");
        unsigned long pages = 0;
        statm >> pages;
        rlimit limit = saved_;
        limit.rlim_cur = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + extraBytes;
        active_ = setrlimit(RLIMIT_AS, &limit) == 0;
#else
        (void)extraBytes;
#endif
    }
    ~AddressSpaceLimit() {
        if (active_)
            setrlimit(RLIMIT_AS, &saved_);
    }

private:
    rlimit saved_{};
    bool active_ = false;
};

TEST(FrameCompositor, AbsurdBoxSizesDrawOnlyTheirVisiblePart) {
    const QImage frame = noise(kW, kH, 10);
    struct Case {
        TWmRec absurd, visible;
    };
    const Case cases[] = {
        // Same origin, so the same letters; only the frame's part of the box.
        {textItem("Hi there", 10, 5, 100000, 100000, true, 230),
         textItem("Hi there", 10, 5, kW - 10, kH - 5, true, 230)},
        {textItem("Hi there", 10, 5, 100000, 100000, false, 230),
         textItem("Hi there", 10, 5, kW - 10, kH - 5, false, 230)},
        // The origin far outside: no letters, the whole frame under the back colour.
        {textItem("Hi", -50000, -50000, 100000, 100000, true, 230),
         textItem(" ", 0, 0, kW, kH, true, 230)},
        {textItem("Hi", INT_MIN, INT_MIN, INT_MAX, INT_MAX, true, 230),
         textItem("", 0, 0, 0, 0, true)},
        {textItem("Hi", -5, -5, INT_MAX, INT_MAX, true, 230),
         textItem("Hi", -5, -5, kW + 5, kH + 5, true, 230)},
        {textItem("Hi", INT_MAX, INT_MAX, INT_MAX, INT_MAX, true), textItem("", 0, 0, 0, 0, true)},
    };
    const AddressSpaceLimit limit(rlim_t(1) << 30);
    for (const Case& c : cases) {
        Harness absurd, visible;
        absurd.job().WmItems = {c.absurd};
        visible.job().WmItems = {c.visible};
        EXPECT_TRUE(sameImage(absurd.run(frame), visible.run(frame)))
            << c.absurd.TextLeft << "," << c.absurd.TextTop << " " << c.absurd.TextWidth << "x"
            << c.absurd.TextHeight;
    }
}

TEST(FrameCompositor, PicturesAreBlendedAtTheirOwnSizeInAnyBitmapDepth) {
    const QImage frame = noise(kW, kH, 11);
    const QImage picture = noise(30, 20, 12);
    struct Case {
        const char* name;
        QImage stored;
    };
    for (const Case& c :
         {Case{"24bit", picture}, Case{"32bit", picture.convertToFormat(QImage::Format_RGB32)},
          Case{"8bit", picture.convertToFormat(QImage::Format_Indexed8)},
          Case{"1bit", picture.convertToFormat(QImage::Format_Mono)}}) {
        const QString path = writeBitmap(QString(c.name) + ".bmp", c.stored);
        // What the file holds, as 24 bits.
        const QImage readBack = QImage(path, "BMP").convertToFormat(QImage::Format_BGR888);
        ASSERT_FALSE(readBack.isNull()) << c.name;
        Harness h;
        TWmRec item = pictureItem(path, 7, 9, 180);
        item.ImageWidth = 500; // stored for the editor only
        item.ImageHeight = 1;
        h.job().WmItems = {item};
        EXPECT_TRUE(sameImage(h.run(frame), blended(frame, readBack, 7, 9, 180))) << c.name;
    }
}

TEST(FrameCompositor, UnreadablePictureLeavesTheWholeFrameAndIsLoggedOncePerTask) {
    const QImage frame = noise(kW, kH, 13);
    const QString png = test::testHome() + "/really-a-png.bmp";
    ASSERT_TRUE(noise(8, 8, 1).save(png, "PNG"));
    const QString text = test::testHome() + "/text.bmp";
    {
        QFile f(text);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("BM not really a bitmap");
    }
    for (const QString& path : {test::testHome() + "/missing.bmp", png, text}) {
        Harness h;
        h.records.resize(2);
        for (TlvFilesRecord& r : h.records) {
            r.Brightness = 300; // the colour pass must not reach the frame either
            TWmRec broken = pictureItem(path, 0, 0);
            broken.StartSec = 1;
            broken.EndSec = 2;
            r.WmItems = {textItem(" ", 0, 0, 10, 10, true), broken};
        }
        bool drawn = true;
        for (int i = 0; i < 5; ++i)
            EXPECT_TRUE(sameImage(h.run(frame, 1000000 + i * 40000, 0, &drawn), frame))
                << path.toStdString();
        EXPECT_FALSE(drawn);
        ASSERT_EQ(h.log.size(), 1) << path.toStdString();
        EXPECT_THAT(h.log[0].toStdString(), testing::HasSubstr(path.toStdString()));
        // Outside the picture's seconds the rest of the job is drawn.
        EXPECT_NE(h.run(frame, 0), frame);
        // The next task tells it again; so does a new run.
        h.run(frame, 1000000, 1);
        EXPECT_EQ(h.log.size(), 2);
        h.run(frame, 1000000, 1);
        EXPECT_EQ(h.log.size(), 2);
        h.compositor.Reset();
        h.run(frame, 1000000, 1);
        EXPECT_EQ(h.log.size(), 3);
    }
}

TEST(FrameCompositor, PictureReplacedOnDiskIsReadAgain) {
    const QImage frame = noise(kW, kH, 14);
    const QImage first = noise(10, 10, 15);
    const QImage second = noise(12, 8, 16);
    const QString path = writeBitmap("changing.bmp", first);
    Harness h;
    h.job().WmItems = {pictureItem(path, 3, 4)};
    EXPECT_TRUE(sameImage(h.run(frame), blended(frame, first, 3, 4, 255)));
    writeBitmap("changing.bmp", second);
    EXPECT_TRUE(sameImage(h.run(frame), blended(frame, second, 3, 4, 255)));
    QFile::remove(path);
    EXPECT_TRUE(sameImage(h.run(frame), frame));
    EXPECT_EQ(h.log.size(), 1);
}

TEST(FrameCompositor, MissingFontFallsBackToTheDefaultFont) {
    const QImage frame = noise(kW, kH, 17);
    TWmRec missing = textItem("Fallback", 4, 4, 90, 30, true);
    missing.Font.Name = "No Such Typeface Vorlin";
    TWmRec standard = missing;
    standard.Font.Name = QFontInfo(QFontDatabase::systemFont(QFontDatabase::GeneralFont)).family();
    ASSERT_TRUE(QFontDatabase::hasFamily(standard.Font.Name));
    Harness a, b;
    a.job().WmItems = {missing};
    b.job().WmItems = {standard};
    const QImage out = a.run(frame);
    EXPECT_TRUE(sameImage(out, b.run(frame)));
    EXPECT_NE(out, frame);
    a.run(frame);
    ASSERT_EQ(a.log.size(), 1);
    EXPECT_THAT(a.log[0].toStdString(), testing::HasSubstr("No Such Typeface Vorlin"));
    EXPECT_TRUE(b.log.isEmpty());
}

TEST(FrameCompositor, FontStylesAndSizeChangeTheLetters) {
    const QImage frame = noise(kW, kH, 18);
    const TWmRec plain = textItem("Style", 2, 2, 90, 40, true);
    QImage reference;
    {
        Harness h;
        h.job().WmItems = {plain};
        reference = h.run(frame);
    }
    for (int style = 0; style < 5; ++style) {
        TWmRec item = plain;
        item.Font.Bold = style == 0;
        item.Font.Italic = style == 1;
        item.Font.Underline = style == 2;
        item.Font.StrikeOut = style == 3;
        if (style == 4)
            item.Font.Size = 20;
        Harness h;
        h.job().WmItems = {item};
        EXPECT_NE(h.run(frame), reference) << "style " << style;
    }
    // 12 points are 16 pixels at 96 dpi.
    TWmFont twelve;
    twelve.Size = 12;
    EXPECT_EQ(WatermarkFont(twelve).pixelSize(), 16);
}

TEST(FrameCompositor, HookWorksInPlaceOnTheConvertersBuffer) {
    const QImage source = noise(kW, kH, 19);
    std::vector<uchar> buffer(size_t(source.bytesPerLine()) * kH);
    std::memcpy(buffer.data(), source.constBits(), buffer.size());
    const QString path = writeBitmap("hook.bmp", noise(9, 9, 20));

    Harness h;
    h.job().Brightness = 280;
    h.job().Exposure = 20;
    h.job().WmItems = {textItem("Hook", 5, 5, 50, 20, false), pictureItem(path, 60, 40, 128)};
    QImage expected = source.copy();
    h.compositor.Composite(expected, 0, 0);

    PHookInfo info;
    info.TaskIndex = 0;
    info.PTS = 0;
    info.Bitmap = QImage(buffer.data(), kW, kH, source.bytesPerLine(), QImage::Format_BGR888);
    h.compositor.CCAVCCustomHook(info);
    EXPECT_EQ(info.Bitmap.constBits(), buffer.data()) << "the frame was copied, not changed";
    EXPECT_TRUE(info.Update);
    EXPECT_FALSE(info.StopHook);
    const QImage result(buffer.data(), kW, kH, source.bytesPerLine(), QImage::Format_BGR888);
    EXPECT_TRUE(sameImage(result, expected));
    EXPECT_NE(result, source);
}

} // namespace
} // namespace vorlin::effects
