#include "ImageMeasures.h"

#include "FaceEyes.h"
#include "FaceEyesDetector.h"
#include "FeaturePrint.h"
#include "SharpnessMeasures.h"

#include <QLineF>
#include <QPainter>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace {

// Where a picture of `size` turned clockwise by `degrees` lands: in a frame that just
// holds it, its top-left corner at the origin.
QTransform turnMatrix(QSize size, int degrees)
{
    return QImage::trueMatrix(QTransform().rotate(degrees), size.width(), size.height());
}

// The picture turned clockwise by `degrees`. Turned by an eighth, the frame's corners
// beyond the picture are mid-grey, which the face detector reads as nothing (black
// corners would draw edges of their own).
QImage turnedPicture(const QImage &image, int degrees)
{
    if (degrees % 90 == 0)
        return image.transformed(QTransform().rotate(degrees));
    const QTransform turn = turnMatrix(image.size(), degrees);
    QImage turned(turn.mapRect(QRectF(image.rect())).toAlignedRect().size(), QImage::Format_RGBA8888_Premultiplied);
    turned.fill(QColor(128, 128, 128));
    QPainter painter(&turned);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setTransform(turn);
    painter.drawImage(0, 0, image);
    return turned;
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
    // Judges the faces of `image` turned clockwise by `degrees`, or only the one whose
    // box (normalized to image) is `only`, and adds those called shut to `measures`.
    void judgeTurned(const QImage &image, int degrees, std::optional<QRectF> only, ImageMeasures &measures);
    void judgeLevelled(const QImage &image, const GreyImage &grey, const QVector<DetectedFace> &found,
                       ImageMeasures &measures);
};

// A picture in which the upright search found no face is searched again turned by
// every eighth of a turn: people lying on a bed, a treatment table or the grass are
// photographed from the side or from the head end, a head rests on a shoulder or a
// pillow, and the detector looks for faces within about 20 degrees of upright. Only
// faces of about 0.3 of the picture's shorter side and up are looked for, a person
// lying down as the subject of the photo, on a copy whose shorter side is 280 px,
// where the plain pass costs about 6 ms a quarter turn and twice that an eighth (the
// turned copy's corners are grey canvas). A face found there is found again on the
// analysis picture, turned the same way, and judged as an upright face is (a face
// seen better another way up is not); the faces called shut are kept, their boxes
// turned back. A face seen at two neighbouring turns is kept once. The face count and
// the face sharpness stay the upright search's: the blur verdict does not rest on a
// face only a turned search saw.
void ImageAnalyzer::Private::judgeTurnedFaces(const QImage &image, ImageMeasures &measures)
{
    constexpr int searchSide = 280;
    const int shorter = std::min(image.width(), image.height());
    if (shorter < searchSide / 2)
        return;
    const QImage small = shorter > searchSide
        ? image.scaled(image.size() * (double(searchSide) / shorter), Qt::KeepAspectRatio, Qt::SmoothTransformation)
        : image;
    for (int degrees = 45; degrees < 360; degrees += 45) {
        if (!faces.findLargeFaces(GreyImage::fromImage(turnedPicture(small, degrees))).isEmpty())
            judgeTurned(image, degrees, {}, measures);
    }
}

void ImageAnalyzer::Private::judgeTurned(const QImage &image, int degrees, std::optional<QRectF> only,
                                         ImageMeasures &measures)
{
    const QImage turned = turnedPicture(image, degrees);
    const GreyImage turnedGrey = GreyImage::fromImage(turned);
    QVector<DetectedFace> found = faces.detect(turned, turnedGrey, FaceEyesDetector::SmallFaces::skip);
    const QTransform turn = turnMatrix(image.size(), degrees);
    const QTransform back = turn.inverted();
    if (only) {
        // The same face: found again near where its centre turned to.
        const QRectF face = inPixels(*only, image.size());
        const QPointF centre = turn.map(face.center());
        found.removeIf([&](const DetectedFace &f) { return QLineF(f.box.center(), centre).length() > 0.3 * face.height(); });
        if (found.isEmpty())
            return;
    }
    ImageMeasures judged;
    judgeFaces(turnedGrey, found, judged, &turned);
    dropTurnedFaces(turnedGrey, judged.closedFaces);
    for (const QRectF &box : std::as_const(judged.closedFaces)) {
        // Turned back about its centre: a face keeps its size whichever way it lies.
        const QRectF inTurned = inPixels(box, turned.size());
        QRectF face(QPointF(0, 0), inTurned.size());
        face.moveCenter(back.map(inTurned.center()));
        face = inFractions(face, image.size());
        const auto seen = [&face](const QRectF &kept) {
            return kept.contains(face.center()) || face.contains(kept.center());
        };
        if (std::none_of(measures.closedFaces.cbegin(), measures.closedFaces.cend(), seen))
            measures.closedFaces.append(face);
    }
    // A face judged again was read upright already.
    if (!only) {
        measures.eyeOpenness += judged.eyeOpenness;
        measures.eyeDarkness += judged.eyeDarkness;
    }
}

// A head leaning on a shoulder, a pillow or another head is found upright, but the
// landmark model was taught faces within a few degrees of level: rolled further, the
// eye outlines slip off the lids and a shut eye reads open. A main face whose eyes'
// line leans more than this (degrees) and that was not called shut is judged again on
// the picture turned to bring its eyes level.
constexpr double levelledRoll = 15.0;

void ImageAnalyzer::Private::judgeLevelled(const QImage &image, const GreyImage &grey,
                                           const QVector<DetectedFace> &found, ImageMeasures &measures)
{
    const double tallest = tallestFace(found);
    for (const DetectedFace &face : found) {
        if (face.leftEye.isEmpty() || face.rightEye.isEmpty() || !isMainFace(face.box, tallest))
            continue;
        const QRectF box = inFractions(face.box, QSizeF(grey.width, grey.height));
        if (std::any_of(measures.closedFaces.cbegin(), measures.closedFaces.cend(),
                        [&box](const QRectF &shut) { return shut.contains(box.center()); }))
            continue;
        const QLineF eyes(eyeCentre(face.leftEye), eyeCentre(face.rightEye));
        // QLineF's angles run counter-clockwise with y up; the picture's y runs down.
        const double roll = std::remainder(-eyes.angle(), 360.0);
        if (std::abs(roll) < levelledRoll || std::abs(roll) > 90.0)
            continue;
        judgeTurned(image, int(std::lround(360.0 - roll)) % 360, box, measures);
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
    const QVector<DetectedFace> found = d->faces.detect(image, grey);
    judgeFaces(grey, found, measures, &image);
    d->dropTurnedFaces(grey, measures.closedFaces);
    d->judgeLevelled(image, grey, found, measures);
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
