#pragma once

#include <QImage>
#include <QRectF>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

// One byte of luma per pixel, rows top first, no padding. The measures below work on
// this rather than on colour so that they read every pixel once and cheaply.
struct GreyImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;

    bool isNull() const { return width <= 0 || height <= 0; }
    uint8_t at(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
    const uint8_t *row(int y) const { return pixels.data() + size_t(y) * size_t(width); }

    // Mean grey over a square of side `size` centred on (x, y), from k x k bilinear
    // samples with k = ceil(size) capped at `maxSamples`: a window larger than a pixel
    // is averaged down rather than aliased, and the cap bounds the cost on large areas.
    float areaMean(double x, double y, double size, int maxSamples) const;

    // Standard (Rec. 601) luma of the bitmap as drawn on black: premultiplied colour is
    // used as it is, so transparent areas come out black like an opaque grey canvas.
    static GreyImage fromImage(const QImage &image);
};

// Mean squared second difference over a rectangle (pixels, origin top-left), taking the
// weakest of the four directions so that a picture smeared along any one direction
// scores low. Rectangles narrower or shorter than 5 inner pixels score 0.
float detailEnergy(const GreyImage &grey, const QRectF &rect);

// Sharpness of the whole picture: detailEnergy on a 6 x 6 grid of cells, averaged over
// the four best cells, so a small sharp subject on a blurred background still scores high.
// A side under 72 px has fewer cells along it, each at least 12 px.
float gridSharpness(const GreyImage &grey);

// Distance between the 5th and the 95th percentile of the grey levels over a rectangle
// (every second pixel of every second row): how much of the grey range the scene spans,
// unmoved by a few specular highlights or a black border. 0 for an empty rectangle.
int greySpread(const GreyImage &grey, const QRectF &rect);

// Second differences grow with the square of the scene's contrast, so a sharp photo of
// mist, snow, a dim room or soft-lit skin scores like a blurred one of an ordinary
// scene. The gain below brings a flat scene back to the energy it would show spanning
// `reference` grey levels: (reference / spread)^2, never below 1 (ordinary scenes keep
// the plain scale) and never above maxContrastGain (a near-uniform frame's noise is not
// raised to detail).
namespace ContrastGain {
// The whole picture: half the grey range. Photos of ordinary scenes span 150-240 levels.
constexpr float sceneReference = 128.0f;
// A face (the box inset as for its sharpness) spans less than a whole scene: skin is
// most of it. Faces in ordinary light span 100-190 levels.
constexpr float faceReference = 100.0f;
// At most the energy of a scene with half the reference contrast.
constexpr float maxGain = 4.0f;
} // namespace ContrastGain
float contrastGain(const GreyImage &grey, const QRectF &rect, float reference);

// The sharpness stored for a photo: gridSharpness raised by the whole picture's
// contrastGain.
float pictureSharpness(const GreyImage &grey);

// Truncation toward zero, as an integer conversion does, kept in range for any
// double (NaN reads as 0) so that a hostile rectangle cannot overflow.
inline int truncatedToInt(double v)
{
    if (std::isnan(v))
        return 0;
    return int(std::clamp(v, -1.0e9, 1.0e9));
}
