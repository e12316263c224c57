#include "jobs/FitRect.h"
#include "jobs/ConversionRun.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

namespace {

using namespace vorlin::jobs;

TEST(FitRect, PictureKeepsItsShapeAndIsCentred) {
    struct {
        QSize source;
        QRect destination;
        QRect expected;
    } const cases[] = {
        // Half a pixel of margin rounds to 0: the full rectangle.
        {{1280, 720}, {0, 0, 372, 210}, {0, 0, 372, 210}},
        // 4:3 in a wide box: bars left and right of 46.
        {{640, 480}, {0, 0, 372, 210}, {46, 0, 280, 210}},
        // Scaled up and centred.
        {{100, 100}, {0, 0, 200, 100}, {50, 0, 100, 100}},
        // Offset destination keeps its origin.
        {{100, 100}, {10, 20, 200, 100}, {60, 20, 100, 100}},
        // Margins of 2.5 and 3.5 round to the even neighbour: 2 and 4.
        {{100, 100}, {0, 0, 105, 100}, {2, 0, 101, 100}},
        {{100, 100}, {0, 0, 107, 100}, {4, 0, 99, 100}},
        {{100, 100}, {0, 0, 100, 105}, {0, 2, 100, 101}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FitRect(QRect(QPoint(0, 0), c.source), c.destination), c.expected)
            << c.source.width() << "x" << c.source.height();
    }
}

TEST(FitRect, HalvesRoundToEven) {
    const std::pair<double, int> cases[] = {{0.375, 0}, {0.5, 0},   {1.5, 2},  {2.5, 2},
                                            {3.5, 4},   {46.0, 46}, {-0.5, 0}, {-1.5, -2}};
    for (const auto& [x, expected] : cases)
        EXPECT_EQ(roundHalfEven(x), expected) << x;
}

TEST(DrawFitted, DrawsIntoTheFittedRectangleOnly) {
    QImage canvas(200, 100, QImage::Format_RGB32);
    canvas.fill(Qt::blue);
    QImage picture(100, 100, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QPainter p(&canvas);
    DrawFitted(p, canvas.rect(), picture);
    p.end();
    EXPECT_EQ(canvas.pixelColor(49, 50), QColor(Qt::blue));
    EXPECT_EQ(canvas.pixelColor(50, 50), QColor(Qt::red));
    EXPECT_EQ(canvas.pixelColor(149, 50), QColor(Qt::red));
    EXPECT_EQ(canvas.pixelColor(150, 50), QColor(Qt::blue));

    // A picture without area draws nothing.
    QImage untouched = canvas.copy();
    QPainter q(&canvas);
    DrawFitted(q, canvas.rect(), QImage());
    q.end();
    EXPECT_EQ(canvas, untouched);
}

TEST(RunTexts, PercentAndFileLabel) {
    EXPECT_EQ(ProgressPercent(0, 0), 0); // unknown total: never a division fault
    EXPECT_EQ(ProgressPercent(5'000'000, -1), 0);
    EXPECT_EQ(ProgressPercent(1'999'999, 4'000'000), 49);
    EXPECT_EQ(ProgressPercent(4'000'000, 4'000'000), 100);
    EXPECT_EQ(ProgressPercent(4'100'000, 4'000'000), 100);

    const QString fifty = "/videos/" + QString(38, 'a') + ".mov";
    ASSERT_EQ(fifty.length(), 50);
    EXPECT_EQ(OutputLabelText(fifty), fifty);
    const QString fiftyOne = "/videos/" + QString(39, 'a') + ".mov";
    EXPECT_EQ(OutputLabelText(fiftyOne), fiftyOne.left(44) + "...mov");
}

TEST(RunTexts, OnlyTheFourPrioritiesAreTaken) {
    EXPECT_EQ(PriorityFromSetting(0), TThreadPriority::Idle);
    EXPECT_EQ(PriorityFromSetting(1), TThreadPriority::Normal);
    EXPECT_EQ(PriorityFromSetting(3), TThreadPriority::Lowest);
    EXPECT_FALSE(PriorityFromSetting(7).has_value());
    EXPECT_FALSE(PriorityFromSetting(-1).has_value());
}

} // namespace
