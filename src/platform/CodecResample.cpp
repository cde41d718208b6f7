// The resampler that brings a DCT-scaled decode to the exact size asked. It is the
// hot loop of every preview, so it is compiled for vectorisation whatever the
// build type says.
#pragma GCC optimize("O3")

#include "platform/CodecInternal.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

// --- two-tap reduction, row by row ---------------------------------------------

namespace {

std::atomic<bool> vectorResampling{true};

#if defined(__x86_64__)
// Whether the passes below take their AVX2 paths: the processor has AVX2 and they are
// not turned off (setVectorResampling).
bool useAvx2()
{
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2 && vectorResampling.load(std::memory_order_relaxed);
}

// mixRows sixteen values at a time where the processor has AVX2; the caller
// finishes the row.
__attribute__((target("avx2"))) int mixRowsAvx2(const uint8_t *first, const uint8_t *second, int32_t weights,
                                                 int count, int16_t *mid)
{
    const __m256i round = _mm256_set1_epi32(1 << (midShift - 1));
    const __m256i w = _mm256_set1_epi32(weights);
    int x = 0;
    for (; x + 16 <= count; x += 16) {
        const __m256i p = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(first + x)));
        const __m256i q = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(second + x)));
        const __m256i a0 = _mm256_madd_epi16(_mm256_unpacklo_epi16(p, q), w);
        const __m256i a1 = _mm256_madd_epi16(_mm256_unpackhi_epi16(p, q), w);
        // Within each 128-bit lane the low and high halves pack back into order.
        const __m256i r = _mm256_packs_epi32(_mm256_srai_epi32(_mm256_add_epi32(a0, round), midShift),
                                             _mm256_srai_epi32(_mm256_add_epi32(a1, round), midShift));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(mid + x), r);
    }
    return x;
}
#endif

// The vertical pass of the two-tap reduction: 16-bit values with midShift
// fractional bits from two rows of bytes.
void mixRows(const uint8_t *first, const uint8_t *second, int32_t weights, int count, int16_t *mid)
{
    int x = 0;
#if defined(__x86_64__)
    if (useAvx2())
        x = mixRowsAvx2(first, second, weights, count, mid);
    const __m128i zero = _mm_setzero_si128();
    const __m128i round = _mm_set1_epi32(1 << (midShift - 1));
    const __m128i w = _mm_set1_epi32(weights);
    for (; x + 16 <= count; x += 16) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i *>(first + x));
        const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i *>(second + x));
        const __m128i lo = _mm_unpacklo_epi8(p, q);
        const __m128i hi = _mm_unpackhi_epi8(p, q);
        const __m128i a0 = _mm_madd_epi16(_mm_unpacklo_epi8(lo, zero), w);
        const __m128i a1 = _mm_madd_epi16(_mm_unpackhi_epi8(lo, zero), w);
        const __m128i a2 = _mm_madd_epi16(_mm_unpacklo_epi8(hi, zero), w);
        const __m128i a3 = _mm_madd_epi16(_mm_unpackhi_epi8(hi, zero), w);
        const __m128i r0 = _mm_srai_epi32(_mm_add_epi32(a0, round), midShift);
        const __m128i r1 = _mm_srai_epi32(_mm_add_epi32(a1, round), midShift);
        const __m128i r2 = _mm_srai_epi32(_mm_add_epi32(a2, round), midShift);
        const __m128i r3 = _mm_srai_epi32(_mm_add_epi32(a3, round), midShift);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(mid + x), _mm_packs_epi32(r0, r1));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(mid + x + 8), _mm_packs_epi32(r2, r3));
    }
#endif
    const int32_t w0 = int16_t(weights & 0xFFFF), w1 = weights >> 16;
    for (; x < count; ++x)
        mid[x] = int16_t((w0 * first[x] + w1 * second[x] + (1 << (midShift - 1))) >> midShift);
}

#if defined(__x86_64__)
// Two output pixels of mixColumnsAvx2 (one per 128-bit lane) as 32-bit sums. A
// function of its own rather than a lambda: a lambda does not inherit the caller's
// target attribute, and GCC refuses to inline AVX2 intrinsics into it at -O3.
__attribute__((target("avx2"))) inline __m256i mixPairAvx2(const int16_t *mid, const int *firsts, int i, __m256i w,
                                                           __m256i interleave, __m256i round, int shift)
{
    const __m256i taps = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(mid + firsts[i]))),
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(mid + firsts[i + 1])), 1);
    const __m256i sum = _mm256_madd_epi16(_mm256_shuffle_epi8(taps, interleave), w);
    return _mm256_srai_epi32(_mm256_add_epi32(sum, round), shift);
}

// mixColumns four pixels at a time where the processor has AVX2. The second tap of
// a pixel is always the pixel after the first one, or weighs nothing, so one load
// fetches both (the row is padded for the last one); the caller finishes the row.
__attribute__((target("avx2"))) int mixColumnsAvx2(const int16_t *mid, const int *firsts, const int32_t *weights,
                                                    int width, uint8_t *out)
{
    constexpr int shift = weightBits * 2 - midShift;
    const __m256i round = _mm256_set1_epi32(1 << (shift - 1));
    // r0 r1 g0 g1 b0 b1 a0 a1 from r0 g0 b0 a0 r1 g1 b1 a1, in each 128-bit lane.
    const __m256i interleave = _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15, 0, 1, 8, 9, 2,
                                                3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
    const __m256i spreadLow = _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1);
    const __m256i spreadHigh = _mm256_setr_epi32(2, 2, 2, 2, 3, 3, 3, 3);
    int x = 0;
    for (; x + 4 <= width; x += 4) {
        const __m256i w = _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(weights + x)));
        const __m256i p01 = mixPairAvx2(mid, firsts, x, _mm256_permutevar8x32_epi32(w, spreadLow), interleave, round, shift);
        const __m256i p23 =
            mixPairAvx2(mid, firsts, x + 2, _mm256_permutevar8x32_epi32(w, spreadHigh), interleave, round, shift);
        // Lanes hold pixels (0, 2) and (1, 3) after packing; interleave them back.
        const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(p01, p23), _mm256_setzero_si256());
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x * 4),
                         _mm_unpacklo_epi32(_mm256_castsi256_si128(bytes), _mm256_extracti128_si256(bytes, 1)));
    }
    return x;
}
#endif

// The horizontal pass: each output pixel from two pixels of the 16-bit row.
void mixColumns(const int16_t *mid, const int *firsts, const int *seconds, const int32_t *weights, int width,
                uint8_t *out)
{
    constexpr int shift = weightBits * 2 - midShift;
    int x = 0;
#if defined(__x86_64__)
    if (useAvx2())
        x = mixColumnsAvx2(mid, firsts, weights, width, out);
    const __m128i round = _mm_set1_epi32(1 << (shift - 1));
    auto pixel = [&](int i) {
        const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(mid + firsts[i]));
        const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(mid + seconds[i]));
        const __m128i sum = _mm_madd_epi16(_mm_unpacklo_epi16(a, b), _mm_set1_epi32(weights[i]));
        return _mm_srai_epi32(_mm_add_epi32(sum, round), shift);
    };
    for (; x + 4 <= width; x += 4) {
        const __m128i p01 = _mm_packs_epi32(pixel(x), pixel(x + 1));
        const __m128i p23 = _mm_packs_epi32(pixel(x + 2), pixel(x + 3));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x * 4), _mm_packus_epi16(p01, p23));
    }
#endif
    for (; x < width; ++x) {
        const int32_t w0 = int16_t(weights[x] & 0xFFFF), w1 = weights[x] >> 16;
        for (int c = 0; c < 4; ++c)
            out[x * 4 + c] = uint8_t((w0 * mid[firsts[x] + c] + w1 * mid[seconds[x] + c] + (1 << (shift - 1))) >> shift);
    }
}

// The two taps of each output sample of an axis, from the tent filter's weights
// (which come to two taps or one below a halving); the pair of weights is packed
// as two 16-bit halves, the form pmaddwd takes.
void twoTaps(int srcSize, int dstSize, int scaleBy, std::vector<int> &firsts, std::vector<int> &seconds,
             std::vector<int32_t> &weights)
{
    const Axis axis = makeAxis(srcSize, dstSize);
    firsts.resize(size_t(dstSize));
    seconds.resize(size_t(dstSize));
    weights.resize(size_t(dstSize));
    for (int i = 0; i < dstSize; ++i) {
        const int first = axis.start[size_t(i)];
        const bool two = axis.count[size_t(i)] > 1;
        const int32_t w0 = two ? axis.weights[size_t(i) * size_t(axis.maxTaps)] : (1 << weightBits);
        firsts[size_t(i)] = first * scaleBy;
        seconds[size_t(i)] = (two ? first + 1 : first) * scaleBy;
        weights[size_t(i)] = int32_t(uint32_t(w0) | uint32_t((1 << weightBits) - w0) << 16);
    }
}

} // namespace

namespace CodecDetail {

bool RowReducer::suits(int sw, int sh, int dw, int dh)
{
    return sw > 0 && sh > 0 && dw > 0 && dh > 0 && sw < 2 * dw && sh < 2 * dh;
}

RowReducer::RowReducer(int sw, int sh, int dw, int dh)
    : m_sourceWidth(sw)
    , m_width(dw)
{
    twoTaps(sh, dh, 1, m_rowFirst, m_rowSecond, m_rowWeights);
    twoTaps(sw, dw, 4, m_columnFirst, m_columnSecond, m_columnWeights);
    m_mid.resize(size_t(sw) * 4 + 4, 0); // a pixel of padding for the last pair
}

void RowReducer::reduceRow(int y, const uint8_t *first, const uint8_t *second, uint8_t *out)
{
    mixRows(first, second, m_rowWeights[size_t(y)], m_sourceWidth * 4, m_mid.data());
    mixColumns(m_mid.data(), m_columnFirst.data(), m_columnSecond.data(), m_columnWeights.data(), m_width, out);
}

} // namespace CodecDetail

namespace {

// Nothing to do for empty sizes; equal sizes are a plain row copy. True when done.
bool handledWithoutResampling(const uint8_t *src, int sw, int sh, qsizetype sstride, uint8_t *dst, int dw,
                              int dh, qsizetype dstride)
{
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0)
        return true;
    if (sw != dw || sh != dh)
        return false;
    for (int y = 0; y < sh; ++y)
        std::memcpy(dst + y * dstride, src + y * sstride, size_t(sw) * 4);
    return true;
}

} // namespace

namespace CodecDetail {

void resampleRgba(const uint8_t *src, int sw, int sh, qsizetype sstride, uint8_t *dst, int dw, int dh,
                  qsizetype dstride)
{
    if (handledWithoutResampling(src, sw, sh, sstride, dst, dw, dh, dstride))
        return;
    if (RowReducer::suits(sw, sh, dw, dh)) {
        RowReducer reducer(sw, sh, dw, dh);
        for (int y = 0; y < dh; ++y)
            reducer.reduceRow(y, src + qsizetype(reducer.firstSourceRow(y)) * sstride,
                              src + qsizetype(reducer.secondSourceRow(y)) * sstride, dst + qsizetype(y) * dstride);
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

// --- Lanczos 3 ----------------------------------------------------------------
//
// The reduction for pictures that are looked at or measured as they are: the
// thumbnails of the cleanup screens and the cleanup's analysis image, whose
// sharpness thresholds were set on libvips' Lanczos 3 thumbnails. A tent filter
// or a bilinear reduction loses about half of that sharpness; Lanczos 3 keeps it.
//
// Fixed point throughout: 14-bit weights, the vertical pass keeps 6 fractional
// bits in 16-bit values (the lobes overshoot 0-255 a little, which still fits),
// and both passes multiply-add pairs of taps with SSE2's pmaddwd.

namespace {

constexpr int lanczosWeightBits = 14;
constexpr int lanczosMidBits = 6;

double lanczos3(double x)
{
    x = std::abs(x);
    if (x < 1e-9)
        return 1.0;
    if (x >= 3.0)
        return 0.0;
    const double px = M_PI * x;
    return 3.0 * std::sin(px) * std::sin(px / 3.0) / (px * px);
}

// Taps per output sample, always an even count so that they go in pairs; unused
// taps weigh nothing and point at a real sample.
struct LanczosAxis {
    std::vector<int> start;
    std::vector<int16_t> weights; // taps per output sample
    int taps = 0;
};

LanczosAxis makeLanczosAxis(int srcSize, int dstSize)
{
    LanczosAxis axis;
    const double scale = double(srcSize) / dstSize;
    const double stretch = std::max(1.0, scale);
    const double support = 3.0 * stretch;
    int taps = int(std::ceil(support * 2)) + 1;
    taps = std::min(taps + (taps & 1), ((srcSize + 1) & ~1));
    taps = std::max(taps, 2);
    axis.taps = taps;
    axis.start.resize(size_t(dstSize));
    axis.weights.assign(size_t(dstSize) * size_t(taps), 0);
    std::vector<double> w(static_cast<size_t>(taps));
    for (int i = 0; i < dstSize; ++i) {
        const double center = (i + 0.5) * scale - 0.5;
        const int reach = int(std::floor(center - support)) + 1;
        // The window of taps, moved inside the image; samples beyond an edge repeat
        // the edge sample (as libvips extends its images), so their weight folds onto it.
        const int first = std::clamp(reach, 0, std::max(0, srcSize - taps));
        std::fill(w.begin(), w.end(), 0.0);
        double sum = 0;
        for (int j = reach; j < reach + int(std::ceil(support * 2)) + 1; ++j) {
            const double weight = lanczos3((j - center) / stretch);
            if (weight == 0.0)
                continue;
            const int k = std::clamp(j, 0, srcSize - 1) - first;
            if (k < 0 || k >= taps)
                continue;
            w[size_t(k)] += weight;
            sum += weight;
        }
        int16_t *out = &axis.weights[size_t(i) * size_t(taps)];
        if (std::abs(sum) < 1e-9) {
            out[std::clamp(int(std::lround(center)) - first, 0, taps - 1)] = 1 << lanczosWeightBits;
        } else {
            int total = 0, heaviest = 0;
            for (int k = 0; k < taps; ++k) {
                out[k] = int16_t(std::lround(w[size_t(k)] / sum * (1 << lanczosWeightBits)));
                total += out[k];
                if (out[k] > out[heaviest])
                    heaviest = k;
            }
            out[heaviest] = int16_t(out[heaviest] + (1 << lanczosWeightBits) - total);
        }
        axis.start[size_t(i)] = first;
    }
    return axis;
}

#if defined(__x86_64__)
// The vertical pass sixteen values at a time where the processor has AVX2 (twice the
// pairs per instruction); the caller finishes the row.
__attribute__((target("avx2"))) int lanczosColumnAvx2(const uint8_t *const *rows, const int16_t *weights, int taps,
                                                       int count, int16_t *mid)
{
    constexpr int shift = lanczosWeightBits - lanczosMidBits;
    const __m256i round = _mm256_set1_epi32(1 << (shift - 1));
    int x = 0;
    for (; x + 32 <= count; x += 32) {
        __m256i a0 = round, a1 = round, a2 = round, a3 = round;
        for (int k = 0; k < taps; k += 2) {
            const __m256i w = _mm256_set1_epi32(
                int32_t(uint32_t(uint16_t(weights[k])) | uint32_t(uint16_t(weights[k + 1])) << 16));
            const __m256i p0 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[k] + x)));
            const __m256i q0 = _mm256_cvtepu8_epi16(
                _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[k + 1] + x)));
            const __m256i p1 = _mm256_cvtepu8_epi16(
                _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[k] + x + 16)));
            const __m256i q1 = _mm256_cvtepu8_epi16(
                _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[k + 1] + x + 16)));
            a0 = _mm256_add_epi32(a0, _mm256_madd_epi16(_mm256_unpacklo_epi16(p0, q0), w));
            a1 = _mm256_add_epi32(a1, _mm256_madd_epi16(_mm256_unpackhi_epi16(p0, q0), w));
            a2 = _mm256_add_epi32(a2, _mm256_madd_epi16(_mm256_unpacklo_epi16(p1, q1), w));
            a3 = _mm256_add_epi32(a3, _mm256_madd_epi16(_mm256_unpackhi_epi16(p1, q1), w));
        }
        // Within each 128-bit lane the low and high halves pack back into order.
        const __m256i r0 = _mm256_packs_epi32(_mm256_srai_epi32(a0, shift), _mm256_srai_epi32(a1, shift));
        const __m256i r1 = _mm256_packs_epi32(_mm256_srai_epi32(a2, shift), _mm256_srai_epi32(a3, shift));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(mid + x), r0);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(mid + x + 16), r1);
    }
    return x;
}

#endif

// One output row of the vertical pass: values (bytes) of taps source rows weighed
// into 16-bit values with lanczosMidBits fractional bits.
void lanczosColumn(const uint8_t *const *rows, const int16_t *weights, int taps, int count, int16_t *mid)
{
    constexpr int shift = lanczosWeightBits - lanczosMidBits;
    int x = 0;
#if defined(__x86_64__)
    if (useAvx2())
        x = lanczosColumnAvx2(rows, weights, taps, count, mid);
    const __m128i zero = _mm_setzero_si128();
    const __m128i round = _mm_set1_epi32(1 << (shift - 1));
    for (; x + 16 <= count; x += 16) {
        __m128i a0 = round, a1 = round, a2 = round, a3 = round;
        for (int k = 0; k < taps; k += 2) {
            const __m128i w = _mm_set1_epi32(int32_t(uint32_t(uint16_t(weights[k])) | uint32_t(uint16_t(weights[k + 1])) << 16));
            const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[k] + x));
            const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows[k + 1] + x));
            const __m128i lo = _mm_unpacklo_epi8(p, q);
            const __m128i hi = _mm_unpackhi_epi8(p, q);
            a0 = _mm_add_epi32(a0, _mm_madd_epi16(_mm_unpacklo_epi8(lo, zero), w));
            a1 = _mm_add_epi32(a1, _mm_madd_epi16(_mm_unpackhi_epi8(lo, zero), w));
            a2 = _mm_add_epi32(a2, _mm_madd_epi16(_mm_unpacklo_epi8(hi, zero), w));
            a3 = _mm_add_epi32(a3, _mm_madd_epi16(_mm_unpackhi_epi8(hi, zero), w));
        }
        a0 = _mm_srai_epi32(a0, shift);
        a1 = _mm_srai_epi32(a1, shift);
        a2 = _mm_srai_epi32(a2, shift);
        a3 = _mm_srai_epi32(a3, shift);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(mid + x), _mm_packs_epi32(a0, a1));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(mid + x + 8), _mm_packs_epi32(a2, a3));
    }
#endif
    for (; x < count; ++x) {
        int32_t sum = 1 << (shift - 1);
        for (int k = 0; k < taps; ++k)
            sum += weights[k] * rows[k][x];
        mid[x] = int16_t(std::clamp(sum >> shift, -32768, 32767));
    }
}

#if defined(__x86_64__)
// The horizontal pass two output pixels at a time where the processor has AVX2, one
// in each 128-bit lane, with the same sums in the same order as the loop below; the
// caller finishes the row.
__attribute__((target("avx2"))) int lanczosRowAvx2(const int16_t *mid, const LanczosAxis &axis, int width,
                                                    uint8_t *out)
{
    constexpr int shift = lanczosWeightBits + lanczosMidBits;
    const int taps = axis.taps;
    const __m256i round = _mm256_set1_epi32(1 << (shift - 1));
    // Two neighbouring taps of one pixel (eight values) interleaved channel by channel,
    // as _mm_unpacklo_epi16 of the two pixels would.
    const __m256i interleave = _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15, 0, 1, 8, 9, 2,
                                                3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
    // Each pixel's alpha in all four of its bytes.
    const __m128i alpha = _mm_setr_epi8(3, 3, 3, 3, 7, 7, 7, 7, 11, 11, 11, 11, 15, 15, 15, 15);
    int x = 0;
    for (; x + 2 <= width; x += 2) {
        const int16_t *w0 = &axis.weights[size_t(x) * size_t(taps)];
        const int16_t *w1 = w0 + taps;
        const int16_t *p0 = mid + axis.start[size_t(x)] * 4;
        const int16_t *p1 = mid + axis.start[size_t(x) + 1] * 4;
        __m256i acc = round;
        for (int k = 0; k < taps; k += 2, p0 += 8, p1 += 8) {
            int32_t pair0, pair1;
            std::memcpy(&pair0, w0 + k, 4);
            std::memcpy(&pair1, w1 + k, 4);
            const __m256i pairs = _mm256_setr_epi32(pair0, pair0, pair0, pair0, pair1, pair1, pair1, pair1);
            const __m256i values = _mm256_shuffle_epi8(
                _mm256_loadu2_m128i(reinterpret_cast<const __m128i *>(p1), reinterpret_cast<const __m128i *>(p0)),
                interleave);
            acc = _mm256_add_epi32(acc, _mm256_madd_epi16(values, pairs));
        }
        acc = _mm256_srai_epi32(acc, shift);
        // Per lane: four sums to 16 bits, then to bytes; the two pixels side by side.
        const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(acc, acc), acc);
        __m128i two = _mm_unpacklo_epi32(_mm256_castsi256_si128(bytes), _mm256_extracti128_si256(bytes, 1));
        // No channel above alpha (alpha against itself changes nothing).
        two = _mm_min_epu8(two, _mm_shuffle_epi8(two, alpha));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + x * 4), two);
    }
    return x;
}
#endif

// One output row of the horizontal pass: RGBA pixels from the 16-bit row, clamped to
// 0-255 and to premultiplied form (no channel above alpha).
void lanczosRow(const int16_t *mid, const LanczosAxis &axis, int width, uint8_t *out)
{
    constexpr int shift = lanczosWeightBits + lanczosMidBits;
    const int taps = axis.taps;
    int x = 0;
#if defined(__x86_64__)
    if (useAvx2())
        x = lanczosRowAvx2(mid, axis, width, out);
#endif
    for (; x < width; ++x) {
        const int16_t *w = &axis.weights[size_t(x) * size_t(taps)];
        const int16_t *p = mid + axis.start[size_t(x)] * 4;
#if defined(__x86_64__)
        __m128i acc = _mm_set1_epi32(1 << (shift - 1));
        for (int k = 0; k < taps; k += 2, p += 8) {
            const __m128i pair = _mm_set1_epi32(int32_t(uint32_t(uint16_t(w[k])) | uint32_t(uint16_t(w[k + 1])) << 16));
            const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p));
            const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p + 4));
            acc = _mm_add_epi32(acc, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), pair));
        }
        acc = _mm_srai_epi32(acc, shift);
        __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(acc, acc), acc);
        uint32_t pixel = uint32_t(_mm_cvtsi128_si32(bytes));
#else
        int32_t c[4] = {1 << (shift - 1), 1 << (shift - 1), 1 << (shift - 1), 1 << (shift - 1)};
        for (int k = 0; k < taps; ++k, p += 4) {
            for (int i = 0; i < 4; ++i)
                c[i] += w[k] * p[i];
        }
        uint32_t pixel = 0;
        for (int i = 0; i < 4; ++i)
            pixel |= uint32_t(std::clamp(c[i] >> shift, 0, 255)) << (8 * i);
#endif
        uint8_t px[4];
        std::memcpy(px, &pixel, 4);
        if (px[3] != 255) {
            px[0] = std::min(px[0], px[3]);
            px[1] = std::min(px[1], px[3]);
            px[2] = std::min(px[2], px[3]);
        }
        std::memcpy(out + x * 4, px, 4);
    }
}

} // namespace

namespace CodecDetail {

void setVectorResampling(bool on)
{
    vectorResampling.store(on, std::memory_order_relaxed);
}

struct LanczosReducer::Axes {
    LanczosAxis horizontal;
    LanczosAxis vertical;
};

LanczosReducer::LanczosReducer(int sw, int sh, int dw, int dh)
    : m_axes(std::make_unique<Axes>(Axes{makeLanczosAxis(sw, dw), makeLanczosAxis(sh, dh)}))
    , m_sourceHeight(sh)
    , m_width(dw)
    , m_rowValues(sw * 4)
    // The horizontal pass may read one pixel pair past the last start; pad the row.
    , m_mid(size_t(sw) * 4 + size_t(m_axes->horizontal.taps + 2) * 4, 0)
{
}

LanczosReducer::~LanczosReducer() = default;

int LanczosReducer::rowsAtOnce() const
{
    return m_axes->vertical.taps;
}

int LanczosReducer::firstSourceRow(int y) const
{
    return m_axes->vertical.start[size_t(y)];
}

int LanczosReducer::lastSourceRow(int y) const
{
    return std::min(firstSourceRow(y) + m_axes->vertical.taps, m_sourceHeight) - 1;
}

void LanczosReducer::reduceRow(int y, const uint8_t *const *rows, uint8_t *out)
{
    const LanczosAxis &vertical = m_axes->vertical;
    lanczosColumn(rows, &vertical.weights[size_t(y) * size_t(vertical.taps)], vertical.taps, m_rowValues,
                  m_mid.data());
    lanczosRow(m_mid.data(), m_axes->horizontal, m_width, out);
}

void lanczosRgba(const uint8_t *src, int sw, int sh, qsizetype sstride, uint8_t *dst, int dw, int dh,
                 qsizetype dstride)
{
    if (handledWithoutResampling(src, sw, sh, sstride, dst, dw, dh, dstride))
        return;
    LanczosReducer reducer(sw, sh, dw, dh);
    std::vector<const uint8_t *> rows(size_t(reducer.rowsAtOnce()));
    for (int y = 0; y < dh; ++y) {
        const int first = reducer.firstSourceRow(y);
        for (int k = 0; k < reducer.rowsAtOnce(); ++k)
            rows[size_t(k)] = src + qsizetype(std::min(first + k, sh - 1)) * sstride;
        reducer.reduceRow(y, rows.data(), dst + qsizetype(y) * dstride);
    }
}

} // namespace CodecDetail

namespace CodecDetail {

void resampleFor(Codec::ScaleQuality quality, const uint8_t *src, int sw, int sh, qsizetype sstride, uint8_t *dst,
                 int dw, int dh, qsizetype dstride)
{
    if (quality == Codec::ScaleQuality::fine)
        lanczosRgba(src, sw, sh, sstride, dst, dw, dh, dstride);
    else
        resampleRgba(src, sw, sh, sstride, dst, dw, dh, dstride);
}

QImage fitResampled(const QImage &image, int maxPixelSize, Codec::ScaleQuality quality)
{
    const QSize target = fitWithin(image.size(), maxPixelSize);
    if (target == image.size())
        return image;
    QImage out = pooledImage(target.width(), target.height());
    if (out.isNull())
        return {};
    resampleFor(quality, image.constBits(), image.width(), image.height(), image.bytesPerLine(), out.bits(),
                out.width(), out.height(), out.bytesPerLine());
    return out;
}

} // namespace CodecDetail
