#pragma once

#include "SharpnessMeasures.h"

#include <optional>
#include <vector>

struct DetectedFace;

// How a face's eyes look, read from their grey patches by a linear model rather than
// from the outline's shape, its edges or box sums: an open eye shows white and a dark
// disc between two lids, a shut one a smooth lid over a curved line of lashes. The
// model was trained on labelled faces (scripts/train-eye-patch-model.py writes
// EyePatchModel.inc); it is one more answer for faces the other cues leave unsure, never
// the only one (see FaceRules::patchOpenness).
namespace EyePatch {
constexpr int columns = 18;
constexpr int rows = 12;
// The model reads the patch in cells of cellHeight x cellWidth samples (a sixth of the
// eye's width tall, a quarter wide): its weights over single samples learnt the faces
// it was trained on rather than eyes (see docs/closed-eye-rule.md).
constexpr int cellHeight = 2;
constexpr int cellWidth = 3;
constexpr int cellRows = rows / cellHeight;
constexpr int cellColumns = columns / cellWidth;
static_assert(cellRows * cellHeight == rows && cellColumns * cellWidth == columns);
constexpr int featureCount = cellRows * cellColumns + (cellRows - 1) * cellColumns + cellRows * (cellColumns - 1);

// The grey patch around one eye, rows x columns samples, top row first: 1.5 eye widths
// (corner to corner) along the line through the eyes' centres and 1.0 across it,
// centred on the eye. The right eye is mirrored so that both run from the outer corner
// to the inner one. Empty when an outline has fewer than 4 points, the eyes share a
// centre or the patch leaves the picture.
std::vector<float> sample(const GreyImage &grey, const DetectedFace &face, bool rightEye);

// The model's features of a patch: the means of its cells, the samples taken relative
// to the patch's mean and spread, and the size of the steps between neighbouring cells
// down and across. Empty when the patch is not rows x columns samples.
std::vector<float> features(const std::vector<float> &patch);

// How shut one eye's patch looks, over the model's bound: above 0 the model calls it
// shut. Absent for a patch of the wrong size.
std::optional<float> shutScore(const std::vector<float> &patch);

// The face's answer: the smaller score of its two eyes (both must look shut). Absent
// when either patch cannot be read.
std::optional<float> faceShutScore(const GreyImage &grey, const DetectedFace &face);
} // namespace EyePatch
