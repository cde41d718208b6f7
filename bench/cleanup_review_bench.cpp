// The review screen's speed on a 2,000-photo folder (200 of them with a RAW
// beside them), with a private Trash and cache under a temporary folder:
//   - opening the screen on a folder already in the metrics cache: time to the
//     first groups on screen (goal: within 1 s);
//   - scrolling the grid: time per frame (goal: within 16 ms);
//   - trashing 200 ticked photos with their companions, then undoing it (goal:
//     each within 2 s), with the longest stall of the event loop meanwhile.
// Usage: glanto_cleanup_review_bench [WORK_DIR]   (run under Xvfb or offscreen)
#include "cleanup/CleanupController.h"
#include "cleanup/CleanupScanner.h"
#include "cleanup/CleanupUnits.h"
#include "cleanup/DistanceCache.h"
#include "cleanup/MetricsCache.h"
#include "cleanup/review/CleanupGridView.h"
#include "cleanup/review/CleanupPage.h"
#include "library/FolderModel.h"
#include "platform/Trash.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <sys/time.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <ctime>

namespace {

constexpr int photoCount = 2000;
constexpr int burstSize = 5;
constexpr int withRaw = 200;

void setModified(const QString &path, qint64 secondsSince1970)
{
    const struct timeval times[2] = {{secondsSince1970, 0}, {secondsSince1970, 0}};
    ::utimes(QFile::encodeName(path).constData(), times);
}

// Bursts of five nearly identical pictures a second apart, bursts 100 s apart.
void makeFolder(const QString &folder)
{
    QRandomGenerator random(7);
    for (int i = 0; i < photoCount; ++i) {
        const int burst = i / burstSize;
        QImage image(240, 160, QImage::Format_RGB32);
        QRandomGenerator shape(quint32(burst) + 1);
        image.fill(QColor::fromHsv(int(shape.bounded(360)), 120, 160));
        QPainter painter(&image);
        for (int k = 0; k < 12; ++k) {
            painter.setBrush(QColor::fromHsv(int(shape.bounded(360)), 200, 220));
            painter.drawEllipse(int(shape.bounded(240)), int(shape.bounded(160)), 30, 30);
        }
        painter.setPen(Qt::black);
        painter.drawText(4 + (i % burstSize), 150, QString::number(i));
        painter.end();
        const QString path = QDir(folder).filePath(QStringLiteral("IMG_%1.jpg").arg(i, 4, 10, QLatin1Char('0')));
        image.save(path, "JPEG", 85);
        setModified(path, 1'600'000'000 + qint64(burst) * 100 + (i % burstSize));
        if (i % (photoCount / withRaw) == 1) {
            QFile raw(QDir(folder).filePath(QStringLiteral("IMG_%1.NEF").arg(i, 4, 10, QLatin1Char('0'))));
            raw.open(QIODevice::WriteOnly);
            raw.write(QByteArray(200'000 + int(random.bounded(1000)), char(i)));
        }
    }
}

// CPU time of the calling thread, in ms: on a loaded machine the wall clock
// also counts the time other processes ran.
double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

bool waitUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

// The longest gap between ticks of a 5-ms timer while it runs: how long the
// screen could not answer.
class StallMeter
{
public:
    StallMeter()
    {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.nsecsElapsed();
            longest = std::max(longest, now - last);
            last = now;
        });
        clock.start();
        last = 0;
        timer.start();
    }
    double longestMs() const { return double(longest) / 1e6; }

private:
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
};

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir temporary;
    const QString work = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path();
    qputenv("XDG_CACHE_HOME", QFile::encodeName(work + "/cache"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(work + "/data"));
    QApplication app(argc, argv);
    const QString folder = work + "/photos";
    if (!QDir(folder).exists()) {
        QDir().mkpath(folder);
        QElapsedTimer made;
        made.start();
        makeFolder(folder);
        std::printf("folder\t%d photos, %d with a RAW\t%.1f s\n", photoCount, withRaw, made.elapsed() / 1000.0);
    }
    const std::optional<QList<ImageItem>> items = FolderModel::listFolder(folder);
    if (!items)
        return 1;
    const QVector<CleanupUnit> units = makeUnits(*items);

    // Fill the metrics cache with a real scan (not part of any figure). A cache
    // left by an earlier run in WORK_DIR is used as it is, so that the opening
    // below is the first read of it in this process, as in the program.
    const std::optional<QString> metricsFile = MetricsCache::fileFor(folder);
    if (!metricsFile || !QFileInfo::exists(*metricsFile)) {
        CleanupScanner first(folder, units, true);
        bool finished = false;
        first.onFinish = [&] { finished = true; };
        QElapsedTimer scan;
        scan.start();
        first.start();
        waitUntil([&] { return finished; }, 3'600'000);
        std::printf("cache fill\t%d measured\t%.1f s\n", first.measuredCount(), scan.elapsed() / 1000.0);
    }

    // 1. Opening the screen on the cached folder: once with the neighbour
    // distances still to measure (a folder scanned but never reviewed to the
    // end), then again once the first visit has stored them.
    if (metricsFile)
        QFile::remove(DistanceCache::fileBeside(*metricsFile));
    bool left = false;
    std::unique_ptr<CleanupPage> shown;
    for (const char *visit : {"first visit", "return"}) {
        shown.reset();
        QElapsedTimer open;
        open.start();
        const double openCpu = threadCpuMs();
        shown = std::make_unique<CleanupPage>(folder, units, Trash::system(), [&](bool) { left = true; });
        shown->resize(1400, 900);
        shown->show();
        CleanupController &c = shown->controller();
        waitUntil([&] { return c.unitCount(CleanupCategory::similar) > 0; }, 60000);
        QCoreApplication::processEvents();
        const double firstGroups = open.nsecsElapsed() / 1e6;
        const double firstGroupsCpu = threadCpuMs() - openCpu;
        waitUntil([&] { return c.groupingComplete(); }, 120000);
        const double complete = open.nsecsElapsed() / 1e6;
        std::printf("open, %s\tfirst groups after %.0f ms (main-thread CPU %.0f ms; goal 1000), all after %.0f ms\t"
                    "%d bursts, %d photos\n",
                    visit, firstGroups, firstGroupsCpu, complete,
                    int(c.result.groups[CleanupCategory::similar].size()), c.unitCount(CleanupCategory::similar));
        if (std::strcmp(visit, "return") != 0) {
            c.exitCleanup();
            left = false;
        }
    }
    CleanupPage &page = *shown;
    CleanupController &c = page.controller();

    // 2. Scrolling: every frame drawn at once, thumbnails arriving meanwhile.
    QScrollBar *bar = page.grid().verticalScrollBar();
    double worst = 0, total = 0, worstCpu = 0, totalCpu = 0;
    int frames = 0;
    for (int y = 0; y <= bar->maximum() && frames < 600; y += 60, ++frames) {
        bar->setValue(y);
        QElapsedTimer frame;
        frame.start();
        const double cpu = threadCpuMs();
        page.grid().viewport()->repaint();
        const double cpuMs = threadCpuMs() - cpu;
        const double ms = frame.nsecsElapsed() / 1e6;
        worst = std::max(worst, ms);
        total += ms;
        worstCpu = std::max(worstCpu, cpuMs);
        totalCpu += cpuMs;
        QCoreApplication::processEvents();
    }
    std::printf("scroll\t%d frames\twall mean %.2f ms, worst %.2f ms; main-thread CPU mean %.2f ms, worst %.2f ms"
                " (goal 16)\n",
                frames, total / std::max(1, frames), worst, totalCpu / std::max(1, frames), worstCpu);

    // 3. Trash 200 ticked photos, then undo.
    for (CleanupCategory category : allCleanupCategories()) {
        page.selectCategory(category);
        c.checkNone();
    }
    // Every photo with a RAW beside it (200), each sent with its companion.
    int ticked = 0;
    int companions = 0;
    for (const CleanupUnit &unit : std::as_const(c.units)) {
        if (ticked < withRaw && !unit.companions.isEmpty()) {
            c.setChecked(unit.primary, true);
            companions += int(c.filesToTrash(unit).size()) - 1;
            ++ticked;
        }
    }
    {
        StallMeter stalls;
        QElapsedTimer trash;
        trash.start();
        c.trashCheckedUnits();
        waitUntil([&] { return !c.isBusy(); }, 60000);
        std::printf("trash\t%d photos + %d companions\t%.0f ms (goal 2000), longest stall %.1f ms\n", ticked,
                    companions, trash.nsecsElapsed() / 1e6, stalls.longestMs());
    }
    {
        StallMeter stalls;
        QElapsedTimer undo;
        undo.start();
        c.undoLastTrash();
        waitUntil([&] { return !c.isBusy(); }, 60000);
        std::printf("undo\t%d photos back\t%.0f ms (goal 2000), longest stall %.1f ms\n", int(c.units.size()),
                    undo.nsecsElapsed() / 1e6, stalls.longestMs());
    }
    c.exitCleanup();
    return left ? 0 : 1;
}
