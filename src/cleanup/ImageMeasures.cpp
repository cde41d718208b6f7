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
