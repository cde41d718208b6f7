// Calibration of the feature print's burst threshold: distances of true burst pairs
// (the corpus' real bursts, and synthetic next shots made from real photos) against
// pairs of different shots (different photos, and the corpus' same-place negatives).
// Prints the distributions, a ROC table and the chosen point; the figures in
// docs/feature-print-calibration.md come from this program.
//
//   feature_print_calibration [--corpus DIR] [--filter lanczos|linear|nearest]
#include "BenchAnalysisImage.h"

#include "cleanup/FeaturePrint.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>

using namespace BenchAnalysisImage;
using FeaturePrint::Embedding;

namespace {

QString corpus = QStringLiteral(GLANTO_CORPUS_DIR);
Filter filter = Filter::lanczos;

struct Pair {
    QString kind;
    QString label;
    float distance;
    FeaturePrint::Parts parts;
};

std::optional<Embedding> printOf(const QImage &image)
{
    return FeaturePrint::compute(image);
}

Pair makePair(const QString &kind, const QString &label, const Embedding &a, const Embedding &b)
{
    return {kind, label, FeaturePrint::distance(a, b), FeaturePrint::partDistances(a, b)};
}

// ---- synthetic next shots -------------------------------------------------------

QImage transformed(const QImage &image, double dx, double dy, double degrees, double zoom)
{
    QImage out(image.size(), QImage::Format_RGBA8888_Premultiplied);
    out.fill(Qt::black);
    QPainter p(&out);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.translate(image.width() / 2.0 + dx * image.width(), image.height() / 2.0 + dy * image.height());
    p.rotate(degrees);
    p.scale(zoom, zoom);
    p.translate(-image.width() / 2.0, -image.height() / 2.0);
    p.drawImage(0, 0, image);
    return out;
}

QImage perPixel(const QImage &image, const std::function<double(double, int)> &f)
{
    QImage out = image.copy();
    for (int y = 0; y < out.height(); ++y) {
        uchar *line = out.scanLine(y);
        for (int x = 0; x < out.width(); ++x)
            for (int c = 0; c < 3; ++c)
                line[4 * x + c] = uchar(std::clamp(f(line[4 * x + c], c), 0.0, 255.0));
    }
    return out;
}

// Exposure change by stops on linear light, clipped like a sensor.
QImage exposure(const QImage &image, double stops)
{
    const double gain = std::pow(2.0, stops);
    return perPixel(image, [gain](double v, int) {
        const double linear = std::pow(v / 255.0, 2.2) * gain;
        return 255.0 * std::pow(std::min(1.0, linear), 1 / 2.2);
    });
}

QImage noisy(const QImage &image, double sigma, unsigned seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> n(0, sigma);
    return perPixel(image, [&](double v, int) { return v + n(rng); });
}

// The subject moves: a central block of the frame is displaced against the background.
QImage subjectMotion(const QImage &image, double fraction, double move)
{
    QImage out = image.copy();
    const int w = int(image.width() * fraction), h = int(image.height() * fraction);
    const QRect block((image.width() - w) / 2, (image.height() - h) / 2, w, h);
    QPainter p(&out);
    p.drawImage(block.topLeft() + QPoint(int(move * image.width()), int(move * image.height() / 3)), image.copy(block));
    return out;
}

QVector<QPair<QString, QImage>> nextShots(const QImage &image, unsigned seed)
{
    return {
        {"shift 3%", transformed(image, 0.03, 0.01, 0, 1.06)},
        {"shift 6%", transformed(image, -0.06, 0.02, 0, 1.12)},
        {"rotate 2deg", transformed(image, 0, 0, 2.0, 1.08)},
        {"crop 90%", transformed(image, 0.02, -0.02, 0, 1.11)},
        {"exposure -1 EV", exposure(image, -1)},
        {"exposure +1 EV", exposure(image, 1)},
        {"noise 8", noisy(image, 8, seed)},
        {"blur 3", gaussianBlur(image, 3.0)},
        {"subject moves", subjectMotion(image, 0.4, 0.08)},
        {"all together", noisy(exposure(transformed(subjectMotion(image, 0.3, 0.05), 0.02, 0.01, 1.0, 1.05), -0.7), 5, seed + 1)},
    };
}

// ---- corpus sets ----------------------------------------------------------------

QStringList distinctPhotos()
{
    QStringList out;
    const auto add = [&](const QString &folder, const QStringList &names) {
        QDir dir(corpus + "/" + folder);
        const QStringList entries = names.isEmpty() ? dir.entryList(QDir::Files, QDir::Name) : names;
        for (const QString &n : entries)
            out << dir.filePath(n);
    };
    add("faces-open", {});
    add("sharp", {});
    add("faces-closed", {"closed_eyes.jpg", "mixed_eyes.jpg", "squinting.jpg"});
    add("orientation", {"Landscape_1.jpg"});
    add("bursts", {"Issue 247-1.nef", "canon_hdr_NO.jpg", "DSC08191.JPG", "DSC08193.JPG", "pcb_005.JPG",
                   "FujiFilm FinePix1400Zoom (1).jpg", "FujiFilm FinePix1400Zoom (2).jpg", "FujiFilm FinePix1400Zoom (3).jpg"});
    add("duplicates", {"Epson PhotoPC 3000Z.jpg", "Kodak CLAS Digital Film Scanner HR200 (1).jpg", "Sony D700.jpg",
                       "ukbench00120.jpg", "ukbench08976.jpg", "ukbench09040.jpg"});
    add("exif", {"Canon PowerShot G11.jpg", "Nikon D70.jpg", "Kodak PIXPRO FZ201.jpg", "Issue 177.jpg",
                 "Apple iPhone 4.jpg", "Olympus PEN E-P3.jpg", "Canon EOS 7D.jpg", "Nikon D5000.jpg", "HTC Desire.jpg",
                 "Panasonic DMC-LC40.jpg", "Pentax ist D.jpg", "Canon EOS D60.jpg", "Sony DSC-HX5V (2).jpg",
                 "Canon EOS REBEL T3i.jpg", "Reconyx_HC500_Hyperfire.jpg", "Issue 339.jpg", "paris_exif_xmp_icc.jpg"});
    return out;
}

// Bursts from the manifest: burst-group letter -> files in capture (name) order.
std::map<QString, QStringList> manifestBursts()
{
    std::map<QString, QStringList> groups;
    QFile f(corpus + "/manifest.tsv");
    if (!f.open(QIODevice::ReadOnly))
        return groups;
    while (!f.atEnd()) {
        const QStringList cols = QString::fromUtf8(f.readLine()).split('\t');
        if (cols.size() < 3 || !cols[0].startsWith("bursts/"))
            continue;
        for (const QString &prop : cols[2].split(';')) {
            if (prop.startsWith("burst-group=") && prop != "burst-group=none")
                groups[prop.mid(12)] << corpus + "/" + cols[0];
        }
    }
    return groups;
}

void printStats(const QString &title, QVector<float> values)
{
    if (values.isEmpty())
        return;
    std::sort(values.begin(), values.end());
    const auto q = [&](double p) { return values[std::min<qsizetype>(values.size() - 1, qsizetype(p * (values.size() - 1) + 0.5))]; };
    std::printf("%-34s n=%5lld  min %.3f  p5 %.3f  p25 %.3f  median %.3f  p75 %.3f  p95 %.3f  max %.3f\n",
                qPrintable(title), qlonglong(values.size()), values.first(), q(0.05), q(0.25), q(0.5), q(0.75), q(0.95),
                values.last());
}

double auc(const QVector<float> &pos, const QVector<float> &neg)
{
    // Probability that a random burst pair is closer than a random different pair.
    double wins = 0;
    for (float p : pos)
        for (float n : neg)
            wins += p < n ? 1.0 : p == n ? 0.5 : 0.0;
    return wins / (double(pos.size()) * neg.size());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    initVips(argv[0]);
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--corpus" && i + 1 < args.size())
            corpus = args[++i];
        else if (args[i] == "--filter" && i + 1 < args.size() && parseFilter(args[i + 1], filter))
            ++i;
        else {
            std::fprintf(stderr, "usage: %s [--corpus DIR] [--filter lanczos|linear|nearest]\n", argv[0]);
            return 2;
        }
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf("feature print revision %d, current threshold %.3f, analysis filter %s\n", FeaturePrint::revision(),
                FeaturePrint::burstThreshold(), filterName(filter));

    QVector<Pair> pairs;

    // Real bursts: neighbours in capture order within each group.
    for (const auto &[group, paths] : manifestBursts()) {
        std::optional<Embedding> previous;
        QString previousName;
        for (const QString &path : paths) {
            const auto print = printOf(load(path, 1280, filter));
            if (!print)
                continue;
            if (previous)
                pairs.append(makePair("burst (real)", group + ": " + previousName + " ~ " + QFileInfo(path).fileName(), *previous, *print));
            previous = print;
            previousName = QFileInfo(path).fileName();
        }
    }

    // Real negatives: shots of one place within seconds that show another scene.
    const QVector<QPair<QString, QString>> negatives = {
        {"bursts/FujiFilm FinePix1400Zoom (1).jpg", "bursts/FujiFilm FinePix1400Zoom (2).jpg"},
        {"bursts/FujiFilm FinePix1400Zoom (2).jpg", "bursts/FujiFilm FinePix1400Zoom (3).jpg"},
        {"bursts/DSC08192.JPG", "bursts/DSC08193.JPG"},
        {"duplicates/ukbench00120.jpg", "duplicates/ukbench08976.jpg"},
        {"duplicates/ukbench08976.jpg", "duplicates/ukbench09040.jpg"},
        {"duplicates/ukbench00120.jpg", "duplicates/ukbench09040.jpg"},
    };
    for (const auto &[a, b] : negatives) {
        const auto pa = printOf(load(corpus + "/" + a, 1280, filter));
        const auto pb = printOf(load(corpus + "/" + b, 1280, filter));
        if (pa && pb)
            pairs.append(makePair("different (same place)", QFileInfo(a).fileName() + " ~ " + QFileInfo(b).fileName(), *pa, *pb));
    }

    // Different photos, and synthetic next shots of each.
    const QStringList photos = distinctPhotos();
    QVector<Embedding> prints;
    QStringList names;
    unsigned seed = 1;
    for (const QString &path : photos) {
        const QImage image = load(path, 1280, filter);
        const auto print = printOf(image);
        if (!print)
            continue;
        prints.append(*print);
        names << QFileInfo(path).fileName();
        for (const auto &[kind, shot] : nextShots(image, seed++)) {
            if (const auto p = printOf(shot))
                pairs.append(makePair("burst (synthetic): " + kind, names.last(), *print, *p));
        }
    }
    for (int i = 0; i < prints.size(); ++i)
        for (int j = i + 1; j < prints.size(); ++j)
            pairs.append(makePair("different photos", names[i] + " ~ " + names[j], prints[i], prints[j]));

    // ---- figures --------------------------------------------------------------
    std::map<QString, QVector<float>> byKind;
    QVector<float> positives, negativesAll;
    QVector<float> posParts[3], negParts[3];
    for (const Pair &p : pairs) {
        byKind[p.kind].append(p.distance);
        const bool positive = p.kind.startsWith("burst");
        (positive ? positives : negativesAll).append(p.distance);
        (positive ? posParts[0] : negParts[0]).append(p.parts.layout);
        (positive ? posParts[1] : negParts[1]).append(p.parts.gradients);
        (positive ? posParts[2] : negParts[2]).append(p.parts.colour);
    }
    std::printf("\n== Distances by kind of pair ==\n");
    for (const auto &[kind, values] : byKind)
        printStats(kind, values);
    printStats("ALL burst pairs", positives);
    printStats("ALL different pairs", negativesAll);
    std::printf("\n== Separation of the parts (AUC; 1 = perfect) ==\n");
    std::printf("layout %.4f  gradients %.4f  colour %.4f  combined %.4f\n", auc(posParts[0], negParts[0]),
                auc(posParts[1], negParts[1]), auc(posParts[2], negParts[2]), auc(positives, negativesAll));

    std::printf("\n== Real pairs ==\n");
    for (const Pair &p : pairs) {
        if (p.kind == "burst (real)" || p.kind == "different (same place)")
            std::printf("%-24s %-50s %.3f  (layout %.3f, gradients %.3f, colour %.3f)\n", qPrintable(p.kind),
                        qPrintable(p.label), p.distance, p.parts.layout, p.parts.gradients, p.parts.colour);
    }
    std::printf("\n== Closest different photos ==\n");
    QVector<Pair> diff;
    for (const Pair &p : pairs)
        if (p.kind == "different photos")
            diff.append(p);
    std::sort(diff.begin(), diff.end(), [](const Pair &a, const Pair &b) { return a.distance < b.distance; });
    for (int i = 0; i < std::min<qsizetype>(8, diff.size()); ++i)
        std::printf("%-70s %.3f\n", qPrintable(diff[i].label), diff[i].distance);
    std::printf("\n== Farthest synthetic burst pairs ==\n");
    QVector<Pair> syn;
    for (const Pair &p : pairs)
        if (p.kind.startsWith("burst (synthetic)"))
            syn.append(p);
    std::sort(syn.begin(), syn.end(), [](const Pair &a, const Pair &b) { return a.distance > b.distance; });
    for (int i = 0; i < std::min<qsizetype>(8, syn.size()); ++i)
        std::printf("%-70s %.3f\n", qPrintable(syn[i].kind + " / " + syn[i].label), syn[i].distance);

    std::printf("\n== ROC: a pair joins when its distance <= threshold ==\n");
    std::printf("%9s %12s %12s %12s\n", "threshold", "bursts kept", "real kept", "diff joined");
    QVector<float> real = byKind["burst (real)"];
    const float closestDifferent = *std::min_element(negativesAll.begin(), negativesAll.end());
    for (float t = 0.20f; t <= 1.2001f; t += 0.02f) {
        const auto rate = [t](const QVector<float> &v) {
            return v.isEmpty() ? 0.0 : double(std::count_if(v.begin(), v.end(), [t](float d) { return d <= t; })) / v.size();
        };
        const double tpr = rate(positives), fpr = rate(negativesAll);
        std::printf("%9.2f %11.1f%% %11.1f%% %11.2f%%\n", t, 100 * tpr, 100 * rate(real), 100 * fpr);
    }
    // Unseen folders will hold different shots closer than this corpus' closest pair
    // (two portraits of one sitter in one pose): stay a tenth below it. The 30 s rule
    // of the grouping stands before the distance, so a pair this close must also have
    // been taken within half a minute to join.
    const float chosen = 0.9f * closestDifferent;
    const auto kept = [chosen](const QVector<float> &v) {
        return 100.0 * std::count_if(v.begin(), v.end(), [chosen](float d) { return d <= chosen; }) / std::max<qsizetype>(1, v.size());
    };
    std::printf("\nclosest different pair %.3f; chosen threshold 0.9 x that = %.3f: burst pairs kept %.1f%%, real bursts kept %.1f%%, "
                "different pairs joined %.2f%%\n", closestDifferent, chosen, kept(positives), kept(real), kept(negativesAll));
    return 0;
}
