// Accuracy and speed of the per-photo cleanup measures over the shared corpus:
// closed eyes, blur (real and synthetic), small faces, false faces, and the cost of
// each step on a 1280 x 853 picture.
//
//   cleanup_analysis_bench [--filter lanczos|linear|nearest] [--corpus DIR] [--section NAME]
//
// The eye sections also read the repository's tests/data/portraits and tests/data/faces.
// Sections: eyes, eyesize, blur, filters, loader, smallfaces, falsefaces, scores, speed
// (default: all); on request only: eyecues, eyestress, eyesmall, eyemono, eyegrey, eyedump, eyecolour, eyecontext, eyewhy, eyeshift, eyepatch, eyecost,
// eyelarger (XA_SHARE: the analysis picture's share of the photo, 0.5 by default; XL_SCALE: the
// larger decode's size over the analysis picture's, the photo itself by default), sharpfixtures,
// facesharpdump.
#include "BenchAnalysisImage.h"

#include "cleanup/EyeCascade.h"
#include "cleanup/EyePatch.h"
#include "cleanup/FaceEyes.h"
#include "cleanup/FaceEyesDetector.h"
#include "cleanup/FeaturePrint.h"
#include "cleanup/ImageMeasures.h"
#include "cleanup/SharpnessMeasures.h"
#include "library/ImageLoader.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QElapsedTimer>
#include <QPainter>
#include <QSet>
#include <QTemporaryDir>

#include <time.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>

using namespace BenchAnalysisImage;

namespace {

QString corpus = QStringLiteral(GLANTO_CORPUS_DIR);
Filter filter = Filter::lanczos;

// The open-eyed portraits that travel with the repository, measured beside the corpus.
const QString portraits = QStringLiteral(GLANTO_PORTRAITS_DIR);
// The repository's photos of shut and open eyes, children and groups, each labelled in
// its manifest.tsv.
const QString facePhotos = QStringLiteral(GLANTO_FACES_DIR);

// The short name of a folder for the reports: the corpus folder's own, or the
// repository folder's.
QString folderName(const QString &entry)
{
    if (entry == portraits)
        return QStringLiteral("portraits");
    if (entry == facePhotos)
        return QStringLiteral("faces");
    return entry;
}

// What a photo's eyes are expected to read: shut, open, or no verdict wanted (a wink,
// sunglasses, eyes hidden or turned away).
enum class Expect { shut, open, none };

// The label column (`eyes`) of a repository folder's manifest.tsv, by file name.
QMap<QString, QString> eyeLabels(const QString &dir)
{
    QMap<QString, QString> labels;
    for (const QList<QByteArray> &fields : manifestRows(dir)) {
        if (fields.size() >= 2 && fields[0] != "file")
            labels.insert(QString::fromUtf8(fields[0]), QString::fromUtf8(fields[1]).trimmed());
    }
    return labels;
}

// A photo's eye label as the study dumps print it: the repository folders' manifest
// label, "shut" for the corpus' closed-eyed folder (its wink "wink"), else "open".
QString manifestLabel(const QString &folder, const QString &path)
{
    static const QMap<QString, QString> portraitLabels = eyeLabels(portraits);
    static const QMap<QString, QString> faceLabels = eyeLabels(facePhotos);
    const QString name = QFileInfo(path).fileName();
    if (folder == portraits)
        return portraitLabels.value(name);
    if (folder == facePhotos)
        return faceLabels.value(name);
    if (folder == "faces-closed")
        return name.startsWith("mixed") ? QStringLiteral("wink") : QStringLiteral("shut");
    return QStringLiteral("open");
}

// The expectation for one photo: the corpus by its folder (faces-closed shut, every
// other folder open), the portraits open, the face photos by their manifest label.
Expect expectation(const QString &entry, const QString &path)
{
    if (entry == facePhotos) {
        static const QMap<QString, QString> labels = eyeLabels(facePhotos);
        const QString label = labels.value(QFileInfo(path).fileName());
        return label == "shut" ? Expect::shut : label == "open" ? Expect::open : Expect::none;
    }
    return entry == "faces-closed" ? Expect::shut : Expect::open;
}

// A folder of the corpus, or an absolute path (the repository's folders).
QStringList files(const QString &folder)
{
    QDir dir(QDir::isAbsolutePath(folder) ? folder : corpus + "/" + folder);
    QStringList out;
    for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
        out << dir.filePath(name);
    return out;
}

// CPU milliseconds of this thread: on a machine shared with other work, wall time says
// more about the neighbours than about the code.
double threadMs()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// CPU milliseconds of the whole process, for work that libvips spreads over its own threads.
double processMs()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double mean(const QVector<double> &v)
{
    double sum = 0;
    for (double x : v)
        sum += x;
    return v.isEmpty() ? 0 : sum / v.size();
}

double deviation(const QVector<double> &v)
{
    if (v.size() < 2)
        return 0;
    const double m = mean(v);
    double sum = 0;
    for (double x : v)
        sum += (x - m) * (x - m);
    return std::sqrt(sum / (v.size() - 1));
}

double quantile(QVector<double> v, double q)
{
    if (v.isEmpty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min<qsizetype>(v.size() - 1, qsizetype(q * (v.size() - 1) + 0.5))];
}

bool blurry(const ImageMeasures &m)
{
    return m.faceSharpness ? *m.faceSharpness < 10.0f : m.sharpness < 20.0f;
}

QString faceText(const ImageMeasures &m)
{
    QString s;
    for (int i = 0; i < m.eyeOpenness.size(); ++i)
        s += QString::asprintf(" %.3f/%.3f", m.eyeOpenness[i], m.eyeDarkness[i]);
    return s;
}

// Face heights and eye widths in analysis pixels, to see what the landmarks had to work with.
QString faceSizes(FaceEyesDetector &detector, const QImage &image)
{
    QString s;
    const GreyImage grey = GreyImage::fromImage(image);
    for (const DetectedFace &f : detector.detect(image, grey)) {
        if (f.box.height() < FaceRules::minFaceHeight)
            continue;
        s += QString::asprintf(" %.0fpx/eye %.0fpx", f.box.height(),
                               std::min(eyeBox(f.leftEye).width(), eyeBox(f.rightEye).width()));
    }
    return s;
}

// Photos of the manifest with one eye shut and the other open (winks). A face counts
// as shut only when both its eyes are (the more open eye decides), so they are
// expected unflagged and counted apart.
QSet<QString> manifestWinks()
{
    QSet<QString> winks;
    QFile file(corpus + "/manifest.tsv");
    if (!file.open(QIODevice::ReadOnly))
        return winks;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() >= 3 && fields[2].contains("-closed") && fields[2].contains("-open"))
            winks.insert(QString::fromUtf8(fields[0]));
    }
    return winks;
}

void eyes(ImageAnalyzer &analyzer)
{
    const QSet<QString> winks = manifestWinks();
    int winksFlagged = 0;
    std::printf("\n== Closed eyes over every corpus folder (a photo is closed-eyed when it is in faces-closed) ==\n");
    std::printf("%-44s %5s %6s  %s\n", "file", "faces", "closed", "per face openness/darkness");
    int truePos = 0, falsePos = 0, falseNeg = 0, noFace = 0;
    FaceEyesDetector sizer;
    QStringList folders = QDir(corpus).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    folders << portraits << facePhotos;
    QStringList summary;
    for (const QString &entry : folders) {
        const QString folder = folderName(entry);
        const bool eyeFolder = folder.startsWith("faces") || entry == portraits;
        int tp = 0, fp = 0, fn = 0, photos = 0, withEyes = 0, faces = 0, shutPhotos = 0, openPhotos = 0, unlabelled = 0,
            unlabelledFlagged = 0;
        for (const QString &path : files(entry)) {
            const QImage image = load(path, 1280, filter);
            if (image.isNull())
                continue;
            ++photos;
            const ImageMeasures m = analyzer.measure(image);
            const bool flagged = !m.closedFaces.isEmpty();
            if (winks.contains(folder + "/" + QFileInfo(path).fileName())) {
                winksFlagged += flagged;
                std::printf("%-44s %5d %6lld %s   (a wink: one eye open)\n", qPrintable(folder + "/" + QFileInfo(path).fileName()),
                            m.faceCount, qlonglong(m.closedFaces.size()), qPrintable(faceText(m)));
                continue;
            }
            const Expect expect = expectation(entry, path);
            const bool expectClosed = expect == Expect::shut;
            withEyes += !m.eyeOpenness.isEmpty();
            faces += m.faceCount;
            if (m.eyeOpenness.isEmpty() && eyeFolder)
                ++noFace;
            if (expect == Expect::none) {
                ++unlabelled;
                unlabelledFlagged += flagged;
                std::printf("%-44s %5d %6lld %s   (no verdict wanted)\n", qPrintable(folder + "/" + QFileInfo(path).fileName()),
                            m.faceCount, qlonglong(m.closedFaces.size()), qPrintable(faceText(m)));
                continue;
            }
            (expectClosed ? shutPhotos : openPhotos) += 1;
            if (flagged && expectClosed)
                ++tp;
            else if (flagged)
                ++fp;
            else if (expectClosed)
                ++fn;
            if (eyeFolder || flagged != expectClosed)
                std::printf("%-44s %5d %6lld %s%s   [%s ]\n", qPrintable(folder + "/" + QFileInfo(path).fileName()), m.faceCount,
                            qlonglong(m.closedFaces.size()), qPrintable(faceText(m)),
                            flagged != expectClosed ? "   <- wrong" : "", qPrintable(faceSizes(sizer, image)));
        }
        truePos += tp;
        falsePos += fp;
        falseNeg += fn;
        QString verdict;
        if (shutPhotos)
            verdict += QString::asprintf("shut %d of %d flagged (recall %.2f)", tp, shutPhotos, double(tp) / shutPhotos);
        if (openPhotos)
            verdict += QString::asprintf("%sopen %d of %d flagged", verdict.isEmpty() ? "" : "; ", fp, openPhotos);
        if (unlabelled)
            verdict += QString::asprintf("; %d without a verdict wanted, %d of them flagged", unlabelled, unlabelledFlagged);
        summary << QString::asprintf("  %-14s %3d photos, %3d faces, %3d with examined eyes: %s", qPrintable(folder), photos, faces,
                                     withEyes, qPrintable(verdict));
    }
    std::printf("per folder:\n%s\n", qPrintable(summary.join('\n')));
    const double precision = truePos + falsePos ? double(truePos) / (truePos + falsePos) : 1.0;
    const double recall = truePos + falseNeg ? double(truePos) / (truePos + falseNeg) : 0.0;
    std::printf("closed eyes: precision %.3f (%d of %d flagged), recall %.3f (%d of %d photos with both eyes shut); "
                "open-eyed photos flagged: %d; winks flagged: %d of %lld; eye-folder photos without an examined face: %d\n",
                precision, truePos, truePos + falsePos, recall, truePos, truePos + falseNeg, falsePos, winksFlagged,
                qlonglong(winks.size()), noFace);
}

// Every face of a folder's photos that is tall enough and has both eye outlines, with
// the analysis image and its grey image.
void forEachFaceWithEyes(FaceEyesDetector &detector, const QString &folder,
                         const std::function<void(const QString &, const QImage &, const GreyImage &, const DetectedFace &)> &visit)
{
    for (const QString &path : files(folder)) {
        const QImage image = load(path, 1280, filter);
        if (image.isNull())
            continue;
        const GreyImage grey = GreyImage::fromImage(image);
        for (const DetectedFace &f : detector.detect(image, grey)) {
            if (f.box.height() >= FaceRules::minFaceHeight && f.leftEye.size() == 6 && f.rightEye.size() == 6)
                visit(path, image, grey, f);
        }
    }
}

// The eye measures of every judged face of the corpus, with the open-eye cascade's
// answer for each eye (windows passing every stage, and the most stages passed), to
// set their rule by.
void eyeCues()
{
    std::printf("\n== Eye measures per face (larger of the two eyes; cascades: hits/deepest per eye) ==\n"
                "%-12s %-40s %4s  %6s  %6s  %6s  %s\n", "folder", "file", "eye", "open", "dark", "balance",
                "cascade L, R; glasses cascade L, R");
    FaceEyesDetector detector;
    const EyeCascade *cascade = EyeCascade::shared();
    const EyeCascade *glasses = EyeCascade::sharedGlasses();
    const QStringList folders = QDir(corpus).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &folder : folders) {
        forEachFaceWithEyes(detector, folder, [&](const QString &path, const QImage &, const GreyImage &grey, const DetectedFace &f) {
            const double ew = std::min(eyeBox(f.leftEye).width(), eyeBox(f.rightEye).width());
            if (ew < FaceRules::minEyeWidth || (f.yaw && std::abs(*f.yaw) > FaceRules::maxEyeYaw))
                return;
            QString answer;
            if (cascade) {
                const auto l = cascade->respond(grey, f.leftEye), r = cascade->respond(grey, f.rightEye);
                answer = QString::asprintf("%3d/%2d %3d/%2d of %d", l.hits, l.deepest, r.hits, r.deepest, l.windows);
            }
            if (glasses) {
                const auto l = glasses->respond(grey, f.leftEye), r = glasses->respond(grey, f.rightEye);
                answer += QString::asprintf("; %3d/%2d %3d/%2d", l.hits, l.deepest, r.hits, r.deepest);
            }
            std::printf("%-12s %-40s %4.0f  %6.3f  %6.3f  %6.3f  %s\n", qPrintable(folder), qPrintable(QFileInfo(path).fileName()), ew,
                        std::max(eyeOpenRatio(f.leftEye), eyeOpenRatio(f.rightEye)),
                        std::max(eyeDarkFraction(grey, f.leftEye, f.box), eyeDarkFraction(grey, f.rightEye, f.box)),
                        std::max(eyeEdgeBalance(grey, f.leftEye), eyeEdgeBalance(grey, f.rightEye)), qPrintable(answer));
        });
    }
}

// A mid-grey margin around a picture, so that a face filling a small crop still has
// room for the detector's window.
QImage padded(const QImage &image)
{
    const int margin = std::max(image.width(), image.height()) / 2;
    QImage canvas(image.width() + 2 * margin, image.height() + 2 * margin, QImage::Format_RGBA8888_Premultiplied);
    canvas.fill(QColor(128, 128, 128));
    QPainter p(&canvas);
    p.drawImage(margin, margin, image);
    return canvas;
}

struct EyeReading {
    bool found = false;
    double narrow = 0;    // width of the narrower eye outline, pixels
    double wide = 0;      // width of the wider one
    float open = 0;
    float dark = 0;
    std::optional<float> balance; // as judged (absent for eyes too small to read it)
    float rawBalance = 0; // as measured
};

// The eye measures of the face whose box holds centre and is about faceHeight tall.
EyeReading readEyes(FaceEyesDetector &detector, const QImage &image, const QPointF &centre, double faceHeight)
{
    const GreyImage grey = GreyImage::fromImage(image);
    const auto mode = faceHeight >= 90 ? FaceEyesDetector::SmallFaces::skip : FaceEyesDetector::SmallFaces::everywhere;
    for (const DetectedFace &f : detector.detect(image, grey, mode)) {
        if (!f.box.contains(centre) || f.box.height() < 0.6 * faceHeight || f.box.height() > 1.6 * faceHeight)
            continue;
        if (f.leftEye.size() != 6 || f.rightEye.size() != 6)
            continue;
        EyeReading r;
        r.found = true;
        const double a = eyeBox(f.leftEye).width(), b = eyeBox(f.rightEye).width();
        r.narrow = std::min(a, b);
        r.wide = std::max(a, b);
        r.open = std::max(eyeOpenRatio(f.leftEye), eyeOpenRatio(f.rightEye));
        r.dark = std::max(eyeDarkFraction(grey, f.leftEye, f.box), eyeDarkFraction(grey, f.rightEye, f.box));
        r.balance = faceEdgeBalance(grey, f);
        r.rawBalance = std::max(eyeEdgeBalance(grey, f.leftEye), eyeEdgeBalance(grey, f.rightEye));
        return r;
    }
    return {};
}

// How the eye measures scatter as the eye shrinks: every face of the eye folders whose
// eyes are at least 24 px wide is reduced step by step (Lanczos 3, like the analysis
// image) until its eyes are a few pixels wide, and measured again at each step.
void eyeSize()
{
  for (const bool fine : {false, true}) {
    std::printf("\n== Eye measures against eye width (faces reduced with Lanczos 3), landmarks %s ==\n",
                fine ? "on a 2x copy of small faces" : "on the picture itself");
    FaceEyesDetector detector;
    detector.setFineLandmarks(fine);
    const QVector<double> widths = {40, 32, 26, 22, 19, 16, 14, 12, 10, 8, 6};
    for (const QString &folder : {QStringLiteral("faces-open"), QStringLiteral("faces-closed")}) {
        struct Bucket {
            int tried = 0;
            int found = 0;
            int flagged = 0;
            QVector<double> openShift, darkShift, open, dark, balance, measuredWidth;
        };
        QVector<Bucket> buckets(widths.size());
        int references = 0, referencesFlagged = 0;
        forEachFaceWithEyes(detector, folder, [&](const QString &, const QImage &image, const GreyImage &grey, const DetectedFace &f) {
            if (f.yaw && std::abs(*f.yaw) > FaceRules::maxEyeYaw)
                return;
            const double width = std::min(eyeBox(f.leftEye).width(), eyeBox(f.rightEye).width());
            if (width < 24)
                return;
            const float open0 = std::max(eyeOpenRatio(f.leftEye), eyeOpenRatio(f.rightEye));
            const float dark0 = std::max(eyeDarkFraction(grey, f.leftEye, f.box),
                                         eyeDarkFraction(grey, f.rightEye, f.box));
            const std::optional<float> balance0 = faceEdgeBalance(grey, f);
            ++references;
            referencesFlagged += FaceRules::eyesShut(open0, balance0);
            for (int i = 0; i < widths.size(); ++i) {
                if (widths[i] > 0.85 * width)
                    continue;
                const double scale = widths[i] / width;
                const int side = int(std::lround(std::max(image.width(), image.height()) * scale));
                const QImage small = reduce(image, side, filter);
                const double actual = double(small.width()) / image.width();
                const QImage canvas = padded(small);
                const double margin = (canvas.width() - small.width()) / 2.0;
                Bucket &b = buckets[i];
                ++b.tried;
                const EyeReading r = readEyes(detector, canvas, QPointF(margin, margin) + f.box.center() * actual,
                                              f.box.height() * actual);
                if (!r.found)
                    continue;
                ++b.found;
                b.flagged += FaceRules::eyesShut(r.open, r.balance);
                b.balance << r.rawBalance;
                b.openShift << r.open - open0;
                b.darkShift << r.dark - dark0;
                b.open << r.open;
                b.dark << r.dark;
                b.measuredWidth << r.narrow;
            }
        });
        std::printf("%s: %d faces with eyes >= 24 px, %d flagged at full size\n", qPrintable(folder), references,
                    referencesFlagged);
        std::printf("%6s %9s %7s | %-25s | %-25s | %-13s | %s\n", "eye px", "found", "measured", "openness: shift mean/sd, min",
                    "darkness: shift mean/sd, min", "balance: min", "flagged closed");
        for (int i = 0; i < widths.size(); ++i) {
            const Bucket &b = buckets[i];
            std::printf("%6.0f %4d/%-4d %7.1f | %+6.3f %5.3f %6.3f       | %+6.3f %5.3f %6.3f       | %6.3f        | %d of %d\n",
                        widths[i], b.found, b.tried, mean(b.measuredWidth), mean(b.openShift), deviation(b.openShift),
                        b.open.isEmpty() ? 0.0 : *std::min_element(b.open.begin(), b.open.end()), mean(b.darkShift),
                        deviation(b.darkShift), b.dark.isEmpty() ? 0.0 : *std::min_element(b.dark.begin(), b.dark.end()),
                        b.balance.isEmpty() ? 0.0 : *std::min_element(b.balance.begin(), b.balance.end()), b.flagged, b.found);
        }
    }
  }
}

struct BlurCase {
    QString name;
    QImage image;       // reduced by the chosen filter
    QString file;       // the same picture as a file, for the image loader's decode
    bool expectBlurry;
};

// The image loader's analysis image, as the scanner gets it.
QImage loaderImage(const QString &path)
{
    return ImageLoader::shared().makeThumbnail(path, 1280, false, false);
}

void blur(ImageAnalyzer &analyzer)
{
    std::printf("\n== Blur (flagged: face sharpness < 10, or without a face sharpness < 20) ==\n");
    std::printf("left: analysis image by %s; right: ImageLoader::makeThumbnail of the same picture as a file\n",
                filterName(filter));
    std::printf("%-52s %9s %8s %7s | %9s %8s %7s\n", "picture", "sharpness", "face", "flagged", "sharpness", "face",
                "flagged");
    QTemporaryDir temporary;
    QVector<BlurCase> cases;
    for (const QString &path : files("sharp"))
        cases.append({"sharp/" + QFileInfo(path).fileName(), load(path, 1280, filter), path, false});
    for (const QString &path : files("blurry"))
        cases.append({"blurry/" + QFileInfo(path).fileName(), load(path, 1280, filter), path, true});
    // Synthetic series: blur applied to the full-size photo, as a camera would, then
    // reduced like any other file. obama.jpg is an 85 mm f/1.2 portrait: shallow depth
    // of field, sharp face on a smooth background.
    QStringList sources = files("sharp");
    sources << corpus + "/faces-open/obama.jpg" << corpus + "/faces-open/happiness.jpg"
            << corpus + "/bursts/pcb_005.JPG" << corpus + "/exif/Nikon D70.jpg"
            << corpus + "/exif/Kodak PIXPRO FZ201.jpg";
    int serial = 0;
    const auto asFile = [&](const QImage &image) {
        const QString path = temporary.filePath(QString::number(serial++) + ".jpg");
        image.convertToFormat(QImage::Format_RGB888).save(path, "JPEG", 95);
        return path;
    };
    for (const QString &path : sources) {
        const QImage full = loadFull(path);
        if (full.isNull())
            continue;
        const QString base = QFileInfo(path).dir().dirName() + "/" + QFileInfo(path).fileName();
        const double toAnalysis = 1280.0 / std::max(full.width(), full.height());
        cases.append({base + " (original)", reduce(full, 1280, filter), path, false});
        for (double sigma : {1.5, 3.0, 6.6}) {
            const QImage blurred = gaussianBlur(full, sigma);
            cases.append({base + QString::asprintf(" sigma %.1f (%.1f at 1280)", sigma, sigma * std::min(1.0, toAnalysis)),
                          reduce(blurred, 1280, filter), asFile(blurred), sigma * std::min(1.0, toAnalysis) >= 1.0});
        }
        const QImage streaked = motionStreak(full, 18);
        cases.append({base + QString::asprintf(" streak 18 px (%.0f at 1280)", 18 * std::min(1.0, toAnalysis)),
                      reduce(streaked, 1280, filter), asFile(streaked), true});
    }
    int right[2] = {}, total = 0;
    for (const BlurCase &c : cases) {
        if (c.image.isNull())
            continue;
        ++total;
        const ImageMeasures m = analyzer.measure(c.image);
        const ImageMeasures l = analyzer.measure(loaderImage(c.file));
        const bool flagged = blurry(m), flaggedByLoader = blurry(l);
        right[0] += flagged == c.expectBlurry;
        right[1] += flaggedByLoader == c.expectBlurry;
        std::printf("%-52s %9.2f %8s %7s | %9.2f %8s %7s%s\n", qPrintable(c.name), m.sharpness,
                    m.faceSharpness ? qPrintable(QString::asprintf("%.2f", *m.faceSharpness)) : "-",
                    flagged ? "blurry" : "sharp", l.sharpness,
                    l.faceSharpness ? qPrintable(QString::asprintf("%.2f", *l.faceSharpness)) : "-",
                    flaggedByLoader ? "blurry" : "sharp", flagged != flaggedByLoader ? "   <- differ" : "");
    }
    std::printf("as expected: %d of %d (%s), %d of %d (image loader)\n", right[0], total, filterName(filter), right[1],
                total);
    std::printf("(expected: originals sharp; a blur of sigma 1 px or more at the 1280-px scale, and the streak, "
                "blurry)\n");
}

// The analysis image's resampling decides the sharpness scale: the image loader's
// thumbnail decode against libvips' thumbnail (Lanczos 3) on large camera JPEGs, and
// 12 MP crops of the largest ones.
void loaderFilter()
{
    std::printf("\n== Analysis image: ImageLoader::makeThumbnail against vips thumbnail (Lanczos 3), 1280 px ==\n");
    QTemporaryDir temporary;
    QStringList paths;
    for (const char *name : {"exif/Kodak PIXPRO FZ201.jpg", "exif/Canon PowerShot G11.jpg", "exif/Issue 177.jpg",
                             "exif/Nikon D70.jpg", "faces-closed/mixed_eyes.jpg"})
        paths << corpus + "/" + name;
    paths += files("sharp");
    paths += files("blurry");
    // 12 MP (4000 x 3000) crops of the largest camera files, saved at quality 92.
    for (const char *name : {"exif/Kodak PIXPRO FZ201.jpg"}) {
        const QString crop = temporary.filePath(QFileInfo(name).completeBaseName() + " 12MP crop.jpg");
        if (saveJpegCrop(corpus + "/" + name, crop, 4000, 3000, 92))
            paths << crop;
    }
    std::printf("%-40s %11s | %9s %8s | %9s %8s | %6s %6s\n", "file", "size", "vips ms", "sharp", "loader ms", "sharp",
                "ratio", "face r");
    ImageAnalyzer analyzer;
    QVector<double> ratios;
    for (const QString &path : paths) {
        QImage a, b;
        double ta = 1e9, tb = 1e9;
        for (int run = 0; run < 3; ++run) {
            double t = processMs();
            a = load(path, 1280, Filter::lanczos);
            ta = std::min(ta, processMs() - t);
            t = processMs();
            b = loaderImage(path);
            tb = std::min(tb, processMs() - t);
        }
        if (a.isNull() || b.isNull()) {
            std::printf("%-40s  (not decoded)\n", qPrintable(QFileInfo(path).fileName()));
            continue;
        }
        const ImageMeasures ma = analyzer.measure(a), mb = analyzer.measure(b);
        const double ratio = mb.sharpness / std::max(1e-6f, ma.sharpness);
        ratios << ratio;
        std::printf("%-40s %5dx%-5d | %9.1f %8.2f | %9.1f %8.2f | %6.2f %6s\n", qPrintable(QFileInfo(path).fileName()),
                    b.width(), b.height(), ta, ma.sharpness, tb, mb.sharpness, ratio,
                    ma.faceSharpness && mb.faceSharpness
                            ? qPrintable(QString::asprintf("%.2f", *mb.faceSharpness / std::max(1e-6f, *ma.faceSharpness)))
                            : "-");
    }
    std::printf("loader / vips sharpness: mean %.2f, min %.2f, max %.2f (decode ms: process CPU time, best of 3)\n",
                mean(ratios), ratios.isEmpty() ? 0.0 : *std::min_element(ratios.begin(), ratios.end()),
                ratios.isEmpty() ? 0.0 : *std::max_element(ratios.begin(), ratios.end()));
}

void filters()
{
    std::printf("\n== Sharpness by resampling filter of the analysis image ==\n");
    std::printf("%-40s", "picture");
    for (Filter f : {Filter::lanczos, Filter::linear, Filter::nearest})
        std::printf(" %26s", filterName(f));
    std::printf("\n");
    QStringList paths = files("sharp") + files("blurry");
    paths << corpus + "/faces-open/obama.jpg" << corpus + "/bursts/pcb_005.JPG" << corpus + "/bursts/pcb_009.JPG"
          << corpus + "/exif/Nikon D70.jpg" << corpus + "/exif/Kodak PIXPRO FZ201.jpg";
    for (const QString &path : paths) {
        std::printf("%-40s", qPrintable(QFileInfo(path).fileName()));
        for (Filter f : {Filter::lanczos, Filter::linear, Filter::nearest}) {
            const QImage image = load(path, 1280, f);
            std::printf(" %26.2f", gridSharpness(GreyImage::fromImage(image)));
        }
        std::printf("\n");
    }
}

// Places a portrait scaled so that its face is about the wanted height on a photo
// without people, and asks each search strategy for it.
void smallFaces()
{
    std::printf("\n== Small faces: found / placed, by face height in the 1280-px picture ==\n");
    FaceEyesDetector detector;
    const QImage scene = load(corpus + "/sharp/106_NIKON-D3400-35MM_S.JPG", 1280, filter);
    QVector<QPair<QImage, QRectF>> portraits;
    for (const QString &path : files("faces-open")) {
        const QImage image = load(path, 1280, filter);
        const GreyImage grey = GreyImage::fromImage(image);
        const auto faces = detector.findFaces(image, grey, FaceEyesDetector::SmallFaces::skip);
        if (faces.size() == 1 && faces[0].box.height() >= 100)
            portraits.append({image, faces[0].box});
    }
    std::printf("%d portraits with one large face\n", int(portraits.size()));
    std::printf("%8s %10s %10s %10s\n", "height", "skip", "targeted", "everywhere");
    QList<int> heights = {36, 40, 44, 50, 56, 64, 72, 80, 90, 100};
    if (qEnvironmentVariableIsSet("XA_HEIGHTS")) {
        heights.clear();
        for (const QString &h : qEnvironmentVariable("XA_HEIGHTS").split(','))
            heights << h.toInt();
    }
    for (int height : heights) {
        int found[3] = {};
        int placed = 0;
        for (const auto &[portrait, box] : portraits) {
            const double scale = height / box.height();
            const QImage small = portrait.scaled(portrait.size() * scale, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            QImage canvas = scene;
            const QPointF at(500 - box.center().x() * scale, 400 - box.center().y() * scale);
            QPainter p(&canvas);
            p.setClipRect(QRectF(at, small.size()).intersected(QRectF(300, 200, 400, 400)));
            p.drawImage(at, small);
            p.end();
            const QRectF truth(at + box.topLeft() * scale, box.size() * scale);
            const GreyImage grey = GreyImage::fromImage(canvas);
            ++placed;
            int i = 0;
            for (auto mode : {FaceEyesDetector::SmallFaces::skip, FaceEyesDetector::SmallFaces::targeted,
                              FaceEyesDetector::SmallFaces::everywhere}) {
                for (const DetectedFace &f : detector.findFaces(canvas, grey, mode)) {
                    if (truth.contains(f.box.center()) && f.box.height() > truth.height() * 0.6
                            && f.box.height() < truth.height() * 1.6) {
                        ++found[i];
                        break;
                    }
                }
                ++i;
            }
        }
        std::printf("%8d %7d/%-2d %7d/%-2d %7d/%-2d\n", height, found[0], placed, found[1], placed, found[2], placed);
    }
}

void falseFaces()
{
    std::printf("\n== Faces reported on photos without people ==\n");
    FaceEyesDetector detector;
    QStringList paths = files("sharp") + files("blurry") + files("bursts") + files("duplicates") + files("orientation");
    int photos = 0, withFaces = 0;
    for (const QString &path : paths) {
        if (path.contains("one_face") || path.contains("neutral"))
            continue;
        const QImage image = load(path, 1280, filter);
        if (image.isNull())
            continue;
        ++photos;
        const auto faces = detector.findFaces(image, GreyImage::fromImage(image));
        if (faces.isEmpty())
            continue;
        ++withFaces;
        std::printf("%-44s", qPrintable(QFileInfo(path).fileName()));
        for (const DetectedFace &f : faces)
            std::printf(" [%.0fx%.0f score %.2f]", f.box.width(), f.box.height(), f.score);
        std::printf("\n");
    }
    std::printf("%d of %d photos without people report a face\n", withFaces, photos);
}

// Detector scores of real faces (the eye folders), split at the plain detector's 80 px
// window, and every box found on the other folders with its score, to be checked by
// eye (--dump) before a score limit is set: a weak box may well be a real face.
void scores()
{
    std::printf("\n== Detector scores: faces of the eye folders, and every box on the other folders ==\n");
    FaceEyesDetector detector;
    QVector<double> small, large;
    for (const QString &path : files("faces-open") + files("faces-closed")) {
        const QImage image = load(path, 1280, filter);
        if (image.isNull())
            continue;
        for (const DetectedFace &f : detector.findFaces(image, GreyImage::fromImage(image))) {
            if (f.box.height() >= FaceRules::minFaceHeight)
                (f.box.height() < 80 ? small : large) << f.score;
        }
    }
    std::printf("faces >= 80 px (%lld): min %.2f, 5%% %.2f, 10%% %.2f, median %.2f\n", qlonglong(large.size()),
                quantile(large, 0), quantile(large, 0.05), quantile(large, 0.10), quantile(large, 0.5));
    std::printf("faces 40-79 px (%lld): min %.2f, 5%% %.2f, 10%% %.2f, median %.2f\n", qlonglong(small.size()),
                quantile(small, 0), quantile(small, 0.05), quantile(small, 0.10), quantile(small, 0.5));
    int photos = 0;
    for (const QString folder : {"sharp", "blurry", "bursts", "duplicates", "formats", "exif", "raw", "orientation"}) {
        for (const QString &path : files(folder)) {
            const QImage image = load(path, 1280, filter);
            if (image.isNull())
                continue;
            ++photos;
            for (const DetectedFace &f : detector.findFaces(image, GreyImage::fromImage(image))) {
                std::printf("  %-46s %4.0f px at (%4.0f,%4.0f) score %.2f\n",
                            qPrintable(folder + QStringLiteral("/") + QFileInfo(path).fileName()), f.box.height(),
                            f.box.x(), f.box.y(), f.score);
            }
        }
    }
    std::printf("(%d photos of the other folders searched)\n", photos);
}

// Mean CPU milliseconds of this thread per call.
template<typename F>
double millis(int runs, F &&f)
{
    const double start = threadMs();
    for (int i = 0; i < runs; ++i)
        f();
    return (threadMs() - start) / runs;
}

void speed()
{
    std::printf("\n== Speed on a 1280 x 853 picture (CPU ms per call, one thread) ==\n");
    QImage image = load(corpus + "/sharp/106_NIKON-D3400-35MM_S.JPG", 1280, filter);
    image = image.scaled(1280, 853, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // A face of 60 px and one of 160 px, so that every step has work to do.
    const QImage portrait = load(corpus + "/faces-open/obama.jpg", 1280, filter);
    {
        QPainter p(&image);
        p.drawImage(QRectF(100, 100, 250, 310), portrait);
        p.drawImage(QRectF(800, 300, 100, 125), portrait);
    }
    FaceEyesDetector detector;
    GreyImage grey;
    const int runs = 10;
    std::printf("grey image                 %7.2f\n", millis(runs, [&] { grey = GreyImage::fromImage(image); }));
    float s = 0;
    std::printf("gridSharpness              %7.2f\n", millis(runs, [&] { s = gridSharpness(grey); }));
    QVector<DetectedFace> faces;
    for (auto [mode, name] : {std::pair{FaceEyesDetector::SmallFaces::skip, "faces, plain pass only    "},
                              std::pair{FaceEyesDetector::SmallFaces::targeted, "faces, + targeted 2x pass "},
                              std::pair{FaceEyesDetector::SmallFaces::everywhere, "faces, + 2x pass overall  "}}) {
        std::printf("%s %7.2f", name, millis(3, [&] { faces = detector.findFaces(image, grey, mode); }));
        std::printf("  (%d faces)\n", int(faces.size()));
    }
    if (FaceEyesDetector::hasVectorFilters()) {
        // The filtering with AVX2 against dlib's own, interleaved and best of five so
        // that a busy neighbour weighs on both alike.
        double best[2] = {1e9, 1e9};
        for (int round = 0; round < 5; ++round) {
            for (int vector = 0; vector < 2; ++vector) {
                detector.setVectorFilters(vector == 1);
                best[vector] = std::min(best[vector], millis(1, [&] {
                    faces = detector.findFaces(image, grey, FaceEyesDetector::SmallFaces::skip);
                }));
            }
        }
        std::printf("plain pass, dlib's filters  %7.2f\nplain pass, AVX2 filters    %7.2f  (best of 5)\n", best[0],
                    best[1]);
    }
    faces = detector.findFaces(image, grey);
    std::printf("landmarks, %d faces         %7.2f\n", int(faces.size()), millis(runs, [&] {
                    QVector<DetectedFace> copy = faces;
                    detector.placeLandmarks(grey, copy);
                }));
    {
        // The two open-eye cascades on both eyes of the larger face; the second is read
        // only for the few faces whose other cues leave them unsure.
        QVector<DetectedFace> placed = faces;
        detector.placeLandmarks(grey, placed);
        for (const DetectedFace &f : placed) {
            if (f.leftEye.isEmpty() || f.rightEye.isEmpty())
                continue;
            for (auto [cascade, name] : {std::pair{EyeCascade::shared(), "eye cascade, 2 eyes       "},
                                         std::pair{EyeCascade::sharedGlasses(), "glasses cascade, 2 eyes   "}}) {
                if (cascade)
                    std::printf("%s %7.2f  (eyes %.0f px)\n", name, millis(runs, [&] {
                                    (void)cascade->respond(grey, f.leftEye);
                                    (void)cascade->respond(grey, f.rightEye);
                                }), eyeBox(f.leftEye).width());
            }
            break;
        }
    }
    std::printf("feature print              %7.2f\n", millis(runs, [&] { (void)FeaturePrint::compute(image); }));
    if (const auto print = FeaturePrint::compute(image)) {
        const QByteArray bytes = FeaturePrint::encode(*print);
        const auto other = FeaturePrint::compute(image.mirrored(true, false));
        const QByteArray otherBytes = other ? FeaturePrint::encode(*other) : bytes;
        std::printf("feature print distance     %7.2f\n", millis(runs, [&] { (void)FeaturePrint::distance(bytes, otherBytes); }));
    }
    ImageAnalyzer analyzer;
    std::printf("ImageAnalyzer::measure     %7.2f\n", millis(3, [&] { (void)analyzer.measure(image); }));

    // The small-face pass over real photos: what it adds, in this thread's CPU time,
    // and what it finds.
    QStringList paths = files("faces-open") + files("faces-closed") + files("sharp") + files("bursts") + files("exif");
    double cost[3] = {};
    int counted[3] = {}, n = 0, missed = 0;
    double share = 0;
    for (const QString &path : paths) {
        const QImage img = load(path, 1280, filter);
        if (img.isNull() || std::max(img.width(), img.height()) < 1000)
            continue;
        const GreyImage g = GreyImage::fromImage(img);
        int i = 0;
        int found[3] = {};
        const double before = cost[0];
        for (auto mode : {FaceEyesDetector::SmallFaces::skip, FaceEyesDetector::SmallFaces::targeted,
                          FaceEyesDetector::SmallFaces::everywhere}) {
            const double t = threadMs();
            for (const DetectedFace &f : detector.findFaces(img, g, mode))
                found[i] += f.box.height() >= FaceRules::minFaceHeight;
            const double spent = threadMs() - t;
            cost[i] += spent;
            counted[i] += found[i];
            if (mode == FaceEyesDetector::SmallFaces::targeted) {
                share += detector.lastUpsampledShare();
                std::printf("  %-40s plain %6.1f ms, targeted %6.1f ms, 2x search over %4.1f %% of the picture\n",
                            qPrintable(QFileInfo(path).fileName()), cost[0] - before, spent,
                            100 * detector.lastUpsampledShare());
            }
            ++i;
        }
        if (found[1] < found[2]) {
            ++missed;
            std::printf("  targeted pass finds %d of %d faces in %s\n", found[1], found[2],
                        qPrintable(QFileInfo(path).fileName()));
        }
        ++n;
    }
    n = std::max(1, n);
    std::printf("over %d corpus photos of 1000-1280 px (CPU ms per photo): plain %.1f (%d faces), "
                "+ targeted 2x %.1f (%d faces), + 2x everywhere %.1f (%d faces); %d photos where targeted misses\n",
                n, cost[0] / n, counted[0], cost[1] / n, counted[1], cost[2] / n, counted[2], missed);
    std::printf("the targeted pass searched %.1f %% of the picture at 2x on average\n", 100 * share / n);
    (void)s;
}

// Writes each face of a picture, 4x enlarged with its eye outlines drawn, as PNG files
// beside outPrefix: for looking at what the measures saw.
void dumpFaces(const QString &path, const QString &outPrefix)
{
    FaceEyesDetector detector;
    const QImage image = load(path, 1280, filter);
    const GreyImage grey = GreyImage::fromImage(image);
    int n = 0;
    for (const DetectedFace &f : detector.detect(image, grey)) {
        const QRect area = f.box.adjusted(-10, -10, 10, 10).toAlignedRect().intersected(image.rect());
        QImage crop = image.copy(area).scaled(area.size() * 4, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        QPainter p(&crop);
        p.setPen(QPen(Qt::green, 1));
        for (const auto *eye : {&f.leftEye, &f.rightEye})
            for (const QPointF &pt : *eye)
                p.drawEllipse((pt - area.topLeft()) * 4 + QPointF(2, 2), 2, 2);
        p.end();
        const QString out = QString("%1-%2.png").arg(outPrefix).arg(n++);
        crop.save(out);
        std::printf("%s: %.0f px face, score %.2f, open %.3f dark %.3f\n", qPrintable(out), f.box.height(), f.score,
                    std::max(eyeOpenRatio(f.leftEye), eyeOpenRatio(f.rightEye)),
                    std::max(eyeDarkFraction(grey, f.leftEye, f.box), eyeDarkFraction(grey, f.rightEye, f.box)));
    }
}

// What makes a sharp photo score low, on generated fixtures of every corpus photo of
// 600 px and more: flat light, shade, noise, a blurred background (shallow depth of
// field), a small subject on a blurred copy of itself; and what must stay blurry: a
// 2 px Gaussian blur and a 6 px streak at the 1280 scale. Each is judged by the plain
// measures (gridSharpness, detailEnergy of the largest face) and by the stored ones
// (pictureSharpness, faceSharpness), split by the manifest's label of the source.

// Every channel through f(value, x, y).
QImage mapChannels(const QImage &src, const std::function<int(int, int, int)> &f)
{
    QImage out = src.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < out.height(); ++y) {
        QRgb *p = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            p[x] = qRgb(std::clamp(f(qRed(p[x]), x, y), 0, 255), std::clamp(f(qGreen(p[x]), x, y + 100000), 0, 255),
                        std::clamp(f(qBlue(p[x]), x, y + 200000), 0, 255));
    }
    return out.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
}

QImage flatLight(const QImage &i, double share)
{
    return mapChannels(i, [share](int v, int, int) { return int(std::lround(128 + (v - 128) * share)); });
}

QImage shade(const QImage &i)
{
    // Two stops under, through an sRGB-like curve.
    return mapChannels(i, [](int v, int, int) { return int(255 * std::pow(std::pow(v / 255.0, 2.2) * 0.25, 1 / 2.2)); });
}

QImage noisy(const QImage &i, double sigma)
{
    return mapChannels(i, [sigma](int v, int x, int y) { return int(std::lround(v + noiseAt(x, y, sigma))); });
}


void sharpFixtures()
{
    std::printf("\n== Sharpness fixtures: flagged by the plain measures -> by the stored ones ==\n");
    FaceEyesDetector detector;
    const QMap<QString, QString> labels = manifestBlurLabels(corpus, UncertainLabel::taken);
    const QStringList fixtures = {"original", "flat 35%", "flat 20%", "shade -2 EV", "noise 6", "background blur",
                                  "small subject", "blur 2 px", "streak 6 px"};
    // [label][fixture] = {photos, flagged plain, flagged stored}
    QMap<QString, QVector<std::array<int, 3>>> counts;
    const bool verbose = qEnvironmentVariableIsSet("XA_VERBOSE");
    for (const QString &folder : QDir(corpus).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        for (const QString &path : files(folder)) {
            const QImage image = load(path, 1280, filter);
            if (image.isNull() || std::max(image.width(), image.height()) < 600)
                continue;
            const QString name = folder + "/" + QFileInfo(path).fileName();
            const QString label = labels.value(name, "unlabelled");
            auto &row = counts[label];
            row.resize(fixtures.size());
            const GreyImage grey = GreyImage::fromImage(image);
            const QVector<DetectedFace> faces = detector.detect(image, grey);
            // Shallow depth of field: everything but the main faces (or the middle ninth) blurred.
            QImage background = gaussianBlur(image, 5).convertToFormat(QImage::Format_RGBA8888_Premultiplied);
            {
                QPainter p(&background);
                QVector<QRectF> keep;
                const double tallest = tallestFace(faces);
                for (const DetectedFace &f : faces)
                    if (isMainFace(f.box, tallest))
                        keep << f.box.adjusted(-0.3 * f.box.width(), -0.3 * f.box.height(), 0.3 * f.box.width(), 0.3 * f.box.height());
                if (keep.isEmpty())
                    keep << QRectF(image.width() / 3.0, image.height() / 3.0, image.width() / 3.0, image.height() / 3.0);
                for (const QRectF &k : keep)
                    p.drawImage(k.topLeft(), image.copy(k.toRect()));
            }
            // A small subject: the photo at 30 % on a blurred copy of itself.
            QImage small = gaussianBlur(image, 6).convertToFormat(QImage::Format_RGBA8888_Premultiplied);
            QVector<DetectedFace> smallFaces;
            {
                QPainter p(&small);
                p.drawImage(QPointF(image.width() * 0.35, image.height() * 0.35),
                            image.scaled(image.size() * 0.3, Qt::KeepAspectRatio, Qt::SmoothTransformation));
                for (DetectedFace f : faces) {
                    f.box = QRectF(image.width() * 0.35 + f.box.x() * 0.3, image.height() * 0.35 + f.box.y() * 0.3,
                                   f.box.width() * 0.3, f.box.height() * 0.3);
                    smallFaces << f;
                }
            }
            const QVector<QImage> images = {image, flatLight(image, 0.35), flatLight(image, 0.2), shade(image),
                                            noisy(image, 6), background, small, gaussianBlur(image, 2.0),
                                            motionStreak(image, 6)};
            for (int k = 0; k < fixtures.size(); ++k) {
                // The faces found on the original stand for the fixture's: the edits move nothing.
                const GreyImage g = GreyImage::fromImage(images[k]);
                const QVector<DetectedFace> &fs = k == 6 ? smallFaces : faces;
                double tallest = -1;
                std::optional<float> plainFace;
                for (const DetectedFace &f : fs) {
                    const QRectF b = f.box;
                    if (b.height() < FaceRules::minFaceHeight || b.height() <= tallest)
                        continue;
                    tallest = b.height();
                    plainFace = detailEnergy(g, b.adjusted(0.12 * b.width(), 0.12 * b.height(), -0.12 * b.width(), -0.12 * b.height()));
                }
                const std::optional<float> storedFace = faceSharpness(g, fs);
                const float plain = gridSharpness(g), stored = pictureSharpness(g);
                const bool before = plainFace ? *plainFace < 10.0f : plain < 20.0f;
                const bool after = storedFace ? *storedFace < 10.0f : stored < 20.0f;
                row[k][0] += 1;
                row[k][1] += before;
                row[k][2] += after;
                if (verbose || before != after)
                    std::printf("  %-46s %-16s grid %8.2f -> %8.2f  face %8s -> %8s  %s -> %s\n", qPrintable(name.left(46)),
                                qPrintable(fixtures[k]), plain, stored,
                                plainFace ? qPrintable(QString::asprintf("%.2f", *plainFace)) : "-",
                                storedFace ? qPrintable(QString::asprintf("%.2f", *storedFace)) : "-",
                                before ? "blurry" : "sharp", after ? "blurry" : "sharp");
            }
        }
    }
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        std::printf("sources labelled %s (%d photos): flagged, plain -> stored\n", qPrintable(it.key()), it.value()[0][0]);
        for (int k = 0; k < fixtures.size(); ++k)
            std::printf("  %-16s %3d -> %3d\n", qPrintable(fixtures[k]), it.value()[k][1], it.value()[k][2]);
    }
}

// The folders a dump reads: EYEDUMP_FOLDERS (comma-separated) when set, else `defaults`.
QStringList dumpFolders(const QStringList &defaults)
{
    return qEnvironmentVariableIsSet("EYEDUMP_FOLDERS") ? qEnvironmentVariable("EYEDUMP_FOLDERS").split(',') : defaults;
}

// Face sharpness study: every main face of the face folders, in edits sharp photos meet
// and in blurs that must stay flagged, with the faces of the original standing for the
// edit's. Tab-separated: folder, file, face height, eye width, edit, the stored face
// sharpness, and the eyes' region read the same way (the box around both eye outlines,
// a third of an eye width wider on every side). EYEDUMP_FOLDERS (comma-separated)
// replaces the folders.
void faceSharpDump()
{
    FaceEyesDetector detector;
    const QStringList edits = {"original", "flat35", "flat20", "shade", "noise6", "gauss1.5", "gauss2", "streak6", "streak10"};
    for (const QString &folder : dumpFolders({"faces-open", "faces-closed", portraits, facePhotos, "exif", "bursts",
                                              "duplicates", "blurry", "sharp"})) {
        for (const QString &path : files(folder)) {
            const QImage image = load(path, 1280, filter);
            if (image.isNull())
                continue;
            const GreyImage grey0 = GreyImage::fromImage(image);
            const QVector<DetectedFace> faces = detector.detect(image, grey0);
            const double tallest = tallestFace(faces);
            const QVector<QImage> images = {image, flatLight(image, 0.35), flatLight(image, 0.2), shade(image), noisy(image, 6),
                                            gaussianBlur(image, 1.5), gaussianBlur(image, 2.0), motionStreak(image, 6), motionStreak(image, 10)};
            for (int k = 0; k < images.size(); ++k) {
                const GreyImage g = GreyImage::fromImage(images[k].convertToFormat(QImage::Format_RGBA8888_Premultiplied));
                for (const DetectedFace &f : faces) {
                    const QRectF b = f.box.normalized();
                    if (!isMainFace(b, tallest))
                        continue;
                    const QRectF inner = b.adjusted(0.12 * b.width(), 0.12 * b.height(), -0.12 * b.width(), -0.12 * b.height());
                    const float face = detailEnergy(g, inner) * contrastGain(g, inner, ContrastGain::faceReference);
                    float eyes = -1, ew = -1;
                    if (!f.leftEye.isEmpty() && !f.rightEye.isEmpty()) {
                        const QRectF l = eyeBox(f.leftEye), r = eyeBox(f.rightEye);
                        ew = float(std::max(l.width(), r.width()));
                        const QRectF both = l.united(r).adjusted(-ew / 3, -ew / 3, ew / 3, ew / 3);
                        eyes = detailEnergy(g, both) * contrastGain(g, both, ContrastGain::faceReference);
                    }
                    std::printf("%s\t%s\t%.0f\t%.1f\t%s\t%.2f\t%.2f\n", qPrintable(folderName(folder)),
                                qPrintable(QFileInfo(path).fileName()), b.height(), ew, qPrintable(edits[k]), face, eyes);
                }
            }
        }
    }
}

// The edits unseen photos make for us, under which the eye cues are judged: a short
// name for the dumps' rows and a label for the printed tables.
struct EyeEdit {
    const char *name;
    const char *label;
    std::function<QImage(const QImage &)> make;
};
const QVector<EyeEdit> &eyeEdits()
{
    static const QVector<EyeEdit> edits = {
        {"original", "original", [](const QImage &i) { return i; }},
        {"shade", "shade -2 EV", [](const QImage &i) { return shade(i); }},
        {"flat", "flat 50%", [](const QImage &i) { return flatLight(i, 0.5); }},
        {"noise", "noise 6", [](const QImage &i) { return noisy(i, 6); }},
        {"blur", "blur 1 px", [](const QImage &i) { return gaussianBlur(i, 1.0); }},
        {"s60", "scaled 60%", [](const QImage &i) { return i.scaled(i.size() * 0.6, Qt::KeepAspectRatio, Qt::SmoothTransformation); }},
        {"s35", "scaled 35%", [](const QImage &i) { return i.scaled(i.size() * 0.35, Qt::KeepAspectRatio, Qt::SmoothTransformation); }},
    };
    return edits;
}

// Faces of the sizes between the two scales above, where eyes of 16 to 24 px (too small
// for the outline's edge balance) are most common, alone and with the other edits. No
// model was trained on these; the eyesmall section judges them.
QImage scaled(const QImage &i, double s)
{
    return i.scaled(i.size() * s, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

QImage jpegAgain(const QImage &i, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    i.save(&buffer, "JPEG", quality);
    return QImage::fromData(bytes, "JPEG");
}

const QVector<EyeEdit> &smallEyeEdits()
{
    static const QVector<EyeEdit> edits = {
        {"s40", "scaled 40%", [](const QImage &i) { return scaled(i, 0.40); }},
        {"s45", "scaled 45%", [](const QImage &i) { return scaled(i, 0.45); }},
        {"s50", "scaled 50%", [](const QImage &i) { return scaled(i, 0.50); }},
        {"s55", "scaled 55%", [](const QImage &i) { return scaled(i, 0.55); }},
        {"s45shade", "45% shade", [](const QImage &i) { return shade(scaled(i, 0.45)); }},
        {"s45flat", "45% flat", [](const QImage &i) { return flatLight(scaled(i, 0.45), 0.5); }},
        {"s45noise", "45% noise", [](const QImage &i) { return noisy(scaled(i, 0.45), 6); }},
        {"s45blur", "45% blur", [](const QImage &i) { return gaussianBlur(scaled(i, 0.45), 1.0); }},
        {"s50jpeg", "50% JPEG q60", [](const QImage &i) { return jpegAgain(scaled(i, 0.5), 60); }},
    };
    return edits;
}

// Black-and-white photos: the picture's own grey (the analysis' luma) in every channel,
// so the eyes' colour has nothing to read, alone and with the edits above.
QImage monochrome(const QImage &i)
{
    const QImage rgba = i.convertToFormat(QImage::Format_RGBA8888);
    const GreyImage grey = GreyImage::fromImage(rgba);
    QImage out(rgba.size(), QImage::Format_RGBA8888);
    for (int y = 0; y < out.height(); ++y) {
        uchar *row = out.scanLine(y);
        for (int x = 0; x < out.width(); ++x) {
            const uchar g = grey.pixels[size_t(y) * grey.width + x];
            row[4 * x] = row[4 * x + 1] = row[4 * x + 2] = g;
            row[4 * x + 3] = 255;
        }
    }
    return out;
}

// Black and white toned brown, as photo editors' sepia does: the classic sepia matrix's
// proportions of red, green and blue applied to the grey.
QImage sepia(const QImage &i)
{
    QImage out = monochrome(i);
    for (int y = 0; y < out.height(); ++y) {
        uchar *row = out.scanLine(y);
        for (int x = 0; x < out.width(); ++x) {
            const double g = row[4 * x];
            row[4 * x + 1] = uchar(std::lround(g * 0.89));
            row[4 * x + 2] = uchar(std::lround(g * 0.69));
        }
    }
    return out;
}

const QVector<EyeEdit> &monoEyeEdits()
{
    static const QVector<EyeEdit> edits = {
        {"mono", "mono", [](const QImage &i) { return monochrome(i); }},
        {"monoshade", "mono shade", [](const QImage &i) { return monochrome(shade(i)); }},
        {"monoflat", "mono flat", [](const QImage &i) { return monochrome(flatLight(i, 0.5)); }},
        {"mononoise", "mono noise", [](const QImage &i) { return noisy(monochrome(i), 6); }},
        {"monos60", "mono 60%", [](const QImage &i) { return monochrome(scaled(i, 0.6)); }},
        {"sepia", "sepia", [](const QImage &i) { return sepia(i); }},
        {"sepias60", "sepia 60%", [](const QImage &i) { return sepia(scaled(i, 0.6)); }},
    };
    return edits;
}

// Faces judged again on a larger decode: every photo of the eye folders reduced to
// `share` of its size stands for the analysis picture of a larger photo, and the photo
// itself (at most 1280 px) for that photo's larger decode. Counts the photos flagged as
// closed-eyed, by the manifest's label, with the analysis picture alone, with the faces
// whose eyes are too small to judge (under 16 px) judged again, and with those whose
// eyes are under 24 px judged again too. Each photo is also read in the edits of
// eyestress that keep its size (shade, flat light, noise, blur, black and white).
void eyeLarger()
{
    const double share = qEnvironmentVariableIsSet("XA_SHARE") ? qEnvironmentVariable("XA_SHARE").toDouble() : 0.5;
    // The larger decode's size over the analysis picture's (the photo itself when unset).
    const double decodeScale = qEnvironmentVariableIsSet("XL_SCALE") ? qEnvironmentVariable("XL_SCALE").toDouble() : 0;
    std::printf("\n== Faces judged again on a larger decode (analysis picture at %.2f of the photo, decode %s) ==\n",
                share, decodeScale > 0 ? qPrintable(QString::number(decodeScale) + " times that") : "the photo");
    ImageAnalyzer analyzer;
    const QSet<QString> winks = manifestWinks();
    const QVector<QPair<QString, std::function<QImage(const QImage &)>>> edits = {
        {"original", [](const QImage &i) { return i; }},
        {"shade", [](const QImage &i) { return shade(i); }},
        {"flat", [](const QImage &i) { return flatLight(i, 0.35); }},
        {"noise", [](const QImage &i) { return noisy(i, 6); }},
        {"blur", [](const QImage &i) { return gaussianBlur(i, 1.0); }},
        {"mono", [](const QImage &i) { return monochrome(i); }},
    };
    // [edit][shut?][alone, small judged again, narrow judged again]
    QVector<std::array<std::array<int, 4>, 2>> counts(edits.size());
    for (const QString &folder : {QString("faces-open"), QString("faces-closed"), portraits, facePhotos}) {
        for (const QString &path : files(folder)) {
            const QString name = folderName(folder) + "/" + QFileInfo(path).fileName();
            const Expect expect = expectation(folder, path);
            if (expect == Expect::none || winks.contains(name))
                continue;
            if (qEnvironmentVariableIsSet("XA_ONLY") && !name.contains(qEnvironmentVariable("XA_ONLY")))
                continue;
            const QImage photo = load(path, 1280, filter);
            if (photo.isNull())
                continue;
            for (int e = 0; e < edits.size(); ++e) {
                const QImage edited = edits[e].second(photo).convertToFormat(QImage::Format_RGBA8888_Premultiplied);
                const QImage analysis = edited.scaled(edited.size() * share, Qt::KeepAspectRatio, Qt::SmoothTransformation);
                const QImage larger = decodeScale > 0 && share * decodeScale < 1
                    ? edited.scaled(edited.size() * (share * decodeScale), Qt::KeepAspectRatio, Qt::SmoothTransformation)
                    : edited;
                const ImageMeasures alone = analyzer.measure(analysis);
                ImageMeasures small = alone;
                small.smallEyeFaces.removeIf([](const ImageMeasures::SmallEyeFace &f) { return f.eyeIndex >= 0; });
                analyzer.judgeSmallFaces(larger, small);
                ImageMeasures narrow = alone;
                analyzer.judgeSmallFaces(larger, narrow);
                auto &row = counts[e][expect == Expect::shut];
                row[0] += 1;
                row[1] += !alone.closedFaces.isEmpty();
                row[2] += !small.closedFaces.isEmpty();
                row[3] += !narrow.closedFaces.isEmpty();
                const bool openFlagged = expect == Expect::open
                    && !(alone.closedFaces.isEmpty() && small.closedFaces.isEmpty() && narrow.closedFaces.isEmpty());
                if (small.closedFaces.isEmpty() != narrow.closedFaces.isEmpty() || openFlagged)
                    std::printf("  %-40s %-8s %s: %s -> %s -> %s\n", qPrintable(name), qPrintable(edits[e].first),
                                expect == Expect::shut ? "shut" : "open", alone.closedFaces.isEmpty() ? "open" : "shut",
                                small.closedFaces.isEmpty() ? "open" : "shut", narrow.closedFaces.isEmpty() ? "open" : "shut");
            }
        }
    }
    std::printf("%-9s %28s %28s\n", "edit", "shut: photos / flagged", "open: photos / flagged");
    for (int e = 0; e < edits.size(); ++e)
        std::printf("%-9s %6d / %4d -> %4d -> %4d %6d / %4d -> %4d -> %4d\n", qPrintable(edits[e].first), counts[e][1][0],
                    counts[e][1][1], counts[e][1][2], counts[e][1][3], counts[e][0][0], counts[e][0][1], counts[e][0][2],
                    counts[e][0][3]);
}

// Open and shut faces under what unseen photos do to them (shade, flat light, noise,
// smaller faces), with the rule that called each face shut.
void eyeStress(const QVector<EyeEdit> &variants)
{
    FaceEyesDetector detector;
    const EyeCascade *cascade = EyeCascade::shared();
    for (const QString &entry : {QStringLiteral("faces-open"), QStringLiteral("faces-closed"), QStringLiteral("exif"),
                                 QStringLiteral("bursts"), QStringLiteral("duplicates"), portraits, facePhotos}) {
        const QString folder = folderName(entry);
        // Per edit: photos with judged eyes and those flagged, apart for the shut and
        // the open ones (a folder of the corpus holds one kind).
        QVector<int> flagged(variants.size()), judged(variants.size());
        QVector<int> openFlagged(variants.size()), openJudged(variants.size());
        for (const QString &path : files(entry)) {
            const Expect expect = expectation(entry, path);
            if (expect == Expect::none)
                continue;
            const bool closedFolder = expect == Expect::shut;
            const QImage image = load(path, 1280, filter);
            if (image.isNull())
                continue;
            for (int v = 0; v < variants.size(); ++v) {
                const QImage im = variants[v].make(image).convertToFormat(QImage::Format_RGBA8888_Premultiplied);
                const GreyImage grey = GreyImage::fromImage(im);
                const auto faces = detector.detect(im, grey);
                ImageMeasures m;
                judgeFaces(grey, faces, m, cascade, EyeCascade::sharedGlasses(), &im);
                if (m.eyeOpenness.isEmpty())
                    continue;
                ++(closedFolder ? judged : openJudged)[v];
                if (!m.closedFaces.isEmpty())
                    ++(closedFolder ? flagged : openFlagged)[v];
                if (m.closedFaces.isEmpty() != closedFolder)
                    continue;
                for (const DetectedFace &f : faces) {
                    const double ew = std::min(eyeBox(f.leftEye).width(), eyeBox(f.rightEye).width());
                    if (f.box.height() < FaceRules::minFaceHeight || f.leftEye.isEmpty() || ew < FaceRules::minEyeWidth)
                        continue;
                    const float open = std::max(eyeOpenRatio(f.leftEye), eyeOpenRatio(f.rightEye));
                    const float dark = std::max(eyeDarkFraction(grey, f.leftEye, f.box), eyeDarkFraction(grey, f.rightEye, f.box));
                    const auto bal = faceEdgeBalance(grey, f);
                    const EyeCascade::Response l = cascade->respond(grey, f.leftEye), r = cascade->respond(grey, f.rightEye);
                    const int hits = std::max(l.hits, r.hits);
                    const double drop = l.hits + r.hits ? (l.hits * l.hitDrop + r.hits * r.hitDrop) / (l.hits + r.hits) : 0.0;
                    const EyeCascade *glasses = EyeCascade::sharedGlasses();
                    const int glassesHits = std::max(glasses->respond(grey, f.leftEye).hits, glasses->respond(grey, f.rightEye).hits);
                    const std::optional<float> tone = faceSkinTone(im, f);
                    ImageMeasures alone;
                    judgeFaces(grey, {f}, alone, cascade, glasses, &im);
                    std::printf("  %-10s %-12s %-36s eye %3.0f open %.3f dark %.3f bal %s hits %3d drop %+.2f glasses %3d "
                                "tone %s -> %s\n",
                                variants[v].label, qPrintable(folder), qPrintable(QFileInfo(path).fileName().left(36)), ew, open,
                                dark, bal ? qPrintable(QString::asprintf("%.3f", *bal)) : "  -  ", hits, drop, glassesHits,
                                tone ? qPrintable(QString::asprintf("%.2f", *tone)) : "  - ",
                                alone.closedFaces.isEmpty() ? "open" : "SHUT");
                }
            }
        }
        for (int v = 0; v < variants.size(); ++v) {
            if (judged[v] || entry == "faces-closed")
                std::printf("%-12s %-10s shut: flagged %2d of %2d photos with judged eyes\n", qPrintable(folder),
                            variants[v].label, flagged[v], judged[v]);
            if (openJudged[v] || entry != "faces-closed")
                std::printf("%-12s %-10s open: flagged %2d of %2d photos with judged eyes\n", qPrintable(folder),
                            variants[v].label, openFlagged[v], openJudged[v]);
        }
    }
}

// Photometric cues of an open eye that were measured and not adopted (see the closed-eye
// notes in docs/), read on a lattice around the landmark eye (cells of a sixteenth of its
// width): the iris as a dark disc with brighter white on both sides of it along the row,
// the darkest middle of the rows just above the centre line against their sides, and
// the height of the dark band through the disc. A shut eye's lash line is dark in the
// middle and curves up to lighter corners, which both contrasts take for an iris.
struct IrisReading {
    float disc = 0;         // best (flank mean - disc mean) / flank mean
    float rowContrast = 0;  // best (brighter side - middle) / side over the upper rows
    float band = 0;         // height of the dark band through the best disc, over the eye's width
};

IrisReading irisReading(const GreyImage &grey, const QVector<QPointF> &eye)
{
    IrisReading out;
    const QRectF box = eyeBox(eye);
    if (eye.size() < 4 || !(box.width() > 0))
        return out;
    double cy = 0;
    for (const QPointF &p : eye)
        cy += p.y();
    cy /= eye.size();
    const double w = box.width(), cx = box.center().x(), s = w / 16;
    constexpr int C = 25, R = 13;
    float L[R][C];
    for (int j = 0; j < R; ++j)
        for (int i = 0; i < C; ++i)
            L[j][i] = grey.areaMean(cx + (i - 12) * s, cy + (j - 6) * s, s, 4);
    float best = -1e9f;
    int bi = 12, bj = 6;
    double br = 3;
    for (const double r : {2.5, 3.0, 3.5, 4.0}) {
        for (int ci = 7; ci <= 17; ++ci) {
            for (int cj = 4; cj <= 8; ++cj) {
                double d = 0, fl = 0, fr = 0;
                int nd = 0, nl = 0, nr = 0;
                for (int j = 0; j < R; ++j) {
                    for (int i = 0; i < C; ++i) {
                        const double dx = i - ci, dy = j - cj;
                        if (dx * dx + dy * dy <= r * r) {
                            d += L[j][i];
                            ++nd;
                        } else if (std::abs(dy) <= 0.5 * r && std::abs(dx) >= 1.3 * r && std::abs(dx) <= 2 * r) {
                            (dx < 0 ? fl : fr) += L[j][i];
                            ++(dx < 0 ? nl : nr);
                        }
                    }
                }
                if (!nd || !nl || !nr)
                    continue;
                d /= nd;
                fl /= nl;
                fr /= nr;
                const double f = (fl + fr) / 2;
                const float c = float((f - d) / std::max(1.0, f));
                if (c > best) {
                    best = c;
                    bi = ci;
                    bj = cj;
                    br = r;
                }
            }
        }
    }
    out.disc = best;
    // The dark band: rows of the three columns through the disc's centre darker than
    // halfway between the darkest of them and the flanks' mean.
    float p[R];
    for (int j = 0; j < R; ++j)
        p[j] = (L[j][bi - 1] + L[j][bi] + L[j][bi + 1]) / 3;
    int jm = bj;
    for (int j = std::max(0, bj - 3); j <= std::min(R - 1, bj + 3); ++j)
        if (p[j] < p[jm])
            jm = j;
    double ref = 0;
    int nref = 0;
    for (int j = 0; j < R; ++j)
        for (int i = 0; i < C; ++i)
            if (std::abs(j - bj) <= 0.5 * br && std::abs(i - bi) >= 1.3 * br && std::abs(i - bi) <= 2 * br) {
                ref += L[j][i];
                ++nref;
            }
    ref = nref ? ref / nref : p[jm];
    const double half = p[jm] + 0.5 * (ref - p[jm]);
    int top = jm, bottom = jm;
    while (top > 0 && p[top - 1] < half)
        --top;
    while (bottom < R - 1 && p[bottom + 1] < half)
        ++bottom;
    out.band = float((bottom - top + 1) / 16.0);
    // Rows from a fifth of the width above the centre line down to it: the darkest
    // middle against the sides inside the eye's corners.
    auto upper = [&](int j0, int j1) {
        float bestUpper = -1e9f;
        for (const int h : {2, 3}) {
            for (int ci = 8; ci <= 16; ++ci) {
                double m = 0, sl = 0, sr = 0;
                int nm = 0, nl = 0, nr = 0;
                for (int j = j0; j <= j1; ++j) {
                    for (int i = 5; i <= 19; ++i) {
                        const int dx = i - ci;
                        if (std::abs(dx) <= h) {
                            m += L[j][i];
                            ++nm;
                        } else if (std::abs(dx) <= h + 3) {
                            (dx < 0 ? sl : sr) += L[j][i];
                            ++(dx < 0 ? nl : nr);
                        }
                    }
                }
                if (!nm || (!nl && !nr))
                    continue;
                m /= nm;
                const double side = nl && nr ? std::max(sl / nl, sr / nr) : nl ? sl / nl : sr / nr;
                bestUpper = std::max(bestUpper, float((side - m) / std::max(1.0, side)));
            }
        }
        return bestUpper;
    };
    out.rowContrast = upper(3, 6);
    return out;
}

// Every judged face (as judgeFaces picks them) of the folders' photos, original and
// edited as in eyestress, handed to `visit` with the edit's name, the folder, the
// photo's path, the edited picture and its grey image, the face's index in the
// detector's answer and the narrower eye's width. EYEDUMP_FOLDERS (comma-separated)
// replaces `folders`; EYEDUMP_ORIGINAL (set) leaves out the edits.
void forEachJudgedFace(FaceEyesDetector &detector, const QStringList &folders,
                       const std::function<void(const char *variant, const QString &folder, const QString &path,
                                                const QImage &image, const GreyImage &grey, const DetectedFace &face,
                                                int index, double eyeWidth)> &visit)
{
    const QVector<EyeEdit> &variants = eyeEdits();
    const QStringList chosen = dumpFolders(folders);
    const bool onlyOriginal = qEnvironmentVariableIsSet("EYEDUMP_ORIGINAL");
    for (const QString &folder : chosen) {
        for (const QString &path : files(folder)) {
            const QImage image = load(path, 1280, filter);
            if (image.isNull())
                continue;
            for (int v = 0; v < (onlyOriginal ? 1 : variants.size()); ++v) {
                const QImage im = variants[v].make(image).convertToFormat(QImage::Format_RGBA8888_Premultiplied);
                const GreyImage grey = GreyImage::fromImage(im);
                const auto faces = detector.detect(im, grey);
                const double tallest = tallestFace(faces);
                int index = 0;
                for (const DetectedFace &f : faces) {
                    ++index;
                    if (!isMainFace(f.box, tallest))
                        continue;
                    if ((f.yaw && std::abs(*f.yaw) > FaceRules::maxEyeYaw) || f.leftEye.isEmpty() || f.rightEye.isEmpty())
                        continue;
                    const double ew = std::min(eyeBox(f.leftEye).width(), eyeBox(f.rightEye).width());
                    if (ew < FaceRules::minEyeWidth)
                        continue;
                    visit(variants[v].name, folder, path, im, grey, f, index, ew);
                }
            }
        }
    }
}

// Every judged face of the face folders (as judgeFaces picks them), original and
// edited as in eyestress, with every eye cue per eye, as tab-separated lines to study
// rules on: variant, folder, file, face, face height, narrower eye width, then per eye
// openness, darkness, edge balance, the hits of the eye cascade, of the glasses
// cascade, of the left-eye and right-eye locator cascades, and the three IrisReading cues.
// EYEDUMP_FOLDERS (comma-separated) and EYEDUMP_ORIGINAL (set: no edits) narrow it.
void eyeDump()
{
    FaceEyesDetector detector;
    const EyeCascade *cascade = EyeCascade::shared();
    const QString dir = QStringLiteral("/usr/share/opencv4/haarcascades/");
    const auto glasses = EyeCascade::load(dir + "haarcascade_eye_tree_eyeglasses.xml");
    const auto left2 = EyeCascade::load(dir + "haarcascade_lefteye_2splits.xml");
    const auto right2 = EyeCascade::load(dir + "haarcascade_righteye_2splits.xml");
    std::fprintf(stderr, "cascades: eye %d glasses %d left %d right %d\n", cascade ? cascade->stageCount() : -1,
                 glasses ? glasses->stageCount() : -1, left2 ? left2->stageCount() : -1, right2 ? right2->stageCount() : -1);
    forEachJudgedFace(detector, {"faces-open", "faces-closed", "exif", "bursts", "duplicates", portraits, facePhotos},
                      [&](const char *variant, const QString &folder, const QString &path, const QImage &,
                          const GreyImage &grey, const DetectedFace &f, int index, double ew) {
        QString line = QString::asprintf("%s\t%s\t%s\t%d\t%.1f\t%.1f", variant, qPrintable(folderName(folder)),
                                         qPrintable(QFileInfo(path).fileName()), index, f.box.height(), ew);
        for (const auto *eye : {&f.leftEye, &f.rightEye}) {
            const IrisReading iris = irisReading(grey, *eye);
            line += QString::asprintf("\t%.4f\t%.4f\t%.4f\t%d\t%d\t%d\t%d\t%.4f\t%.4f\t%.4f", eyeOpenRatio(*eye),
                                      eyeDarkFraction(grey, *eye, f.box), eyeEdgeBalance(grey, *eye),
                                      cascade ? cascade->respond(grey, *eye).hits : -1,
                                      glasses ? glasses->respond(grey, *eye).hits : -1,
                                      left2 ? left2->respond(grey, *eye).hits : -1,
                                      right2 ? right2->respond(grey, *eye).hits : -1, iris.disc, iris.rowContrast, iris.band);
        }
        std::printf("%s\n", qPrintable(line));
    });
}

// Colour readings of one eye for study: luma-weighted chroma, sum(R - B) and sum(R - G)
// over sum(R + G + B), in a band through the eye's middle and inside its outline,
// against the cheek below it; and the share of the band's pixels that are white-like
// (chroma under half the cheek's, not darker than half of it).
struct ColourReading {
    float cheekRB = 0, cheekRG = 0, cheekLuma = 0;
    float bandRB = 0, bandRG = 0, polyRB = 0, polyRG = 0, white = 0;
    float lowestRB = 0, mostWhite = 0;   // over bands from 0.08 above to 0.32 below the centre line
};

ColourReading colourReading(const QImage &image, const QVector<QPointF> &eye)
{
    ColourReading out;
    const QRectF box = eyeBox(eye);
    if (eye.size() < 4 || !(box.width() > 0))
        return out;
    double cy = 0;
    for (const QPointF &p : eye)
        cy += p.y();
    cy /= eye.size();
    const double w = box.width();
    const auto sums = [&](double x0, double x1, double y0, double y1, const std::function<bool(double, double)> &inside,
                          double &rb, double &rg, double &luma, int &n) {
        double srb = 0, srg = 0, sum = 0;
        n = 0;
        for (int y = std::max(0, int(std::floor(y0))); y < std::min(image.height(), int(std::ceil(y1))); ++y) {
            const uchar *line = image.constScanLine(y);
            for (int x = std::max(0, int(std::floor(x0))); x < std::min(image.width(), int(std::ceil(x1))); ++x) {
                if (inside && !inside(x + 0.5, y + 0.5))
                    continue;
                const uchar *px = line + 4 * x;
                srb += px[0] - px[2];
                srg += px[0] - px[1];
                sum += px[0] + px[1] + px[2];
                ++n;
            }
        }
        rb = sum > 0 ? srb / sum : 0;
        rg = sum > 0 ? srg / sum : 0;
        luma = n ? sum / (3.0 * n) : 0;
    };
    double rb, rg, luma;
    int n;
    const double x0 = box.left() + 0.2 * w, x1 = box.right() - 0.2 * w;
    sums(x0, x1, cy + 0.5 * w, cy + 0.8 * w, {}, rb, rg, luma, n);
    out.cheekRB = float(rb);
    out.cheekRG = float(rg);
    out.cheekLuma = float(luma);
    sums(x0, x1, cy - 0.08 * w, cy + 0.08 * w, {}, rb, rg, luma, n);
    out.bandRB = float(rb);
    out.bandRG = float(rg);
    const auto inPoly = [&](double px, double py) {
        bool in = false;
        for (int i = 0, j = int(eye.size()) - 1; i < eye.size(); j = i++) {
            if ((eye[i].y() > py) != (eye[j].y() > py)
                && px < (eye[j].x() - eye[i].x()) * (py - eye[i].y()) / (eye[j].y() - eye[i].y()) + eye[i].x())
                in = !in;
        }
        return in;
    };
    sums(box.left(), box.right(), box.top(), box.bottom() + 1, inPoly, rb, rg, luma, n);
    out.polyRB = n >= 4 ? float(rb) : out.bandRB;
    out.polyRG = n >= 4 ? float(rg) : out.bandRG;
    int white = 0, total = 0;
    for (int y = std::max(0, int(cy - 0.08 * w)); y < std::min(image.height(), int(std::ceil(cy + 0.08 * w))); ++y) {
        const uchar *line = image.constScanLine(y);
        for (int x = std::max(0, int(x0)); x < std::min(image.width(), int(std::ceil(x1))); ++x) {
            const uchar *px = line + 4 * x;
            const double s = px[0] + px[1] + px[2];
            ++total;
            if (s / 3 >= 0.5 * out.cheekLuma && s > 0 && (px[0] - px[2]) / s < 0.5 * out.cheekRB)
                ++white;
        }
    }
    out.white = total ? float(white) / total : 0;
    out.lowestRB = out.bandRB;
    out.mostWhite = out.white;
    for (double off = -0.08; off <= 0.321; off += 0.04) {
        sums(x0, x1, cy + (off - 0.08) * w, cy + (off + 0.08) * w, {}, rb, rg, luma, n);
        out.lowestRB = std::min(out.lowestRB, float(rb));
        int wh = 0, tot = 0;
        for (int y = std::max(0, int(cy + (off - 0.08) * w)); y < std::min(image.height(), int(std::ceil(cy + (off + 0.08) * w))); ++y) {
            const uchar *line = image.constScanLine(y);
            for (int x = std::max(0, int(x0)); x < std::min(image.width(), int(std::ceil(x1))); ++x) {
                const uchar *px = line + 4 * x;
                const double s = px[0] + px[1] + px[2];
                ++tot;
                if (s / 3 >= 0.5 * out.cheekLuma && s > 0 && (px[0] - px[2]) / s < 0.5 * out.cheekRB)
                    ++wh;
            }
        }
        out.mostWhite = std::max(out.mostWhite, tot ? float(wh) / tot : 0.0f);
    }
    return out;
}

// Every judged face of the face folders, original and edited as in eyestress, with the
// rule's inputs per face and the colour readings per eye, tab-separated: variant, folder,
// file, face, eye width, openness, darkness, balance (-1 when not read), hits, glasses
// hits, the verdict of eyesShut alone (before the vetoes), then per eye cheek R-B, R-G,
// luma, band R-B, R-G, outline R-B, R-G, white, lowest band R-B, most white, then per
// eye of the first cascade and per eye of the glasses cascade: hits and hitDrop, then
// the face's eyeSkinTone (-9 when absent) and the judged verdict (judgeFaces).
// EYEDUMP_FOLDERS and EYEDUMP_ORIGINAL narrow it as for eyedump.
void eyeColour()
{
    FaceEyesDetector detector;
    const EyeCascade *cascade = EyeCascade::shared();
    const EyeCascade *glasses = EyeCascade::sharedGlasses();
    forEachJudgedFace(detector, {"faces-open", "faces-closed", "exif", "bursts", "duplicates"},
                      [&](const char *variant, const QString &folder, const QString &path, const QImage &im,
                          const GreyImage &grey, const DetectedFace &f, int index, double ew) {
        const float open = std::max(eyeOpenRatio(f.leftEye), eyeOpenRatio(f.rightEye));
        const float dark = std::max(eyeDarkFraction(grey, f.leftEye, f.box), eyeDarkFraction(grey, f.rightEye, f.box));
        const auto bal = faceEdgeBalance(grey, f);
        const EyeCascade::Response rl = cascade->respond(grey, f.leftEye), rr = cascade->respond(grey, f.rightEye);
        const EyeCascade::Response gl = glasses->respond(grey, f.leftEye), gr = glasses->respond(grey, f.rightEye);
        const int hits = std::max(rl.hits, rr.hits);
        const int gh = std::max(gl.hits, gr.hits);
        QString line = QString::asprintf("%s\t%s\t%s\t%d\t%.1f\t%.4f\t%.4f\t%.4f\t%d\t%d\t%d", variant,
                                         qPrintable(folder), qPrintable(QFileInfo(path).fileName()), index, ew,
                                         open, dark, bal ? *bal : -1.0f, hits, gh,
                                         int(FaceRules::eyesShut(open, bal, hits)));
        for (const auto *eye : {&f.leftEye, &f.rightEye}) {
            const ColourReading c = colourReading(im, *eye);
            line += QString::asprintf("\t%.4f\t%.4f\t%.1f\t%.4f\t%.4f\t%.4f\t%.4f\t%.4f\t%.4f\t%.4f", c.cheekRB,
                                      c.cheekRG, c.cheekLuma, c.bandRB, c.bandRG, c.polyRB, c.polyRG, c.white,
                                      c.lowestRB, c.mostWhite);
        }
        for (const auto *r : {&rl, &rr, &gl, &gr})
            line += QString::asprintf("\t%d\t%.3f", r->hits, r->hitDrop);
        ImageMeasures alone;
        judgeFaces(grey, {f}, alone, cascade, glasses, &im);
        line += QString::asprintf("\t%.4f\t%d", faceSkinTone(im, f).value_or(-9.0f), int(!alone.closedFaces.isEmpty()));
        std::printf("%s\n", qPrintable(line));
    });
}

// What the closed-eye verdict reads of one face, for the dumps below: the eyes' openness,
// darkness and balance, both cascades' answers, what surrounds the eyes, and the verdict
// of judgeFaces on the face alone.
struct RuleInputs {
    float open = 0, openMin = 0, dark = 0;
    std::optional<float> balance;
    float anyBalance = -1;  // the balance read whatever the eyes' width, -1 when absent
    int hits = 0, glassesHits = 0;
    double drop = 0;        // the first cascade's hit-weighted drop over both eyes
    float tone = -9;        // faceSkinTone, -9 when absent
    bool shut = false;
    FaceSurroundings around;
};

RuleInputs ruleInputs(const EyeCascade *cascade, const EyeCascade *glasses, const QImage &im, const GreyImage &grey,
                      const DetectedFace &f)
{
    RuleInputs in;
    in.open = std::max(eyeOpenRatio(f.leftEye), eyeOpenRatio(f.rightEye));
    in.openMin = std::min(eyeOpenRatio(f.leftEye), eyeOpenRatio(f.rightEye));
    in.dark = std::max(eyeDarkFraction(grey, f.leftEye, f.box), eyeDarkFraction(grey, f.rightEye, f.box));
    in.balance = faceEdgeBalance(grey, f);
    in.anyBalance = in.balance ? *in.balance : smallEyeEdgeBalance(grey, f).value_or(-1.0f);
    const EyeCascade::Response rl = cascade->respond(grey, f.leftEye), rr = cascade->respond(grey, f.rightEye);
    in.hits = std::max(rl.hits, rr.hits);
    in.glassesHits = std::max(glasses->respond(grey, f.leftEye).hits, glasses->respond(grey, f.rightEye).hits);
    const int both = rl.hits + rr.hits;
    in.drop = both ? (rl.hits * rl.hitDrop + rr.hits * rr.hitDrop) / both : 0.0;
    in.tone = faceSkinTone(im, f).value_or(-9.0f);
    ImageMeasures alone;
    judgeFaces(grey, {f}, alone, cascade, glasses, &im);
    in.shut = !alone.closedFaces.isEmpty();
    in.around = faceSurroundings(grey, f);
    return in;
}

// Every judged face of the face folders and the corpus' photo folders, as
// forEachJudgedFace hands them over, with its rule inputs.
void forEachRuleInputs(const std::function<void(const char *variant, const QString &folder, const QString &path,
                                                const GreyImage &grey, const DetectedFace &face, int index,
                                                double eyeWidth, const RuleInputs &in)> &visit)
{
    FaceEyesDetector detector;
    const EyeCascade *cascade = EyeCascade::shared();
    const EyeCascade *glasses = EyeCascade::sharedGlasses();
    forEachJudgedFace(detector, {"faces-open", "faces-closed", "exif", "bursts", "duplicates", portraits, facePhotos},
                      [&](const char *variant, const QString &folder, const QString &path, const QImage &im,
                          const GreyImage &grey, const DetectedFace &f, int index, double ew) {
        visit(variant, folder, path, grey, f, index, ew, ruleInputs(cascade, glasses, im, grey, f));
    });
}

// Every judged face with what surrounds its eyes (faceSurroundings) beside the eye cues
// the rule reads, for study. Tab-separated: variant, folder, file, label, face, eye
// width, openness (larger, smaller), balance (-1 when not read), darkness, hits of the
// eye and the glasses cascade, tone (-9 when absent), the first cascade's drop, the
// verdict (judgeFaces), mouth width, bridge ridge, crease step (-1 when absent), plain,
// the balance read whatever the eyes' width, the larger eyeCheekGrey (-1 when absent).
// EYEDUMP_FOLDERS and EYEDUMP_ORIGINAL narrow it as for eyedump.
void eyeContext()
{
    forEachRuleInputs([](const char *variant, const QString &folder, const QString &path, const GreyImage &grey,
                         const DetectedFace &f, int index, double ew, const RuleInputs &in) {
        const float cheekGrey = std::max(eyeCheekGrey(grey, f.leftEye).value_or(-1.0f),
                                         eyeCheekGrey(grey, f.rightEye).value_or(-1.0f));
        std::printf("%s\t%s\t%s\t%s\t%d\t%.1f\t%.4f\t%.4f\t%.4f\t%.4f\t%d\t%d\t%.4f\t%.3f\t%d\t%.4f\t%.4f\t%.4f\t%d\t%.4f\t%.4f\n",
                    variant, qPrintable(folderName(folder)), qPrintable(QFileInfo(path).fileName()),
                    qPrintable(manifestLabel(folder, path)), index, ew, in.open, in.openMin, in.balance.value_or(-1.0f),
                    in.dark, in.hits, in.glassesHits, in.tone, in.drop, int(in.shut), in.around.mouthWidth.value_or(-1.0f),
                    in.around.bridgeRidge.value_or(-1.0f), in.around.creaseStep.value_or(-1.0f), int(in.around.plain()),
                    in.anyBalance, cheekGrey);
    });
}

// Where the cascades find an eye beside the outline: every judged face with its verdict
// (judgeFaces) and label, then the hits of the eye and the glasses cascade
// (hitsBesideTheOutlines) with both outlines moved -0.9, -0.6, -0.3, 0, 0.3, 0.6 and 0.9
// of their width down the face. Tab-separated: variant, folder, file, face, narrower eye
// width, verdict, label, then the pairs. EYEDUMP_FOLDERS and EYEDUMP_ORIGINAL narrow it
// as for eyedump.
void eyeShift()
{
    const EyeCascade *cascade = EyeCascade::shared();
    const EyeCascade *glasses = EyeCascade::sharedGlasses();
    forEachRuleInputs([&](const char *variant, const QString &folder, const QString &path, const GreyImage &grey,
                          const DetectedFace &f, int index, double ew, const RuleInputs &in) {
        std::printf("%s\t%s\t%s\t%d\t%.1f\t%d\t%s", variant, qPrintable(folderName(folder)),
                    qPrintable(QFileInfo(path).fileName()), index, ew, int(in.shut),
                    qPrintable(manifestLabel(folder, path)));
        for (const double shift : {-0.9, -0.6, -0.3, 0.0, 0.3, 0.6, 0.9})
            std::printf("\t%d\t%d", hitsBesideTheOutlines(*cascade, grey, f, shift),
                        hitsBesideTheOutlines(*glasses, grey, f, shift));
        std::printf("\n");
    });
}

// Every judged face with what the verdict reads, for judging the rule on any folder of
// faces (a public face set, say, through EYEDUMP_FOLDERS): variant, folder, file, face,
// narrower eye width, openness (larger, smaller), the balance read whatever the eyes'
// width, the hits of the eye and the glasses cascade, tone (-9 when absent), the first
// cascade's drop, the verdict (judgeFaces), plain, mouth width, bridge ridge, crease step
// (-1 when absent), the patch model's score (-99 when not read), face height, label.
// EYEDUMP_FOLDERS and EYEDUMP_ORIGINAL narrow it as for eyedump.
void eyeWhy()
{
    forEachRuleInputs([](const char *variant, const QString &folder, const QString &path, const GreyImage &grey,
                         const DetectedFace &f, int index, double ew, const RuleInputs &in) {
        std::printf("%s\t%s\t%s\t%d\t%.1f\t%.4f\t%.4f\t%.4f\t%d\t%d\t%.4f\t%.3f\t%d\t%d\t%.3f\t%.3f\t%.3f\t%.3f\t%.3f\t%s\n",
                    variant, qPrintable(folderName(folder)), qPrintable(QFileInfo(path).fileName()), index, ew, in.open,
                    in.openMin, in.anyBalance, in.hits, in.glassesHits, in.tone, in.drop, int(in.shut),
                    int(in.around.plain()), in.around.mouthWidth.value_or(-1.0f), in.around.bridgeRidge.value_or(-1.0f),
                    in.around.creaseStep.value_or(-1.0f), EyePatch::faceShutScore(grey, f).value_or(-99.0f),
                    f.box.height(), qPrintable(manifestLabel(folder, path)));
    });
}

// Every judged face in black and white (the edits of eyestress made grey), with what the
// colourless path reads, tab-separated: variant, folder, file, label, face, plain, the
// patch model's score (-99 when not read), the verdict, then each eye's eyeCheekGrey
// (-1 when absent).
void eyeGrey()
{
    FaceEyesDetector detector;
    forEachJudgedFace(detector, {"faces-open", "faces-closed", "exif", "bursts", "duplicates", portraits, facePhotos},
                      [&](const char *variant, const QString &folder, const QString &path, const QImage &colour,
                          const GreyImage &grey, const DetectedFace &f, int index, double) {
        const QImage im = monochrome(colour).convertToFormat(QImage::Format_RGBA8888_Premultiplied);
        ImageMeasures alone;
        judgeFaces(grey, {f}, alone, EyeCascade::shared(), EyeCascade::sharedGlasses(), &im);
        std::printf("%s\t%s\t%s\t%s\t%d\t%d\t%.3f\t%d\t%.3f\t%.3f\n", variant, qPrintable(folderName(folder)),
                    qPrintable(QFileInfo(path).fileName()), qPrintable(manifestLabel(folder, path)), index,
                    int(faceSurroundings(grey, f).plain()), EyePatch::faceShutScore(grey, f).value_or(-99.0f),
                    int(!alone.closedFaces.isEmpty()), eyeCheekGrey(grey, f.leftEye).value_or(-1.0f),
                    eyeCheekGrey(grey, f.rightEye).value_or(-1.0f));
    });
}

// Every judged face's two eye patches (EyePatch::sample), original and edited as in
// eyestress, for training and checking the patch model
// (scripts/train-eye-patch-model.py). Tab-separated: variant, folder, file, label, face,
// eye (0 left, 1 right), the eye's width, then the samples row by row. A face either of
// whose patches cannot be read is left out. EYEDUMP_FOLDERS and EYEDUMP_ORIGINAL narrow
// it as for eyedump.
void eyePatch()
{
    FaceEyesDetector detector;
    forEachJudgedFace(detector, {"faces-open", "faces-closed", "exif", "bursts", "duplicates", portraits, facePhotos},
                      [&](const char *variant, const QString &folder, const QString &path, const QImage &,
                          const GreyImage &grey, const DetectedFace &f, int index, double) {
        const QString name = QFileInfo(path).fileName();
        const QString label = manifestLabel(folder, path);
        const std::vector<float> patches[2] = {EyePatch::sample(grey, f, false), EyePatch::sample(grey, f, true)};
        if (patches[0].empty() || patches[1].empty())
            return;
        for (int e = 0; e < 2; ++e) {
            const QVector<QPointF> &eye = e ? f.rightEye : f.leftEye;
            std::printf("%s\t%s\t%s\t%s\t%d\t%d\t%.1f", variant, qPrintable(folderName(folder)), qPrintable(name),
                        qPrintable(label), index, e, std::hypot(eye[3].x() - eye[0].x(), eye[3].y() - eye[0].y()));
            for (const float g : patches[e])
                std::printf("\t%.2f", g);
            std::printf("\n");
        }
    });
}

// What judging the faces costs per photo, in this thread's CPU time, on the faces the
// detector found: judgeFaces as it runs (the cascades searched only where their answer
// can change the verdict), without any cascade, and the first cascade's search of both
// eyes of every judged face, which it once always made.
void eyeCost()
{
    std::printf("\n== Judging the faces (CPU ms per photo with judged faces, one thread) ==\n");
    FaceEyesDetector detector;
    const EyeCascade *cascade = EyeCascade::shared();
    // Loaded before any timing: the first search would otherwise pay for reading it.
    (void)EyeCascade::sharedGlasses();
    for (const QString folder : {"faces-open", "faces-closed"}) {
        double judged = 0, colourless = 0, bare = 0, everyFace = 0, toneMs = 0;
        int photos = 0, toneFaces = 0;
        for (const QString &path : files(folder)) {
            const QImage image = load(path, 1280, filter);
            if (image.isNull())
                continue;
            const GreyImage grey = GreyImage::fromImage(image);
            const QVector<DetectedFace> faces = detector.detect(image, grey);
            ImageMeasures m;
            judgeFaces(grey, faces, m, nullptr, nullptr);
            if (m.eyeOpenness.isEmpty())
                continue;
            ++photos;
            // Alternating, so that neither gains from the other's warm caches.
            constexpr int runs = 3;
            double t = 0;
            for (int i = 0; i < runs; ++i) {
                t = threadMs();
                judgeFaces(grey, faces, m, &image);
                judged += (threadMs() - t) / runs;
                t = threadMs();
                judgeFaces(grey, faces, m);
                colourless += (threadMs() - t) / runs;
            }
            t = threadMs();
            for (int i = 0; i < runs; ++i)
                judgeFaces(grey, faces, m, nullptr, nullptr);
            bare += (threadMs() - t) / runs;
            t = threadMs();
            for (int i = 0; i < runs; ++i) {
                for (const DetectedFace &f : faces) {
                    if (f.box.height() >= FaceRules::minFaceHeight && !f.leftEye.isEmpty() && !f.rightEye.isEmpty()
                        && std::min(eyeBox(f.leftEye).width(), eyeBox(f.rightEye).width()) >= FaceRules::minEyeWidth) {
                        (void)cascade->respond(grey, f.leftEye);
                        (void)cascade->respond(grey, f.rightEye);
                    }
                }
            }
            everyFace += (threadMs() - t) / runs;
            // The eyes' colour of every judged face, many times over: it costs microseconds.
            constexpr int toneRuns = 200;
            t = threadMs();
            float sink = 0;
            for (int i = 0; i < toneRuns; ++i) {
                for (const DetectedFace &f : faces) {
                    if (f.box.height() >= FaceRules::minFaceHeight && !f.leftEye.isEmpty() && !f.rightEye.isEmpty()
                        && std::min(eyeBox(f.leftEye).width(), eyeBox(f.rightEye).width()) >= FaceRules::minEyeWidth) {
                        sink += faceSkinTone(image, f).value_or(0);
                        toneFaces += i == 0;
                    }
                }
            }
            toneMs += (threadMs() - t) / toneRuns;
            if (sink == -1)
                std::printf(" ");
        }
        photos = std::max(1, photos);
        std::printf("%-12s %2d photos: judgeFaces %.2f ms (without the eyes' colour %.2f ms); without cascades %.2f ms; "
                    "the first cascade on every judged face %.2f ms; the eyes' colour %.1f us per face (%d faces)\n",
                    qPrintable(QString(folder)), photos, judged / photos, colourless / photos, bare / photos,
                    everyFace / photos, 1000 * toneMs / std::max(1, toneFaces), toneFaces);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    initVips(argv[0]);
    QString section;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--filter" && i + 1 < args.size()) {
            if (!parseFilter(args[++i], filter)) {
                std::fprintf(stderr, "unknown filter %s\n", qPrintable(args[i]));
                return 2;
            }
        } else if (args[i] == "--corpus" && i + 1 < args.size()) {
            corpus = args[++i];
        } else if (args[i] == "--dump" && i + 2 < args.size()) {
            dumpFaces(args[i + 1], args[i + 2]);
            return 0;
        } else if (args[i] == "--section" && i + 1 < args.size()) {
            section = args[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--filter lanczos|linear|nearest] [--corpus DIR] [--section NAME]\n", argv[0]);
            return 2;
        }
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    ImageAnalyzer analyzer;
    if (section == "sharpfixtures")
        sharpFixtures();
    if (section == "eyestress")
        eyeStress(eyeEdits());
    if (section == "eyesmall")
        eyeStress(smallEyeEdits());
    if (section == "eyemono")
        eyeStress(monoEyeEdits());
    if (section == "eyegrey")
        eyeGrey();
    if (section == "eyecues")
        eyeCues();
    if (section == "eyedump")
        eyeDump();
    if (section == "eyecost")
        eyeCost();
    if (section == "eyecolour")
        eyeColour();
    if (section == "eyepatch")
        eyePatch();
    if (section == "eyeshift")
        eyeShift();
    if (section == "eyewhy")
        eyeWhy();
    if (section == "eyecontext")
        eyeContext();
    if (section == "facesharpdump")
        faceSharpDump();
    if (section == "eyelarger")
        eyeLarger();
    if (section.isEmpty() || section == "eyes")
        eyes(analyzer);
    if (section.isEmpty() || section == "eyesize")
        eyeSize();
    if (section.isEmpty() || section == "blur")
        blur(analyzer);
    if (section.isEmpty() || section == "loader")
        loaderFilter();
    if (section.isEmpty() || section == "filters")
        filters();
    if (section.isEmpty() || section == "smallfaces")
        smallFaces();
    if (section.isEmpty() || section == "falsefaces")
        falseFaces();
    if (section.isEmpty() || section == "scores")
        scores();
    if (section.isEmpty() || section == "speed")
        speed();
    return 0;
}
