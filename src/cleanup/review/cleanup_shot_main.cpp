// glanto-cleanup-shot FOLDER OUTPUT.png [CATEGORY] [--preview]
//
// A self-check of the review screen: it opens the screen on FOLDER in a
// 1400 x 900 window, waits for the scan and the visible thumbnails, selects
// the first photo of CATEGORY (similar, duplicate, closedEyes or blurry) and
// saves the window as OUTPUT.png. One log line per step on standard error.
// Nothing is moved: the Trash is never asked.

#include "cleanup/CleanupController.h"
#include "cleanup/CleanupUnits.h"
#include "cleanup/review/CleanupGridView.h"
#include "cleanup/review/CleanupPage.h"
#include "library/FolderModel.h"
#include "platform/FakeTrash.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cstdio>

namespace {

void waitUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

void settle(int ms)
{
    waitUntil([] { return false; }, ms);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: glanto-cleanup-shot FOLDER OUTPUT.png [CATEGORY] [--preview]\n");
        return 2;
    }
    const QString folder = args[1];
    const QString output = args[2];
    const std::optional<QList<ImageItem>> items = FolderModel::listFolder(folder);
    if (!items) {
        std::fprintf(stderr, "cannot list %s\n", qPrintable(folder));
        return 1;
    }
    FakeTrash trash; // a picture of the screen moves nothing
    bool exited = false;
    CleanupPage page(folder, makeUnits(*items), trash, [&](bool) { exited = true; });
    page.resize(1400, 900);
    page.setWindowTitle(QStringLiteral("Glanto cleanup self-check"));
    page.show();
    std::fprintf(stderr, "shot: %lld units\n", qint64(page.controller().units.size()));

    QElapsedTimer timer;
    timer.start();
    waitUntil([&] { return page.controller().groupingComplete(); }, 300000);
    std::fprintf(stderr, "shot: scan finished in %lld ms\n", timer.elapsed());

    for (int i = 3; i < args.size(); ++i) {
        const std::optional<CleanupCategory> category =
            args[i] == "similar" ? std::optional(CleanupCategory::similar)
            : args[i] == "duplicate" ? std::optional(CleanupCategory::duplicate)
            : args[i] == "closedEyes" ? std::optional(CleanupCategory::closedEyes)
            : args[i] == "blurry" ? std::optional(CleanupCategory::blurry)
                                  : std::nullopt;
        if (category)
            page.selectCategory(*category);
    }
    page.grid().moveSelection(1, 0);
    if (args.contains("--preview"))
        page.togglePreview();
    settle(2500); // the visible thumbnails
    std::fprintf(stderr, "shot: %s\n", qPrintable(page.controller().statusText()));
    if (!page.grab().save(output)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(output));
        return 1;
    }
    std::fprintf(stderr, "shot: saved %s\n", qPrintable(output));
    return exited ? 1 : 0;
}
