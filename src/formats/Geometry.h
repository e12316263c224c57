#pragma once

#include <QString>

namespace vorlin::formats {

// Integer helpers of the option builder: div truncates toward zero, even(x) = x div 2 * 2.
constexpr int even(int x) {
    return x / 2 * 2;
}

// Letterbox bars that fit a w x h source into a W x H frame: top = bottom = top, left = right
// = left. Each bar is even.
struct Bars {
    int top = 0;
    int left = 0;
    bool operator==(const Bars&) const = default;
};
Bars LetterboxBars(int w, int h, int W, int H);

// Pan and scan: the band cut from each side of the longer axis so that the cropped
// (cw x ch) picture becomes 4:3. Exactly one of the results is set (>= 0), or none when
// the picture already is 4:3; -1 means "this axis keeps its bands".
struct PanBands {
    int leftRight = -1;
    int topBottom = -1;
    bool operator==(const PanBands&) const = default;
};
PanBands PanScanBands(int w, int h, int cropTop, int cropBottom, int cropLeft, int cropRight);

// The frame size that an H.263 encoder accepts for a requested width: up to 176 stays,
// up to 352 becomes 352 x 288, above becomes 704 x 576. Sizes already in the H.263 list
// are kept by the caller.
void H263Size(int& W, int& H);

} // namespace vorlin::formats
