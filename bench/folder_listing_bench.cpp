// Folder listing benchmark: how long FolderModel::load takes on a folder of
// many files, for each sort order. Loading reads the listing and three
// attributes per file; this measures that it stays far below what a user
// would notice (the goal: well under 100 ms for 10,000 files). Then the
// merge of a fresh listing into the model (FolderModel::refresh, on the main
// thread when the folder changes) with no change, with a few new files and
// with half the folder new; and the cleanup review's reading of every unit's
// size and time when it opens.
//
// usage: glanto_folder_listing_bench [FILE_COUNT] [RUNS]
// The folder is made in a temporary directory; the settings go to a private
// directory so the user's sort preference is left alone.

#include "cleanup/CleanupUnits.h"
#include "library/FolderModel.h"
#include "settings/Settings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <vector>

namespace {

// Photos from two cameras and a phone, a few sidecars and other files, sizes
// and times spread out like a real photo folder.
void populate(const QString &folder, int count)
{
    QRandomGenerator random(20240611);
    const char *patterns[] = {"IMG_%1.JPG", "DSC%1.jpg", "PXL_2023_%1.heic", "img%1.png", "IMG_%1.CR3"};
    for (int i = 0; i < count; ++i) {
        QString name;
        if (i % 50 == 49)
            name = QStringLiteral("IMG_%1.xmp").arg(i, 5, 10, QLatin1Char('0'));   // not an image
        else
            name = QString::fromLatin1(patterns[i % 5]).arg(random.bounded(100000), 5, 10, QLatin1Char('0'));
        const QByteArray path = QFile::encodeName(folder + u'/' + QString::number(i) + u'_' + name);
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0)
            continue;
        if (::ftruncate(fd, random.bounded(1 << 20)) != 0)
            std::perror("ftruncate");
        const time_t when = 1'500'000'000 + random.bounded(100'000'000);
        const struct timespec times[2] = {{when, 0}, {when, 0}};
        ::futimens(fd, times);
        ::close(fd);
    }
}

// Wall time and the process' CPU time (all threads). On a machine shared with other work
// the two differ: the wall time includes waiting for a core.
struct Stopwatch {
    QElapsedTimer wall;
    double cpuStart = cpuNow();

    Stopwatch() { wall.start(); }
    static double cpuNow()
    {
        timespec now;
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
    }
    double wallMs() const { return wall.nsecsElapsed() / 1e6; }
    double cpuMs() const { return cpuNow() - cpuStart; }
};

double medianOf(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir settingsHome;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(settingsHome.path()));
    QCoreApplication app(argc, argv);

    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 10000;
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 15;

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot make a temporary folder\n");
        return 1;
    }
    populate(dir.path(), count);

    std::printf("folder listing: %d files in %s (%d runs, warm file-system cache)\n", count, qPrintable(dir.path()),
                runs);
    std::printf("%-16s %12s %10s %12s %8s\n", "order", "wall median", "wall min", "CPU median", "items");

    FolderModel model;
    model.load(dir.path());   // warm the directory cache once

    for (SortKey key : allSortKeys) {
        Settings::setSortKey(key);
        std::vector<double> wall, cpu;
        for (int run = 0; run < runs; ++run) {
            const Stopwatch watch;
            model.load(dir.path());
            wall.push_back(watch.wallMs());
            cpu.push_back(watch.cpuMs());
        }
        std::printf("%-16s %12.2f %10.2f %12.2f %8d\n", sortKeyTitleKey(key), medianOf(wall),
                    *std::min_element(wall.begin(), wall.end()), medianOf(cpu), model.count());
    }

    // The parts on their own: the listing with attributes, and the name sort.
    std::vector<double> listingWall, listingCpu, sortingWall, sortingCpu;
    for (int run = 0; run < runs; ++run) {
        const Stopwatch listing;
        auto items = FolderModel::listFolder(dir.path()).value_or(QList<ImageItem>{});
        listingWall.push_back(listing.wallMs());
        listingCpu.push_back(listing.cpuMs());
        const Stopwatch sorting;
        FolderModel::sortItems(items, SortKey::name, false);
        sortingWall.push_back(sorting.wallMs());
        sortingCpu.push_back(sorting.cpuMs());
    }
    std::printf("%-16s %12.2f %10.2f %12.2f\n", "list only", medianOf(listingWall),
                *std::min_element(listingWall.begin(), listingWall.end()), medianOf(listingCpu));
    std::printf("%-16s %12.2f %10.2f %12.2f\n", "name sort only", medianOf(sortingWall),
                *std::min_element(sortingWall.begin(), sortingWall.end()), medianOf(sortingCpu));

    // What the review does on opening: every unit's size and time read again,
    // one stat per file, on the main thread.
    const QVector<CleanupUnit> units = makeUnits(FolderModel::listFolder(dir.path()).value_or(QList<ImageItem>{}));
    std::vector<double> restampWall, restampCpu;
    for (int run = 0; run < runs; ++run) {
        const Stopwatch restamp;
        const QVector<CleanupUnit> again = restampedUnits(units);
        restampWall.push_back(restamp.wallMs());
        restampCpu.push_back(restamp.cpuMs());
        if (again.size() != units.size())
            return 1;
    }
    std::printf("%-16s %12.2f %10.2f %12.2f %8d units\n", "review restamp", medianOf(restampWall),
                *std::min_element(restampWall.begin(), restampWall.end()), medianOf(restampCpu), int(units.size()));

    // The merge: the model is the folder without every n-th file, then merges
    // the whole listing (the missing files arrive as new ones).
    Settings::setSortKey(SortKey::name);
    const QList<ImageItem> listed = FolderModel::listFolder(dir.path()).value_or(QList<ImageItem>{});
    for (const auto &[title, every] : {std::pair{"merge, no change", 0}, std::pair{"merge, 1% new", 100},
                                      std::pair{"merge, 50% new", 2}}) {
        std::vector<double> wall, cpu;
        int added = 0;
        for (int run = 0; run < runs; ++run) {
            model.load(dir.path());
            if (every > 0) {
                for (int i = model.count() - 1; i >= 0; --i) {
                    if (i % every == 0)
                        model.removeAt(i);
                }
            }
            const Stopwatch watch;
            added = model.refresh(listed).added;
            wall.push_back(watch.wallMs());
            cpu.push_back(watch.cpuMs());
        }
        std::printf("%-16s %12.2f %10.2f %12.2f %8d new\n", title, medianOf(wall),
                    *std::min_element(wall.begin(), wall.end()), medianOf(cpu), added);
    }
    return 0;
}
