// Finding the part of a picture the frame hook changed.
#include "media/MediaUtil.h"

#include <gtest/gtest.h>

#include <vector>

using vorlin::media::differingBox;

namespace {

constexpr int kW = 37, kH = 23;
constexpr int kStride = kW * 3 + 5; // rows carry padding, which must not count

struct Change {
    int x, y, byte;
};

struct BoxCase {
    const char* name;
    std::vector<Change> changes;
    QRect box;
};

class DifferingBox : public testing::TestWithParam<BoxCase> {};

TEST_P(DifferingBox, HoldsEveryChangedPixelAndNoMore) {
    std::vector<uint8_t> a(size_t(kStride) * kH), b;
    for (size_t i = 0; i < a.size(); ++i)
        a[i] = uint8_t(i * 31 + 7);
    b = a;
    // Padding differs everywhere: only pixels count.
    for (int y = 0; y < kH; ++y)
        for (int i = kW * 3; i < kStride; ++i)
            b[size_t(y * kStride + i)] ^= 0xff;
    for (const Change& c : GetParam().changes)
        b[size_t(c.y * kStride + c.x * 3 + c.byte)] ^= 0x01;
    EXPECT_EQ(differingBox(a.data(), kStride, b.data(), kStride, kW, kH), GetParam().box);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DifferingBox,
    testing::Values(BoxCase{"equal", {}, QRect()},
                    BoxCase{"first_byte", {{0, 0, 0}}, QRect(0, 0, 1, 1)},
                    BoxCase{"last_byte", {{kW - 1, kH - 1, 2}}, QRect(kW - 1, kH - 1, 1, 1)},
                    BoxCase{
                        "opposite_corners", {{kW - 1, 0, 1}, {0, kH - 1, 0}}, QRect(0, 0, kW, kH)},
                    BoxCase{"widening_row_by_row",
                            {{10, 3, 2}, {12, 4, 0}, {4, 9, 1}, {30, 11, 0}, {11, 12, 1}},
                            QRect(QPoint(4, 3), QPoint(30, 12))},
                    BoxCase{"one_column", {{5, 2, 1}, {5, 20, 1}}, QRect(5, 2, 1, 19)}),
    [](const testing::TestParamInfo<BoxCase>& info) { return std::string(info.param.name); });

} // namespace
