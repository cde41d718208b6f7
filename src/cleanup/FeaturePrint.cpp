#include "FeaturePrint.h"

#include <QtEndian>
#include <QFloat16>

#include <cstring>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace FeaturePrint {

namespace {

// Bump with any change to what compute() produces or how distance() weighs it: cached
// prints of another revision are then measured again. 1 and 2 are never used, they
// name the other platform's models. The cache accepts a whole record by this number,
// so it is bumped too when the eye or sharpness measures stored beside the print
// change: 6 brought the open-eye cascade into the closed-eye verdicts, 7 the contrast
// gain of the sharpness and the sharpest main face, 8 the second open-eye cascade, 9
// the vetoes of the cascade's eye placement and of the eyes' colour, 10 the wider
// bounds for plain faces (after the narrower ones the portraits brought), 11 the eye
// patch model on plain faces, 12 on the other faces with a wider margin, 13 its clear
// answer that the eyes are open, 14 its bounds on eyes too small for the outline's, 15
// the eyes too small at the analysis scale judged on a larger decode, 16 the patch model
// on faces whose eyes' colour cannot be read, 17 the patch model reading cells of the
// patch instead of single samples, 18 the patch model reading the steps between
// samples within each cell too, taught faces in sunglasses, with wider bounds, 19 the
// same back to the cells alone (the records of 18 are measured again), 20 the glasses
// cascade's clear answer on faces whose colour cannot be read, 21 a flat outline no
// longer trusted over eyes that show white (and flat below 0.14, not 0.17), and faces
// whose eyes are too narrow for their balance judged again on a larger decode, 22 the
// patch model's clear "open" at 2 below its bound, not 3, 23 faces the detector sees
// better turned a quarter or half way no longer judged shut, 24 pictures without an
// upright face searched turned for faces lying down, 25 turned by eighths as well, and
// faces leaning 15 degrees or more judged again levelled, 26 eyes too small for the
// outline's bounds called shut by the patch model on plain faces only, 27 the patch
// model's clear "open" nearer its bound (1 below it on a plain face, at it on one that
// is not) and its answer alone, when surer by 1, over an outline that reads open;
// 28 pictures under 72 px on a side at the analysis scale (panoramas) read on cells
// of at least 12 px.
constexpr int currentRevision = 28;
constexpr char magic[2] = {'G', 'F'};
constexpr uint8_t kindGridEmbedding = 1;
constexpr int headerSize = 6;

constexpr int grid = 64;

// Weights of the part distances; see docs/feature-print-calibration.md.
constexpr float layoutWeight = 1.0f;
constexpr float gradientWeight = 1.0f;
constexpr float colourWeight = 2.0f;

struct Reduced {
    // Area means on a grid x grid raster: luma and the three channels, 0..255.
    std::array<float, grid * grid> luma{};
    std::array<float, grid * grid> r{};
    std::array<float, grid * grid> g{};
    std::array<float, grid * grid> b{};
};

// Box-filters the picture down to grid x grid: every source pixel counts once, so
// noise and fine focus differences average away.
void reduce(const QImage &image, Reduced &out)
{
    const int W = image.width();
    const int H = image.height();
    std::array<int, grid + 1> xEdge;
    std::array<int, grid + 1> yEdge;
    for (int i = 0; i <= grid; ++i) {
        xEdge[i] = int(int64_t(i) * W / grid);
        yEdge[i] = int(int64_t(i) * H / grid);
    }
    std::vector<uint32_t> rowSums(size_t(grid) * 3);
    for (int gy = 0; gy < grid; ++gy) {
        std::fill(rowSums.begin(), rowSums.end(), 0u);
        const int y0 = yEdge[gy];
        const int y1 = std::max(yEdge[gy + 1], y0 + 1);
        for (int y = y0; y < y1 && y < H; ++y) {
            const uchar *line = image.constScanLine(y);
            for (int gx = 0; gx < grid; ++gx) {
                const int x0 = xEdge[gx];
                const int x1 = std::max(xEdge[gx + 1], x0 + 1);
                uint32_t sr = 0, sg = 0, sb = 0;
                for (int x = x0; x < x1 && x < W; ++x) {
                    const uchar *p = line + 4 * x;
                    sr += p[0];
                    sg += p[1];
                    sb += p[2];
                }
                rowSums[3 * gx] += sr;
                rowSums[3 * gx + 1] += sg;
                rowSums[3 * gx + 2] += sb;
            }
        }
        for (int gx = 0; gx < grid; ++gx) {
            const int x0 = xEdge[gx];
            const int x1 = std::min(std::max(xEdge[gx + 1], x0 + 1), W);
            const int rows = std::min(y1, H) - y0;
            const float n = float(std::max(1, (x1 - x0) * rows));
            const int i = gy * grid + gx;
            out.r[i] = rowSums[3 * gx] / n;
            out.g[i] = rowSums[3 * gx + 1] / n;
            out.b[i] = rowSums[3 * gx + 2] / n;
            out.luma[i] = 0.299f * out.r[i] + 0.587f * out.g[i] + 0.114f * out.b[i];
        }
    }
}

void normalise(float *v, int n)
{
    double sum = 0;
    for (int i = 0; i < n; ++i)
        sum += double(v[i]) * v[i];
    if (sum <= 0)
        return;
    const float scale = float(1.0 / std::sqrt(sum));
    for (int i = 0; i < n; ++i)
        v[i] *= scale;
}

// 32 x 32 luma means on 0..1 (where half floats keep three decimals), kept as they
// are: the ranks are taken at comparison time, over the part of the frame two shots
// share once aligned.
void layoutPart(const Reduced &in, float *out)
{
    constexpr int step = grid / layoutSide;
    std::fill(out, out + layoutSize, 0.0f);
    for (int y = 0; y < grid; ++y)
        for (int x = 0; x < grid; ++x)
            out[(y / step) * layoutSide + x / step] += in.luma[y * grid + x] / (255.0f * step * step);
}

// Gradient energy per orientation on a 4 x 4 grid of cells, from the lightly smoothed
// 64 x 64 luma. Square roots tame a few hard edges; the whole part has unit length,
// so a brighter or darker exposure of the same scene keeps its shape.
void gradientPart(const Reduced &in, float *out)
{
    constexpr int bins = 8;
    constexpr int cellsPerSide = 4;
    constexpr int cell = grid / cellsPerSide;
    std::array<float, grid * grid> smooth{};
    for (int y = 0; y < grid; ++y) {
        for (int x = 0; x < grid; ++x) {
            float s = 0, w = 0;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int xx = x + dx, yy = y + dy;
                    if (xx < 0 || yy < 0 || xx >= grid || yy >= grid)
                        continue;
                    const float k = float((2 - std::abs(dx)) * (2 - std::abs(dy)));
                    s += k * in.luma[yy * grid + xx];
                    w += k;
                }
            }
            smooth[y * grid + x] = s / w;
        }
    }
    std::fill(out, out + gradientSize, 0.0f);
    constexpr float pi = 3.14159265358979f;
    for (int y = 1; y < grid - 1; ++y) {
        for (int x = 1; x < grid - 1; ++x) {
            const float gx = smooth[y * grid + x + 1] - smooth[y * grid + x - 1];
            const float gy = smooth[(y + 1) * grid + x] - smooth[(y - 1) * grid + x];
            const float magnitude = std::sqrt(gx * gx + gy * gy);
            if (magnitude <= 0)
                continue;
            float angle = std::atan2(gy, gx);
            if (angle < 0)
                angle += pi;
            const float pos = angle / pi * bins - 0.5f;
            int b0 = int(std::floor(pos));
            const float frac = pos - b0;
            const int b1 = (b0 + 1 + bins) % bins;
            b0 = (b0 + bins) % bins;
            float *h = out + ((y / cell) * cellsPerSide + x / cell) * bins;
            h[b0] += magnitude * (1 - frac);
            h[b1] += magnitude * frac;
        }
    }
    for (int i = 0; i < gradientSize; ++i)
        out[i] = std::sqrt(out[i]);
    normalise(out, gradientSize);
}

// Mean chromaticity (r and g shares of r + g + b, centred on grey) on a 4 x 4 grid.
// A constant added to each channel keeps near-black cells from showing noise as colour.
// It is a tenth of the picture's mean level (10 at mid-grey), not a fixed amount: an
// exposure change scales every channel alike, so with it the chromaticity stays put
// where a fixed constant would grey the darker shot's cells.
void colourPart(const Reduced &in, float *out)
{
    constexpr int cellsPerSide = 4;
    constexpr int cell = grid / cellsPerSide;
    double mean = 0;
    for (int i = 0; i < grid * grid; ++i)
        mean += (in.r[i] + in.g[i] + in.b[i]) / 3.0;
    mean /= grid * grid;
    const double k = std::max(1.0, mean / 12.8);
    for (int cy = 0; cy < cellsPerSide; ++cy) {
        for (int cx = 0; cx < cellsPerSide; ++cx) {
            double r = 0, g = 0, b = 0;
            for (int y = cy * cell; y < (cy + 1) * cell; ++y)
                for (int x = cx * cell; x < (cx + 1) * cell; ++x) {
                    r += in.r[y * grid + x];
                    g += in.g[y * grid + x];
                    b += in.b[y * grid + x];
                }
            const double n = double(cell) * cell;
            r /= n;
            g /= n;
            b /= n;
            const double sum = r + g + b + 3 * k;
            const int i = (cy * cellsPerSide + cx) * 2;
            out[i] = float((r + k) / sum - 1.0 / 3.0);
            out[i + 1] = float((g + k) / sum - 1.0 / 3.0);
        }
    }
}

float partDistance(const float *a, const float *b, int n)
{
    double sum = 0;
    for (int i = 0; i < n; ++i) {
        const double d = double(a[i]) - b[i];
        sum += d * d;
    }
    return float(std::sqrt(sum));
}

// ---- comparing layouts ----------------------------------------------------------
//
// Each layout is read on a 16 x 16 lattice over the central part of its frame; one of
// a set of alignments (a shift and a zoom, split evenly between the two shots) decides
// where. The alignment whose samples correlate best (Pearson, cheap) is kept, and the
// layout distance is the rank correlation there, as sqrt(2 - 2 rho): the Euclidean
// distance of the two centred, unit-length rank vectors.

constexpr int lattice = 16;
constexpr int latticeCount = lattice * lattice;
// The lattice spans this much of the frame around the centre; the margin left over is
// what an alignment may bring into view.
constexpr float latticeSpan = 0.76f;
// Alignments searched: shifts up to 12 % of the frame on each axis, zooms up to 15 %.
constexpr float maxShift = 0.12f;
constexpr float coarseShiftStep = 0.04f;
constexpr std::array<float, 5> zooms = {1 / 1.15f, 1 / 1.07f, 1.0f, 1.07f, 1.15f};

using Samples = std::array<float, latticeCount>;

float bilinear(const float *layout, float x, float y)
{
    const float fx = std::clamp(x * layoutSide - 0.5f, 0.0f, float(layoutSide - 1));
    const float fy = std::clamp(y * layoutSide - 0.5f, 0.0f, float(layoutSide - 1));
    const int x0 = std::min(int(fx), layoutSide - 2);
    const int y0 = std::min(int(fy), layoutSide - 2);
    const float ax = fx - x0, ay = fy - y0;
    const float *row = layout + y0 * layoutSide + x0;
    const float top = row[0] + (row[1] - row[0]) * ax;
    const float bottom = row[layoutSide] + (row[layoutSide + 1] - row[layoutSide]) * ax;
    return top + (bottom - top) * ay;
}

// The lattice of one layout, zoomed by `zoom` about the centre and shifted by (dx, dy).
void sample(const float *layout, float zoom, float dx, float dy, Samples &out)
{
    for (int j = 0; j < lattice; ++j) {
        const float v = ((j + 0.5f) / lattice - 0.5f) * latticeSpan;
        const float y = 0.5f + v * zoom + dy;
        for (int i = 0; i < lattice; ++i) {
            const float u = ((i + 0.5f) / lattice - 0.5f) * latticeSpan;
            out[size_t(j * lattice + i)] = bilinear(layout, 0.5f + u * zoom + dx, y);
        }
    }
}

// Pearson correlation; 1 when both are flat, 0 when only one is.
float correlation(const Samples &a, const Samples &b)
{
    double ma = 0, mb = 0;
    for (int i = 0; i < latticeCount; ++i) {
        ma += a[size_t(i)];
        mb += b[size_t(i)];
    }
    ma /= latticeCount;
    mb /= latticeCount;
    double ab = 0, aa = 0, bb = 0;
    for (int i = 0; i < latticeCount; ++i) {
        const double da = a[size_t(i)] - ma, db = b[size_t(i)] - mb;
        ab += da * db;
        aa += da * da;
        bb += db * db;
    }
    constexpr double flat = 1e-6;
    if (aa < flat || bb < flat)
        return aa < flat && bb < flat ? 1.0f : 0.0f;
    return float(ab / std::sqrt(aa * bb));
}

// Replaces values by their ranks, ties sharing the mean rank.
void toRanks(Samples &v)
{
    std::array<int, latticeCount> order;
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int a, int b) { return v[size_t(a)] < v[size_t(b)]; });
    Samples ranks;
    for (int i = 0; i < latticeCount;) {
        int j = i;
        while (j + 1 < latticeCount && v[size_t(order[size_t(j + 1)])] == v[size_t(order[size_t(i)])])
            ++j;
        for (int k = i; k <= j; ++k)
            ranks[size_t(order[size_t(k)])] = (i + j) / 2.0f;
        i = j + 1;
    }
    v = ranks;
}

struct Alignment {
    float zoom = 1;
    float dx = 0;
    float dy = 0;
};

// Samples both layouts under an alignment: each takes half of the zoom and of the shift.
void sampleBoth(const float *a, const float *b, const Alignment &al, Samples &sa, Samples &sb)
{
    const float half = std::sqrt(al.zoom);
    sample(a, 1 / half, -al.dx / 2, -al.dy / 2, sa);
    sample(b, half, al.dx / 2, al.dy / 2, sb);
}

float layoutDistance(const float *a, const float *b)
{
    Samples sa, sb;
    Alignment best;
    float bestScore = -2;
    const auto consider = [&](const Alignment &al) {
        sampleBoth(a, b, al, sa, sb);
        const float score = correlation(sa, sb);
        if (score > bestScore) {
            bestScore = score;
            best = al;
        }
    };
    const int steps = int(std::lround(maxShift / coarseShiftStep));
    for (float zoom : zooms)
        for (int y = -steps; y <= steps; ++y)
            for (int x = -steps; x <= steps; ++x)
                consider({zoom, x * coarseShiftStep, y * coarseShiftStep});
    const Alignment coarse = best;
    constexpr float fine = coarseShiftStep / 2;
    for (int y = -1; y <= 1; ++y)
        for (int x = -1; x <= 1; ++x)
            if (x || y)
                consider({coarse.zoom, coarse.dx + x * fine, coarse.dy + y * fine});
    sampleBoth(a, b, best, sa, sb);
    toRanks(sa);
    toRanks(sb);
    const float rho = correlation(sa, sb);
    return std::sqrt(std::max(0.0f, 2 - 2 * rho));
}


} // namespace

int revision()
{
    return currentRevision;
}

float burstThreshold()
{
    // A tenth below the closest pair of different photos measured (0.894); keeps 99.5 %
    // of real and synthetic burst neighbours. See docs/feature-print-calibration.md.
    return 0.80f;
}

std::optional<Embedding> compute(const QImage &image)
{
    if (image.isNull() || image.width() < 8 || image.height() < 8)
        return std::nullopt;
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    auto reduced = std::make_unique<Reduced>();
    reduce(rgba, *reduced);
    Embedding e;
    layoutPart(*reduced, e.values.data());
    gradientPart(*reduced, e.values.data() + layoutSize);
    colourPart(*reduced, e.values.data() + layoutSize + gradientSize);
    return e;
}

QByteArray encode(const Embedding &embedding)
{
    QByteArray bytes(headerSize + dimensions * 2, Qt::Uninitialized);
    uchar *p = reinterpret_cast<uchar *>(bytes.data());
    p[0] = uchar(magic[0]);
    p[1] = uchar(magic[1]);
    p[2] = kindGridEmbedding;
    p[3] = uchar(currentRevision);
    qToLittleEndian<quint16>(quint16(dimensions), p + 4);
    for (int i = 0; i < dimensions; ++i) {
        const qfloat16 h(embedding.values[i]);
        quint16 raw;
        std::memcpy(&raw, static_cast<const void *>(&h), 2);
        qToLittleEndian<quint16>(raw, p + headerSize + 2 * i);
    }
    return bytes;
}

std::optional<Embedding> decode(const QByteArray &bytes)
{
    if (bytes.size() != headerSize + dimensions * 2)
        return std::nullopt;
    const uchar *p = reinterpret_cast<const uchar *>(bytes.constData());
    if (p[0] != uchar(magic[0]) || p[1] != uchar(magic[1]) || p[2] != kindGridEmbedding
            || p[3] != uchar(currentRevision) || qFromLittleEndian<quint16>(p + 4) != dimensions)
        return std::nullopt;
    Embedding e;
    for (int i = 0; i < dimensions; ++i) {
        const quint16 raw = qFromLittleEndian<quint16>(p + headerSize + 2 * i);
        qfloat16 h;
        std::memcpy(static_cast<void *>(&h), &raw, 2);
        const float v = float(h);
        if (!std::isfinite(v))
            return std::nullopt;
        e.values[i] = v;
    }
    return e;
}

Parts partDistances(const Embedding &a, const Embedding &b)
{
    Parts parts;
    parts.layout = layoutDistance(a.values.data(), b.values.data());
    parts.gradients = partDistance(a.values.data() + layoutSize, b.values.data() + layoutSize, gradientSize);
    parts.colour = partDistance(a.values.data() + layoutSize + gradientSize,
                                b.values.data() + layoutSize + gradientSize, colourSize);
    return parts;
}

float distance(const Embedding &a, const Embedding &b)
{
    const Parts p = partDistances(a, b);
    const float l = layoutWeight * p.layout;
    const float g = gradientWeight * p.gradients;
    const float c = colourWeight * p.colour;
    return std::sqrt(l * l + g * g + c * c);
}

float distance(const QByteArray &a, const QByteArray &b)
{
    const auto ea = decode(a);
    const auto eb = decode(b);
    if (!ea || !eb)
        return std::numeric_limits<float>::max();
    return distance(*ea, *eb);
}

} // namespace FeaturePrint
