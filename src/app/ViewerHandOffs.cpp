#include "app/ViewerHandOffs.h"

#include "app/MainMenu.h"
#include "app/ViewerWindowController.h"
#include "platform/Applications.h"
#include "platform/Editor.h"
#include "platform/HandOff.h"
#include "platform/PhotoClipboard.h"
#include "platform/Trash.h"
#include "platform/Wallpaper.h"
#include "settings/Settings.h"
#include "settings/Texts.h"
#include "viewer/ViewerPage.h"
#include "viewer/ViewerPageEdits.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QMenu>
#include <QPointer>
#include <QSet>
#include <QStandardPaths>
#include <QThreadPool>
#include <QUrl>

#include <algorithm>

namespace {

void show(ViewerPage *viewer, const HandOffMessage &message)
{
    viewer->flash(message.text, message.seconds);
}

// The Trash is asked on a worker of its own, one request at a time, so that a
// slow file system never holds the window.
QThreadPool &trashQueue()
{
    static QThreadPool *pool = [] {
        auto p = new QThreadPool;
        p->setMaxThreadCount(1);
        return p;
    }();
    return *pool;
}

// What was moved to the Trash in this run, the latest last, one entry for each
// request (a photo of the viewer, a review's batch): Ctrl+Z puts them back one
// request at a time.
QList<QVector<TrashedFile>> &trashedFromViewer()
{
    static QList<QVector<TrashedFile>> batches;
    return batches;
}

void trashShownPhoto(ViewerPage *viewer)
{
    const std::optional<QString> photo = viewer->currentPhotoPath();
    if (!photo || !viewer->currentFileIsShownOne())
        return;
    // A second press before the Trash answered must not ask for the same file again.
    static QSet<QString> pending;
    if (pending.contains(*photo))
        return;
    pending.insert(*photo);
    // The folder's generation, not the photo's: paging on before the answer
    // still removes this file, while opening another folder drops the answer.
    const int folder = viewer->controller()->folderGeneration;
    QPointer<ViewerPage> self(viewer);
    const QString path = *photo;
    HandOff::start(trashQueue(), [self, path, folder] {
        TrashOutcome outcome = Trash::system().moveToTrash({path});
        if (!outcome.moved.empty())
            moveOrphanedSidecar(Trash::system(), path, outcome);
        HandOff::invoke(qApp, [self, path, folder, outcome] {
            pending.remove(path);
            if (!self)
                return;
            if (!outcome.moved.empty()) {
                trashedFromViewer().append(QVector<TrashedFile>(outcome.moved.begin(), outcome.moved.end()));
                self->controller()->photoTrashed(path, folder);
                // What was known of its rating left with it: a photo given the
                // name later has its own.
                if (ViewerPageEdits *edits = self->edits())
                    edits->edits.forget({path});
                HandOffMessage message = HandOff::trashed(path);
                // The photo went; a sidecar that could not follow says so, or
                // its rating would pass to the next photo given the name.
                if (!outcome.failed.empty()) {
                    const TrashFailure &stayed = outcome.failed.front();
                    message.text += QStringLiteral("  ·  ")
                                    + Texts::format("msg.sidecarStayed",
                                                    {QFileInfo(stayed.path).fileName(), stayed.reason});
                    message.seconds = 5.0;
                }
                show(self, message);
                return;
            }
            const QString reason = outcome.failed.empty() ? QString() : outcome.failed.front().reason;
            show(self, HandOff::trashFailed(reason));
        }, Qt::QueuedConnection);
    });
}

// Puts what was last moved to the Trash back where it was and shows it. A
// file that has since appeared under its name is left alone and stays in the
// Trash, as does one whose folder is away: a later Ctrl+Z tries it again.
void untrashLastPhoto(ViewerPage *viewer)
{
    if (trashedFromViewer().isEmpty())
        return;
    const QVector<TrashedFile> batch = trashedFromViewer().takeLast();
    QPointer<ViewerPage> self(viewer);
    HandOff::start(trashQueue(), [self, batch] {
        std::vector<RestoreOutcome> outcomes;
        for (const TrashedFile &file : batch)
            outcomes.push_back(Trash::system().restore(file));
        HandOff::invoke(qApp, [self, batch, outcomes] {
            const RestoredBatch restored = restoredBatch(batch, outcomes);
            if (!restored.again.isEmpty())
                trashedFromViewer().append(restored.again);
            if (!self)
                return;
            // A photo's sidecar came along with it and is not a photo to show or count.
            const QStringList photosBack = restored.photosBack();
            if (!photosBack.isEmpty())
                self->open(photosBack.front());
            if (std::count_if(batch.begin(), batch.end(), [](const TrashedFile &f) { return !isSidecar(f.original); }) == 1) {
                show(self, photosBack.isEmpty()
                               ? HandOff::untrashFailed(batch.front().original, restored.firstReason)
                               : HandOff::untrashed(photosBack.front()));
                return;
            }
            self->flash(restored.message(), restored.failed > 0 ? 4.0 : 2.0);
        }, Qt::QueuedConnection);
    });
}

// A desktop entry chosen in a file dialog over the system's applications and
// the user's own. One that cannot be started (its program is not installed)
// is said so on the viewer and changes nothing.
void chooseDesktopEntry(ViewerPage *viewer, const QString &title, std::function<void(const QString &)> chosen)
{
    const QString system = QStringLiteral("/usr/share/applications");
    const QString own = QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
    auto dialog = new QFileDialog(viewer->window(), title, system, QStringLiteral("*.desktop"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    QList<QUrl> places{QUrl::fromLocalFile(system)};
    if (!own.isEmpty() && QFileInfo(own).isDir())
        places << QUrl::fromLocalFile(own);
    dialog->setSidebarUrls(places);
    QPointer<ViewerPage> self(viewer);
    QObject::connect(dialog, &QFileDialog::fileSelected, viewer, [self, chosen](const QString &file) {
        if (Applications::fromDesktopFile(file))
            chosen(file);
        else if (self)
            self->flash(Texts::format("msg.appUnusable", {QFileInfo(file).fileName()}), 4.0);
    });
    dialog->open();
}

void chooseEditor(ViewerPage *viewer, bool openAfter)
{
    QPointer<ViewerPage> self(viewer);
    chooseDesktopEntry(viewer, Texts::text("panel.chooseEditor"), [self, openAfter](const QString &file) {
        if (!self)
            return;
        Settings::setEditorAppPath(file);
        const std::optional<QString> photo = self->currentPhotoPath();
        if (openAfter && photo)
            show(self, HandOff::openWith(file, *photo));
        else
            show(self, HandOff::editorChosen(file));
    });
}

void fillOpenWith(ViewerPage *viewer, QMenu *menu)
{
    menu->clear();
    const std::optional<QString> photo = viewer->currentPhotoPath();
    if (!photo)
        return;
    QPointer<ViewerPage> self(viewer);
    const QString photoPath = *photo;
    const std::optional<QString> editor = Settings::editorAppPath();
    for (const Application &app : Applications::forFile(Editor::editTarget(photoPath))) {
        QAction *action = menu->addAction(app.displayName);
        if (!app.iconName.isEmpty())
            action->setIcon(QFileInfo(app.iconName).isAbsolute() ? QIcon(app.iconName) : QIcon::fromTheme(app.iconName));
        action->setCheckable(editor && *editor == app.desktopFile);
        action->setChecked(action->isCheckable());
        const QString desktopFile = app.desktopFile;
        QObject::connect(action, &QAction::triggered, viewer, [self, desktopFile, photoPath] {
            if (self)
                show(self, HandOff::openWith(desktopFile, photoPath));
        });
    }
    if (!menu->isEmpty())
        menu->addSeparator();
    QAction *other = menu->addAction(Texts::text("menu.openWithOther"));
    QObject::connect(other, &QAction::triggered, viewer, [self, photoPath] {
        if (!self)
            return;
        chooseDesktopEntry(self, Texts::text("menu.openWith"), [self, photoPath](const QString &file) {
            if (self)
                show(self, HandOff::openWith(file, photoPath));
        });
    });
}

} // namespace

void keepTrashUndo(const QVector<TrashedFile> &batch)
{
    if (!batch.isEmpty())
        trashedFromViewer().append(batch);
}

void installViewerHandOffs(ViewerWindowController *window)
{
    ViewerPage *viewer = window->viewerPage();
    QPointer<ViewerPage> self(viewer);
    const auto withPhoto = [self](int) {
        return CommandState{self && self->currentPhotoPath().has_value(), false, {}};
    };

    viewer->editorName = [] { return Editor::editorName().value_or(QString()); };

    // While the photo is still loading (the last one stays on screen meanwhile),
    // the command is there but moves nothing, and says so.
    viewer->commands.on(
        CommandId::trashCurrent,
        [self](int) {
            if (!self)
                return;
            if (!self->currentPhotoPath()) {
                self->flash(Texts::text("msg.trashWhileLoading"), 2.0);
                return;
            }
            trashShownPhoto(self);
        },
        [self](int) { return CommandState{self && self->controller()->folderModel().current().has_value(), false, {}}; });
    viewer->commands.on(
        CommandId::undoTrash, [self](int) { if (self) untrashLastPhoto(self); },
        [](int) { return CommandState{!trashedFromViewer().isEmpty(), false, {}}; });

    viewer->commands.on(
        CommandId::openInEditor,
        [self](int) {
            if (!self)
                return;
            const std::optional<QString> photo = self->currentPhotoPath();
            if (!photo)
                return;
            if (const std::optional<QString> editor = Settings::editorAppPath(); editor && Editor::editorName())
                show(self, HandOff::openWith(*editor, *photo));
            else
                chooseEditor(self, true);
        },
        [self](int) {
            return CommandState{self && self->currentPhotoPath().has_value(), false,
                                Editor::menuTitle(Editor::editorName())};
        });
    viewer->commands.on(CommandId::chooseEditor, [self](int) { if (self) chooseEditor(self, false); });

    // The submenu is filled each time it opens; the command only makes it available.
    viewer->commands.on(CommandId::openWith, [](int) {}, withPhoto);
    window->mainMenu()->fillOpenWith = [self](QMenu *menu) {
        if (self)
            fillOpenWith(self, menu);
    };

    // These act on the shown photo and do nothing while none is shown.
    const auto onShownPhoto = [viewer, self, withPhoto](CommandId id, auto run) {
        viewer->commands.on(
            id,
            [self, run](int) {
                if (const std::optional<QString> photo = self ? self->currentPhotoPath() : std::nullopt)
                    run(*photo);
            },
            withPhoto);
    };
    onShownPhoto(CommandId::setWallpaper, [self](const QString &path) {
        WallpaperService::system().setWallpaper(path, [self, path](std::optional<QString> error) {
            if (self)
                show(self, HandOff::wallpaperAnswer(path, error));
        });
    });
    onShownPhoto(CommandId::copyPhoto, [self](const QString &path) {
        PhotoClipboard::copy(path);
        self->flash(Texts::format("msg.copied", {QFileInfo(path).fileName()}), 2.0);
    });
    onShownPhoto(CommandId::revealInFinder, [self](const QString &path) {
        if (const std::optional<QString> error = Applications::reveal(path))
            show(self, HandOff::revealFailed(*error));
    });
}
