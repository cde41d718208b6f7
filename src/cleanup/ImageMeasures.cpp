#include "ImageMeasures.h"

#include "FaceEyes.h"
#include "FaceEyesDetector.h"
#include "FeaturePrint.h"
#include "SharpnessMeasures.h"

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

void ImageAnalyzer::judgeSmallFaces(const QImage &larger, ImageMeasures &measures)
{
    if (larger.isNull() || measures.smallEyeFaces.isEmpty())
        return;
    const QImage image = larger.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    const GreyImage grey = GreyImage::fromImage(image);
    QVector<DetectedFace> faces;
    for (const QRectF &box : std::as_const(measures.smallEyeFaces)) {
        DetectedFace face;
        face.box = QRectF(box.x() * grey.width, box.y() * grey.height, box.width() * grey.width,
                          box.height() * grey.height);
        faces.append(face);
    }
    d->faces.placeLandmarks(grey, faces);
    // Every face handed over was a main face of the photo, so the main-face test among
    // them alone keeps them all; the face count and sharpness stay the analysis scale's.
    ImageMeasures again;
    judgeFaces(grey, faces, again, &image);
    measures.closedFaces += again.closedFaces;
    measures.eyeOpenness += again.eyeOpenness;
    measures.eyeDarkness += again.eyeDarkness;
}
