#include "ImageMeasures.h"

#include "FaceEyes.h"
#include "FaceEyesDetector.h"
#include "FeaturePrint.h"
#include "SharpnessMeasures.h"

#include <QTransform>

#include <algorithm>
#include <limits>

namespace {

// A box given in fractions of a picture of `size`, in its pixels, and back.
QRectF inPixels(const QRectF &fractions, QSizeF size)
{
    return QRectF(fractions.x() * size.width(), fractions.y() * size.height(), fractions.width() * size.width(),
                  fractions.height() * size.height());
}

QRectF inFractions(const QRectF &pixels, QSizeF size)
{
    return QRectF(pixels.x() / size.width(), pixels.y() / size.height(), pixels.width() / size.width(),
                  pixels.height() / size.height());
}

} // namespace

struct ImageAnalyzer::Private {
    FaceEyesDetector faces;

    // Whether the face in `box` (normalized) is seen best the way up the picture is. The
    // detector finds many faces lying on their side or upside down as well (a face's
    // outline is much the same either way up), but the landmarks are placed as if the
    // face were upright: the "eyes" then lie on the mouth or a cheek, and a smile or a
    // nostril reads as a shut lid. Such a face scores higher turned the right way up.
    bool upright(const GreyImage &grey, const QRectF &box)
    {
        const auto scores = faces.turnScores(grey, inPixels(box, QSizeF(grey.width, grey.height)));
        const double asItIs = scores[0].value_or(-std::numeric_limits<double>::infinity());
        return std::none_of(scores.begin() + 1, scores.end(),
                            [asItIs](const std::optional<double> &turned) { return turned && *turned > asItIs; });
    }

    // Only faces called shut are worth the few milliseconds of looking at them turned;
    // `closed` holds their boxes, normalized to grey.
    void dropTurnedFaces(const GreyImage &grey, QVector<QRectF> &closed)
    {
        closed.removeIf([&](const QRectF &box) { return !upright(grey, box); });
    }

    void judgeTurnedFaces(const QImage &image, ImageMeasures &measures);
};

// A picture in which the upright search found no face is searched again turned by one,
// two and three quarters: people lying on a bed, a treatment table or the grass are
// photographed from the side or from the head end, and the detector looks for upright
// faces. Only faces of about 0.3 of the picture's shorter side and up are looked
// for, a person lying down as the subject of the photo, on a copy whose shorter side is
// 280 px, where the plain pass costs about 6 ms a turn. A face found there is found
// again on the analysis picture, turned the same way, and judged as an upright face is
// (a face seen better another way up is not); the faces called shut are kept, their
// boxes turned back. The face count and the face sharpness stay the upright search's:
// the blur verdict does not rest on a face only a turned search saw.
void ImageAnalyzer::Private::judgeTurnedFaces(const QImage &image, ImageMeasures &measures)
{
    constexpr int searchSide = 280;
    const int shorter = std::min(image.width(), image.height());
    if (shorter < searchSide / 2)
        return;
    const QImage small = shorter > searchSide
        ? image.scaled(image.size() * (double(searchSide) / shorter), Qt::KeepAspectRatio, Qt::SmoothTransformation)
        : image;
    for (int turn = 1; turn < 4; ++turn) {
        const QTransform rotation = QTransform().rotate(90.0 * turn);
        if (faces.findLargeFaces(GreyImage::fromImage(small.transformed(rotation))).isEmpty())
            continue;
        const QImage turned = image.transformed(rotation);
        const GreyImage turnedGrey = GreyImage::fromImage(turned);
        ImageMeasures judged;
        judgeFaces(turnedGrey, faces.detect(turned, turnedGrey, FaceEyesDetector::SmallFaces::skip), judged, &turned);
        dropTurnedFaces(turnedGrey, judged.closedFaces);
        const QTransform back = QImage::trueMatrix(rotation, image.width(), image.height()).inverted();
        for (const QRectF &box : std::as_const(judged.closedFaces))
            measures.closedFaces.append(inFractions(back.mapRect(inPixels(box, turned.size())), image.size()));
        measures.eyeOpenness += judged.eyeOpenness;
        measures.eyeDarkness += judged.eyeDarkness;
    }
}

ImageAnalyzer::ImageAnalyzer()
    : d(new Private)
{
}

ImageAnalyzer::~ImageAnalyzer()
{
    delete d;
}

ImageMeasures ImageAnalyzer::measure(const QImage &analysisImage)
{
    ImageMeasures measures;
    if (analysisImage.isNull())
        return measures;
    const QImage image = analysisImage.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    const GreyImage grey = GreyImage::fromImage(image);
    measures.sharpness = pictureSharpness(grey);
    judgeFaces(grey, d->faces.detect(image, grey), measures, &image);
    d->dropTurnedFaces(grey, measures.closedFaces);
    if (measures.faceCount == 0)
        d->judgeTurnedFaces(image, measures);
    if (const auto print = FeaturePrint::compute(image))
        measures.featurePrint = FeaturePrint::encode(*print);
    return measures;
}

double largerDecodeShare(const ImageMeasures &measures, double minShare, double maxShare)
{
    double share = minShare;
    for (const ImageMeasures::SmallEyeFace &small : measures.smallEyeFaces) {
        const double wanted = small.eyeIndex < 0 ? FaceRules::minEyeWidth : FaceRules::minBalanceEyeWidth;
        if (small.eyeWidth > 0)
            share = std::max(share, wanted / small.eyeWidth);
    }
    return std::min(share, maxShare);
}

void ImageAnalyzer::judgeSmallFaces(const QImage &larger, ImageMeasures &measures)
{
    if (larger.isNull() || measures.smallEyeFaces.isEmpty())
        return;
    const QImage image = larger.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    const GreyImage grey = GreyImage::fromImage(image);
    QVector<DetectedFace> faces;
    for (const ImageMeasures::SmallEyeFace &small : std::as_const(measures.smallEyeFaces)) {
        DetectedFace face;
        face.box = inPixels(small.box, QSizeF(grey.width, grey.height));
        faces.append(face);
    }
    d->faces.placeLandmarks(grey, faces);
    QVector<bool> replaced(measures.eyeOpenness.size(), false);
    QVector<QRectF> closed;
    QVector<float> openness, darkness;
    for (qsizetype i = 0; i < faces.size(); ++i) {
        // Each face alone: every face handed over was a main face of the photo, and the
        // face count and sharpness stay the analysis scale's.
        ImageMeasures again;
        judgeFaces(grey, {faces[i]}, again, &image);
        if (again.eyeOpenness.isEmpty())
            continue;
        const ImageMeasures::SmallEyeFace &small = measures.smallEyeFaces[i];
        if (small.eyeIndex >= 0 && small.eyeIndex < replaced.size()) {
            replaced[small.eyeIndex] = true;
            measures.closedFaces.removeAll(small.box);
        }
        closed += again.closedFaces;
        openness += again.eyeOpenness;
        darkness += again.eyeDarkness;
    }
    // What this scale read of the faces judged again is dropped, the rest kept in order.
    const auto keptThen = [&replaced](const QVector<float> &read, const QVector<float> &again) {
        QVector<float> out;
        for (qsizetype i = 0; i < read.size(); ++i)
            if (i >= replaced.size() || !replaced[i])
                out.append(read[i]);
        return out + again;
    };
    measures.eyeOpenness = keptThen(measures.eyeOpenness, openness);
    measures.eyeDarkness = keptThen(measures.eyeDarkness, darkness);
    d->dropTurnedFaces(grey, closed);
    measures.closedFaces += closed;
}
