// File operations benchmark (not a test): rating a 24 MP JPEG in-file, written,
// flushed to disk and read back, against the exiv2 command-line tool making
// the same change on a copy in the same run; and the lossless rotation save of
// the same photo against the rating figure.
//
//   glanto_fileops_bench [runs] [folder]
//
// Each run works on a fresh copy of one generated photo (6000 x 4000 pixels,
// with the EXIF of a corpus camera file when the corpus is there). Prints the
// medians and both ratios; the goals are 1.5x for each.

#include "fileops/RotationSave.h"
#include "fileops/SafeFile.h"
#include "fileops/XmpRating.h"
#include "platform/Codec.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <exiv2/exiv2.hpp>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

extern char **environ;

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

QString makePhoto(const QString &folder)
{
    const QString corpusPhoto = QStringLiteral(GLANTO_CORPUS_DIR "/exif/Kodak PIXPRO FZ201.jpg");
    QImage picture = QFile::exists(corpusPhoto) ? Codec::decodeFull(corpusPhoto) : QImage();
    if (picture.isNull()) {
        picture = QImage(600, 400, QImage::Format_RGB888);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                picture.setPixel(x, y, qRgb(x % 256, y % 256, (x * y) % 256));
    }
    picture = picture.scaled(6000, 4000, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                  .convertToFormat(QImage::Format_RGB888);
    // Sensor-like grain: an enlarged picture alone compresses far better than
    // a real 24 MP photo, whose file is several megabytes.
    quint32 seed = 12345;
    for (int y = 0; y < picture.height(); ++y) {
        uchar *line = picture.scanLine(y);
        for (int x = 0; x < picture.width() * 3; ++x) {
            seed = seed * 1664525u + 1013904223u;
            line[x] = uchar(std::clamp(int(line[x]) + int(seed >> 27) - 16, 0, 255));
        }
    }
    const QString path = folder + QStringLiteral("/master.jpg");
    if (!Codec::encode(picture, path, ImageFormat::jpeg, 92))
        return {};
    if (QFile::exists(corpusPhoto)) {
        // A camera's EXIF block, as a real photo would have.
        auto source = Exiv2::ImageFactory::open(QFile::encodeName(corpusPhoto).toStdString());
        source->readMetadata();
        auto target = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        target->readMetadata();
        Exiv2::ExifData exif = source->exifData();
        exif["Exif.Image.Orientation"] = uint16_t(1);
        exif["Exif.Photo.PixelXDimension"] = uint32_t(6000);
        exif["Exif.Photo.PixelYDimension"] = uint32_t(4000);
        target->setExifData(exif);
        target->writeMetadata();
    }
    return path;
}

double runExivTool(const QString &photo)
{
    const QByteArray file = QFile::encodeName(photo);
    const char *argv[] = {"exiv2", "-M", "set Xmp.xmp.Rating 3", file.constData(), nullptr};
    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "exiv2", nullptr, nullptr, const_cast<char *const *>(argv), environ) != 0)
        return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double ms = timer.nsecsElapsed() / 1e6;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

QString freshCopy(const QString &master, const QString &name)
{
    const QString path = QFileInfo(master).dir().filePath(name);
    QFile::remove(path);
    QFile::copy(master, path);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    // The copy's pages are flushed first, so no run pays for another's writes.
    ::sync();
    return path;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(3, std::atoi(argv[1])) : 9;
    QTemporaryDir temporary;
    const QString folder = argc > 2 ? QString::fromLocal8Bit(argv[2]) : temporary.path();
    QDir().mkpath(folder);

    const QString master = makePhoto(folder);
    if (master.isEmpty()) {
        std::fprintf(stderr, "could not make the photo\n");
        return 1;
    }
    std::printf("photo: 6000x4000 JPEG, %.1f MB, %d runs each\n", QFileInfo(master).size() / 1e6, runs);

    // GLANTO_BENCH_STEPS=1 prints when each step of the writes is reached.
    QElapsedTimer stepClock;
    if (qEnvironmentVariableIsSet("GLANTO_BENCH_STEPS")) {
        SafeFile::setStepHook([&stepClock](std::string_view step) {
            if (step != "chunk-written")
                std::printf("  %7.1f ms %.*s\n", stepClock.nsecsElapsed() / 1e6, int(step.size()), step.data());
            return true;
        });
    }
    std::vector<double> ours, tool, rotation;
    for (int i = 0; i < runs; ++i) {
        const QString a = freshCopy(master, QStringLiteral("rate.jpg"));
        QElapsedTimer timer;
        timer.start();
        stepClock.start();
        const auto failure = XmpRating::writeRating(3, a);
        ours.push_back(timer.nsecsElapsed() / 1e6);
        if (failure) {
            std::fprintf(stderr, "rating failed: %s\n", qPrintable(failure->reason));
            return 1;
        }

        const QString b = freshCopy(master, QStringLiteral("tool.jpg"));
        const double ms = runExivTool(b);
        if (ms < 0) {
            std::fprintf(stderr, "exiv2 -M failed (is the exiv2 tool installed?)\n");
            return 1;
        }
        tool.push_back(ms);

        const QString c = freshCopy(master, QStringLiteral("rotate.jpg"));
        timer.restart();
        stepClock.restart();
        const auto result = RotationSave::writeRotation(c, 1);
        rotation.push_back(timer.nsecsElapsed() / 1e6);
        if (result.kind != RotationSave::Result::Kind::lossless) {
            std::fprintf(stderr, "rotation failed: %s\n", qPrintable(result.reason));
            return 1;
        }
    }
    const double rating = median(ours);
    const double exiv = median(tool);
    const double rotate = median(rotation);
    std::printf("rating in-file (written, flushed, verified): median %.1f ms\n", rating);
    std::printf("exiv2 -M \"set Xmp.xmp.Rating 3\" on a copy:   median %.1f ms\n", exiv);
    std::printf("lossless rotation save:                      median %.1f ms\n", rotate);
    std::printf("rating / exiv2 = %.2fx (goal <= 1.5x)\n", rating / exiv);
    std::printf("rotation / rating = %.2fx (goal <= 1.5x)\n", rotate / rating);
    return 0;
}
