// The only file that includes dlib: its headers cost about 13 s of compile time.
#include "FaceEyesDetector.h"

#include "HogExtractor.h"

#include <QDebug>
#include <QFile>

#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/image_processing/shape_predictor.h>
#include <dlib/serialize.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>

#if defined(__x86_64__) && defined(__GNUC__)
#define GLANTO_FACE_SEARCH_AVX2 1
#include <immintrin.h>
#else
#define GLANTO_FACE_SEARCH_AVX2 0
#endif

namespace {

using Detector = dlib::frontal_face_detector;

// Building the detector unpacks its filters (about a second); every worker copies it.
const Detector &prototypeDetector()
{
    static const Detector detector = dlib::get_frontal_face_detector();
    return detector;
}

// The landmark model is 100 MB and read once; shape_predictor is safe to share.
const dlib::shape_predictor *sharedPredictor()
{
    static const dlib::shape_predictor *predictor = []() -> const dlib::shape_predictor * {
        const QString path = FaceEyesDetector::landmarkModelPath();
        if (!QFile::exists(path)) {
            qWarning("FaceEyes: landmark model missing: %s", qPrintable(path));
            return nullptr;
        }
        try {
            auto *model = new dlib::shape_predictor;
            dlib::deserialize(path.toStdString()) >> *model;
            if (model->num_parts() != 68) {
                qWarning("FaceEyes: landmark model has %lu points, expected 68", model->num_parts());
                delete model;
                return nullptr;
            }
            return model;
        } catch (const std::exception &e) {
            qWarning("FaceEyes: cannot read landmark model %s: %s", qPrintable(path), e.what());
            return nullptr;
        }
    }();
    return predictor;
}

void copyGrey(const GreyImage &grey, dlib::array2d<unsigned char> &out)
{
    out.set_size(grey.height, grey.width);
    for (int y = 0; y < grey.height; ++y)
        std::copy_n(grey.row(y), grey.width, &out[y][0]);
}

// The whole grey image reduced by area averaging so that its longer side is `side`
// pixels, centred on a mid-grey canvas with a margin of a quarter of that on each side.
// Returns the scale from picture to canvas and the margin.
std::pair<double, int> closeUpCanvas(const GreyImage &grey, int side, dlib::array2d<unsigned char> &out)
{
    const double scale = std::min(1.0, double(side) / std::max(grey.width, grey.height));
    const int w = std::max(1, int(std::lround(grey.width * scale)));
    const int h = std::max(1, int(std::lround(grey.height * scale)));
    const int margin = std::max(w, h) / 4;
    out.set_size(h + 2 * margin, w + 2 * margin);
    for (long y = 0; y < out.nr(); ++y)
        std::fill_n(&out[y][0], out.nc(), (unsigned char)128);
    for (int y = 0; y < h; ++y) {
        const int sy0 = int(int64_t(y) * grey.height / h);
        const int sy1 = std::max(sy0 + 1, int(int64_t(y + 1) * grey.height / h));
        for (int x = 0; x < w; ++x) {
            const int sx0 = int(int64_t(x) * grey.width / w);
            const int sx1 = std::max(sx0 + 1, int(int64_t(x + 1) * grey.width / w));
            uint32_t sum = 0;
            for (int yy = sy0; yy < sy1; ++yy) {
                const uint8_t *row = grey.row(yy);
                for (int xx = sx0; xx < sx1; ++xx)
                    sum += row[xx];
            }
            out[y + margin][x + margin] = (unsigned char)(sum / uint32_t((sy1 - sy0) * (sx1 - sx0)));
        }
    }
    return {double(w) / grey.width, margin};
}

// Doubles a region of the grey image. Output pixel (2x, 2y) sits exactly on input
// pixel (x, y), so a box found in the result maps back by halving.
void upsampleRegion(const GreyImage &grey, const QRect &region, dlib::array2d<unsigned char> &out)
{
    const int w = region.width();
    const int h = region.height();
    out.set_size(2 * h, 2 * w);
    for (int y = 0; y < h; ++y) {
        const uint8_t *row = grey.row(region.y() + y) + region.x();
        const uint8_t *next = grey.row(std::min(region.y() + y + 1, grey.height - 1)) + region.x();
        unsigned char *even = &out[2 * y][0];
        unsigned char *odd = &out[2 * y + 1][0];
        for (int x = 0; x < w; ++x) {
            const int x1 = std::min(x + 1, grey.width - 1 - region.x());
            const int a = row[x], b = row[x1], c = next[x], e = next[x1];
            even[2 * x] = uint8_t(a);
            even[2 * x + 1] = uint8_t((a + b + 1) >> 1);
            odd[2 * x] = uint8_t((a + c + 1) >> 1);
            odd[2 * x + 1] = uint8_t((a + b + c + e + 2) >> 2);
        }
    }
}

// Enlarges a region of the grey image by `scale` (bilinear; output pixel centres map
// back to (x + 0.5) / scale - 0.5). Exactly 2 takes upsampleRegion's path, whose
// pixels sit on the input's; a box found in the result maps back by dividing by scale.
void enlargeRegion(const GreyImage &grey, const QRect &region, double scale, dlib::array2d<unsigned char> &out)
{
    if (scale == 2.0) {
        upsampleRegion(grey, region, out);
        return;
    }
    const int w = std::max(1, int(std::lround(region.width() * scale)));
    const int h = std::max(1, int(std::lround(region.height() * scale)));
    out.set_size(h, w);
    // Horizontal taps are the same for every row.
    std::vector<int> x0s(size_t(w), 0);
    std::vector<int> fx(size_t(w), 0);
    for (int x = 0; x < w; ++x) {
        const double sx = std::clamp((x + 0.5) / scale - 0.5, 0.0, region.width() - 1.0);
        x0s[size_t(x)] = std::min(int(sx), region.width() - 1);
        fx[size_t(x)] = int(std::lround((sx - x0s[size_t(x)]) * 256));
    }
    for (int y = 0; y < h; ++y) {
        const double sy = std::clamp((y + 0.5) / scale - 0.5, 0.0, region.height() - 1.0);
        const int y0 = std::min(int(sy), region.height() - 1);
        const int y1 = std::min(y0 + 1, region.height() - 1);
        const int fy = int(std::lround((sy - y0) * 256));
        const uint8_t *top = grey.row(region.y() + y0) + region.x();
        const uint8_t *bottom = grey.row(region.y() + y1) + region.x();
        unsigned char *dst = &out[y][0];
        for (int x = 0; x < w; ++x) {
            const int a = x0s[size_t(x)];
            const int b = std::min(a + 1, region.width() - 1);
            const int t = top[a] * 256 + (top[b] - top[a]) * fx[size_t(x)];
            const int u = bottom[a] * 256 + (bottom[b] - bottom[a]) * fx[size_t(x)];
            dst[x] = (unsigned char)((t * 256 + (u - t) * fy + 32768) >> 16);
        }
    }
}

bool isSkin(const uchar *p)
{
    const int r = p[0], g = p[1], b = p[2];
    // YCbCr box of Chai and Ngan, scaled by 256 to stay in integers.
    const int y = 77 * r + 150 * g + 29 * b;
    const int cb = 128 * 256 - 43 * r - 85 * g + 128 * b;
    const int cr = 128 * 256 + 128 * r - 107 * g - 21 * b;
    return y >= 25 * 256 && cb >= 77 * 256 && cb <= 127 * 256 && cr >= 133 * 256 && cr <= 173 * 256;
}

// The skin test samples every 4th pixel in both directions.
constexpr int skinStep = 4;
// A 40-pixel face shows several hundred skin pixels, some 50 samples; a quarter of
// that (a face in shade, or half of it skin-coloured) still counts.
constexpr int minSkinSamples = 12;
// A skin patch wider or taller than this is more than a 40-80 px face with its neck and
// shoulders: it is a surface (sand, wood, a near body) and is not searched.
constexpr int maxPatchSide = 320;
// Room around a patch for the rest of the face (the patch may be a cheek or the
// forehead only) and for the detector's window.
constexpr int minPatchMargin = 48;
// Whatever the patches, the 2x search covers at most this share of the picture.
constexpr double maxSearchShare = 0.25;

// Regions of neighbouring patches overlap at their margins. Where the rectangle around
// two regions is no larger than the two together, searching it once costs less than
// searching each (the overlap is searched once, and the detector's border is paid
// once), and it covers all of both.
void mergeOverlapping(QVector<QRect> &regions)
{
    const auto area = [](const QRect &r) { return int64_t(r.width()) * r.height(); };
    for (bool merged = true; merged;) {
        merged = false;
        for (int i = 0; i < regions.size() && !merged; ++i) {
            for (int j = i + 1; j < regions.size() && !merged; ++j) {
                const QRect both = regions[i].united(regions[j]);
                if (area(both) <= area(regions[i]) + area(regions[j])) {
                    regions[i] = both;
                    regions.removeAt(j);
                    merged = true;
                }
            }
        }
    }
}

// Regions worth an upsampled search: patches of skin-coloured pixels of about the
// size of a small face, away from the faces already found (their necks and ears are
// skin too), each with room around it for the detector's window. A picture without
// colour gets the whole frame.
QVector<QRect> smallFaceRegions(const QImage &image, const QVector<DetectedFace> &found)
{
    const int W = image.width();
    const int H = image.height();
    const int gw = W / skinStep;
    const int gh = H / skinStep;
    if (gw < 2 || gh < 2)
        return {};
    // Skin samples on the grid; 0 none, 1 skin, later the patch number + 2.
    std::vector<int> grid(size_t(gw) * size_t(gh), 0);
    int64_t chroma = 0;
    for (int gy = 0; gy < gh; ++gy) {
        const uchar *line = image.constScanLine(gy * skinStep + skinStep / 2);
        for (int gx = 0; gx < gw; ++gx) {
            const uchar *p = line + 4 * (gx * skinStep + skinStep / 2);
            chroma += std::abs(p[0] - p[1]) + std::abs(p[1] - p[2]);
            grid[size_t(gy) * gw + gx] = isSkin(p) ? 1 : 0;
        }
    }
    const QRect frame(0, 0, W, H);
    if (chroma < 2 * int64_t(gw) * gh)
        return {frame};    // black and white: skin colour says nothing

    // A found face owns the skin around it: ears and hair beside, neck below.
    for (const DetectedFace &f : found) {
        const QRectF b = f.box;
        const QRect owned = b.adjusted(-0.5 * b.width(), -0.25 * b.height(), 0.5 * b.width(), 1.0 * b.height())
                                    .toAlignedRect();
        const int x0 = std::max(0, owned.left() / skinStep), x1 = std::min(gw - 1, owned.right() / skinStep);
        const int y0 = std::max(0, owned.top() / skinStep), y1 = std::min(gh - 1, owned.bottom() / skinStep);
        for (int gy = y0; gy <= y1; ++gy)
            std::fill(grid.begin() + gy * gw + x0, grid.begin() + gy * gw + x1 + 1, 0);
    }

    // Patches: 8-connected skin samples.
    struct Patch {
        QRect rect;    // pixels
        int samples;
    };
    QVector<Patch> patches;
    std::vector<int> stack;
    for (int start = 0; start < gw * gh; ++start) {
        if (grid[size_t(start)] != 1)
            continue;
        const int label = int(patches.size()) + 2;
        int minX = gw, maxX = -1, minY = gh, maxY = -1, count = 0;
        stack.assign(1, start);
        grid[size_t(start)] = label;
        while (!stack.empty()) {
            const int at = stack.back();
            stack.pop_back();
            const int x = at % gw, y = at / gw;
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
            ++count;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    if (nx < 0 || ny < 0 || nx >= gw || ny >= gh)
                        continue;
                    int &cell = grid[size_t(ny) * gw + nx];
                    if (cell == 1) {
                        cell = label;
                        stack.push_back(ny * gw + nx);
                    }
                }
            }
        }
        patches.append({QRect(minX * skinStep, minY * skinStep, (maxX - minX + 1) * skinStep,
                              (maxY - minY + 1) * skinStep),
                        count});
    }

    // Face-sized patches, most skin first, each with a margin around it for the rest of
    // the face (the patch may be a cheek or the forehead only) and the detector's window.
    // Regions are searched one by one: a union of two far-apart patches would search
    // all the ground between them.
    std::stable_sort(patches.begin(), patches.end(), [](const Patch &a, const Patch &b) { return a.samples > b.samples; });
    QVector<QRect> regions;
    int64_t area = 0;
    for (const Patch &patch : std::as_const(patches)) {
        if (patch.samples < minSkinSamples || patch.rect.width() > maxPatchSide || patch.rect.height() > maxPatchSide)
            continue;
        const QRect region = patch.rect.adjusted(-minPatchMargin, -minPatchMargin, minPatchMargin, minPatchMargin)
                                     .intersected(frame);
        const int64_t size = int64_t(region.width()) * region.height();
        bool covered = false;
        for (const QRect &r : std::as_const(regions)) {
            const QRect common = r.intersected(region);
            covered = covered || int64_t(common.width()) * common.height() * 5 >= size * 4;
        }
        if (covered)
            continue;
        if (area + size > maxSearchShare * W * H)
            break;
        area += size;
        regions.append(region);
    }
    mergeOverlapping(regions);
    return regions;
}

double overlap(const QRectF &a, const QRectF &b)
{
    const QRectF i = a.intersected(b);
    if (i.isEmpty())
        return 0;
    const double inter = i.width() * i.height();
    return inter / std::min(a.width() * a.height(), b.width() * b.height());
}

// Yaw from the nose tip's place between the two ends of the jaw line. With the jaw
// ends about 70 mm to the side of and 80 mm behind the nose tip, a turn by t moves
// the nose off the midpoint by (80/70) tan t of the half-width.
std::optional<double> estimateYaw(const dlib::full_object_detection &shape)
{
    const double left = shape.part(0).x();
    const double right = shape.part(16).x();
    const double half = (right - left) / 2;
    if (!(half > 0))
        return std::nullopt;
    const double offset = (shape.part(30).x() - (left + right) / 2) / half;
    return std::atan(offset * 70.0 / 80.0);
}

// Faces shorter than this get their landmarks on a doubled copy of their area.
constexpr double fineLandmarkFaceHeight = 160.0;
// The plain detector's window: the smallest face it finds without upsampling.
constexpr double plainWindow = 80.0;

// The upsampled search: at most 2x, over at most this many pyramid levels (each 5/6 of
// the one before), which reach down to faces just under the plain window.
constexpr double maxUpsampling = 2.0;
constexpr int maxSmallFaceLevels = 4;
constexpr double pyramidStep = 1.2;
// Levels are added until the last is within one step (and a little) of the plain
// pass's scale 1: at 2x the fourth level, 1.16, is the last.
constexpr double lowestSmallFaceScale = 1.27;

// How far the upsampled search enlarges and how many levels it needs to find faces
// from `smallest` pixels up to the plain window. A face found by the plain pass makes
// faces under FaceRules::mainFaceShare of its height background, which are not judged;
// the search then starts at the smallest face that could still be a main face, a
// quarter to a half of the work of the full 2x search. Without a face it starts at
// FaceRules::minFaceHeight.
struct UpsampledSearch {
    double scale = maxUpsampling;
    int levels = maxSmallFaceLevels;
};

UpsampledSearch upsampledSearch(double smallest)
{
    UpsampledSearch search;
    // A tenth of slack: the detector's window fits faces a little apart from its size.
    search.scale = std::clamp(1.1 * plainWindow / std::max(smallest, 1.0), 1.0, maxUpsampling);
    search.levels = 1;
    for (double last = search.scale; last > lowestSmallFaceScale && search.levels < maxSmallFaceLevels; last /= pyramidStep)
        ++search.levels;
    return search;
}

// dlib's own decision threshold. Real faces score down to about 0 (goggles, profile,
// blur: a tenth of the faces in the eye folders score under 0.3) and no box on the
// corpus' other photos is a false face, so a stricter limit would only lose faces.
constexpr double minScore = 0.0;

// The HOG detector spends half of its time correlating the 31 feature planes of every
// pyramid level with the separable filters of its five sub-detectors (about 300 pairs
// of 10-tap filters). dlib's own loop is written for SSE2 without fused multiply-add;
// on a CPU with AVX2 and FMA the same sums take eight floats per instruction. The
// features of each pyramid level are HogFeatures', equal to dlib's bit for bit; the
// pyramid itself, the mapping of cells back to boxes and the overlap suppression are
// dlib's own, in dlib's order, so the boxes are dlib's and the scores differ from
// dlib's in the last bits of a float (the filter sums are rounded in another order).
// Without AVX2 and FMA the search is dlib's own.
class FaceSearch
{
public:
    using Scanner = Detector::image_scanner_type;
    using Filterbank = Scanner::fhog_filterbank;

    explicit FaceSearch(const Detector &d)
        : detector(d)
    {
        const Scanner &scanner = detector.get_scanner();
        for (unsigned long i = 0; i < detector.num_detectors(); ++i) {
            const Detector::feature_vector_type &w = detector.get_w(i);
            banks.push_back(scanner.build_fhog_filterbank(w));
            thresholds.push_back(w(scanner.get_num_dimensions()));
            // dlib filters with the full 2-D filters where they are cheaper than the
            // separable ones; the face detector's are not, and only that path is ours.
            const Filterbank &bank = banks.back();
            if (bank.filters.empty()
                || bank.num_separable_filters()
                    > bank.filters.size() * std::min(bank.filters[0].nr(), bank.filters[0].nc()) / 3.0)
                vectorizable = false;
        }
    }

    // As dlib's object_detector: the boxes scoring at least adjust above each
    // sub-detector's threshold, strongest first, overlapping ones suppressed.
    void operator()(const dlib::array2d<unsigned char> &image, std::vector<dlib::rect_detection> &out, double adjust)
    {
        if (!vectorizable || !useVectorFilters || !cpuHasAvx2Fma()) {
            detector(image, out, adjust);
            return;
        }
        const Scanner &scanner = detector.get_scanner();
        const long padding = long(scanner.get_padding());
        const long windowWidth = long(scanner.get_fhog_window_width());
        const long windowHeight = long(scanner.get_fhog_window_height());
        const int cellSize = int(scanner.get_cell_size());
        static_assert(std::is_same_v<Scanner::pyramid_type, dlib::pyramid_down<6>>);
        if (HogFeatures::available() && cellSize > 1)
            vectorHogPyramid(image, feats, cellSize, windowHeight, windowWidth, scanner.get_min_pyramid_layer_width(),
                             scanner.get_min_pyramid_layer_height(), scanner.get_max_pyramid_levels(), hogScratch);
        else
            dlib::impl::create_fhog_pyramid<Scanner::pyramid_type>(
                image, scanner.get_feature_extractor(), feats, cellSize, windowHeight, windowWidth,
                scanner.get_min_pyramid_layer_width(), scanner.get_min_pyramid_layer_height(),
                scanner.get_max_pyramid_levels());

        std::vector<dlib::rect_detection> found;
        std::vector<std::pair<double, dlib::rectangle>> dets;
        Scanner::pyramid_type pyramid;
        for (size_t k = 0; k < banks.size(); ++k) {
            dets.clear();
            for (unsigned long level = 0; level < feats.size(); ++level) {
                const dlib::rectangle area = filter(banks[k], feats[level]);
                const double limit = thresholds[k] + adjust;
                for (long r = area.top(); r <= area.bottom(); ++r) {
                    for (long c = area.left(); c <= area.right(); ++c) {
                        if (saliency[r][c] >= limit) {
                            dlib::rectangle box = scanner.get_feature_extractor().feats_to_image(
                                dlib::centered_rect(dlib::point(c, r), windowWidth - 2 * padding,
                                                    windowHeight - 2 * padding),
                                cellSize, windowHeight, windowWidth);
                            dets.emplace_back(saliency[r][c], pyramid.rect_up(box, level));
                        }
                    }
                }
            }
            std::sort(dets.rbegin(), dets.rend(), dlib::impl::compare_pair_rect);
            for (const auto &[score, box] : dets) {
                dlib::rect_detection det;
                det.detection_confidence = score - thresholds[k];
                det.weight_index = k;
                det.rect = box;
                found.push_back(det);
            }
        }
        if (banks.size() > 1)
            std::sort(found.rbegin(), found.rend());
        const dlib::test_box_overlap overlaps = detector.get_overlap_tester();
        out.clear();
        for (const dlib::rect_detection &det : found) {
            const bool suppressed = std::any_of(out.begin(), out.end(), [&](const dlib::rect_detection &kept) {
                return overlaps(kept.rect, det.rect);
            });
            if (!suppressed)
                out.push_back(det);
        }
    }

    static bool vectorFiltersAvailable() { return cpuHasAvx2Fma(); }

    Detector detector;
    bool useVectorFilters = true;

private:
    // Sums every plane's separable filters into `saliency`; returns the cells where
    // the whole filter lies inside the planes, as dlib does.
    dlib::rectangle filter(const Filterbank &bank, const dlib::array<dlib::array2d<float>> &planes)
    {
        // A level too small for a single block of cells has no planes at all.
        if (planes.size() < bank.row_filters.size() || planes.size() == 0)
            return dlib::rectangle();
        const long rows = planes[0].nr();
        const long cols = planes[0].nc();
        if (rows == 0 || cols == 0)
            return dlib::rectangle();
        saliency.set_size(rows, cols);
        dlib::assign_all_pixels(saliency, 0);
        scratch.set_size(rows, cols);
        dlib::rectangle area;
        for (size_t i = 0; i < bank.row_filters.size(); ++i) {
            for (size_t j = 0; j < bank.row_filters[i].size(); ++j) {
                const auto &rowFilter = bank.row_filters[i][j];
                const auto &colFilter = bank.col_filters[i][j];
                area = filterSeparableAvx2(&planes[i][0][0], rows, cols, &rowFilter(0), long(rowFilter.size()),
                                           &colFilter(0), long(colFilter.size()), &scratch[0][0], &saliency[0][0]);
            }
        }
        return area;
    }

    static bool cpuHasAvx2Fma()
    {
#if GLANTO_FACE_SEARCH_AVX2
        static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
        return has;
#else
        return false;
#endif
    }

#if GLANTO_FACE_SEARCH_AVX2
    // One output row: out[c] (+)= sum over taps of filter[k] * src[c + k * step], for c in
    // [begin, end). Every column is one chain of fused multiply-adds in tap order, four
    // vectors at a time so that four chains are in flight, which the latency of the fused
    // multiply-add needs; Taps is a constant for the detector's 10-tap filters (0: any
    // count, given in taps).
    template <int Taps, bool Add>
    __attribute__((target("avx2,fma"))) static void
    filterRowAvx2(const float *src, long step, const float *filter, long taps, float *out, long begin, long end)
    {
        const long count = Taps > 0 ? Taps : taps;
        long c = begin;
        for (; c + 32 <= end; c += 32)
            filterVectorsAvx2<Taps, Add, 4>(src, step, filter, count, out, c, c + 24);
        if (c == end)
            return;
        if (end - begin < 8) {
            // Narrower than a vector: the same chains one column at a time.
            for (; c < end; ++c) {
                float sum = 0;
                for (long k = 0; k < count; ++k)
                    sum = __builtin_fmaf(filter[k], src[c + k * step], sum);
                out[c] = Add ? out[c] + sum : sum;
            }
            return;
        }
        // Most rows of a small picture's planes are narrower than 32 cells. The rest, one
        // to 31 columns, in one to four vectors, the last one ending at `end`: it may
        // overlap columns already done, so nothing is read or written outside the row.
        const long last = end - 8;
        switch ((end - c + 7) / 8) {
        case 4: filterVectorsAvx2<Taps, Add, 4>(src, step, filter, count, out, c, last); break;
        case 3: filterVectorsAvx2<Taps, Add, 3>(src, step, filter, count, out, c, last); break;
        case 2: filterVectorsAvx2<Taps, Add, 2>(src, step, filter, count, out, c, last); break;
        default: filterVectorsAvx2<Taps, Add, 1>(src, step, filter, count, out, c, last); break;
        }
    }

    // Vectors vectors of eight columns of one output row, at c, c + 8, ... and the last
    // at `last` (c + 8 * (Vectors - 1) or before it). Columns before c + 8 * (Vectors - 1)
    // in the last vector are done already: computed again alike, and not added twice.
    template <int Taps, bool Add, int Vectors>
    __attribute__((target("avx2,fma"), always_inline)) static inline void
    filterVectorsAvx2(const float *src, long step, const float *filter, long count, float *out, long c, long last)
    {
        long at[Vectors];
        _Pragma("GCC unroll 4") for (int v = 0; v < Vectors; ++v)
            at[v] = v + 1 < Vectors ? c + 8 * v : last;
        __m256 sum[Vectors];
        _Pragma("GCC unroll 4") for (int v = 0; v < Vectors; ++v)
            sum[v] = _mm256_setzero_ps();
        for (long k = 0; k < (Taps > 0 ? Taps : count); ++k) {
            const __m256 f = _mm256_set1_ps(filter[k]);
            const float *p = src + k * step;
            _Pragma("GCC unroll 4") for (int v = 0; v < Vectors; ++v)
                sum[v] = _mm256_fmadd_ps(f, _mm256_loadu_ps(p + at[v]), sum[v]);
        }
        _Pragma("GCC unroll 4") for (int v = 0; v < Vectors; ++v) {
            if (Add) {
                // In column order: the last vector reads what the ones before it stored.
                const __m256 before = _mm256_loadu_ps(out + at[v]);
                __m256 added = _mm256_add_ps(before, sum[v]);
                if (v + 1 == Vectors) {
                    const int done = int(c + 8 * (Vectors - 1) - last);
                    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
                    added = _mm256_blendv_ps(added, before,
                                             _mm256_castsi256_ps(_mm256_cmpgt_epi32(_mm256_set1_epi32(done), lane)));
                }
                sum[v] = added;
            }
            _mm256_storeu_ps(out + at[v], sum[v]);
        }
    }

    // Adds the plane correlated with rowFilter along rows and colFilter along columns
    // to out (all rows x cols, no padding), over the cells where both filters fit.
    __attribute__((target("avx2,fma"))) static dlib::rectangle
    filterSeparableAvx2(const float *in, long rows, long cols, const float *rowFilter, long rowTaps,
                        const float *colFilter, long colTaps, float *temp, float *out)
    {
        const long firstRow = colTaps / 2;
        const long firstCol = rowTaps / 2;
        const long lastRow = rows - (colTaps - 1) / 2;
        const long lastCol = cols - (rowTaps - 1) / 2;
        for (long r = 0; r < rows; ++r) {
            const float *src = in + r * cols - firstCol;
            if (rowTaps == 10)
                filterRowAvx2<10, false>(src, 1, rowFilter, rowTaps, temp + r * cols, firstCol, lastCol);
            else
                filterRowAvx2<0, false>(src, 1, rowFilter, rowTaps, temp + r * cols, firstCol, lastCol);
        }
        for (long r = firstRow; r < lastRow; ++r) {
            const float *src = temp + (r - firstRow) * cols;
            if (colTaps == 10)
                filterRowAvx2<10, true>(src, cols, colFilter, colTaps, out + r * cols, firstCol, lastCol);
            else
                filterRowAvx2<0, true>(src, cols, colFilter, colTaps, out + r * cols, firstCol, lastCol);
        }
        return dlib::rectangle(firstCol, firstRow, lastCol - 1, lastRow - 1);
    }
#else
    static dlib::rectangle filterSeparableAvx2(const float *, long, long, const float *, long, const float *, long,
                                               float *, float *)
    {
        return dlib::rectangle(); // never called: cpuHasAvx2Fma() is false
    }
#endif

    std::vector<Filterbank> banks;
    std::vector<double> thresholds;
    bool vectorizable = true;
    dlib::array<dlib::array<dlib::array2d<float>>> feats;
    HogFeatures::Scratch hogScratch;
    dlib::array2d<float> saliency;
    dlib::array2d<float> scratch;
};

} // namespace

struct FaceEyesDetector::Private {
    FaceSearch detector{prototypeDetector()};
    dlib::array2d<unsigned char> frame;
    dlib::array2d<unsigned char> region;
    dlib::array2d<unsigned char> closeUp;
    bool fineLandmarks = true;
    double upsampledShare = 0;

    // The same filters searched only over the pyramid levels that the plain pass does
    // not reach. At the full 2x: scales 2, 1.67, 1.39 and 1.16, i.e. faces of about 40
    // to 70 pixels (dropping the last level loses two faces of the corpus for 13 % of
    // the cost); a search for larger faces only starts lower and needs fewer levels.
    std::array<std::optional<FaceSearch>, maxSmallFaceLevels> upsampledDetectors;
    FaceSearch &smallFaceDetector(int levels)
    {
        std::optional<FaceSearch> &slot = upsampledDetectors[size_t(std::clamp(levels, 1, maxSmallFaceLevels) - 1)];
        if (!slot) {
            const Detector &plain = detector.detector;
            Detector::image_scanner_type scanner;
            scanner.copy_configuration(plain.get_scanner());
            scanner.set_max_pyramid_levels(std::clamp(levels, 1, maxSmallFaceLevels));
            std::vector<Detector::feature_vector_type> weights;
            for (unsigned long i = 0; i < plain.num_detectors(); ++i)
                weights.push_back(plain.get_w(i));
            slot.emplace(Detector(scanner, plain.get_overlap_tester(), weights));
            slot->useVectorFilters = detector.useVectorFilters;
        }
        return *slot;
    }

    // The plain detector over `pixels`: faces of about 80 px and up, strongest first.
    void plainPass(const dlib::array2d<unsigned char> &pixels, QVector<DetectedFace> &faces)
    {
        std::vector<dlib::rect_detection> found;
        detector(pixels, found, minScore);
        for (const auto &det : found) {
            DetectedFace face;
            face.box = QRectF(det.rect.left(), det.rect.top(), det.rect.width(), det.rect.height());
            face.score = det.detection_confidence;
            faces.append(face);
        }
    }

    // frameReady: frame already holds grey (findFaces just copied it).
    void landmarks(const GreyImage &grey, QVector<DetectedFace> &faces, bool frameReady);
    void closeUpFaces(const GreyImage &grey, QVector<DetectedFace> &faces);
};

FaceEyesDetector::FaceEyesDetector()
    : d(std::make_unique<Private>())
{
}

FaceEyesDetector::~FaceEyesDetector() = default;

QString FaceEyesDetector::landmarkModelPath()
{
    const QString path = qEnvironmentVariable("GLANTO_LANDMARK_MODEL");
    return path.isEmpty() ? QStringLiteral("/usr/share/dlib/shape_predictor_68_face_landmarks.dat") : path;
}

bool FaceEyesDetector::hasLandmarkModel()
{
    return sharedPredictor() != nullptr;
}

void FaceEyesDetector::unpackFaceDetector()
{
    (void)prototypeDetector();
}

QVector<DetectedFace> FaceEyesDetector::findFaces(const QImage &image, const GreyImage &grey,
                                                  SmallFaces smallFaces)
{
    QVector<DetectedFace> faces;
    d->upsampledShare = 0;
    if (grey.isNull() || grey.width < 8 || grey.height < 8)
        return faces;
    try {
        copyGrey(grey, d->frame);
        d->plainPass(d->frame, faces);
        if (faces.isEmpty())
            d->closeUpFaces(grey, faces);
        if (smallFaces == SmallFaces::skip)
            return faces;
        // The upsampled search finds faces under the plain window's 80 px. Beside a face
        // of twice that they are background people, whose eyes and focus are not judged
        // (FaceRules::mainFaceShare): the search would only add to the count, at the
        // cost of half the plain search. Beside a smaller face, only the faces that could
        // still be main faces are looked for.
        double tallest = 0;
        for (const DetectedFace &face : faces)
            tallest = std::max(tallest, face.box.height());
        if (smallFaces == SmallFaces::targeted && tallest * FaceRules::mainFaceShare >= plainWindow)
            return faces;
        const UpsampledSearch search = smallFaces == SmallFaces::targeted
            ? upsampledSearch(std::max(FaceRules::minFaceHeight, FaceRules::mainFaceShare * tallest))
            : UpsampledSearch();

        QVector<QRect> regions;
        if (smallFaces == SmallFaces::everywhere)
            regions = {QRect(0, 0, grey.width, grey.height)};
        else
            regions = smallFaceRegions(image.convertToFormat(QImage::Format_RGBA8888_Premultiplied), faces);
        FaceSearch &small = d->smallFaceDetector(search.levels);
        d->upsampledShare = 0;
        std::vector<dlib::rect_detection> found;
        for (const QRect &region : regions) {
            if (region.width() < 40 || region.height() < 40)
                continue;
            d->upsampledShare += double(region.width()) * region.height() / (double(grey.width) * grey.height);
            enlargeRegion(grey, region, search.scale, d->region);
            found.clear();
            small(d->region, found, minScore);
            const double sx = double(d->region.nc()) / region.width();
            const double sy = double(d->region.nr()) / region.height();
            for (const auto &det : found) {
                DetectedFace face;
                face.box = QRectF(region.x() + det.rect.left() / sx, region.y() + det.rect.top() / sy,
                                  det.rect.width() / sx, det.rect.height() / sy);
                face.score = det.detection_confidence;
                // Regions overlap at their margins and the plain pass sees faces near 80 px
                // too: keep one box per face, the earlier one.
                bool duplicate = false;
                for (int i = 0; i < faces.size() && !duplicate; ++i)
                    duplicate = overlap(faces[i].box, face.box) > 0.5;
                if (!duplicate)
                    faces.append(face);
            }
        }
    } catch (const std::exception &e) {
        qWarning("FaceEyes: face detection failed: %s", e.what());
    }
    return faces;
}

QVector<DetectedFace> FaceEyesDetector::findLargeFaces(const GreyImage &grey)
{
    QVector<DetectedFace> faces;
    if (grey.isNull() || grey.width < 8 || grey.height < 8)
        return faces;
    try {
        copyGrey(grey, d->region);
        d->plainPass(d->region, faces);
    } catch (const std::exception &e) {
        qWarning("FaceEyes: face detection failed: %s", e.what());
    }
    return faces;
}

// A face that fills the picture (a close-up, a crop) runs off its edges, where the
// detector's window cannot follow it. When the picture showed no face, it is looked
// at once more small, on a grey margin: a 240 px copy costs a few milliseconds. Only a
// face as large as half the picture's shorter side counts there; smaller ones were
// the plain pass's to find. The part of such a face beyond the frame is flat grey on
// the canvas, which costs the detector some of its score, so a lower one is accepted:
// measured on the corpus, -0.3 finds three more of the five cut-off faces the plain
// pass missed and no face on any of 77 pictures without people (-0.6 finds faces in
// blank margins).
void FaceEyesDetector::Private::closeUpFaces(const GreyImage &grey, QVector<DetectedFace> &faces)
{
    constexpr int side = 240;
    constexpr double closeUpMinScore = -0.3;
    const auto [scale, margin] = closeUpCanvas(grey, side, closeUp);
    std::vector<dlib::rect_detection> found;
    detector(closeUp, found, closeUpMinScore);
    const double minHeight = 0.5 * std::min(grey.width, grey.height);
    for (const auto &det : found) {
        DetectedFace face;
        face.box = QRectF((det.rect.left() - margin) / scale, (det.rect.top() - margin) / scale,
                          det.rect.width() / scale, det.rect.height() / scale);
        face.score = det.detection_confidence;
        if (face.box.height() >= minHeight)
            faces.append(face);
    }
}

void FaceEyesDetector::placeLandmarks(const GreyImage &grey, QVector<DetectedFace> &faces)
{
    d->landmarks(grey, faces, false);
}

void FaceEyesDetector::Private::landmarks(const GreyImage &grey, QVector<DetectedFace> &faces, bool frameReady)
{
    const dlib::shape_predictor *predictor = sharedPredictor();
    if (!predictor || faces.isEmpty() || grey.isNull())
        return;
    try {
        if (!frameReady)
            copyGrey(grey, frame);
        for (DetectedFace &face : faces) {
            const QRect whole(0, 0, grey.width, grey.height);
            // dlib places its points on whole pixels. On a small face that is a coarse
            // step against an eye a dozen pixels wide, so such faces get their points
            // on a doubled copy of the area around them: half-pixel steps.
            const bool doubled = fineLandmarks && face.box.height() < fineLandmarkFaceHeight;
            QRect area = whole;
            if (doubled) {
                const double margin = 0.25 * face.box.height();
                area = face.box.adjusted(-margin, -margin, margin, margin).toAlignedRect().intersected(whole);
                if (area.width() < 8 || area.height() < 8)
                    continue;
                upsampleRegion(grey, area, region);
            }
            const double scale = doubled ? 2.0 : 1.0;
            const QRectF box((face.box.left() - area.x()) * scale, (face.box.top() - area.y()) * scale,
                             face.box.width() * scale, face.box.height() * scale);
            const dlib::rectangle rect(long(std::floor(box.left())), long(std::floor(box.top())),
                                       long(std::ceil(box.right())) - 1, long(std::ceil(box.bottom())) - 1);
            const dlib::full_object_detection shape = doubled ? (*predictor)(region, rect) : (*predictor)(frame, rect);
            if (shape.num_parts() != 68)
                continue;
            const auto point = [&](unsigned long i) {
                return QPointF(area.x() + shape.part(i).x() / scale, area.y() + shape.part(i).y() / scale);
            };
            face.leftEye.clear();
            face.rightEye.clear();
            face.mouth.clear();
            // Points 36-41 outline the eye on the image's left, 42-47 the other one.
            for (unsigned long i = 36; i < 42; ++i)
                face.leftEye.append(point(i));
            for (unsigned long i = 42; i < 48; ++i)
                face.rightEye.append(point(i));
            for (unsigned long i = 48; i < 68; ++i)
                face.mouth.append(point(i));
            face.yaw = estimateYaw(shape);
        }
    } catch (const std::exception &e) {
        qWarning("FaceEyes: landmarks failed: %s", e.what());
    }
}

std::array<std::optional<double>, 4> FaceEyesDetector::turnScores(const GreyImage &grey, const QRectF &box)
{
    std::array<std::optional<double>, 4> scores;
    const double side = std::max(box.width(), box.height());
    if (grey.isNull() || !(side >= 8))
        return scores;
    // The face on a square of a little over twice its size, scaled so that it is a
    // little larger than the detector's window: the first three pyramid levels find
    // faces of 80 to 115 px. Beyond the picture's edges the square is mid-grey.
    constexpr double faceSide = 1.25 * plainWindow;
    constexpr int canvas = int(2.2 * faceSide);
    constexpr int levels = 3;
    const double scale = faceSide / side;
    const QPointF centre = box.center();
    GreyImage square;
    square.width = square.height = canvas;
    square.pixels.assign(size_t(canvas) * canvas, 128);
    for (int v = 0; v < canvas; ++v) {
        const double y = centre.y() + (v + 0.5 - canvas / 2.0) / scale;
        if (y < 0 || y > grey.height - 1)
            continue;
        for (int u = 0; u < canvas; ++u) {
            const double x = centre.x() + (u + 0.5 - canvas / 2.0) / scale;
            if (x < 0 || x > grey.width - 1)
                continue;
            square.pixels[size_t(v) * canvas + u] = uint8_t(std::lround(grey.areaMean(x, y, 1.0 / scale, 3)));
        }
    }
    // A score well under dlib's own threshold still says which way up the face is seen best.
    constexpr double lowestScore = -1.0;
    try {
        std::vector<dlib::rect_detection> found;
        constexpr int n = canvas - 1;
        for (int turn = 0; turn < 4; ++turn) {
            d->closeUp.set_size(canvas, canvas);
            for (int v = 0; v < canvas; ++v) {
                for (int u = 0; u < canvas; ++u) {
                    // Turned clockwise: the pixel at (u, v) comes from the square's
                    // (v, n - u), (n - u, n - v) or (n - v, u) for one to three quarters.
                    int x = u, y = v;
                    if (turn == 1) {
                        x = v;
                        y = n - u;
                    } else if (turn == 2) {
                        x = n - u;
                        y = n - v;
                    } else if (turn == 3) {
                        x = n - v;
                        y = u;
                    }
                    d->closeUp[v][u] = square.pixels[size_t(y) * canvas + x];
                }
            }
            found.clear();
            d->smallFaceDetector(levels)(d->closeUp, found, lowestScore);
            for (const auto &det : found) {
                const double h = double(det.rect.height());
                const double dx = (det.rect.left() + det.rect.right()) / 2.0 - canvas / 2.0;
                const double dy = (det.rect.top() + det.rect.bottom()) / 2.0 - canvas / 2.0;
                if (h < 0.6 * faceSide || h > 1.6 * faceSide || std::hypot(dx, dy) > 0.6 * faceSide)
                    continue;
                if (!scores[size_t(turn)] || det.detection_confidence > *scores[size_t(turn)])
                    scores[size_t(turn)] = det.detection_confidence;
            }
        }
    } catch (const std::exception &e) {
        qWarning("FaceEyes: face search failed: %s", e.what());
    }
    return scores;
}

double FaceEyesDetector::lastUpsampledShare() const
{
    return d->upsampledShare;
}

void FaceEyesDetector::setVectorFilters(bool vector)
{
    d->detector.useVectorFilters = vector;
    for (std::optional<FaceSearch> &small : d->upsampledDetectors) {
        if (small)
            small->useVectorFilters = vector;
    }
}

bool FaceEyesDetector::hasVectorFilters()
{
    return FaceSearch::vectorFiltersAvailable();
}

void FaceEyesDetector::setFineLandmarks(bool fine)
{
    d->fineLandmarks = fine;
}

QVector<DetectedFace> FaceEyesDetector::detect(const QImage &image, const GreyImage &grey, SmallFaces smallFaces)
{
    QVector<DetectedFace> faces = findFaces(image, grey, smallFaces);
    d->landmarks(grey, faces, true);
    return faces;
}
