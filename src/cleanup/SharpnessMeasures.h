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
float gridSharpness(const GreyImage &grey);

// Truncation toward zero, as an integer conversion does, kept in range for any
// double (NaN reads as 0) so that a hostile rectangle cannot overflow.
inline int truncatedToInt(double v)
{
    if (std::isnan(v))
        return 0;
    return int(std::clamp(v, -1.0e9, 1.0e9));
}
