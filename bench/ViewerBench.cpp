#include "ViewerBench.h"

#include "library/ImageLoader.h"
#include "viewer/ViewerPage.h"
#include "viewer/ViewerViewController.h"
#include "viewer/ZoomableImageView.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QPointer>
#include <QTimer>

#include <turbojpeg.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <unistd.h>
#include <functional>
#include <vector>

namespace {

void report(const char *name, double value, const char *unit, const QString &note = {})
{
    std::fprintf(stdout, "bench: %-28s %10.1f %s%s%s\n", name, value, unit, note.isEmpty() ? "" : "  ",
                 qPrintable(note));
    std::fflush(stdout);
}

// Milliseconds since the process started: from GLANTO_LAUNCH_NS (the wall clock in
// nanoseconds, set by a launcher just before exec) when given, else from the
// kernel's start time of this process (10 ms resolution).
double msSinceLaunch()
{
    const QByteArray launch = qgetenv("GLANTO_LAUNCH_NS");
    if (!launch.isEmpty()) {
        timespec now {};
        clock_gettime(CLOCK_REALTIME, &now);
        const double nowNs = double(now.tv_sec) * 1e9 + double(now.tv_nsec);
        return (nowNs - launch.toDouble()) / 1e6;
    }
    QFile stat(QStringLiteral("/proc/self/stat"));
    QFile uptime(QStringLiteral("/proc/uptime"));
    if (!stat.open(QIODevice::ReadOnly) || !uptime.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray statText = stat.readAll();
    // Fields after the command name, which is in parentheses and may hold spaces.
    const QList<QByteArray> fields = statText.mid(statText.lastIndexOf(')') + 2).split(' ');
    const double startTicks = fields.size() > 19 ? fields.at(19).toDouble() : 0;
    const double up = uptime.readAll().split(' ').value(0).toDouble();
    return (up - startTicks / double(sysconf(_SC_CLK_TCK))) * 1000.0;
}

double residentMB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

// libjpeg-turbo decoding the whole file to RGBA in memory: the floor for a 1:1 view.
double turboDecodeMs(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray jpeg = file.readAll();
    tjhandle tj = tjInitDecompress();
    if (!tj)
        return -1;
    int w = 0, h = 0, subsampling = 0, colourspace = 0;
    const auto *data = reinterpret_cast<const unsigned char *>(jpeg.constData());
    double ms = -1;
    if (tjDecompressHeader3(tj, data, (unsigned long)jpeg.size(), &w, &h, &subsampling, &colourspace) == 0) {
        QElapsedTimer timer;
        timer.start();
        std::vector<unsigned char> buffer(size_t(w) * size_t(h) * 4);
        if (tjDecompress2(tj, data, (unsigned long)jpeg.size(), buffer.data(), w, 0, h, TJPF_RGBA, 0) == 0)
            ms = timer.nsecsElapsed() / 1e6;
    }
    tjDestroy(tj);
    return ms;
}

// Runs the event loop until done() holds or the time runs out; false on timeout.
bool spinUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 2);
    }
    return true;
}

void pause(int ms)
{
    spinUntil([] { return false; }, ms);
}

// The longest time the main thread went without serving a 2 ms timer.
class StallMonitor
{
public:
    StallMonitor()
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(2);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.nsecsElapsed();
            if (last > 0)
                worst = std::max(worst, (now - last) / 1e6 - 2.0);
            last = now;
        });
    }
    void start()
    {
        worst = 0;
        last = 0;
        clock.start();
        timer.start();
    }
    double stop()
    {
        timer.stop();
        return worst;
    }

private:
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    double worst = 0;
};

void sendKey(ZoomableImageView *view, int key, const QString &text, bool autoRepeat = false)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text, autoRepeat);
    QCoreApplication::sendEvent(view, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text, autoRepeat);
    QCoreApplication::sendEvent(view, &release);
}

bool idle(ViewerPage *page)
{
    ViewerViewController *viewer = page->controller();
    return viewer->decodeQueue.activeThreadCount() == 0 && viewer->prefetchQueue.activeThreadCount() == 0;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

QStringList benchPhotos(const QString &folder)
{
    QStringList files;
    const QDir dir(folder);
    for (const QString &name : dir.entryList({"*.jpg", "*.jpeg", "*.JPG", "*.JPEG"}, QDir::Files, QDir::Name))
        files << dir.absoluteFilePath(name);
    return files;
}

void runBench(QPointer<ViewerPage> viewer, const QString &folder)
{
    const QStringList files = benchPhotos(folder);
    if (files.isEmpty()) {
        std::fprintf(stderr, "glanto: --bench: no JPEG files in %s\n", qPrintable(folder));
        QCoreApplication::exit(1);
        return;
    }
    ZoomableImageView *view = viewer->imageView();
    ImageSurface *surface = view->surface();
    report("renderer", surface->isOpenGL() ? 1 : 0, surface->isOpenGL() ? "(OpenGL)" : "(raster)");
    auto onScreen = [view] { return view->currentBitmapId() != 0 && view->surface()->presentedBitmap() == view->currentBitmapId(); };

    // 1. Launch to pixels: the first photo opened as a file, as a double-click would.
    report("window_ready_ms", msSinceLaunch(), "ms");
    viewer->open(files.first());
    report("open_returned_ms", msSinceLaunch(), "ms");
    spinUntil([&] { return view->currentBitmapId() != 0; }, 20000);
    report("first_bitmap_ms", msSinceLaunch(), "ms");
    if (!spinUntil(onScreen, 20000)) {
        std::fprintf(stderr, "glanto: --bench: the first photo never reached the screen\n");
        QCoreApplication::exit(1);
        return;
    }
    report("launch_to_pixels_ms", msSinceLaunch(), "ms", QStringLiteral("target < 350"));
    // The comparison with other viewers (launch_vs_feh.sh) needs this figure only.
    if (qEnvironmentVariableIsSet("GLANTO_BENCH_LAUNCH_ONLY")) {
        QCoreApplication::exit(0);
        return;
    }

    // 2. The next photo when it was prefetched: key press to the frame showing it.
    std::vector<double> nextTimes;
    for (int i = 0; i < 7 && viewer; ++i) {
        spinUntil([&] { return idle(viewer); }, 10000);
        pause(200);
        const uint64_t before = view->currentBitmapId();
        QElapsedTimer timer;
        timer.start();
        sendKey(view, Qt::Key_Right, QString());
        if (spinUntil([&] { return view->currentBitmapId() != before && onScreen(); }, 5000))
            nextTimes.push_back(timer.nsecsElapsed() / 1e6);
    }
    report("prefetched_next_median_ms", median(nextTimes), "ms", QStringLiteral("target <= 16"));
    report("prefetched_next_max_ms", nextTimes.empty() ? -1 : *std::max_element(nextTimes.begin(), nextTimes.end()),
           "ms");

    // 3. 1:1 zoom of the photo on screen against libjpeg-turbo decoding it.
    spinUntil([&] { return idle(viewer); }, 10000);
    pause(300);
    {
        const QString current = viewer->controller()->folderModel().current()->url;
        viewer->controller()->imageLoader().invalidate(current);
        const double logicalWidth = view->displayedLogicalSize().width();
        QElapsedTimer timer;
        timer.start();
        sendKey(view, Qt::Key_0, QStringLiteral("0"));
        const bool shown = spinUntil(
            [&] { return onScreen() && view->shownPixelSize().width() >= logicalWidth - 1; }, 20000);
        const double zoomMs = shown ? timer.nsecsElapsed() / 1e6 : -1;
        pause(200);
        const double turboMs = turboDecodeMs(current);
        report("zoom_1to1_full_pixels_ms", zoomMs, "ms");
        report("libjpeg_turbo_full_decode_ms", turboMs, "ms");
        report("zoom_1to1_ratio", turboMs > 0 && zoomMs > 0 ? zoomMs / turboMs : -1, "x",
               QStringLiteral("target <= 1.3"));
        sendKey(view, Qt::Key_0, QStringLiteral("0"));
        pause(300);
    }

    // 4. Holding the right arrow: key repeat at 30 steps a second through the folder.
    const int steps = std::min<int>(200, int(files.size()));
    StallMonitor monitor;
    monitor.start();
    int ownPhotoShown = 0;
    for (int i = 0; i < steps && viewer; ++i) {
        const uint64_t before = view->currentBitmapId();
        sendKey(view, Qt::Key_Right, QString(), i > 0);
        QElapsedTimer step;
        step.start();
        spinUntil([&] { return step.elapsed() >= 33; }, 40);
        if (view->currentBitmapId() != before && onScreen())
            ++ownPhotoShown;
    }
    const double worstStall = monitor.stop();
    report("key_repeat_steps", steps, "steps");
    report("key_repeat_own_photo_shown", ownPhotoShown, "steps", QStringLiteral("the rest showed the previous photo"));
    report("key_repeat_worst_stall_ms", worstStall, "ms", QStringLiteral("target <= 50"));

    // 5. Memory after browsing 500 photos, at a photographer's pace.
    int browsed = steps + int(nextTimes.size()) + 1;
    while (browsed < 500 && viewer) {
        sendKey(view, Qt::Key_Right, QString());
        spinUntil(onScreen, 2000);
        ++browsed;
    }
    spinUntil([&] { return idle(viewer); }, 10000);
    pause(500);
    const ImageCacheLimits &limits = viewer->controller()->imageLoader().limits();
    const double cacheMB = (limits.previewCost + limits.fullCost + int64_t(limits.thumbCount) * 128 * 128 * 4)
                           / (1024.0 * 1024.0);
    report("photos_browsed", browsed, "photos");
    report("resident_memory_mb", residentMB(), "MB",
           QStringLiteral("limit %1 MB (caches %2 + 200)").arg(cacheMB + 200, 0, 'f', 0).arg(cacheMB, 0, 'f', 0));
    QCoreApplication::exit(0);
}

} // namespace

std::optional<QString> benchFolder(const QStringList &arguments)
{
    const int at = arguments.indexOf(QStringLiteral("--bench"));
    if (at < 0 || at + 1 >= arguments.size() || arguments.at(at + 1).startsWith(QLatin1Char('-')))
        return std::nullopt;
    return arguments.at(at + 1);
}

std::optional<QString> benchFirstPhoto(const QString &folder)
{
    const QStringList files = benchPhotos(folder);
    return files.isEmpty() ? std::nullopt : std::optional<QString>(files.first());
}

void startBench(ViewerPage *viewer, const QString &folder)
{
    QPointer<ViewerPage> guard(viewer);
    // Let the window map and paint its empty state first, as at any launch.
    QTimer::singleShot(0, viewer, [guard, folder] {
        if (guard)
            runBench(guard, folder);
    });
}
