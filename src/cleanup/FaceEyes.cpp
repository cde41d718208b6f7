#include "FaceEyes.h"

#include "EyeCascade.h"
#include "ImageMeasures.h"

#include <algorithm>
#include <cmath>
#include <limits>

float eyeOpenRatio(const QVector<QPointF> &eye)
{
    if (eye.size() < 4)
        return 1.0f;
    const QRectF box = eyeBox(eye);
    if (!(box.width() > 0))
        return 1.0f;
    return float(box.height() / box.width());
}

QRectF eyeBox(const QVector<QPointF> &eye)
{
    if (eye.isEmpty())
        return QRectF();
    double minX = eye[0].x(), maxX = minX, minY = eye[0].y(), maxY = minY;
    for (const QPointF &p : eye) {
        minX = std::min(minX, p.x());
        maxX = std::max(maxX, p.x());
        minY = std::min(minY, p.y());
        maxY = std::max(maxY, p.y());
    }
    return QRectF(minX, minY, maxX - minX, maxY - minY);
}

float eyeDarkFraction(const GreyImage &grey, const QVector<QPointF> &eye, const QRectF &face)
{
    const int W = grey.width;
    const int H = grey.height;
    const QRectF f = face.normalized();
    const int fx0 = std::max(0, truncatedToInt(f.left()));
    const int fx1 = std::min(W, truncatedToInt(f.right()));
    const int fy0 = std::max(0, truncatedToInt(f.top()));
    const int fy1 = std::min(H, truncatedToInt(f.bottom()));

    const QRectF box = eyeBox(eye);
    const double grow = 0.3 * box.height();
    const int ex0 = std::max(0, truncatedToInt(box.left()));
    const int ex1 = std::min(W, truncatedToInt(box.right()));
    const int ey0 = std::max(0, truncatedToInt(box.top() - grow));
    const int ey1 = std::min(H, truncatedToInt(box.bottom() + grow));

    if (!(fx0 < fx1 && fy0 < fy1 && ex0 < ex1 && ey0 < ey1))
        return 1.0f;

    int histogram[256] = {};
    int n = 0;
    for (int y = fy0; y < fy1; y += 2) {
        const uint8_t *row = grey.row(y);
        for (int x = fx0; x < fx1; x += 2) {
            ++histogram[row[x]];
            ++n;
        }
    }
    int median = 0;
    int running = 0;
    for (int level = 0; level < 256; ++level) {
        running += histogram[level];
        if (2 * running >= n) {
            median = level;
            break;
        }
    }

    const int limit = median / 2;
    int64_t dark = 0;
    for (int y = ey0; y < ey1; ++y) {
        const uint8_t *row = grey.row(y);
        for (int x = ex0; x < ex1; ++x)
            dark += row[x] < limit;
    }
    const int64_t count = int64_t(ex1 - ex0) * int64_t(ey1 - ey0);
    return count > 0 ? float(double(dark) / double(count)) : 1.0f;
}

float eyeEdgeBalance(const GreyImage &grey, const QVector<QPointF> &eye)
{
    const QRectF box = eyeBox(eye);
    if (eye.size() < 4 || !(box.width() > 0) || grey.isNull())
        return 1.0f;
    double cy = 0;
    for (const QPointF &p : eye)
        cy += p.y();
    cy /= eye.size();
    // The middle 70 % of the eye's width, and 22 % of it above and below its centre
    // line: the iris and the lash line, clear of the brow and of the corners.
    constexpr int columns = 17;
    constexpr int rows = 11;
    const double w = box.width();
    const double step = 0.7 * w / columns;
    const double left = box.left() + 0.15 * w + step / 2;
    const double top = cy - 0.22 * w + step / 2;
    float lattice[rows][columns];
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < columns; ++i)
            lattice[j][i] = grey.areaMean(left + i * step, top + j * step, step, std::numeric_limits<int>::max());
    double along = 0, across = 0;
    for (int j = 1; j < rows - 1; ++j) {
        for (int i = 1; i < columns - 1; ++i) {
            const double gx = lattice[j][i + 1] - lattice[j][i - 1];
            const double gy = lattice[j + 1][i] - lattice[j - 1][i];
            along += gx * gx;
            across += gy * gy;
        }
    }
    if (!(across > 0))
        return along > 0 ? std::numeric_limits<float>::max() : 1.0f;
    return float(along / across);
}

std::optional<float> faceEdgeBalance(const GreyImage &grey, const DetectedFace &face)
{
    if (std::min(eyeBox(face.leftEye).width(), eyeBox(face.rightEye).width()) < FaceRules::minBalanceEyeWidth)
        return std::nullopt;
    return std::max(eyeEdgeBalance(grey, face.leftEye), eyeEdgeBalance(grey, face.rightEye));
}

namespace {

// Height of the tallest counted face, 0 when none is counted.
double tallestFace(const QVector<DetectedFace> &faces)
{
    double tallest = 0;
    for (const DetectedFace &face : faces) {
        if (face.box.normalized().height() >= FaceRules::minFaceHeight)
            tallest = std::max(tallest, face.box.normalized().height());
    }
    return tallest;
}

bool isMainFace(const QRectF &box, double tallest)
{
    return box.height() >= FaceRules::minFaceHeight && box.height() >= FaceRules::mainFaceShare * tallest;
}

} // namespace

std::optional<float> faceSharpness(const GreyImage &grey, const QVector<DetectedFace> &faces)
{
    const double tallest = tallestFace(faces);
    std::optional<float> sharpest;
    if (tallest <= 0 || grey.isNull())
        return sharpest;
    for (const DetectedFace &face : faces) {
        const QRectF box = face.box.normalized();
        if (!isMainFace(box, tallest))
            continue;
        const double insetX = 0.12 * box.width();
        const double insetY = 0.12 * box.height();
        const QRectF inner = box.adjusted(insetX, insetY, -insetX, -insetY);
        const float energy = detailEnergy(grey, inner) * contrastGain(grey, inner, ContrastGain::faceReference);
        if (!sharpest || energy > *sharpest)
            sharpest = energy;
    }
    return sharpest;
}

void judgeFaces(const GreyImage &grey, const QVector<DetectedFace> &faces, ImageMeasures &measures)
{
    judgeFaces(grey, faces, measures, EyeCascade::shared(), EyeCascade::sharedGlasses());
}

void judgeFaces(const GreyImage &grey, const QVector<DetectedFace> &faces, ImageMeasures &measures,
                const EyeCascade *cascade, const EyeCascade *glassesCascade)
{
    measures.faceCount = 0;
    measures.faceSharpness.reset();
    measures.closedFaces.clear();
    measures.eyeOpenness.clear();
    measures.eyeDarkness.clear();
    if (grey.isNull())
        return;

    measures.faceSharpness = faceSharpness(grey, faces);
    const double tallest = tallestFace(faces);
    for (const DetectedFace &face : faces) {
        const QRectF box = face.box.normalized();
        if (box.height() < FaceRules::minFaceHeight)
            continue;
        ++measures.faceCount;
        if (!isMainFace(box, tallest))
            continue;
        if (face.yaw && std::abs(*face.yaw) > FaceRules::maxEyeYaw)
            continue;
        if (face.leftEye.isEmpty() || face.rightEye.isEmpty())
            continue;
        if (std::min(eyeBox(face.leftEye).width(), eyeBox(face.rightEye).width()) < FaceRules::minEyeWidth)
            continue;
        const float open = std::max(eyeOpenRatio(face.leftEye), eyeOpenRatio(face.rightEye));
        const float dark = std::max(eyeDarkFraction(grey, face.leftEye, box),
                                    eyeDarkFraction(grey, face.rightEye, box));
        measures.eyeOpenness.append(open);
        measures.eyeDarkness.append(dark);
        const std::optional<float> balance = faceEdgeBalance(grey, face);
        // The cascades can only keep a face open or confirm a shut one where the other
        // cues leave it unsure. A face that no answer of theirs would flag (most open
        // faces) is settled without searching them, which is most of the cost of
        // judging a face.
        bool closed = FaceRules::eyesShut(open, dark, balance, 0, 0);
        if (closed) {
            std::optional<int> hits;
            if (cascade)
                hits = std::max(cascade->respond(grey, face.leftEye).hits, cascade->respond(grey, face.rightEye).hits);
            std::optional<int> glassesHits;
            if (glassesCascade && FaceRules::needsGlassesHits(open, balance, hits))
                glassesHits = std::max(glassesCascade->respond(grey, face.leftEye).hits,
                                       glassesCascade->respond(grey, face.rightEye).hits);
            closed = FaceRules::eyesShut(open, dark, balance, hits, glassesHits);
        }
        if (closed) {
            measures.closedFaces.append(QRectF(box.x() / grey.width, box.y() / grey.height,
                                               box.width() / grey.width, box.height() / grey.height));
        }
    }
}
