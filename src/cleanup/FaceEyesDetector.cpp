// The only file that includes dlib: its headers cost about 13 s of compile time.
#include "FaceEyesDetector.h"

#include <QDebug>
#include <QFile>

#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/image_processing/shape_predictor.h>
#include <dlib/serialize.h>

#include <algorithm>
#include <cmath>
#include <exception>

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

bool isSkin(const uchar *p)
{
    const int r = p[0], g = p[1], b = p[2];
    // YCbCr box of Chai and Ngan, scaled by 256 to stay in integers.
    const int y = 77 * r + 150 * g + 29 * b;
    const int cb = 128 * 256 - 43 * r - 85 * g + 128 * b;
    const int cr = 128 * 256 + 128 * r - 107 * g - 21 * b;
    return y >= 25 * 256 && cb >= 77 * 256 && cb <= 127 * 256 && cr >= 133 * 256 && cr <= 173 * 256;
}

// Side of the tiles that the skin test votes on, and the margin added around a tile
// so that a face of up to about 80 pixels centred anywhere in it is wholly inside.
constexpr int tileSize = 160;
constexpr int tileMargin = 48;
// A 40-pixel face shows several hundred skin pixels; sampled every 4th pixel in both
// directions that is some 50 samples. A quarter of it may fall into one tile.
constexpr int minSkinSamples = 12;

// Regions worth an upsampled search: runs of tiles that hold skin-coloured pixels
// outside the faces already found. A picture without colour gets the whole frame.
QVector<QRect> smallFaceRegions(const QImage &image, const QVector<DetectedFace> &found)
{
    const int W = image.width();
    const int H = image.height();
    const int cols = (W + tileSize - 1) / tileSize;
    const int rows = (H + tileSize - 1) / tileSize;
    QVector<int> skin(cols * rows, 0);
    int64_t chroma = 0;
    int samples = 0;
    for (int y = 2; y < H; y += 4) {
        const uchar *line = image.constScanLine(y);
        for (int x = 2; x < W; x += 4) {
            const uchar *p = line + 4 * x;
            chroma += std::abs(p[0] - p[1]) + std::abs(p[1] - p[2]);
            ++samples;
            if (!isSkin(p))
                continue;
            bool known = false;
            for (const DetectedFace &f : found) {
                if (f.box.adjusted(-8, -8, 8, 8).contains(x, y)) {
                    known = true;
                    break;
                }
            }
            if (!known)
                ++skin[(y / tileSize) * cols + x / tileSize];
        }
    }
    const QRect frame(0, 0, W, H);
    if (samples > 0 && chroma < 2 * int64_t(samples))
        return {frame};    // black and white: skin colour says nothing

    // Runs of skin tiles, most skin first, searched until a budget of a third of the
    // frame: a warm-coloured scene (sand, wood, brick) must not cost a full 2x search.
    struct Run {
        QRect rect;
        int skin;
    };
    QVector<Run> runs;
    for (int r = 0; r < rows; ++r) {
        int c = 0;
        while (c < cols) {
            if (skin[r * cols + c] < minSkinSamples) {
                ++c;
                continue;
            }
            int end = c;
            int total = skin[r * cols + c];
            while (end + 1 < cols && skin[r * cols + end + 1] >= minSkinSamples)
                total += skin[r * cols + ++end];
            const QRect run(c * tileSize, r * tileSize, (end - c + 1) * tileSize, tileSize);
            runs.append({run.adjusted(-tileMargin, -tileMargin, tileMargin, tileMargin).intersected(frame),
                         total / (end - c + 1)});
            c = end + 1;
        }
    }
    std::stable_sort(runs.begin(), runs.end(), [](const Run &a, const Run &b) { return a.skin > b.skin; });
    QVector<QRect> regions;
    int64_t area = 0;
    for (const Run &run : runs) {
        area += int64_t(run.rect.width()) * run.rect.height();
        if (area * 3 > int64_t(W) * H && !regions.isEmpty())
            break;
        regions.append(run.rect);
    }
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

// Boxes scoring below this are more often shadows and textures than faces.
constexpr double minScore = 0.0;

} // namespace

struct FaceEyesDetector::Private {
    Detector detector = prototypeDetector();
    std::optional<Detector> upsampledDetector;
    dlib::array2d<unsigned char> frame;
    dlib::array2d<unsigned char> region;

    // The same filters searched only over the pyramid levels that the plain pass does
    // not reach: scales 2, 1.67, 1.39 and 1.16, i.e. faces of about 40 to 70 pixels.
    Detector &smallFaceDetector()
    {
        if (!upsampledDetector) {
            Detector::image_scanner_type scanner;
            scanner.copy_configuration(detector.get_scanner());
            scanner.set_max_pyramid_levels(4);
            std::vector<Detector::feature_vector_type> weights;
            for (unsigned long i = 0; i < detector.num_detectors(); ++i)
                weights.push_back(detector.get_w(i));
            upsampledDetector.emplace(scanner, detector.get_overlap_tester(), weights);
        }
        return *upsampledDetector;
    }

    // frameReady: frame already holds grey (findFaces just copied it).
    void landmarks(const GreyImage &grey, QVector<DetectedFace> &faces, bool frameReady);
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

QVector<DetectedFace> FaceEyesDetector::findFaces(const QImage &image, const GreyImage &grey,
                                                  SmallFaces smallFaces)
{
    QVector<DetectedFace> faces;
    if (grey.isNull() || grey.width < 8 || grey.height < 8)
        return faces;
    try {
        copyGrey(grey, d->frame);
        std::vector<dlib::rect_detection> found;
        d->detector(d->frame, found, minScore);
        for (const auto &det : found) {
            DetectedFace face;
            face.box = QRectF(det.rect.left(), det.rect.top(), det.rect.width(), det.rect.height());
            face.score = det.detection_confidence;
            faces.append(face);
        }
        if (smallFaces == SmallFaces::skip)
            return faces;

        QVector<QRect> regions;
        if (smallFaces == SmallFaces::everywhere)
            regions = {QRect(0, 0, grey.width, grey.height)};
        else
            regions = smallFaceRegions(image.format() == QImage::Format_RGBA8888_Premultiplied
                                               ? image
                                               : image.convertToFormat(QImage::Format_RGBA8888_Premultiplied),
                                       faces);
        Detector &small = d->smallFaceDetector();
        for (const QRect &region : regions) {
            if (region.width() < 40 || region.height() < 40)
                continue;
            upsampleRegion(grey, region, d->region);
            found.clear();
            small(d->region, found, minScore);
            for (const auto &det : found) {
                DetectedFace face;
                face.box = QRectF(region.x() + det.rect.left() / 2.0, region.y() + det.rect.top() / 2.0,
                                  det.rect.width() / 2.0, det.rect.height() / 2.0);
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
            const dlib::rectangle rect(long(std::floor(face.box.left())), long(std::floor(face.box.top())),
                                       long(std::ceil(face.box.right())) - 1, long(std::ceil(face.box.bottom())) - 1);
            const dlib::full_object_detection shape = (*predictor)(frame, rect);
            if (shape.num_parts() != 68)
                continue;
            face.leftEye.clear();
            face.rightEye.clear();
            // Points 36-41 outline the eye on the image's left, 42-47 the other one.
            for (unsigned long i = 36; i < 42; ++i)
                face.leftEye.append(QPointF(shape.part(i).x(), shape.part(i).y()));
            for (unsigned long i = 42; i < 48; ++i)
                face.rightEye.append(QPointF(shape.part(i).x(), shape.part(i).y()));
            face.yaw = estimateYaw(shape);
        }
    } catch (const std::exception &e) {
        qWarning("FaceEyes: landmarks failed: %s", e.what());
    }
}

QVector<DetectedFace> FaceEyesDetector::detect(const QImage &image, const GreyImage &grey, SmallFaces smallFaces)
{
    QVector<DetectedFace> faces = findFaces(image, grey, smallFaces);
    d->landmarks(grey, faces, true);
    return faces;
}
