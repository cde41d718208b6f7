#pragma once

#include "FaceEyes.h"

#include <QImage>
#include <QString>
#include <QVector>

#include <array>
#include <memory>
#include <optional>

// Finds faces with dlib's HOG frontal-face detector and places the 68 landmarks on
// them. Not thread-safe: each worker owns one detector (copying the shared prototype
// is cheap, building it is not). The landmark model is shared by all detectors.
class FaceEyesDetector
{
public:
    // Where faces between 40 and about 80 pixels tall are looked for. The detector's
    // window is 80 pixels, so smaller faces need a 2x upsampled search.
    enum class SmallFaces {
        skip,       // only faces of about 80 pixels and up
        targeted,   // upsampled search only around skin-coloured patches of face size
        everywhere, // upsampled search over the whole picture (about 4x the cost)
    };

    FaceEyesDetector();
    ~FaceEyesDetector();
    FaceEyesDetector(const FaceEyesDetector &) = delete;
    FaceEyesDetector &operator=(const FaceEyesDetector &) = delete;

    // Faces with their eye outlines and yaw, in the order found (largest scale first).
    QVector<DetectedFace> detect(const QImage &image, const GreyImage &grey,
                                 SmallFaces smallFaces = SmallFaces::targeted);

    // The two steps of detect, for measuring them apart.
    QVector<DetectedFace> findFaces(const QImage &image, const GreyImage &grey,
                                    SmallFaces smallFaces = SmallFaces::targeted);
    void placeLandmarks(const GreyImage &grey, QVector<DetectedFace> &faces);
    // The plain pass alone: faces of about 80 pixels and up, without the close-up search
    // of a picture that shows none, and without landmarks.
    QVector<DetectedFace> findLargeFaces(const GreyImage &grey);

    // Whether faces under 160 px get their landmarks on a 2x copy of their area (the
    // default), for half-pixel eye outlines; off places them on the picture itself.
    void setFineLandmarks(bool fine);

    // Whether the face search sums its filters with AVX2 and FMA where the CPU has them
    // (the default); off runs dlib's own filtering, for comparing the two.
    void setVectorFilters(bool vector);
    static bool hasVectorFilters();

    // How strongly the detector sees the face in `box` (pixels of grey) with the picture
    // as it is and turned by one, two and three quarters clockwise: the best score of a
    // face of about the box's size and place in each, or nullopt where none is found.
    // A face lying on its side or upside down can still be found upright (a face's
    // outline is much the same either way up) but scores higher when turned upright.
    std::array<std::optional<double>, 4> turnScores(const GreyImage &grey, const QRectF &box);
    // The area the last findFaces searched at 2x, as a share of the picture (diagnostics).
    double lastUpsampledShare() const;

    // Whether the landmark model could be loaded; without it faces have no eyes. The
    // first call reads it (100 MB, over half a second), once per process.
    static bool hasLandmarkModel();
    // Unpacks dlib's face detector, which every detector copies, if no call has yet
    // (about half a second, once per process).
    static void unpackFaceDetector();
    // The landmark model file: GLANTO_LANDMARK_MODEL when set, else Debian's libdlib-data.
    static QString landmarkModelPath();

private:
    struct Private;
    std::unique_ptr<Private> d;
};
