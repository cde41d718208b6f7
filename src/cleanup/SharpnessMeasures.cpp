#include "SharpnessMeasures.h"

#include <algorithm>
#include <cmath>
#include <functional>

GreyImage GreyImage::fromImage(const QImage &image)
{
    GreyImage grey;
    if (image.isNull())
        return grey;
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    if (rgba.isNull())
        return grey;
    grey.width = rgba.width();
    grey.height = rgba.height();
    grey.pixels.resize(size_t(grey.width) * size_t(grey.height));
    for (int y = 0; y < grey.height; ++y) {
        const uchar *src = rgba.constScanLine(y);
        uint8_t *dst = grey.pixels.data() + size_t(y) * size_t(grey.width);
        for (int x = 0; x < grey.width; ++x, src += 4)
            dst[x] = uint8_t((77 * src[0] + 150 * src[1] + 29 * src[2] + 128) >> 8);
    }
    return grey;
}

float GreyImage::areaMean(double x, double y, double size, int maxSamples) const
{
    const int k = std::clamp(int(std::ceil(size)), 1, std::max(1, maxSamples));
    double total = 0;
    for (int j = 0; j < k; ++j) {
        for (int i = 0; i < k; ++i) {
            const double sx = std::clamp(x + ((i + 0.5) / k - 0.5) * size - 0.5, 0.0, width - 1.0);
            const double sy = std::clamp(y + ((j + 0.5) / k - 0.5) * size - 0.5, 0.0, height - 1.0);
            const int x0 = std::min(int(sx), std::max(0, width - 2));
            const int y0 = std::min(int(sy), std::max(0, height - 2));
            const int x1 = std::min(x0 + 1, width - 1);
            const int y1 = std::min(y0 + 1, height - 1);
            const double ax = sx - x0, ay = sy - y0;
            const double top = at(x0, y0) + (at(x1, y0) - at(x0, y0)) * ax;
            const double bottom = at(x0, y1) + (at(x1, y1) - at(x0, y1)) * ax;
            total += top + (bottom - top) * ay;
        }
    }
    return float(total / (k * k));
}

float detailEnergy(const GreyImage &grey, const QRectF &rect)
{
    if (grey.isNull())
        return 0;
    const QRectF r = rect.normalized();
    const int x0 = std::max(1, truncatedToInt(r.left()));
    const int x1 = std::min(grey.width - 1, truncatedToInt(r.right()));
    const int y0 = std::max(1, truncatedToInt(r.top()));
    const int y1 = std::min(grey.height - 1, truncatedToInt(r.bottom()));
    if (x1 - x0 < 5 || y1 - y0 < 5)
        return 0;

    // Exact integer sums: at most 1280 x 1280 x 510^2 fits easily in 64 bits.
    int64_t horizontal = 0, vertical = 0, diagonal = 0, antiDiagonal = 0;
    for (int y = y0; y < y1; ++y) {
        const uint8_t *up = grey.row(y - 1);
        const uint8_t *mid = grey.row(y);
        const uint8_t *down = grey.row(y + 1);
        int64_t h = 0, v = 0, d = 0, a = 0;
        for (int x = x0; x < x1; ++x) {
            const int c2 = 2 * mid[x];
            const int dh = mid[x - 1] + mid[x + 1] - c2;
            const int dv = up[x] + down[x] - c2;
            const int dd = up[x - 1] + down[x + 1] - c2;
            const int da = up[x + 1] + down[x - 1] - c2;
            h += dh * dh;
            v += dv * dv;
            d += dd * dd;
            a += da * da;
        }
        horizontal += h;
        vertical += v;
        diagonal += d;
        antiDiagonal += a;
    }
    const double n = double(x1 - x0) * double(y1 - y0);
    const double smallest = std::min({double(horizontal), double(vertical),
                                      0.5 * double(diagonal), 0.5 * double(antiDiagonal)});
    return float(smallest / n);
}

float gridSharpness(const GreyImage &grey)
{
    if (grey.isNull())
        return 0;
    // Six rows and six columns, fewer where a cell would be under 12 px: a
    // panorama's strip a few dozen pixels tall is read on one row of cells,
    // not on slivers too thin for a second difference.
    const int columns = std::clamp(grey.width / 12, 1, 6);
    const int rows = std::clamp(grey.height / 12, 1, 6);
    const double cellWidth = grey.width / double(columns);
    const double cellHeight = grey.height / double(rows);
    float cells[36];
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c)
            cells[r * columns + c] = detailEnergy(grey, QRectF(c * cellWidth, r * cellHeight, cellWidth, cellHeight));
    }
    const int count = rows * columns;
    const int best = std::min(4, count);
    std::partial_sort(cells, cells + best, cells + count, std::greater<float>());
    float sum = 0;
    for (int i = 0; i < best; ++i)
        sum += cells[i];
    return sum / float(best);
}

int greySpread(const GreyImage &grey, const QRectF &rect)
{
    if (grey.isNull())
        return 0;
    const QRectF r = rect.normalized();
    const int x0 = std::max(0, truncatedToInt(r.left()));
    const int x1 = std::min(grey.width, truncatedToInt(r.right()));
    const int y0 = std::max(0, truncatedToInt(r.top()));
    const int y1 = std::min(grey.height, truncatedToInt(r.bottom()));
    int64_t histogram[256] = {};
    int64_t n = 0;
    for (int y = y0; y < y1; y += 2) {
        const uint8_t *row = grey.row(y);
        for (int x = x0; x < x1; x += 2) {
            ++histogram[row[x]];
            ++n;
        }
    }
    if (n == 0)
        return 0;
    int low = -1;
    int64_t running = 0;
    for (int level = 0; level < 256; ++level) {
        running += histogram[level];
        if (low < 0 && 20 * running >= n)
            low = level;
        if (20 * running >= 19 * n)
            return level - low;
    }
    return 255 - std::max(0, low);
}

float contrastGain(const GreyImage &grey, const QRectF &rect, float reference)
{
    const float spread = float(std::max(1, greySpread(grey, rect)));
    const float ratio = reference / spread;
    return std::clamp(ratio * ratio, 1.0f, ContrastGain::maxGain);
}

float pictureSharpness(const GreyImage &grey)
{
    if (grey.isNull())
        return 0;
    return gridSharpness(grey)
        * contrastGain(grey, QRectF(0, 0, grey.width, grey.height), ContrastGain::sceneReference);
}
