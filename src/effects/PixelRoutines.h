#pragma once

#include <QImage>

#include <array>
#include <cstdint>
#include <vector>

// Pixel routines of the picture effects and the watermark blend. They work in place on 24-bit
// images (QImage::Format_BGR888 or Format_RGB888) through their scan lines; an image of any
// other format is first converted to Format_BGR888 (which detaches it from shared data). The
// image stays owned by the caller. The colour routines treat the three bytes of a pixel
// alike, so their byte order does not matter; the blend takes the overlay's colours by name.

namespace vorlin::effects {

// Colour adjustment: brightness (gain in 256ths), contrast (slope of the tone curve around
// level 170, -100..100) and saturation (distance from the pixel's grey level, in 256ths).
// 256, 0, 256 leave every pixel unchanged; so does the neutral triple 255, 0, 255 only because
// callers skip the pass for it.
void AdjustColors(QImage& bitmap, int32_t brightness, int32_t contrast, int32_t saturation);

// Exponential lift (exposure > 0) or darkening (< 0) of every level; level 255 never moves.
void AdjustExposure(QImage& bitmap, float exposure);

// Blends overlay into frame with the overlay's top-left corner at frame pixel (x, y):
// component = ((256 - alpha) * frame + alpha * overlay) >> 8. Only the part of the overlay
// that lies inside the frame is drawn, at any position including negative ones; alpha is
// limited to 0..255. The overlay may have any format (it is read as opaque RGB).
void BlendBitmap(QImage& frame, const QImage& overlay, int32_t x, int32_t y, int32_t alpha);

// --- building blocks, for callers that run the passes on many frames ---

// Tone curve of the contrast value (index: level, value: level).
std::array<uint8_t, 256> ToneCurve(int32_t contrast);
// Per-level table of the exposure pass.
std::array<uint8_t, 256> ExposureTable(float exposure);

// A colour pass and/or an exposure pass precomputed into one lookup: the new value of a byte
// depends only on the byte and on the sum of its pixel's three bytes. Applying it gives
// exactly AdjustColors followed by AdjustExposure. Build once, apply to many frames.
class ColorTransform {
public:
    // The identity (apply() does nothing).
    ColorTransform() = default;
    static ColorTransform Colors(int32_t brightness, int32_t contrast, int32_t saturation);
    static ColorTransform Exposure(float exposure);
    static ColorTransform ColorsThenExposure(int32_t brightness, int32_t contrast,
                                             int32_t saturation, float exposure);

    bool isIdentity() const { return kind_ == Kind::Identity; }
    void apply(QImage& bitmap) const;

private:
    enum class Kind { Identity, PerByte, PerPixel };
    Kind kind_ = Kind::Identity;
    // PerByte: 256 entries. PerPixel: 766 rows of 256 entries, row = sum of the pixel's bytes.
    std::vector<uint8_t> table_;
};

// Rounds to the nearest integer, halves to the even neighbour.
double RoundHalfEven(double value);

} // namespace vorlin::effects
