#pragma once

#include "ImageMeasures.h"

#include <QByteArray>
#include <QImage>

#include <array>
#include <optional>

// Our own image embedding for telling shots of one burst from different pictures.
// Three parts, all taken from a 64 x 64 area-averaged reduction of the picture, which
// makes them indifferent to focus, noise and the sensor size:
//   layout    32 x 32 luma grid; two layouts are compared after aligning them (the
//             camera turns and zooms a little between shots, the subject moves), by
//             the rank correlation of what they then share (ranks survive any
//             exposure or tone curve change),
//   gradients 4 x 4 cells x 8 orientations of gradient energy (the scene's structure),
//   colour    4 x 4 cells of chromaticity (what is where, in colour).
// The stored form is a small header (magic, kind, revision, count) and half floats.
namespace FeaturePrint {

constexpr int layoutSide = 32;
constexpr int layoutSize = layoutSide * layoutSide;
constexpr int gradientSize = 128;
constexpr int colourSize = 32;
constexpr int dimensions = layoutSize + gradientSize + colourSize;

struct Embedding {
    std::array<float, dimensions> values{};
};

// The embedding of an analysis image; absent for a null or tiny image.
std::optional<Embedding> compute(const QImage &image);

QByteArray encode(const Embedding &embedding);
// Absent when the bytes are not a print of this kind and revision.
std::optional<Embedding> decode(const QByteArray &bytes);

// The three part distances, before weighting; for calibration.
struct Parts {
    float layout = 0;
    float gradients = 0;
    float colour = 0;
};
Parts partDistances(const Embedding &a, const Embedding &b);
float distance(const Embedding &a, const Embedding &b);

} // namespace FeaturePrint
