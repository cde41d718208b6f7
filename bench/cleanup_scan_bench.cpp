// The cleanup scan's speed on a folder of N different 12 MP JPEGs (faces in
// about a third of them), made from corpus photos into a temporary folder:
//
//   1. a full scan with the two workers (what the report's timing line says),
//      with a breakdown of one unit's cost on one thread (decode, analysis);
//   2. a second scan of the same folder through the metrics cache;
//   3. hashing throughput of fileDigest against `openssl dgst -sha256` on the
//      same files (both from the page cache).
//
// Usage: glanto_cleanup_scan_bench [--count N] [--dir DIR] [--faces SHARE]
// --faces sets the share of photos with a portrait (default a third). Face detection
// dominates the scan, and a photo without a large face costs the most: the close-up
// search and the 2x search for small faces run on it, where a face of 160 px or more
// ends the search after the plain pass. So a folder with fewer faces is the slower one.
// With --dir the photos are kept there and reused by the next run; otherwise
// they go to a temporary folder that is removed at the end.
#include "cleanup/CleanupScanner.h"
#include "cleanup/CleanupUnits.h"
#include "cleanup/FileDigest.h"
#include "cleanup/ImageMeasures.h"
#include "cleanup/MetricsCache.h"
#include "library/FolderModel.h"
#include "library/ImageLoader.h"
#include "platform/Codec.h"

#include <QGuiApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

double faceShare = 1.0 / 3.0;

// Photo i shows a face when the running count of face photos steps up at i.
bool showsFace(int i)
{
    return int((i + 1) * faceShare) > int(i * faceShare);
}

constexpr int photoWidth = 4000;
constexpr int photoHeight = 3000;

QStringList corpusPhotos(const QString &sub)
{
    const QDir dir(QStringLiteral(GLANTO_CORPUS_DIR) + "/" + sub);
    QStringList out;
    for (const QString &name : dir.entryList({"*.jpg", "*.JPG", "*.jpeg"}, QDir::Files, QDir::Name))
        out << dir.absoluteFilePath(name);
    return out;
}

// One 12 MP photo: a corpus scene enlarged with a shift of its own, a tinted
// patch and a number, and for a share of them (faceShare) a portrait pasted in so
// that the face detector has real work. No two files share pixels or sizes.
bool makePhoto(const QString &path, int i, const QStringList &scenes, const QStringList &faces)
{
    const QImage scene = Codec::decodeFull(scenes.at(i % scenes.size()));
    if (scene.isNull())
        return false;
    const int shift = (i % 11) * 24;
    QImage photo = scene.scaled(photoWidth + shift, photoHeight + shift, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                       .copy(shift, shift / 2, photoWidth, photoHeight)
                       .convertToFormat(QImage::Format_RGB32);
    QPainter painter(&photo);
    if (showsFace(i) && !faces.isEmpty()) {
        const QImage face = Codec::decodeFull(faces.at(i % faces.size()));
        if (!face.isNull()) {
            const int height = 900 + (i % 5) * 150;
            const QImage portrait = face.scaledToHeight(height, Qt::SmoothTransformation);
            painter.drawImage(300 + (i * 131) % 2000, 200 + (i * 71) % 800, portrait);
        }
    }
    painter.fillRect(100 + (i * 97) % 3500, 2500, 300, 200, QColor::fromHsv((i * 37) % 360, 180, 220));
    QFont font = painter.font();
    font.setPixelSize(180);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 2750, photoWidth, 240), Qt::AlignCenter, QString::number(i));
    painter.end();
    QImageWriter writer(path, "jpeg");
    writer.setQuality(88);
    return writer.write(photo);
}

bool makeFolder(const QString &dir, int count)
{
    QStringList scenes;
    for (const char *sub : {"sharp", "blurry", "bursts", "duplicates", "exif"})
        scenes += corpusPhotos(sub);
    const QStringList faces = corpusPhotos("faces-open");
    scenes.erase(std::remove_if(scenes.begin(), scenes.end(),
                                [](const QString &p) { return QFileInfo(p).size() < 20'000; }),
                 scenes.end());
    if (scenes.isEmpty())
        return false;

    std::atomic<int> next{0};
    std::atomic<int> failures{0};
    const auto work = [&] {
        for (int i = next++; i < count; i = next++) {
            const QString path = QDir(dir).filePath(QStringLiteral("scan-%1.jpg").arg(i, 4, 10, QLatin1Char('0')));
            if (!QFileInfo::exists(path) && !makePhoto(path, i, scenes, faces))
                ++failures;
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    return failures == 0;
}

// CPU seconds of this thread, and of the whole process: on a shared machine
// they say what a unit costs where wall time says how busy the neighbours are.
double threadCpu()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

double processCpu()
{
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double scan(const QString &dir, const QVector<CleanupUnit> &units, int &measured)
{
    CleanupScanner scanner(dir, units, true);
    QEventLoop loop;
    scanner.onFinish = [&] { loop.quit(); };
    scanner.start();
    if (!scanner.finished)
        loop.exec();
    measured = scanner.measuredCount();
    return scanner.elapsed;
}

} // namespace

int main(int argc, char **argv)
{
    // Painting the numbers needs fonts, hence a GUI application, but no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    int count = 200;
    QString keep;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == "--count" && i + 1 < argc)
            count = std::max(2, atoi(argv[++i]));
        else if (arg == "--dir" && i + 1 < argc)
            keep = QString::fromLocal8Bit(argv[++i]);
        else if (arg == "--faces" && i + 1 < argc)
            faceShare = std::clamp(atof(argv[++i]), 0.0, 1.0);
    }
    QTemporaryDir temporary;
    const QString dir = keep.isEmpty() ? temporary.path() : keep;
    QDir().mkpath(dir);

    QElapsedTimer timer;
    timer.start();
    if (!makeFolder(dir, count)) {
        std::fprintf(stderr, "could not make the photos in %s\n", qPrintable(dir));
        return 1;
    }
    int withFaces = 0;
    for (int i = 0; i < count; ++i)
        withFaces += showsFace(i);
    std::printf("folder: %d photos of %dx%d, %d with a portrait, in %s (made in %.1f s)\n", count, photoWidth,
                photoHeight, withFaces, qPrintable(dir), timer.nsecsElapsed() / 1e9);

    FolderModel model;
    model.load(dir);
    const QVector<CleanupUnit> units = makeUnits(model.items());

    // One unit's cost on one thread, averaged over a few photos (after a warm-up
    // that loads the face models).
    {
        ImageAnalyzer analyzer;
        analyzer.measure(ImageLoader::shared().makeThumbnail(units.first().primary, 1280, false, false));
        double decode = 0, analysis = 0, decodeCpu = 0, analysisCpu = 0;
        const int samples = std::min<int>(12, units.size());
        for (int i = 0; i < samples; ++i) {
            timer.restart();
            double cpu = threadCpu();
            const QImage image = ImageLoader::shared().makeThumbnail(units[i].primary, 1280, false, false);
            decode += timer.nsecsElapsed() / 1e6;
            decodeCpu += (threadCpu() - cpu) * 1000;
            timer.restart();
            cpu = threadCpu();
            analyzer.measure(image);
            analysis += timer.nsecsElapsed() / 1e6;
            analysisCpu += (threadCpu() - cpu) * 1000;
        }
        std::printf("one unit on one thread (mean of %d): decode %.0f ms wall / %.0f ms CPU, "
                    "analysis %.0f ms wall / %.0f ms CPU\n",
                    samples, decode / samples, decodeCpu / samples, analysis / samples, analysisCpu / samples);
    }

    if (const std::optional<QString> cache = MetricsCache::fileFor(dir))
        QFile::remove(*cache);
    int measured = 0;
    const double cpuBefore = processCpu();
    const double full = scan(dir, units, measured);
    const double cpu = processCpu() - cpuBefore;
    std::printf("full scan, 2 workers: %.2f s, %.0f ms/unit (%d measured; target <= 100 ms/unit)\n", full,
                full * 1000 / units.size(), measured);
    std::printf("  CPU %.0f ms/unit, so %.0f ms/unit of wall time on two idle cores; load average %.1f\n",
                cpu * 1000 / units.size(), cpu * 500 / units.size(), [] {
                    double load[1] = {0};
                    return getloadavg(load, 1) == 1 ? load[0] : 0.0;
                }());
    const double cached = scan(dir, units, measured);
    std::printf("second scan through the cache: %.3f s for %lld units (%d measured; target < 1 s)\n", cached,
                qlonglong(units.size()), measured);

    // Hashing: both read the same files from the page cache; best of three.
    QStringList files;
    qint64 bytes = 0;
    for (const CleanupUnit &unit : units) {
        files << unit.primary;
        bytes += unit.fileSize;
    }
    double ours = 1e9, openssl = 1e9;
    for (int round = 0; round < 3; ++round) {
        timer.restart();
        for (const QString &file : std::as_const(files))
            fileDigest(file);
        ours = std::min(ours, timer.nsecsElapsed() / 1e9);
        timer.restart();
        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start("openssl", QStringList{"dgst", "-sha256"} + files);
        process.waitForFinished(-1);
        openssl = std::min(openssl, timer.nsecsElapsed() / 1e9);
        if (process.exitCode() != 0) {
            openssl = 0;
            break;
        }
    }
    const double mib = bytes / 1048576.0;
    std::printf("hashing %.0f MiB: fileDigest %.0f MiB/s, openssl dgst %.0f MiB/s, ratio %.2f (target >= 0.8)\n",
                mib, mib / ours, openssl > 0 ? mib / openssl : 0.0, openssl > 0 ? openssl / ours : 0.0);
    return 0;
}
