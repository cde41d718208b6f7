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
// for the two eyes; all are empty when no landmarks were found.
struct DetectedFace {
    QRectF box;
    std::optional<double> yaw;    // radians, 0 facing the camera
    QVector<QPointF> leftEye;
    QVector<QPointF> rightEye;
    // The mouth's outer and inner lip outlines (dlib's points 48-67: the corners are
    // 0 and 6, the inner lips' middles 14 and 18); empty without landmarks.
    QVector<QPointF> mouth;
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
// A face is suggested as closed-eyed only where no open face measured reads: a good
// photo suggested for the Trash costs more than a blink left unflagged. Measured on
// 184 open-eyed faces (the corpus and the repository's 100 portraits, which add broad
// smiles, squints in sunlight, glasses and lowered glances) against 36 shut ones:
//
// An eye flatter than this is shut whatever else is seen (but see judgedOpenness).
// Open eyes narrowed by a laugh read down to 0.19 in the portraits and 0.24 in the
// corpus; in shade, flat light or reduced, the later face photos down to 0.154. Shut
// ones read 0.10 to 0.38.
constexpr float closedOpenness = 0.14f;
// Eyes large enough for their edges to be read: between closedOpenness and
// balanceOpenness, shut when the middle of both eyes changes along its rows less than
// shutEdgeBalance times as much as across them (see eyeEdgeBalance). Smiling and
// squinting open eyes come as low as openness 0.22 with a balance of 0.16 (an eye
// narrowed by a laugh is a slit between two lids, mostly edges across it), and every
// cascade may be silent on them, so only what lies clearly below them is taken: no open
// face of the 184 is within 0.02 of both bounds. Shut eyes of the corpus mostly read a
// balance under 0.25; the ones above are left unflagged.
constexpr float balanceOpenness = 0.26f;
constexpr float shutEdgeBalance = 0.14f;
// The balance drops as an eye shrinks and its iris blurs into the white: open eyes
// reduced to 16 px reach 0.24. These bounds read it only on eyes at least this wide,
// where the open eyes' lowest is 0.29 (the patch model's bounds, below, on all).
constexpr double minBalanceEyeWidth = 24.0;

// The open-eye cascade (EyeCascade) reads the eyes from box sums it learnt, not from
// the landmark outline that the openness and the edge balance both depend on, so it
// errs on other faces. Its answer is the larger number of windows around either eye
// that pass every stage (of 1,273 searched). Open eyes of the corpus gave 11 to 334,
// nine in ten above 45; shut ones 0 to 41, winks aside.
// A face the outline rules call shut is left unflagged when the cascade clearly sees an
// open eye: unsure faces are not suggested for the Trash. Its silence is no sign of a
// shut eye: it answers none of a laugh's narrowed eyes, nor eyes behind a frame.
constexpr int openEyeHits = 45;

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

// The landmarks can also put an outline a whole eye's width off the eye: on the lower
// rim of a heavy glasses frame, or on the frame or the brow above. There the outline
// reads flat and the cascade, searched around it, finds nothing, so the face reads
// shut. The cascade is searched once more with both outlines moved this share of their
// width up and down the face; an open eye it answers there with openEyeHits windows or
// more keeps the face open. Shut faces answered at most 29 windows there (above the
// lid; 13 on the repository's faces in every edit; 21 below any shut eye), an open face
// whose outlines lay on the lower rim of his glasses 140.
constexpr double besideOutlineShift = 0.9;

// Without a colour to read (a black-and-white photo), the second cascade's clear answer
// stands in for it, as the first cascade's does: this many windows or more see an open
// eye. Of the shut faces in every edit it gave at most 41 (a face reduced to 35 %),
// most under 30; a woman laughing behind glasses, her open eyes narrowed to slits, whose
// outline reads flat in black and white with flat light, gave 52.
constexpr int openEyeGlassesHits = 45;

// Whether the second cascade's answer sees an open eye: together with the eyes' colour
// (faceSkinTone) under whiteEyeTone when the colour can be read, by its clear answer
// alone when it cannot.
inline bool glassesCascadeSeesOpen(std::optional<float> tone, std::optional<int> glassesHits)
{
    if (!glassesHits)
        return false;
    if (!tone)
        return *glassesHits >= openEyeGlassesHits;
    return *tone < whiteEyeTone && *glassesHits >= glassesSeeOpen;
}

// What narrows an open eye to a shut one's outline and edges, or puts the outline on
// something else, shows around the eyes: a broad smile raises the cheeks into the lower
// lids, a glasses frame draws lines the landmarks follow, deep creases under an old
// face's eyes narrow them. The open faces whose eyes read like shut ones (a laugh,
// squints and smiles behind glasses, an old man's narrowed eyes) all show one of them;
// a face that shows none (a plain face, FaceSurroundings) is judged by wider bounds.
//
// A broad smile: the mouth's corners at least this far apart, in distances between the
// eyes' centres. The smiling open faces whose eyes read within the plain bounds below
// measured 1.00 to 1.18 in every edit (the two under 1.05 also wear glasses or are kept
// open by their eyes' colour); the corpus' shut faces 0.67 to 1.13, three in four
// under 1.0.
constexpr float broadSmileWidth = 1.0f;
// A frame across the bridge of the nose: a thin bar across the eye line between the
// eyes, darker or lighter than the rows either side of it by this share of the face's
// grey spread (the plain bridge of a nose shades off gradually). Glasses of the
// portraits read 0.12 to 0.80, the open faces whose eyes read within the plain bounds
// behind glasses 0.17 or more in every edit; the shut faces without glasses up to 0.11.
constexpr float glassesFrameRidge = 0.10f;
// A deep crease under an eye: a step across the rows 0.3 to 0.9 eye widths below it of
// this share of the face's grey spread. The old man's narrowed open eyes read 0.30 to
// 0.32 in every edit; the corpus' shut faces 0.02 to 0.21, nine in ten under 0.13.
constexpr float deepCreaseStep = 0.20f;
// The bounds of the edge balance for a plain face, read only with the cascade: shut eyes
// whose outline dlib places a little open, with lashes and lids that change across more
// than along, read within them. The open plain faces that come within them (openness
// 0.30 to 0.32 with balances of 0.18 to 0.24, in some edits) are answered by the cascade
// with 87 windows or more, which keeps them open.
constexpr float plainBalanceOpenness = 0.32f;
constexpr float plainShutEdgeBalance = 0.25f;
// Wider still for a plain face whose eye patches the patch model (EyePatch) calls shut
// and whose eyes' colour shows lid skin (eyeSkinTone at least whiteEyeTone): answers
// from three sources, the outline and its edges, how the eyes look in grey, and their
// colour. The colour keeps out mirrored sunglasses, whose lenses reflect a horizon the
// model reads as a lash line. Measured with scripts/train-eye-patch-model.py on faces
// the model was not trained on (each folder of open faces left out in turn): no open
// face of the corpus, the portraits or the face photos, in any edit, is flagged; the
// one plain open face within these bounds that no veto keeps open (a portrait reduced
// to 60 %) the model scores 2.0 under its bound.
constexpr float patchOpenness = 0.40f;
constexpr float patchShutEdgeBalance = 0.50f;
// These bounds also take the balance of eyes narrower than minBalanceEyeWidth (down to
// minEyeWidth), which the outline's own bounds leave unread: a group photo or a face
// across a room has eyes of that size at the analysis scale, and without it only the
// flattest shut outlines were flagged there. The balance alone does not separate at
// that size (open eyes reduced to 16 px reach 0.24, well under this bound): it only
// narrows what the model and the colour must both answer for.
// Measured with the training script on faces the model was not trained on: of the shut
// faces reduced to 60 % and 35 %, 28 of 36 and 13 of 22 flagged instead of 23 and 8
// (29 and 16 with the open folders held out), and no open face in any edit.
// A face that shows what narrows an open eye (a broad smile, a bar across the bridge of
// the nose, deep creases) is judged by the same bounds when the patch model is surer:
// its score at least this far over the model's bound. Such faces bring more open eyes
// within the bounds, so the model's answer alone is trusted less far. Measured with the
// training script on faces the model was not trained on: the open faces of this kind
// within the bounds that no veto keeps open (smiles of the portraits and the corpus, a
// smile behind glasses) score -0.7 at most, and a face's score moves by several points
// between models trained on different faces.
constexpr float notPlainPatchScore = 1.0f;

// A face whose eyes' colour cannot be read (faceSkinTone absent: a black-and-white
// photo, a colourless light, a cheek outside the picture) is judged by the same bounds
// when the patch model is surer by this much: nothing then keeps out what else it reads
// as a lash line, such as a glance lowered through glasses, which the colour keeps open
// by its iris. Measured with the training script (--mono: every face judged without its
// colour) on faces the model was not trained on: at the model's bare bound a blurred
// open face (its folder held out) and a glance lowered through glasses are flagged, at
// 1.5 the glance of faces/017 still is (in colour too), from 2.0 nothing that the colour
// leaves unflagged; with this margin, of the shut faces 27 of 40 are flagged in the
// originals (31 with their colour, 25 by the outline alone) and 23 of 39 at 60 %.
constexpr float colourlessPatchScore = 2.5f;
// Without the colour, what keeps out lenses: a shut eye lies in the shade of its socket,
// and the middle of its outline (the lash line, the lid's crease) reads darker than the
// cheek below it (eyeCheekGrey). A lens is not skin: mirrored sunglasses reflecting the
// sky read as bright as the cheek or brighter. Of the shut faces the colourless path
// flags, in every edit, no eye reads over 0.95; the mirrored sunglasses it flagged
// without this read 1.01 to 1.08.
constexpr float shutEyeCheekGrey = 1.0f;

// Whether the patch model's score for a face calls its eyes shut, for a plain face or
// one that shows what narrows an open eye, and with the eyes' colour read or not.
inline bool patchCallsShut(float score, bool plain, bool colourRead = true)
{
    return score > (plain ? 0.0f : notPlainPatchScore) + (colourRead ? 0.0f : colourlessPatchScore);
}

// The patch model's clear answer the other way: a face whose eyes it calls open by this
// much or more below its bound is open, whatever the outline and the edges say. Old eyes
// narrowed by a broad smile read like shut ones to the outline, with skin-coloured
// middles and no cascade window; the model sees the dark of the eye between the lids.
// Measured with the training script on faces the model was not trained on (every
// edit): at -5 the two open faces that the outline called shut are still flagged when
// their folder is held out, at -3 neither is. Open faces reduced to every size between
// 40 and 95 % showed more: laughs and narrowed lids whose outline and edges read shut
// at one size and not the next, with the model 2.1 to 3.0 below its bound (portraits
// 079 and 028). At -2 none of those is flagged.
// Faces from outside the repository told more: of 6,707 open faces of a public face set
// (small, evenly lit crops of every age), the rule flagged 32, smiles, squints and
// glasses whose outline reads flat; the model scored 25 of them under its bound, 7
// plain ones between -2 and -1 and 15 that are not plain between -2 and 0. Shut faces
// of a public set of closed eyes score -1.7 at the tenth percentile, so the bound moved
// to -1 on a plain face and 0 on one that is not: 10 of the 6,707 are flagged, and the
// training script's folds flag no open face and as many shut ones (see
// docs/closed-eye-rule.md, "Two public face sets"). Without the colour the bound stays
// at -2: there the model is read only by a wider margin, and the folds lose shut faces
// at -1 that no open face stands against.
constexpr float patchOpenScore = -1.0f;
constexpr float colourlessPatchOpenScore = -2.0f;

inline bool patchSeesOpen(float score, bool plain = true, bool colourRead = true)
{
    if (!colourRead)
        return score <= colourlessPatchOpenScore;
    return score <= patchOpenScore + (plain ? 0.0f : notPlainPatchScore);
}

// The patch model's answer alone, where the outline and its edges are read wrong: a face
// it calls shut by this much more than patchCallsShut asks is shut whatever its outline
// and edges say, unless a cascade or the colour sees an open eye (the vetoes above), and
// only when its eyes' colour shows lid skin (or, without colour, they read darker than
// the cheek). dlib's outline of a shut eye often follows the lashes' curve and the lid's
// crease and reads open (openness 0.4 and more). Of the 790 judged faces of a public set
// of closed eyes it adds 22 to the 468 the rule flagged, and none of 6,707 open faces;
// the training script's folds flag no open face with it, 3 with a margin of 0.5.
constexpr float patchAloneMargin = 1.0f;

inline bool patchAloneCallsShut(float score, bool plain, bool colourRead = true)
{
    return patchCallsShut(score - patchAloneMargin, plain, colourRead);
}

// The openness the verdict reads: an outline flatter than closedOpenness over eyes whose
// middle shows white and iris (the colour under whiteEyeTone) is two cues disagreeing,
// as when the landmarks of a laugh's slits or of a small face in flat light fall on one
// line. It is then read at closedOpenness, so that the other lines decide.
inline float judgedOpenness(float open, std::optional<float> tone)
{
    return open < closedOpenness && tone && *tone < whiteEyeTone ? closedOpenness : open;
}

// The verdict on one face from its larger openness, its edge balance (absent when the
// eyes are too small to read it), the cascade's hits (absent without the cascade),
// whether the face is plain (nothing around the eyes that narrows them; only with the
// cascade, whose clear answer keeps the open plain faces within these bounds open),
// whether the patch model calls its eyes shut (patchCallsShut; only with the cascade)
// and the balance of eyes too small for `balance` (smallEyeEdgeBalance), which only the
// patch model's bounds read, and only on a plain face: eyes of 16 to 24 px narrowed by a
// laugh, a frame or a crease are the least sure reading there is. Over every judged face
// of the corpus and the repository and of their mirror images, no shut face was called
// shut that way, and one open one was, the middle of three women laughing, mirrored.
inline bool eyesShut(float open, std::optional<float> balance, std::optional<int> hits = std::nullopt,
                     bool plain = false, bool patchShut = false, std::optional<float> smallEyeBalance = std::nullopt)
{
    if (hits && *hits >= openEyeHits)
        return false;
    if (open < closedOpenness)
        return true;
    const std::optional<float> patchBalance = balance ? balance : smallEyeBalance;
    if (patchShut && patchBalance && (balance || plain) && open < patchOpenness && *patchBalance < patchShutEdgeBalance)
        return true;
    if (!balance)
        return false;
    if (plain)
        return open < plainBalanceOpenness && *balance < plainShutEdgeBalance;
    return open < balanceOpenness && *balance < shutEdgeBalance;
}
} // namespace FaceRules

// Height over width of the outline's bounding box; 1.0 (wide open) when there are
// fewer than 4 points or the outline has no width.
float eyeOpenRatio(const QVector<QPointF> &eye);

// Mean of the outline's points; the origin when there are none.
QPointF eyeCentre(const QVector<QPointF> &eye);

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

// The mean grey of an eye's middle over that of the cheek below it, over the same areas
// as eyeSkinTone. Absent when either area lies outside the picture or the cheek is black.
std::optional<float> eyeCheekGrey(const GreyImage &grey, const QVector<QPointF> &eye);

// Whether either eye of a face reads at least FaceRules::shutEyeCheekGrey, as no shut
// eye does; false when neither can be read.
bool eyesAsLightAsTheCheek(const GreyImage &grey, const DetectedFace &face);

// What surrounds a face's eyes (see FaceRules::broadSmileWidth and the bounds after it),
// each absent when it cannot be read: without the mouth's landmarks, or where the area
// it reads leaves the picture. Rows and columns follow the line through the eyes'
// centres, so a tilted head reads like an upright one.
struct FaceSurroundings {
    std::optional<float> mouthWidth;   // corners apart, over the eyes' centres apart
    std::optional<float> bridgeRidge;  // thin bar across the bridge of the nose, over the grey spread
    std::optional<float> creaseStep;   // largest step under either eye, over the grey spread

    // Nothing read that narrows an open eye: every measure present and under its bound.
    bool plain() const;
};
FaceSurroundings faceSurroundings(const GreyImage &grey, const DetectedFace &face);

// The larger edge balance of a face's two eyes; absent when either eye is narrower than
// FaceRules::minBalanceEyeWidth.
std::optional<float> faceEdgeBalance(const GreyImage &grey, const DetectedFace &face);
// The same for the eyes faceEdgeBalance leaves unread: absent when both eyes are at least
// FaceRules::minBalanceEyeWidth wide (read faceEdgeBalance then).
std::optional<float> smallEyeEdgeBalance(const GreyImage &grey, const DetectedFace &face);

// A box in pixels of a picture of `size` as fractions of it (origin top-left), and back.
QRectF inFractions(const QRectF &pixels, QSizeF size);
QRectF inPixels(const QRectF &fractions, QSizeF size);

// Height of the tallest face counted (at least FaceRules::minFaceHeight), 0 when none is.
double tallestFace(const QVector<DetectedFace> &faces);
// Whether a face of `box` is a main face of a photo whose tallest counted face is `tallest`.
bool isMainFace(const QRectF &box, double tallest);

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

// The cascade's larger answer over a face's two eyes with both outlines moved `shift` of
// their width across the line between their corners (positive: down the face); see
// FaceRules::besideOutlineShift.
int hitsBesideTheOutlines(const EyeCascade &cascade, const GreyImage &grey, const DetectedFace &face, double shift);
