#include "ImageMeasures.h"

#include "FaceEyes.h"
#include "FaceEyesDetector.h"
#include "FeaturePrint.h"
#include "SharpnessMeasures.h"

#include <algorithm>

struct ImageAnalyzer::Private {
    FaceEyesDetector faces;
};

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
        face.box = QRectF(small.box.x() * grey.width, small.box.y() * grey.height, small.box.width() * grey.width,
                          small.box.height() * grey.height);
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
    measures.closedFaces += closed;
}
