// Which photos the picture sharpness calls blurry, over every corpus photo of 600 px
// and more outside the face folders and edited copies of it: what sharp photos meet
// (flat light, shade, noise, a blurred background, a small subject) and what must stay
// blurry (Gaussian blurs, streaks in several directions, blurs in noise or flat light).
// Reads each case by the stored measure and by shape measures that ignore contrast:
// the fine-to-coarse detail ratio over the tiles with structure, how evenly the
// directions keep their fine detail, and how much of it a further blur takes away.
// Prints each measure's spread per edit and the best bound it could have as a second
// chance for what the stored measure flags; --tsv writes one row per case. About four
// minutes on one core. --channels instead prints, per case, the stored measure on the
// grey picture and on the red, green and blue channels, each edited alike (about four
// and a half minutes).
//
//   sharpness_shape_bench [--corpus DIR] [--tsv FILE] [--channels]
#include "BenchAnalysisImage.h"

#include "cleanup/SharpnessMeasures.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMap>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <numeric>
#include <vector>

using namespace BenchAnalysisImage;

namespace {

QString corpus = QStringLiteral(GLANTO_CORPUS_DIR);

struct Plane {
    int width = 0, height = 0;
    std::vector<float> v;
    float &at(int x, int y) { return v[size_t(y) * width + x]; }
    float at(int x, int y) const { return v[size_t(y) * width + x]; }
    float sample(double x, double y) const
    {
        x = std::clamp(x, 0.0, width - 1.0);
        y = std::clamp(y, 0.0, height - 1.0);
        const int x0 = std::min(int(x), width - 2), y0 = std::min(int(y), height - 2);
        const double ax = x - x0, ay = y - y0;
        const double top = at(x0, y0) + (at(x0 + 1, y0) - at(x0, y0)) * ax;
        const double bottom = at(x0, y0 + 1) + (at(x0 + 1, y0 + 1) - at(x0, y0 + 1)) * ax;
        return float(top + (bottom - top) * ay);
    }
};

Plane toPlane(const GreyImage &g)
{
    Plane p{g.width, g.height, std::vector<float>(g.pixels.begin(), g.pixels.end())};
    return p;
}

// One colour channel (0 red, 1 green, 2 blue) of an RGBA8888 picture.
Plane channelPlane(const QImage &image, int channel)
{
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    Plane p{rgba.width(), rgba.height(), std::vector<float>(size_t(rgba.width()) * rgba.height())};
    for (int y = 0; y < rgba.height(); ++y) {
        const uchar *line = rgba.constScanLine(y);
        for (int x = 0; x < rgba.width(); ++x)
            p.at(x, y) = line[4 * x + channel];
    }
    return p;
}

GreyImage toGrey(const Plane &p)
{
    GreyImage g;
    g.width = p.width;
    g.height = p.height;
    g.pixels.resize(p.v.size());
    for (size_t i = 0; i < p.v.size(); ++i)
        g.pixels[i] = uint8_t(std::clamp(std::lround(p.v[i]), 0l, 255l));
    return g;
}

Plane blurred(const Plane &in, double sigma)
{
    const int r = int(std::ceil(3 * sigma));
    std::vector<double> k(2 * r + 1);
    double sum = 0;
    for (int i = -r; i <= r; ++i)
        sum += k[i + r] = std::exp(-0.5 * i * i / (sigma * sigma));
    for (double &w : k)
        w /= sum;
    Plane tmp = in, out = in;
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x) {
            double s = 0;
            for (int i = -r; i <= r; ++i)
                s += k[i + r] * in.at(std::clamp(x + i, 0, in.width - 1), y);
            tmp.at(x, y) = float(s);
        }
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x) {
            double s = 0;
            for (int i = -r; i <= r; ++i)
                s += k[i + r] * tmp.at(x, std::clamp(y + i, 0, in.height - 1));
            out.at(x, y) = float(s);
        }
    return out;
}

// The mean along a straight streak of the given length and angle (degrees).
Plane streaked(const Plane &in, double length, double degrees)
{
    const double dx = std::cos(degrees * M_PI / 180), dy = std::sin(degrees * M_PI / 180);
    const int taps = int(std::ceil(length)) + 1;
    Plane out = in;
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x) {
            double s = 0;
            for (int i = 0; i < taps; ++i) {
                const double t = (double(i) / (taps - 1) - 0.5) * length;
                s += in.sample(x + t * dx, y + t * dy);
            }
            out.at(x, y) = float(s / taps);
        }
    return out;
}

Plane mapped(const Plane &in, const std::function<float(float, int, int)> &f)
{
    Plane out = in;
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x)
            out.at(x, y) = f(in.at(x, y), x, y);
    return out;
}

Plane flat(const Plane &in, double share)
{
    return mapped(in, [share](float v, int, int) { return float(128 + (v - 128) * share); });
}

Plane noisy(const Plane &in, double sigma)
{
    return mapped(in, [sigma](float v, int x, int y) { return float(v + noiseAt(x, y, sigma)); });
}

// The middle ninth kept, the rest blurred by 5 px.
Plane background(const Plane &in)
{
    Plane out = blurred(in, 5);
    for (int y = in.height / 3; y < 2 * in.height / 3; ++y)
        for (int x = in.width / 3; x < 2 * in.width / 3; ++x)
            out.at(x, y) = in.at(x, y);
    return out;
}

// The photo at 30 % (area mean) on a 6 px blur of itself.
Plane smallSubject(const Plane &in)
{
    Plane out = blurred(in, 6);
    const int w = int(in.width * 0.3), h = int(in.height * 0.3);
    const int ox = int(in.width * 0.35), oy = int(in.height * 0.35);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double s = 0;
            int n = 0;
            for (int j = int(y / 0.3); j < std::min(in.height, int((y + 1) / 0.3)); ++j)
                for (int i = int(x / 0.3); i < std::min(in.width, int((x + 1) / 0.3)); ++i, ++n)
                    s += in.at(i, j);
            out.at(ox + x, oy + y) = float(n ? s / n : 0);
        }
    return out;
}


// Per direction (horizontal, vertical, both diagonals halved, as detailEnergy weighs
// them) the mean squared second difference over a rectangle.
std::array<double, 4> directionEnergies(const GreyImage &g, int x0, int y0, int x1, int y1)
{
    x0 = std::max(1, x0);
    y0 = std::max(1, y0);
    x1 = std::min(g.width - 1, x1);
    y1 = std::min(g.height - 1, y1);
    std::array<double, 4> e{};
    if (x1 - x0 < 3 || y1 - y0 < 3)
        return e;
    int64_t h = 0, v = 0, d = 0, a = 0;
    for (int y = y0; y < y1; ++y) {
        const uint8_t *up = g.row(y - 1), *mid = g.row(y), *down = g.row(y + 1);
        for (int x = x0; x < x1; ++x) {
            const int c2 = 2 * mid[x];
            const int dh = mid[x - 1] + mid[x + 1] - c2, dv = up[x] + down[x] - c2;
            const int dd = up[x - 1] + down[x + 1] - c2, da = up[x + 1] + down[x - 1] - c2;
            h += dh * dh;
            v += dv * dv;
            d += dd * dd;
            a += da * da;
        }
    }
    const double n = double(x1 - x0) * (y1 - y0);
    return {h / n, v / n, 0.5 * d / n, 0.5 * a / n};
}

double smallest(const std::array<double, 4> &e) { return *std::min_element(e.begin(), e.end()); }
double largest(const std::array<double, 4> &e) { return *std::max_element(e.begin(), e.end()); }

// The mean of each 2 x 2 block.
GreyImage halved(const GreyImage &g)
{
    GreyImage c;
    c.width = g.width / 2;
    c.height = g.height / 2;
    c.pixels.resize(size_t(c.width) * c.height);
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x)
            c.pixels[size_t(y) * c.width + x] = uint8_t((g.at(2 * x, 2 * y) + g.at(2 * x + 1, 2 * y)
                                                         + g.at(2 * x, 2 * y + 1) + g.at(2 * x + 1, 2 * y + 1) + 2) / 4);
    return c;
}

// The fine-to-coarse detail ratio: a blur takes the fine band before the coarse one,
// whatever the contrast, while a sharp scene keeps the two in proportion. Over tiles
// with structure in every direction at the coarse scale (the weakest direction at
// least `floor` and `isotropy` of the strongest, so that a lone line along a streak
// does not count), the weakest fine direction over the weakest coarse one; the mean of
// the best three tiles.
struct Variant {
    const char *name;
    int fineShrink;       // 1: the 1280-px analysis image; 2: half of it
    int coarseFactor;     // 2 or 4 times coarser than the fine plane
    int tile;             // tile side on the 1280-px image
    double floor;
    double isotropy;
    bool denoised;        // the flattest tiles' fine energy taken as noise and removed
    bool perDirection;    // each direction's best tiles on their own, the weakest direction's reading
};

const Variant variants[] = {
    {"1:2 tile 32", 1, 2, 32, 32, 0.3, false, false},
    {"1:2 tile 64", 1, 2, 64, 32, 0.3, false, false},
    {"1:2 tile 32 denoised", 1, 2, 32, 8, 0.3, true, false},
    {"1:4 tile 32", 1, 4, 32, 32, 0.3, false, false},
    {"1:4 tile 64", 1, 4, 64, 32, 0.3, false, false},
    {"2:4 tile 64", 2, 2, 64, 32, 0.3, false, false},
    {"1:2 tile 32 per direction", 1, 2, 32, 32, 0, false, true},
    {"1:2 tile 64 per direction", 1, 2, 64, 32, 0, false, true},
    {"1:2 tile 32 per direction, floor 8", 1, 2, 32, 8, 0, false, true},
};

struct Planes {
    GreyImage full, half, quarter;
    const GreyImage &at(int shrink) const { return shrink == 1 ? full : shrink == 2 ? half : quarter; }
};

double crispness(const Planes &p, const Variant &v)
{
    const GreyImage &fine = p.at(v.fineShrink);
    const GreyImage &coarse = p.at(v.fineShrink * v.coarseFactor);
    const int tile = v.tile / (v.fineShrink * v.coarseFactor);
    struct Tile {
        double fineMin, coarseMin, coarseMax;
    };
    std::vector<Tile> tiles;
    std::array<std::vector<double>, 4> byDirection;
    for (int ty = 0; ty + tile <= coarse.height; ty += tile)
        for (int tx = 0; tx + tile <= coarse.width; tx += tile) {
            const auto k = directionEnergies(coarse, tx, ty, tx + tile, ty + tile);
            const int f = v.coarseFactor;
            const auto e = directionEnergies(fine, f * tx, f * ty, f * (tx + tile), f * (ty + tile));
            tiles.push_back({smallest(e), smallest(k), largest(k)});
            for (int d = 0; d < 4; ++d)
                if (k[d] >= v.floor)
                    byDirection[d].push_back(e[d] / k[d]);
        }
    if (v.perDirection) {
        double weakest = 1e9;
        for (std::vector<double> &r : byDirection) {
            std::sort(r.begin(), r.end(), std::greater<double>());
            const size_t n = std::min<size_t>(3, r.size());
            weakest = std::min(weakest, n ? std::accumulate(r.begin(), r.begin() + n, 0.0) / n : 0.0);
        }
        return weakest;
    }
    double noise = 0;
    if (v.denoised && !tiles.empty()) {
        std::vector<double> fines;
        for (const Tile &t : tiles)
            fines.push_back(t.fineMin);
        std::nth_element(fines.begin(), fines.begin() + fines.size() / 10, fines.end());
        noise = fines[fines.size() / 10];
    }
    // White noise keeps 1 / (factor^2) of its energy in the block means.
    const double coarseNoise = noise / (v.coarseFactor * v.coarseFactor);
    std::vector<double> ratios;
    for (const Tile &t : tiles) {
        const double k = t.coarseMin - coarseNoise;
        if (k >= v.floor && t.coarseMin >= v.isotropy * t.coarseMax)
            ratios.push_back(std::max(0.0, t.fineMin - noise) / k);
    }
    std::sort(ratios.begin(), ratios.end(), std::greater<double>());
    const size_t n = std::min<size_t>(3, ratios.size());
    return n ? std::accumulate(ratios.begin(), ratios.begin() + n, 0.0) / n : 0.0;
}

// How evenly the four directions keep their fine detail against the coarse over the
// whole frame (weakest over strongest of the fine-to-coarse ratios, 64 px tiles with
// any structure): a streak takes the fine detail along its own direction everywhere,
// whatever the scene.
double evenness(const Planes &p)
{
    std::array<double, 4> fine{}, coarse{};
    const int tile = 32;
    for (int ty = 0; ty + tile <= p.half.height; ty += tile)
        for (int tx = 0; tx + tile <= p.half.width; tx += tile) {
            const auto k = directionEnergies(p.half, tx, ty, tx + tile, ty + tile);
            if (smallest(k) < 8)
                continue;
            const auto f = directionEnergies(p.full, 2 * tx, 2 * ty, 2 * (tx + tile), 2 * (ty + tile));
            for (int d = 0; d < 4; ++d) {
                fine[d] += f[d];
                coarse[d] += k[d];
            }
        }
    double lo = 1e9, hi = 0;
    for (int d = 0; d < 4; ++d) {
        if (coarse[d] <= 0)
            return 0;
        lo = std::min(lo, fine[d] / coarse[d]);
        hi = std::max(hi, fine[d] / coarse[d]);
    }
    return hi > 0 ? lo / hi : 0;
}

// How much of the detail a further blur takes away: over the 6 x 6 cells of the stored
// measure, the four with the most detail, their detailEnergy over the same cells' after
// a Gaussian blur of `sigma` px. Second differences of a picture already blurred by s
// fall roughly as s^-4, so the ratio reads ((s^2 + sigma^2) / s^2)^2 whatever the
// scene's contrast or how much of it is textured: large for a sharp picture, near 1
// for one a blur has already smoothed.
double reblurRatio(const Plane &picture, double sigma)
{
    const GreyImage g = toGrey(picture), b = toGrey(blurred(picture, sigma));
    std::vector<std::pair<double, double>> cells;
    for (int j = 0; j < 6; ++j)
        for (int i = 0; i < 6; ++i) {
            const QRectF r(g.width * i / 6.0, g.height * j / 6.0, g.width / 6.0, g.height / 6.0);
            cells.push_back({detailEnergy(g, r), detailEnergy(b, r)});
        }
    std::sort(cells.begin(), cells.end(), [](const auto &a, const auto &c) { return a.first > c.first; });
    double o = 0, k = 0;
    for (int n = 0; n < 4; ++n) {
        o += cells[n].first;
        k += cells[n].second;
    }
    return k > 0 ? o / k : 0.0;
}

struct Case {
    QString name, edit;
    bool expectBlurry;
    double stored;
    std::vector<double> values;   // one per variant, then the evenness
};

double quantile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * v.size()))];
}

// Per measure: its spread per edit, and the best bound for a second chance (a photo
// the stored measure flags is called sharp when the measure reaches the bound) that
// passes no blurred case the stored measure flags.
void summarize(const std::vector<Case> &cases, const QStringList &editNames, const QStringList &measureNames)
{
    const auto flagged = [](const Case &c) { return c.stored < 20; };
    int sharpFlagged = 0, blurredPassed = 0, sharpCases = 0;
    for (const Case &c : cases) {
        sharpCases += !c.expectBlurry;
        sharpFlagged += !c.expectBlurry && flagged(c);
        blurredPassed += c.expectBlurry && !flagged(c);
    }
    std::printf("\n%zu cases, %d expected sharp; the stored measure flags %d of those and passes %d blurred\n",
                cases.size(), sharpCases, sharpFlagged, blurredPassed);
    for (int m = 0; m < measureNames.size(); ++m) {
        std::printf("\n== %s: median / 90th percentile / largest, by edit ==\n", qPrintable(measureNames[m]));
        for (const QString &edit : editNames)
            for (bool blurry : {false, true}) {
                std::vector<double> v;
                for (const Case &c : cases)
                    if (c.edit == edit && c.expectBlurry == blurry)
                        v.push_back(c.values[m]);
                if (v.size() > 8)
                    std::printf("  %-22s %-7s %3zu  %7.3f %7.3f %7.3f\n", qPrintable(edit), blurry ? "blurry" : "sharp",
                                v.size(), quantile(v, 0.5), quantile(v, 0.9), quantile(v, 1.0));
            }
        double bound = 0;
        QString highest;
        for (const Case &c : cases)
            if (c.expectBlurry && flagged(c) && c.values[m] >= bound) {
                bound = c.values[m];
                highest = c.name + " (" + c.edit + ")";
            }
        std::printf("  highest blurred case the stored measure flags: %.3f, %s\n", bound, qPrintable(highest));
        int unflagged = 0;
        for (const Case &c : cases)
            if (!c.expectBlurry && flagged(c) && c.values[m] > bound)
                ++unflagged;
        std::printf("  above it: %d of the %d sharp cases flagged\n", unflagged, sharpFlagged);
        for (const Case &c : cases)
            if (!c.expectBlurry && flagged(c) && c.edit == "original")
                std::printf("    flagged original %-44s %.3f  (%.2fx the bound)\n", qPrintable(c.name), c.values[m],
                            bound > 0 ? c.values[m] / bound : 0.0);
    }
}


} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    initVips(argv[0]);
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i)
        if (args[i] == "--corpus" && i + 1 < args.size())
            corpus = args[++i];
    QString tsvPath;
    for (int i = 1; i + 1 < args.size(); ++i)
        if (args[i] == "--tsv")
            tsvPath = args[i + 1];
    // --channels: the stored measure on the grey picture and on each colour channel,
    // edited alike, one row per case on stdout.
    const bool channels = args.contains(QStringLiteral("--channels"));
    const QMap<QString, QString> labels = manifestBlurLabels(corpus, UncertainLabel::none);
    QStringList measureNames;
    for (const Variant &v : variants)
        measureNames << v.name;
    measureNames << "evenness of the directions" << "reblur 1 px" << "reblur 1.5 px" << "reblur 1 px at half size";
    QStringList editNames;
    std::vector<Case> cases;
    for (const QString &folder : QDir(corpus).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        if (folder.startsWith("faces"))
            continue;
        const QDir dir(corpus + "/" + folder);
        for (const QString &file : dir.entryList(QDir::Files, QDir::Name)) {
            const QImage image = load(dir.filePath(file), 1280);
            if (image.isNull() || std::max(image.width(), image.height()) < 600)
                continue;
            const QString name = folder + "/" + file;
            const QString label = labels.value(name, "unlabelled");
            const bool sourceBlurry = label == "blurry";
            const Plane grey = toPlane(GreyImage::fromImage(image));
            // The grey picture, then with --channels its red, green and blue.
            std::vector<Plane> sources{grey};
            if (channels)
                for (int ch = 0; ch < 3; ++ch)
                    sources.push_back(channelPlane(image, ch));
            std::vector<std::vector<double>> perPlane;
            for (const Plane &p : sources) {
                perPlane.emplace_back();
                struct Edit {
                    const char *name;
                    std::function<Plane()> make;
                    bool blurs;
                };
                const std::vector<Edit> edits = {
                    {"original", [&] { return p; }, false},
                    {"flat 35%", [&] { return flat(p, 0.35); }, false},
                    {"flat 20%", [&] { return flat(p, 0.2); }, false},
                    {"shade -2 EV", [&] { return mapped(p, [](float v, int, int) {
                         return float(255 * std::pow(std::pow(std::max(0.0f, v) / 255.0, 2.2) * 0.25, 1 / 2.2)); }); }, false},
                    {"noise 6", [&] { return noisy(p, 6); }, false},
                    {"background blur", [&] { return background(p); }, false},
                    {"small subject", [&] { return smallSubject(p); }, false},
                    {"blur 1.5 px", [&] { return blurred(p, 1.5); }, true},
                    {"blur 2 px", [&] { return blurred(p, 2); }, true},
                    {"streak 6 px", [&] { return streaked(p, 6, 0); }, true},
                    {"streak 10 px", [&] { return streaked(p, 10, 0); }, true},
                    {"streak 8 px 90", [&] { return streaked(p, 8, 90); }, true},
                    {"streak 8 px 30", [&] { return streaked(p, 8, 30); }, true},
                    {"streak 8 px 135", [&] { return streaked(p, 8, 135); }, true},
                    {"blur 2 px noise 4", [&] { return noisy(blurred(p, 2), 4); }, true},
                    {"blur 2 px flat 50%", [&] { return flat(blurred(p, 2), 0.5); }, true},
                    {"streak 6 px flat 50%", [&] { return flat(streaked(p, 6, 0), 0.5); }, true},
                };
                if (channels) {
                    for (const Edit &e : edits)
                        perPlane.back().push_back(pictureSharpness(toGrey(e.make())));
                    if (perPlane.size() == sources.size()) {
                        for (size_t k = 0; k < edits.size(); ++k)
                            std::printf("%s\t%s\t%s\t%.3f\t%.3f\t%.3f\t%.3f\n", qPrintable(name), edits[k].name,
                                        edits[k].blurs || sourceBlurry ? "blurry" : "sharp", perPlane[0][k], perPlane[1][k],
                                        perPlane[2][k], perPlane[3][k]);
                    }
                    continue;
                }
                for (const Edit &e : edits) {
                    if (!editNames.contains(e.name))
                        editNames << e.name;
                    Planes planes;
                    const Plane edited = e.make();
                    planes.full = toGrey(edited);
                    planes.half = halved(planes.full);
                    planes.quarter = halved(planes.half);
                    Case c{name, e.name, e.blurs || sourceBlurry, pictureSharpness(planes.full), {}};
                    for (const Variant &v : variants)
                        c.values.push_back(crispness(planes, v));
                    c.values.push_back(evenness(planes));
                    c.values.push_back(reblurRatio(edited, 1.0));
                    c.values.push_back(reblurRatio(edited, 1.5));
                    c.values.push_back(reblurRatio(toPlane(planes.half), 1.0));
                    cases.push_back(c);
                }
            }
            std::fprintf(stderr, ".");
        }
    }
    std::fprintf(stderr, "\n");
    if (channels)
        return 0;
    if (!tsvPath.isEmpty()) {
        QFile tsv(tsvPath);
        if (tsv.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            tsv.write("name\tedit\texpect\tstored\t" + measureNames.join('\t').toUtf8() + "\n");
            for (const Case &c : cases) {
                QStringList fields{c.name, c.edit, c.expectBlurry ? "blurry" : "sharp", QString::number(c.stored, 'f', 3)};
                for (double v : c.values)
                    fields << QString::number(v, 'f', 4);
                tsv.write(fields.join('\t').toUtf8() + "\n");
            }
        }
    }
    summarize(cases, editNames, measureNames);
    return 0;
}
