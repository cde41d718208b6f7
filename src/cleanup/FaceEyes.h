#pragma once

#include "SharpnessMeasures.h"

#include <QPointF>
#include <QRectF>
#include <QVector>

#include <optional>

struct ImageMeasures;

// One face as a detector reports it, in analysis-image pixels with the origin at the
// top-left corner (y grows downwards). The eye outlines are the detector's point sets
// for the two eyes; both are empty when no landmarks were found.
struct DetectedFace {
    QRectF box;
    std::optional<double> yaw;    // radians, 0 facing the camera
    QVector<QPointF> leftEye;
    QVector<QPointF> rightEye;
    double score = 0;             // detector confidence, for diagnostics only
};

namespace FaceRules {
// Faces shorter than this (pixels of the analysis image) are too small to judge.
constexpr double minFaceHeight = 40.0;
// Beyond this yaw (radians) one eye is foreshortened or hidden and cannot be judged.
constexpr double maxEyeYaw = 1.0;
// Eyes narrower than this (pixels of the analysis image, the narrower of the two
// outlines) are not judged: the pupil and the lash line, the dark parts of an open eye,
// are then under two pixels and blur away, and the outline's height is a pixel or two,
// so a smiling, light-eyed face reads as shut. Such a face is still counted.
constexpr double minEyeWidth = 16.0;
// An eye flatter than this is shut whatever its colour.
constexpr float closedOpenness = 0.19f;
// Between the two: shut unless enough iris and lashes show as dark pixels.
constexpr float squintOpenness = 0.36f;
constexpr float openDarkness = 0.14f;
} // namespace FaceRules

// Height over width of the outline's bounding box; 1.0 (wide open) when there are
// fewer than 4 points or the outline has no width.
float eyeOpenRatio(const QVector<QPointF> &eye);

// Bounding box of the outline in top-left pixel coordinates; the null rectangle when
// there are no points.
QRectF eyeBox(const QVector<QPointF> &eye);

// Fraction of the pixels around the eye that are darker than half the face's median
// grey: an open eye shows iris, pupil and lashes, a shut one mostly skin.
float eyeDarkFraction(const GreyImage &grey, const QVector<QPointF> &eye, const QRectF &face);

// Applies the face rules to the detected faces in order: counts the faces tall enough,
// measures the sharpness of the largest one and judges the eyes of each unless the head
// is turned too far or the eyes are too small to measure. Fills the face fields of measures.
void judgeFaces(const GreyImage &grey, const QVector<DetectedFace> &faces, ImageMeasures &measures);
