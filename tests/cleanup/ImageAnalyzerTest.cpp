#include "cleanup/FaceEyes.h"
#include "cleanup/FaceEyesDetector.h"
#include "cleanup/FeaturePrint.h"
#include "cleanup/ImageMeasures.h"
#include "cleanup/SharpnessMeasures.h"
#include "TestData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include <QDir>
#include <QFile>
#include <QMap>
#include <QImageReader>
#include <QLineF>
#include <QPainter>
#include <QTransform>

namespace {

QImage corpusImage(const QString &relative, int maxSide = 1280)
{
    QImageReader reader(TestData::photo(relative));
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && std::max(size.width(), size.height()) > maxSide)
        reader.setScaledSize(size.scaled(maxSide, maxSide, Qt::KeepAspectRatio));
    return reader.read().convertToFormat(QImage::Format_RGBA8888_Premultiplied);
}

// A photo of the repository's face folder, as the analyzer reads it.
QImage facePhoto(const char *name)
{
    QImageReader reader(QStringLiteral(GLANTO_SOURCE_DIR "/tests/data/faces/") + QLatin1String(name));
    return reader.read().convertToFormat(QImage::Format_RGBA8888_Premultiplied);
}

// One analyzer for the whole file: building the detector and reading the landmark
// model are the slow parts.
ImageAnalyzer &analyzer()
{
    static ImageAnalyzer instance;
    return instance;
}

// Every channel pulled towards mid-grey, keeping `share` of its distance: flat light.
QImage withContrast(const QImage &image, double share)
{
    QImage out = image.convertToFormat(QImage::Format_RGBA8888);
    for (int y = 0; y < out.height(); ++y) {
        uchar *p = out.scanLine(y);
        for (int x = 0; x < out.width() * 4; ++x) {
            if (x % 4 != 3)
                p[x] = uchar(std::lround(128 + (p[x] - 128) * share));
        }
    }
    return out.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
}

// Three passes of a 5 x 5 box: close to a Gaussian blur of 2.4 px.
QImage blurred(const QImage &image)
{
    QImage out = image.convertToFormat(QImage::Format_RGBA8888);
    const int w = out.width(), h = out.height();
    std::vector<int> line(size_t(std::max(w, h)) * 4);
    for (int pass = 0; pass < 6; ++pass) {
        const bool rows = pass % 2 == 0;
        const int lines = rows ? h : w, length = rows ? w : h;
        for (int l = 0; l < lines; ++l) {
            const auto at = [&](int i) { return rows ? out.scanLine(l) + 4 * i : out.scanLine(i) + 4 * l; };
            for (int i = 0; i < length; ++i)
                for (int c = 0; c < 4; ++c)
                    line[size_t(i) * 4 + c] = at(i)[c];
            for (int i = 0; i < length; ++i)
                for (int c = 0; c < 4; ++c) {
                    int sum = 0;
                    for (int k = -2; k <= 2; ++k)
                        sum += line[size_t(std::clamp(i + k, 0, length - 1)) * 4 + c];
                    at(i)[c] = uchar((sum + 2) / 5);
                }
        }
    }
    return out.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
}

} // namespace

TEST(ImageAnalyzer, NothingToMeasureInANullOrFlatPicture)
{
    const ImageMeasures none = analyzer().measure(QImage());
    EXPECT_EQ(none.faceCount, 0);
    EXPECT_TRUE(none.featurePrint.isEmpty());

    QImage flat(1280, 853, QImage::Format_RGBA8888_Premultiplied);
    flat.fill(QColor(90, 120, 150));
    const ImageMeasures m = analyzer().measure(flat);
    EXPECT_EQ(m.sharpness, 0.0f);
    EXPECT_EQ(m.faceCount, 0);
    EXPECT_FALSE(m.faceSharpness);
    EXPECT_FALSE(m.featurePrint.isEmpty());
    EXPECT_EQ(FeaturePrint::distance(m.featurePrint, m.featurePrint), 0.0f);
}

TEST(ImageAnalyzer, OpenEyesOnARealPortrait)
{
    ASSERT_TRUE(FaceEyesDetector::hasLandmarkModel());
    const QImage photo = corpusImage("faces-open/obama.jpg");
    ASSERT_FALSE(photo.isNull());
    const ImageMeasures m = analyzer().measure(photo);
    EXPECT_EQ(m.faceCount, 1);
    ASSERT_EQ(m.eyeOpenness.size(), 1);
    EXPECT_GT(m.eyeOpenness[0], 0.19f);
    EXPECT_TRUE(m.closedFaces.isEmpty());
    ASSERT_TRUE(m.faceSharpness);
    EXPECT_GT(*m.faceSharpness, 10.0f);
    EXPECT_GT(m.sharpness, 20.0f);
}

// A sharp photo in flat light (a seventh of its contrast, like mist) scores under the
// blur threshold on second differences alone; the contrast gain keeps it sharp, while
// a blur of about 2.4 px stays blurry, and so does the same blur in flat light that
// the gain cannot fully make up for.
TEST(ImageAnalyzer, FlatLightKeepsASharpPhotoSharp)
{
    const QImage photo = corpusImage("sharp/176_HONOR-7X_S.jpg");
    ASSERT_FALSE(photo.isNull());
    const QImage flat = withContrast(photo, 0.15);
    EXPECT_LT(gridSharpness(GreyImage::fromImage(flat)), 20.0f);
    EXPECT_GE(analyzer().measure(flat).sharpness, 20.0f);
    EXPECT_LT(analyzer().measure(blurred(photo)).sharpness, 20.0f);
    EXPECT_LT(analyzer().measure(withContrast(blurred(photo), 0.5)).sharpness, 20.0f);
}

// The same for a face: soft light on skin reads like a face out of focus.
TEST(ImageAnalyzer, FlatLightKeepsASharpFaceSharp)
{
    const QImage photo = corpusImage("faces-open/obama.jpg");
    ASSERT_FALSE(photo.isNull());
    const QImage flat = withContrast(photo, 0.2);
    FaceEyesDetector detector;
    const GreyImage grey = GreyImage::fromImage(flat);
    const QVector<DetectedFace> faces = detector.detect(flat, grey);
    ASSERT_EQ(faces.size(), 1);
    const QRectF box = faces[0].box;
    const QRectF inner = box.adjusted(0.12 * box.width(), 0.12 * box.height(), -0.12 * box.width(), -0.12 * box.height());
    EXPECT_LT(detailEnergy(grey, inner), 10.0f);
    const ImageMeasures m = analyzer().measure(flat);
    ASSERT_TRUE(m.faceSharpness);
    EXPECT_GE(*m.faceSharpness, 10.0f);
    const ImageMeasures soft = analyzer().measure(blurred(photo));
    ASSERT_TRUE(soft.faceSharpness);
    EXPECT_LT(*soft.faceSharpness, 10.0f);
}

TEST(ImageAnalyzer, EyeOutlinesSitInTheUpperFaceInImagePixels)
{
    const QImage photo = corpusImage("faces-open/obama.jpg");
    const GreyImage grey = GreyImage::fromImage(photo);
    FaceEyesDetector detector;
    const QVector<DetectedFace> faces = detector.detect(photo, grey);
    ASSERT_EQ(faces.size(), 1);
    const DetectedFace &f = faces[0];
    ASSERT_EQ(f.leftEye.size(), 6);
    ASSERT_EQ(f.rightEye.size(), 6);
    const QRectF left = eyeBox(f.leftEye), right = eyeBox(f.rightEye);
    // y grows downwards: the eyes are in the upper half of the box, side by side,
    // the first outline on the image's left.
    EXPECT_TRUE(f.box.contains(left.center()));
    EXPECT_TRUE(f.box.contains(right.center()));
    EXPECT_LT(left.center().y(), f.box.center().y());
    EXPECT_LT(left.center().x(), f.box.center().x());
    EXPECT_GT(right.center().x(), f.box.center().x());
    EXPECT_NEAR(left.center().y(), right.center().y(), f.box.height() * 0.1);
    ASSERT_TRUE(f.yaw);
    EXPECT_LT(std::abs(*f.yaw), 0.35);
}

TEST(ImageAnalyzerCorpus, ClosedEyesAreFlagged)
{
    GLANTO_NEEDS_CORPUS();
    // Eyes shut flat enough for the landmarks to follow the lids; eyes whose outline
    // reads a fifth open (0.22) with dark lashes, told by their edges; faces cut off by
    // a tight crop; plain faces (no glasses, smile or creases) whose outline reads a
    // quarter to a third open, told by their edges within the plain face's bounds.
    for (const char *name : {"faces-closed/closed_eye_0424.jpg_face_1.jpg", "faces-closed/closed_eye_1922.jpg_face_2.jpg",
                             "faces-closed/closed_eye_1044.jpg_face_1.jpg", "faces-closed/closed_eye_0770.jpg_face_1.jpg",
                             "faces-closed/closed_eye_2167.jpg_face_1.jpg", "faces-closed/closed_eye_0160.jpg_face_1.jpg",
                             "faces-closed/closed_eye_1843.jpg_face_1.jpg", "faces-closed/closed_eye_2311.BMP_face_1.jpg"}) {
        SCOPED_TRACE(name);
        const QImage photo = corpusImage(QString::fromLatin1(name));
        ASSERT_FALSE(photo.isNull());
        const ImageMeasures m = analyzer().measure(photo);
        EXPECT_GE(m.faceCount, 1);
        ASSERT_EQ(m.closedFaces.size(), 1);
        const QRectF r = m.closedFaces[0];
        EXPECT_TRUE(QRectF(0, 0, 1, 1).contains(r.center()));
    }
}

TEST(ImageAnalyzerCorpus, SmallFacesAreFoundByTheUpsampledSearch)
{
    GLANTO_NEEDS_CORPUS();
    // A portrait reduced until its face is about 50 px tall, placed on a larger photo
    // without people: too small for the plain detector, not for the search around skin.
    const QImage portrait = corpusImage("faces-open/obama.jpg", 200);
    QImage scene = corpusImage("sharp/106_NIKON-D3400-35MM_S.JPG");
    ASSERT_FALSE(portrait.isNull());
    ASSERT_FALSE(scene.isNull());
    QPainter p(&scene);
    p.drawImage(700, 300, portrait);
    p.end();
    const GreyImage grey = GreyImage::fromImage(scene);
    FaceEyesDetector detector;
    const QVector<DetectedFace> plain = detector.findFaces(scene, grey, FaceEyesDetector::SmallFaces::skip);
    const QVector<DetectedFace> targeted = detector.findFaces(scene, grey, FaceEyesDetector::SmallFaces::targeted);
    EXPECT_TRUE(plain.isEmpty());
    ASSERT_EQ(targeted.size(), 1);
    const QRectF box = targeted[0].box;
    EXPECT_TRUE(QRectF(700, 300, portrait.width(), portrait.height()).contains(box.center()));
    EXPECT_GE(box.height(), 40.0);
    EXPECT_LT(box.height(), 80.0);

    // Beside a face twice the plain window's 80 px the small face is background, whose
    // eyes and focus are not judged, and the upsampled search is skipped.
    const QImage large = corpusImage("faces-open/obama.jpg", 800);
    ASSERT_FALSE(large.isNull());
    QPainter q(&scene);
    q.drawImage(0, 0, large);
    q.end();
    const GreyImage both = GreyImage::fromImage(scene);
    const QVector<DetectedFace> main = detector.findFaces(scene, both, FaceEyesDetector::SmallFaces::targeted);
    ASSERT_EQ(main.size(), 1);
    EXPECT_GE(main[0].box.height(), 160.0);
    EXPECT_EQ(detector.findFaces(scene, both, FaceEyesDetector::SmallFaces::everywhere).size(), 2);
}

// Beside a face the plain pass found under twice its window, the upsampled search
// looks only for faces that could still be main faces (at least half as tall), on a
// smaller enlargement than 2x: such a face is still found, and its box lands on it
// in picture pixels.
TEST(ImageAnalyzerCorpus, AMainFaceBesideAMediumFaceIsFound)
{
    GLANTO_NEEDS_CORPUS();
    QImage scene = corpusImage("sharp/106_NIKON-D3400-35MM_S.JPG");
    const QImage medium = corpusImage("faces-open/obama.jpg", 440);
    const QImage small = corpusImage("faces-open/obama.jpg", 216);
    ASSERT_FALSE(scene.isNull());
    ASSERT_FALSE(medium.isNull());
    ASSERT_FALSE(small.isNull());
    QPainter p(&scene);
    p.drawImage(100, 150, medium);
    const QRectF smallArea(760, 300, small.width(), small.height());
    p.drawImage(smallArea.topLeft(), small);
    p.end();
    const GreyImage grey = GreyImage::fromImage(scene);
    FaceEyesDetector detector;
    const QVector<DetectedFace> plain = detector.findFaces(scene, grey, FaceEyesDetector::SmallFaces::skip);
    ASSERT_EQ(plain.size(), 1);
    const double tallest = plain[0].box.height();
    // Tall enough for a smaller enlargement than 2x (the smallest main face is over 44 px).
    EXPECT_GT(tallest, 90.0);
    EXPECT_LT(tallest, 160.0);

    const QVector<DetectedFace> targeted = detector.findFaces(scene, grey, FaceEyesDetector::SmallFaces::targeted);
    ASSERT_EQ(targeted.size(), 2);
    const QRectF box = targeted[1].box;
    EXPECT_TRUE(smallArea.contains(box.center()));
    // About half the medium face (the detector's boxes come in steps of a fifth).
    EXPECT_GE(box.height(), 0.45 * tallest);
    EXPECT_LT(box.height(), 80.0);
    // The full 2x search finds the same box, to a few pixels.
    const QVector<DetectedFace> everywhere = detector.findFaces(scene, grey, FaceEyesDetector::SmallFaces::everywhere);
    const auto same = std::find_if(everywhere.begin(), everywhere.end(), [&](const DetectedFace &f) {
        return smallArea.contains(f.box.center());
    });
    ASSERT_NE(same, everywhere.end());
    EXPECT_NEAR(same->box.center().x(), box.center().x(), 6.0);
    EXPECT_NEAR(same->box.center().y(), box.center().y(), 6.0);
    EXPECT_NEAR(same->box.height(), box.height(), 0.25 * box.height());
}

TEST(ImageAnalyzerCorpus, NoOpenEyedPhotoOfTheCorpusIsFlagged)
{
    GLANTO_NEEDS_CORPUS();
    // Smiling, light-eyed and small faces included: the eye rules must never call an
    // open eye shut (eyes too small to measure are left unjudged instead).
    const QDir dir(TestData::corpusDir() + QStringLiteral("/faces-open"));
    const QStringList names = dir.entryList(QDir::Files, QDir::Name);
    ASSERT_GE(names.size(), 30);
    int examined = 0;
    for (const QString &name : names) {
        SCOPED_TRACE(qPrintable(name));
        const ImageMeasures m = analyzer().measure(corpusImage("faces-open/" + name));
        examined += int(m.eyeOpenness.size());
        EXPECT_TRUE(m.closedFaces.isEmpty());
    }
    EXPECT_GE(examined, 30);
    // Open eyes that read shut on one cue each: a darker face in shade (nothing darker
    // than half its median) and light-blue eyes behind safety glasses in a dim room
    // (little change along the rows).
    for (const char *name : {"exif/Issue 177.jpg", "bursts/Issue 247-4.nef"}) {
        SCOPED_TRACE(name);
        const ImageMeasures m = analyzer().measure(corpusImage(QString::fromLatin1(name)));
        EXPECT_GE(m.eyeOpenness.size(), 1);
        EXPECT_TRUE(m.closedFaces.isEmpty());
    }
}

namespace {

// The label column (`eyes`) of a repository photo folder's manifest.tsv, by file name.
QMap<QString, QString> eyeLabels(const QString &dir)
{
    QMap<QString, QString> labels;
    QFile file(dir + QStringLiteral("/manifest.tsv"));
    if (!file.open(QIODevice::ReadOnly))
        return labels;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() >= 2 && fields[0] != "file")
            labels.insert(QString::fromUtf8(fields[0]), QString::fromUtf8(fields[1]).trimmed());
    }
    return labels;
}

} // namespace

// The photos that travel with the repository: adult portraits (smiles, squints in
// sunlight, glasses, dark skin in shade) and the face folder's children, groups and old
// faces narrowed by wrinkles. No photo its manifest calls open-eyed may be suggested as
// closed-eyed, and most must have their eyes judged, or the check says nothing. The
// same holds for each in black and white, where the eyes' colour cannot be read.
TEST(ImageAnalyzer, NoOpenEyedPhotoOfTheRepositoryIsFlagged)
{
    ASSERT_TRUE(FaceEyesDetector::hasLandmarkModel());
    struct Folder {
        const char *name;
        int minExamined;
    };
    for (const Folder &folder : {Folder{"portraits", 72}, Folder{"faces", 18}}) {
        SCOPED_TRACE(folder.name);
        const QString dir = QStringLiteral(GLANTO_SOURCE_DIR "/tests/data/") + QLatin1String(folder.name);
        const QMap<QString, QString> labels = eyeLabels(dir);
        // The manifest speaks for every photo and only for photos that are there.
        const QStringList photos = QDir(dir).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
        ASSERT_FALSE(photos.isEmpty());
        EXPECT_EQ(QStringList(labels.keys()), photos);
        int open = 0, examined = 0;
        for (auto it = labels.cbegin(); it != labels.cend(); ++it) {
            if (it.value() != QLatin1String("open"))
                continue;
            SCOPED_TRACE(qPrintable(it.key()));
            QImageReader reader(dir + '/' + it.key());
            reader.setAutoTransform(true);
            const QImage image = reader.read().convertToFormat(QImage::Format_RGBA8888_Premultiplied);
            ASSERT_FALSE(image.isNull());
            const ImageMeasures m = analyzer().measure(image);
            ++open;
            examined += !m.eyeOpenness.isEmpty();
            EXPECT_TRUE(m.closedFaces.isEmpty());
            const QImage grey = image.convertToFormat(QImage::Format_Grayscale8)
                                    .convertToFormat(QImage::Format_RGBA8888_Premultiplied);
            EXPECT_TRUE(analyzer().measure(grey).closedFaces.isEmpty()) << "in black and white";
        }
        EXPECT_GE(examined, folder.minExamined) << "of " << open << " open-eyed photos";
    }
}

// A woman laughing behind glasses, her eyes narrowed to slits, as a small face of a
// larger photo: at half the size her eyes are too small to judge, on the photo itself
// they are judged. In flat light the landmarks of the slits fall on one line while the
// eyes' middle still shows white and iris; the face stays open.
TEST(ImageAnalyzer, ALaughingSmallFaceStaysOpenOnALargerDecode)
{
    QImageReader reader(QStringLiteral(GLANTO_SOURCE_DIR "/tests/data/faces/105.jpg"));
    const QImage photo = reader.read();
    ASSERT_FALSE(photo.isNull());
    // Full and flat light in colour, and flat light in black and white (no colour to read).
    for (const double contrast : {1.0, 0.35, -0.35}) {
        SCOPED_TRACE(contrast);
        QImage larger = withContrast(photo, std::abs(contrast));
        if (contrast < 0)
            larger = larger.convertToFormat(QImage::Format_Grayscale8).convertToFormat(QImage::Format_RGBA8888_Premultiplied);
        ImageMeasures m = analyzer().measure(larger.scaled(larger.size() / 2, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        ASSERT_EQ(m.smallEyeFaces.size(), 1);
        EXPECT_TRUE(m.eyeOpenness.isEmpty());
        analyzer().judgeSmallFaces(larger, m);
        EXPECT_EQ(m.eyeOpenness.size(), 1);
        EXPECT_TRUE(m.closedFaces.isEmpty());
    }
}

// A broad laugh raises the cheeks into the lower lids: the outline reads as flat and the
// edges as weak as a shut eye's, and only the patch model, which sees the dark of the eye
// between the lids, leans open. Reduced step by step (its eyes 21 to 34 px), in full and
// in flat light, the face must stay open at every size: at 70 % its outline and edges
// read shut with the model 2.4 to 2.9 below its bound.
TEST(ImageAnalyzer, ALaughStaysOpenAtEverySize)
{
    QImageReader reader(QStringLiteral(GLANTO_SOURCE_DIR "/tests/data/portraits/079.jpg"));
    const QImage photo = reader.read();
    ASSERT_FALSE(photo.isNull());
    for (const double contrast : {1.0, 0.35}) {
        const QImage lit = withContrast(photo, contrast);
        for (int percent = 60; percent <= 95; percent += 5) {
            SCOPED_TRACE(testing::Message() << percent << " %, contrast " << contrast);
            const ImageMeasures m = analyzer().measure(
                lit.scaled(lit.size() * (percent / 100.0), Qt::KeepAspectRatio, Qt::SmoothTransformation));
            EXPECT_EQ(m.eyeOpenness.size(), 1);
            EXPECT_TRUE(m.closedFaces.isEmpty());
        }
    }
}

// Three women laughing, the middle one's eyes narrowed to about 20 px by her smile.
// Mirrored and saved again, the landmarks fall a little differently and the patch model
// calls her eyes shut: eyes that small on a face that is not plain are not called shut
// by the model.
TEST(ImageAnalyzer, SmallLaughingEyesStayOpenEitherWayRound)
{
    const QImage photo = facePhoto("179.jpg");
    ASSERT_FALSE(photo.isNull());
    const QImage saved = facePhoto("mirrored/179.jpg");
    ASSERT_FALSE(saved.isNull());
    for (const QImage &image : {photo, photo.mirrored(true, false), saved}) {
        const ImageMeasures m = analyzer().measure(image);
        EXPECT_EQ(m.eyeOpenness.size(), 3);
        EXPECT_TRUE(m.closedFaces.isEmpty());
    }
}

// The upright search finds many faces lying on their side or upside down as well, but
// the landmarks are placed as if the face were upright: upside down, a smile's lips and
// teeth sit where the eyes should be and read as shut lids. Two smiling men turned
// upside down were flagged that way. The detector, shown the face the other ways up,
// must see it best the way it stands, and the turned face must not be judged shut.
TEST(ImageAnalyzer, FacesTheWrongWayUpAreNotJudgedShut)
{
    FaceEyesDetector detector;
    for (const char *name : {"114.jpg", "119.jpg"}) {
        SCOPED_TRACE(name);
        const QImage photo = facePhoto(name);
        ASSERT_FALSE(photo.isNull());
        const QVector<DetectedFace> upright =
            detector.findFaces(photo, GreyImage::fromImage(photo), FaceEyesDetector::SmallFaces::skip);
        ASSERT_EQ(upright.size(), 1);
        for (int turn = 0; turn < 4; ++turn) {
            SCOPED_TRACE(testing::Message() << turn << " quarter turns");
            const QTransform rotation = QTransform().rotate(90.0 * turn);
            const QImage turned = photo.transformed(rotation);
            const GreyImage grey = GreyImage::fromImage(turned);
            const QRectF box = QImage::trueMatrix(rotation, photo.width(), photo.height()).mapRect(upright[0].box);
            const auto scores = detector.turnScores(grey, box);
            // Turning it back upright takes the rest of the full turn.
            const int back = (4 - turn) % 4;
            ASSERT_TRUE(scores[size_t(back)].has_value());
            for (int other = 0; other < 4; ++other) {
                if (other != back && scores[size_t(other)]) {
                    EXPECT_LT(*scores[size_t(other)], *scores[size_t(back)]) << "turned " << other;
                }
            }
            const ImageMeasures m = analyzer().measure(turned);
            EXPECT_TRUE(m.closedFaces.isEmpty());
            if (turn == 0) {
                EXPECT_EQ(m.eyeOpenness.size(), 1);
            }
        }
    }
}

namespace {

// The shut face of `shutName`, flagged upright, turned clockwise by each of `turns`
// degrees: it must still be flagged, with a box of its size around where its centre
// turned to. 119, a smiling man, turned the same ways must stay open. `upright` tells
// how many faces the upright search must find at a turn (-1: not checked).
void expectShutWhenTurned(const char *shutName, std::initializer_list<int> turns,
                          const std::function<int(int degrees)> &upright)
{
    const QImage shut = facePhoto(shutName);
    const QImage open = facePhoto("119.jpg");
    ASSERT_FALSE(shut.isNull());
    ASSERT_FALSE(open.isNull());
    const ImageMeasures asShot = analyzer().measure(shut);
    ASSERT_EQ(asShot.closedFaces.size(), 1);
    const QRectF face = inPixels(asShot.closedFaces[0], shut.size());
    const QPointF centre = face.center();
    const double side = face.height();
    for (int degrees : turns) {
        SCOPED_TRACE(testing::Message() << shutName << " turned " << degrees << " degrees");
        const QTransform rotation = QTransform().rotate(degrees);
        const QImage turned = shut.transformed(rotation, Qt::SmoothTransformation);
        const ImageMeasures m = analyzer().measure(turned);
        if (upright(degrees) >= 0) {
            EXPECT_EQ(m.faceCount, upright(degrees));
        }
        ASSERT_EQ(m.closedFaces.size(), 1);
        const QPointF expected = QImage::trueMatrix(rotation, shut.width(), shut.height()).map(centre);
        const QRectF found = inPixels(m.closedFaces[0], turned.size());
        EXPECT_LT(QLineF(found.center(), expected).length(), 0.25 * side);
        EXPECT_NEAR(found.height(), side, 0.3 * side);

        const ImageMeasures smiling = analyzer().measure(open.transformed(rotation, Qt::SmoothTransformation));
        EXPECT_TRUE(smiling.closedFaces.isEmpty());
    }
}

} // namespace

// A woman lying on a treatment bed, seen from the head end, her eyes shut: the upright
// search finds her face only the way the photo shows it. Turned by quarters (lying on
// the other side, head towards the camera), no upright face is left, and the turned
// search must find hers and call it shut; turned by eighths in between (a head on a
// pillow at an angle; the corners come out black) as well. An eighth from upright, the
// upright search may find the face itself; it is then judged levelled (below).
TEST(ImageAnalyzer, FacesLyingDownAreJudgedTurned)
{
    expectShutWhenTurned("100.jpg", {45, 90, 135, 180, 225, 270, 315},
                         [](int degrees) { return degrees % 90 == 0 ? 0 : -1; });
}

// A head leaning on a shoulder is found upright, but its eye outlines are placed
// poorly; the face is judged again with its eyes level.
TEST(ImageAnalyzer, LeaningFacesAreJudgedLevel)
{
    expectShutWhenTurned("073.jpg", {25, -25}, [](int) { return 1; });
}

TEST(ImageAnalyzer, SmallFacesGetHalfPixelEyeOutlines)
{
    // A face under 160 px has its landmarks placed on a doubled copy: the outline
    // points fall on half pixels too, not only on whole ones.
    const QImage photo = corpusImage("faces-open/obama.jpg", 600);
    const GreyImage grey = GreyImage::fromImage(photo);
    FaceEyesDetector detector;
    QVector<DetectedFace> faces = detector.detect(photo, grey);
    ASSERT_EQ(faces.size(), 1);
    ASSERT_LT(faces[0].box.height(), 160.0);
    const auto halves = [](const DetectedFace &f) {
        int n = 0;
        for (const QPointF &p : f.leftEye + f.rightEye)
            n += std::abs(p.x() - std::floor(p.x()) - 0.5) < 1e-9 || std::abs(p.y() - std::floor(p.y()) - 0.5) < 1e-9;
        return n;
    };
    EXPECT_GT(halves(faces[0]), 0);
    detector.setFineLandmarks(false);
    faces = detector.detect(photo, grey);
    ASSERT_EQ(faces.size(), 1);
    EXPECT_EQ(halves(faces[0]), 0);
}

// The face search sums its filters with AVX2 where the CPU has it; it must report what
// dlib's own search reports: the same boxes in the same order, scores equal but for
// the rounding of the sums. The folders hold group photos, portraits, faces at the
// edge (the close-up search), small faces (the 2x search) and pictures without people.
TEST(ImageAnalyzerCorpus, VectorFaceSearchFindsWhatDlibFinds)
{
    GLANTO_NEEDS_CORPUS();
    if (!FaceEyesDetector::hasVectorFilters())
        GTEST_SKIP() << "this CPU has no AVX2 and FMA: the search is dlib's own";
    FaceEyesDetector vector;
    FaceEyesDetector reference;
    reference.setVectorFilters(false);
    int photos = 0, faces = 0;
    for (const char *folder : {"faces-open", "faces-closed", "bursts", "sharp"}) {
        const QDir dir(TestData::corpusDir() + u'/' + QLatin1String(folder));
        for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
            const QImage image = corpusImage(QLatin1String(folder) + "/" + name);
            if (image.isNull())
                continue;
            SCOPED_TRACE((QLatin1String(folder) + "/" + name).toStdString());
            ++photos;
            const GreyImage grey = GreyImage::fromImage(image);
            // The search at 2x over the whole picture costs four plain ones: on every
            // eighth photo only.
            const bool everywhere = photos % 8 == 1;
            for (auto mode : {FaceEyesDetector::SmallFaces::targeted, FaceEyesDetector::SmallFaces::everywhere}) {
                if (mode == FaceEyesDetector::SmallFaces::everywhere && !everywhere)
                    continue;
                const QVector<DetectedFace> got = vector.findFaces(image, grey, mode);
                const QVector<DetectedFace> want = reference.findFaces(image, grey, mode);
                ASSERT_EQ(got.size(), want.size());
                for (int i = 0; i < got.size(); ++i) {
                    EXPECT_EQ(got[i].box, want[i].box) << "face " << i;
                    EXPECT_NEAR(got[i].score, want[i].score, 1e-4) << "face " << i;
                }
                faces += mode == FaceEyesDetector::SmallFaces::targeted ? int(got.size()) : 0;
            }
        }
    }
    EXPECT_GT(photos, 50);
    EXPECT_GT(faces, 50);
}

// Pictures too small for the detector's blocks of cells (a thumbnail, a strip) have no
// faces, with either way of filtering and with every search.
TEST(ImageAnalyzer, TinyPicturesHaveNoFaces)
{
    for (const QSize size : {QSize(8, 8), QSize(12, 12), QSize(23, 17), QSize(40, 9), QSize(9, 300)}) {
        QImage image(size, QImage::Format_RGBA8888_Premultiplied);
        image.fill(QColor(200, 150, 120));
        const GreyImage grey = GreyImage::fromImage(image);
        for (bool vector : {true, false}) {
            FaceEyesDetector detector;
            detector.setVectorFilters(vector);
            for (auto mode : {FaceEyesDetector::SmallFaces::skip, FaceEyesDetector::SmallFaces::targeted,
                              FaceEyesDetector::SmallFaces::everywhere})
                EXPECT_TRUE(detector.detect(image, grey, mode).isEmpty()) << size.width() << "x" << size.height();
        }
    }
}
