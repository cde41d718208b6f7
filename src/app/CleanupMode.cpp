#include "app/CleanupMode.h"

#include "app/ViewerHandOffs.h"
#include "app/ViewerWindowController.h"
#include "app/WindowShot.h"
#include "cleanup/CleanupController.h"
#include "cleanup/CleanupUnits.h"
#include "cleanup/review/CleanupGridView.h"
#include "cleanup/review/CleanupPage.h"
#include "platform/Trash.h"
#include "viewer/ViewerPage.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

// The review page as one of the window's pages: its commands are the window's
// while it is shown, and the keyboard belongs to its grid.
class CleanupModePage : public CleanupPage, public CommandPage
{
public:
    CleanupModePage(const QString &folder, QVector<CleanupUnit> units, std::function<void(bool)> onExit)
        : CleanupPage(folder, std::move(units), Trash::system(), std::move(onExit))
    {
        setObjectName(QStringLiteral("cleanupPage"));
        const QHash<QString, std::function<void()>> own = CleanupPage::commands();
        const auto bind = [this, &own](CommandId id, const char *name) {
            const std::function<void()> run = own.value(QLatin1String(name));
            if (run)
                CommandPage::commands.on(id, [run](int) { run(); });
        };
        // Keys without a command of their own (ticking, the preview, Ctrl+Z,
        // up and down) are not the router's: they go on to the grid.
        bind(CommandId::trashCurrent, "trash");
        bind(CommandId::toggleCleanup, "exit");
        bind(CommandId::escape, "escape");
        bind(CommandId::navigateBackward, "left");
        bind(CommandId::navigateForward, "right");
    }

    QWidget *pageWidget() override { return this; }
    void pageActivated() override { grid().setFocus(Qt::OtherFocusReason); }
};

// Runs step every 100 ms until it returns true or timeoutMs passed; then done(finished).
void pollUntil(QObject *context, std::function<bool()> step, int timeoutMs, std::function<void(bool)> done)
{
    auto timer = new QTimer(context);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QObject::connect(timer, &QTimer::timeout, context, [timer, clock, step, timeoutMs, done] {
        const bool finished = step();
        if (!finished && clock->elapsed() < timeoutMs)
            return;
        timer->stop();
        timer->deleteLater();
        done(finished);
    });
    timer->start(100);
}

void endShot(int status, const QString &message)
{
    std::fprintf(stderr, "cleanup-shot: %s\n", qPrintable(message));
    QCoreApplication::exit(status);
}

} // namespace

CleanupPage *shownCleanupPage(ViewerWindowController *window)
{
    if (!window)
        return nullptr;
    return dynamic_cast<CleanupModePage *>(window->router().activePage());
}

CleanupPage *enterCleanup(ViewerWindowController *window)
{
    if (!window || shownCleanupPage(window))
        return nullptr;
    ViewerPage *viewer = window->viewerPage();
    const FolderModel &model = viewer->controller()->folderModel();
    const std::optional<ImageItem> current = model.current();
    if (!current)
        return nullptr;
    const QString folder = QFileInfo(current->url).absolutePath();
    const QString entered = current->url;

    QPointer<ViewerWindowController> owner(window);
    auto self = std::make_shared<QPointer<CleanupModePage>>();
    auto onExit = [owner, self, folder, entered](bool changed) {
        // The review is still inside its own call stack (a button, a key):
        // it goes on the next turn of the event loop.
        QTimer::singleShot(0, owner.data(), [owner, self, folder, entered, changed] {
            if (!owner)
                return;
            if (CleanupModePage *page = *self) {
                // What the review moved stays for Ctrl+Z in the viewer.
                for (const QVector<TrashedFile> &batch : std::as_const(page->controller().undoStack))
                    keepTrashUndo(batch);
                owner->popPage(page);
                page->deleteLater();
                // The viewer is visible again only now: its view takes the keyboard.
                owner->viewerPage()->pageActivated();
            }
            if (!changed)
                return;
            // Files left the folder: read it again, on the photo shown before the
            // review when it is still there (an undo brings it back), else on the
            // one that took its place meanwhile.
            ViewerPage *viewer = owner->viewerPage();
            const std::optional<QString> shown = viewer->currentPhotoPath();
            // A folder gone meanwhile is the viewer's to follow: it says so and
            // looks for the folder again, where opening it would find nothing.
            if (!QFileInfo(folder).isDir()) {
                viewer->controller()->refreshFolder();
                return;
            }
            if (QFileInfo::exists(entered))
                viewer->open(entered);
            else
                viewer->open(shown && QFileInfo::exists(*shown) ? *shown : folder);
        });
    };

    // The review takes the window as it was before a peek shaped it like the
    // photo. The viewer stops its slideshow as its page is hidden
    // (ViewerOverlays), so nothing pages it behind the review.
    viewer->endAnyPeek();
    // Sizes and times as the disk has them now, not as the listing last read
    // them: a photo that changes after this is not moved to the Trash.
    auto page = new CleanupModePage(folder, restampedUnits(makeUnits(model.photoItems())), std::move(onExit));
    *self = page;
    window->pushPage(page);
    return page;
}

void installCleanupMode(ViewerWindowController *window)
{
    ViewerPage *viewer = window->viewerPage();
    viewer->cleanupAvailable = [] { return true; };
    QPointer<ViewerWindowController> owner(window);
    viewer->commands.on(
        CommandId::toggleCleanup, [owner](int) { enterCleanup(owner); }, viewer->menuRule(CommandId::toggleCleanup));
}

void scheduleCleanupShot(ViewerWindowController *window, const QString &path)
{
    QPointer<ViewerWindowController> owner(window);
    const auto folderOpen = [owner] {
        return owner && owner->viewerPage()->controller()->folderModel().count() > 0;
    };
    pollUntil(window, folderOpen, 30000, [owner, path](bool opened) {
        if (!owner)
            return endShot(1, QStringLiteral("the window is gone"));
        if (!opened)
            return endShot(1, QStringLiteral("no folder with photos was opened"));
        owner->router().dispatch(CommandId::toggleCleanup);
        const auto scanned = [owner] {
            CleanupPage *page = shownCleanupPage(owner);
            return page && page->controller().groupingComplete();
        };
        pollUntil(owner, scanned, 300000, [owner, path](bool finished) {
            if (!owner || !shownCleanupPage(owner))
                return endShot(1, QStringLiteral("the cleanup review did not open"));
            if (!finished)
                return endShot(1, QStringLiteral("the scan did not finish in time"));
            // The visible thumbnails decode on two workers; give them a moment.
            QTimer::singleShot(1500, owner, [owner, path] {
                const QString error = saveWindowShot(owner, path);
                if (error.isEmpty())
                    endShot(0, QStringLiteral("saved %1").arg(path));
                else
                    endShot(1, error);
            });
        });
    });
}
