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
    // The main faces that ImageAnalyzer::judgeSmallFaces reads again: those whose eyes are
    // too narrow to judge (FaceRules::minEyeWidth) but at least half that wide, and those
    // judged here whose eyes are too narrow for the balance the outline's own bounds read
    // (FaceRules::minBalanceEyeWidth) and that read within the widest bounds. Not stored.
    struct SmallEyeFace {
        QRectF box;           // normalized, as closedFaces
        int eyeIndex = -1;    // its readings in eyeOpenness and eyeDarkness; -1: not judged here
        double eyeWidth = 0;  // the narrower eye's width, pixels of the analysis image
    };
    QVector<SmallEyeFace> smallEyeFaces;
};

// How many times the analysis picture's size a larger decode must be for every face of
// measures.smallEyeFaces to be judged there in full: eyes not judged at all made
// FaceRules::minEyeWidth wide, eyes judged without their balance made
// FaceRules::minBalanceEyeWidth wide, within [minShare, maxShare]. A smaller decode costs
// less to reduce and to judge; the JPEG itself is read at half its resolution only where
// it holds four times the decode (a 12 to 24 MP JPEG is read whole either way).
double largerDecodeShare(const ImageMeasures &measures, double minShare, double maxShare);

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
    // decoded larger (upright, the same framing). A face in a group or across a room has
    // eyes under 16 px at the analysis scale, too few to judge, and eyes under 24 px
    // are judged without their edges' balance; the photo itself usually holds two or
    // three times that. A face judged on `larger` takes that verdict and readings in
    // place of this scale's; one whose landmarks cannot be placed there keeps them.
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
