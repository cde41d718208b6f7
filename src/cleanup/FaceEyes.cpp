#include "FaceEyes.h"

#include "EyeCascade.h"
#include "EyePatch.h"
#include "ImageMeasures.h"

#include <algorithm>
#include <cmath>
#include <limits>

float eyeOpenRatio(const QVector<QPointF> &eye)
{
    if (eye.size() < 4)
        return 1.0f;
    const QRectF box = eyeBox(eye);
    if (!(box.width() > 0))
        return 1.0f;
    return float(box.height() / box.width());
}

QPointF eyeCentre(const QVector<QPointF> &eye)
{
    QPointF c;
    for (const QPointF &p : eye)
        c += p;
    return eye.isEmpty() ? c : c / eye.size();
}

QRectF eyeBox(const QVector<QPointF> &eye)
{
    if (eye.isEmpty())
        return QRectF();
    double minX = eye[0].x(), maxX = minX, minY = eye[0].y(), maxY = minY;
    for (const QPointF &p : eye) {
        minX = std::min(minX, p.x());
        maxX = std::max(maxX, p.x());
        minY = std::min(minY, p.y());
        maxY = std::max(maxY, p.y());
    }
    return QRectF(minX, minY, maxX - minX, maxY - minY);
}

float eyeDarkFraction(const GreyImage &grey, const QVector<QPointF> &eye, const QRectF &face)
{
    const int W = grey.width;
    const int H = grey.height;
    const QRectF f = face.normalized();
    const int fx0 = std::max(0, truncatedToInt(f.left()));
    const int fx1 = std::min(W, truncatedToInt(f.right()));
    const int fy0 = std::max(0, truncatedToInt(f.top()));
    const int fy1 = std::min(H, truncatedToInt(f.bottom()));

    const QRectF box = eyeBox(eye);
    const double grow = 0.3 * box.height();
    const int ex0 = std::max(0, truncatedToInt(box.left()));
    const int ex1 = std::min(W, truncatedToInt(box.right()));
    const int ey0 = std::max(0, truncatedToInt(box.top() - grow));
    const int ey1 = std::min(H, truncatedToInt(box.bottom() + grow));

    if (!(fx0 < fx1 && fy0 < fy1 && ex0 < ex1 && ey0 < ey1))
        return 1.0f;

    int histogram[256] = {};
    int n = 0;
    for (int y = fy0; y < fy1; y += 2) {
        const uint8_t *row = grey.row(y);
        for (int x = fx0; x < fx1; x += 2) {
            ++histogram[row[x]];
            ++n;
        }
    }
    int median = 0;
    int running = 0;
    for (int level = 0; level < 256; ++level) {
        running += histogram[level];
        if (2 * running >= n) {
            median = level;
            break;
        }
    }

    const int limit = median / 2;
    int64_t dark = 0;
    for (int y = ey0; y < ey1; ++y) {
        const uint8_t *row = grey.row(y);
        for (int x = ex0; x < ex1; ++x)
            dark += row[x] < limit;
    }
    const int64_t count = int64_t(ex1 - ex0) * int64_t(ey1 - ey0);
    return count > 0 ? float(double(dark) / double(count)) : 1.0f;
}

float eyeEdgeBalance(const GreyImage &grey, const QVector<QPointF> &eye)
{
    const QRectF box = eyeBox(eye);
    if (eye.size() < 4 || !(box.width() > 0) || grey.isNull())
        return 1.0f;
    const double cy = eyeCentre(eye).y();
    // The middle 70 % of the eye's width, and 22 % of it above and below its centre
    // line: the iris and the lash line, clear of the brow and of the corners.
    constexpr int columns = 17;
    constexpr int rows = 11;
    const double w = box.width();
    const double step = 0.7 * w / columns;
    const double left = box.left() + 0.15 * w + step / 2;
    const double top = cy - 0.22 * w + step / 2;
    float lattice[rows][columns];
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < columns; ++i)
            lattice[j][i] = grey.areaMean(left + i * step, top + j * step, step, std::numeric_limits<int>::max());
    double along = 0, across = 0;
    for (int j = 1; j < rows - 1; ++j) {
        for (int i = 1; i < columns - 1; ++i) {
            const double gx = lattice[j][i + 1] - lattice[j][i - 1];
            const double gy = lattice[j + 1][i] - lattice[j - 1][i];
            along += gx * gx;
            across += gy * gy;
        }
    }
    if (!(across > 0))
        return along > 0 ? std::numeric_limits<float>::max() : 1.0f;
    return float(along / across);
}

namespace {

// The pixels whose centres lie in [x0, x1) x [y0, y1) of a picture of the given size;
// absent when that leaves the picture or holds no pixel.
std::optional<QRect> pixelsWithin(double x0, double x1, double y0, double y1, int width, int height)
{
    // Written so that NaN fails too.
    if (!(x0 >= -0.5 && y0 >= -0.5 && x1 < width + 0.5 && y1 < height + 0.5))
        return std::nullopt;
    const int left = int(std::lround(x0)), right = int(std::lround(x1));
    const int top = int(std::lround(y0)), bottom = int(std::lround(y1));
    if (left < 0 || top < 0 || right > width || bottom > height || left >= right || top >= bottom)
        return std::nullopt;
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

// Luma-weighted red-minus-blue chroma over pixelsWithin the rectangle: sum(R - B) /
// sum(R + G + B). Absent when the rectangle leaves the picture or holds nothing bright
// enough to have a colour.
std::optional<double> redChroma(const QImage &image, double x0, double x1, double y0, double y1)
{
    const std::optional<QRect> area = pixelsWithin(x0, x1, y0, y1, image.width(), image.height());
    if (!area)
        return std::nullopt;
    int64_t red = 0, sum = 0;
    for (int y = area->top(); y <= area->bottom(); ++y) {
        const uchar *p = image.constScanLine(y) + 4 * area->left();
        for (int x = area->left(); x <= area->right(); ++x, p += 4) {
            red += p[0] - p[2];
            sum += p[0] + p[1] + p[2];
        }
    }
    // Under about 8 grey levels on average there is no colour to read, only noise.
    if (sum < 24 * int64_t(area->width()) * area->height())
        return std::nullopt;
    return double(red) / double(sum);
}

// The mean grey over pixelsWithin the rectangle; absent as there.
std::optional<double> greyMean(const GreyImage &grey, double x0, double x1, double y0, double y1)
{
    const std::optional<QRect> area = pixelsWithin(x0, x1, y0, y1, grey.width, grey.height);
    if (!area)
        return std::nullopt;
    int64_t sum = 0;
    for (int y = area->top(); y <= area->bottom(); ++y) {
        const uint8_t *row = grey.row(y);
        for (int x = area->left(); x <= area->right(); ++x)
            sum += row[x];
    }
    return double(sum) / (double(area->width()) * area->height());
}

// Where the eye's colour and grey are read: the middle 60 % of its outline's width,
// in a band 8 % of it above and below its centre line, and the cheek under it, 0.5 to
// 0.8 of that width below the line. Absent for an outline of fewer than 4 points or
// no width.
struct EyeAreas {
    double x0, x1;
    double middleTop, middleBottom;
    double cheekTop, cheekBottom;
};

std::optional<EyeAreas> eyeAreas(const QVector<QPointF> &eye)
{
    const QRectF box = eyeBox(eye);
    if (eye.size() < 4 || !(box.width() > 0))
        return std::nullopt;
    const double cy = eyeCentre(eye).y();
    const double w = box.width();
    return EyeAreas{box.left() + 0.2 * w, box.right() - 0.2 * w,
                    cy - 0.08 * w,        cy + 0.08 * w,
                    cy + 0.5 * w,         cy + 0.8 * w};
}

// A cheek with less chroma than this is grey (a black-and-white picture, a colourless
// light, paint): skin-coloured then means nothing. The corpus' cheeks mostly read 0.05
// to 0.45.
constexpr double minCheekChroma = 0.03;

} // namespace

std::optional<float> eyeSkinTone(const QImage &image, const QVector<QPointF> &eye)
{
    const std::optional<EyeAreas> a = eyeAreas(eye);
    if (!a || image.isNull())
        return std::nullopt;
    if (image.format() != QImage::Format_RGBA8888 && image.format() != QImage::Format_RGBA8888_Premultiplied)
        return std::nullopt;
    const std::optional<double> cheek = redChroma(image, a->x0, a->x1, a->cheekTop, a->cheekBottom);
    if (!cheek || *cheek < minCheekChroma)
        return std::nullopt;
    const std::optional<double> middle = redChroma(image, a->x0, a->x1, a->middleTop, a->middleBottom);
    if (!middle)
        return std::nullopt;
    return float(*middle / *cheek);
}

std::optional<float> faceSkinTone(const QImage &image, const DetectedFace &face)
{
    const std::optional<float> left = eyeSkinTone(image, face.leftEye);
    const std::optional<float> right = eyeSkinTone(image, face.rightEye);
    if (left && right)
        return std::min(*left, *right);
    return left ? left : right;
}

std::optional<float> eyeCheekGrey(const GreyImage &grey, const QVector<QPointF> &eye)
{
    const std::optional<EyeAreas> a = eyeAreas(eye);
    if (!a || grey.isNull())
        return std::nullopt;
    const std::optional<double> cheek = greyMean(grey, a->x0, a->x1, a->cheekTop, a->cheekBottom);
    const std::optional<double> middle = greyMean(grey, a->x0, a->x1, a->middleTop, a->middleBottom);
    if (!cheek || !middle || *cheek <= 0)
        return std::nullopt;
    return float(*middle / *cheek);
}

bool eyesAsLightAsTheCheek(const GreyImage &grey, const DetectedFace &face)
{
    for (const QVector<QPointF> *eye : {&face.leftEye, &face.rightEye}) {
        const std::optional<float> ratio = eyeCheekGrey(grey, *eye);
        if (ratio && *ratio >= FaceRules::shutEyeCheekGrey)
            return true;
    }
    return false;
}

namespace {

// The mean grey of each row of a box laid along the eye line: `origin` and the unit
// vector `along` set the frame, columns run from a0 to a1 along it and rows from b0 to
// b1 across it (downwards), a pixel apart. Empty when the box leaves the picture.
std::vector<double> rowProfile(const GreyImage &grey, QPointF origin, QPointF along, double a0, double a1, double b0,
                               double b1)
{
    const QPointF across(-along.y(), along.x());
    for (const double a : {a0, a1}) {
        for (const double b : {b0, b1}) {
            const QPointF p = origin + a * along + b * across;
            // Written so that NaN fails too.
            if (!(p.x() >= 1 && p.y() >= 1 && p.x() <= grey.width - 1 && p.y() <= grey.height - 1))
                return {};
        }
    }
    const int rows = std::max(6, int(std::lround(b1 - b0)));
    const int columns = std::max(4, int(std::lround(a1 - a0)));
    std::vector<double> profile(rows);
    for (int r = 0; r < rows; ++r) {
        const double b = b0 + (b1 - b0) * (r + 0.5) / rows;
        double sum = 0;
        for (int c = 0; c < columns; ++c) {
            const QPointF p = origin + (a0 + (a1 - a0) * (c + 0.5) / columns) * along + b * across;
            sum += grey.areaMean(p.x(), p.y(), 1.0, 1);
        }
        profile[r] = sum / columns;
    }
    return profile;
}

// The largest difference between the means of k rows on either side of a row boundary,
// k a twelfth of the rows: an edge across the box.
double largestStep(const std::vector<double> &profile)
{
    const int rows = int(profile.size());
    const int k = std::max(1, rows / 12);
    double best = 0;
    for (int r = k; r + k <= rows; ++r) {
        double above = 0, below = 0;
        for (int i = 0; i < k; ++i) {
            above += profile[r - 1 - i];
            below += profile[r + i];
        }
        best = std::max(best, std::abs(above - below) / k);
    }
    return best;
}

// The largest difference between a row and the mean of the rows s above and below it,
// for s up to a sixth of the rows: a bar across the box up to a third of its height
// thick. A gradual shade (a nose's bridge under a brow) changes little over 2s rows.
double largestRidge(const std::vector<double> &profile)
{
    const int rows = int(profile.size());
    double best = 0;
    for (int s = 1; s <= std::max(1, rows / 6); ++s) {
        for (int r = s; r + s < rows; ++r)
            best = std::max(best, std::abs(profile[r] - (profile[r - s] + profile[r + s]) / 2));
    }
    return best;
}

} // namespace

bool FaceSurroundings::plain() const
{
    return mouthWidth && bridgeRidge && creaseStep && *mouthWidth < FaceRules::broadSmileWidth
        && *bridgeRidge < FaceRules::glassesFrameRidge && *creaseStep < FaceRules::deepCreaseStep;
}

FaceSurroundings faceSurroundings(const GreyImage &grey, const DetectedFace &face)
{
    FaceSurroundings out;
    if (grey.width < 2 || grey.height < 2 || face.leftEye.size() != 6 || face.rightEye.size() != 6)
        return out;
    const QPointF left = eyeCentre(face.leftEye), right = eyeCentre(face.rightEye);
    const double apart = std::hypot(right.x() - left.x(), right.y() - left.y());
    const double eyeWidth = std::min(eyeBox(face.leftEye).width(), eyeBox(face.rightEye).width());
    if (!(apart > 0) || !(eyeWidth > 0))
        return out;
    const QPointF along = (right - left) / apart;
    const QPointF across(-along.y(), along.x());
    const auto alongOf = [&](QPointF p) { return QPointF::dotProduct(p - left, along); };
    const auto acrossOf = [&](QPointF p) { return QPointF::dotProduct(p - left, across); };

    if (face.mouth.size() == 20)
        out.mouthWidth = float((alongOf(face.mouth[6]) - alongOf(face.mouth[0])) / apart);

    const double spread = std::max(1, greySpread(grey, face.box));
    // Between the inner corners (points 3 and 0 of the outlines), their middle 60 %, from
    // 0.6 eye widths above the eye line to 0.2 below it: where a frame's bridge sits.
    const double inner0 = alongOf(face.leftEye[3]), inner1 = alongOf(face.rightEye[0]);
    const double gap = inner1 - inner0;
    if (gap > 0) {
        const std::vector<double> bridge = rowProfile(grey, left, along, inner0 + 0.2 * gap, inner1 - 0.2 * gap,
                                                      -0.6 * eyeWidth, 0.2 * eyeWidth);
        if (!bridge.empty())
            out.bridgeRidge = float(largestRidge(bridge) / spread);
    }
    // Under each eye: the middle 60 % of its width, 0.3 to 0.9 eye widths below its centre.
    std::optional<double> crease;
    for (const QVector<QPointF> *eye : {&face.leftEye, &face.rightEye}) {
        const double a0 = alongOf((*eye)[0]), a3 = alongOf((*eye)[3]);
        const double lo = std::min(a0, a3), hi = std::max(a0, a3), w = hi - lo;
        const double centre = acrossOf(eyeCentre(*eye));
        const std::vector<double> under = rowProfile(grey, left, along, lo + 0.2 * w, hi - 0.2 * w,
                                                     centre + 0.3 * eyeWidth, centre + 0.9 * eyeWidth);
        if (under.empty())
            return out;
        crease = std::max(crease.value_or(0.0), largestStep(under));
    }
    out.creaseStep = float(*crease / spread);
    return out;
}

namespace {

double narrowerEyeWidth(const DetectedFace &face)
{
    return std::min(eyeBox(face.leftEye).width(), eyeBox(face.rightEye).width());
}

float largerEdgeBalance(const GreyImage &grey, const DetectedFace &face)
{
    return std::max(eyeEdgeBalance(grey, face.leftEye), eyeEdgeBalance(grey, face.rightEye));
}

} // namespace

QRectF inFractions(const QRectF &pixels, QSizeF size)
{
    return QRectF(pixels.x() / size.width(), pixels.y() / size.height(), pixels.width() / size.width(),
                  pixels.height() / size.height());
}

QRectF inPixels(const QRectF &fractions, QSizeF size)
{
    return QRectF(fractions.x() * size.width(), fractions.y() * size.height(), fractions.width() * size.width(),
                  fractions.height() * size.height());
}

std::optional<float> faceEdgeBalance(const GreyImage &grey, const DetectedFace &face)
{
    if (narrowerEyeWidth(face) < FaceRules::minBalanceEyeWidth)
        return std::nullopt;
    return largerEdgeBalance(grey, face);
}

std::optional<float> smallEyeEdgeBalance(const GreyImage &grey, const DetectedFace &face)
{
    if (narrowerEyeWidth(face) >= FaceRules::minBalanceEyeWidth)
        return std::nullopt;
    return largerEdgeBalance(grey, face);
}

double tallestFace(const QVector<DetectedFace> &faces)
{
    double tallest = 0;
    for (const DetectedFace &face : faces) {
        if (face.box.normalized().height() >= FaceRules::minFaceHeight)
            tallest = std::max(tallest, face.box.normalized().height());
    }
    return tallest;
}

bool isMainFace(const QRectF &box, double tallest)
{
    return box.height() >= FaceRules::minFaceHeight && box.height() >= FaceRules::mainFaceShare * tallest;
}

std::optional<float> faceSharpness(const GreyImage &grey, const QVector<DetectedFace> &faces)
{
    const double tallest = tallestFace(faces);
    std::optional<float> sharpest;
    if (tallest <= 0 || grey.isNull())
        return sharpest;
    for (const DetectedFace &face : faces) {
        const QRectF box = face.box.normalized();
        if (!isMainFace(box, tallest))
            continue;
        const double insetX = 0.12 * box.width();
        const double insetY = 0.12 * box.height();
        const QRectF inner = box.adjusted(insetX, insetY, -insetX, -insetY);
        const float energy = detailEnergy(grey, inner) * contrastGain(grey, inner, ContrastGain::faceReference);
        if (!sharpest || energy > *sharpest)
            sharpest = energy;
    }
    return sharpest;
}

int hitsBesideTheOutlines(const EyeCascade &cascade, const GreyImage &grey, const DetectedFace &face, double shift)
{
    int hits = 0;
    for (const QVector<QPointF> *eye : {&face.leftEye, &face.rightEye}) {
        const QPointF along = eye->at(3) - eye->at(0);
        const QPointF down(-along.y() * shift, along.x() * shift);
        QVector<QPointF> moved = *eye;
        for (QPointF &point : moved)
            point += down;
        hits = std::max(hits, cascade.respond(grey, moved).hits);
    }
    return hits;
}

void judgeFaces(const GreyImage &grey, const QVector<DetectedFace> &faces, ImageMeasures &measures,
                const QImage *image)
{
    judgeFaces(grey, faces, measures, EyeCascade::shared(), EyeCascade::sharedGlasses(), image);
}

void judgeFaces(const GreyImage &grey, const QVector<DetectedFace> &faces, ImageMeasures &measures,
                const EyeCascade *cascade, const EyeCascade *glassesCascade, const QImage *image)
{
    // The colour is read from the picture grey was made of; any other is ignored.
    if (image && (image->width() != grey.width || image->height() != grey.height))
        image = nullptr;
    measures.faceCount = 0;
    measures.faceSharpness.reset();
    measures.closedFaces.clear();
    measures.eyeOpenness.clear();
    measures.eyeDarkness.clear();
    measures.smallEyeFaces.clear();
    if (grey.isNull())
        return;

    measures.faceSharpness = faceSharpness(grey, faces);
    const double tallest = tallestFace(faces);
    const QSizeF size(grey.width, grey.height);
    for (const DetectedFace &face : faces) {
        const QRectF box = face.box.normalized();
        if (box.height() < FaceRules::minFaceHeight)
            continue;
        ++measures.faceCount;
        if (!isMainFace(box, tallest))
            continue;
        if (face.yaw && std::abs(*face.yaw) > FaceRules::maxEyeYaw)
            continue;
        if (face.leftEye.isEmpty() || face.rightEye.isEmpty())
            continue;
        const double eyeWidth = narrowerEyeWidth(face);
        if (eyeWidth < FaceRules::minEyeWidth) {
            // Eyes that twice the scale would make wide enough to judge.
            if (eyeWidth >= FaceRules::minEyeWidth / 2)
                measures.smallEyeFaces.append({inFractions(box, size), -1, eyeWidth});
            continue;
        }
        const float open = std::max(eyeOpenRatio(face.leftEye), eyeOpenRatio(face.rightEye));
        const float dark = std::max(eyeDarkFraction(grey, face.leftEye, box),
                                    eyeDarkFraction(grey, face.rightEye, box));
        measures.eyeOpenness.append(open);
        measures.eyeDarkness.append(dark);
        // The outline's own bounds read the balance of wide eyes only, the patch model's of all.
        const float edgeBalance = largerEdgeBalance(grey, face);
        const bool wideEyes = eyeWidth >= FaceRules::minBalanceEyeWidth;
        const std::optional<float> balance = wideEyes ? std::optional<float>(edgeBalance) : std::nullopt;
        const std::optional<float> smallBalance = wideEyes ? std::nullopt : std::optional<float>(edgeBalance);
        // Under the widest bounds (a plain face the patch model calls shut) the outline may
        // call the face shut; beyond them only the patch model alone can, and only with the
        // cascades, which keep the open faces it is wrong about open.
        const bool withinBounds = FaceRules::eyesShut(open, balance, std::nullopt, true, true, smallBalance);
        if (!withinBounds && !cascade)
            continue;
        // The cascades, the colour and the patch model are read only for the few faces
        // left: the cascades, most of the cost of judging a face, only for a face still
        // called shut. What surrounds the eyes, and so the wider bounds, only with the
        // cascade, whose clear answer keeps the open faces within them open.
        const std::optional<float> tone = image ? faceSkinTone(*image, face) : std::nullopt;
        // The model is asked where the eyes' colour shows lid skin, or where the picture
        // was given and the colour cannot be read (by a wider margin, and only for eyes
        // darker than the cheek, as a lens need not be).
        const bool lidColour = tone && *tone >= FaceRules::whiteEyeTone;
        const bool colourless = image && !tone;
        const bool lidOrShade = lidColour || (colourless && !eyesAsLightAsTheCheek(grey, face));
        if (!withinBounds && !lidOrShade)
            continue;
        const float judged = FaceRules::judgedOpenness(open, tone);
        const bool plain = cascade && faceSurroundings(grey, face).plain();
        std::optional<float> patchScore;
        bool patchShut = false;
        bool patchAlone = false;
        if (cascade && lidOrShade && !(withinBounds && FaceRules::eyesShut(judged, balance, std::nullopt, plain))) {
            patchScore = EyePatch::faceShutScore(grey, face);
            patchShut = patchScore && FaceRules::patchCallsShut(*patchScore, plain, tone.has_value());
            patchAlone = patchScore && FaceRules::patchAloneCallsShut(*patchScore, plain, tone.has_value());
        }
        if (!withinBounds && !patchAlone)
            continue;
        // Eyes judged here without the balance the outline's own bounds read are read better
        // on a larger decode, where there is one; only a face that may be shut is worth its cost.
        if (!wideEyes)
            measures.smallEyeFaces.append({inFractions(box, size), int(measures.eyeOpenness.size() - 1), eyeWidth});
        bool closed = patchAlone || FaceRules::eyesShut(judged, balance, std::nullopt, plain, patchShut, smallBalance);
        if (closed) {
            std::optional<int> hits;
            bool outlineAbove = false;
            if (cascade) {
                const EyeCascade::Response left = cascade->respond(grey, face.leftEye);
                const EyeCascade::Response right = cascade->respond(grey, face.rightEye);
                hits = std::max(left.hits, right.hits);
                const int both = left.hits + right.hits;
                const double drop = both ? (left.hits * left.hitDrop + right.hits * right.hitDrop) / both : 0.0;
                outlineAbove = FaceRules::outlineAboveItsEye(both, drop);
            }
            const bool cascadeSeesOpen = hits && *hits >= FaceRules::openEyeHits;
            closed = !outlineAbove
                     && (patchAlone ? !cascadeSeesOpen
                                    : FaceRules::eyesShut(judged, balance, hits, plain, patchShut, smallBalance));
            // The second cascade is searched only when the colour sees an open eye, or
            // when there is no colour to read.
            if (closed && glassesCascade && (!tone || *tone < FaceRules::whiteEyeTone)) {
                const int glassesHits = std::max(glassesCascade->respond(grey, face.leftEye).hits,
                                                 glassesCascade->respond(grey, face.rightEye).hits);
                closed = !FaceRules::glassesCascadeSeesOpen(tone, glassesHits);
            }
            // Last, the patch model's clear answer that the eyes are open.
            if (closed) {
                if (!patchScore)
                    patchScore = EyePatch::faceShutScore(grey, face);
                closed = !(patchScore && FaceRules::patchSeesOpen(*patchScore, plain, tone.has_value()));
            }
            // Last, an open eye an eye's width above or below the outlines.
            if (closed && cascade) {
                const double shift = FaceRules::besideOutlineShift;
                closed = hitsBesideTheOutlines(*cascade, grey, face, -shift) < FaceRules::openEyeHits
                         && hitsBesideTheOutlines(*cascade, grey, face, shift) < FaceRules::openEyeHits;
            }
        }
        if (closed) {
            measures.closedFaces.append(inFractions(box, size));
        }
    }
}
