#include "FaceEyes.h"

#include "ImageMeasures.h"

#include <algorithm>
#include <cmath>

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

void judgeFaces(const GreyImage &grey, const QVector<DetectedFace> &faces, ImageMeasures &measures)
{
    measures.faceCount = 0;
    measures.faceSharpness.reset();
    measures.closedFaces.clear();
    measures.eyeOpenness.clear();
    measures.eyeDarkness.clear();
    if (grey.isNull())
        return;

    double largest = -1;
    for (const DetectedFace &face : faces) {
        const QRectF box = face.box.normalized();
        if (box.height() < FaceRules::minFaceHeight)
            continue;
        ++measures.faceCount;
        if (box.height() > largest) {
            largest = box.height();
            const double insetX = 0.12 * box.width();
            const double insetY = 0.12 * box.height();
            measures.faceSharpness = detailEnergy(grey, box.adjusted(insetX, insetY, -insetX, -insetY));
        }
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
        const bool closed = open < FaceRules::closedOpenness
                || (open < FaceRules::squintOpenness && dark < FaceRules::openDarkness);
        if (closed) {
            measures.closedFaces.append(QRectF(box.x() / grey.width, box.y() / grey.height,
                                               box.width() / grey.width, box.height() / grey.height));
        }
    }
}
