#include "EyePatch.h"

#include "FaceEyes.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {
#include "EyePatchModel.inc"
static_assert(std::size(eyePatchWeights) == EyePatch::featureCount);
} // namespace

namespace EyePatch {

std::vector<float> sample(const GreyImage &grey, const DetectedFace &face, bool rightEye)
{
    const QVector<QPointF> &eye = rightEye ? face.rightEye : face.leftEye;
    if (face.leftEye.size() < 4 || face.rightEye.size() < 4 || grey.isNull())
        return {};
    QPointF along = eyeCentre(face.rightEye) - eyeCentre(face.leftEye);
    const double apart = std::hypot(along.x(), along.y());
    const double width = std::hypot(eye[3].x() - eye[0].x(), eye[3].y() - eye[0].y());
    // Written so that NaN fails too.
    if (!(apart > 0) || !(width > 0))
        return {};
    along /= apart;
    const QPointF across(-along.y(), along.x());
    const QPointF centre = eyeCentre(eye);
    const double step = 1.5 * width / columns;
    const double mirror = rightEye ? -1.0 : 1.0;
    std::vector<float> patch;
    patch.reserve(rows * columns);
    for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < columns; ++i) {
            const double u = (i - (columns - 1) / 2.0) * step * mirror;
            const double v = (j - (rows - 1) / 2.0) * step;
            const QPointF p = centre + u * along + v * across;
            if (!(p.x() >= 0 && p.y() >= 0 && p.x() <= grey.width - 1 && p.y() <= grey.height - 1))
                return {};
            patch.push_back(grey.areaMean(p.x(), p.y(), step, 3));
        }
    }
    return patch;
}

std::vector<float> features(const std::vector<float> &patch)
{
    if (patch.size() != size_t(rows * columns))
        return {};
    double sum = 0, squares = 0;
    for (const float g : patch) {
        sum += g;
        squares += double(g) * g;
    }
    const double mean = sum / patch.size();
    const double spread = std::sqrt(std::max(0.0, squares / patch.size() - mean * mean));
    // A grey level added to the spread keeps a flat patch's noise from being raised to
    // the scale of an eye.
    const double scale = 1.0 / (spread + 1.0);
    std::vector<float> out(size_t(cellRows * cellColumns), 0.0f);
    const double cellShare = 1.0 / (cellHeight * cellWidth);
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < columns; ++i)
            out[size_t((j / cellHeight) * cellColumns + i / cellWidth)] +=
                float((patch[size_t(j * columns + i)] - mean) * scale * cellShare);
    out.reserve(featureCount);
    const auto at = [&](int j, int i) { return out[size_t(j * cellColumns + i)]; };
    for (int j = 0; j + 1 < cellRows; ++j)
        for (int i = 0; i < cellColumns; ++i)
            out.push_back(std::abs(at(j + 1, i) - at(j, i)));
    for (int j = 0; j < cellRows; ++j)
        for (int i = 0; i + 1 < cellColumns; ++i)
            out.push_back(std::abs(at(j, i + 1) - at(j, i)));
    return out;
}

std::optional<float> shutScore(const std::vector<float> &patch)
{
    const std::vector<float> f = features(patch);
    if (f.empty())
        return std::nullopt;
    double score = eyePatchBias;
    for (int i = 0; i < featureCount; ++i)
        score += double(eyePatchWeights[i]) * f[size_t(i)];
    return float(score);
}

std::optional<float> faceShutScore(const GreyImage &grey, const DetectedFace &face)
{
    const std::optional<float> left = shutScore(sample(grey, face, false));
    const std::optional<float> right = shutScore(sample(grey, face, true));
    if (!left || !right)
        return std::nullopt;
    return std::min(*left, *right);
}

} // namespace EyePatch
