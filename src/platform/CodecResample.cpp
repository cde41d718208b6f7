// The resampler that brings a DCT-scaled decode to the exact size asked. It is the
// hot loop of every preview, so it is compiled for vectorisation whatever the
// build type says.
#pragma GCC optimize("O3")

#include "platform/CodecInternal.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr int weightBits = 14;
constexpr int midShift = 7; // vertical sums are kept as 15-bit values between the passes

struct Axis {
    std::vector<int> start;
    std::vector<int> count;
    std::vector<int32_t> weights; // taps per output sample, padded to maxTaps
    int maxTaps = 0;
};

// Tent filter: linear interpolation when enlarging, and a tent as wide as the
// reduction when shrinking, which averages every source sample that falls under
// an output sample.
Axis makeAxis(int srcSize, int dstSize)
{
    Axis axis;
    const double scale = double(srcSize) / dstSize;
    // Below a halving, plain linear interpolation (two taps) loses nothing visible
    // and keeps the preview path cheap; beyond it the tent widens to average.
    const double support = scale < 2.0 ? 1.0 : scale;
    axis.maxTaps = int(std::ceil(support * 2)) + 1;
    axis.start.resize(size_t(dstSize));
    axis.count.resize(size_t(dstSize));
    axis.weights.assign(size_t(dstSize) * size_t(axis.maxTaps), 0);
    std::vector<double> w(size_t(axis.maxTaps));
    for (int i = 0; i < dstSize; ++i) {
        const double center = (i + 0.5) * scale - 0.5;
        int first = int(std::floor(center - support)) + 1;
        int last = int(std::ceil(center + support)) - 1;
        first = std::clamp(first, 0, srcSize - 1);
        last = std::clamp(last, 0, srcSize - 1);
        if (last - first + 1 > axis.maxTaps)
            last = first + axis.maxTaps - 1;
        double sum = 0;
        int n = 0;
        for (int j = first; j <= last; ++j, ++n) {
            w[size_t(n)] = std::max(0.0, 1.0 - std::abs(j - center) / support);
            sum += w[size_t(n)];
        }
        if (sum <= 0) {
            // Only at the very edge: take the nearest sample.
            first = std::clamp(int(std::lround(center)), 0, srcSize - 1);
            n = 1;
            w[0] = sum = 1;
        }
        int32_t *out = &axis.weights[size_t(i) * size_t(axis.maxTaps)];
        int32_t total = 0;
        int heaviest = 0;
        for (int k = 0; k < n; ++k) {
            out[k] = int32_t(std::lround(w[size_t(k)] / sum * (1 << weightBits)));
            total += out[k];
            if (out[k] > out[heaviest])
                heaviest = k;
        }
        out[heaviest] += (1 << weightBits) - total; // weights sum exactly to one
        axis.start[size_t(i)] = first;
        axis.count[size_t(i)] = n;
    }
    return axis;
}

} // namespace

namespace CodecDetail {

void resampleRgba(const uint8_t *src, int sw, int sh, qsizetype sstride, uint8_t *dst, int dw, int dh,
                  qsizetype dstride)
{
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0)
        return;
    if (sw == dw && sh == dh) {
        for (int y = 0; y < sh; ++y)
            std::memcpy(dst + y * dstride, src + y * sstride, size_t(sw) * 4);
        return;
    }
    const Axis horizontal = makeAxis(sw, dw);
    const Axis vertical = makeAxis(sh, dh);
    const int rowValues = sw * 4;
    std::vector<int32_t> acc(static_cast<size_t>(rowValues));
    std::vector<uint16_t> mid(static_cast<size_t>(rowValues));
    // Linear interpolation along the rows: every output pixel mixes two neighbours.
    const bool twoTaps = horizontal.maxTaps <= 3 && sw / double(dw) < 2.0;
    std::vector<int> pairStart, pairNext;
    std::vector<int32_t> pairWeight;
    if (twoTaps) {
        pairStart.resize(size_t(dw));
        pairNext.resize(size_t(dw));
        pairWeight.resize(size_t(dw));
        for (int x = 0; x < dw; ++x) {
            const int first = horizontal.start[size_t(x)];
            const int count = horizontal.count[size_t(x)];
            const int32_t *hw = &horizontal.weights[size_t(x) * size_t(horizontal.maxTaps)];
            pairStart[size_t(x)] = first * 4;
            pairNext[size_t(x)] = (count > 1 ? first + 1 : first) * 4;
            pairWeight[size_t(x)] = count > 1 ? hw[0] : (1 << weightBits);
        }
    }

    for (int y = 0; y < dh; ++y) {
        // Vertical pass: weighted sum of the source rows under this output row.
        const int first = vertical.start[size_t(y)];
        const int taps = vertical.count[size_t(y)];
        const int32_t *vw = &vertical.weights[size_t(y) * size_t(vertical.maxTaps)];
        uint16_t *m = mid.data();
        if (taps == 2) {
            // The common case of a mild reduction, in one vectorised pass.
            const uint8_t *r0 = src + qsizetype(first) * sstride;
            const uint8_t *r1 = r0 + sstride;
            const int32_t w0 = vw[0], w1 = vw[1];
            for (int x = 0; x < rowValues; ++x)
                m[x] = uint16_t((w0 * r0[x] + w1 * r1[x] + (1 << (midShift - 1))) >> midShift);
        } else {
        int32_t *a = acc.data();
        {
            const uint8_t *row = src + qsizetype(first) * sstride;
            const int32_t w = vw[0];
            for (int x = 0; x < rowValues; ++x)
                a[x] = w * row[x];
        }
        for (int k = 1; k < taps; ++k) {
            const uint8_t *row = src + qsizetype(first + k) * sstride;
            const int32_t w = vw[k];
            for (int x = 0; x < rowValues; ++x)
                a[x] += w * row[x];
        }
        for (int x = 0; x < rowValues; ++x)
            m[x] = uint16_t((a[x] + (1 << (midShift - 1))) >> midShift);
        }

        // Horizontal pass into the output row.
        uint8_t *out = dst + qsizetype(y) * dstride;
        if (twoTaps) {
            constexpr int shift = weightBits * 2 - midShift;
            constexpr int32_t round = 1 << (shift - 1);
            for (int x = 0; x < dw; ++x) {
                const uint16_t *p0 = m + pairStart[size_t(x)];
                const uint16_t *p1 = m + pairNext[size_t(x)];
                const int32_t w0 = pairWeight[size_t(x)];
                const int32_t w1 = (1 << weightBits) - w0;
                for (int c = 0; c < 4; ++c)
                    out[c] = uint8_t((w0 * p0[c] + w1 * p1[c] + round) >> shift);
                out += 4;
            }
            continue;
        }
        for (int x = 0; x < dw; ++x) {
            const int hfirst = horizontal.start[size_t(x)];
            const int htaps = horizontal.count[size_t(x)];
            const int32_t *hw = &horizontal.weights[size_t(x) * size_t(horizontal.maxTaps)];
            const uint16_t *p = m + hfirst * 4;
            int32_t c0 = 0, c1 = 0, c2 = 0, c3 = 0;
            for (int k = 0; k < htaps; ++k) {
                const int32_t w = hw[k];
                c0 += w * p[0];
                c1 += w * p[1];
                c2 += w * p[2];
                c3 += w * p[3];
                p += 4;
            }
            constexpr int shift = weightBits * 2 - midShift;
            constexpr int32_t round = 1 << (shift - 1);
            out[0] = uint8_t(std::clamp((c0 + round) >> shift, 0, 255));
            out[1] = uint8_t(std::clamp((c1 + round) >> shift, 0, 255));
            out[2] = uint8_t(std::clamp((c2 + round) >> shift, 0, 255));
            out[3] = uint8_t(std::clamp((c3 + round) >> shift, 0, 255));
            out += 4;
        }
    }
}

} // namespace CodecDetail
