#pragma once

#include "SharpnessMeasures.h"

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QVector>

#include <optional>

class EyeCascade;
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
// The main faces of a photo: at least this share of the tallest counted face's height.
// Only they take part in the face sharpness and have their eyes judged. A much smaller
// face is someone in the background: whether a passer-by blinked or is in focus does
// not make the photo a bad one, and the eyes of the smallest faces are the ones read
// least reliably.
constexpr double mainFaceShare = 0.5;
// Beyond this yaw (radians) one eye is foreshortened or hidden and cannot be judged.
constexpr double maxEyeYaw = 1.0;
// Eyes narrower than this (pixels of the analysis image, the narrower of the two
// outlines) are not judged: the pupil and the lash line, the dark parts of an open eye,
// are then under two pixels and blur away, and the outline's height is a pixel or two,
// so a smiling, light-eyed face reads as shut. Such a face is still counted.
constexpr double minEyeWidth = 16.0;
// An eye flatter than this is shut whatever its colour.
constexpr float closedOpenness = 0.19f;
// Eyes too small for their edges to be read (under minBalanceEyeWidth): between the two
// openness values, shut unless enough iris and lashes show as dark pixels.
constexpr float squintOpenness = 0.36f;
constexpr float openDarkness = 0.14f;
// Eyes large enough: between closedOpenness and this, shut when the middle of both eyes
// changes along its rows less than shutEdgeBalance times as much as across them (see
// eyeEdgeBalance). On dlib's outlines the openness of shut eyes spreads from 0.10 to
// 0.39, into the open eyes' 0.24 to 0.60, so the outline alone cannot tell them apart;
// the darkness cannot either: lashes of a shut eye are dark, and the eyes of a darker
// face in shade are not darker than half its median. Open eyes' larger edge balance was
// at least 0.32, shut eyes' mostly under 0.25. The edges of light irises in dim light
// read low as well, so the outline must also be narrower than three open eyes in four.
constexpr float balanceOpenness = 0.32f;
constexpr float shutEdgeBalance = 0.25f;
// The balance drops as an eye shrinks and its iris blurs into the white: open eyes
// reduced to 16 px reach 0.24. It is read only on eyes at least this wide, where the
// open eyes' lowest is 0.29.
constexpr double minBalanceEyeWidth = 24.0;

// The open-eye cascade (EyeCascade) reads the eyes from box sums it learnt, not from
// the landmark outline that the openness and the edge balance both depend on, so it
// errs on other faces. Its answer is the larger number of windows around either eye
// that pass every stage (of 1,273 searched). Open eyes of the corpus gave 11 to 334,
// nine in ten above 45; shut ones 0 to 41, winks aside.
// A face the outline rules call shut is left unflagged when the cascade clearly sees an
// open eye: unsure faces are not suggested for the Trash.
constexpr int openEyeHits = 45;
// Eyes large enough for the balance: also shut when the cascade finds next to nothing
// (no open eye gave fewer than 11 hits) and the outline and the balance, though above
// their own bounds, are still below what most open eyes show.
constexpr int shutEyeHits = 8;
constexpr float agreedOpenness = 0.40f;
constexpr float agreedEdgeBalance = 0.45f;
// The second cascade (EyeCascade::sharedGlasses) was trained on other eye crops, with
// and without glasses, and also has 45-degree features. It answers a shut lid even less
// than the first: the shut faces of the corpus gave it 0 to 29 windows, half of them 4
// or fewer, while the open faces whose outline and edges read like shut ones (openness
// under agreedOpenness, balance under glassesEdgeBalance, the first cascade under
// openEyeHits) gave it 11 or more, in every edit of the robustness bench. Eyes large
// enough for the balance are also shut when it finds next to nothing there. The open
// faces it answers as weakly as shut ones (0 to 6 windows) had a balance of 0.40 or
// more in every edit, so the balance bound sits below that.
constexpr int shutGlassesHits = 4;
constexpr float glassesEdgeBalance = 0.35f;

// Two answers that keep a face open whatever the cues above say, because they show
// that those cues were read where the eye is not, or missed an open eye:
//
// The first cascade searches around the outline for the eye itself. On open faces of the
// corpus its hits (10 or more of both eyes) centre within a sixth of the eye's width of
// the outline's centre (-0.16 to +0.09, in every edit of the robustness bench); those
// on shut faces gather at the brow and lid above the lash line (-0.26 to +0.07), since
// below a shut eye there is only cheek. When they centre well below the outline, the
// landmarks were placed above the eye (on a brow or a glasses frame) and the outline's
// openness and edges describe the wrong place: the open face whose outline sat there
// had its hits centred 0.22 to 0.29 eye widths lower.
constexpr int minPlacingHits = 10;      // of both eyes together
constexpr double outlineAboveEye = 0.15;
// The colour of the eye's middle (eyeSkinTone) tells white and iris from lid skin,
// which no grey cue can. Alone it is fooled by make-up and face paint on a shut lid
// (shut faces reach 0.06, open ones 1.97), so it counts only together with the second
// cascade: the shut faces with a tone under whiteEyeTone gave it at most 18 windows,
// and those it gave 24 windows or more had a tone of 0.78 or more. The open faces that
// meet both (a tone of 0.34 or less and 29 windows or more) include one the outline and
// the edges call shut once it is softened by a 1 px blur.
constexpr float whiteEyeTone = 0.5f;
constexpr int glassesSeeOpen = 24;

// Whether the first cascade's hits of both eyes (their number and hit-weighted mean
// EyeCascade::Response::hitDrop) show the outline well above the eye it found.
inline bool outlineAboveItsEye(int hits, double meanDrop)
{
    return hits >= minPlacingHits && meanDrop > outlineAboveEye;
}

// Whether the colour of the eyes (faceSkinTone) and the second cascade's answer both
// see an open eye.
inline bool colourAndGlassesSeeOpen(std::optional<float> tone, std::optional<int> glassesHits)
{
    return tone && glassesHits && *tone < whiteEyeTone && *glassesHits >= glassesSeeOpen;
}

// The verdict on one face from its larger openness, darkness, edge balance (absent when
// the eyes are too small to read it), the cascade's hits and the second cascade's
// (absent without the cascade, or when not read).
inline bool eyesShut(float open, float dark, std::optional<float> balance, std::optional<int> hits = std::nullopt,
                     std::optional<int> glassesHits = std::nullopt)
{
    if (hits && *hits >= openEyeHits)
        return false;
    if (open < closedOpenness)
        return true;
    if (balance) {
        if (open < balanceOpenness && *balance < shutEdgeBalance)
            return true;
        if (glassesHits && *glassesHits <= shutGlassesHits && open < agreedOpenness && *balance < glassesEdgeBalance)
            return true;
        return hits && *hits <= shutEyeHits && open < agreedOpenness && *balance < agreedEdgeBalance;
    }
    return open < squintOpenness && dark < openDarkness;
}

// Whether the second cascade's answer could change the verdict of eyesShut: it is read
// only then, since most faces are settled without it.
inline bool needsGlassesHits(float open, std::optional<float> balance, std::optional<int> hits)
{
    return balance && !(hits && (*hits >= openEyeHits || *hits <= shutEyeHits)) && open >= closedOpenness
           && open < agreedOpenness && *balance < glassesEdgeBalance
           && !(open < balanceOpenness && *balance < shutEdgeBalance);
}
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

// How much an eye's middle changes along its rows against across them: the energy of
// horizontal over vertical grey differences in a band through the middle of the eye,
// read on a fixed lattice so that it means the same for a 16 px and a 150 px eye. An
// open eye's middle crosses white, iris and pupil, which changes along the row; a shut
// one is lid skin over a lash line, which changes only across it. 1.0 (open) when the
// outline has fewer than 4 points or no width.
float eyeEdgeBalance(const GreyImage &grey, const QVector<QPointF> &eye);

// How much the middle of an eye is coloured like the skin below it: the luma-weighted
// red-minus-blue chroma, (R - B) / (R + G + B) summed over the middle 60 % of the eye's
// width and 8 % of it above and below its centre line, over the same of the cheek
// between 0.5 and 0.8 eye widths below the centre line. A shut lid is skin (about 1);
// an open eye's middle is neutral white and an iris, dark (weighing little) or blue
// (negative), which brings it down. Shade and flat light scale both alike. Absent when
// the cheek shows too little colour to compare with (a grey picture, a colourless
// light) or either area lies outside the picture.
std::optional<float> eyeSkinTone(const QImage &image, const QVector<QPointF> &eye);

// The lower skin tone of a face's two eyes (the eye that looks more open, as the
// openness counts the more open one); absent when neither can be read.
std::optional<float> faceSkinTone(const QImage &image, const DetectedFace &face);

// The larger edge balance of a face's two eyes; absent when either eye is narrower than
// FaceRules::minBalanceEyeWidth.
std::optional<float> faceEdgeBalance(const GreyImage &grey, const DetectedFace &face);

// The sharpness of a photo's faces: detailEnergy over each face box inset by 12 % on
// every side, raised by the face's own contrastGain, the largest of the faces at least
// mainFaceShare as tall as the largest counted face. A group photo is in focus when one
// of its people is, and the tallest box is not always the one the camera focused on;
// faces much smaller than the main one are background, whose focus does not decide.
// Absent when no face is counted.
std::optional<float> faceSharpness(const GreyImage &grey, const QVector<DetectedFace> &faces);

// Applies the face rules to the detected faces in order: counts the faces tall enough,
// measures their sharpness (faceSharpness) and judges the eyes of each main face unless
// the head is turned too far or the eyes are too small to measure. Fills the face fields of measures.
// The open-eye cascades' answers are read with `cascade` and `glassesCascade`
// (EyeCascade::shared() and sharedGlasses() unless given; null judges the eyes without).
// `image` is the colour picture `grey` was made from (RGBA8888, premultiplied or not);
// without it the eyes are judged without their colour.
void judgeFaces(const GreyImage &grey, const QVector<DetectedFace> &faces, ImageMeasures &measures,
                const QImage *image = nullptr);
void judgeFaces(const GreyImage &grey, const QVector<DetectedFace> &faces, ImageMeasures &measures,
                const EyeCascade *cascade, const EyeCascade *glassesCascade, const QImage *image = nullptr);
