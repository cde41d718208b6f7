#pragma once

#include "SharpnessMeasures.h"

#include <QPointF>
#include <QString>
#include <QVector>

#include <memory>

// An open-eye detector that knows nothing of landmarks or edge energies: the boosted
// Haar cascade that OpenCV trained on open eyes (Debian's opencv-data ships it as
// haarcascade_eye.xml), evaluated here by our own code. Its features are box sums
// learnt from thousands of eye crops, so it fails for other reasons than the outline
// and the edge balance, which both read the same landmark points: it responds to the
// dark iris in a white surround and hardly at all to a shut lid. The same code reads
// OpenCV's cascade for eyes with glasses, whose tree stages use 45-degree features too.
class EyeCascade
{
public:
    // How strongly one eye answers the cascade, searched over a few window sizes and
    // positions around the landmark eye.
    struct Response {
        int windows = 0;     // windows evaluated
        int hits = 0;        // windows that passed every stage
        int deepest = 0;     // most stages passed by any window
        // How far below the outline's centre the passing windows are centred on
        // average, in outline widths (negative: above it); 0 without hits. The
        // cascade looks for the eye itself, so where its hits gather is where it saw
        // one, whatever the landmarks said.
        double hitDrop = 0;
    };

    // The shared cascade, loaded once; null when the file is missing or unreadable
    // (the program then judges eyes without it).
    static const EyeCascade *shared();
    // GLANTO_EYE_CASCADE when set, else Debian's opencv-data copy.
    static QString cascadePath();
    // The second open-eye cascade, trained on eyes with and without glasses
    // (haarcascade_eye_tree_eyeglasses.xml: tree stages and 45-degree features), loaded
    // once; null when it cannot be read.
    static const EyeCascade *sharedGlasses();
    // GLANTO_EYE_GLASSES_CASCADE when set, else Debian's opencv-data copy.
    static QString glassesCascadePath();
    // Reads a cascade in OpenCV's XML layout (stump or tree stages, upright or tilted
    // features); null when it cannot be read.
    static std::unique_ptr<EyeCascade> load(const QString &path);

    ~EyeCascade();
    int stageCount() const;

    // Searches around the eye outlined by `eye` (analysis-image pixels): window sides
    // from 1.0 to 2.2 times the outline's width, centres within a third of its width
    // of the outline's centre.
    Response respond(const GreyImage &grey, const QVector<QPointF> &eye) const;

    // The stages that a 20 x 20 (window-sized) grey patch passes; for tests.
    int stagesPassed(const GreyImage &patch) const;

private:
    EyeCascade();
    struct Private;
    std::unique_ptr<Private> d;
};
