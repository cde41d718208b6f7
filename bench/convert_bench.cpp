// Batch convert and the export estimate, timed.
//
// 1. Batch convert of a folder of JPEGs to JPEG quality 85 with the program's
//    two workers, against libvips' own command-line `vips jpegsave` run as two
//    parallel processes over the same files, in the same run.
// 2. The export estimate of one large JPEG: the time from the last step of a
//    slider drag to the size being reported (the wait after the last change
//    included), with the photo already decoded by the first estimate.
//
// Usage: glanto_convert_bench FOLDER_OF_JPEGS [LARGE_JPEG]
// Make the folders with glanto_bench_folder: `glanto_bench_folder DIR 100
// --megapixels 12` and `glanto_bench_folder DIR24 1`.
#include "fileops/BatchConvert.h"
#include "fileops/Export.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <optional>

#include <unistd.h>

namespace {

double seconds(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e9;
}

double loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').value(0).toDouble() : -1.0;
}

// The sources under names ending in .jpeg, so that a conversion to .jpg does not
// skip them as already converted.
QStringList linkedSources(const QString &folder, const QString &into)
{
    QStringList sources;
    const QDir dir(folder);
    for (const QString &name : dir.entryList({QStringLiteral("*.jpg"), QStringLiteral("*.jpeg")}, QDir::Files, QDir::Name)) {
        const QString link = QDir(into).filePath(QFileInfo(name).completeBaseName() + QStringLiteral(".jpeg"));
        if (::symlink(QFile::encodeName(dir.absoluteFilePath(name)).constData(), QFile::encodeName(link).constData()) == 0)
            sources << link;
    }
    return sources;
}

double programConvert(const QStringList &sources, const QString &folder)
{
    BatchConvert converter;
    std::optional<BatchConvert::Summary> done;
    converter.onFinished = [&](const BatchConvert::Summary &s) { done = s; };
    QElapsedTimer timer;
    timer.start();
    converter.start(sources, folder, Encoder::Format::jpeg, 85);
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double elapsed = seconds(timer);
    std::printf("  program: %d written, %d failed\n", done->succeeded, done->failed);
    return elapsed;
}

double vipsConvert(const QStringList &sources, const QString &out)
{
    QDir().mkpath(out);
    QStringList halves[2];
    for (int i = 0; i < sources.size(); ++i)
        halves[i % 2] << sources[i];
    QProcess processes[2];
    QElapsedTimer timer;
    timer.start();
    for (int p = 0; p < 2; ++p) {
        QString script = QStringLiteral("set -e; for f in \"$@\"; do b=$(basename \"$f\" .jpeg); "
                                        "vips jpegsave \"$f\" \"%1/$b.jpg\" --Q 85; done").arg(out);
        processes[p].start(QStringLiteral("sh"), QStringList{QStringLiteral("-c"), script, QStringLiteral("sh")} + halves[p]);
    }
    for (QProcess &p : processes)
        p.waitForFinished(-1);
    const double elapsed = seconds(timer);
    std::printf("  vips: %lld written\n", static_cast<long long>(QDir(out).entryList(QDir::Files).size()));
    return elapsed;
}

double estimateAfterDrag(const QString &photo)
{
    ExportEstimator estimator;
    std::optional<QElapsedTimer> sinceLastChange;
    double shownAfter = -1;
    bool known = false;
    estimator.onEstimate = [&](ExportEstimator::State state, qint64 bytes) {
        if (state == ExportEstimator::State::estimating)
            return;
        known = true;
        if (sinceLastChange && shownAfter < 0) {
            shownAfter = seconds(*sinceLastChange);
            std::printf("  estimate %lld bytes\n", static_cast<long long>(bytes));
        }
    };
    // The sheet opens at 85: the first estimate decodes the photo.
    QElapsedTimer first;
    first.start();
    estimator.request({photo, 0, Encoder::Format::jpeg, 85});
    while (!known)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    std::printf("  first estimate (decode and encode) %.3f s\n", seconds(first));
    // A drag down to 70, one step every 16 ms.
    for (int q = 84; q >= 70; --q) {
        estimator.request({photo, 0, Encoder::Format::jpeg, q});
        if (q == 70) {
            sinceLastChange.emplace();
            sinceLastChange->start();
            break;
        }
        QElapsedTimer step;
        step.start();
        while (step.elapsed() < 16)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 4);
    }
    while (shownAfter < 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return shownAfter;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: %s FOLDER_OF_JPEGS [LARGE_JPEG]\n", argv[0]);
        return 2;
    }
    QTemporaryDir work;
    const QStringList sources = linkedSources(args[0], work.path());
    if (sources.isEmpty()) {
        std::fprintf(stderr, "no JPEGs in %s\n", qPrintable(args[0]));
        return 1;
    }
    std::printf("load average before: %.2f\n", loadAverage());
    std::printf("batch convert of %lld JPEGs to JPEG quality 85\n", static_cast<long long>(sources.size()));
    const double ours = programConvert(sources, work.path());
    const double theirs = vipsConvert(sources, work.filePath(QStringLiteral("vips-out")));
    std::printf("  program, two workers: %.2f s\n  vips jpegsave, two processes: %.2f s\n  ratio: %.2fx (goal: at most 1.3x)\n",
                ours, theirs, ours / theirs);
    if (args.size() > 1) {
        std::printf("export estimate of %s\n", qPrintable(QFileInfo(args[1]).fileName()));
        const double shown = estimateAfterDrag(args[1]);
        std::printf("  last slider change to estimate shown: %.3f s (goal: at most 0.6 s)\n", shown);
    }
    std::printf("load average after: %.2f\n", loadAverage());
    return 0;
}
