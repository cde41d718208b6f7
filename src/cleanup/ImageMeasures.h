#pragma once

#include <QByteArray>
#include <QImage>
#include <QRectF>
#include <QVector>

#include <optional>

// What the analysis of one 1280-px analysis image yields: sharpness, faces with
// their eyes, and the feature print. The unit-level fields of a cleanup record
// (sizes, dates) are filled in by the caller.
struct ImageMeasures {
    float sharpness = 0;                   // pictureSharpness of the grey image
    std::optional<float> faceSharpness;    // faceSharpness of the counted faces (FaceEyes.h)
    int faceCount = 0;                     // faces at least 40 px tall
    QVector<QRectF> closedFaces;           // normalized, origin top-left
    QVector<float> eyeOpenness;            // per examined face: larger eyeOpenRatio
    QVector<float> eyeDarkness;            // parallel: larger eyeDarkFraction
    QByteArray featurePrint;               // empty when none was produced
    // Normalized boxes of the main faces whose eyes were too small to judge
    // (FaceRules::minEyeWidth) but at least half that wide; ImageAnalyzer::judgeSmallFaces
    // reads them again. Not stored.
    QVector<QRectF> smallEyeFaces;
};

// Per-worker analysis state: each worker owns one (face detectors are not
// thread-safe); the landmark model inside is shared and loaded once.
class ImageAnalyzer
{
public:
    ImageAnalyzer();
    ~ImageAnalyzer();
    ImageAnalyzer(const ImageAnalyzer &) = delete;
    ImageAnalyzer &operator=(const ImageAnalyzer &) = delete;

    // Measures an upright analysis image (longest side at most 1280 px).
    ImageMeasures measure(const QImage &analysisImage);

    // Judges the eyes of measures.smallEyeFaces again on `larger`, the same picture
    // decoded larger (upright, the same framing), and adds what it finds to `measures`.
    // A face in a group or across a room has eyes under 16 px at the analysis scale;
    // the photo itself usually holds two or three times that.
    void judgeSmallFaces(const QImage &larger, ImageMeasures &measures);

private:
    struct Private;
    Private *d;
};

namespace FeaturePrint {
// Revision of our own embedding; stored with every cached record.
int revision();
// Distance between two stored prints; the largest finite float when either
// cannot be decoded or they are of different kinds.
float distance(const QByteArray &a, const QByteArray &b);
// Largest distance at which two neighbouring shots still count as one burst.
float burstThreshold();
} // namespace FeaturePrint
