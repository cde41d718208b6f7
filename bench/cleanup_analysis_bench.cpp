// Accuracy and speed of the per-photo cleanup measures over the shared corpus:
// closed eyes, blur (real and synthetic), small faces, false faces, and the cost of
// each step on a 1280 x 853 picture.
//
//   cleanup_analysis_bench [--filter lanczos|linear|nearest] [--corpus DIR] [--section NAME]
//
// Sections: eyes, blur, filters, smallfaces, falsefaces, speed (default: all).
#include "BenchAnalysisImage.h"

#include "cleanup/FaceEyes.h"
#include "cleanup/FaceEyesDetector.h"
#include "cleanup/FeaturePrint.h"
#include "cleanup/ImageMeasures.h"
#include "cleanup/SharpnessMeasures.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>

#include <cstdio>

using namespace BenchAnalysisImage;

namespace {

QString corpus = QStringLiteral(GLANTO_CORPUS_DIR);
Filter filter = Filter::lanczos;

QStringList files(const QString &folder)
{
    QDir dir(corpus + "/" + folder);
    QStringList out;
    for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
        out << dir.filePath(name);
    return out;
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

void eyes(ImageAnalyzer &analyzer)
{
    std::printf("\n== Closed eyes (rule: open < 0.19, or open < 0.36 and dark < 0.14) ==\n");
    std::printf("%-44s %5s %6s  %s\n", "file", "faces", "closed", "per face openness/darkness");
    int truePos = 0, falsePos = 0, falseNeg = 0, trueNeg = 0, noFace = 0;
    FaceEyesDetector sizer;
    for (const QString &folder : {QStringLiteral("faces-open"), QStringLiteral("faces-closed")}) {
        const bool expectClosed = folder == "faces-closed";
        for (const QString &path : files(folder)) {
            const QImage image = load(path, 1280, filter);
            if (image.isNull())
                continue;
            const ImageMeasures m = analyzer.measure(image);
            const bool flagged = !m.closedFaces.isEmpty();
            if (m.eyeOpenness.isEmpty())
                ++noFace;
            if (flagged && expectClosed)
                ++truePos;
            else if (flagged)
                ++falsePos;
            else if (expectClosed)
                ++falseNeg;
            else
                ++trueNeg;
            std::printf("%-44s %5d %6lld %s%s   [%s ]\n", qPrintable(folder + "/" + QFileInfo(path).fileName()), m.faceCount,
                        qlonglong(m.closedFaces.size()), qPrintable(faceText(m)),
                        flagged != expectClosed ? "   <- wrong" : "", qPrintable(faceSizes(sizer, image)));
        }
    }
    const double precision = truePos + falsePos ? double(truePos) / (truePos + falsePos) : 1.0;
    const double recall = truePos + falseNeg ? double(truePos) / (truePos + falseNeg) : 0.0;
    std::printf("closed eyes: precision %.3f (%d of %d flagged), recall %.3f (%d of %d closed-eyed photos); "
                "open-eyed photos flagged: %d; photos without an examined face: %d\n",
                precision, truePos, truePos + falsePos, recall, truePos, truePos + falseNeg, falsePos, noFace);
}

struct BlurCase {
    QString name;
    QImage image;
    bool expectBlurry;
};

void blur(ImageAnalyzer &analyzer)
{
    std::printf("\n== Blur (flagged: face sharpness < 10, or without a face sharpness < 20), filter: %s ==\n",
                filterName(filter));
    std::printf("%-52s %9s %9s %7s\n", "picture", "sharpness", "face", "flagged");
    QVector<BlurCase> cases;
    for (const QString &path : files("sharp"))
        cases.append({"sharp/" + QFileInfo(path).fileName(), load(path, 1280, filter), false});
    for (const QString &path : files("blurry"))
        cases.append({"blurry/" + QFileInfo(path).fileName(), load(path, 1280, filter), true});
    // Synthetic series: blur applied to the full-size photo, as a camera would, then
    // reduced like any other file. obama.jpg is an 85 mm f/1.2 portrait: shallow depth
    // of field, sharp face on a smooth background.
    QStringList sources = files("sharp");
    sources << corpus + "/faces-open/obama.jpg" << corpus + "/faces-open/happiness.jpg"
            << corpus + "/bursts/pcb_005.JPG" << corpus + "/exif/Nikon D70.jpg";
    for (const QString &path : sources) {
        const QImage full = loadFull(path);
        if (full.isNull())
            continue;
        const QString base = QFileInfo(path).dir().dirName() + "/" + QFileInfo(path).fileName();
        const double toAnalysis = 1280.0 / std::max(full.width(), full.height());
        cases.append({base + " (original)", reduce(full, 1280, filter), false});
        for (double sigma : {1.5, 3.0, 6.6}) {
            cases.append({base + QString::asprintf(" sigma %.1f (%.1f at 1280)", sigma, sigma * std::min(1.0, toAnalysis)),
                          reduce(gaussianBlur(full, sigma), 1280, filter), sigma >= 3.0});
        }
        cases.append({base + QString::asprintf(" streak 18 px (%.0f at 1280)", 18 * std::min(1.0, toAnalysis)),
                      reduce(motionStreak(full, 18), 1280, filter), true});
    }
    int right = 0;
    for (const BlurCase &c : cases) {
        if (c.image.isNull())
            continue;
        const ImageMeasures m = analyzer.measure(c.image);
        const bool flagged = blurry(m);
        right += flagged == c.expectBlurry;
        std::printf("%-52s %9.2f %9s %7s\n", qPrintable(c.name), m.sharpness,
                    m.faceSharpness ? qPrintable(QString::asprintf("%.2f", *m.faceSharpness)) : "-",
                    flagged ? "blurry" : "sharp");
    }
    std::printf("(sigma 1.5 at full size is at most 1 px at 1280 and counts as sharp here)\n");
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
    for (int height : {36, 40, 44, 50, 56, 64, 72, 80, 90, 100}) {
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

template<typename F>
double millis(int runs, F &&f)
{
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < runs; ++i)
        f();
    return timer.nsecsElapsed() / 1e6 / runs;
}

void speed()
{
    std::printf("\n== Speed on a 1280 x 853 picture (ms per call, one thread) ==\n");
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
    faces = detector.findFaces(image, grey);
    std::printf("landmarks, %d faces         %7.2f\n", int(faces.size()), millis(runs, [&] {
                    QVector<DetectedFace> copy = faces;
                    detector.placeLandmarks(grey, copy);
                }));
    std::printf("feature print              %7.2f\n", millis(runs, [&] { (void)FeaturePrint::compute(image); }));
    ImageAnalyzer analyzer;
    std::printf("ImageAnalyzer::measure     %7.2f\n", millis(3, [&] { (void)analyzer.measure(image); }));

    // The targeted pass over real photos: what it adds on average.
    QStringList paths = files("faces-open") + files("sharp") + files("bursts") + files("exif");
    double plain = 0, targeted = 0;
    int n = 0;
    for (const QString &path : paths) {
        const QImage img = load(path, 1280, filter);
        if (img.isNull() || std::max(img.width(), img.height()) < 1000)
            continue;
        const GreyImage g = GreyImage::fromImage(img);
        plain += millis(1, [&] { detector.findFaces(img, g, FaceEyesDetector::SmallFaces::skip); });
        targeted += millis(1, [&] { detector.findFaces(img, g, FaceEyesDetector::SmallFaces::targeted); });
        ++n;
    }
    std::printf("over %d corpus photos of 1000-1280 px: plain pass %.1f ms, with targeted 2x pass %.1f ms (mean)\n",
                n, plain / std::max(1, n), targeted / std::max(1, n));
    (void)s;
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
        } else if (args[i] == "--section" && i + 1 < args.size()) {
            section = args[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--filter lanczos|linear|nearest] [--corpus DIR] [--section NAME]\n", argv[0]);
            return 2;
        }
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    ImageAnalyzer analyzer;
    if (section.isEmpty() || section == "eyes")
        eyes(analyzer);
    if (section.isEmpty() || section == "blur")
        blur(analyzer);
    if (section.isEmpty() || section == "filters")
        filters();
    if (section.isEmpty() || section == "smallfaces")
        smallFaces();
    if (section.isEmpty() || section == "falsefaces")
        falseFaces();
    if (section.isEmpty() || section == "speed")
        speed();
    return 0;
}
