#include "HogFeatures.h"

#include <algorithm>
#include <cmath>

#if defined(__x86_64__) && defined(__GNUC__)
#define GLANTO_HOG_AVX2 1
#include <immintrin.h>
#else
#define GLANTO_HOG_AVX2 0
#endif

namespace HogFeatures {

#if GLANTO_HOG_AVX2

namespace {

// The unit vectors of the nine orientations, as dlib writes them.
constexpr float directionX[9] = {1.0000f, 0.9397f, 0.7660f, 0.500f, 0.1736f, -0.1736f, -0.5000f, -0.7660f, -0.9397f};
constexpr float directionY[9] = {0.0000f, 0.3420f, 0.6428f, 0.8660f, 0.9848f, 0.9848f, 0.8660f, 0.6428f, 0.3420f};

// The functions below are compiled for AVX2 without FMA: a fused multiply-add rounds
// once where dlib rounds twice, and its features would no longer be dlib's.
#define GLANTO_AVX2 __attribute__((target("avx2")))

GLANTO_AVX2 inline __m256 loadPixels(const uint8_t *p)
{
    return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p))));
}

// The sum of four lanes in the order of dlib's SSE2 sum: (0 + 2) + (1 + 3).
GLANTO_AVX2 inline float laneSum(__m128 item)
{
    const __m128 pairs = _mm_add_ps(item, _mm_movehl_ps(item, item));
    return _mm_cvtss_f32(_mm_add_ss(pairs, _mm_shuffle_ps(pairs, pairs, 1)));
}

// Adds two floats to the two at p.
GLANTO_AVX2 inline void addPair(float *p, const float *pair)
{
    const __m128 current = _mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64 *>(p));
    const __m128 add = _mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64 *>(pair));
    _mm_storel_pi(reinterpret_cast<__m64 *>(p), _mm_add_ps(current, add));
}

// Histograms are kept by row of cells, then orientation, then column (with a margin of
// one cell all round), so that the two columns a pixel votes into are neighbours.
struct Histograms {
    float *data;
    long columns; // cells per row, margins included
    float *row(long r) const { return data + r * columns * 18; }
    float at(long r, long c, int o) const { return data[(r * 18 + o) * columns + c]; }
};

// The bilinear shares of the columns voteRow() takes eight at a time, the same on every
// row: the column of cells each pixel's right share goes to (ixp, counting the margin;
// its left share goes to ixp - 1) and that share, as dlib computes them.
GLANTO_AVX2 void columnShares(int visibleCols, int cellSize, int *cellColumns, float *shares)
{
    const __m256 half = _mm256_set1_ps(0.5f);
    const __m256 cell = _mm256_set1_ps(float(cellSize));
    const __m256 lanes = _mm256_setr_ps(0, 1, 2, 3, 4, 5, 6, 7);
    for (int x = 1; x < visibleCols - 7; x += 8) {
        const __m256 xp = _mm256_add_ps(
            _mm256_div_ps(_mm256_add_ps(_mm256_add_ps(_mm256_set1_ps(float(x)), lanes), half), cell), half);
        const __m256i ixp = _mm256_cvttps_epi32(xp);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(cellColumns + x), ixp);
        _mm256_storeu_ps(shares + x, _mm256_sub_ps(xp, _mm256_cvtepi32_ps(ixp)));
    }
}

// One row of pixels: each votes its gradient's length into the orientation closest to
// its gradient, shared between the two nearest rows and columns of cells. The loops
// over the nine directions and over the eight pixels' votes are unrolled here, which
// GCC does at -O3 but not at -O2.
GLANTO_AVX2 void voteRow(const uint8_t *up, const uint8_t *mid, const uint8_t *down, int y, int visibleCols,
                         int cellSize, const Histograms &hist, const int *cellColumns, const float *shares)
{
    const float yp = float((float(y) + 0.5) / float(cellSize) - 0.5);
    const int iyp = int(std::floor(yp));
    const float vy0 = yp - float(iyp);
    const float vy1 = float(1.0 - double(vy0));
    float *top = hist.row(iyp + 1);
    float *bottom = hist.row(iyp + 2);
    const long columns = hist.columns;

    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 signBit = _mm256_set1_ps(-0.0f);
    const __m256 vy0v = _mm256_set1_ps(vy0), vy1v = _mm256_set1_ps(vy1);
    alignas(32) int offset[8];
    alignas(32) float topPairs[16], bottomPairs[16];
    int x = 1;
    for (; x < visibleCols - 7; x += 8) {
        const __m256 gx = _mm256_sub_ps(loadPixels(mid + x + 1), loadPixels(mid + x - 1));
        const __m256 gy = _mm256_sub_ps(loadPixels(down + x), loadPixels(up + x));
        const __m256 length = _mm256_sqrt_ps(_mm256_add_ps(_mm256_mul_ps(gx, gx), _mm256_mul_ps(gy, gy)));

        // The strongest of the 18 signed orientations is the direction of the largest
        // |dot|, on the side of its sign; ties go to the first direction, as in dlib's
        // loop, which tries +dot and then -dot against the best so far. `best` is where the
        // orientation's histogram starts in a row of cells.
        __m256 bestAbs = _mm256_setzero_ps(), bestDot = _mm256_setzero_ps();
        __m256 best = _mm256_setzero_ps();
        _Pragma("GCC unroll 9") for (int o = 0; o < 9; ++o) {
            const __m256 dot = _mm256_add_ps(_mm256_mul_ps(gx, _mm256_set1_ps(directionX[o])),
                                             _mm256_mul_ps(gy, _mm256_set1_ps(directionY[o])));
            const __m256 magnitude = _mm256_andnot_ps(signBit, dot);
            const __m256 better = _mm256_cmp_ps(magnitude, bestAbs, _CMP_GT_OQ);
            bestAbs = _mm256_blendv_ps(bestAbs, magnitude, better);
            bestDot = _mm256_blendv_ps(bestDot, dot, better);
            best = _mm256_blendv_ps(best, _mm256_castsi256_ps(_mm256_set1_epi32(o * int(columns))), better);
        }
        const __m256i negative = _mm256_castps_si256(_mm256_cmp_ps(bestDot, _mm256_setzero_ps(), _CMP_LT_OQ));
        const __m256i start = _mm256_add_epi32(_mm256_castps_si256(best),
                                               _mm256_and_si256(negative, _mm256_set1_epi32(9 * int(columns))));

        const __m256i ixp = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(cellColumns + x));
        const __m256 vx0 = _mm256_loadu_ps(shares + x);
        const __m256 left = _mm256_mul_ps(_mm256_sub_ps(one, vx0), length);
        const __m256 right = _mm256_mul_ps(vx0, length);
        const __m256 topLeft = _mm256_mul_ps(vy1v, left), topRight = _mm256_mul_ps(vy1v, right);
        const __m256 bottomLeft = _mm256_mul_ps(vy0v, left), bottomRight = _mm256_mul_ps(vy0v, right);
        const __m256 tlo = _mm256_unpacklo_ps(topLeft, topRight), thi = _mm256_unpackhi_ps(topLeft, topRight);
        const __m256 blo = _mm256_unpacklo_ps(bottomLeft, bottomRight);
        const __m256 bhi = _mm256_unpackhi_ps(bottomLeft, bottomRight);
        _mm256_store_ps(topPairs, _mm256_permute2f128_ps(tlo, thi, 0x20));
        _mm256_store_ps(topPairs + 8, _mm256_permute2f128_ps(tlo, thi, 0x31));
        _mm256_store_ps(bottomPairs, _mm256_permute2f128_ps(blo, bhi, 0x20));
        _mm256_store_ps(bottomPairs + 8, _mm256_permute2f128_ps(blo, bhi, 0x31));
        _mm256_store_si256(reinterpret_cast<__m256i *>(offset), _mm256_add_epi32(start, ixp));
        // In pixel order, so that every bin adds its votes in dlib's order.
        _Pragma("GCC unroll 8") for (int i = 0; i < 8; ++i) {
            addPair(top + offset[i], topPairs + 2 * i);
            addPair(bottom + offset[i], bottomPairs + 2 * i);
        }
    }
    // The last few pixels of the row, as dlib's scalar loop takes them.
    for (; x < visibleCols; ++x) {
        const float gx = float(int(mid[x + 1]) - int(mid[x - 1]));
        const float gy = float(int(down[x]) - int(up[x]));
        float bestDot = 0;
        int best = 0;
        for (int o = 0; o < 9; ++o) {
            const float dot = directionX[o] * gx + directionY[o] * gy;
            if (dot > bestDot) {
                bestDot = dot;
                best = o;
            } else if (-dot > bestDot) {
                bestDot = -dot;
                best = o + 9;
            }
        }
        const float length = std::sqrt(gx * gx + gy * gy);
        const float xp = float((double(x) + 0.5) / double(cellSize) - 0.5);
        const int ixp = int(std::floor(xp));
        const float vx0 = xp - float(ixp);
        const float vx1 = float(1.0 - double(vx0));
        const long c = best * columns + ixp + 1;
        top[c] += vy1 * vx1 * length;
        bottom[c] += vy0 * vx1 * length;
        top[c + 1] += vy1 * vx0 * length;
        bottom[c + 1] += vy0 * vx0 * length;
    }
}

// One feature of eight cells: the histogram value h clipped by each block's norm and
// scaled (shares), and their sum as normalise() sums its four lanes.
GLANTO_AVX2 inline __m256 blockFeature(__m256 h, const __m256 *nn, const __m256 *n, __m256 *shares)
{
    for (int i = 0; i < 4; ++i)
        shares[i] = _mm256_mul_ps(_mm256_min_ps(h, nn[i]), n[i]);
    return _mm256_add_ps(_mm256_add_ps(shares[0], shares[2]), _mm256_add_ps(shares[1], shares[3]));
}

// normalise() for the eight cells x to x + 7 of row y, one cell in each lane, with the
// same operations in the same order as it takes them for one cell (the four blocks
// around a cell, which it keeps in the lanes of one register, are four registers here).
GLANTO_AVX2 void normaliseCells(const Histograms &hist, const float *norm, int cellsCols, int y, int x,
                                float *const *planes, long at)
{
    const __m256 eps = _mm256_set1_ps(0.0001f);
    const __m256 fifth = _mm256_set1_ps(0.2f);
    // The energies of the cells in rows y to y + 2 from column x on, and the blocks
    // below-right, above-right, below-left and above-left of each cell.
    const float *n0 = norm + long(y) * cellsCols + x, *n1 = n0 + cellsCols, *n2 = n1 + cellsCols;
    const __m256 z[4][4] = {
        {_mm256_loadu_ps(n1 + 1), _mm256_loadu_ps(n1 + 2), _mm256_loadu_ps(n2 + 1), _mm256_loadu_ps(n2 + 2)},
        {_mm256_loadu_ps(n0 + 1), _mm256_loadu_ps(n0 + 2), _mm256_loadu_ps(n1 + 1), _mm256_loadu_ps(n1 + 2)},
        {_mm256_loadu_ps(n1), _mm256_loadu_ps(n1 + 1), _mm256_loadu_ps(n2), _mm256_loadu_ps(n2 + 1)},
        {_mm256_loadu_ps(n0), _mm256_loadu_ps(n0 + 1), _mm256_loadu_ps(n1), _mm256_loadu_ps(n1 + 1)},
    };
    __m256 nn[4], n[4], texture[4];
    for (int i = 0; i < 4; ++i) {
        nn[i] = _mm256_mul_ps(
            fifth, _mm256_sqrt_ps(_mm256_add_ps(
                       _mm256_add_ps(_mm256_add_ps(_mm256_add_ps(z[i][0], z[i][1]), z[i][2]), z[i][3]), eps)));
        n[i] = _mm256_div_ps(_mm256_set1_ps(0.1f), nn[i]);
        texture[i] = _mm256_setzero_ps();
    }
    const float *cells = hist.row(y + 2) + x + 2;
    const long columns = hist.columns;
    for (int o = 0; o < 18; o += 3) {
        __m256 a[4], b[4], c[4];
        _mm256_storeu_ps(planes[o] + at, blockFeature(_mm256_loadu_ps(cells + o * columns), nn, n, a));
        _mm256_storeu_ps(planes[o + 1] + at, blockFeature(_mm256_loadu_ps(cells + (o + 1) * columns), nn, n, b));
        _mm256_storeu_ps(planes[o + 2] + at, blockFeature(_mm256_loadu_ps(cells + (o + 2) * columns), nn, n, c));
        for (int i = 0; i < 4; ++i)
            texture[i] = _mm256_add_ps(texture[i], _mm256_add_ps(_mm256_add_ps(a[i], b[i]), c[i]));
    }
    for (int o = 0; o < 9; ++o) {
        __m256 unused[4];
        const __m256 h = _mm256_add_ps(_mm256_loadu_ps(cells + o * columns), _mm256_loadu_ps(cells + (o + 9) * columns));
        _mm256_storeu_ps(planes[o + 18] + at, blockFeature(h, nn, n, unused));
    }
    for (int i = 0; i < 4; ++i)
        _mm256_storeu_ps(planes[27 + i] + at, _mm256_mul_ps(texture[i], _mm256_set1_ps(float(2 * 0.2357))));
}

// dlib's block normalisation: each cell's histogram clipped and scaled by the energy of
// the four 2 x 2 blocks around it, 18 signed and 9 unsigned orientations and 4 textures.
GLANTO_AVX2 void normalise(const Histograms &hist, const float *norm, int cellsCols, int hogRows, int hogCols,
                           int padRows, int padCols, float *const *planes, long planeCols)
{
    auto nm = [norm, cellsCols](int r, int c) { return norm[long(r) * cellsCols + c]; };
    const __m128 eps = _mm_set1_ps(0.0001f);
    for (int y = 0; y < hogRows; ++y) {
        const long row = long(y + padRows) * planeCols;
        int x = 0;
        for (; x + 8 <= hogCols; x += 8)
            normaliseCells(hist, norm, cellsCols, y, x, planes, row + x + padCols);
        for (; x < hogCols; ++x) {
            const __m128 z1 = _mm_setr_ps(nm(y + 1, x + 1), nm(y, x + 1), nm(y + 1, x), nm(y, x));
            const __m128 z2 = _mm_setr_ps(nm(y + 1, x + 2), nm(y, x + 2), nm(y + 1, x + 1), nm(y, x + 1));
            const __m128 z3 = _mm_setr_ps(nm(y + 2, x + 1), nm(y + 1, x + 1), nm(y + 2, x), nm(y + 1, x));
            const __m128 z4 = _mm_setr_ps(nm(y + 2, x + 2), nm(y + 1, x + 2), nm(y + 2, x + 1), nm(y + 1, x + 1));
            const __m128 nn = _mm_mul_ps(
                _mm_set1_ps(0.2f), _mm_sqrt_ps(_mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_add_ps(z1, z2), z3), z4), eps)));
            const __m128 n = _mm_div_ps(_mm_set1_ps(0.1f), nn);
            float h[18];
            for (int o = 0; o < 18; ++o)
                h[o] = hist.at(y + 2, x + 2, o);
            const long at = row + x + padCols;
            __m128 texture = _mm_setzero_ps();
            for (int o = 0; o < 18; o += 3) {
                const __m128 a = _mm_mul_ps(_mm_min_ps(_mm_set1_ps(h[o]), nn), n);
                const __m128 b = _mm_mul_ps(_mm_min_ps(_mm_set1_ps(h[o + 1]), nn), n);
                const __m128 c = _mm_mul_ps(_mm_min_ps(_mm_set1_ps(h[o + 2]), nn), n);
                planes[o][at] = laneSum(a);
                planes[o + 1][at] = laneSum(b);
                planes[o + 2][at] = laneSum(c);
                texture = _mm_add_ps(texture, _mm_add_ps(_mm_add_ps(a, b), c));
            }
            texture = _mm_mul_ps(texture, _mm_set1_ps(float(2 * 0.2357)));
            for (int o = 0; o < 9; o += 3) {
                const __m128 a = _mm_mul_ps(_mm_min_ps(_mm_set1_ps(h[o] + h[o + 9]), nn), n);
                const __m128 b = _mm_mul_ps(_mm_min_ps(_mm_set1_ps(h[o + 1] + h[o + 10]), nn), n);
                const __m128 c = _mm_mul_ps(_mm_min_ps(_mm_set1_ps(h[o + 2] + h[o + 11]), nn), n);
                planes[o + 18][at] = laneSum(a);
                planes[o + 19][at] = laneSum(b);
                planes[o + 20][at] = laneSum(c);
            }
            alignas(16) float t[4];
            _mm_store_ps(t, texture);
            for (int i = 0; i < 4; ++i)
                planes[27 + i][at] = t[i];
        }
    }
}

// A value of dlib's four-at-a-time loop rounded as it rounds it: static_cast to the
// pixel type of (value + 0.5) taken in double, that is floor(value) + 1 where the
// fraction reaches one half. The fraction is exact in float, so this needs no double.
GLANTO_AVX2 inline __m256 roundHalfUp(__m256 value)
{
    const __m256 whole = _mm256_floor_ps(value);
    const __m256 up = _mm256_cmp_ps(_mm256_sub_ps(value, whole), _mm256_set1_ps(0.5f), _CMP_GE_OQ);
    return _mm256_add_ps(whole, _mm256_and_ps(up, _mm256_set1_ps(1.0f)));
}

GLANTO_AVX2 inline uint8_t roundHalfUp(float value)
{
    const float whole = std::floor(value);
    return uint8_t(whole + (value - whole >= 0.5f ? 1.0f : 0.0f));
}

// Eight bytes of `row` picked by the low eight bytes of `pick` (from a 16-byte load at
// `row`), as floats.
GLANTO_AVX2 inline __m256 pickPixels(const uint8_t *row, __m128i pick)
{
    const __m128i bytes = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(row)), pick);
    return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(bytes));
}

GLANTO_AVX2 void reduceRows(const uint8_t *in, long rows, long cols, long stride, uint8_t *out, long outRows,
                            long outCols, long outStride, const ReduceGroup *groups, long vectorCols)
{
    const double xScale = (cols - 1) / double(std::max<long>(outCols - 1, 1));
    const double yScale = (rows - 1) / double(std::max<long>(outRows - 1, 1));
    double y = -yScale;
    for (long r = 0; r < outRows; ++r) {
        y += yScale;
        const long top = long(std::floor(y));
        const long bottom = std::min(top + 1, rows - 1);
        const double tbFrac = y - double(top);
        const float tb = float(tbFrac);
        const float inverseTb = float(1 - tbFrac);
        const __m256 tbs = _mm256_set1_ps(tb);
        const __m256 inverseTbs = _mm256_set1_ps(inverseTb);
        const uint8_t *upper = in + top * stride;
        const uint8_t *lower = in + bottom * stride;
        uint8_t *line = out + r * outStride;

        // The columns dlib takes four at a time, eight here: with one load per row where
        // their source pixels fit 16 bytes, else one by one, with the same float operations.
        long c = 0;
        for (; c < vectorCols; c += 8) {
            const ReduceGroup &group = groups[c / 8];
            if (group.pick && c + 8 <= vectorCols) {
                const __m128i pickLeft = _mm_loadu_si128(reinterpret_cast<const __m128i *>(group.leftPick));
                const __m128i pickRight = _mm_loadu_si128(reinterpret_cast<const __m128i *>(group.rightPick));
                const __m256 lr = _mm256_loadu_ps(group.frac);
                const __m256 inverseLr = _mm256_loadu_ps(group.inverse);
                const __m256 tlf = _mm256_mul_ps(inverseTbs, inverseLr);
                const __m256 trf = _mm256_mul_ps(inverseTbs, lr);
                const __m256 blf = _mm256_mul_ps(tbs, inverseLr);
                const __m256 brf = _mm256_mul_ps(tbs, lr);
                __m256 sum = _mm256_mul_ps(tlf, pickPixels(upper + group.base, pickLeft));
                sum = _mm256_add_ps(sum, _mm256_mul_ps(trf, pickPixels(upper + group.base, pickRight)));
                sum = _mm256_add_ps(sum, _mm256_mul_ps(blf, pickPixels(lower + group.base, pickLeft)));
                sum = _mm256_add_ps(sum, _mm256_mul_ps(brf, pickPixels(lower + group.base, pickRight)));
                const __m256i values = _mm256_cvttps_epi32(roundHalfUp(sum));
                const __m128i words = _mm_packus_epi32(_mm256_castsi256_si128(values), _mm256_extracti128_si256(values, 1));
                _mm_storel_epi64(reinterpret_cast<__m128i *>(line + c), _mm_packus_epi16(words, words));
                continue;
            }
            for (long k = 0; k < 8 && c + k < vectorCols; ++k) {
                const int left = group.left[k];
                const float tlf = inverseTb * group.inverse[k], trf = inverseTb * group.frac[k];
                const float blf = tb * group.inverse[k], brf = tb * group.frac[k];
                float sum = tlf * float(upper[left]);
                sum = sum + trf * float(upper[left + 1]);
                sum = sum + blf * float(lower[left]);
                sum = sum + brf * float(lower[left + 1]);
                line[c + k] = roundHalfUp(sum);
            }
        }
        c = vectorCols;

        // The last few columns, as dlib's one-at-a-time loop computes and truncates them.
        double x = -xScale + double(c) * xScale;
        for (; c < outCols; ++c) {
            x += xScale;
            const long left = long(std::floor(x));
            const long right = std::min(left + 1, cols - 1);
            const float lrFrac = float(x - double(left));
            const float temp = float((1 - tbFrac) * ((1 - lrFrac) * float(upper[left]) + lrFrac * float(upper[right]))
                                     + tbFrac * ((1 - lrFrac) * float(lower[left]) + lrFrac * float(lower[right])));
            line[c] = temp <= 255.0f ? (temp >= 0.0f ? uint8_t(temp) : uint8_t(0)) : uint8_t(255);
        }
    }
}

} // namespace

bool available()
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

void extract(const uint8_t *pixels, long rows, long cols, long stride, int cellSize, int padRows, int padCols,
             float *const *planes, long planeCols, Scratch &scratch)
{
    const int cellsRows = cellCount(rows, cellSize);
    const int cellsCols = cellCount(cols, cellSize);
    const long columns = cellsCols + 2;
    scratch.histograms.assign(size_t(cellsRows + 2) * size_t(columns) * 18, 0.0f);
    const Histograms histograms{scratch.histograms.data(), columns};

    const int visibleRows = int(std::min(long(cellsRows) * cellSize, rows)) - 1;
    const int visibleCols = int(std::min(long(cellsCols) * cellSize, cols)) - 1;
    scratch.cellColumns.resize(size_t(visibleCols) + 8);
    scratch.shares.resize(size_t(visibleCols) + 8);
    columnShares(visibleCols, cellSize, scratch.cellColumns.data(), scratch.shares.data());
    for (int y = 1; y < visibleRows; ++y)
        voteRow(pixels + (y - 1) * stride, pixels + y * stride, pixels + (y + 1) * stride, y, visibleCols, cellSize,
                histograms, scratch.cellColumns.data(), scratch.shares.data());

    // Each cell's energy: its unsigned histogram squared, summed in dlib's order.
    scratch.norms.assign(size_t(cellsRows) * size_t(cellsCols), 0.0f);
    for (int r = 0; r < cellsRows; ++r) {
        for (int c = 0; c < cellsCols; ++c) {
            float &energy = scratch.norms[size_t(r) * size_t(cellsCols) + size_t(c)];
            for (int o = 0; o < 9; ++o) {
                const float sum = histograms.at(r + 1, c + 1, o) + histograms.at(r + 1, c + 1, o + 9);
                energy += sum * sum;
            }
        }
    }
    normalise(histograms, scratch.norms.data(), cellsCols, cellsRows - 2, cellsCols - 2, padRows, padCols, planes,
              planeCols);
}

void reduce(const uint8_t *pixels, long rows, long cols, long stride, uint8_t *out, long outStride,
            Scratch &scratch)
{
    const long outRows = reducedSide(rows);
    const long outCols = reducedSide(cols);
    if (outRows <= 0 || outCols <= 0 || rows <= 0 || cols <= 0)
        return;
    // The columns dlib's loop takes four at a time, up to the first four whose last
    // right-hand pixel falls outside the picture; their positions are summed in float
    // four lanes apart, as dlib sums them.
    const double xScale = (cols - 1) / double(std::max<long>(outCols - 1, 1));
    scratch.groups.assign(size_t(outCols + 7) / 8, ReduceGroup{});
    ReduceGroup *groups = scratch.groups.data();
    float lanes[4];
    for (int k = 0; k < 4; ++k)
        lanes[k] = float(-4 * xScale + k * xScale);
    const float step = float(4 * xScale);
    long vectorCols = 0;
    for (;; vectorCols += 4) {
        int left[4];
        float frac[4];
        for (int k = 0; k < 4; ++k) {
            lanes[k] += step;
            left[k] = int(lanes[k]);
            frac[k] = lanes[k] - float(left[k]);
        }
        if (left[3] + 1 >= cols || vectorCols + 4 > outCols)
            break;
        for (int k = 0; k < 4; ++k) {
            ReduceGroup &group = groups[(vectorCols + k) / 8];
            const int at = int((vectorCols + k) % 8);
            group.left[at] = left[k];
            group.frac[at] = frac[k];
            group.inverse[at] = 1.0f - frac[k];
        }
    }
    for (long c = 0; c + 8 <= vectorCols; c += 8) {
        ReduceGroup &group = groups[c / 8];
        group.base = group.left[0];
        group.pick = group.left[7] + 1 - group.base < 16 && group.base + 16 <= cols;
        for (int k = 0; k < 8; ++k) {
            group.leftPick[k] = uint8_t(group.left[k] - group.base);
            group.rightPick[k] = uint8_t(group.left[k] + 1 - group.base);
            group.leftPick[k + 8] = group.rightPick[k + 8] = 0x80;
        }
    }
    reduceRows(pixels, rows, cols, stride, out, outRows, outCols, outStride, groups, vectorCols);
}

#else

bool available()
{
    return false;
}

void extract(const uint8_t *, long, long, long, int, int, int, float *const *, long, Scratch &)
{
}

void reduce(const uint8_t *, long, long, long, uint8_t *, long, Scratch &)
{
}

#endif

} // namespace HogFeatures
