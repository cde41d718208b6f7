// How long closing the viewer takes while a large folder is still being scanned
// for capture dates, warmed up and thumbnailed. Every job has to notice the
// closing at its next file, so the figure stays a few hundred milliseconds
// whatever the folder's size.
// Usage: glanto_viewer_quit_bench FOLDER [DELAY_MS=400]
// FOLDER: photos to open (glanto_bench_folder makes them; hard links to the same
// photos under other names make a folder of thousands cheaply).
#include "settings/Settings.h"
#include "viewer/ViewerPage.h"
#include "viewer/ViewerViewController.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER [DELAY_MS]\n", argv[0]);
        return 2;
    }
    // A private settings store: the benchmark sorts by capture date without
    // touching the person's own preferences.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("GLANTO_RENDERER", "raster");
    QApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const int delayMs = argc > 2 ? std::max(0, atoi(argv[2])) : 400;
    Settings::setSortKey(SortKey::captureDate);
    Settings::setCleanupHintShown(true);

    auto *viewer = new ViewerPage;
    viewer->resize(1280, 800);
    viewer->show();
    bool shown = false;
    viewer->controller()->onDisplayed = [&shown](bool) { shown = true; };
    QElapsedTimer clock;
    clock.start();
    viewer->open(folder);
    const int photos = viewer->controller()->folderModel().count();
    while (!shown && clock.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const qint64 firstPhoto = clock.elapsed();
    QElapsedTimer wait;
    wait.start();
    while (wait.elapsed() < delayMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);

    QElapsedTimer closing;
    closing.start();
    delete viewer;
    const double closeMs = closing.nsecsElapsed() / 1e6;
    std::printf("folder: %d photos, first photo on screen after %lld ms, closed %d ms later\n", photos,
                static_cast<long long>(firstPhoto), delayMs);
    std::printf("close with the capture-date scan under way: %.1f ms\n", closeMs);
    return 0;
}
