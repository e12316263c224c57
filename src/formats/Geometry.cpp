#include "formats/Geometry.h"

#include <cmath>
#include <cstdlib>

namespace vorlin::formats {

Bars LetterboxBars(int w, int h, int W, int H) {
    Bars bars;
    if (W <= 0 || H <= 0 || w <= 0 || h <= 0)
        return bars;
    const double rw = double(w) / W;
    const double rh = double(h) / H;
    if (rw > rh) {
        const int M = even(int(std::trunc(h / rw)));
        bars.top = 2 * ((H - M) / 4);
    } else if (rw < rh) {
        const int M = even(int(std::trunc(w / rh)));
        bars.left = 2 * ((W - M) / 4);
    }
    return bars;
}

PanBands PanScanBands(int w, int h, int cropTop, int cropBottom, int cropLeft, int cropRight) {
    PanBands bands;
    const int cw = w - cropLeft - cropRight;
    const int ch = h - cropTop - cropBottom;
    if (cw <= 0 || ch <= 0)
        return bands;
    const long double K = 4.0L / 3.0L;
    const long double q = static_cast<long double>(cw) / ch;
    if (q > K) {
        const long long cut = std::llabs(static_cast<long long>(std::trunc((q - K) * cw)) / 2);
        bands.leftRight = even(static_cast<int>(cut + cropLeft));
    } else if (q < K) {
        const long double r = static_cast<long double>(ch) / cw;
        const long long cut = std::llabs(static_cast<long long>(std::trunc((r - K) * ch)) / 2);
        bands.topBottom = even(static_cast<int>(cut + cropTop));
    }
    return bands;
}

void H263Size(int& W, int& H) {
    if (W > 176 && W <= 352) {
        W = 352;
        H = 288;
    } else if (W > 352) {
        W = 704;
        H = 576;
    }
}

} // namespace vorlin::formats
